#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "xp/base/XpStatus.h"

/// Largest state or page file that is read into memory (the program's own files
/// are a few kilobytes per picture).
inline constexpr std::uint64_t kMaxTextFileBytes = 64ull * 1024 * 1024;

/// Replaces the file at `path` with `bytes` without ever leaving a half-written
/// file: the bytes go to a new file in the same folder, are flushed to the disk
/// and then renamed over the path in one step. An existing file keeps its
/// permission bits. On failure the old file is untouched and the temporary file
/// removed; the status tells what failed (0x8106 when the folder is missing).
[[nodiscard]] XpStatus WriteFileReplacing(const std::string& path, std::string_view bytes);

/// Reads a whole regular file of at most `limit` bytes into `out`. 0x8105 when
/// it does not exist, 0x8119 when it is not a regular file (a named pipe, a
/// device: never waited on) or is larger.
[[nodiscard]] XpStatus ReadWholeFile(const std::string& path, std::uint64_t limit, std::string* out);

/// Turns every line feed into carriage return and line feed, as the program's
/// text files are stored.
[[nodiscard]] std::string ToCrLf(std::string_view text);
