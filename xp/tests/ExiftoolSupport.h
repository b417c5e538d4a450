#pragma once

// Reading photos with exiftool for tests: every tag of every group as text,
// binary values by their bytes, and the differences between two readings.

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "xp/tests/TiffTestSupport.h"

namespace exiftool_test {

inline std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return output;
  }
  std::array<char, 65536> buffer{};
  std::size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    output.append(buffer.data(), got);
  }
  ::pclose(pipe);
  return output;
}

inline bool HaveTool(const char* name) {
  return !RunCommand(std::string("command -v ") + name + " 2>/dev/null").empty();
}

// A binary value (exiftool's "base64:" text) stands for its bytes, compared
// by a digest and its length; everything else by its text.
inline std::string Flatten(const tifftest::Json& value) {
  switch (value.kind) {
    case tifftest::Json::Kind::Null:
      return "null";
    case tifftest::Json::Kind::Bool:
      return value.boolean ? "true" : "false";
    case tifftest::Json::Kind::Number:
      return value.text;
    case tifftest::Json::Kind::String:
      if (value.text.starts_with("base64:")) {
        return "bytes:" + std::to_string(std::hash<std::string>{}(value.text)) + "/" +
               std::to_string(value.text.size());
      }
      return value.text;
    case tifftest::Json::Kind::Array: {
      std::string out = "[";
      for (const auto& item : value.items) {
        out += Flatten(item) + ",";
      }
      return out + "]";
    }
    case tifftest::Json::Kind::Object: {
      std::string out = "{";
      for (const auto& [key, member] : value.members) {
        out += key + ":" + Flatten(member) + ",";
      }
      return out + "}";
    }
  }
  return {};
}

using TagMap = std::map<std::string, std::string>;

// Every file's "Group:Tag" -> value in every group, duplicates and unknown
// tags included, maker notes decoded, binary values whole; read by exiftool
// in one run over the folder.
/// `pattern` is a shell word of file names in `folder` ("*.jpg").
inline std::map<std::string, TagMap> ReadWithExiftool(const std::string& folder, const std::string& pattern) {
  const std::string text =
      RunCommand("cd '" + folder + "' && exiftool -j -a -u -U -b -G1 -n -q -q " + pattern + " 2>/dev/null");
  std::map<std::string, TagMap> files;
  const auto json = tifftest::JsonReader(text).Parse();
  if (!json) {
    return files;
  }
  for (const auto& item : json->items) {
    TagMap tags;
    for (const auto& [key, value] : item.members) {
      tags[key] = Flatten(value);
    }
    files[item["SourceFile"].text] = std::move(tags);
  }
  return files;
}

inline std::vector<std::string> Differences(const TagMap& before, const TagMap& after,
                                            const std::function<bool(const std::string&)>& allowed) {
  std::vector<std::string> out;
  for (const auto& [key, value] : before) {
    if (allowed(key)) {
      continue;
    }
    auto it = after.find(key);
    if (it == after.end()) {
      out.push_back("lost " + key + "=" + value.substr(0, 60));
    } else if (it->second != value) {
      out.push_back("changed " + key + ": " + value.substr(0, 60) + " -> " + it->second.substr(0, 60));
    }
  }
  for (const auto& [key, value] : after) {
    if (!allowed(key) && before.count(key) == 0) {
      out.push_back("gained " + key + "=" + value.substr(0, 60));
    }
  }
  return out;
}

// File positions of embedded images, which move with the segments before
// them; the images' bytes are compared on their own.
inline bool IsFilePosition(const std::string& key) {
  return key.ends_with(":ThumbnailOffset") || key.ends_with(":StripOffsets") || key.ends_with(":PreviewImageStart") ||
         key.ends_with(":MPImageStart");
}

// The one list of differences writing place names may make: the location
// properties of XMP and IIM, the IIM digest that follows them, and what
// describes the file rather than its metadata.
inline bool ChangedByNaming(const std::string& key) {
  static const std::set<std::string> kTags = {"SourceFile",
                                              "XMP-photoshop:City",
                                              "XMP-photoshop:State",
                                              "XMP-photoshop:Country",
                                              "XMP-iptcCore:CountryCode",
                                              "IPTC:City",
                                              "IPTC:Province-State",
                                              "IPTC:Country-PrimaryLocationCode",
                                              "IPTC:Country-PrimaryLocationName",
                                              "Photoshop:IPTCDigest",
                                              "XMP-iptcExt:LocationCreatedCity",
                                              "XMP-iptcExt:LocationCreatedProvinceState",
                                              "XMP-iptcExt:LocationCreatedCountryName",
                                              "XMP-iptcExt:LocationCreatedCountryCode"};
  static const std::vector<std::string> kGroups = {"System:", "File:", "ExifTool:", "Composite:"};
  return kTags.count(key) != 0 || IsFilePosition(key) ||
         std::any_of(kGroups.begin(), kGroups.end(), [&](const std::string& g) { return key.starts_with(g); });
}

}  // namespace exiftool_test
