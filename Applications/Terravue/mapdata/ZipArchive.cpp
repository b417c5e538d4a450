// ZIP archives of stored entries, for KMZ files.
#include "Applications/Terravue/mapdata/ZipArchive.h"

#include <span>

#include "xp/base/XpCrc32.h"
#include "xp/text/XpUtf8.h"

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndOfCentral = 0x06054b50;
// Version 2.0: what a reader needs for stored entries and folders in names.
constexpr std::uint16_t kVersion = 20;
// General purpose flag bit 11: the name is UTF-8.
constexpr std::uint16_t kUtf8Names = 0x0800;
// 1 January 1980, 00:00, in MS-DOS form: the earliest time the format holds.
constexpr std::uint16_t kDosTime = 0;
constexpr std::uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;
constexpr std::uint64_t kMaxOffset = 0xFFFFFFFFU;

void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
  for (int shift = 0; shift <= 24; shift += 8) {
    out.push_back(static_cast<char>((v >> shift) & 0xFF));
  }
}

bool IsUsableName(const std::string& name) {
  return !name.empty() && name.size() <= 0xFFFF && name.front() != '/' && name.find('\\') == std::string::npos &&
         name.find('\0') == std::string::npos && XpIsValidUtf8(name) && name != ".." && !name.starts_with("../") &&
         name.find("/../") == std::string::npos && !name.ends_with("/..");
}

// The fields local and central headers share, from "version needed" to the
// name length.
void PutCommon(std::string& out, const ZipEntry& entry, std::uint32_t crc) {
  Put16(out, kVersion);
  Put16(out, kUtf8Names);
  Put16(out, 0);  // stored
  Put16(out, kDosTime);
  Put16(out, kDosDate);
  Put32(out, crc);
  Put32(out, static_cast<std::uint32_t>(entry.bytes.size()));
  Put32(out, static_cast<std::uint32_t>(entry.bytes.size()));
  Put16(out, static_cast<std::uint16_t>(entry.name.size()));
}

}  // namespace

std::optional<std::string> WriteStoredZip(const std::vector<ZipEntry>& entries) {
  if (entries.size() > kMaxZipEntries) {
    return std::nullopt;
  }
  std::uint64_t total = 0;
  for (const ZipEntry& entry : entries) {
    if (!IsUsableName(entry.name)) {
      return std::nullopt;
    }
    total += 30 + 46 + 2 * static_cast<std::uint64_t>(entry.name.size()) + entry.bytes.size();
    if (total > kMaxOffset - 22) {
      return std::nullopt;
    }
  }
  std::string out;
  out.reserve(static_cast<std::size_t>(total) + 22);
  std::string central;
  for (const ZipEntry& entry : entries) {
    const auto offset = static_cast<std::uint32_t>(out.size());
    const std::uint32_t crc =
        XpCrc32(std::span(reinterpret_cast<const std::uint8_t*>(entry.bytes.data()), entry.bytes.size()));
    Put32(out, kLocalHeader);
    PutCommon(out, entry, crc);
    Put16(out, 0);  // extra field length
    out += entry.name;
    out += entry.bytes;

    Put32(central, kCentralHeader);
    Put16(central, kVersion);  // made by: MS-DOS attributes, version 2.0
    PutCommon(central, entry, crc);
    Put16(central, 0);  // extra field length
    Put16(central, 0);  // comment length
    Put16(central, 0);  // disk number
    Put16(central, 0);  // internal attributes
    Put32(central, 0);  // external attributes
    Put32(central, offset);
    central += entry.name;
  }
  const auto centralOffset = static_cast<std::uint32_t>(out.size());
  out += central;
  Put32(out, kEndOfCentral);
  Put16(out, 0);  // this disk
  Put16(out, 0);  // disk with the central directory
  Put16(out, static_cast<std::uint16_t>(entries.size()));
  Put16(out, static_cast<std::uint16_t>(entries.size()));
  Put32(out, static_cast<std::uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);  // comment length
  return out;
}
