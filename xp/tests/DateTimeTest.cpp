#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "xp/base/XpDateTime.h"
#include "xp/tests/TestSupport.h"

namespace {

using testsupport::EnvGuard;

constexpr const char* kExifFormat = "%04d:%02d:%02d %02d:%02d:%02d";
constexpr const char* kStateFileFormat = "\t\t%d/%d/%d %d:%d:%d\n";
// Central European time with its summer rule, spelled out so that no time-zone
// database is needed.
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// Pins the process time zone for one test.
class TimeZoneGuard {
 public:
  explicit TimeZoneGuard(const char* zone) : m_env(std::make_unique<EnvGuard>("TZ", zone)) { ::tzset(); }
  TimeZoneGuard(const TimeZoneGuard&) = delete;
  TimeZoneGuard& operator=(const TimeZoneGuard&) = delete;
  ~TimeZoneGuard() {
    m_env.reset();
    ::tzset();
  }

 private:
  std::unique_ptr<EnvGuard> m_env;
};

XpDateTimeFields Fields(int year, int month, int day, int hour, int minute, int second, int dayOfWeek) {
  return {year, month, day, hour, minute, second, dayOfWeek};
}

// ---- Building from fields ----

TEST(XpDateTime, DefaultValueIsZeroAndNotValid) {
  const XpDateTime value;
  EXPECT_FALSE(value.IsValid());
  EXPECT_EQ(value.GetValue(), 0.0);
  EXPECT_FALSE(value.GetFields().has_value());
  EXPECT_EQ(value.DayOfYear(), -1);
  EXPECT_FALSE(value.ToSeconds().has_value());
  EXPECT_EQ(value.FormatDate(XpDateTime::kShortDate, "en_US"), "");
}

TEST(XpDateTime, LeapDaysFollowTheGregorianRule) {
  EXPECT_FALSE(XpDateTime(2007, 2, 29).IsValid());
  EXPECT_TRUE(XpDateTime(2000, 2, 29).IsValid());
  EXPECT_FALSE(XpDateTime(1900, 2, 29).IsValid());
  EXPECT_TRUE(XpDateTime(2004, 2, 29).IsValid());
}

TEST(XpDateTime, FieldsOutsideTheirRangesAreNotValid) {
  struct Case {
    int year, month, day, hour, minute, second;
    bool valid;
  };
  const Case cases[] = {
      {99, 12, 31, 23, 59, 59, false},
      {100, 1, 1, 0, 0, 0, true},
      {9999, 12, 31, 23, 59, 59, true},
      {10000, 1, 1, 0, 0, 0, false},
      {2007, 0, 1, 0, 0, 0, false},
      {2007, 13, 1, 0, 0, 0, false},
      {2007, 1, 0, 0, 0, 0, false},
      {2007, 1, 32, 0, 0, 0, false},
      {2007, 4, 31, 0, 0, 0, false},
      {2007, 4, 30, 0, 0, 0, true},
      {2007, 1, 1, 24, 0, 0, false},
      {2007, 1, 1, -1, 0, 0, false},
      {2007, 1, 1, 0, 60, 0, false},
      {2007, 1, 1, 0, 0, 60, false},
      {2007, 1, 1, 0, 0, -1, false},
      {-2007, 1, 1, 0, 0, 0, false},
      {std::numeric_limits<int>::max(), 1, 1, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute
                                    << ":" << c.second);
    EXPECT_EQ(XpDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second).IsValid(), c.valid);
  }
}

TEST(XpDateTime, InvalidFieldsKeepTheValueAndClearValidity) {
  XpDateTime value(2007, 3, 7, 9, 5, 3);
  const double before = value.GetValue();
  EXPECT_FALSE(value.SetDateTime(2007, 2, 29, 0, 0, 0));
  EXPECT_FALSE(value.IsValid());
  EXPECT_EQ(value.GetValue(), before);
  EXPECT_TRUE(value.SetDateTime(2007, 2, 28, 0, 0, 0));
  EXPECT_TRUE(value.IsValid());
}

