#pragma once

// Photos made by the project's own code for the window tests: a JPEG with an
// Exif block holding the capture time and, when asked, a GPS position written
// by the program's own write-back.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>

#include "Applications/Terravue/mapdata/PictureRecord.h"
#include "xp/base/XpDateTime.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/image/XpPixmap.h"
#include "xp/tiff/XpTiffTagManager.h"

/// Writes a `width` x `height` photo to `path`, taken at `taken`, with
/// content that depends on `seed`. With non-empty coordinate texts the photo
/// gets that GPS position. False when any step fails.
inline bool MakeTestPhoto(const QString& path, int width, int height, int seed, const XpDateTime& taken,
                          const std::string& latitude = {}, const std::string& longitude = {}) {
  XpPixmapBGR24 pixmap;
  if (pixmap.Create(width, height) != XpStatus::Ok) {
    return false;
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = pixmap.Row(y);
    for (int x = 0; x < width; ++x) {
      // Smooth bands with a seed-dependent tilt, so each photo looks different.
      row[3 * x + 0] = static_cast<std::uint8_t>((x * 255) / width);
      row[3 * x + 1] = static_cast<std::uint8_t>(((y + seed * 37) * 255 / height) & 0xFF);
      row[3 * x + 2] = static_cast<std::uint8_t>(((x + y) * (seed + 1) / 3) & 0xFF);
    }
  }
  XpImageIoJpeg writer(90, "Terravue");
  XpMemoryFile plain;
  if (writer.Write(pixmap, nullptr, plain) != XpStatus::Ok) {
    return false;
  }
  XpTiffTagManager tree;
  tree.Create();
  XpMemoryFile block;
  if (writer.BuildExifBlock(pixmap, tree, /*adobeRgb=*/false, /*thumbnailFileMode=*/true, &taken, block) !=
      XpStatus::Ok) {
    return false;
  }
  if (plain.Seek(0, 0) != XpStatus::Ok) {
    return false;
  }
  XpMemoryFile photo;
  if (XpExifRewrite::TranscodeWithExif(block, plain, photo) != XpStatus::Ok) {
    return false;
  }
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  const std::span<const std::uint8_t> bytes = photo.Bytes();
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size())) {
    return false;
  }
  file.close();
  if (latitude.empty()) {
    return true;
  }
  // The position goes in the way the program writes moved positions.
  PictureRecord record(path.toStdString(), "", "no-thumbnail.jpg");
  record.m_latitude = latitude;
  record.m_longitude = longitude;
  record.m_modified = 1;
  PictureRecord::PictureWrite written = PictureRecord::PictureWrite::NotAttempted;
  static_cast<void>(record.WritePosition(QFileInfo(path).absolutePath().toStdString(), PictureRecord::WriteMode::Apply,
                                         nullptr, &written));
  return written == PictureRecord::PictureWrite::Written;
}

/// Two photos with a position, far apart so that their markers stay apart:
/// tokyo.jpg (landscape, taken 1 May 2024) and osaka.jpg (portrait, 2 May) in
/// `folder`. Their paths, or none when a step fails.
inline QStringList MakeTokyoAndOsaka(const QString& folder) {
  const QStringList paths = {folder + QStringLiteral("/tokyo.jpg"), folder + QStringLiteral("/osaka.jpg")};
  const bool made =
      MakeTestPhoto(paths[0], 640, 480, 1, XpDateTime(2024, 5, 1, 10, 0, 0), "N:35:39:30.000", "E:139:42:00.000") &&
      MakeTestPhoto(paths[1], 480, 640, 2, XpDateTime(2024, 5, 2, 11, 0, 0), "N:34:41:00.000", "E:135:30:00.000");
  return made ? paths : QStringList();
}
