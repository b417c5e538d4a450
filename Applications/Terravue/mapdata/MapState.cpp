#include "Applications/Terravue/mapdata/MapState.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/MapPage.h"
#include "Applications/Terravue/mapdata/ServerRequest.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "Applications/Terravue/mapdata/TextScan.h"
#include "xp/base/XpCalendar.h"

namespace {

constexpr std::string_view kLineEnds = "\r\n";
constexpr std::string_view kRightStrip = "\r\n\t ";
constexpr std::string_view kBothStrip = "\r\n\t ";

// A head or coordinate line: line ends, tabs and blanks off the right, tabs off the left.
std::string_view HeadValue(std::string_view line) { return StripLeft(StripRight(line, kRightStrip), "\t"); }

std::string_view Trimmed(std::string_view line) { return StripLeft(StripRight(line, kBothStrip), kBothStrip); }

// A value that will stand on a line of its own: line breaks would split it.
std::string OneLine(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n') {
      out.push_back(c);
    }
  }
  return out;
}

std::string DateLine(const char* indent, int year, int month, int day, int hour, int minute, int second) {
  return std::string(indent) + std::to_string(year) + "/" + std::to_string(month) + "/" + std::to_string(day) + " " +
         std::to_string(hour) + ":" + std::to_string(minute) + ":" + std::to_string(second) + "\n";
}

bool FieldsAreValid(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    return false;
  }
  return day >= 1 && day <= XpDaysInMonth(year, month);
}

// The saved time's line; a time the C library can't break down is written as the epoch.
std::string SavedTimeLine(std::int64_t seconds) {
  const auto when = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (::localtime_r(&when, &local) == nullptr) {
    return DateLine("\t", 1970, 1, 1, 0, 0, 0);
  }
  return DateLine("\t", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec);
}

bool LocalFieldsToSeconds(const std::array<int, 6>& f, std::int64_t* seconds) {
  if (!FieldsAreValid(f[0], f[1], f[2], f[3], f[4], f[5])) {
    return false;
  }
  std::tm local{};
  local.tm_year = f[0] - 1900;
  local.tm_mon = f[1] - 1;
  local.tm_mday = f[2];
  local.tm_hour = f[3];
  local.tm_min = f[4];
  local.tm_sec = f[5];
  local.tm_isdst = -1;
  errno = 0;
  const std::time_t t = std::mktime(&local);
  if (t == static_cast<std::time_t>(-1) && errno != 0) {
    return false;
  }
  *seconds = static_cast<std::int64_t>(t);
  return true;
}

// The capture time's line: the fields of a valid time, zeros for none (which
// reads back as no time).
std::string CaptureTimeLine(const XpDateTime& time) {
  const std::optional<XpDateTimeFields> f = time.GetFields();
  if (!time.IsValid() || !f) {
    return DateLine("\t\t", 0, 0, 0, 0, 0, 0);
  }
  return DateLine("\t\t", f->year, f->month, f->day, f->hour, f->minute, f->second);
}

// Reads "year/month/day hour:minute:second" as a capture time (three to six
// numbers, as the date-time parser takes them; anything else is no time).
XpDateTime CaptureTimeFromLine(std::string_view line) {
  XpDateTime time;
  (void)time.Parse(line, "\t\t%d/%d/%d %d:%d:%d\n");
  return time;
}

// Pictures whose move is not in their file yet are listed in a small file of
// their own beside "data.tvd", so that the state file keeps its seven lines
// per picture. One line per such picture: its index in the state, the file's
// size and modification time (ns) when they were known (-1 and 0 otherwise),
// and its path, separated by tabs; the path comes last and may hold tabs.
constexpr std::string_view kMovesHeader = "#Terravue pending moves 1";

// Pictures whose position the user keeps on the map only are listed the same
// way in a file of their own: their index in the state and their path.
constexpr std::string_view kMapOnlyHeader = "#Terravue map-only positions 1";

