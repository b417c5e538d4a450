#pragma once

#include <compare>
#include <cstdint>

/// The difference of two XpDateTime values: a signed number of days (the
/// fraction is the time of day) and a validity flag. Valid while its magnitude
/// is at most kMaxDays, the distance between the first and the last moment an
/// XpDateTime can hold.
class XpDateTimeSpan {
 public:
  static constexpr double kMaxDays = 3615899.999988426;

  /// A zero span, valid.
  XpDateTimeSpan() = default;
  /// A span of `days` (fraction included); invalid when out of range or not a number.
  explicit XpDateTimeSpan(double days);
  /// days + hours/24 + minutes/1440 + seconds/86400; any of them may be negative.
  XpDateTimeSpan(std::int64_t days, std::int64_t hours, std::int64_t minutes, std::int64_t seconds);

  [[nodiscard]] double GetTotalDays() const { return m_days; }
  [[nodiscard]] bool IsValid() const { return m_valid; }

  /// The span rounded to the nearest whole second (halves away from zero).
  [[nodiscard]] std::int64_t GetTotalSeconds() const;
  /// The whole days, hours (0 to 23), minutes and seconds (0 to 59) of the span
  /// rounded to the nearest second; each carries the span's sign.
  [[nodiscard]] std::int64_t GetDays() const { return GetTotalSeconds() / 86400; }
  [[nodiscard]] int GetHours() const { return static_cast<int>(GetTotalSeconds() / 3600 % 24); }
  [[nodiscard]] int GetMinutes() const { return static_cast<int>(GetTotalSeconds() / 60 % 60); }
  [[nodiscard]] int GetSeconds() const { return static_cast<int>(GetTotalSeconds() % 60); }

  /// Sums and differences are valid when both sides are and the result is in range.
  XpDateTimeSpan operator+(const XpDateTimeSpan& other) const;
  XpDateTimeSpan operator-(const XpDateTimeSpan& other) const;
  XpDateTimeSpan operator-() const;

  friend bool operator==(const XpDateTimeSpan& a, const XpDateTimeSpan& b) { return a.m_days == b.m_days; }
  friend std::partial_ordering operator<=>(const XpDateTimeSpan& a, const XpDateTimeSpan& b) {
    return a.m_days <=> b.m_days;
  }

 private:
  friend class XpDateTime;

  double m_days = 0.0;
  bool m_valid = true;
};
