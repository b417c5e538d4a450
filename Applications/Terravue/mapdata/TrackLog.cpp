#include "Applications/Terravue/mapdata/TrackLog.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>
#include <pugixml.hpp>

#include "Applications/Terravue/mapdata/TextFile.h"
#include "xp/text/XpHexDigits.h"
#include "xp/text/XpNumberText.h"

namespace {

// What one file contributes before it is merged into the log, so that a file
// that fails half-way leaves the log as it was.
struct ParsedFile {
  std::vector<TrackSegment> segments;
  std::size_t fixes = 0;
  std::size_t skipped = 0;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// Reads exactly `count` decimal digits at `pos`.
bool ReadDigits(std::string_view text, std::size_t& pos, int count, int* out) {
  if (pos + static_cast<std::size_t>(count) > text.size()) {
    return false;
  }
  int value = 0;
  for (int i = 0; i < count; ++i) {
    const char c = text[pos + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + (c - '0');
  }
  pos += static_cast<std::size_t>(count);
  *out = value;
  return true;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) {
    return false;
  }
  ++pos;
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// A decimal number that fills the whole text (surrounding white space aside)
// and is finite. Read without the process locale: the Qt layer switches it to
// the user's, and a decimal comma there must not empty a track.
std::optional<double> ParseNumber(std::string_view text) {
  text = Trim(text);
  if (text.size() > 64) {
    return std::nullopt;
  }
  return XpParseDecimal(text);
}

bool InRange(double latitude, double longitude) {
  return latitude >= -90.0 && latitude <= 90.0 && longitude >= -180.0 && longitude <= 180.0;
}

// The element name without a namespace prefix, so "gpx:trkpt" reads as "trkpt".
std::string_view LocalName(const pugi::xml_node& node) {
  std::string_view name = node.name();
  if (const auto colon = name.rfind(':'); colon != std::string_view::npos) {
    name.remove_prefix(colon + 1);
  }
  return name;
}

pugi::xml_node Child(const pugi::xml_node& node, std::string_view name) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && LocalName(child) == name) {
      return child;
    }
  }
  return {};
}

XpStatus ReadGpxPoints(const pugi::xml_node& parent, std::string_view pointName, std::size_t room, ParsedFile& parsed) {
  TrackSegment segment;
  for (pugi::xml_node point = parent.first_child(); point; point = point.next_sibling()) {
    if (point.type() != pugi::node_element || LocalName(point) != pointName) {
      continue;
    }
    const auto latitude = ParseNumber(point.attribute("lat").value());
    const auto longitude = ParseNumber(point.attribute("lon").value());
    const pugi::xml_node timeNode = Child(point, "time");
    const auto time = timeNode ? ParseIsoTimeMs(Trim(timeNode.text().get())) : std::nullopt;
    if (!latitude || !longitude || !time || !InRange(*latitude, *longitude)) {
      ++parsed.skipped;
      continue;
    }
    if (parsed.fixes >= room) {
      return XpStatus::TrackLogTooLarge;
    }
    TrackFix fix;
    fix.timeMs = *time;
    fix.latitude = *latitude;
    fix.longitude = *longitude;
    if (const pugi::xml_node ele = Child(point, "ele")) {
      if (const auto metres = ParseNumber(ele.text().get()); metres && std::fabs(*metres) < 1.0e6) {
        fix.elevation = *metres;
        fix.hasElevation = true;
      }
    }
    segment.fixes.push_back(fix);
    ++parsed.fixes;
  }
  if (!segment.fixes.empty()) {
    parsed.segments.push_back(std::move(segment));
  }
  return XpStatus::Ok;
}