// The path of the file `name` beside the state file.
std::string BesideStateFile(const std::string& stateFilePath, const char* name) {
  const std::size_t slash = stateFilePath.rfind(kMapPathSeparator);
  const std::string folder = slash == std::string::npos ? std::string() : stateFilePath.substr(0, slash);
  return JoinMapPath(folder, name);
}

std::string MovesFilePath(const std::string& stateFilePath) { return BesideStateFile(stateFilePath, kMovesFileName); }

// Writes a list beside the state file, or removes it when it has nothing in it.
bool WriteListFile(const std::string& path, const std::string& text) {
  if (text.empty()) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
  }
  return WriteFileReplacing(path, text) == XpStatus::Ok;
}

// A decimal number of a moves line, optionally negative; no overflow.
bool ParseStampNumber(std::string_view text, std::int64_t* value) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) {
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return false;
  }
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || __builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, c - '0', &v)) {
      return false;
    }
  }
  *value = negative ? -v : v;
  return true;
}

// Splits the next tab-separated field off `rest`; false when there is no tab.
bool NextField(std::string_view* rest, std::string_view* field) {
  const std::size_t tab = rest->find('\t');
  if (tab == std::string_view::npos) {
    return false;
  }
  *field = rest->substr(0, tab);
  rest->remove_prefix(tab + 1);
  return true;
}

// Reads one picture block into `record`.
PictureResult ReadPictureBlock(TextLineReader& reader, PictureRecord& record) {
  std::string_view line;
  if (!reader.Next(&line)) {
    return PictureResult::Malformed;
  }
  const std::string_view opening = Trimmed(line);
  if (opening == "}") {
    return PictureResult::EndOfPictures;
  }
  if (opening != "{") {
    return PictureResult::Malformed;
  }
  std::array<std::string_view, 4> values;
  std::string_view rawPath;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!reader.Next(&line)) {
      return PictureResult::Malformed;
    }
    if (i == 0) {
      rawPath = StripLeft(StripRight(line, kLineEnds), "\t");
    }
    values[i] = HeadValue(line);
  }
  record.m_path = std::string(values[0]);
  // A file name may end in blanks or tabs here; take the unstripped path when
  // only that one names a file.
  if (rawPath != values[0] && !MapPathExists(record.m_path) && MapPathExists(std::string(rawPath))) {
    record.m_path = std::string(rawPath);
  }
  record.m_cacheName = std::string(values[1]);
  // The cache name is joined to the map's folder: a name that is not one of
  // the program's own ("../photo.jpg", "/home/...") could reach any file, so
  // such a picture is kept without a thumbnail.
  if (!record.m_cacheName.empty() && ThumbnailNumber(record.m_cacheName) < 0) {
    record.m_cacheName.clear();
  }
  record.m_latitude = std::string(values[2]);
  record.m_longitude = std::string(values[3]);
  if (!reader.Next(&line)) {
    return PictureResult::Malformed;
  }
  record.m_captureTime = CaptureTimeFromLine(line);
  record.UpdateTimeText();
  for (;;) {
    if (!reader.Next(&line)) {
      return PictureResult::Malformed;
    }
    if (Trimmed(line) == "}") {
      break;
    }
  }
  record.m_modified = 0;
  record.TakeFileStamp();
  return PictureResult::Success;
}

}  // namespace

MapState::MapState(std::string rootFolder)
    : m_rootFolder(std::move(rootFolder)), m_zoom("9"), m_latitude(kNoLatitudeText), m_longitude(kNoLongitudeText) {
  UpdatePaths();
}

MapState MapState::Listed(const std::string& name, const std::string& stateFilePath) {
  std::string root = stateFilePath;
  for (int i = 0; i < 2; ++i) {
    const std::size_t slash = root.rfind(kMapPathSeparator);
    root = slash == std::string::npos ? std::string() : root.substr(0, slash);
  }
  MapState state(root);
  state.m_name = name;
  state.m_stateFilePath = stateFilePath;
  state.m_pagePath = JoinMapPath(JoinMapPath(root, name), kPageFileName);
  return state;
}

