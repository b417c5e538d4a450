// Feeds arbitrary bytes to the sidecar edits: setting a position in a packet
// that may or may not have one, and reading a named property. Every call must
// end in a status; a set that succeeds must read back as the position it
// wrote, and taking the GPS properties out of the old and the new packet must
// leave the same text but for the block the set added.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "xp/image/XpXmpGps.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> packet(data, size);
  std::optional<std::string> value;
  const XpStatus property =
      XpXmpGps::ReadProperty(packet, "http://ns.adobe.com/photoshop/1.0/", "SidecarForExtension", &value);
  if (property != XpStatus::Ok && property != XpStatus::XmpInvalid) {
    __builtin_trap();
  }

  XpXmpGps::Update update;
  update.latitude = 48.1234567;
  update.longitude = -11.7654321;
  if (size % 3 == 0) {
    update.altitude = -12.5;
    update.timeStamp = "2024-05-01T10:20:30Z";
    update.dropStale = true;
  }
  update.keepPadding = true;
  XpXmpGps::Edit edit;
  XpXmpGps::SetOutcome outcome;
  if (XpXmpGps::SetGps(packet, update, (size % 2) == 0, &edit, &outcome) != XpStatus::Ok) {
    return 0;
  }
  XpXmpGps::Position position;
  if (XpXmpGps::ReadGps(edit.packet, &position) != XpStatus::Ok || std::fabs(position.latitude - 48.1234567) > 1e-6 ||
      std::fabs(position.longitude + 11.7654321) > 1e-6) {
    __builtin_trap();
  }
  XpXmpGps::Edit oldStripped;
  XpXmpGps::Edit newStripped;
  if (XpXmpGps::RemoveGps(packet, &oldStripped, true) != XpStatus::Ok ||
      XpXmpGps::RemoveGps(edit.packet, &newStripped, true) != XpStatus::Ok) {
    __builtin_trap();
  }
  const auto& a = oldStripped.packet;
  const auto& b = newStripped.packet;
  if (b.size() != a.size() + outcome.insertedWithoutGps.size()) {
    __builtin_trap();
  }
  const auto at = static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
  if (!std::equal(a.begin() + static_cast<std::ptrdiff_t>(at), a.end(),
                  b.begin() + static_cast<std::ptrdiff_t>(at + outcome.insertedWithoutGps.size()))) {
    __builtin_trap();
  }
  return 0;
}
