#include "xp/base/XpDateTime.h"

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>

#include "xp/base/XpCalendar.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Whole days since 30 December 1899, the day the values count from, for a date
// in the proleptic Gregorian calendar.
std::int64_t DayNumber(int year, int month, int day) { return XpDaysSince1970(year, month, day) + kXpDayOf1970; }

bool FieldsAreValid(int year, int month, int day, int hour, int minute, int second) {
  return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= XpDaysInMonth(year, month) &&
         hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

// A negative value counts its whole days backwards and its fraction forwards;
// the linear form counts both the same way, so that it can be added and compared.
double ToLinear(double value) {
  if (!(value < 0.0)) {
    return value;
  }
  const double whole = std::trunc(value);
  return whole + (whole - value);
}

double FromLinear(double linear) {
  if (!(linear < 0.0)) {
    return linear;
  }
  const double whole = std::floor(linear);
  return whole - (linear - whole);
}

bool InRange(double linear) { return linear >= XpDateTime::kMinValue && linear <= XpDateTime::kMaxValue; }

// A point in time rounded to the second, as a day number and a second of that day.
struct DaySecond {
  std::int64_t day = 0;
  std::int64_t second = 0;
};

// Rounding happens on the linear form: a value just before midnight of a day
// before 1900 then rounds to the next day, where rounding the stored value away
// from zero would jump back a whole day.
DaySecond RoundToSecond(double linear) {
  const auto total = static_cast<std::int64_t>(std::floor(linear * static_cast<double>(kSecondsPerDay) + 0.5));
  std::int64_t day = total / kSecondsPerDay;
  std::int64_t second = total % kSecondsPerDay;
  if (second < 0) {
    second += kSecondsPerDay;
    --day;
  }
  return {day, second};
}

XpDateTimeFields FieldsOf(const DaySecond& point) {
  const std::chrono::sys_days day{std::chrono::days{point.day - kXpDayOf1970}};
  const std::chrono::year_month_day date{day};
  XpDateTimeFields fields;
  fields.year = static_cast<int>(date.year());
  fields.month = static_cast<int>(static_cast<unsigned>(date.month()));
  fields.day = static_cast<int>(static_cast<unsigned>(date.day()));
  fields.hour = static_cast<int>(point.second / 3600);
  fields.minute = static_cast<int>(point.second / 60 % 60);
  fields.second = static_cast<int>(point.second % 60);
  // 1 for a Sunday to 7 for a Saturday.
  fields.dayOfWeek = static_cast<int>(std::chrono::weekday{day}.c_encoding()) + 1;
  return fields;
}

bool IsScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The part of scanf that date texts need, without its undefined behaviour on
// numbers that do not fit: answers how many integers were stored (at most
// values.size()).
int ScanIntegers(std::string_view text, std::string_view format, std::array<int, 6>& values) {
  std::size_t t = 0;
  int count = 0;
  const auto skipSpace = [&] {
    while (t < text.size() && IsScanSpace(text[t])) {
      ++t;
    }
  };
  std::size_t f = 0;
  while (f < format.size()) {
    const char fc = format[f];
    if (IsScanSpace(fc)) {
      skipSpace();
      while (f < format.size() && IsScanSpace(format[f])) {
        ++f;
      }
      continue;
    }
    if (fc != '%') {
      if (t >= text.size() || text[t] != fc) {
        return count;
      }
      ++t;
      ++f;
      continue;
    }
    ++f;
    if (f < format.size() && format[f] == '%') {
      skipSpace();
      if (t >= text.size() || text[t] != '%') {
        return count;
      }
      ++t;
      ++f;
      continue;
    }
    bool suppress = false;
    if (f < format.size() && format[f] == '*') {
      suppress = true;
      ++f;
    }
    std::size_t width = 0;
    bool hasWidth = false;
    while (f < format.size() && IsDigit(format[f])) {
      width = std::min<std::size_t>(width * 10 + static_cast<std::size_t>(format[f] - '0'), 1U << 20);
      hasWidth = true;
      ++f;
    }
    while (f < format.size() && (format[f] == 'h' || format[f] == 'l' || format[f] == 'j' || format[f] == 'z' ||
                                 format[f] == 't' || format[f] == 'L')) {
      ++f;
    }
    if (f >= format.size() || (format[f] != 'd' && format[f] != 'u') || (hasWidth && width == 0)) {
      return count;
    }
    ++f;
    skipSpace();
    const std::size_t limit = hasWidth ? std::min(text.size(), t + width) : text.size();
    std::size_t p = t;
    bool negative = false;
    if (p < limit && (text[p] == '+' || text[p] == '-')) {
      negative = text[p] == '-';
      ++p;
    }
    const std::size_t digits = p;
    std::int64_t magnitude = 0;
    bool tooLarge = false;
    for (; p < limit && IsDigit(text[p]); ++p) {
      if (!tooLarge) {
        magnitude = magnitude * 10 + (text[p] - '0');
        tooLarge = magnitude > static_cast<std::int64_t>(std::numeric_limits<int>::max()) + 1;
      }
    }
    if (p == digits || tooLarge || (!negative && magnitude > std::numeric_limits<int>::max())) {
      return count;
    }
    t = p;
    if (suppress) {
      continue;
    }
    if (count == static_cast<int>(values.size())) {
      return count;
    }
    values[static_cast<std::size_t>(count++)] = static_cast<int>(negative ? -magnitude : magnitude);
  }
  return count;
}

// ---- Formatting through ICU ----

enum class Pattern { ShortDate, LongDate, YearMonth, Time };

// Builds a formatter whose calendar is the proleptic Gregorian one (no switch
// to the Julian calendar before 1582) in universal time, so that the fields
// given to it come out unchanged.
std::unique_ptr<icu::DateFormat> CreateFormatter(const icu::Locale& locale, Pattern pattern, const char* skeleton) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::DateFormat> formatter;
  switch (pattern) {
    case Pattern::ShortDate:
      formatter.reset(icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale));
      break;
    case Pattern::LongDate:
      formatter.reset(icu::DateFormat::createDateInstance(icu::DateFormat::kLong, locale));
      break;
    case Pattern::YearMonth:
    case Pattern::Time: {
      std::unique_ptr<icu::DateTimePatternGenerator> generator(
          icu::DateTimePatternGenerator::createInstance(locale, status));
      if (U_FAILURE(status) || generator == nullptr) {
        return nullptr;
      }
      const icu::UnicodeString best = generator->getBestPattern(icu::UnicodeString(skeleton, -1, US_INV), status);
      if (U_FAILURE(status)) {
        return nullptr;
      }
      formatter = std::make_unique<icu::SimpleDateFormat>(best, locale, status);
      break;
    }
  }
  if (U_FAILURE(status) || formatter == nullptr) {
    return nullptr;
  }
  // The Gregorian calendar and those built on it (Buddhist, Japanese eras).
  if (const auto* calendar = dynamic_cast<const icu::GregorianCalendar*>(formatter->getCalendar());
      calendar != nullptr) {
    std::unique_ptr<icu::GregorianCalendar> proleptic(calendar->clone());
    if (proleptic != nullptr) {
      // Far before year 100, yet small enough for the calendar's own day arithmetic.
      proleptic->setGregorianChange(-8.64e15, status);
      formatter->adoptCalendar(proleptic.release());
    }
  }
  formatter->setTimeZone(*icu::TimeZone::getGMT());
  return U_FAILURE(status) ? nullptr : std::move(formatter);
}

