#include "Applications/Terravue/mapdata/TrackLog.h"

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <new>

#include "xp/base/XpCalendar.h"
#include "xp/base/XpFileRead.h"
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
std::string_view LocalName(std::string_view name) {
  if (const auto colon = name.rfind(':'); colon != std::string_view::npos) {
    name.remove_prefix(colon + 1);
  }
  return name;
}

// The text of one element kept for a point (its time or elevation): leading
// white space is dropped as it comes, so no text grows beyond a small bound
// however much white space or data a hostile file puts there.
class BoundedText {
 public:
  void Append(std::string_view text) {
    if (m_text.empty()) {
      while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
      }
    }
    if (m_overflow || text.empty()) {
      return;
    }
    m_text += text;
    if (m_text.size() > kLimit) {
      const std::string_view kept = Trim(m_text);
      m_overflow = kept.size() > kLimit;
      m_text.resize(m_overflow ? 0 : kept.size());
    }
  }
  // The text without surrounding white space; nothing when it was too long.
  [[nodiscard]] std::optional<std::string_view> Get() const {
    if (m_overflow) {
      return std::nullopt;
    }
    return Trim(m_text);
  }

 private:
  static constexpr std::size_t kLimit = 256;
  std::string m_text;
  bool m_overflow = false;
};

struct ExpatFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

// Reads a GPX document as a stream of elements: what it keeps is the fixes
// and the point being read, never the document, so memory does not grow with
// the size or the shape of the file. Only what the track needs is looked at:
// the "gpx" root, its "trk"/"trkseg"/"trkpt" and "rte"/"rtept" children, and
// each point's "lat"/"lon" attributes and first "time" and "ele" children.
class GpxReader {
 public:
  GpxReader(std::size_t room, ParsedFile& parsed)
      : m_parser(XML_ParserCreate(nullptr)), m_room(room), m_parsed(parsed) {
    if (!m_parser) {
      m_status = XpStatus::OutOfMemory;
      return;
    }
    XML_SetUserData(m_parser.get(), this);
    XML_SetElementHandler(m_parser.get(), &GpxReader::OnStart, &GpxReader::OnEnd);
    XML_SetCharacterDataHandler(m_parser.get(), &GpxReader::OnText);
    // A track has no use for entities of its own; refusing them keeps a small
    // document from expanding into a huge one.
    XML_SetEntityDeclHandler(m_parser.get(), &GpxReader::OnEntity);
    // Encodings the parser does not know are read as ASCII: coordinates and
    // times are ASCII in any of them.
    XML_SetUnknownEncodingHandler(m_parser.get(), &GpxReader::OnUnknownEncoding, nullptr);
  }

  // Reads the next part of the document; `last` for its final part.
  [[nodiscard]] XpStatus Feed(std::string_view bytes, bool last) {
    constexpr std::size_t kPiece = 1 << 16;
    do {
      if (m_status != XpStatus::Ok) {
        return m_status;
      }
      const std::size_t piece = std::min(bytes.size(), kPiece);
      const bool final = last && piece == bytes.size();
      if (XML_Parse(m_parser.get(), bytes.data(), static_cast<int>(piece), final ? 1 : 0) != XML_STATUS_OK &&
          m_status == XpStatus::Ok) {
        m_status =
            XML_GetErrorCode(m_parser.get()) == XML_ERROR_NO_MEMORY ? XpStatus::OutOfMemory : XpStatus::TrackLogInvalid;
      }
      bytes.remove_prefix(piece);
    } while (!bytes.empty());
    if (m_status == XpStatus::Ok && last && !m_sawRoot) {
      m_status = XpStatus::TrackLogInvalid;
    }
    return m_status;
  }

