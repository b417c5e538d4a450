// terravue-tool info FILE...: one JSON object per file, one per line. JPEG
// files are read by the JPEG reader; the other photo formats by their own
// container parsers into the same tag tree.
#include <cstdio>
#include <optional>
#include <string>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/base/XpCaptureTime.h"
#include "xp/base/XpDateTime.h"
#include "xp/base/XpFileType.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

bool IsJpeg(const ToolInfoFile& f) { return f.reading.format == XpPhotoFormat::Jpeg; }

const XpTiffTagIFD* Ifd0(const ToolInfoFile& f) { return f.tree ? f.tree->GetIFD(0) : nullptr; }

// The Exif and GPS directories: under IFD0, or (CR3) trees of their own.
const XpTiffTagIFD* ExifIfd(const ToolInfoFile& f) {
  return f.reading.exifTree ? f.reading.ExifIfd() : (f.tree ? f.tree->GetExifIFD() : nullptr);
}
const XpTiffTagIFD* GpsIfd(const ToolInfoFile& f) {
  return f.reading.gpsTree ? f.reading.GpsIfd() : (f.tree ? f.tree->GetGPSIFD() : nullptr);
}

// The GPS record as the picture list reads it: for a photo of another format,
// where its position came from (its sidecar, GPS directory or embedded XMP);
// else empty (all invalid) without a GPS directory.
XpGPSRecord Gps(const ToolInfoFile& f) {
  if (!IsJpeg(f) && f.reading.source != XpPhotoMetadata::PositionSource::None) {
    return f.reading.gps;
  }
  XpGPSRecord record;
  if (const XpTiffTagIFD* gps = GpsIfd(f); gps != nullptr) {
    gps->GetGPSRecord(record);
  }
  return record;
}

void WritePath(const ToolInfoFile& f, ToolJsonObject& json) { json.Text("path", f.path); }

void WriteStatus(const ToolInfoFile& f, ToolJsonObject& json) {
  if (f.status == XpStatus::Ok) {
    json.Number("status", 0);
  } else {
    json.Text("status", XpStatusText(f.status));
  }
}

void WriteByteOrder(const ToolInfoFile& f, ToolJsonObject& json) {
  if (!f.tree) {
    json.Null("byte_order");
    return;
  }
  json.Text("byte_order", f.tree->IsBigEndian() ? "MM" : "II");
}

void WriteOrientation(const ToolInfoFile& f, ToolJsonObject& json) {
  // The JPEG reader's rule: the first Orientation found, read as SHORT.
  const XpTiffTagIFD* ifd0 = Ifd0(f);
  if (ifd0 == nullptr || !ifd0->Has(kTagOrientation, true)) {
    json.Null("orientation");
    return;
  }
  json.Number("orientation", ifd0->FindShort(kTagOrientation, true));
}

void WriteMake(const ToolInfoFile& f, ToolJsonObject& json) {
  const XpTiffTagIFD* ifd0 = Ifd0(f);
  if (ifd0 == nullptr || !ifd0->Has(kTagMake)) {
    json.Null("make");
    return;
  }
  json.Text("make", ifd0->FindAscii(kTagMake));
}

void WriteMakerNote(const ToolInfoFile& f, ToolJsonObject& json) {
  const XpTiffTagIFD* exif = ExifIfd(f);
  json.Bool("maker_note", exif != nullptr && exif->Has(kTagMakerNote));
}

std::string Letter(const XpGPSRef& ref) {
  std::string s;
  if (ref.letter == 0) {
    return s;
  }
  if (ref.letter < 0x80) {
    s += static_cast<char>(ref.letter);
  } else {
    s += static_cast<char>(0xC0 | (ref.letter >> 6));
    s += static_cast<char>(0x80 | (ref.letter & 0x3F));
  }
  return s;
}

std::string Pairs(const XpGPSRational3& r) {
  std::string s = "[";
  for (int i = 0; i < 3; ++i) {
    s += (i ? ", [" : "[") + std::to_string(r.numerators[i]) + ", " + std::to_string(r.denominators[i]) + "]";
  }
  return s + "]";
}

void WriteGps(const ToolInfoFile& f, ToolJsonObject& json) {
  const XpGPSRecord gps = Gps(f);
  for (const auto& [key, ref] : {std::pair{"gps_lat_ref", &gps.latitudeRef}, {"gps_lng_ref", &gps.longitudeRef}}) {
    if (ref->IsValid()) {
      json.Text(key, Letter(*ref));
    } else {
      json.Null(key);
    }
  }
  for (const auto& [key, r] : {std::pair{"gps_lat", &gps.latitude}, {"gps_lng", &gps.longitude}}) {
    if (r->IsValid()) {
      json.Raw(key, Pairs(*r));
    } else {
      json.Null(key);
    }
  }
  json.Text("lat", CoordinateTextFromGPS(gps.latitudeRef, gps.latitude, true));
  json.Text("lng", CoordinateTextFromGPS(gps.longitudeRef, gps.longitude, false));
}