XpStatus ParseGpx(std::string_view bytes, std::size_t room, ParsedFile& parsed) {
  pugi::xml_document document;
  // Entities other than the built-in five are not expanded by this parser, so
  // a document cannot grow beyond its own size.
  const pugi::xml_parse_result result =
      document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto);
  if (!result) {
    return result.status == pugi::status_out_of_memory ? XpStatus::OutOfMemory : XpStatus::TrackLogInvalid;
  }
  const pugi::xml_node root = document.document_element();
  if (!root || LocalName(root) != "gpx") {
    return XpStatus::TrackLogInvalid;
  }
  for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
    if (node.type() != pugi::node_element) {
      continue;
    }
    const std::string_view name = LocalName(node);
    if (name == "trk") {
      for (pugi::xml_node seg = node.first_child(); seg; seg = seg.next_sibling()) {
        if (seg.type() == pugi::node_element && LocalName(seg) == "trkseg") {
          if (auto st = ReadGpxPoints(seg, "trkpt", room, parsed); st != XpStatus::Ok) {
            return st;
          }
        }
      }
    } else if (name == "rte") {
      if (auto st = ReadGpxPoints(node, "rtept", room, parsed); st != XpStatus::Ok) {
        return st;
      }
    }
  }
  return XpStatus::Ok;
}

// ---- NMEA 0183 ----

std::vector<std::string_view> SplitFields(std::string_view sentence) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = sentence.find(',', start);
    fields.push_back(sentence.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos || fields.size() > 40) {
      break;
    }
    start = comma + 1;
  }
  return fields;
}

// The sentence between "$" and "*", when its checksum (if it has one) agrees.
std::optional<std::string_view> CheckedBody(std::string_view line) {
  if (line.size() < 7 || line.front() != '$') {
    return std::nullopt;
  }
  line.remove_prefix(1);
  const std::size_t star = line.find('*');
  if (star == std::string_view::npos) {
    return line;
  }
  if (star + 3 != line.size()) {
    return std::nullopt;
  }
  const int checksum = XpHexByteValue(line[star + 1], line[star + 2]);
  if (checksum < 0) {
    return std::nullopt;
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i < star; ++i) {
    sum ^= static_cast<unsigned char>(line[i]);
  }
  if (sum != static_cast<unsigned>(checksum)) {
    return std::nullopt;
  }
  return line.substr(0, star);
}

// "hhmmss" with an optional fraction, as milliseconds of the day.
std::optional<std::int64_t> NmeaTimeOfDay(std::string_view text) {
  std::size_t pos = 0;
  int h = 0;
  int m = 0;
  int s = 0;
  if (!ReadDigits(text, pos, 2, &h) || !ReadDigits(text, pos, 2, &m) || !ReadDigits(text, pos, 2, &s) || h > 23 ||
      m > 59 || s > 60) {
    return std::nullopt;
  }
  std::int64_t ms = 0;
  if (pos < text.size()) {
    if (text[pos] != '.' || text.size() - pos > 10) {
      return std::nullopt;
    }
    int scale = 100;
    for (++pos; pos < text.size(); ++pos) {
      if (text[pos] < '0' || text[pos] > '9') {
        return std::nullopt;
      }
      ms += (text[pos] - '0') * scale;
      scale /= 10;
    }
  }
  return ((h * 60LL + m) * 60 + s) * 1000 + ms;
}

// "ddmm.mmmm" (latitude) or "dddmm.mmmm" (longitude) and its hemisphere letter.
std::optional<double> NmeaAngle(std::string_view value, std::string_view hemisphere, bool latitude) {
  const std::size_t degreeDigits = latitude ? 2 : 3;
  if (value.size() < degreeDigits + 2 || hemisphere.size() != 1) {
    return std::nullopt;
  }
  std::size_t pos = 0;
  int degrees = 0;
  if (!ReadDigits(value, pos, static_cast<int>(degreeDigits), &degrees)) {
    return std::nullopt;
  }
  const auto minutes = ParseNumber(value.substr(degreeDigits));
  if (!minutes || *minutes < 0.0 || *minutes >= 60.0 || value[degreeDigits] == '-' || value[degreeDigits] == '+') {
    return std::nullopt;
  }
  double angle = degrees + *minutes / 60.0;
  const char h = hemisphere[0];
  if (latitude ? (h != 'N' && h != 'S') : (h != 'E' && h != 'W')) {
    return std::nullopt;
  }
  if (h == 'S' || h == 'W') {
    angle = -angle;
  }
  return angle;
}