 private:
  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
    static_cast<GpxReader*>(self)->Start(LocalName(name), attributes);
  }
  static void XMLCALL OnEnd(void* self, const XML_Char* /*name*/) { static_cast<GpxReader*>(self)->End(); }
  static void XMLCALL OnText(void* self, const XML_Char* text, int length) {
    auto* reader = static_cast<GpxReader*>(self);
    if (reader->m_capture != nullptr && reader->m_depth == reader->m_captureDepth) {
      reader->m_capture->Append(std::string_view(text, static_cast<std::size_t>(length)));
    }
  }
  static void XMLCALL OnEntity(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                               const XML_Char*, const XML_Char*) {
    static_cast<GpxReader*>(self)->Stop(XpStatus::TrackLogInvalid);
  }
  static int XMLCALL OnUnknownEncoding(void*, const XML_Char*, XML_Encoding* info) {
    for (int i = 0; i < 256; ++i) {
      info->map[i] = i < 0x80 ? i : 0xFFFD;
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
  }

  void Stop(XpStatus status) {
    if (m_status == XpStatus::Ok) {
      m_status = status;
    }
    (void)XML_StopParser(m_parser.get(), XML_FALSE);
  }

  void Start(std::string_view name, const XML_Char** attributes) {
    ++m_depth;
    if (m_status != XpStatus::Ok) {
      return;  // the parser may still report what it had read when it was stopped
    }
    if (m_depth == 1) {
      m_sawRoot = true;
      if (name != "gpx") {
        Stop(XpStatus::TrackLogInvalid);
      }
      return;
    }
    if (m_depth == 2) {
      m_inTrack = name == "trk";
      if (name == "rte") {
        OpenSegment("rtept");
      }
      return;
    }
    if (m_depth == 3 && m_inTrack && name == "trkseg") {
      OpenSegment("trkpt");
      return;
    }
    if (m_segmentDepth != 0 && m_depth == m_segmentDepth + 1 && name == m_pointName) {
      OpenPoint(attributes);
      return;
    }
    if (m_pointDepth != 0 && m_depth == m_pointDepth + 1) {
      if (name == "time" && !m_sawTime) {
        m_sawTime = true;
        m_capture = &m_time;
        m_captureDepth = m_depth;
      } else if (name == "ele" && !m_sawElevation) {
        m_sawElevation = true;
        m_capture = &m_elevation;
        m_captureDepth = m_depth;
      }
    }
  }

  void End() {
    if (m_status != XpStatus::Ok) {
      --m_depth;
      return;
    }
    if (m_capture != nullptr && m_depth == m_captureDepth) {
      m_capture = nullptr;
      m_captureDepth = 0;
    } else if (m_pointDepth != 0 && m_depth == m_pointDepth) {
      ClosePoint();
    } else if (m_segmentDepth != 0 && m_depth == m_segmentDepth) {
      CloseSegment();
    } else if (m_depth == 2) {
      m_inTrack = false;
    }
    --m_depth;
  }

  void OpenSegment(std::string_view pointName) {
    m_segmentDepth = m_depth;
    m_pointName = pointName;
    m_segment = TrackSegment();
  }

  void CloseSegment() {
    if (!m_segment.fixes.empty()) {
      m_parsed.segments.push_back(std::move(m_segment));
    }
    m_segment = TrackSegment();
    m_segmentDepth = 0;
  }

  void OpenPoint(const XML_Char** attributes) {
    m_pointDepth = m_depth;
    m_latitude.reset();
    m_longitude.reset();
    // The first of a repeated attribute counts, as it would for a tree reader.
    bool sawLatitude = false;
    bool sawLongitude = false;
    for (const XML_Char** a = attributes; a[0] != nullptr; a += 2) {
      const std::string_view attribute = a[0];
      if (attribute == "lat" && !sawLatitude) {
        sawLatitude = true;
        m_latitude = ParseNumber(a[1]);
      } else if (attribute == "lon" && !sawLongitude) {
        sawLongitude = true;
        m_longitude = ParseNumber(a[1]);
      }
    }
    m_time = BoundedText();
    m_elevation = BoundedText();
    m_sawTime = false;
    m_sawElevation = false;
  }

  void ClosePoint() {
    m_pointDepth = 0;
    const auto timeText = m_sawTime ? m_time.Get() : std::nullopt;
    const auto time = timeText ? ParseIsoTimeMs(*timeText) : std::nullopt;
    if (!m_latitude || !m_longitude || !time || !InRange(*m_latitude, *m_longitude)) {
      ++m_parsed.skipped;
      return;
    }
    if (m_parsed.fixes >= m_room) {
      Stop(XpStatus::TrackLogTooLarge);
      return;
    }
    TrackFix fix;
    fix.timeMs = *time;
    fix.latitude = *m_latitude;
    fix.longitude = *m_longitude;
    if (const auto elevationText = m_sawElevation ? m_elevation.Get() : std::nullopt) {
      if (const auto metres = ParseNumber(*elevationText); metres && std::fabs(*metres) < 1.0e6) {
        fix.elevation = *metres;
        fix.hasElevation = true;
      }
    }
    m_segment.fixes.push_back(fix);
    ++m_parsed.fixes;
  }

  std::unique_ptr<XML_ParserStruct, ExpatFree> m_parser;
  std::size_t m_room;
  ParsedFile& m_parsed;
  XpStatus m_status = XpStatus::Ok;
  int m_depth = 0;
  bool m_sawRoot = false;
  bool m_inTrack = false;
  int m_segmentDepth = 0;
  std::string_view m_pointName;
  TrackSegment m_segment;
  int m_pointDepth = 0;
  std::optional<double> m_latitude;
  std::optional<double> m_longitude;
  BoundedText m_time;
  BoundedText m_elevation;
  bool m_sawTime = false;
  bool m_sawElevation = false;
  BoundedText* m_capture = nullptr;
  int m_captureDepth = 0;
};

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
    if (day > XpDaysInMonth(year, month)) {
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

// How much of a track file is read at a time.
constexpr std::size_t kReadPiece = 1 << 16;

}  // namespace

