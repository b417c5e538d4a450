#include "xp/base/XpSpecialFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "xp/base/XpFileRead.h"
#include "xp/base/XpPath.h"

namespace {

// user-dirs.dirs is a few hundred bytes; anything past this is not read.
constexpr std::size_t kMaxUserDirsBytes = 64 * 1024;
constexpr std::size_t kMaxProgramPath = 64 * 1024;
constexpr std::size_t kMaxPasswordEntry = 64 * 1024;

struct UserDir {
  std::string_view key;
  std::string_view fallback;
};

// Indexed by kind - 1 for the kinds 1 to 5.
constexpr std::array<UserDir, 5> kUserDirs = {{
    {"XDG_PICTURES_DIR", "Pictures"},
    {"XDG_VIDEOS_DIR", "Videos"},
    {"XDG_MUSIC_DIR", "Music"},
    {"XDG_DOCUMENTS_DIR", "Documents"},
    {"XDG_DESKTOP_DIR", "Desktop"},
}};

std::string StripTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == kXpPathSeparator) {
    path.pop_back();
  }
  return path;
}

// An environment value that names an absolute folder; relative values are
// ignored, as the base-directory rules ask.
std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !XpIsAbsolutePath(value)) {
    return {};
  }
  return StripTrailingSeparators(value);
}

std::string HomeFolder() {
  if (std::string home = AbsoluteEnv("HOME"); !home.empty()) {
    return home;
  }
  long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::size_t size = hint > 0 ? static_cast<std::size_t>(hint) : 4096;
  for (; size <= kMaxPasswordEntry; size *= 2) {
    std::vector<char> buffer(size);
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE) {
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_dir == nullptr || !XpIsAbsolutePath(found->pw_dir)) {
      return {};
    }
    return StripTrailingSeparators(found->pw_dir);
  }
  return {};
}

// Reads at most kMaxUserDirsBytes of a regular file; empty when it can't.
std::string ReadSmallFile(const std::string& path) {
  XpUniqueFd fd;
  if (XpOpenRegularFile(path, &fd) != XpStatus::Ok) {
    return {};
  }
  std::string text(kMaxUserDirsBytes, '\0');
  const ssize_t got = XpReadFully(fd.Get(), text.data(), text.size());
  text.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  if (text.size() == kMaxUserDirsBytes) {
    // Cut inside a line: keep only whole lines.
    const auto lastLine = text.rfind('\n');
    text.resize(lastLine == std::string::npos ? 0 : lastLine + 1);
  }
  return text;
}

// The quoted value after KEY=, with backslash escapes removed; false when the
// line is not of that form.
bool ReadQuotedValue(std::string_view rest, std::string* value) {
  if (rest.empty() || rest.front() != '"') {
    return false;
  }
  value->clear();
  for (std::size_t i = 1; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == '"') {
      return true;
    }
    if (c == '\\') {
      if (++i == rest.size()) {
        return false;
      }
      value->push_back(rest[i]);
      continue;
    }
    value->push_back(c);
  }
  return false;  // no closing quote
}

std::string ProgramPath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) {
      return {};
    }
    if (static_cast<std::size_t>(n) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
    if (buffer.size() >= kMaxProgramPath) {
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string UserDirFolder(const UserDir& dir) {
  const std::string home = HomeFolder();
  std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
  if (config.empty() && !home.empty()) {
    config = home + "/.config";
  }
  if (!config.empty()) {
    const std::string text = ReadSmallFile(config + "/user-dirs.dirs");
    if (std::string folder = XpParseUserDirsEntry(text, dir.key, home); !folder.empty()) {
      return folder;
    }
  }
  if (home.empty()) {
    return {};
  }
  return XpJoinPath(home, dir.fallback);
}

}  // namespace

std::string XpParseUserDirsEntry(std::string_view text, std::string_view key, std::string_view home) {
  std::string result;
  std::string value;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      line.remove_prefix(1);
    }
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=') {
      continue;
    }
    if (!ReadQuotedValue(line.substr(key.size() + 1), &value) || value.find('\0') != std::string::npos) {
      continue;
    }
    constexpr std::string_view kHome = "$HOME";
    if (value.compare(0, kHome.size(), kHome) == 0) {
      const std::string_view after = std::string_view(value).substr(kHome.size());
      if (home.empty() || (!after.empty() && after.front() != kXpPathSeparator)) {
        continue;
      }
      result = StripTrailingSeparators(std::string(home) + std::string(after));
    } else if (XpIsAbsolutePath(value)) {
      result = StripTrailingSeparators(value);
    }
  }
  return result;
}

std::string XpGetSpecialFolder(XpSpecialFolder kind) { return XpGetSpecialFolder(static_cast<int>(kind)); }

std::string XpGetSpecialFolder(int kind) {
  switch (static_cast<XpSpecialFolder>(kind)) {
    case XpSpecialFolder::Temp: {
      std::string temp = AbsoluteEnv("TMPDIR");
      return temp.empty() ? std::string("/tmp") : temp;
    }
    case XpSpecialFolder::Pictures:
    case XpSpecialFolder::Videos:
    case XpSpecialFolder::Music:
    case XpSpecialFolder::Documents:
    case XpSpecialFolder::Desktop:
      return UserDirFolder(kUserDirs[static_cast<std::size_t>(kind - 1)]);
    case XpSpecialFolder::SharedPictures:
    case XpSpecialFolder::SharedVideos:
    case XpSpecialFolder::SharedMusic:
    case XpSpecialFolder::SharedDocuments:
      return {};
    case XpSpecialFolder::AppData: {
      if (std::string data = AbsoluteEnv("XDG_DATA_HOME"); !data.empty()) {
        return data;
      }
      const std::string home = HomeFolder();
      return home.empty() ? std::string() : home + "/.local/share";
    }
    case XpSpecialFolder::ProgramFolder: {
      const std::string path = ProgramPath();
      return path.empty() ? std::string() : XpStripTrailingBackslash(XpGetParent(path));
    }
    case XpSpecialFolder::ProgramPath:
      return ProgramPath();
    case XpSpecialFolder::Profile:
      return HomeFolder();
  }
  return {};
}
