// terravue-tool make-photos: makes sample photos for demos, benchmarks and
// end-to-end tests. Each is a baseline JPEG with camera-like Exif data (made
// and stored by the project's own tag tree code), a capture time, and a GPS
// position written with the same rewrite that writing positions back uses.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <optional>
#include <vector>

#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpJpegLib.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tiff/XpTiffTagDataIFD.h"
#include "xp/tiff/XpTiffTagIFD.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

struct MakePhotosOptions {
  unsigned width = 1600;
  unsigned height = 1200;
  unsigned count = 8;
  unsigned withoutPosition = 0;  ///< the last this many photos get no GPS tags
  unsigned seed = 1;
  int quality = 90;
  std::string folder;
};

/// A small deterministic generator, so the same options give the same photos.
class Random {
 public:
  explicit Random(std::uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  std::uint64_t Next() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 7;
    m_state ^= m_state << 17;
    return m_state;
  }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

 private:
  std::uint64_t m_state;
};

bool ParseUnsigned(const std::string& text, unsigned max, unsigned* out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long value = std::stoul(text);
  if (value > max) {
    return false;
  }
  *out = static_cast<unsigned>(value);
  return true;
}

std::optional<MakePhotosOptions> ParseMakePhotos(const std::vector<std::string>& args) {
  MakePhotosOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--size" && hasValue) {
      const std::string& size = args[++i];
      const std::size_t x = size.find('x');
      if (x == std::string::npos || !ParseUnsigned(size.substr(0, x), 20000, &options.width) ||
          !ParseUnsigned(size.substr(x + 1), 20000, &options.height) || options.width < 16 || options.height < 16) {
        return std::nullopt;
      }
    } else if (arg == "--count" && hasValue) {
      if (!ParseUnsigned(args[++i], 100000, &options.count)) {
        return std::nullopt;
      }
    } else if (arg == "--without-position" && hasValue) {
      if (!ParseUnsigned(args[++i], 100000, &options.withoutPosition)) {
        return std::nullopt;
      }
    } else if (arg == "--seed" && hasValue) {
      if (!ParseUnsigned(args[++i], 1000000000, &options.seed)) {
        return std::nullopt;
      }
    } else if (arg == "--quality" && hasValue) {
      unsigned quality = 0;
      if (!ParseUnsigned(args[++i], 100, &quality) || quality == 0) {
        return std::nullopt;
      }
      options.quality = static_cast<int>(quality);
    } else if (arg.rfind("--", 0) == 0 || !options.folder.empty()) {
      return std::nullopt;
    } else {
      options.folder = arg;
    }
  }
  if (options.folder.empty()) {
    return std::nullopt;
  }
  return options;
}

std::string TimeText(long long secondsSince2024) {
  // Days of 2024 onwards, months of fixed lengths are enough for a sample.
  constexpr std::array<int, 12> kMonthDays = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  long long days = secondsSince2024 / 86400;
  const long long rest = secondsSince2024 % 86400;
  int month = 0;
  while (month < 11 && days >= kMonthDays[static_cast<std::size_t>(month)]) {
    days -= kMonthDays[static_cast<std::size_t>(month)];
    ++month;
  }
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "2024:%02d:%02lld %02lld:%02lld:%02lld", month + 1, days + 1, rest / 3600,
                rest / 60 % 60, rest % 60);
  return text.data();
}

