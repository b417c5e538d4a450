#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// One file of a ZIP archive: its name inside the archive ('/' between
/// folders, UTF-8) and its bytes.
struct ZipEntry {
  std::string name;
  std::string bytes;
};

/// Most entries one archive holds: the count field of a ZIP archive without
/// the 64-bit extension.
inline constexpr std::size_t kMaxZipEntries = 0xFFFF;

/// A ZIP archive holding `entries` in their order, stored without
/// compression (JPEG thumbnails do not shrink, and every reader reads stored
/// entries), each with its CRC-32. Every entry has the same fixed time, so
/// that the same entries always give the same bytes. Nothing when the
/// archive cannot be described without the 64-bit extension (more than
/// kMaxZipEntries entries, or 4 GiB and more), or a name is empty, longer
/// than 65,535 bytes or not a relative path.
[[nodiscard]] std::optional<std::string> WriteStoredZip(const std::vector<ZipEntry>& entries);
