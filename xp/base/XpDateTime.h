#pragma once

#include <time.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "xp/base/XpDateTimeSpan.h"

/// The calendar fields of an XpDateTime.
struct XpDateTimeFields {
  int year = 0;
  int month = 0;      ///< 1 to 12
  int day = 0;        ///< 1 to 31
  int hour = 0;       ///< 0 to 23
  int minute = 0;     ///< 0 to 59
  int second = 0;     ///< 0 to 59
  int dayOfWeek = 0;  ///< 1 Sunday to 7 Saturday

  friend bool operator==(const XpDateTimeFields&, const XpDateTimeFields&) = default;
};

/// A calendar date and time of day with second resolution and a validity flag,
/// held as an OLE Automation date: whole days since 30 December 1899 00:00 plus
/// the time of day as a fraction of a day. A negative value counts its whole
/// days backwards but its fraction forwards (-1.25 is 29 December 1899 06:00).
/// Valid values lie between 1 January 100 00:00:00 and 31 December 9999
/// 23:59:59 in the proleptic Gregorian calendar. A value carries no time zone:
/// the operation that made it says whether it is local or universal time.
class XpDateTime {
 public:
  /// The first and last moments a valid value can hold, as linear day counts.
  static constexpr double kMinValue = -657434.0;
  static constexpr double kMaxValue = 2958465.999988426;

  /// Date styles of FormatDate.
  static constexpr int kShortDate = 0;
  static constexpr int kLongDate = 1;
  static constexpr int kYearMonth = 2;
  /// Precisions of FormatTime.
  static constexpr int kHours = 0;
  static constexpr int kMinutes = 1;
  static constexpr int kSeconds = 2;

  /// The value 0, not valid.
  XpDateTime() = default;
  /// From calendar fields; see SetDateTime.
  XpDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  XpDateTime(const XpDateTime&) = default;
  XpDateTime& operator=(const XpDateTime&) = default;
  virtual ~XpDateTime() = default;

  /// A raw OLE Automation date; valid when it lies in the valid range.
  [[nodiscard]] static XpDateTime FromValue(double value);
  /// Seconds since 1 January 1970 UTC turned into the local calendar time of
  /// the process's time zone; not valid when that fails or is out of range.
  [[nodiscard]] static XpDateTime FromSeconds(std::int64_t secondsSince1970);
  /// The current local time, to the second.
  [[nodiscard]] static XpDateTime Now();

  /// Sets the value from fields. Valid only for year 100 to 9999, month 1 to 12,
  /// day 1 to the month's length, hour 0 to 23, minute and second 0 to 59;
  /// otherwise the value stays as it was and is marked not valid. Answers the
  /// validity.
  bool SetDateTime(int year, int month, int day, int hour, int minute, int second);

  /// Reads up to six integers from `text` with the scan format `format` in the
  /// order year, month, day, hour, minute, second, then sets the value from
  /// them: three read give 00:00:00, four give minutes and seconds 0, five give
  /// seconds 0; fewer than three leave the value as it was and mark it not
  /// valid. The format knows %d and %u with an optional field width (as in
  /// "%04d"), %% and %*d, white space (matching any run of white space, also
  /// none) and literal characters; anything else ends the scan. A number that
  /// does not fit in an int ends the scan too. Answers the validity.
  bool Parse(std::string_view text, std::string_view format);

  [[nodiscard]] bool IsValid() const { return m_valid; }
  /// The OLE Automation date as stored.
  [[nodiscard]] double GetValue() const { return m_value; }

  /// The calendar fields, after rounding the value to the nearest second (a
  /// half second rounds to the later second); nothing for a value not valid.
  [[nodiscard]] std::optional<XpDateTimeFields> GetFields() const;
  /// 1 to 366, or -1 for a value not valid.
  [[nodiscard]] int DayOfYear() const;

  /// The value taken as local time in the process's time zone and turned into
  /// seconds since 1970 UTC (the inverse of FromSeconds); nothing when not valid
  /// or the conversion fails.
  [[nodiscard]] std::optional<std::int64_t> ToSeconds() const;
  /// The value taken as local time and turned into the system's universal file
  /// time (seconds and nanoseconds since 1970 UTC, as futimens takes it).
  [[nodiscard]] std::optional<struct timespec> ToFileTime() const;

  /// The date in the user's locale (from LC_ALL, LC_TIME or LANG): style 0
  /// short, 1 long, 2 year and month. Empty for a value not valid, an unknown
  /// style, or a failed conversion.
  [[nodiscard]] std::string FormatDate(int style) const;
  /// The same in the named locale ("en_US", "de_DE", "ja_JP", ...).
  [[nodiscard]] std::string FormatDate(int style, std::string_view locale) const;
  /// The time of day in the user's locale: precision 0 hours, 1 hours and
  /// minutes, 2 hours, minutes and seconds. With `force24Hour` the 24-hour form
  /// without a time marker is used; otherwise the locale's own form. Empty on
  /// failure as FormatDate.
  [[nodiscard]] std::string FormatTime(int precision, bool force24Hour) const;
  [[nodiscard]] std::string FormatTime(int precision, bool force24Hour, std::string_view locale) const;
  /// FormatDate, one blank, FormatTime; empty when either is empty.
  [[nodiscard]] std::string Format(int dateStyle, int precision, bool force24Hour) const;
  [[nodiscard]] std::string Format(int dateStyle, int precision, bool force24Hour, std::string_view locale) const;

  /// Shifts the value; the result is valid when this value and the span are
  /// valid and the result lies in the valid range.
  XpDateTime& operator+=(const XpDateTimeSpan& span);
  XpDateTime& operator-=(const XpDateTimeSpan& span);
  [[nodiscard]] XpDateTime operator+(const XpDateTimeSpan& span) const;
  [[nodiscard]] XpDateTime operator-(const XpDateTimeSpan& span) const;
  /// Shifts by hours, minutes and seconds (each may be negative).
  XpDateTime& AddTime(std::int64_t hours, std::int64_t minutes, std::int64_t seconds);
  XpDateTime& SubtractTime(std::int64_t hours, std::int64_t minutes, std::int64_t seconds);

  /// The difference as a span; valid when both values are.
  [[nodiscard]] XpDateTimeSpan operator-(const XpDateTime& other) const;

  /// Comparisons of the points in time, so that earlier always compares less,
  /// also for negative values.
  friend bool operator==(const XpDateTime& a, const XpDateTime& b);
  friend std::partial_ordering operator<=>(const XpDateTime& a, const XpDateTime& b);

 private:
  void SetLinear(double linear, bool valid);

  double m_value = 0.0;
  bool m_valid = false;
};

/// The user's locale for dates and times, taken from LC_ALL, LC_TIME or LANG
/// (the first that is set and not empty), in ICU's spelling ("de_DE.UTF-8"
/// gives "de_DE"); "en_US_POSIX" when none is set.
[[nodiscard]] std::string XpUserLocaleName();