// Formatters are costly to build and not safe to share between threads: each
// thread keeps the few it has used.
icu::DateFormat* CachedFormatter(std::string_view localeName, Pattern pattern, const char* skeleton) {
  thread_local std::map<std::string, std::unique_ptr<icu::DateFormat>> cache;
  std::string key(localeName);
  key.push_back('\x1f');
  key.append(skeleton);
  key.push_back(static_cast<char>('0' + static_cast<int>(pattern)));
  if (auto it = cache.find(key); it != cache.end()) {
    return it->second.get();
  }
  if (cache.size() >= 64) {
    cache.clear();
  }
  const icu::Locale locale(std::string(localeName).c_str());
  if (locale.isBogus()) {
    return nullptr;
  }
  auto formatter = CreateFormatter(locale, pattern, skeleton);
  if (formatter == nullptr) {
    return nullptr;
  }
  return cache.emplace(std::move(key), std::move(formatter)).first->second.get();
}

std::string FormatPoint(const DaySecond& point, std::string_view localeName, Pattern pattern, const char* skeleton) {
  if (localeName.find('\0') != std::string_view::npos) {
    return {};
  }
  icu::DateFormat* formatter = CachedFormatter(localeName, pattern, skeleton);
  if (formatter == nullptr) {
    return {};
  }
  const double millis = static_cast<double>((point.day - kXpDayOf1970) * kSecondsPerDay + point.second) * 1000.0;
  icu::UnicodeString text;
  formatter->format(millis, text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace

XpDateTime::XpDateTime(int year, int month, int day, int hour, int minute, int second) {
  SetDateTime(year, month, day, hour, minute, second);
}

XpDateTime XpDateTime::FromValue(double value) {
  XpDateTime result;
  result.m_value = value;
  result.m_valid = std::isfinite(value) && InRange(ToLinear(value));
  return result;
}

XpDateTime XpDateTime::FromSeconds(std::int64_t secondsSince1970) {
  XpDateTime result;
  const auto seconds = static_cast<time_t>(secondsSince1970);
  if (static_cast<std::int64_t>(seconds) != secondsSince1970) {
    return result;
  }
  struct tm local {};
  if (::localtime_r(&seconds, &local) == nullptr) {
    return result;
  }
  // A leap second is shown as the last ordinary second of its minute.
  const int second = std::min(local.tm_sec, 59);
  if (local.tm_year > std::numeric_limits<int>::max() - 1900) {
    return result;
  }
  result.SetDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, second);
  return result;
}

XpDateTime XpDateTime::Now() { return FromSeconds(static_cast<std::int64_t>(::time(nullptr))); }

bool XpDateTime::SetDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (!FieldsAreValid(year, month, day, hour, minute, second)) {
    m_valid = false;
    return false;
  }
  const std::int64_t days = DayNumber(year, month, day);
  const double fraction = static_cast<double>(3600 * hour + 60 * minute + second) / static_cast<double>(kSecondsPerDay);
  m_value = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
  m_valid = true;
  return true;
}