/// The Exif block of one photo: "Exif\0\0" and the stored tree.
XpStatus BuildExifBlock(const MakePhotosOptions& options, const std::string& captureTime, XpMemoryFile* block) {
  XpTiffTagManager tree;
  if (!tree.Create()) {
    return XpStatus::OutOfMemory;
  }
  XpTiffTagIFD* ifd0 = tree.AddIFD();
  auto* exifEntry = static_cast<XpTiffTagDataIFD*>(ifd0->AddEntry(XpCreateTiffTagDataIFD(kTagExifIFD, 1)));
  XpTiffTagIFD* exif = exifEntry != nullptr ? exifEntry->AddChild(std::make_unique<XpTiffTagIFD>()) : nullptr;
  if (ifd0 == nullptr || exif == nullptr) {
    return XpStatus::OutOfMemory;
  }
  const std::uint8_t version[] = {'0', '2', '3', '0'};
  for (const XpStatus st : {
           ifd0->SetAscii(kTagMake, "Terravue"),
           ifd0->SetAscii(0x0110, "Sample Camera"),
           ifd0->SetShort(kTagOrientation, 1),
           ifd0->SetRational(0x011A, 72, 1),
           ifd0->SetRational(0x011B, 72, 1),
           ifd0->SetShort(0x0128, 2),
           ifd0->SetAscii(0x0131, "terravue-tool make-photos"),
           ifd0->SetAscii(kTagDateTime, captureTime, 20),
           exif->SetUndefined(kTagExifVersion, version),
           exif->SetAscii(kTagDateTimeOriginal, captureTime, 20),
           exif->SetAscii(0x9004, captureTime, 20),
           exif->SetShort(kTagColorSpace, 1),
           exif->SetLong(0xA002, options.width),
           exif->SetLong(0xA003, options.height),
       }) {
    if (st != XpStatus::Ok) {
      return st;
    }
  }
  if (auto st = block->WriteAll("Exif\0\0", 6); st != XpStatus::Ok) {
    return st;
  }
  XpStatus stored = XpStatus::Ok;
  if (tree.Store(*block, &stored) == 0) {
    return stored != XpStatus::Ok ? stored : XpStatus::Failed;
  }
  return XpStatus::Ok;
}

/// Paints one photo row by row: soft colour fields, a few discs and grain,
/// different for every photo, so the JPEG sizes resemble real pictures.
class Painter {
 public:
  Painter(unsigned width, unsigned height, Random& random) : m_width(width), m_height(height), m_random(random) {
    m_columns.resize(std::size_t{width} * 3);
    m_rows.resize(std::size_t{height} * 3);
    for (int c = 0; c < 3; ++c) {
      const double fx = (1 + 6 * random.Unit()) * 2 * std::numbers::pi / width;
      const double fy = (1 + 6 * random.Unit()) * 2 * std::numbers::pi / height;
      const double px = 2 * std::numbers::pi * random.Unit();
      const double py = 2 * std::numbers::pi * random.Unit();
      const double base = 40 + 100 * random.Unit();
      for (unsigned x = 0; x < width; ++x) {
        m_columns[x * 3 + static_cast<unsigned>(c)] = base + 50 * std::sin(x * fx + px);
      }
      for (unsigned y = 0; y < height; ++y) {
        m_rows[y * 3 + static_cast<unsigned>(c)] = 45 * std::cos(y * fy + py) + 30.0 * y / height;
      }
    }
    const unsigned discs = 3 + static_cast<unsigned>(random.Next() % 6);
    const double scale = std::min(width, height);
    for (unsigned i = 0; i < discs; ++i) {
      m_discs.push_back({random.Unit() * width,
                         random.Unit() * height,
                         (0.05 + 0.2 * random.Unit()) * scale,
                         {random.Unit() * 255, random.Unit() * 255, random.Unit() * 255}});
    }
  }

  void PaintRow(unsigned y, std::vector<JSAMPLE>& row) {
    if (y >= m_height || row.size() < std::size_t{m_width} * 3) {
      return;  // a row outside the picture has no colour fields to read
    }
    for (unsigned x = 0; x < m_width; ++x) {
      std::array<double, 3> rgb{};
      for (std::size_t c = 0; c < 3; ++c) {
        rgb[c] = m_columns[x * 3 + c] + m_rows[y * 3 + c];
      }
      for (const Disc& disc : m_discs) {
        const double dx = x - disc.x;
        const double dy = y - disc.y;
        if (dx * dx + dy * dy < disc.r * disc.r) {
          rgb = disc.colour;
        }
      }
      const std::uint64_t grain = m_random.Next();
      for (std::size_t c = 0; c < 3; ++c) {
        const double noise = static_cast<double>((grain >> (c * 8)) & 0x1F) - 16;
        row[x * 3 + c] = static_cast<JSAMPLE>(std::clamp(rgb[c] + noise, 0.0, 255.0));
      }
    }
  }

 private:
  struct Disc {
    double x, y, r;
    std::array<double, 3> colour;
  };
  unsigned m_width;
  unsigned m_height;
  Random& m_random;
  std::vector<double> m_columns;
  std::vector<double> m_rows;
  std::vector<Disc> m_discs;
};

