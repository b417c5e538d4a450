#pragma once

#include <QString>

struct WriteBackReport;
struct WriteFailure;

/// Why one moved picture did not get its new position, as the user reads it
/// ("the file is read-only"; the system's own words or the status number for
/// a reason without a text of its own).
[[nodiscard]] QString WriteFailureText(const WriteFailure& failure);

/// The text that tells the user which moved pictures did not get their new
/// position in the file and why, one line per picture ("name: reason"), at
/// most `maxListed` lines and then a count of the rest. Empty when every moved
/// picture was written.
[[nodiscard]] QString WriteBackMessage(const WriteBackReport& report, qsizetype maxListed);

/// The warning after a save that wrote positions into raw files themselves
/// (the raw_in_file setting): their names, one a line, at most `maxListed`
/// and then a count of the rest. Empty when no raw file was changed in place.
[[nodiscard]] QString RawChangedInPlaceMessage(const WriteBackReport& report, qsizetype maxListed);
