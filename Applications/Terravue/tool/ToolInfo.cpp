// terravue-tool info FILE...: one JSON object per file, one per line.
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

const XpTiffTagIFD* Ifd0(const ToolInfoFile& f) { return f.tree ? f.tree->GetIFD(0) : nullptr; }

// The GPS record as the picture list reads it: empty (all invalid) without a GPS directory.
XpGPSRecord Gps(const ToolInfoFile& f) {
  XpGPSRecord record;
  if (const XpTiffTagIFD* gps = f.tree ? f.tree->GetGPSIFD() : nullptr; gps != nullptr) {
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
  const XpTiffTagIFD* exif = f.tree ? f.tree->GetExifIFD() : nullptr;
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
  const XpTiffTagIFD* exif = f.tree ? f.tree->GetExifIFD() : nullptr;
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
  const auto fields = GetCaptureTime(f.path, when) ? when.GetFields() : std::nullopt;
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

// The keys of an info line, in order. Add new keys at the end.
const ToolInfoKey kInfoKeys[] = {
    {WritePath}, {WriteStatus},           {WriteByteOrder}, {WriteOrientation}, {WriteMake},        {WriteMakerNote},
    {WriteGps},  {WriteDateTimeOriginal}, {WriteThumbnail}, {WriteFileType},    {WriteCaptureTime}, {WriteImageSize},
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
    file.status = XpJpegExif::ReadTagTree(path, &file.tree);
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