TEST(XpDateTime, ValuesCountDaysFromTheLastDaysOf1899) {
  struct Case {
    XpDateTime date;
    double value;
  };
  const Case cases[] = {
      {XpDateTime(1899, 12, 30), 0.0},
      {XpDateTime(1899, 12, 31), 1.0},
      {XpDateTime(1900, 1, 1), 2.0},
      {XpDateTime(1899, 12, 30, 18, 0, 0), 0.75},
      {XpDateTime(1899, 12, 29, 6, 0, 0), -1.25},
      {XpDateTime(1899, 12, 28, 12, 0, 0), -2.5},
      {XpDateTime(1970, 1, 1), 25569.0},
      {XpDateTime(2007, 3, 7, 12, 0, 0), 39148.5},
      {XpDateTime(100, 1, 1), -657434.0},
      {XpDateTime(9999, 12, 31), 2958465.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_TRUE(c.date.IsValid());
    EXPECT_DOUBLE_EQ(c.date.GetValue(), c.value);
  }
}

TEST(XpDateTime, ZeroReadsAsMidnightOnThe30thOfDecember1899) {
  const auto fields = XpDateTime::FromValue(0.0).GetFields();
  ASSERT_TRUE(fields.has_value());
  EXPECT_EQ(*fields, Fields(1899, 12, 30, 0, 0, 0, 7));
}

TEST(XpDateTime, NegativeValuesCountTheirFractionForwards) {
  const auto fields = XpDateTime::FromValue(-1.25).GetFields();
  ASSERT_TRUE(fields.has_value());
  EXPECT_EQ(*fields, Fields(1899, 12, 29, 6, 0, 0, 6));
}

// Every day of the years around the calendar reform, the start of the count and
// today, and of the first and last years; the first and last day of every month
// elsewhere.
bool CheckEveryDay(int year) { return year < 110 || (year >= 1580 && year < 2420) || year > 9990; }

TEST(XpDateTime, FieldsReadBackForTheWholeValidRange) {
  XpDateTime previous;
  int previousDayOfWeek = 0;
  int checkedDays = 0;
  for (int year = 100; year <= 9999; ++year) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int monthLengths[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int dayOfYear = 0;
    for (int month = 1; month <= 12; ++month) {
      const int length = monthLengths[month - 1];
      EXPECT_FALSE(XpDateTime(year, month, length + 1).IsValid()) << year << "-" << month;
      for (int day = 1; day <= length; ++day) {
        ++dayOfYear;
        // The last day of a year is always checked, so every checked day of such a
        // year follows the one checked before it.
        const bool consecutive = CheckEveryDay(year);
        if (!CheckEveryDay(year) && day != 1 && day != length) {
          continue;
        }
        const XpDateTime date(year, month, day, 12, 34, 56);
        const auto fields = date.GetFields();
        const int expectedDayOfWeek = previousDayOfWeek % 7 + 1;
        if (!fields || fields->year != year || fields->month != month || fields->day != day || fields->hour != 12 ||
            fields->minute != 34 || fields->second != 56 || date.DayOfYear() != dayOfYear ||
            (previous.IsValid() && !(previous < date)) ||
            (previous.IsValid() && consecutive && fields->dayOfWeek != expectedDayOfWeek)) {
          ADD_FAILURE() << "wrong fields for " << year << "-" << month << "-" << day;
          return;
        }
        previousDayOfWeek = fields->dayOfWeek;
        previous = date;
        ++checkedDays;
      }
    }
    ASSERT_EQ(dayOfYear, leap ? 366 : 365);
  }
  EXPECT_GT(checkedDays, 500000);
}

TEST(XpDateTime, KnownWeekdays) {
  EXPECT_EQ(XpDateTime(2007, 3, 7).GetFields()->dayOfWeek, 4);  // a Wednesday
  EXPECT_EQ(XpDateTime(1970, 1, 1).GetFields()->dayOfWeek, 5);  // a Thursday
  EXPECT_EQ(XpDateTime(2000, 1, 2).GetFields()->dayOfWeek, 1);  // a Sunday
}

TEST(XpDateTime, GetFieldsRoundsToTheNearestSecond) {
  const double second = 1.0 / 86400.0;
  const double base = XpDateTime(2007, 3, 7, 9, 5, 3).GetValue();
  EXPECT_EQ(XpDateTime::FromValue(base + 0.4 * second).GetFields()->second, 3);
  EXPECT_EQ(XpDateTime::FromValue(base + 0.6 * second).GetFields()->second, 4);
  EXPECT_EQ(XpDateTime::FromValue(base - 0.4 * second).GetFields()->second, 3);
  const double lastSecond = XpDateTime(2007, 3, 7, 23, 59, 59).GetValue();
  EXPECT_EQ(*XpDateTime::FromValue(lastSecond + 0.7 * second).GetFields(), Fields(2007, 3, 8, 0, 0, 0, 5));
  EXPECT_EQ(XpDateTime::FromValue(lastSecond + 0.7 * second).DayOfYear(), 67);
}

TEST(XpDateTime, RoundingOfNegativeValuesMovesForwardInTime) {
  const double second = 1.0 / 86400.0;
  // 29 December 1899 06:00:00.6 rounds to 06:00:01.
  EXPECT_EQ(*XpDateTime::FromValue(-1.25 - 0.6 * second).GetFields(), Fields(1899, 12, 29, 6, 0, 1, 6));
  // Just before midnight of 29 December 1899: the next day, not two days back.
  EXPECT_EQ(*XpDateTime::FromValue(-1.0 - (1.0 - 0.3 * second)).GetFields(), Fields(1899, 12, 30, 0, 0, 0, 7));
}

TEST(XpDateTime, RangeIsFromYear100ToTheEndOfYear9999) {
  EXPECT_TRUE(XpDateTime::FromValue(XpDateTime::kMaxValue).IsValid());
  EXPECT_EQ(*XpDateTime::FromValue(XpDateTime::kMaxValue).GetFields(), Fields(9999, 12, 31, 23, 59, 59, 6));
  EXPECT_FALSE(XpDateTime::FromValue(2958466.0).IsValid());
  EXPECT_TRUE(XpDateTime::FromValue(XpDateTime::kMinValue).IsValid());
  EXPECT_FALSE(XpDateTime::FromValue(-657435.0).IsValid());
  EXPECT_FALSE(XpDateTime::FromValue(std::numeric_limits<double>::quiet_NaN()).IsValid());
  EXPECT_FALSE(XpDateTime::FromValue(std::numeric_limits<double>::infinity()).IsValid());
  EXPECT_FALSE(XpDateTime::FromValue(-std::numeric_limits<double>::infinity()).IsValid());
}

TEST(XpDateTime, NoonOfTheFirstDayIsInRangeAsItsFieldsSay) {
  const XpDateTime noon(100, 1, 1, 12, 0, 0);
  ASSERT_TRUE(noon.IsValid());
  EXPECT_DOUBLE_EQ(noon.GetValue(), -657434.5);
  EXPECT_TRUE(XpDateTime::FromValue(noon.GetValue()).IsValid());
  EXPECT_TRUE((noon + XpDateTimeSpan(0, 0, 0, 1)).IsValid());
  EXPECT_FALSE((XpDateTime(100, 1, 1) - XpDateTimeSpan(0, 0, 0, 1)).IsValid());
}

// ---- Parsing ----

TEST(XpDateTimeParse, ReadsTheExifForm) {
  XpDateTime value;
  ASSERT_TRUE(value.Parse("2007:03:07 09:05:03", kExifFormat));
  EXPECT_EQ(*value.GetFields(), Fields(2007, 3, 7, 9, 5, 3, 4));
}

TEST(XpDateTimeParse, FewerValuesFillTheTimeWithZeros) {
  struct Case {
    const char* text;
    int hour, minute, second;
  };
  const Case cases[] = {
      {"2007:03:07", 0, 0, 0},
      {"2007:03:07 09", 9, 0, 0},
      {"2007:03:07 09:05", 9, 5, 0},
      {"2007:03:07 09:05:03", 9, 5, 3},
      {"2007:03:07 09:05:03 and more", 9, 5, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    XpDateTime value;
    ASSERT_TRUE(value.Parse(c.text, kExifFormat));
    const auto fields = value.GetFields();
    EXPECT_EQ(fields->year, 2007);
    EXPECT_EQ(fields->hour, c.hour);
    EXPECT_EQ(fields->minute, c.minute);
    EXPECT_EQ(fields->second, c.second);
  }
}

TEST(XpDateTimeParse, TextsThatAreNotDatesAreNotValidAndKeepTheValue) {
  const std::string texts[] = {
      "0000:00:00 00:00:00",
      "    :  :     :  :  ",
      "2007:03",
      "",
      "2007-03-07 09:05:03",
      "2007:02:29 00:00:00",
      "2007:13:01 00:00:00",
      "2007:03:07 24:00:00",
      "99999999999999999999:03:07",
      "2147483648:03:07",
      "-2147483649:03:07",
      "2007:-3:07",
      std::string("2007:03\0:07", 11),
      "\xFF\xFE:03:07",
  };
  for (const auto& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text));
    XpDateTime value(2001, 2, 3);
    EXPECT_FALSE(value.Parse(text, kExifFormat));
    EXPECT_FALSE(value.IsValid());
    EXPECT_EQ(value.GetValue(), XpDateTime(2001, 2, 3).GetValue());
  }
}

