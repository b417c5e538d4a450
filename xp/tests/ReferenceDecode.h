#pragma once

// Pictures decoded by an independent tool (ImageMagick's convert) as a
// reference for this program's decoders, and the difference between the two.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "xp/image/XpPixmap.h"

namespace reference_decode {

/// Eight-bit RGB pixels, top row first.
struct Rgb {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

/// The first picture of `path` as convert decodes it, laid over white, in
/// stored order (`autoOrient` turns it by its Exif orientation first). Empty
/// when convert is missing or fails.
inline Rgb Decode(const std::string& path, bool autoOrient = false) {
  Rgb out;
  std::string quoted = "'";
  for (char c : path) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  quoted += "[0]'";
  const std::string command = "convert " + quoted + (autoOrient ? " -auto-orient" : "") +
                              " -background white -alpha remove -alpha off -depth 8 ppm:- 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return out;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  ::pclose(pipe);
  // P6, width, height, maximum value, each after white space (and comments), then one byte of it.
  std::size_t at = 0;
  const auto number = [&bytes, &at]() {
    while (at < bytes.size()) {
      if (bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') {
          ++at;
        }
      } else if (bytes[at] == ' ' || bytes[at] == '\n' || bytes[at] == '\r' || bytes[at] == '\t') {
        ++at;
      } else {
        break;
      }
    }
    long value = 0;
    bool any = false;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9' && value < 1000000) {
      value = value * 10 + (bytes[at++] - '0');
      any = true;
    }
    return any ? value : -1L;
  };
  if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') {
    return out;
  }
  at = 2;
  const long width = number();
  const long height = number();
  const long maximum = number();
  if (width <= 0 || height <= 0 || maximum != 255 || at >= bytes.size()) {
    return out;
  }
  ++at;
  const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
  if (bytes.size() - at != size) {
    return out;
  }
  out.width = static_cast<int>(width);
  out.height = static_cast<int>(height);
  out.pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
  return out;
}

/// The mean absolute difference per component between a BGR pixmap and an
/// RGB reference of the same size; a large number for different sizes.
inline double MeanAbsoluteDifference(const XpPixmapBase& pixmap, const Rgb& reference) {
  if (pixmap.Width() != reference.width || pixmap.Height() != reference.height || reference.pixels.empty()) {
    return 1e9;
  }
  double sum = 0;
  for (int y = 0; y < reference.height; ++y) {
    const std::uint8_t* ours = pixmap.Row(y);
    const std::uint8_t* theirs = reference.pixels.data() + static_cast<std::size_t>(y) * reference.width * 3;
    for (int x = 0; x < reference.width; ++x, ours += 3, theirs += 3) {
      sum += std::abs(int{ours[0]} - int{theirs[2]}) + std::abs(int{ours[1]} - int{theirs[1]}) +
             std::abs(int{ours[2]} - int{theirs[0]});
    }
  }
  return sum / (3.0 * reference.width * reference.height);
}

}  // namespace reference_decode