void MapState::UpdatePaths() {
  m_stateFilePath = JoinMapPath(Folder(), kStateFileName);
  m_pagePath = JoinMapPath(Folder(), kPageFileName);
}

std::string MapState::Folder() const { return m_name.empty() ? m_rootFolder : JoinMapPath(m_rootFolder, m_name); }

void MapState::Rename(const std::string& name) {
  m_name = name;
  UpdatePaths();
  for (PictureRecord& record : m_pictures.Records()) {
    record.m_stateName = name;
  }
}

bool MapState::MakeFolder() const {
  // A name must be one folder directly under the root.
  if (m_name.empty() || m_name == "." || m_name == ".." || m_name.find(kMapPathSeparator) != std::string::npos ||
      m_name.find('\0') != std::string::npos) {
    return false;
  }
  const std::string folder = JoinMapPath(m_rootFolder, m_name);
  return ::mkdir(folder.c_str(), 0777) == 0;
}

std::string MapState::StateText() const {
  std::string text = "#Terravue data version 1.1\n{\n";
  text += SavedTimeLine(m_savedTime);
  text += "\t" + OneLine(m_zoom) + "\n";
  text += "\t" + OneLine(m_latitude) + "\n";
  text += "\t" + OneLine(m_longitude) + "\n";
  text += "\t" + std::to_string(m_pictures.Count()) + "\n";
  for (const PictureRecord& record : m_pictures.Records()) {
    text += "\t{\n";
    // A path that can't stand on one line is left out, as a failed path line is.
    if (HasLineBreak(record.m_path)) {
      text += "\n";
    } else {
      text += "\t\t" + record.m_path + "\n";
    }
    text += "\t\t" + OneLine(record.m_cacheName) + "\n";
    text += "\t\t" + OneLine(record.m_latitude) + "\n";
    text += "\t\t" + OneLine(record.m_longitude) + "\n";
    text += CaptureTimeLine(record.m_captureTime);
    text += "\t}\n";
  }
  text += "}\n";
  return ToCrLf(text);
}

PictureResult MapState::Write(bool stamp) {
  if (stamp) {
    m_savedTime = static_cast<std::int64_t>(std::time(nullptr));
  }
  if (WriteFileReplacing(m_stateFilePath, StateText()) != XpStatus::Ok) {
    return PictureResult::WriteFailed;
  }
  // A move that is only in the state would be lost with a stale or missing
  // list, so failing to write a list fails the write. The map-only list goes
  // first: should the moves list then fail, a picture taken off it is still
  // listed there and stays a move, never losing its position to the file's.
  if (!WriteListFile(BesideStateFile(m_stateFilePath, kMapOnlyFileName), MapOnlyText()) ||
      !WriteListFile(MovesFilePath(m_stateFilePath), MovesText())) {
    return PictureResult::WriteFailed;
  }
  m_status = kStatusRead;
  return PictureResult::Success;
}

std::string MapState::MovesText() const {
  std::string text;
  std::size_t index = 0;
  for (const PictureRecord& record : m_pictures.Records()) {
    if (record.m_modified != 0 && !HasLineBreak(record.m_path)) {
      text += std::to_string(index) + "\t" + std::to_string(record.HasFileStamp() ? record.m_fileSize : -1) + "\t" +
              std::to_string(record.HasFileStamp() ? record.m_fileTimeNs : 0) + "\t" + record.m_path + "\n";
    }
    ++index;
  }
  return text.empty() ? text : ToCrLf(std::string(kMovesHeader) + "\n" + text);
}