TEST(XpDateTimeParse, FieldWidthsLimitTheDigitsRead) {
  XpDateTime value;
  ASSERT_TRUE(value.Parse("20070307090503", "%04d%02d%02d%02d%02d%02d"));
  EXPECT_EQ(*value.GetFields(), Fields(2007, 3, 7, 9, 5, 3, 4));
  // The width counts the sign too, and leading blanks are skipped first.
  ASSERT_TRUE(value.Parse("  +2007:3:7", "%5d:%d:%d"));
  EXPECT_EQ(value.GetFields()->year, 2007);
}

TEST(XpDateTimeParse, ReadsTheSavedStateForm) {
  XpDateTime value;
  ASSERT_TRUE(value.Parse("\t\t2007/3/7 9:5:3\r\n", kStateFileFormat));
  EXPECT_EQ(*value.GetFields(), Fields(2007, 3, 7, 9, 5, 3, 4));
  // White space in the format matches any run of white space, also none.
  ASSERT_TRUE(value.Parse("2007/3/7      9:5:3", kStateFileFormat));
  EXPECT_EQ(value.GetFields()->hour, 9);
  ASSERT_TRUE(value.Parse("2007/3/7\t9:5:3", kStateFileFormat));
  EXPECT_EQ(value.GetFields()->hour, 9);
  // A blank that is missing in the text is no mismatch, but digits run on.
  EXPECT_FALSE(value.Parse("2007/3/79:5:3", kStateFileFormat));
}

