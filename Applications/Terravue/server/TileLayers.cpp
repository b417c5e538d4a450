#include "Applications/Terravue/server/TileLayers.h"

#include <charconv>

#include "xp/base/XpFileRead.h"
#include "xp/text/XpUtf8.h"

namespace terravue::server {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return true;
    }
  }
  return false;
}

bool ValidUrl(std::string_view url) {
  const bool remote = url.starts_with("https://") || url.starts_with("http://");
  const bool local = url.starts_with("/") && !url.starts_with("//");
  if (!remote && !local) {
    return false;
  }
  // Characters that would end the attribute or the script text the page builds from it never
  // belong in a tile address.
  if (url.find_first_of("\"'<>\\ `") != std::string_view::npos) {
    return false;
  }
  return url.find("{z}") != std::string_view::npos && url.find("{x}") != std::string_view::npos &&
         url.find("{y}") != std::string_view::npos;
}

class Reader {
 public:
  explicit Reader(std::string_view fileName) : m_fileName(fileName) {}

  TileLayerList Read(std::string_view text) {
    if (text.size() > kMaxTileLayerFileBytes) {
      return Fail(0, "the file is larger than 64 KB");
    }
    if (!XpIsValidUtf8(text)) {
      return Fail(0, "the file is not UTF-8 text");
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
      text.remove_prefix(3);
    }
    std::size_t lineNumber = 0;
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      const std::string_view line = Trim(text.substr(0, end));
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      ++lineNumber;
      if (line.empty() || line.front() == '#' || line.front() == ';') {
        continue;
      }
      if (HasControlCharacter(line)) {
        return Fail(lineNumber, "a control character");
      }
      if (line.front() == '[') {
        if (!FinishLayer(lineNumber)) {
          return m_failure;
        }
        if (line.back() != ']') {
          return Fail(lineNumber, "a layer name must end with \"]\"");
        }
        const std::string_view name = Trim(line.substr(1, line.size() - 2));
        if (name.empty() || name.size() > 64) {
          return Fail(lineNumber, "a layer name must have 1 to 64 characters");
        }
        for (const TileLayer& layer : m_layers) {
          if (layer.name == name) {
            return Fail(lineNumber, "the layer name is used twice");
          }
        }
        if (m_layers.size() == kMaxTileLayers) {
          return Fail(lineNumber, "more than 32 layers");
        }
        m_open = true;
        m_current = TileLayer{};
        m_current.name = std::string(name);
        m_currentLine = lineNumber;
        continue;
      }
      const std::size_t equals = line.find('=');
      if (equals == std::string_view::npos) {
        return Fail(lineNumber, "expected \"[name]\" or \"key = value\"");
      }
      if (!m_open) {
        return Fail(lineNumber, "a value before the first \"[name]\"");
      }
      const std::string_view key = Trim(line.substr(0, equals));
      const std::string_view value = Trim(line.substr(equals + 1));
      if (value.size() > kMaxTileLayerValueBytes) {
        return Fail(lineNumber, "the value is longer than 2048 bytes");
      }
      if (!Take(key, value, lineNumber)) {
        return m_failure;
      }
    }
    if (!FinishLayer(lineNumber)) {
      return m_failure;
    }
    if (m_layers.empty()) {
      return Fail(0, "the file names no layer");
    }
    return TileLayerList{std::move(m_layers), {}};
  }

 private:
  bool Take(std::string_view key, std::string_view value, std::size_t lineNumber) {
    if (key == "url") {
      if (!ValidUrl(value)) {
        Fail(lineNumber, "the url must start with https://, http:// or / and hold {z}, {x} and {y}");
        return false;
      }
      m_current.url = std::string(value);
    } else if (key == "attribution") {
      m_current.attribution = std::string(value);
    } else if (key == "max_zoom") {
      int zoom = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), zoom);
      if (error != std::errc() || end != value.data() + value.size() || zoom < 1 || zoom > 22) {
        Fail(lineNumber, "max_zoom must be a whole number from 1 to 22");
        return false;
      }
      m_current.maxZoom = zoom;
    } else if (key == "referer") {
      if (value != "yes" && value != "no") {
        Fail(lineNumber, "referer must be yes or no");
        return false;
      }
      m_current.referer = value == "yes";
    } else {
      Fail(lineNumber, "unknown key \"" + std::string(key.substr(0, 32)) + "\"");
      return false;
    }
    return true;
  }

  bool FinishLayer(std::size_t lineNumber) {
    if (!m_open) {
      return true;
    }
    if (m_current.url.empty()) {
      Fail(m_currentLine != 0 ? m_currentLine : lineNumber, "the layer has no url");
      return false;
    }
    m_layers.push_back(std::move(m_current));
    m_open = false;
    return true;
  }

  TileLayerList Fail(std::size_t lineNumber, const std::string& why) {
    std::string problem(m_fileName);
    if (lineNumber != 0) {
      problem += " line " + std::to_string(lineNumber);
    }
    problem += ": " + why + "; the standard map is shown";
    m_failure = TileLayerList{DefaultTileLayers(), problem};
    return m_failure;
  }

  std::string_view m_fileName;
  std::vector<TileLayer> m_layers;
  TileLayer m_current;
  std::size_t m_currentLine = 0;
  bool m_open = false;
  TileLayerList m_failure;
};

}  // namespace

std::vector<TileLayer> DefaultTileLayers() {
  return {TileLayer{"OpenStreetMap", "https://tile.openstreetmap.org/{z}/{x}/{y}.png",
                    "\xC2\xA9 OpenStreetMap contributors", 19, true}};
}

TileLayerList ParseTileLayers(std::string_view text, std::string_view fileName) { return Reader(fileName).Read(text); }

TileLayerList LoadTileLayers(const std::filesystem::path& file) {
  const std::string name = file.filename().string();
  std::string text;
  // Too large reads as out of memory, as for the other settings files.
  const XpStatus st =
      XpReadWholeFile(file.string(), kMaxTileLayerFileBytes, &text, XpStatus::OutOfMemory, XpLinks::Refuse);
  if (st == XpStatus::FileNotFound || st == XpStatus::PathNotFound) {
    return TileLayerList{DefaultTileLayers(), {}};
  }
  if (st != XpStatus::Ok) {
    const std::string why = st == XpStatus::OutOfMemory    ? "the file is larger than 64 KB"
                            : st == XpStatus::FileInvalid  ? "not a regular file"
                            : st == XpStatus::AccessDenied ? "permission denied"
                                                           : "can't be read (" + XpStatusText(st) + ")";
    return TileLayerList{DefaultTileLayers(), name + ": " + why + "; the standard map is shown"};
  }
  return ParseTileLayers(text, name);
}

}  // namespace terravue::server