void MapState::ApplyMovesText(std::string_view text) {
  TextLineReader reader(text);
  std::string_view line;
  if (!reader.Next(&line) || Trimmed(line) != kMovesHeader) {
    return;
  }
  while (reader.Next(&line)) {
    std::string_view rest = StripRight(line, kLineEnds);
    std::string_view indexText;
    std::string_view sizeText;
    std::string_view timeText;
    std::int64_t index = 0;
    std::int64_t size = 0;
    std::int64_t timeNs = 0;
    if (!NextField(&rest, &indexText) || !NextField(&rest, &sizeText) || !NextField(&rest, &timeText) ||
        !ParseStampNumber(indexText, &index) || index < 0 || static_cast<std::uint64_t>(index) >= m_pictures.Count()) {
      continue;
    }
    // The path must name the same picture: a list that no longer fits the
    // state marks nothing.
    PictureRecord& record = m_pictures.At(static_cast<std::size_t>(index));
    if (record.m_path != rest) {
      continue;
    }
    record.m_modified = 1;
    if (ParseStampNumber(sizeText, &size) && ParseStampNumber(timeText, &timeNs) && size >= 0) {
      record.m_fileSize = size;
      record.m_fileTimeNs = timeNs;
    } else {
      record.m_fileSize = -1;
      record.m_fileTimeNs = 0;
    }
  }
}

std::string MapState::MapOnlyText() const {
  std::string text;
  std::size_t index = 0;
  for (const PictureRecord& record : m_pictures.Records()) {
    if (record.m_mapOnly != 0 && !HasLineBreak(record.m_path)) {
      text += std::to_string(index) + "\t" + record.m_path + "\n";
    }
    ++index;
  }
  return text.empty() ? text : ToCrLf(std::string(kMapOnlyHeader) + "\n" + text);
}

void MapState::ApplyMapOnlyText(std::string_view text) {
  TextLineReader reader(text);
  std::string_view line;
  if (!reader.Next(&line) || Trimmed(line) != kMapOnlyHeader) {
    return;
  }
  while (reader.Next(&line)) {
    std::string_view rest = StripRight(line, kLineEnds);
    std::string_view indexText;
    std::int64_t index = 0;
    if (!NextField(&rest, &indexText) || !ParseStampNumber(indexText, &index) || index < 0 ||
        static_cast<std::uint64_t>(index) >= m_pictures.Count()) {
      continue;
    }
    PictureRecord& record = m_pictures.At(static_cast<std::size_t>(index));
    if (record.m_path == rest) {
      record.m_mapOnly = 1;
    }
  }
}

std::size_t MapState::KeepOnMapOnly(const std::vector<std::string>& paths) {
  std::size_t marked = 0;
  for (PictureRecord& record : m_pictures.Records()) {
    if (record.m_modified != 0 && std::find(paths.cbegin(), paths.cend(), record.m_path) != paths.cend()) {
      record.m_modified = 0;
      record.m_mapOnly = 1;
      record.m_trackFix.reset();
      ++marked;
    }
  }
  return marked;
}

PictureResult MapState::Read() {
  m_status = kStatusReading;
  std::string text;
  if (ReadWholeFile(m_stateFilePath, kMaxTextFileBytes, &text) != XpStatus::Ok) {
    return PictureResult::OpenFailed;
  }
  const PictureResult result = ReadFromText(text);
  if (result != PictureResult::Success) {
    return result;
  }
  std::string list;
  if (ReadWholeFile(BesideStateFile(m_stateFilePath, kMapOnlyFileName), kMaxTextFileBytes, &list) == XpStatus::Ok) {
    ApplyMapOnlyText(list);
  }
  if (ReadWholeFile(MovesFilePath(m_stateFilePath), kMaxTextFileBytes, &list) == XpStatus::Ok) {
    ApplyMovesText(list);
  }
  return result;
}