TEST(XpDateTimeParse, UnderstandsPercentSignsAndSkippedNumbers) {
  XpDateTime value;
  ASSERT_TRUE(value.Parse("100% 1999 2007-03-07", "%*d%% %*d %d-%d-%d"));
  EXPECT_EQ(*value.GetFields(), Fields(2007, 3, 7, 0, 0, 0, 4));
  ASSERT_TRUE(value.Parse("2007 3 7 9 5 3 8", "%ld %hd %u %d %d %d %d"));
  EXPECT_EQ(value.GetFields()->second, 3);
}

TEST(XpDateTimeParse, UnknownConversionsEndTheScan) {
  XpDateTime value;
  EXPECT_FALSE(value.Parse("2007:03:07", "%s:%d:%d"));
  EXPECT_FALSE(value.Parse("2007:03:07", "%d:%d:%x"));
  EXPECT_FALSE(value.Parse("2007:03:07", "%0d:%d:%d"));
  EXPECT_FALSE(value.Parse("2007:03:07", "%d:%d:%"));
  EXPECT_FALSE(value.Parse("2007:03:07", ""));
  ASSERT_TRUE(value.Parse("2007:03:07 09", "%d:%d:%d %s"));
  EXPECT_EQ(value.GetFields()->hour, 0);
}

// ---- Arithmetic and comparison ----

TEST(XpDateTime, SpansShiftValuesAcrossMonthsAndLeapDays) {
  XpDateTime value(2000, 2, 28, 23, 0, 0);
  value += XpDateTimeSpan(1, 0, 0, 0);
  EXPECT_EQ(*value.GetFields(), Fields(2000, 2, 29, 23, 0, 0, 3));
  value.AddTime(1, 0, 0);
  EXPECT_EQ(*value.GetFields(), Fields(2000, 3, 1, 0, 0, 0, 4));
  value.SubtractTime(0, 0, 1);
  EXPECT_EQ(*value.GetFields(), Fields(2000, 2, 29, 23, 59, 59, 3));
  value = value - XpDateTimeSpan(365, 0, 0, 0);
  EXPECT_EQ(value.GetFields()->year, 1999);
  EXPECT_EQ(value.GetFields()->month, 3);
  EXPECT_EQ(value.GetFields()->day, 1);
}

