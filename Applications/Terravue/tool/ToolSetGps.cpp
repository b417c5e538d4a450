// terravue-tool set-gps [--preserve-mtime] --lat TEXT --lng TEXT FILE...: writes a position into
// pictures the way writing positions back does: the picture's GPS tags are
// read, latitude and longitude replaced, and the whole directory written.
#include <optional>

#include "Applications/Terravue/mapdata/CoordinateInput.h"
#include "Applications/Terravue/mapdata/PhotoJournal.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/image/XpJpegExif.h"
#include "xp/text/XpNumberText.h"
#include "xp/tiff/XpTiffTagManager.h"

std::string ToolStatusReason(XpStatus status) {
  switch (status) {
    case XpStatus::NoExif:
      return "no Exif tag tree (0x8601)";
    case XpStatus::JpegDecodeFailed:
      return "not a readable JPEG, or the rewritten file did not check out (0x8602)";
    case XpStatus::JpegEncodeFailed:
      return "the new Exif block would not fit in one segment (0x8600)";
    case XpStatus::ExifBlockFull:
      return "the Exif block has no room left for the position; left unchanged (0x8610)";
    case XpStatus::ChangedOnDisk:
      return "the picture was changed by another program meanwhile; left unchanged (0x860a)";
    case XpStatus::FileNotFound:
      return "file not found (0x8105)";
    case XpStatus::AccessDenied:
      return "access denied (0x8108)";
    case XpStatus::DiskFull:
      return "disk full (0x8109)";
    case XpStatus::AlreadyExists:
      return "no free temporary name beside the file (0x810a)";
    case XpStatus::ExifDamaged:
      return "the Exif data is damaged or could not be read completely; left unchanged (0x8608)";
    case XpStatus::PictureReadOnly:
      return "the picture is write-protected (read-only or immutable); left unchanged (0x8609)";
    case XpStatus::TooManySegments:
      return "the JPEG stream has an absurd number of marker segments; left unchanged (0x860c)";
    case XpStatus::BadCoordinate:
      return "not a coordinate that can be written (0x860b)";
    case XpStatus::PhotoFormatUnknown:
      return "not a photo this program reads; left unchanged (0x8620)";
    case XpStatus::PositionStaysInPhoto:
      return "the photo keeps a position in its own metadata, which is never changed for this kind of photo; "
             "nothing removed (0x8623)";
    case XpStatus::SidecarCheckFailed:
      return "the written XMP sidecar did not read back as intended; left unchanged (0x8624)";
    case XpStatus::XmpInvalid:
      return "its XMP data (or its XMP sidecar) is not well-formed XMP; left unchanged (0x8618)";
    default:
      return "failed (" + XpStatusText(status) + ")";
  }
}

std::string ToolRefusalLine(const std::string& file, XpStatus status) {
  std::string line = file + ": " + ToolStatusReason(status);
  if (status == XpStatus::ExifDamaged) {
    // Which damage, as far as reading for display tells.
    TagTreePtr tree;
    if (XpJpegExif::ReadTagTree(file, &tree) == XpStatus::Ok && tree != nullptr && !tree->Damage().empty()) {
      line += ": " + tree->Damage();
    }
  }
  return line;
}

void ToolWrittenTo(ToolJsonObject& json, const XpPhotoWrite::Where& where) {
  json.Text("written_to", std::string(XpPhotoWrite::DestinationName(where.destination)));
  if (where.destination == XpPhotoWrite::Destination::Sidecar && !where.sidecars.empty()) {
    json.Text("sidecar", where.sidecars.front());
  } else {
    json.Null("sidecar");
  }
  if (where.notInFile != XpStatus::Ok) {
    // Why a HEIC, HEIF or AVIF photo (or a raw one under --raw-in-file) went to its sidecar.
    json.Text("not_in_file", XpStatusText(where.notInFile));
  }
  if (where.destination == XpPhotoWrite::Destination::InFile && XpPhotoWrite::IsRawWrittenInFile(where.format)) {
    json.Text("warning", "raw file changed in place; the maker's software may refuse it");
  }
}

int RunSetGps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::optional<std::string> latText;
  std::optional<std::string> lngText;
  std::vector<std::string> files;
  XpExifRewrite::Hooks options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--preserve-mtime") {
      options.preserveModificationTime = true;
    } else if ((args[i] == "--lat" || args[i] == "--lng") && i + 1 < args.size()) {
      (args[i] == "--lat" ? latText : lngText) = args[i + 1];
      ++i;
    } else if (args[i] == "--") {
      files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (args[i].rfind("--", 0) == 0) {
      err << "terravue-tool set-gps: unknown option \"" << args[i] << "\"\n";
      return 2;
    } else {
      files.push_back(args[i]);
    }
  }
  if (!latText || !lngText || files.empty()) {
    err << "usage: terravue-tool set-gps [--preserve-mtime] [--raw-in-file] --lat TEXT --lng TEXT FILE...\n";
    return 2;
  }
  // The texts are checked before any picture is touched; a text that cannot
  // be written exactly leaves every picture unchanged, each named on its line.
  const CoordinateInput latitude = ParseCoordinateInput(*latText, /*latitude=*/true);
  const CoordinateInput longitude = ParseCoordinateInput(*lngText, /*latitude=*/false);
  if (latitude.status != XpStatus::Ok || longitude.status != XpStatus::Ok) {
    const bool badLatitude = latitude.status != XpStatus::Ok;
    const std::string reason = "\"" + (badLatitude ? *latText : *lngText) +
                               "\" is not written: " + (badLatitude ? latitude.reason : longitude.reason) +
                               "; left unchanged (0x860b)";
    for (const std::string& file : files) {
      err << file << ": " << reason << '\n';
    }
    return 1;
  }
  int exitCode = 0;
  for (const std::string& file : files) {
    XpGPSRecord record;
    // A picture without GPS tags starts from an empty record.
    (void)XpPhotoWrite::ReadGPS(file, record);
    record.latitudeRef = latitude.ref;
    record.latitude = latitude.rationals;
    record.longitudeRef = longitude.ref;
    record.longitude = longitude.rationals;
    XpPhotoWrite::Where where;
    const XpStatus st =
        PhotoJournal::RecordPositionWrite(file, [&] { return XpPhotoWrite::WriteGPS(file, record, options, &where); });
    if (st != XpStatus::Ok) {
      err << ToolRefusalLine(file, st) << '\n';
      exitCode = 1;
    } else {
      {
        ToolJsonObject json(out);
        json.Text("path", file);
        ToolWrittenTo(json, where);
      }
      out << '\n';
    }
  }
  return exitCode;
}
