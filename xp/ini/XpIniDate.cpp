#include "xp/ini/XpIniDate.h"

#include <array>
#include <cstdio>
#include <limits>

#include "xp/ini/XpIniPath.h"

XpStatus XpIniDate::GetDate(XpDateTime& out) const {
  out = m_value;
  return XpStatus::Ok;
}

XpStatus XpIniDate::SetDate(const XpDateTime& value) {
  m_value = value;
  return XpStatus::Ok;
}

XpStatus XpIniDate::ReadText(std::string_view text) {
  if (text.empty()) {
    return XpStatus::XmlFailed;
  }
  std::array<int, 6> fields{};
  std::size_t pos = 0;
  for (int& field : fields) {
    const std::string_view rest = text.substr(pos);
    const std::int64_t number = XpIniReadDecimal(rest);
    field = number < std::numeric_limits<int>::min()   ? std::numeric_limits<int>::min()
            : number > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                       : static_cast<int>(number);
    // Skip the digits at the current position and exactly one character after
    // them, whatever it is: that makes ":", "-", "T" and " " all separators.
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      ++pos;
    }
    if (pos < text.size()) {
      ++pos;
    }
  }
  XpDateTime value;
  (void)value.SetDateTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
  m_value = value;
  return XpStatus::Ok;
}

std::string XpIniDate::WriteText() const {
  const auto fields = m_value.GetFields();
  char buf[64];
  if (!fields) {
    return "0000:00:00T00:00:00Z";
  }
  std::snprintf(buf, sizeof buf, "%04d:%02d:%02dT%02d:%02d:%02dZ", fields->year, fields->month, fields->day,
                fields->hour, fields->minute, fields->second);
  return buf;
}