XpStatus ParseNmea(std::string_view bytes, std::size_t room, ParsedFile& parsed) {
  TrackSegment segment;
  // The altitude of the GGA sentence last seen, by its time of day: a logger
  // writes GGA and RMC of one second next to each other, in either order.
  std::optional<std::int64_t> ggaTime;
  double ggaAltitude = 0.0;
  std::optional<std::int64_t> lastRmcTime;
  bool sawSentence = false;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) {
      end = bytes.size();
    }
    const std::string_view line = Trim(bytes.substr(start, end - start));
    start = end + 1;
    if (line.empty()) {
      continue;
    }
    if (line.front() != '$') {
      // A log is lines of sentences; anything else that is not a sentence is not a log.
      if (!sawSentence) {
        return XpStatus::TrackLogInvalid;
      }
      continue;
    }
    const bool rmcLike = line.size() >= 6 && line.substr(3, 3) == "RMC";
    const bool ggaLike = line.size() >= 6 && line.substr(3, 3) == "GGA";
    const auto body = CheckedBody(line);
    if (!body) {
      if (rmcLike) {
        ++parsed.skipped;
      }
      continue;
    }
    sawSentence = true;
    const std::vector<std::string_view> f = SplitFields(*body);
    if (ggaLike && f.size() >= 10) {
      const auto time = NmeaTimeOfDay(f[1]);
      const auto altitude = ParseNumber(f[9]);
      if (time && altitude && f[6] != "0" && !f[6].empty() && std::fabs(*altitude) < 1.0e6) {
        if (lastRmcTime && *lastRmcTime == *time && !segment.fixes.empty() && !segment.fixes.back().hasElevation) {
          segment.fixes.back().elevation = *altitude;
          segment.fixes.back().hasElevation = true;
        }
        ggaTime = time;
        ggaAltitude = *altitude;
      }
      continue;
    }
    if (!rmcLike) {
      continue;
    }
    if (f.size() < 10) {
      ++parsed.skipped;
      continue;
    }
    const auto time = NmeaTimeOfDay(f[1]);
    const auto latitude = NmeaAngle(f[3], f[4], true);
    const auto longitude = NmeaAngle(f[5], f[6], false);
    std::size_t pos = 0;
    int day = 0;
    int month = 0;
    int year = 0;
    const bool dateOk = f[9].size() == 6 && ReadDigits(f[9], pos, 2, &day) && ReadDigits(f[9], pos, 2, &month) &&
                        ReadDigits(f[9], pos, 2, &year) && month >= 1 && month <= 12 && day >= 1;
    if (f[2] != "A" || !time || !latitude || !longitude || !dateOk || !InRange(*latitude, *longitude)) {
      ++parsed.skipped;
      continue;
    }
    // Two-digit years: receivers of this century, older logs from 1980 on.
    year += year < 80 ? 2000 : 1900;
    if (day > DaysInMonth(year, month)) {
      ++parsed.skipped;
      continue;
    }
    if (parsed.fixes >= room) {
      return XpStatus::TrackLogTooLarge;
    }
    TrackFix fix;
    fix.timeMs = UtcSecondsFromFields(year, month, day, 0, 0, 0) * 1000 + *time;
    fix.latitude = *latitude;
    fix.longitude = *longitude;
    if (ggaTime && *ggaTime == *time) {
      fix.elevation = ggaAltitude;
      fix.hasElevation = true;
    }
    lastRmcTime = time;
    segment.fixes.push_back(fix);
    ++parsed.fixes;
  }
  if (!sawSentence) {
    return XpStatus::TrackLogInvalid;
  }
  if (!segment.fixes.empty()) {
    parsed.segments.push_back(std::move(segment));
  }
  return XpStatus::Ok;
}

}  // namespace

std::int64_t UtcSecondsFromFields(int year, int month, int day, int hour, int minute, int second) {
  // Days from 1970-01-01 of a proleptic Gregorian date, counting years from
  // March so that the leap day falls at the end of the year.
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
  const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return ((days * 24 + hour) * 60 + minute) * 60 + second;
}

