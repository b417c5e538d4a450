#pragma once

#include <QString>

struct WriteBackReport;

/// The text that tells the user which moved pictures did not get their new
/// position in the file and why, one line per picture ("name: reason"), at
/// most `maxListed` lines and then a count of the rest. Empty when every moved
/// picture was written.
[[nodiscard]] QString WriteBackMessage(const WriteBackReport& report, qsizetype maxListed);