bool XpDateTime::Parse(std::string_view text, std::string_view format) {
  std::array<int, 6> values{};
  const int count = ScanIntegers(text, format, values);
  if (count < 3) {
    m_valid = false;
    return false;
  }
  return SetDateTime(values[0], values[1], values[2], count > 3 ? values[3] : 0, count > 4 ? values[4] : 0,
                     count > 5 ? values[5] : 0);
}

std::optional<XpDateTimeFields> XpDateTime::GetFields() const {
  if (!m_valid) {
    return std::nullopt;
  }
  return FieldsOf(RoundToSecond(ToLinear(m_value)));
}

int XpDateTime::DayOfYear() const {
  if (!m_valid) {
    return -1;
  }
  const DaySecond point = RoundToSecond(ToLinear(m_value));
  const XpDateTimeFields fields = FieldsOf(point);
  return static_cast<int>(point.day - DayNumber(fields.year, 1, 1) + 1);
}

std::optional<std::int64_t> XpDateTime::ToSeconds() const {
  const auto fields = GetFields();
  if (!fields) {
    return std::nullopt;
  }
  struct tm local {};
  local.tm_year = fields->year - 1900;
  local.tm_mon = fields->month - 1;
  local.tm_mday = fields->day;
  local.tm_hour = fields->hour;
  local.tm_min = fields->minute;
  local.tm_sec = fields->second;
  local.tm_isdst = -1;
  const time_t seconds = ::mktime(&local);
  if (seconds == static_cast<time_t>(-1)) {
    // -1 is also one second before 1970; tell it from a failure.
    struct tm check {};
    const time_t minusOne = -1;
    if (::localtime_r(&minusOne, &check) == nullptr || check.tm_year != fields->year - 1900 ||
        check.tm_mon != fields->month - 1 || check.tm_mday != fields->day || check.tm_hour != fields->hour ||
        check.tm_min != fields->minute || check.tm_sec != fields->second) {
      return std::nullopt;
    }
  }
  return static_cast<std::int64_t>(seconds);
}