std::optional<std::int64_t> ParseIsoTimeMs(std::string_view text) {
  std::size_t pos = 0;
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  if (!ReadDigits(text, pos, 4, &year) || !Expect(text, pos, '-') || !ReadDigits(text, pos, 2, &month) ||
      !Expect(text, pos, '-') || !ReadDigits(text, pos, 2, &day) || pos >= text.size() ||
      (text[pos] != 'T' && text[pos] != 't' && text[pos] != ' ')) {
    return std::nullopt;
  }
  ++pos;
  if (!ReadDigits(text, pos, 2, &hour) || !Expect(text, pos, ':') || !ReadDigits(text, pos, 2, &minute) ||
      !Expect(text, pos, ':') || !ReadDigits(text, pos, 2, &second)) {
    return std::nullopt;
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
      second > 60) {
    return std::nullopt;
  }
  std::int64_t ms = 0;
  if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
    ++pos;
    const std::size_t first = pos;
    int scale = 100;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      ms += (text[pos] - '0') * scale;
      scale /= 10;
      ++pos;
    }
    if (pos == first || pos - first > 12) {
      return std::nullopt;
    }
  }
  std::int64_t offsetSeconds = 0;
  if (pos < text.size()) {
    const char sign = text[pos];
    if (sign == 'Z' || sign == 'z') {
      ++pos;
    } else if (sign == '+' || sign == '-') {
      ++pos;
      int oh = 0;
      int om = 0;
      if (!ReadDigits(text, pos, 2, &oh)) {
        return std::nullopt;
      }
      if (pos < text.size()) {
        if (text[pos] == ':') {
          ++pos;
        }
        if (!ReadDigits(text, pos, 2, &om)) {
          return std::nullopt;
        }
      }
      if (oh > 23 || om > 59) {
        return std::nullopt;
      }
      offsetSeconds = (oh * 60LL + om) * 60 * (sign == '-' ? -1 : 1);
    } else {
      return std::nullopt;
    }
  }
  if (pos != text.size()) {
    return std::nullopt;
  }
  return (UtcSecondsFromFields(year, month, day, hour, minute, second) - offsetSeconds) * 1000 + ms;
}

XpStatus TrackLog::AddFile(const std::string& path) {
  // stat before opening: a FIFO or device named like a track is never opened.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return XpStatusFromErrnoForPath(errno, path);
  }
  if (!S_ISREG(info.st_mode)) {
    return XpStatus::FileInvalid;
  }
  if (static_cast<std::uint64_t>(info.st_size) > kMaxFileBytes) {
    return XpStatus::TrackLogTooLarge;
  }
  std::string bytes;
  if (auto st = ReadWholeFile(path, kMaxFileBytes, &bytes); st != XpStatus::Ok) {
    // The file grew past the limit after it was measured.
    return st == XpStatus::FileInvalid ? XpStatus::TrackLogTooLarge : st;
  }
  return AddBytes(bytes);
}

XpStatus TrackLog::AddBytes(std::string_view bytes) {
  if (bytes.size() > kMaxFileBytes) {
    return XpStatus::TrackLogTooLarge;
  }
  std::string_view content = bytes;
  if (content.substr(0, 3) == "\xEF\xBB\xBF") {
    content.remove_prefix(3);
  }
  content = Trim(content);
  ParsedFile parsed;
  XpStatus status = XpStatus::TrackLogInvalid;
  try {
    if (!content.empty() && content.front() == '<') {
      status = ParseGpx(bytes, m_maxFixes - std::min(m_maxFixes, m_fixes.size()), parsed);
    } else if (!content.empty() && content.front() == '$') {
      status = ParseNmea(content, m_maxFixes - std::min(m_maxFixes, m_fixes.size()), parsed);
    }
    if (status != XpStatus::Ok) {
      return status;
    }
    m_fixes.reserve(m_fixes.size() + parsed.fixes);
    for (TrackSegment& segment : parsed.segments) {
      segment.file = m_files;
      m_fixes.insert(m_fixes.end(), segment.fixes.begin(), segment.fixes.end());
      m_segments.push_back(std::move(segment));
    }
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  std::stable_sort(m_fixes.begin(), m_fixes.end(),
                   [](const TrackFix& a, const TrackFix& b) { return a.timeMs < b.timeMs; });
  m_skipped += parsed.skipped;
  ++m_files;
  return XpStatus::Ok;
}
