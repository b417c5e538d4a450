#pragma once

// Helpers shared by the rewrite tests: reading files, walking JPEG segments,
// comparing quantisation tables and DCT coefficients through libjpeg, and
// making small JPEG files with chosen marker segments.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "xp/image/XpJpegLib.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tiff/XpGPSRecord.h"

namespace rewrite_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string TestDataPath(const std::string& name) { return std::string(TV_TESTDATA_DIR) + "/camera/" + name; }

/// A folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tv-rewrite-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) {
      m_path = tmpl;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::string& Path() const { return m_path; }
  [[nodiscard]] std::string File(const std::string& name) const { return m_path + "/" + name; }
  /// Names of the folder's entries, sorted.
  [[nodiscard]] std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string m_path;
};

/// One marker segment before the first scan.
struct Segment {
  std::uint8_t marker = 0;
  Bytes payload;
  bool operator==(const Segment&) const = default;
};

/// The APPn and COM segments between SOI and the first SOS, in file order.
/// Stops quietly at anything malformed.
inline std::vector<Segment> AppAndComSegments(const Bytes& file) {
  std::vector<Segment> out;
  if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) {
    return out;
  }
  std::size_t pos = 2;
  while (pos + 4 <= file.size()) {
    if (file[pos] != 0xFF) {
      break;
    }
    const std::uint8_t marker = file[pos + 1];
    if (marker == 0xFF) {
      ++pos;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) {
      break;
    }
    const std::size_t length = (std::size_t{file[pos + 2]} << 8) | file[pos + 3];
    if (length < 2 || pos + 2 + length > file.size()) {
      break;
    }
    if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) {
      out.push_back({marker, Bytes(file.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                                   file.begin() + static_cast<std::ptrdiff_t>(pos + 2 + length))});
    }
    pos += 2 + length;
  }
  return out;
}

inline bool StartsWith(const Bytes& payload, std::string_view prefix) {
  return payload.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), payload.begin());
}

/// What the lossless copy must keep: frame, tables and every DCT coefficient.
struct CoefficientImage {
  bool ok = false;
  unsigned width = 0;
  unsigned height = 0;
  int components = 0;
  std::vector<int> sampling;                      // h, v per component
  std::vector<std::vector<std::uint16_t>> quant;  // the table used by each component
  std::vector<std::vector<JCOEF>> coefficients;   // per component, the used blocks row by row
  bool operator==(const CoefficientImage&) const = default;
};

/// Runs `body` on a decompressor of `file` whose header has been read, inside
/// JpegRun; a header that does not read gives JpegDecodeFailed.
template <class Body>
XpStatus WithDecompressor(const Bytes& file, Body body) {
  XpMemoryFile stream{std::span<const std::uint8_t>(file)};
  return JpegRun(XpStatus::JpegDecodeFailed, [&]() {
    JpegDecompressor dec;
    dec.SetSource(stream);
    if (jpeg_read_header(dec.Get(), TRUE) != JPEG_HEADER_OK) {
      return XpStatus::JpegDecodeFailed;
    }
    return body(dec);
  });
}

inline CoefficientImage ReadCoefficients(const Bytes& file) {
  CoefficientImage image;
  const XpStatus st = WithDecompressor(file, [&](JpegDecompressor& dec) {
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(dec.Get());
    image.width = dec->image_width;
    image.height = dec->image_height;
    image.components = dec->num_components;
    for (int ci = 0; ci < dec->num_components; ++ci) {
      jpeg_component_info& comp = dec->comp_info[ci];
      image.sampling.push_back(comp.h_samp_factor);
      image.sampling.push_back(comp.v_samp_factor);
      std::vector<std::uint16_t> table;
      if (comp.quant_table != nullptr) {
        table.assign(std::begin(comp.quant_table->quantval), std::end(comp.quant_table->quantval));
      }
      image.quant.push_back(std::move(table));
      std::vector<JCOEF> coefs;
      for (JDIMENSION row = 0; row < comp.height_in_blocks; ++row) {
        JBLOCKARRAY blocks =
            (*dec->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(dec.Get()), arrays[ci], row, 1, FALSE);
        for (JDIMENSION col = 0; col < comp.width_in_blocks; ++col) {
          coefs.insert(coefs.end(), std::begin(blocks[0][col]), std::end(blocks[0][col]));
        }
      }
      image.coefficients.push_back(std::move(coefs));
    }
    jpeg_finish_decompress(dec.Get());
    return XpStatus::Ok;
  });
  image.ok = st == XpStatus::Ok;
  return image;
}