std::optional<struct timespec> XpDateTime::ToFileTime() const {
  const auto seconds = ToSeconds();
  if (!seconds) {
    return std::nullopt;
  }
  struct timespec time {};
  time.tv_sec = static_cast<time_t>(*seconds);
  return time;
}

std::string XpDateTime::FormatDate(int style) const { return FormatDate(style, XpUserLocaleName()); }

std::string XpDateTime::FormatDate(int style, std::string_view locale) const {
  if (!m_valid) {
    return {};
  }
  const DaySecond point = RoundToSecond(ToLinear(m_value));
  switch (style) {
    case kShortDate:
      return FormatPoint(point, locale, Pattern::ShortDate, "");
    case kLongDate:
      return FormatPoint(point, locale, Pattern::LongDate, "");
    case kYearMonth:
      return FormatPoint(point, locale, Pattern::YearMonth, "yMMMM");
    default:
      return {};
  }
}

std::string XpDateTime::FormatTime(int precision, bool force24Hour) const {
  return FormatTime(precision, force24Hour, XpUserLocaleName());
}

std::string XpDateTime::FormatTime(int precision, bool force24Hour, std::string_view locale) const {
  if (!m_valid || precision < kHours || precision > kSeconds) {
    return {};
  }
  // "H" asks for the 24-hour clock without a marker, "j" for the locale's own hour cycle.
  static constexpr std::array<const char*, 3> k24Hour = {"H", "Hm", "Hms"};
  static constexpr std::array<const char*, 3> kLocaleHour = {"j", "jm", "jms"};
  const auto index = static_cast<std::size_t>(precision);
  return FormatPoint(RoundToSecond(ToLinear(m_value)), locale, Pattern::Time,
                     force24Hour ? k24Hour[index] : kLocaleHour[index]);
}

std::string XpDateTime::Format(int dateStyle, int precision, bool force24Hour) const {
  return Format(dateStyle, precision, force24Hour, XpUserLocaleName());
}

std::string XpDateTime::Format(int dateStyle, int precision, bool force24Hour, std::string_view locale) const {
  std::string date = FormatDate(dateStyle, locale);
  const std::string time = FormatTime(precision, force24Hour, locale);
  if (date.empty() || time.empty()) {
    return {};
  }
  date.push_back(' ');
  date.append(time);
  return date;
}

void XpDateTime::SetLinear(double linear, bool valid) {
  m_value = FromLinear(linear);
  m_valid = valid && std::isfinite(linear) && InRange(linear);
}

XpDateTime& XpDateTime::operator+=(const XpDateTimeSpan& span) {
  SetLinear(ToLinear(m_value) + span.GetTotalDays(), m_valid && span.IsValid());
  return *this;
}

XpDateTime& XpDateTime::operator-=(const XpDateTimeSpan& span) {
  SetLinear(ToLinear(m_value) - span.GetTotalDays(), m_valid && span.IsValid());
  return *this;
}

