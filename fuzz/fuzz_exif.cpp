// Feeds arbitrary bytes to the Exif location and tag tree parser, both as a
// JPEG stream and as bare TIFF data in every load mode, then walks what was
// read the way the program does.
#include <cstddef>
#include <cstdint>
#include <span>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "xp/image/XpJpegExif.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tiff/XpGPSRecord.h"
#include "xp/tiff/XpTiffTagManager.h"
#include "xp/tiff/XpTiffTagTypes.h"

namespace {

void Walk(const XpTiffTagManager& tree) {
  if (const XpTiffTagIFD* ifd0 = tree.GetIFD(0); ifd0 != nullptr) {
    (void)ifd0->FindShort(kTagOrientation, true);
    (void)ifd0->FindAscii(kTagMake);
    (void)ifd0->FindAscii(kTagDateTimeOriginal, true);
    (void)ifd0->FindRational(0x829A, true);
  }
  if (const XpTiffTagIFD* gps = tree.GetGPSIFD(); gps != nullptr) {
    XpGPSRecord record;
    gps->GetGPSRecord(record);
    (void)CoordinateTextFromGPS(record.latitudeRef, record.latitude, true);
    (void)CoordinateTextFromGPS(record.longitudeRef, record.longitude, false);
    XpTiffTagIFD copy;
    (void)copy.SetGPSRecord(record);
  }
  (void)tree.GetMakerSubIFD();
  (void)tree.IsUncalibrated();
  (void)tree.Dump();
  (void)tree.Clone();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  {
    XpMemoryFile file(bytes);
    TagTreePtr tree;
    if (XpJpegExif::ReadTagTree(file, &tree, 0) == XpStatus::Ok) {
      Walk(*tree);
    }
  }
  for (int mode = 0; mode <= 2; ++mode) {
    XpMemoryFile file(bytes);
    XpTiffTagManager tree;
    if (tree.Load(file, mode)) {
      Walk(tree);
    }
  }
  return 0;
}
