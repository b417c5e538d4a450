#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// The message a second start of the program sends to the running one: the
/// line "terravue-open 1 N\n" followed by N absolute paths, each ended by a
/// NUL byte. The receiver answers kHandOverAnswer once it has it whole.
inline constexpr std::string_view kHandOverMagic = "terravue-open 1 ";
inline constexpr std::string_view kHandOverAnswer = "ok\n";
/// The most paths one message may carry.
inline constexpr std::size_t kHandOverMaxPaths = 10000;
/// The longest path a message may carry, in bytes.
inline constexpr std::size_t kHandOverMaxPathBytes = 4096;
/// The largest message accepted, in bytes.
inline constexpr std::size_t kHandOverMaxMessageBytes = 4 * 1024 * 1024;

/// What reading a message found.
enum class HandOverParse {
  Complete,    ///< the whole message; the paths are set
  Incomplete,  ///< a valid beginning; more bytes are needed
  Invalid,     ///< not a message, or over a limit
};

/// The message carrying `paths`, which the caller has made absolute.
[[nodiscard]] std::string EncodeHandOverMessage(const std::vector<std::string>& paths);

/// Reads a message from the bytes received so far. `paths` is set only when
/// the message is complete: at least one and at most kHandOverMaxPaths paths,
/// each non-empty, beginning with "/" and at most kHandOverMaxPathBytes long,
/// the count written without sign or leading zeros, nothing after the last
/// path, and at most kHandOverMaxMessageBytes in all.
[[nodiscard]] HandOverParse DecodeHandOverMessage(std::string_view bytes, std::vector<std::string>* paths);
