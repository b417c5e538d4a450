// terravue-tool dump FILE: the Exif tag tree of a photo as text. A JPEG is
// read by the JPEG reader; the other formats by their container parsers. A
// CR3 keeps its Exif and GPS directories apart: each follows under its name.
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tiff/XpTiffTagManager.h"

int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) {
    err << "usage: terravue-tool dump FILE\n";
    return 2;
  }
  XpPhotoMetadata::Reading reading;
  const XpStatus read = XpPhotoMetadata::Read(args[0], &reading);
  if (reading.format == XpPhotoFormat::Jpeg || reading.format == XpPhotoFormat::Unknown) {
    TagTreePtr tree;
    if (const XpStatus st = XpJpegExif::ReadTagTree(args[0], &tree); st != XpStatus::Ok) {
      err << args[0] << ": no tag tree (" << XpStatusText(st) << ")\n";
      return 1;
    }
    out << tree->Dump();
    return 0;
  }
  if (read != XpStatus::Ok || !(reading.tree || reading.exifTree || reading.gpsTree)) {
    err << args[0] << ": no tag tree (" << XpStatusText(read == XpStatus::Ok ? XpStatus::NoExif : read) << ")\n";
    return 1;
  }
  if (reading.tree) {
    out << reading.tree->Dump();
  }
  if (reading.exifTree) {
    out << "Exif directory:\n" << reading.exifTree->Dump();
  }
  if (reading.gpsTree) {
    out << "GPS directory:\n" << reading.gpsTree->Dump();
  }
  return 0;
}
