// Date texts from pictures and saved states: parses them with the scan formats
// the program uses (or one taken from the input) and checks that every value
// that comes out valid reads back to the fields it was built from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "xp/base/XpDateTime.h"

namespace {

constexpr std::string_view kFormats[] = {
    "%04d:%02d:%02d %02d:%02d:%02d",
    "\t\t%d/%d/%d %d:%d:%d\n",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  // The first byte picks the format: below 0x80 a known one, else the format is
  // the input up to the first NUL byte and the text is what follows.
  const std::uint8_t selector = data[0];
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view format;
  std::string_view text;
  if (selector < 0x80) {
    format = kFormats[selector % std::size(kFormats)];
    text = input;
  } else {
    const auto nul = input.find('\0');
    format = input.substr(0, nul);
    text = nul == std::string_view::npos ? std::string_view{} : input.substr(nul + 1);
  }

  XpDateTime value(2001, 2, 3);
  const double before = value.GetValue();
  const bool valid = value.Parse(text, format);
  if (valid != value.IsValid()) {
    std::abort();
  }
  if (!valid) {
    if (value.GetValue() != before || value.GetFields().has_value()) {
      std::abort();
    }
    return 0;
  }
  const auto fields = value.GetFields();
  if (!fields || fields->year < 100 || fields->year > 9999 || fields->dayOfWeek < 1 || fields->dayOfWeek > 7) {
    std::abort();
  }
  const XpDateTime rebuilt(fields->year, fields->month, fields->day, fields->hour, fields->minute, fields->second);
  if (!rebuilt.IsValid() || !(rebuilt == value)) {
    std::abort();
  }
  const int dayOfYear = value.DayOfYear();
  if (dayOfYear < 1 || dayOfYear > 366) {
    std::abort();
  }
  const XpDateTime shifted = value + XpDateTimeSpan(static_cast<double>(size) * 1000.25 - 50000.0);
  (void)shifted.GetFields();
  if (value.FormatDate(selector % 3, "en_US").empty()) {
    std::abort();
  }
  return 0;
}