TEST(XpDateTime, ArithmeticCrossesTheStartOfTheCountInTime) {
  XpDateTime value(1899, 12, 30, 0, 0, 0);
  value.SubtractTime(6, 0, 0);
  EXPECT_DOUBLE_EQ(value.GetValue(), -1.75);
  EXPECT_EQ(*value.GetFields(), Fields(1899, 12, 29, 18, 0, 0, 6));
  value.AddTime(12, 0, 0);
  EXPECT_DOUBLE_EQ(value.GetValue(), 0.25);
  value -= XpDateTimeSpan(2, 0, 0, 0);
  EXPECT_EQ(*value.GetFields(), Fields(1899, 12, 28, 6, 0, 0, 5));
  EXPECT_DOUBLE_EQ(value.GetValue(), -2.25);
}

TEST(XpDateTime, ShiftingOutOfRangeOrFromAnInvalidValueIsNotValid) {
  XpDateTime last(9999, 12, 31, 23, 59, 59);
  EXPECT_FALSE((last + XpDateTimeSpan(0, 0, 0, 1)).IsValid());
  EXPECT_FALSE((XpDateTime(100, 1, 1) - XpDateTimeSpan(1, 0, 0, 0)).IsValid());
  const XpDateTime invalid;
  EXPECT_FALSE((invalid + XpDateTimeSpan(1, 0, 0, 0)).IsValid());
  EXPECT_FALSE((XpDateTime(2007, 3, 7) + XpDateTimeSpan(1e9)).IsValid());
}

TEST(XpDateTime, DifferencesAreSpans) {
  const XpDateTimeSpan span = XpDateTime(2007, 3, 8) - XpDateTime(2007, 3, 6, 12, 30, 15);
  ASSERT_TRUE(span.IsValid());
  EXPECT_NEAR(span.GetTotalDays(), 1.0 + (11 * 3600 + 29 * 60 + 45) / 86400.0, 1e-9);
  EXPECT_EQ(span.GetTotalSeconds(), 86400 + 11 * 3600 + 29 * 60 + 45);
  EXPECT_EQ(span.GetDays(), 1);
  EXPECT_EQ(span.GetHours(), 11);
  EXPECT_EQ(span.GetMinutes(), 29);
  EXPECT_EQ(span.GetSeconds(), 45);
  const XpDateTimeSpan back = XpDateTime(2007, 3, 6, 12, 30, 15) - XpDateTime(2007, 3, 8);
  EXPECT_EQ(back.GetDays(), -1);
  EXPECT_EQ(back.GetHours(), -11);
  EXPECT_EQ(back.GetSeconds(), -45);
  EXPECT_FALSE((XpDateTime() - XpDateTime(2007, 3, 8)).IsValid());
  // Across the start of the count: 29 December 06:00 to 30 December 00:00.
  EXPECT_DOUBLE_EQ((XpDateTime(1899, 12, 30) - XpDateTime::FromValue(-1.25)).GetTotalDays(), 0.75);
}

TEST(XpDateTimeSpan, ValidWithinTheDistanceOfTheRangesEnds) {
  const XpDateTimeSpan whole = XpDateTime::FromValue(XpDateTime::kMaxValue) - XpDateTime(100, 1, 1);
  EXPECT_TRUE(whole.IsValid());
  EXPECT_TRUE(XpDateTimeSpan(-XpDateTimeSpan::kMaxDays).IsValid());
  EXPECT_FALSE(XpDateTimeSpan(3615900.0).IsValid());
  EXPECT_FALSE(XpDateTimeSpan(std::numeric_limits<double>::quiet_NaN()).IsValid());
  EXPECT_FALSE((whole + whole).IsValid());
  EXPECT_TRUE((whole - whole).IsValid());
  EXPECT_EQ(XpDateTimeSpan(std::numeric_limits<double>::infinity()).GetTotalSeconds(), 0);
}

