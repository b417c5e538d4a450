#pragma once

#include <chrono>
#include <cstdint>

// Calendar facts of the proleptic Gregorian calendar, answered by the standard
// library's calendar types rather than by hand-written leap-year rules.

/// Whether `year` has a 29 February.
[[nodiscard]] constexpr bool XpIsLeapYear(int year) { return std::chrono::year{year}.is_leap(); }

/// The number of days of `month` (1 to 12) in `year`; 0 for any other month.
[[nodiscard]] constexpr int XpDaysInMonth(int year, int month) {
  if (month < 1 || month > 12) {
    return 0;
  }
  const std::chrono::year_month_day_last last{std::chrono::year{year} /
                                              std::chrono::month{static_cast<unsigned>(month)} / std::chrono::last};
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

/// Days from 1 January 1970 to the given date (negative before it). The month
/// is 1 to 12; a day past the month's end counts on into the next month.
[[nodiscard]] constexpr std::int64_t XpDaysSince1970(int year, int month, int day) {
  const std::chrono::year_month_day first{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                          std::chrono::day{1}};
  return std::chrono::sys_days{first}.time_since_epoch().count() + day - 1;
}

/// 1 January 1970 as a date-time value, which counts days from 30 December 1899.
inline constexpr std::int64_t kXpDayOf1970 = -XpDaysSince1970(1899, 12, 30);