PictureResult MapState::ReadFromText(std::string_view text) {
  m_status = kStatusReading;
  m_pictures.Clear();
  m_pictures.SetCounter(0);
  TextLineReader reader(text);
  std::string_view line;

  std::array<int, 6> f{};
  if (!reader.Next(&line) || ScanIntegers(line, "#Terravue data version %d.%d", std::span(f).first(2)) < 2) {
    return PictureResult::Malformed;
  }
  bool hadLineEnd = false;
  if (!reader.Next(&line, &hadLineEnd) || line != "{" || !hadLineEnd) {
    return PictureResult::Malformed;
  }
  std::int64_t saved = 0;
  if (!reader.Next(&line) || ScanIntegers(line, "\t%d/%d/%d %d:%d:%d", f) < 6 || !LocalFieldsToSeconds(f, &saved)) {
    return PictureResult::Malformed;
  }
  m_savedTime = saved;
  std::array<std::string*, 3> head = {&m_zoom, &m_latitude, &m_longitude};
  for (std::string* value : head) {
    if (!reader.Next(&line)) {
      return PictureResult::Malformed;
    }
    *value = std::string(HeadValue(line));
  }
  int count = 0;
  if (!reader.Next(&line) || ScanIntegers(line, "\t%d", std::span(&count, 1)) < 1) {
    return PictureResult::Malformed;
  }
  bool closed = false;
  for (int i = 0; i < count; ++i) {
    PictureRecord record(std::string(), m_name, std::string());
    const PictureResult result = ReadPictureBlock(reader, record);
    if (result == PictureResult::EndOfPictures) {
      closed = true;
      break;
    }
    if (result != PictureResult::Success) {
      return result;
    }
    record.MeasureThumbnail(m_rootFolder);
    // New thumbnails are numbered past every number in use, so none takes the
    // name of one the state holds already.
    if (const std::int32_t number = ThumbnailNumber(record.m_cacheName); number >= m_pictures.Counter()) {
      m_pictures.SetCounter(number);
    }
    m_pictures.Append(std::move(record));
    if (m_pictures.Counter() < INT32_MAX) {
      m_pictures.SetCounter(m_pictures.Counter() + 1);
    }
  }
  // A count smaller than the blocks the file holds (a damaged or negative
  // number) would open a map without the pictures after it, and the next save
  // would drop them from the file for good: the state is damaged instead.
  if (!closed && reader.Next(&line) && Trimmed(line) != "}") {
    return PictureResult::Malformed;
  }
  m_status = kStatusRead;
  return PictureResult::Success;
}

PictureResult MapState::WritePage(const std::string& programFolder, const MapPageAddresses& addresses) const {
  const std::string folder = Folder();
  for (const char* name : kPageSupportFiles) {
    // A missing support file only leaves the page without script, style or pins.
    (void)MapCopyFile(JoinMapPath(programFolder, name), JoinMapPath(folder, name), /*overwrite=*/true);
  }
  if (WriteFileReplacing(m_pagePath, ToCrLf(BuildMapPage(m_pictures, addresses))) != XpStatus::Ok) {
    return PictureResult::WriteFailed;
  }
  return PictureResult::Success;
}

std::string MapState::BuildRequest(const RequestContext& context) const { return BuildServerRequest(*this, context); }

bool MapState::TakeThumbnails() {
  for (PictureRecord& record : m_pictures.Records()) {
    if (!record.m_stateName.empty()) {
      continue;
    }
    // Only a thumbnail of the program's own naming, and no link, is moved.
    const bool ownThumbnail = record.ThumbnailPathIsSafe(m_rootFolder);
    const std::string source = record.ThumbnailPath(m_rootFolder);
    record.m_stateName = m_name;
    // A picture that was missing when its thumbnail was due has nothing to
    // move, and an unnamed state's thumbnails are in place already.
    std::string target = record.ThumbnailPath(m_rootFolder);
    if (record.m_cacheName.empty() || target == source) {
      continue;
    }
    // A picture that could not be decoded has no thumbnail; the state keeps
    // it all the same, without one.
    if (!ownThumbnail || !MapIsRegularFile(source)) {
      continue;
    }
    // A name the state's folder holds already (a map rebuilt from its paths
    // numbers its thumbnails anew) makes way for the next free number.
    while (MapEntryExists(target) && m_pictures.Counter() < INT32_MAX) {
      record.m_cacheName = ThumbnailName(m_pictures.Counter());
      m_pictures.SetCounter(m_pictures.Counter() + 1);
      target = record.ThumbnailPath(m_rootFolder);
    }
    if (!MapMoveFile(source, target)) {
      return false;
    }
  }
  return true;
}

