// Feeds arbitrary bytes to the XMP GPS reading and edits. Every call must end
// in a status; a removal must leave a packet that reads without a position,
// and an edit that succeeds must keep the packet's length when the padding
// covers the change, and must parse again.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "xp/image/XpXmpGps.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> packet(data, size);
  XpXmpGps::Position position;
  const XpStatus read = XpXmpGps::ReadGps(packet, &position);
  if (read == XpStatus::Ok &&
      (position.latitude < -90 || position.latitude > 90 || position.longitude < -180 || position.longitude > 180)) {
    __builtin_trap();
  }

  XpXmpGps::Edit removed;
  if (XpXmpGps::RemoveGps(packet, &removed) == XpStatus::Ok) {
    XpXmpGps::Position left;
    const XpStatus again = XpXmpGps::ReadGps(removed.packet, &left);
    if (again == XpStatus::Ok || again == XpStatus::XmpBadPosition || again == XpStatus::XmpInvalid) {
      __builtin_trap();
    }
    if (!removed.changed && !std::equal(removed.packet.begin(), removed.packet.end(), packet.begin(), packet.end())) {
      __builtin_trap();
    }
  } else if (read != XpStatus::XmpInvalid) {
    __builtin_trap();
  }

  XpXmpGps::Update update;
  update.latitude = -12.3456789;
  update.longitude = 123.456789;
  update.altitude = 42.5;
  update.timeStamp = "2024-05-01T10:20:30Z";
  update.dropStale = (size % 2) == 0;
  XpXmpGps::Edit updated;
  if (XpXmpGps::UpdateGps(packet, update, &updated) == XpStatus::Ok && updated.changed) {
    XpXmpGps::Position moved;
    const XpStatus again = XpXmpGps::ReadGps(updated.packet, &moved);
    if (again == XpStatus::XmpInvalid) {
      __builtin_trap();
    }
  }
  return 0;
}