TEST(XpDateTimeSpan, ComponentsComeFromTheSpanRoundedToTheSecond) {
  const XpDateTimeSpan span(2, 23, 59, 59);
  EXPECT_EQ(span.GetTotalSeconds(), 2 * 86400 + 86399);
  const XpDateTimeSpan almost(span.GetTotalDays() + 0.6 / 86400.0);
  EXPECT_EQ(almost.GetDays(), 3);
  EXPECT_EQ(almost.GetHours(), 0);
  EXPECT_EQ(almost.GetMinutes(), 0);
  EXPECT_EQ(almost.GetSeconds(), 0);
  EXPECT_EQ((-span).GetTotalSeconds(), -(2 * 86400 + 86399));
  EXPECT_LT(-span, span);
}

TEST(XpDateTime, EarlierAlwaysComparesLessAlsoBefore1900) {
  std::vector<XpDateTime> values = {
      XpDateTime(1899, 12, 30, 0, 0, 0),   // 0
      XpDateTime(1899, 12, 29, 18, 0, 0),  // -1.75
      XpDateTime(1899, 12, 29, 6, 0, 0),   // -1.25
      XpDateTime(1899, 12, 28, 23, 0, 0),  // about -2.96
      XpDateTime(1899, 12, 30, 6, 0, 0),   // 0.25
      XpDateTime(100, 1, 1, 12, 0, 0),    XpDateTime(9999, 12, 31, 23, 59, 59),
  };
  std::sort(values.begin(), values.end());
  const auto key = [](const XpDateTime& value) {
    const auto f = *value.GetFields();
    return std::make_tuple(f.year, f.month, f.day, f.hour, f.minute, f.second);
  };
  for (std::size_t i = 1; i < values.size(); ++i) {
    EXPECT_LT(key(values[i - 1]), key(values[i])) << i;
  }
  EXPECT_LT(XpDateTime(1899, 12, 29, 6, 0, 0), XpDateTime(1899, 12, 29, 18, 0, 0));
  EXPECT_GT(XpDateTime(1899, 12, 29, 18, 0, 0), XpDateTime(1899, 12, 29, 6, 0, 0));
  EXPECT_LE(XpDateTime(1899, 12, 29, 6, 0, 0), XpDateTime(1899, 12, 29, 6, 0, 0));
  EXPECT_GE(XpDateTime(1899, 12, 29, 6, 0, 0), XpDateTime(1899, 12, 29, 6, 0, 0));
  EXPECT_EQ(XpDateTime(2007, 3, 7), XpDateTime(2007, 3, 7));
  EXPECT_NE(XpDateTime(2007, 3, 7), XpDateTime(2007, 3, 7, 0, 0, 1));
}

// ---- Seconds since 1970 and the local time zone ----

TEST(XpDateTimeSeconds, ConvertInUniversalTime) {
  TimeZoneGuard zone("UTC0");
  EXPECT_EQ(*XpDateTime::FromSeconds(0).GetFields(), Fields(1970, 1, 1, 0, 0, 0, 5));
  EXPECT_EQ(*XpDateTime::FromSeconds(1173258303).GetFields(), Fields(2007, 3, 7, 9, 5, 3, 4));
  EXPECT_EQ(XpDateTime(2007, 3, 7, 9, 5, 3).ToSeconds(), 1173258303);
  // One second before 1970 is a real answer, not a failure.
  EXPECT_EQ(XpDateTime(1969, 12, 31, 23, 59, 59).ToSeconds(), -1);
  EXPECT_EQ(XpDateTime(100, 1, 1).ToSeconds(), -59011459200LL);
}

TEST(XpDateTimeSeconds, ConvertInALocalTimeZoneWithSummerTime) {
  TimeZoneGuard zone(kCentralEurope);
  EXPECT_EQ(*XpDateTime::FromSeconds(0).GetFields(), Fields(1970, 1, 1, 1, 0, 0, 5));
  // 24 May 2007 09:46:40 UTC is 11:46:40 summer time.
  EXPECT_EQ(*XpDateTime::FromSeconds(1180000000).GetFields(), Fields(2007, 5, 24, 11, 46, 40, 5));
  EXPECT_EQ(XpDateTime(2007, 5, 24, 11, 46, 40).ToSeconds(), 1180000000);
  EXPECT_EQ(XpDateTime(2007, 3, 7, 10, 5, 3).ToSeconds(), 1173258303);
  const auto fileTime = XpDateTime(2007, 3, 7, 10, 5, 3).ToFileTime();
  ASSERT_TRUE(fileTime.has_value());
  EXPECT_EQ(fileTime->tv_sec, 1173258303);
  EXPECT_EQ(fileTime->tv_nsec, 0);
}

