#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/server/SupportServer.h"

namespace terravue::server::testing {

/// The page's own files in the source tree.
inline std::filesystem::path WebFolder() { return std::filesystem::path(TV_SOURCE_DIR) / "Applications/Terravue/web"; }

/// Options for a server on a free port that serves the files in `assets`.
inline SupportServerOptions LocalOptions(const std::filesystem::path& assets = WebFolder()) {
  SupportServerOptions options;
  options.port = 0;
  options.assetFolder = assets;
  return options;
}

/// Form-encodes a value the way the program encodes its request fields.
inline std::string Encode(std::string_view value) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    const bool copied = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        std::string_view("!'()*-./:_~").find(ch) != std::string_view::npos;
    if (copied) {
      out.push_back(ch);
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

struct TestPicture {
  std::string path;
  std::string cache;
  std::string latitude;
  std::string longitude;
  std::string time = "2024/05/01 10:20";
  int cx = 160;
  int cy = 120;
};

/// A body as the program builds it for these pictures.
inline std::string MapBody(const std::vector<TestPicture>& pictures, int select, std::string_view lang = "ENU",
                           std::string_view base = "/home/user/Documents/Terravue/") {
  std::string body = "format_version=1.1&client_name=Terravue&client_version=1.1.01.08140&lang=" + Encode(lang) +
                     "&map_zoom=9&map_latitude=N:35:37:32.828&map_longitude=E:139:44:31.338&base=" + Encode(base);
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const std::string k = std::to_string(i + 1);
    const TestPicture& p = pictures[i];
    body += "&pic_path" + k + "=" + Encode(p.path) + "&pic_cache" + k + "=" + Encode(p.cache) + "&pic_latitude" + k +
            "=" + Encode(p.latitude) + "&pic_longitude" + k + "=" + Encode(p.longitude) + "&pic_time" + k + "=" +
            Encode(p.time) + "&pic_cx" + k + "=" + std::to_string(p.cx) + "&pic_cy" + k + "=" + std::to_string(p.cy);
  }
  body += "&select=" + std::to_string(select);
  return body;
}

inline std::vector<TestPicture> ThreePictures() {
  return {
      {"/home/user/Pictures/tokyo.jpg", "cache_0.jpg", "N:35:37:32.828", "E:139:44:31.338"},
      {"/home/user/Pictures/osaka.jpg", "cache_1.jpg", "N:34:41:37.000", "E:135:30:08.000"},
      {"/home/user/Pictures/unknown.jpg", "cache_2.jpg", "X:99:99:99.999", "X:999:99:99.999"},
  };
}

}  // namespace terravue::server::testing