bool MapState::CopyThumbnailsFrom(const MapState& other) const {
  const auto& mine = m_pictures.Records();
  const auto& theirs = other.m_pictures.Records();
  const std::size_t pairs = std::min(mine.size(), theirs.size());
  for (std::size_t i = 0; i < pairs; ++i) {
    if (theirs[i].m_cacheName.empty() || mine[i].m_cacheName.empty() ||
        !theirs[i].ThumbnailPathIsSafe(other.m_rootFolder) || !mine[i].ThumbnailPathIsSafe(m_rootFolder)) {
      continue;
    }
    const std::string source = theirs[i].ThumbnailPath(other.m_rootFolder);
    const std::string target = mine[i].ThumbnailPath(m_rootFolder);
    if (source == target || !MapIsRegularFile(source)) {
      continue;
    }
    if (!MapCopyFile(source, target, /*overwrite=*/false)) {
      return false;
    }
  }
  return true;
}

bool MapState::ApplyPageValues(const std::string& zoom, const std::string& latitude, const std::string& longitude,
                               const std::vector<std::pair<std::string, std::string>>& positions) {
  const std::array<std::pair<const std::string*, std::string*>, 3> head = {
      std::pair{&zoom, &m_zoom}, std::pair{&latitude, &m_latitude}, std::pair{&longitude, &m_longitude}};
  for (const auto& [value, stored] : head) {
    // The page is outside data: a value that would split a line of the state file is ignored.
    if (!value->empty() && *value != *stored && !HasLineBreak(*value)) {
      *stored = *value;
    }
  }
  if (positions.size() != m_pictures.Count()) {
    return false;
  }
  for (std::size_t i = 0; i < positions.size(); ++i) {
    PictureRecord& record = m_pictures.At(i);
    const std::string& lat = HasLineBreak(positions[i].first) ? record.m_latitude : positions[i].first;
    const std::string& lng = HasLineBreak(positions[i].second) ? record.m_longitude : positions[i].second;
    record.SetPosition(std::string(lat), std::string(lng));
  }
  return AnyModified();
}

void MapState::TakeNameSets(const MapState& from) {
  std::unordered_map<std::string_view, const PictureRecord*> named;
  for (const PictureRecord& record : from.m_pictures.Records()) {
    if (!record.m_nameVersions.empty()) {
      named.emplace(record.m_path, &record);
    }
  }
  if (named.empty()) {
    return;
  }
  for (PictureRecord& record : m_pictures.Records()) {
    const auto found = named.find(record.m_path);
    if (found == named.end() || found->second->m_nameSetsStamp <= record.m_nameSetsStamp) {
      continue;
    }
    const PictureRecord& known = *found->second;
    record.m_nameVersions = known.m_nameVersions;
    record.m_namesInFile = known.m_namesInFile;
    record.m_nameSetsStamp = known.m_nameSetsStamp;
    record.m_names = known.m_nameVersions[known.m_namesInFile];
    record.m_namesWanted = known.m_namesInFile;
    record.m_namesPending = 0;
  }
}

bool MapState::AnyModified() const {
  for (const PictureRecord& record : m_pictures.Records()) {
    if (record.m_modified != 0 || record.m_namesPending != 0) {
      return true;
    }
  }
  return false;
}
