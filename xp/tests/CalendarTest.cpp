#include <gtest/gtest.h>

#include "xp/base/XpCalendar.h"

namespace {

TEST(Calendar, KnowsTheGregorianLeapYears) {
  EXPECT_TRUE(XpIsLeapYear(2024));
  EXPECT_TRUE(XpIsLeapYear(2000));
  EXPECT_TRUE(XpIsLeapYear(1600));
  EXPECT_FALSE(XpIsLeapYear(1900));
  EXPECT_FALSE(XpIsLeapYear(2023));
  EXPECT_FALSE(XpIsLeapYear(2100));
}

TEST(Calendar, GivesTheLengthOfEveryMonth) {
  constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int month = 1; month <= 12; ++month) {
    EXPECT_EQ(XpDaysInMonth(2023, month), kLengths[month - 1]) << month;
  }
  EXPECT_EQ(XpDaysInMonth(2024, 2), 29);
  EXPECT_EQ(XpDaysInMonth(1900, 2), 28);
  EXPECT_EQ(XpDaysInMonth(2000, 2), 29);
  EXPECT_EQ(XpDaysInMonth(2024, 0), 0);
  EXPECT_EQ(XpDaysInMonth(2024, 13), 0);
}

TEST(Calendar, CountsDaysFrom1970) {
  EXPECT_EQ(XpDaysSince1970(1970, 1, 1), 0);
  EXPECT_EQ(XpDaysSince1970(1969, 12, 31), -1);
  EXPECT_EQ(XpDaysSince1970(2000, 3, 1), 11017);
  EXPECT_EQ(XpDaysSince1970(2024, 5, 1), 19844);
  EXPECT_EQ(XpDaysSince1970(1, 1, 1), -719162);
  EXPECT_EQ(XpDaysSince1970(1970, 1, 32), 31);  // counts on into February
  // Date-time values count days from 30 December 1899.
  EXPECT_EQ(kXpDayOf1970, 25569);
}

}  // namespace
