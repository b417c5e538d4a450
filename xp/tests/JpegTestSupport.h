#pragma once

// Helpers of the JPEG tests: small JPEG files made in memory with chosen
// markers, Exif blocks made from a tag tree, and reading PNM output of djpeg.

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "xp/image/XpJpegLib.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpPixmap.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"

namespace jpegtest {

struct Marker {
  int code;
  std::vector<std::uint8_t> payload;
};

struct JpegSpec {
  int width = 64;
  int height = 48;
  bool progressive = false;
  bool grey = false;
  int quality = 90;
  std::vector<Marker> markers;
  /// Pixel (x, y) as R, G, B; a position pattern by default.
  std::function<std::array<std::uint8_t, 3>(int, int)> pixel;
};

inline std::array<std::uint8_t, 3> DefaultPixel(int x, int y) {
  return {static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 4), static_cast<std::uint8_t>((x + y) * 2)};
}

/// Encodes a JPEG with libjpeg directly (not through the code under test).
inline std::vector<std::uint8_t> MakeJpeg(const JpegSpec& params) {
  XpMemoryFile out;
  const XpStatus st = JpegRun(XpStatus::JpegEncodeFailed, [&] {
    JpegCompressor c;
    c.SetDestination(out);
    c->image_width = static_cast<JDIMENSION>(params.width);
    c->image_height = static_cast<JDIMENSION>(params.height);
    c->input_components = params.grey ? 1 : 3;
    c->in_color_space = params.grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(c.Get());
    jpeg_set_quality(c.Get(), params.quality, TRUE);
    if (params.progressive) {
      jpeg_simple_progression(c.Get());
    }
    jpeg_start_compress(c.Get(), TRUE);
    for (const Marker& m : params.markers) {
      jpeg_write_marker(c.Get(), m.code, m.payload.data(), static_cast<unsigned>(m.payload.size()));
    }
    std::vector<JSAMPLE> row(static_cast<std::size_t>(params.width) * (params.grey ? 1 : 3));
    for (int y = 0; y < params.height; ++y) {
      for (int x = 0; x < params.width; ++x) {
        const auto p = params.pixel ? params.pixel(x, y) : DefaultPixel(x, y);
        if (params.grey) {
          row[static_cast<std::size_t>(x)] = p[0];
        } else {
          for (int c3 = 0; c3 < 3; ++c3) {
            row[static_cast<std::size_t>(x) * 3 + static_cast<std::size_t>(c3)] = p[static_cast<std::size_t>(c3)];
          }
        }
      }
      JSAMPROW rows[1] = {row.data()};
      jpeg_write_scanlines(c.Get(), rows, 1);
    }
    jpeg_finish_compress(c.Get());
    return XpStatus::Ok;
  });
  if (st != XpStatus::Ok) {
    return {};
  }
  return out.TakeBytes();
}

/// An Exif APP1 payload ("Exif", two NULs, TIFF data) made from `tree`.
inline std::vector<std::uint8_t> ExifPayload(XpTiffTagManager& tree) {
  XpMemoryFile out;
  const std::uint8_t header[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (out.WriteAll(header, 6) != XpStatus::Ok || tree.Store(out) == 0) {
    return {};
  }
  return out.TakeBytes();
}

/// An Exif payload whose IFD0 holds an orientation and, with `colourSpace`,
/// an Exif directory with that ColorSpace.
inline std::vector<std::uint8_t> ExifWithOrientation(std::uint16_t orientation, std::uint16_t colourSpace = 0,
                                                     bool bigEndian = false) {
  XpTiffTagManager tree;
  tree.Create();
  tree.SetBigEndian(bigEndian);
  XpTiffTagIFD* ifd0 = tree.AddIFD();
  (void)ifd0->SetShort(0x0112, orientation);
  (void)ifd0->SetAscii(0x010F, "Maker");
  if (colourSpace != 0) {
    auto entry = XpCreateTiffTagDataIFD(0x8769, 1);
    XpTiffTagIFD* exif = entry->AddChild(std::make_unique<XpTiffTagIFD>());
    (void)exif->SetShort(0xA001, colourSpace);
    ifd0->AddEntry(std::move(entry));
  }
  return ExifPayload(tree);
}

/// Runs a command and answers its standard output, or nothing when it could
/// not run or exited with a status other than 0 or `alsoAccepted`.
inline std::optional<std::vector<std::uint8_t>> RunCommand(const std::string& command, int alsoAccepted = 0) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> out;
  std::uint8_t buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe.get())) > 0) {
    out.insert(out.end(), buffer, buffer + n);
  }
  const int status = ::pclose(pipe.release());
  if (status == -1 || !WIFEXITED(status) ||
      (WEXITSTATUS(status) != 0 && (alsoAccepted == 0 || WEXITSTATUS(status) != alsoAccepted))) {
    return std::nullopt;
  }
  return out;
}

/// An image read from PPM (P6) or PGM (P5) bytes as R, G, B triples.
struct Pnm {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

inline std::optional<Pnm> ParsePnm(const std::vector<std::uint8_t>& bytes) {
  std::size_t pos = 0;
  auto token = [&]() -> std::string {
    while (pos < bytes.size() && (std::isspace(bytes[pos]) != 0 || bytes[pos] == '#')) {
      if (bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') {
          ++pos;
        }
      } else {
        ++pos;
      }
    }
    std::string t;
    while (pos < bytes.size() && std::isspace(bytes[pos]) == 0) {
      t.push_back(static_cast<char>(bytes[pos++]));
    }
    return t;
  };
  const std::string magic = token();
  if (magic != "P6" && magic != "P5") {
    return std::nullopt;
  }
  Pnm pnm;
  pnm.width = std::stoi(token());
  pnm.height = std::stoi(token());
  if (std::stoi(token()) != 255) {
    return std::nullopt;
  }
  ++pos;  // the single whitespace before the samples
  const std::size_t samples = static_cast<std::size_t>(pnm.width) * static_cast<std::size_t>(pnm.height);
  const std::size_t perPixel = magic == "P6" ? 3 : 1;
  if (bytes.size() < pos + samples * perPixel) {
    return std::nullopt;
  }
  pnm.rgb.resize(samples * 3);
  const std::uint8_t* src = bytes.data() + pos;
  if (perPixel == 3) {
    std::copy(src, src + samples * 3, pnm.rgb.begin());
  } else {
    for (std::size_t i = 0; i < samples; ++i) {
      pnm.rgb[i * 3] = pnm.rgb[i * 3 + 1] = pnm.rgb[i * 3 + 2] = src[i];
    }
  }
  return pnm;
}

}  // namespace jpegtest
