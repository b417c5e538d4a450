#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <string>

#include "xp/text/XpNumberText.h"

namespace {

// Switches the process to a comma-decimal locale for one test where the
// machine has one, the way the Qt layer does from the user's environment.
class CommaLocale {
 public:
  CommaLocale() {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    m_previous = previous != nullptr ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
      if (std::setlocale(LC_ALL, name) != nullptr) {
        m_active = true;
        return;
      }
    }
  }
  ~CommaLocale() { std::setlocale(LC_ALL, m_previous.c_str()); }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  [[nodiscard]] bool Active() const { return m_active; }

 private:
  std::string m_previous;
  bool m_active = false;
};

TEST(DecimalText, ReadsPlainDecimalNumbers) {
  EXPECT_EQ(XpParseDecimal("35.1"), 35.1);
  EXPECT_EQ(XpParseDecimal("-139.75"), -139.75);
  EXPECT_EQ(XpParseDecimal("+2.5"), 2.5);
  EXPECT_EQ(XpParseDecimal("12"), 12.0);
  EXPECT_EQ(XpParseDecimal(".5"), 0.5);
  EXPECT_EQ(XpParseDecimal("5."), 5.0);
  EXPECT_EQ(XpParseDecimal("1.5e3"), 1500.0);
  EXPECT_EQ(XpParseDecimal("25E-1"), 2.5);
  EXPECT_EQ(XpParseDecimal("-0"), 0.0);
}

TEST(DecimalText, RefusesEverythingThatIsNotAWholePlainNumber) {
  for (const char* text :
       {"",    " 1",  "1 ",  "35,1", "1.2.3", "0x10", "inf", "-inf",  "nan",   "infinity", "+",           "-",
        "+-1", "++1", "--1", "1e",   "e5",    "1e+",  ".",   "1_000", "1e400", "-1e400",   "\xEF\xBC\x91"}) {
    EXPECT_FALSE(XpParseDecimal(text).has_value()) << '"' << text << '"';
  }
  // A number followed by a NUL byte is not the whole text.
  EXPECT_FALSE(XpParseDecimal(std::string_view("1\0"
                                               "2",
                                               3))
                   .has_value());
}

TEST(DecimalText, ReadsAndWritesTheSameUnderACommaDecimalLocale) {
  const CommaLocale locale;
  if (!locale.Active()) {
    GTEST_SKIP() << "no comma-decimal locale on this machine";
  }
  EXPECT_EQ(XpParseDecimal("35.1"), 35.1);
  EXPECT_FALSE(XpParseDecimal("35,1").has_value());
  EXPECT_EQ(XpFormatFixed(35.1, 7), "35.1000000");
  EXPECT_EQ(XpFormatFixed(-0.5, 1), "-0.5");
}

TEST(FixedText, WritesAsManyFractionDigitsAsAsked) {
  EXPECT_EQ(XpFormatFixed(35.625788, 7), "35.6257880");
  EXPECT_EQ(XpFormatFixed(-139.5, 2), "-139.50");
  EXPECT_EQ(XpFormatFixed(2.5, 0), "2");  // ties round to even, as printf does
  EXPECT_EQ(XpFormatFixed(3.5, 0), "4");
  EXPECT_EQ(XpFormatFixed(0.000000049, 7), "0.0000000");
  EXPECT_EQ(XpFormatFixed(0.00000005000001, 7), "0.0000001");
  EXPECT_EQ(XpFormatFixed(1.0, 6), "1.000000");
  EXPECT_EQ(XpFormatFixed(-0.0, 1), "-0.0");
}

TEST(FixedText, WritesTheExtremesInFull) {
  const std::string largest = XpFormatFixed(std::numeric_limits<double>::max(), 6);
  EXPECT_EQ(largest.size(), 309u + 1 + 6);
  EXPECT_EQ(largest.substr(0, 6), "179769");
  EXPECT_EQ(largest.substr(largest.size() - 7), ".000000");
  EXPECT_EQ(XpFormatFixed(-std::numeric_limits<double>::max(), 0).size(), 310u);
  EXPECT_EQ(XpFormatFixed(std::numeric_limits<double>::infinity(), 3), "inf");
  EXPECT_EQ(XpFormatFixed(-std::numeric_limits<double>::infinity(), 3), "-inf");
  EXPECT_EQ(XpFormatFixed(std::numeric_limits<double>::quiet_NaN(), 3), "nan");
}

TEST(FixedText, KeepsDigitsWithinTheSupportedRange) {
  EXPECT_EQ(XpFormatFixed(0.5, -3), "0");
  EXPECT_EQ(XpFormatFixed(0.5, 40), "0.50000000000000000");
  std::string out = "x=";
  XpAppendFixed(out, 1.25, 1);
  EXPECT_EQ(out, "x=1.2");
}

TEST(FixedText, ReadsBackWhatItWrites) {
  for (const double value : {0.0, 1.0, -1.0, 35.6257881, -179.9999999, 89.123456789, 1.0e-7, 12345678.125}) {
    const std::string text = XpFormatFixed(value, 17);
    const auto back = XpParseDecimal(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_DOUBLE_EQ(*back, value) << text;
  }
}

TEST(IntegerText, ReadsWholeDecimalIntegers) {
  EXPECT_EQ(XpParseInteger<int>("8080"), 8080);
  EXPECT_EQ(XpParseInteger<int>("-12"), -12);
  EXPECT_EQ(XpParseInteger<std::uint16_t>("65535"), 65535);
  EXPECT_EQ(XpParseInteger<long>("0"), 0);
}

TEST(IntegerText, RefusesSignsSpacesFractionsAndOverflow) {
  EXPECT_FALSE(XpParseInteger<int>("").has_value());
  EXPECT_FALSE(XpParseInteger<int>("+1").has_value());
  EXPECT_FALSE(XpParseInteger<int>(" 1").has_value());
  EXPECT_FALSE(XpParseInteger<int>("1 ").has_value());
  EXPECT_FALSE(XpParseInteger<int>("1.0").has_value());
  EXPECT_FALSE(XpParseInteger<int>("0x1").has_value());
  EXPECT_FALSE(XpParseInteger<std::uint16_t>("65536").has_value());
  EXPECT_FALSE(XpParseInteger<unsigned>("-1").has_value());
  EXPECT_FALSE(XpParseInteger<int>("99999999999").has_value());
}

}  // namespace