TEST(XpDateTimeSeconds, OutOfRangeSecondsAreNotValid) {
  TimeZoneGuard zone("UTC0");
  EXPECT_FALSE(XpDateTime::FromSeconds(std::numeric_limits<std::int64_t>::max()).IsValid());
  EXPECT_FALSE(XpDateTime::FromSeconds(std::numeric_limits<std::int64_t>::min()).IsValid());
  EXPECT_FALSE(XpDateTime::FromSeconds(253402300800LL).IsValid());  // year 10000
  EXPECT_TRUE(XpDateTime::FromSeconds(253402300799LL).IsValid());
}

TEST(XpDateTimeSeconds, NowFollowedByToSecondsGivesBackTheSameSecond) {
  for (const char* zoneName : {"UTC0", kCentralEurope}) {
    SCOPED_TRACE(zoneName);
    TimeZoneGuard zone(zoneName);
    const auto before = static_cast<std::int64_t>(::time(nullptr));
    const auto seconds = XpDateTime::Now().ToSeconds();
    const auto after = static_cast<std::int64_t>(::time(nullptr));
    ASSERT_TRUE(seconds.has_value());
    EXPECT_GE(*seconds, before);
    EXPECT_LE(*seconds, after);
  }
}

// ---- Text in the user's formats ----

struct LocaleCase {
  const char* locale;
  const char* shortDate;
  const char* longDate;
  const char* yearMonth;
};

TEST(XpDateTimeFormat, DatesFollowTheLocale) {
  const LocaleCase cases[] = {
      {"en_US", "3/7/07", "March 7, 2007", "March 2007"},
      {"de_DE", "07.03.07", "7. M\xC3\xA4rz 2007", "M\xC3\xA4rz 2007"},
      {"ja_JP", "2007/03/07",
       "2007\xE5\xB9\xB4"
       "3\xE6\x9C\x88"
       "7\xE6\x97\xA5",
       "2007\xE5\xB9\xB4"
       "3\xE6\x9C\x88"},
      {"en_GB", "07/03/2007", "7 March 2007", "March 2007"},
  };
  const XpDateTime value(2007, 3, 7, 13, 5, 3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    EXPECT_EQ(value.FormatDate(XpDateTime::kShortDate, c.locale), c.shortDate);
    EXPECT_EQ(value.FormatDate(XpDateTime::kLongDate, c.locale), c.longDate);
    EXPECT_EQ(value.FormatDate(XpDateTime::kYearMonth, c.locale), c.yearMonth);
  }
}

TEST(XpDateTimeFormat, TimesHaveTheAskedPrecision) {
  const XpDateTime value(2007, 3, 7, 13, 5, 3);
  EXPECT_EQ(value.FormatTime(XpDateTime::kHours, true, "en_US"), "13");
  EXPECT_EQ(value.FormatTime(XpDateTime::kMinutes, true, "en_US"), "13:05");
  EXPECT_EQ(value.FormatTime(XpDateTime::kSeconds, true, "en_US"), "13:05:03");
  EXPECT_EQ(value.FormatTime(XpDateTime::kMinutes, false, "de_DE"), "13:05");
  EXPECT_EQ(value.FormatTime(XpDateTime::kSeconds, false, "ja_JP"), "13:05:03");
  EXPECT_EQ(XpDateTime(2007, 3, 7, 9, 5, 3).FormatTime(XpDateTime::kSeconds, true, "en_US"), "09:05:03");
}

TEST(XpDateTimeFormat, TwelveHourLocalesShowAMarkerUnless24HoursAreForced) {
  const XpDateTime value(2007, 3, 7, 13, 5, 3);
  const std::string twelve = value.FormatTime(XpDateTime::kMinutes, false, "en_US");
  EXPECT_EQ(twelve.rfind("1:05", 0), 0U) << twelve;
  EXPECT_NE(twelve.find("PM"), std::string::npos) << twelve;
  const std::string forced = value.FormatTime(XpDateTime::kMinutes, true, "en_US");
  EXPECT_EQ(forced.find("PM"), std::string::npos);
}