/// Decodes to RGB (or grey) samples at full size; empty on failure.
inline Bytes DecodePixels(const Bytes& file) {
  Bytes pixels;
  const XpStatus st = WithDecompressor(file, [&](JpegDecompressor& dec) {
    dec->dct_method = JDCT_ISLOW;
    jpeg_start_decompress(dec.Get());
    const std::size_t stride = std::size_t{dec->output_width} * static_cast<std::size_t>(dec->output_components);
    pixels.resize(stride * dec->output_height);
    while (dec->output_scanline < dec->output_height) {
      JSAMPROW row = pixels.data() + stride * dec->output_scanline;
      if (jpeg_read_scanlines(dec.Get(), &row, 1) != 1) {
        return XpStatus::JpegDecodeFailed;
      }
    }
    jpeg_finish_decompress(dec.Get());
    return XpStatus::Ok;
  });
  if (st != XpStatus::Ok) {
    pixels.clear();
  }
  return pixels;
}

/// A small colourful baseline JPEG with the given segments after SOI (and the
/// JFIF header when `jfif` is set).
inline Bytes MakeJpeg(unsigned width, unsigned height, const std::vector<Segment>& segments, bool jfif = true,
                      int components = 3) {
  XpMemoryFile out;
  const XpStatus st = JpegRun(XpStatus::JpegEncodeFailed, [&]() {
    JpegCompressor enc;
    enc.SetDestination(out);
    enc->image_width = width;
    enc->image_height = height;
    enc->input_components = components;
    enc->in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(enc.Get());
    jpeg_set_quality(enc.Get(), 85, TRUE);
    enc->write_JFIF_header = jfif ? TRUE : FALSE;
    jpeg_start_compress(enc.Get(), TRUE);
    for (const Segment& seg : segments) {
      jpeg_write_marker(enc.Get(), seg.marker, seg.payload.data(), static_cast<unsigned>(seg.payload.size()));
    }
    Bytes row(std::size_t{width} * static_cast<std::size_t>(components));
    while (enc->next_scanline < height) {
      const unsigned y = enc->next_scanline;
      for (unsigned x = 0; x < width; ++x) {
        for (int c = 0; c < components; ++c) {
          row[x * static_cast<unsigned>(components) + static_cast<unsigned>(c)] =
              static_cast<std::uint8_t>((x * 7 + y * 3 + static_cast<unsigned>(c) * 60 + (x ^ y)) & 0xFF);
        }
      }
      JSAMPROW rows[1] = {row.data()};
      jpeg_write_scanlines(enc.Get(), rows, 1);
    }
    jpeg_finish_compress(enc.Get());
    return XpStatus::Ok;
  });
  if (st != XpStatus::Ok) {
    return {};
  }
  return out.TakeBytes();
}

inline Segment MakeSegment(std::uint8_t marker, std::string_view text, std::size_t padTo = 0) {
  Segment seg{marker, Bytes(text.begin(), text.end())};
  while (seg.payload.size() < padTo) {
    seg.payload.push_back(static_cast<std::uint8_t>(seg.payload.size() * 13));
  }
  return seg;
}

inline mode_t FileMode(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return 0;
  }
  return info.st_mode & 07777;
}

/// One coordinate as a rewrite stores it: whole degrees and minutes, and the
/// seconds as a fraction.
struct Dms {
  std::uint32_t degrees = 0;
  std::uint32_t minutes = 0;
  std::uint32_t seconds = 0;
  std::uint32_t secondsDenominator = 1000;
};

/// Sets one coordinate and its reference letter.
inline void SetCoordinate(XpGPSRef& ref, XpGPSRational3& value, char16_t letter, Dms dms) {
  ref = {};
  ref.valid = 1;
  ref.letter = letter;
  value = {};
  value.valid = 1;
  value.numerators = {dms.degrees, dms.minutes, dms.seconds};
  value.denominators = {1, 1, dms.secondsDenominator};
}

/// Sets the latitude and longitude of `record`, each with its reference
/// letter; every other member stays as it is.
inline void SetPosition(XpGPSRecord& record, char16_t latitudeRef, Dms latitude, char16_t longitudeRef, Dms longitude) {
  SetCoordinate(record.latitudeRef, record.latitude, latitudeRef, latitude);
  SetCoordinate(record.longitudeRef, record.longitude, longitudeRef, longitude);
}

/// Sets one rational value and marks it valid.
inline void SetRational(XpGPSRational& value, std::uint32_t numerator, std::uint32_t denominator) {
  value = {};
  value.valid = 1;
  value.numerator = numerator;
  value.denominator = denominator;
}

/// Sets the altitude of `record`, numerator / denominator metres, below sea
/// level when `below` (the reference byte 1), else above it (0).
inline void SetAltitude(XpGPSRecord& record, bool below, std::uint32_t numerator, std::uint32_t denominator) {
  record.altitudeRef = {};
  record.altitudeRef.valid = 1;
  record.altitudeRef.letter = below ? 1 : 0;
  SetRational(record.altitude, numerator, denominator);
}

/// A record holding only a latitude and a longitude.
inline XpGPSRecord PositionRecord(char16_t latitudeRef, Dms latitude, char16_t longitudeRef, Dms longitude) {
  XpGPSRecord record;
  SetPosition(record, latitudeRef, latitude, longitudeRef, longitude);
  return record;
}

}  // namespace rewrite_test