XpDateTime XpDateTime::operator+(const XpDateTimeSpan& span) const {
  XpDateTime result(*this);
  result += span;
  return result;
}

XpDateTime XpDateTime::operator-(const XpDateTimeSpan& span) const {
  XpDateTime result(*this);
  result -= span;
  return result;
}

XpDateTime& XpDateTime::AddTime(std::int64_t hours, std::int64_t minutes, std::int64_t seconds) {
  return *this += XpDateTimeSpan(0, hours, minutes, seconds);
}

XpDateTime& XpDateTime::SubtractTime(std::int64_t hours, std::int64_t minutes, std::int64_t seconds) {
  return *this -= XpDateTimeSpan(0, hours, minutes, seconds);
}

XpDateTimeSpan XpDateTime::operator-(const XpDateTime& other) const {
  XpDateTimeSpan span(ToLinear(m_value) - ToLinear(other.m_value));
  span.m_valid = span.m_valid && m_valid && other.m_valid;
  return span;
}

bool operator==(const XpDateTime& a, const XpDateTime& b) { return ToLinear(a.m_value) == ToLinear(b.m_value); }

std::partial_ordering operator<=>(const XpDateTime& a, const XpDateTime& b) {
  return ToLinear(a.m_value) <=> ToLinear(b.m_value);
}

// ---- XpDateTimeSpan ----

XpDateTimeSpan::XpDateTimeSpan(double days) : m_days(days), m_valid(std::fabs(days) <= kMaxDays) {}

XpDateTimeSpan::XpDateTimeSpan(std::int64_t days, std::int64_t hours, std::int64_t minutes, std::int64_t seconds)
    : XpDateTimeSpan(static_cast<double>(days) + static_cast<double>(hours) / 24.0 +
                     static_cast<double>(minutes) / 1440.0 + static_cast<double>(seconds) / 86400.0) {}

std::int64_t XpDateTimeSpan::GetTotalSeconds() const {
  const double seconds = m_days * 86400.0;
  // Only a valid span has a meaningful count; anything else reads as zero
  // rather than overflowing the conversion.
  if (!(std::fabs(seconds) < 9.0e18)) {
    return 0;
  }
  return static_cast<std::int64_t>(std::llround(seconds));
}

XpDateTimeSpan XpDateTimeSpan::operator+(const XpDateTimeSpan& other) const {
  XpDateTimeSpan sum(m_days + other.m_days);
  sum.m_valid = sum.m_valid && m_valid && other.m_valid;
  return sum;
}

XpDateTimeSpan XpDateTimeSpan::operator-(const XpDateTimeSpan& other) const {
  XpDateTimeSpan difference(m_days - other.m_days);
  difference.m_valid = difference.m_valid && m_valid && other.m_valid;
  return difference;
}

XpDateTimeSpan XpDateTimeSpan::operator-() const {
  XpDateTimeSpan negated(-m_days);
  negated.m_valid = m_valid;
  return negated;
}

std::string XpUserLocaleName() {
  std::string name;
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      name = value;
      break;
    }
  }
  // Drop the code set and the modifier ("de_DE.UTF-8@euro" is "de_DE"): the
  // modifiers of system locale names are no ICU keywords.
  if (const auto cut = name.find_first_of(".@"); cut != std::string::npos) {
    name.erase(cut);
  }
  if (name.empty() || name == "C" || name == "POSIX") {
    return "en_US_POSIX";
  }
  if (name.size() >= ULOC_FULLNAME_CAPACITY) {
    return "en_US_POSIX";
  }
  std::array<char, ULOC_FULLNAME_CAPACITY> canonical{};
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length =
      uloc_canonicalize(name.c_str(), canonical.data(), static_cast<int32_t>(canonical.size()), &status);
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0) {
    return "en_US_POSIX";
  }
  return std::string(canonical.data(), static_cast<std::size_t>(length));
}
