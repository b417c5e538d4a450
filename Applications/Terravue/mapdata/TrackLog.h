#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xp/base/XpStatus.h"

/// One recorded position of a track log.
struct TrackFix {
  std::int64_t timeMs = 0;  ///< milliseconds since 1970-01-01 00:00:00 UTC
  double latitude = 0.0;    ///< decimal degrees, -90 to 90
  double longitude = 0.0;   ///< decimal degrees, -180 to 180
  double elevation = 0.0;   ///< metres above sea level; meaningful only with hasElevation
  bool hasElevation = false;
};

/// The fixes of one track segment, route or NMEA log in the order the file
/// lists them; `file` counts the files added to the log from 0.
struct TrackSegment {
  std::size_t file = 0;
  std::vector<TrackFix> fixes;
};

/// Reads an ISO 8601 date and time ("2024-05-01T10:20:30Z", with an optional
/// fraction of a second and "Z", "+hh:mm", "+hhmm" or "+hh"; no zone is taken
/// as UTC) into milliseconds since 1970 UTC. Nothing for anything else,
/// including out-of-range fields and years outside 1 to 9999.
[[nodiscard]] std::optional<std::int64_t> ParseIsoTimeMs(std::string_view text);

/// Seconds since 1970 of the given UTC calendar fields (no range checks beyond
/// what the arithmetic needs; month 1 to 12).
[[nodiscard]] std::int64_t UtcSecondsFromFields(int year, int month, int day, int hour, int minute, int second);

/// The GPS track logs loaded for geotagging: every fix of every added file,
/// kept both in file order (for drawing) and sorted by time (for matching).
/// Reads GPX 1.0 and 1.1 (track points and route points; a file is read as a
/// stream, so memory follows the fixes kept, not the file) and NMEA 0183 logs
/// (RMC sentences of any talker, with the altitude of the GGA sentence of the
/// same second). Points without a time or with coordinates out of range, and
/// NMEA sentences that do not check out, are skipped and counted.
class TrackLog {
 public:
  /// The largest track file read; a longer one answers TrackLogTooLarge.
  static constexpr std::uint64_t kMaxFileBytes = 64ull * 1024 * 1024;
  /// The most fixes the whole log holds; a file that would pass it answers
  /// TrackLogTooLarge and adds nothing.
  static constexpr std::size_t kMaxFixes = 1'000'000;

  TrackLog() = default;
  /// A log that holds at most `maxFixes` fixes (kMaxFixes at most).
  explicit TrackLog(std::size_t maxFixes) : m_maxFixes(maxFixes < kMaxFixes ? maxFixes : kMaxFixes) {}

  /// Reads the track file at `path` and adds its fixes. Answers the open or
  /// read status of the file, TrackLogTooLarge for a file above kMaxFileBytes
  /// or more fixes than the log may hold, TrackLogInvalid for content that is neither a GPX
  /// document nor an NMEA log. On any failure the log is unchanged.
  [[nodiscard]] XpStatus AddFile(const std::string& path);
  /// The same for the bytes of a file already in memory.
  [[nodiscard]] XpStatus AddBytes(std::string_view bytes);

  /// Every fix, sorted by time (fixes of equal time keep their file order).
  [[nodiscard]] const std::vector<TrackFix>& Fixes() const { return m_fixes; }
  /// Every segment in the order read.
  [[nodiscard]] const std::vector<TrackSegment>& Segments() const { return m_segments; }
  /// Points and sentences skipped so far.
  [[nodiscard]] std::size_t Skipped() const { return m_skipped; }
  /// Files added so far.
  [[nodiscard]] std::size_t FileCount() const { return m_files; }
  [[nodiscard]] bool Empty() const { return m_fixes.empty(); }

 private:
  // How many more fixes the log may take.
  [[nodiscard]] std::size_t Room() const;
  // Adds the segments read from one file; unchanged when it answers a failure.
  [[nodiscard]] XpStatus AddParsed(std::vector<TrackSegment>& segments, std::size_t fixes, std::size_t skipped);

  std::vector<TrackFix> m_fixes;
  std::vector<TrackSegment> m_segments;
  std::size_t m_skipped = 0;
  std::size_t m_files = 0;
  std::size_t m_maxFixes = kMaxFixes;
};
