// Feeds arbitrary bytes to the IIM reading and location edit (as the payload
// of an APP13 segment). Every call must end in a status; an edit that
// succeeds must read back as what it reports to have written.

#include <cstddef>
#include <cstdint>
#include <span>

#include "xp/image/XpIptcIim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> payload(data, size);
  XpIptcIim::Reading reading;
  const XpStatus read = XpIptcIim::Read(payload, &reading);
  XpIptcIim::Edit edit;
  const XpStatus set = XpIptcIim::SetLocation(
      payload, {"Saint-Rémy-de-Provence et environs", "Provence-Alpes-Côte d'Azur", "FRA", "France"}, &edit);
  if (set != read) {
    __builtin_trap();
  }
  if (set == XpStatus::Ok && edit.changed) {
    XpIptcIim::Reading after;
    if (XpIptcIim::Read(edit.payload, &after) != XpStatus::Ok || !after.hasIim || !(after.location == edit.written)) {
      __builtin_trap();
    }
  }
  return 0;
}