std::int64_t UtcSecondsFromFields(int year, int month, int day, int hour, int minute, int second) {
  const std::int64_t days = XpDaysSince1970(year, month, day);
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
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > XpDaysInMonth(year, month) || hour > 23 || minute > 59 ||
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
  XpUniqueFd file;
  std::uint64_t size = 0;
  if (auto st = XpOpenRegularFile(path, &file, &size); st != XpStatus::Ok) {
    return st;
  }
  if (size > kMaxFileBytes) {
    return XpStatus::TrackLogTooLarge;
  }
  // Reads the next piece of the file; false on a read error.
  std::string piece(kReadPiece, '\0');
  std::uint64_t total = 0;
  bool atEnd = false;
  const auto readPiece = [&]() {
    const ssize_t got = XpReadFully(file.Get(), piece.data(), piece.size());
    if (got < 0) {
      return false;
    }
    total += static_cast<std::uint64_t>(got);
    atEnd = static_cast<std::size_t>(got) < piece.size();
    piece.resize(static_cast<std::size_t>(got));
    return true;
  };
  if (!readPiece()) {
    return XpStatusFromErrno(EIO);
  }
  std::string_view head = piece;
  if (head.substr(0, 3) == "\xEF\xBB\xBF") {
    head.remove_prefix(3);
  }
  head = Trim(head);
  if (head.empty() || head.front() != '<') {
    // An NMEA log (or white space longer than a piece before a document) is
    // read whole; its lines take no more memory than the file.
    std::string bytes = piece;
    while (!atEnd) {
      piece.resize(kReadPiece);
      if (!readPiece()) {
        return XpStatusFromErrno(EIO);
      }
      if (total > kMaxFileBytes) {
        return XpStatus::TrackLogTooLarge;  // the file grew past the limit after it was measured
      }
      bytes += piece;
    }
    return AddBytes(bytes);
  }
  // A GPX document streams through the reader piece by piece: only its fixes stay.
  ParsedFile parsed;
  try {
    GpxReader reader(Room(), parsed);
    while (true) {
      if (auto st = reader.Feed(piece, atEnd); st != XpStatus::Ok) {
        return st;
      }
      if (atEnd) {
        break;
      }
      piece.resize(kReadPiece);
      if (!readPiece()) {
        return XpStatusFromErrno(EIO);
      }
      if (total > kMaxFileBytes) {
        return XpStatus::TrackLogTooLarge;
      }
    }
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  return AddParsed(parsed.segments, parsed.fixes, parsed.skipped);
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
      GpxReader reader(Room(), parsed);
      status = reader.Feed(bytes, /*last=*/true);
    } else if (!content.empty() && content.front() == '$') {
      status = ParseNmea(content, Room(), parsed);
    }
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  if (status != XpStatus::Ok) {
    return status;
  }
  return AddParsed(parsed.segments, parsed.fixes, parsed.skipped);
}

std::size_t TrackLog::Room() const { return m_maxFixes - std::min(m_maxFixes, m_fixes.size()); }

XpStatus TrackLog::AddParsed(std::vector<TrackSegment>& segments, std::size_t fixes, std::size_t skipped) {
  try {
    m_fixes.reserve(m_fixes.size() + fixes);
    m_segments.reserve(m_segments.size() + segments.size());
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  // Nothing below throws, so the log is either unchanged or has the whole file.
  for (TrackSegment& segment : segments) {
    segment.file = m_files;
    m_fixes.insert(m_fixes.end(), segment.fixes.begin(), segment.fixes.end());
    m_segments.push_back(std::move(segment));
  }
  std::stable_sort(m_fixes.begin(), m_fixes.end(),
                   [](const TrackFix& a, const TrackFix& b) { return a.timeMs < b.timeMs; });
  m_skipped += skipped;
  ++m_files;
  return XpStatus::Ok;
}