XpStatus WritePhoto(const std::string& path, const MakePhotosOptions& options, const XpMemoryFile& exifBlock,
                    Random& random) {
  XpFile file(path);
  if (auto st = file.Open(XpAbstractFile::kWrite); st != XpStatus::Ok) {
    return st;
  }
  const XpStatus st = JpegRun(XpStatus::JpegEncodeFailed, [&]() {
    JpegCompressor enc;
    enc.SetDestination(file);
    enc->image_width = options.width;
    enc->image_height = options.height;
    enc->input_components = 3;
    enc->in_color_space = JCS_RGB;
    jpeg_set_defaults(enc.Get());
    jpeg_set_quality(enc.Get(), options.quality, TRUE);
    enc->write_JFIF_header = FALSE;
    jpeg_start_compress(enc.Get(), TRUE);
    const auto block = exifBlock.Bytes();
    jpeg_write_marker(enc.Get(), JPEG_APP0 + 1, block.data(), static_cast<unsigned>(block.size()));
    Painter painter(options.width, options.height, random);
    std::vector<JSAMPLE> row(std::size_t{options.width} * 3);
    while (enc->next_scanline < enc->image_height) {
      painter.PaintRow(enc->next_scanline, row);
      JSAMPROW rows[1] = {row.data()};
      jpeg_write_scanlines(enc.Get(), rows, 1);
    }
    jpeg_finish_compress(enc.Get());
    return XpStatus::Ok;
  });
  if (st != XpStatus::Ok) {
    (void)file.Close();
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return st;
  }
  return file.Close();
}

// A walk around a city centre: positions a few hundred metres apart.
XpGPSRecord PositionFor(unsigned index, unsigned seed) {
  Random random(seed * 7919 + index);
  const double latitude = 35.658 + 0.02 * std::sin(index * 0.7 + seed) + 0.002 * random.Unit();
  const double longitude = 139.701 + 0.03 * std::cos(index * 0.5 + seed) + 0.002 * random.Unit();
  XpGPSRecord record;
  const auto fill = [](double degrees, XpGPSRef& ref, XpGPSRational3& value, char16_t positive, char16_t negative) {
    const double absolute = std::fabs(degrees);
    const auto whole = static_cast<std::uint32_t>(absolute);
    const double minutes = (absolute - whole) * 60;
    const auto wholeMinutes = static_cast<std::uint32_t>(minutes);
    const auto milliseconds = static_cast<std::uint32_t>((minutes - wholeMinutes) * 60000);
    ref.valid = 1;
    ref.letter = degrees < 0 ? negative : positive;
    value.valid = 1;
    value.numerators = {whole, wholeMinutes, milliseconds};
    value.denominators = {1, 1, 1000};
  };
  fill(latitude, record.latitudeRef, record.latitude, u'N', u'S');
  fill(longitude, record.longitudeRef, record.longitude, u'E', u'W');
  record.version.valid = 1;
  record.version.bytes = {2, 2, 0, 0};
  return record;
}

}  // namespace

int RunMakePhotos(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const auto options = ParseMakePhotos(args);
  if (!options) {
    err << "usage: terravue-tool make-photos [--size WxH] [--count N] [--without-position K] [--seed S] "
           "[--quality Q] FOLDER\n";
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(options->folder, ec);
  if (ec) {
    err << options->folder << ": " << ec.message() << '\n';
    return 1;
  }
  Random random(options->seed);
  int exitCode = 0;
  for (unsigned i = 0; i < options->count; ++i) {
    std::array<char, 32> name{};
    std::snprintf(name.data(), name.size(), "/photo_%04u.jpg", i + 1);
    const std::string path = options->folder + name.data();
    // A photo every few minutes from a morning in spring.
    const std::string captureTime = TimeText(110LL * 86400 + 9 * 3600 + 317LL * i + options->seed % 3600);
    XpMemoryFile block;
    XpStatus st = BuildExifBlock(*options, captureTime, &block);
    if (st == XpStatus::Ok) {
      st = WritePhoto(path, *options, block, random);
    }
    if (st == XpStatus::Ok && i < options->count - std::min(options->withoutPosition, options->count)) {
      st = XpExifRewrite::WriteGPS(path, PositionFor(i, options->seed), /*replaceWhole=*/true);
    }
    if (st != XpStatus::Ok) {
      err << path << ": " << ToolStatusReason(st) << '\n';
      exitCode = 1;
      continue;
    }
    out << path << '\n';
  }
  return exitCode;
}
