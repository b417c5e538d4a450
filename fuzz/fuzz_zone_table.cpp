// Feeds arbitrary text to the zone table reader. Every zone it lists must
// name at least one two-letter upper-case country, and every country's zones
// must list that country back.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Applications/Terravue/mapdata/PlaceNaming.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ZoneCountries table;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  table.LoadText(text);
  for (const std::string_view zone : {"Europe/Zurich", "Asia/Tokyo", "Lower"}) {
    for (const std::string& country : table.CountriesOf(zone)) {
      if (country.size() != 2 || country[0] < 'A' || country[0] > 'Z') {
        __builtin_trap();
      }
      bool back = false;
      for (const std::string& listed : table.ZonesOf(country)) {
        back = back || listed == zone;
      }
      if (!back) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