void WriteDateTimeOriginal(const ToolInfoFile& f, ToolJsonObject& json) {
  const XpTiffTagIFD* exif = ExifIfd(f);
  if (exif == nullptr || !exif->Has(kTagDateTimeOriginal)) {
    json.Null("datetime_original");
    return;
  }
  json.Text("datetime_original", exif->FindAscii(kTagDateTimeOriginal));
}

void WriteThumbnail(const ToolInfoFile& f, ToolJsonObject& json) {
  const XpTiffTagIFD* ifd1 = f.tree ? f.tree->GetIFD(1) : nullptr;
  const std::uint32_t offset = ifd1 ? ifd1->FindLong(kTagThumbnailOffset) : 0;
  const std::uint32_t length = ifd1 ? ifd1->FindLong(kTagThumbnailLength) : 0;
  if (offset == 0 || length == 0) {
    json.Null("thumbnail");
    return;
  }
  json.Raw("thumbnail", "{\"offset\": " + std::to_string(offset) + ", \"length\": " + std::to_string(length) + "}");
}

void WriteFileType(const ToolInfoFile& f, ToolJsonObject& json) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(XpGetFileType(f.path)));
  json.Text("type", text);
}

void WriteCaptureTime(const ToolInfoFile& f, ToolJsonObject& json) {
  XpDateTime when;
  const bool found = IsJpeg(f) ? GetCaptureTime(f.path, when) : XpParseExifDateTime(f.reading.dateTimeOriginal, when);
  const auto fields = found ? when.GetFields() : std::nullopt;
  if (!fields) {
    json.Null("capture_time");
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", fields->year, fields->month, fields->day,
                fields->hour, fields->minute, fields->second);
  json.Text("capture_time", text);
}

// The image size in the JPEG frame header, before any turn; null when the
// file is not a JPEG that the decoder reads.
void WriteImageSize(const ToolInfoFile& f, ToolJsonObject& json) {
  XpFile file(f.path);
  XpImageIoJpeg reader;
  XpPixmapOps::Size size;
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok ||
      reader.ReadImageInfo(file, 0, &size, /*ignoreOrientation=*/true) != XpStatus::Ok) {
    json.Null("width");
    json.Null("height");
    return;
  }
  json.Number("width", size.width);
  json.Number("height", size.height);
}

// The photo format the content shows ("JPEG", "HEIC", "RW2", ...; "unknown").
void WriteFormat(const ToolInfoFile& f, ToolJsonObject& json) {
  json.Text("format", std::string(XpPhotoFormatName(f.reading.format)));
}

// The sidecar that belongs to the file, and where its position was read from:
// "file", "sidecar", or null when it has none.
void WriteSidecar(const ToolInfoFile& f, ToolJsonObject& json) {
  if (f.reading.sidecar.empty()) {
    json.Null("sidecar");
  } else {
    json.Text("sidecar", f.reading.sidecar);
  }
  const bool fromFile = Gps(f).latitude.IsValid() && Gps(f).longitude.IsValid();
  switch (f.reading.source) {
    case XpPhotoMetadata::PositionSource::Sidecar:
      json.Text("position_from", "sidecar");
      break;
    default:
      if (fromFile) {
        json.Text("position_from", "file");
      } else {
        json.Null("position_from");
      }
      break;
  }
}

// The zone of the capture time (OffsetTimeOriginal, "+02:00"), or null.
void WriteZone(const ToolInfoFile& f, ToolJsonObject& json) {
  const XpTiffTagIFD* exif = ExifIfd(f);
  const std::string zone = exif != nullptr ? exif->FindAscii(kTagOffsetTimeOriginal) : std::string();
  if (zone.empty()) {
    json.Null("offset_time_original");
  } else {
    json.Text("offset_time_original", zone);
  }
}

// The keys of an info line, in order. Add new keys at the end.
const ToolInfoKey kInfoKeys[] = {
    {WritePath},        {WriteStatus},    {WriteByteOrder},        {WriteOrientation}, {WriteMake},
    {WriteMakerNote},   {WriteGps},       {WriteDateTimeOriginal}, {WriteThumbnail},   {WriteFileType},
    {WriteCaptureTime}, {WriteImageSize}, {WriteFormat},           {WriteSidecar},     {WriteZone},
};

}  // namespace

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << "usage: terravue-tool info FILE...\n";
    return 2;
  }
  int exitCode = 0;
  for (const std::string& path : args) {
    ToolInfoFile file;
    file.path = path;
    const XpStatus read = XpPhotoMetadata::Read(path, &file.reading);
    if (IsJpeg(file) || file.reading.format == XpPhotoFormat::Unknown) {
      // JPEG files (and whatever is no photo) keep the JPEG reader's answer.
      file.status = XpJpegExif::ReadTagTree(path, &file.tree);
    } else {
      file.status = read;
      file.tree = file.reading.tree;
    }
    if (file.status != XpStatus::Ok) {
      exitCode = 1;
    }
    {
      ToolJsonObject json(out);
      for (const auto& key : kInfoKeys) {
        key.write(file, json);
      }
    }
    out << '\n';
  }
  return exitCode;
}