TEST(XpDateTimeFormat, DatesBeforeTheCalendarReformStayProlepticGregorian) {
  EXPECT_EQ(XpDateTime(1500, 3, 1).FormatDate(XpDateTime::kLongDate, "en_US"), "March 1, 1500");
  EXPECT_EQ(XpDateTime(100, 1, 1).FormatDate(XpDateTime::kLongDate, "en_US"), "January 1, 100");
  EXPECT_EQ(XpDateTime(9999, 12, 31, 23, 59, 59).Format(XpDateTime::kLongDate, XpDateTime::kSeconds, true, "en_US"),
            "December 31, 9999 23:59:59");
}

TEST(XpDateTimeFormat, FormattingIgnoresTheProcessTimeZone) {
  TimeZoneGuard zone("XYZ+11");
  const XpDateTime value(2007, 3, 7, 23, 30, 0);
  EXPECT_EQ(value.Format(XpDateTime::kShortDate, XpDateTime::kMinutes, true, "en_US"), "3/7/07 23:30");
}

TEST(XpDateTimeFormat, FormatJoinsDateAndTimeWithOneBlank) {
  const XpDateTime value(2007, 3, 7, 9, 5, 3);
  EXPECT_EQ(value.Format(XpDateTime::kShortDate, XpDateTime::kMinutes, true, "de_DE"), "07.03.07 09:05");
  EXPECT_EQ(value.Format(XpDateTime::kLongDate, XpDateTime::kSeconds, true, "en_US"), "March 7, 2007 09:05:03");
}

TEST(XpDateTimeFormat, RoundingCarriesIntoTheDate) {
  const double lastSecond = XpDateTime(2007, 3, 7, 23, 59, 59).GetValue();
  const XpDateTime value = XpDateTime::FromValue(lastSecond + 0.6 / 86400.0);
  EXPECT_EQ(value.Format(XpDateTime::kShortDate, XpDateTime::kSeconds, true, "en_US"), "3/8/07 00:00:00");
}

TEST(XpDateTimeFormat, BadRequestsGiveEmptyText) {
  const XpDateTime value(2007, 3, 7, 9, 5, 3);
  EXPECT_EQ(value.FormatDate(3, "en_US"), "");
  EXPECT_EQ(value.FormatDate(-1, "en_US"), "");
  EXPECT_EQ(value.FormatTime(3, true, "en_US"), "");
  EXPECT_EQ(value.FormatTime(-1, false, "en_US"), "");
  EXPECT_EQ(value.Format(3, 1, false, "en_US"), "");
  EXPECT_EQ(value.FormatDate(0, std::string("en\0US", 5)), "");
  EXPECT_EQ(XpDateTime().Format(0, 1, false, "en_US"), "");
  // An unknown locale falls back to the root locale's forms rather than failing.
  EXPECT_FALSE(value.FormatDate(0, "xx_YY").empty());
}

TEST(XpDateTimeFormat, TheUserLocaleComesFromTheEnvironment) {
  EnvGuard all("LC_ALL", nullptr);
  EnvGuard time("LC_TIME", nullptr);
  EnvGuard lang("LANG", nullptr);
  EXPECT_EQ(XpUserLocaleName(), "en_US_POSIX");
  {
    EnvGuard german("LANG", "de_DE.UTF-8");
    EXPECT_EQ(XpUserLocaleName(), "de_DE");
    const XpDateTime value(2007, 3, 7, 9, 5, 3);
    EXPECT_EQ(value.FormatDate(XpDateTime::kLongDate), value.FormatDate(XpDateTime::kLongDate, "de_DE"));
    EXPECT_EQ(value.Format(0, 1, false), "07.03.07 09:05");
    EnvGuard japanese("LC_TIME", "ja_JP.UTF-8");
    EXPECT_EQ(XpUserLocaleName(), "ja_JP");
    EnvGuard overriding("LC_ALL", "C.UTF-8");
    EXPECT_EQ(XpUserLocaleName(), "en_US_POSIX");
  }
  EnvGuard modifier("LC_ALL", "de_DE.UTF-8@euro");
  EXPECT_EQ(XpUserLocaleName(), "de_DE");
}

}  // namespace
