// Switches a test program's process to the locale named by TV_TEST_LOCALE
// before any test runs, as the Qt layer switches the program to the user's
// locale, so that the core is also tested where the decimal separator is a
// comma and where dates and texts follow another language. Without the
// variable the process stays in the C locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

class ProcessLocale : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* name = std::getenv("TV_TEST_LOCALE");
    if (name == nullptr || *name == '\0') {
      return;
    }
    // A run asked for a locale must not pass quietly in the C locale.
    ASSERT_NE(std::setlocale(LC_ALL, name), nullptr) << "cannot switch the process to the locale " << name;
    std::fprintf(stderr, "process locale: %s (decimal point \"%s\")\n", name, std::localeconv()->decimal_point);
  }
};

// gtest owns the environment from here on.
[[maybe_unused]] ::testing::Environment* const kProcessLocale = ::testing::AddGlobalTestEnvironment(new ProcessLocale);

}  // namespace
