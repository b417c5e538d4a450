// Feeds arbitrary bytes to the in-file position writer of PNG, WebP, TIFF (and
// Olympus raw files, TIFF structures of their own magic) and HEIF photos: a
// write and a removal are planned, and whatever the writer makes of the input
// must pass the check the writer runs before a rename.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "xp/formats/XpInFileWrite.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

XpGPSRecord Position() {
  XpGPSRecord record;
  record.version.valid = 1;
  record.version.bytes = {2, 3, 0, 0};
  record.latitudeRef.valid = 1;
  record.latitudeRef.letter = u'N';
  record.latitude.valid = 1;
  record.latitude.numerators = {35, 37, 32828};
  record.latitude.denominators = {1, 1, 1000};
  record.longitudeRef.valid = 1;
  record.longitudeRef.letter = u'E';
  record.longitude.valid = 1;
  record.longitude.numerators = {139, 44, 31338};
  record.longitude.denominators = {1, 1, 1000};
  return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  static const XpGPSRecord kPosition = Position();
  for (const XpGPSRecord* record : {&kPosition, static_cast<const XpGPSRecord*>(nullptr)}) {
    XpInFileWrite::Change change;
    change.record = record;
    if (record != nullptr) {
      change.dateTime = "2024:06:01 12:34:56";
    }
    std::vector<std::uint8_t> out;
    bool nothing = false;
    if (XpInFileWrite::EditBytes(bytes, change, &out, &nothing) == XpStatus::Ok && !nothing &&
        XpInFileWrite::CheckBytes(bytes, out, change) != XpStatus::Ok) {
      std::abort();  // the writer made something its own check refuses
    }
  }
  return 0;
}
