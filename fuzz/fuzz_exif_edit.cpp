// Walks whatever TIFF data the input is and edits it as a GPS write (with and
// without a zone for the capture time) and as a removal would: the walk and the edits must answer a status and never
// crash, and every edit that succeeds must pass its own check (nothing of
// the old data lost) and walk again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "xp/image/XpExifEdit.h"
#include "xp/tiff/XpGPSRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  XpExifEdit::Layout layout;
  if (XpExifEdit::Walk(input, &layout) != XpStatus::Ok) {
    return 0;
  }
  XpGPSRecord record;
  record.latitudeRef.valid = 1;
  record.latitudeRef.letter = u'N';
  record.latitude.valid = 1;
  record.latitude.numerators = {35, 37, 32828};
  record.latitude.denominators = {1, 1, 1000};
  XpExifEdit::Request write;
  write.record = &record;
  write.dateTime = "2024:06:01 12:34:56";
  // The same write that also gives the capture time a zone where the Exif directory has none.
  XpExifEdit::Request zoned = write;
  zoned.offsetTimeOriginal = "+09:00";
  XpExifEdit::Request remove;
  for (const XpExifEdit::Request* request : {&write, &zoned, &remove}) {
    XpExifEdit::Outcome outcome;
    if (XpExifEdit::Edit(input, *request, &outcome) != XpStatus::Ok) {
      continue;
    }
    if (!XpExifEdit::Difference(input, outcome.tiff, *request, outcome).empty()) {
      std::abort();
    }
    XpExifEdit::Layout again;
    if (XpExifEdit::Walk(outcome.tiff, &again) != XpStatus::Ok) {
      std::abort();
    }
  }
  return 0;
}
