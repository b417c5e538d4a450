// Feeds arbitrary bytes to the XMP location reading and edit. Every call must
// end in a status; an edit that succeeds must read back as what it wrote, and
// a second edit with the same names must change nothing.

#include <cstddef>
#include <cstdint>
#include <span>

#include "xp/image/XpXmpLocation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> packet(data, size);
  XpXmpLocation::Reading before;
  const XpStatus read = XpXmpLocation::ReadLocation(packet, &before);
  XpXmpLocation::Update update{"Gion & <Higashiyama>", "Kyōto", "Japan", "JP", std::nullopt};
  if ((size % 2) == 0) {
    update.sublocation = "Hanamikoji \"dori\"";
  }
  XpXmpLocation::Edit edit;
  const XpStatus set = XpXmpLocation::SetLocation(packet, update, &edit);
  if (set == XpStatus::Ok) {
    if (read != XpStatus::Ok) {
      __builtin_trap();
    }
    XpXmpLocation::Reading after;
    if (XpXmpLocation::ReadLocation(edit.packet, &after) != XpStatus::Ok ||
        !(after == XpXmpLocation::Expected(before, update))) {
      __builtin_trap();
    }
    XpXmpLocation::Edit again;
    if (XpXmpLocation::SetLocation(edit.packet, update, &again) != XpStatus::Ok || again.changed) {
      __builtin_trap();
    }
  } else if (set != XpStatus::XmpInvalid) {
    __builtin_trap();
  }
  return 0;
}
