#include "Applications/Terravue/mapdata/PhotoJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "xp/base/XpFileRead.h"
#include "xp/base/XpReplaceFile.h"
#include "xp/base/XpSha256.h"
#include "xp/base/XpSpecialFolder.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

constexpr std::string_view kMagic = "terravue-journal 1\n";
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
constexpr std::string_view kSuffix = ".tvj";

std::mutex g_folderMutex;
std::string g_folder;
std::atomic<unsigned> g_sequence{0};

std::string Digest(std::string_view bytes) {
  return XpSha256::Hex(XpSha256::Of({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
}

std::string Resolved(const std::string& path) {
  struct Freer {
    void operator()(char* p) const { std::free(p); }
  };
  const std::unique_ptr<char, Freer> real(::realpath(path.c_str(), nullptr));
  if (real) {
    return real.get();
  }
  // A file that does not exist yet (a sidecar a write creates): its folder resolved.
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  const std::unique_ptr<char, Freer> realFolder(::realpath(folder.empty() ? "/" : folder.c_str(), nullptr));
  if (!realFolder) {
    return path;
  }
  const std::string base(realFolder.get());
  return (base == "/" ? std::string() : base) + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
}

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

bool FromHex(std::string_view hex, std::string* out) {
  if (hex.size() % 2 != 0) {
    return false;
  }
  out->clear();
  out->reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc() || end != hex.data() + i + 2) {
      return false;
    }
    out->push_back(static_cast<char>(value));
  }
  return true;
}

template <typename T>
bool Number(std::string_view text, T* out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool IsDigest(std::string_view text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Coordinate texts: printable ASCII and the program's own characters, never a line break.
bool IsPositionText(std::string_view text) {
  return text.size() <= 128 && std::none_of(text.begin(), text.end(),
                                            [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The journal's entry files, by name (which sorts them oldest first).
std::vector<std::string> EntryFiles(const std::string& folder) {
  std::vector<std::string> names;
  struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) {
    return names;
  }
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string_view name(item->d_name);
    if (name.size() > kSuffix.size() && name.ends_with(kSuffix) && name.front() != '.') {
      names.emplace_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool ReadEntry(const std::string& folder, const std::string& name, PhotoJournal::Entry* entry) {
  std::string bytes;
  if (ReadWholeFile(folder + "/" + name, kMaxHeaderBytes + PhotoJournal::kMaxKeptBytes, &bytes) != XpStatus::Ok) {
    return false;
  }
  if (!PhotoJournal::ParseEntry(bytes, entry)) {
    return false;
  }
  entry->file = name;
  return true;
}

bool WriteEntry(const std::string& folder, const PhotoJournal::Entry& entry) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    // The parents too, readable by the user only.
    std::string partial;
    for (std::size_t at = 1; at != std::string::npos;) {
      at = folder.find('/', at + 1);
      partial = folder.substr(0, at);
      if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
      }
    }
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return false;
  }
  char name[96];
  std::snprintf(name, sizeof name, "%020lld-%d-%u%s", static_cast<long long>(entry.time), static_cast<int>(::getpid()),
                g_sequence.fetch_add(1), kSuffix.data());
  const std::string path = folder + "/" + name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    return false;
  }
  bool ok = XpWriteFully(fd, PhotoJournal::FormatEntry(entry)) == XpStatus::Ok;
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    ::unlink(path.c_str());
  }
  return ok;
}

void Prune(const std::string& folder) {
  const std::vector<std::string> names = EntryFiles(folder);
  if (names.size() <= PhotoJournal::kMaxEntries) {
    return;
  }
  for (std::size_t i = 0; i < names.size() - PhotoJournal::kMaxEntries; ++i) {
    ::unlink((folder + "/" + names[i]).c_str());
  }
}

struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  bool Same(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec;
  }
};

bool StampOf(const std::string& path, FileStamp* stamp, mode_t* mode = nullptr) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  *stamp = FileStamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  if (mode != nullptr) {
    *mode = info.st_mode & 07777;
  }
  return true;
}

// Replaces the photo with `bytes`, only while it is still the file that was read, keeping its
// permission bits and giving it `mtime`.
XpStatus ReplacePhoto(const std::string& path, const FileStamp& read, mode_t mode, std::string_view bytes,
                      const timespec& mtime) {
  XpReplacementFile temp;
  if (const XpStatus st = temp.Create(path, mode); st != XpStatus::Ok) {
    return st;
  }
  if (const XpStatus st = XpWriteFully(temp.Fd(), bytes); st != XpStatus::Ok) {
    // A full disk is told apart; any other failed write is a failure to write.
    return st == XpStatus::DiskFull ? st : XpStatus::OpenForWriteFailed;
  }
  // The mode asked for was cut by the umask; the photo keeps its own.
  static_cast<void>(::fchmod(temp.Fd(), mode));
  const timespec times[2] = {{0, UTIME_OMIT}, mtime};
  static_cast<void>(::futimens(temp.Fd(), times));
  if (const XpStatus st = temp.Flush(); st != XpStatus::Ok) {
    return st;
  }
  FileStamp now;
  if (!StampOf(path, &now) || !now.Same(read)) {
    return XpStatus::ChangedOnDisk;
  }
  return temp.Commit();
}

// Removes a file a write created, only while it is still the file that was read.
XpStatus RemoveCreated(const std::string& path, const FileStamp& read) {
  FileStamp now;
  if (!StampOf(path, &now) || !now.Same(read)) {
    return XpStatus::ChangedOnDisk;
  }
  if (::unlink(path.c_str()) != 0) {
    return XpStatusFromErrnoForPath(errno, path);
  }
  const std::size_t slash = path.rfind('/');
  XpSyncFolder(slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1));
  return XpStatus::Ok;
}

}  // namespace

std::string PhotoJournal::DefaultFolder() {
  const std::string data = XpGetSpecialFolder(XpSpecialFolder::AppData);
  return data.empty() ? std::string() : data + "/terravue/journal";
}

void PhotoJournal::SetFolder(std::string folder) {
  const std::scoped_lock lock(g_folderMutex);
  g_folder = std::move(folder);
}

std::string PhotoJournal::Folder() {
  const std::scoped_lock lock(g_folderMutex);
  return g_folder;
}

std::string PhotoJournal::FormatEntry(const Entry& entry) {
  std::string out(kMagic);
  out += "path=" + HexOf(entry.path) + "\n";
  out += "time=" + std::to_string(entry.time) + "\n";
  out += "before=" + entry.before + "\n";
  out += "after=" + entry.after + "\n";
  out += "old=" + entry.oldPosition + "\n";
  out += "new=" + entry.newPosition + "\n";
  out += "mtime=" + std::to_string(entry.mtimeSeconds) + "." + std::to_string(entry.mtimeNanoseconds) + "\n";
  out += "keep=" + std::to_string(entry.keepFrom) + "\n";
  if (entry.head != 0) {
    out += "head=" + std::to_string(entry.head) + "\n";
  }
  if (entry.tailEnd != Entry::kToTheEnd) {
    out += "tail_end=" + std::to_string(entry.tailEnd) + "\n";
  }
  if (entry.created) {
    out += "created=1\n";
  }
  out += "kept=" + std::to_string(entry.kept.size()) + "\n\n";
  out += entry.kept;
  return out;
}

bool PhotoJournal::ParseEntry(std::string_view bytes, Entry* entry) {
  if (!bytes.starts_with(kMagic)) {
    return false;
  }
  const std::size_t headerEnd = bytes.find("\n\n");
  if (headerEnd == std::string_view::npos || headerEnd > kMaxHeaderBytes) {
    return false;
  }
  Entry out;
  std::string_view header = bytes.substr(kMagic.size(), headerEnd + 1 - kMagic.size());
  unsigned seen = 0;
  std::uint64_t keptSize = 0;
  while (!header.empty()) {
    const std::size_t end = header.find('\n');
    const std::string_view line = header.substr(0, end);
    header.remove_prefix(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return false;
    }
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    unsigned bit = 0;
    bool ok = false;
    if (key == "path") {
      bit = 1;
      ok = FromHex(value, &out.path) && !out.path.empty() && out.path.find('\0') == std::string::npos;
    } else if (key == "time") {
      bit = 2;
      ok = Number(value, &out.time);
    } else if (key == "before") {
      bit = 4;
      ok = IsDigest(value);
      out.before = std::string(value);
    } else if (key == "after") {
      bit = 8;
      ok = IsDigest(value);
      out.after = std::string(value);
    } else if (key == "old") {
      bit = 16;
      ok = IsPositionText(value);
      out.oldPosition = std::string(value);
    } else if (key == "new") {
      bit = 32;
      ok = IsPositionText(value);
      out.newPosition = std::string(value);
    } else if (key == "mtime") {
      bit = 64;
      const std::size_t dot = value.find('.');
      ok = dot != std::string_view::npos && Number(value.substr(0, dot), &out.mtimeSeconds) &&
           Number(value.substr(dot + 1), &out.mtimeNanoseconds) && out.mtimeNanoseconds >= 0 &&
           out.mtimeNanoseconds < 1000000000;
    } else if (key == "keep") {
      bit = 128;
      ok = Number(value, &out.keepFrom) && out.keepFrom <= kMaxPhotoBytes;
    } else if (key == "kept") {
      bit = 256;
      ok = Number(value, &keptSize) && keptSize <= kMaxKeptBytes;
    } else if (key == "created") {
      bit = 512;
      ok = value == "1";
      out.created = true;
    } else if (key == "head") {
      bit = 1024;
      ok = Number(value, &out.head) && out.head != 0 && out.head <= kMaxPhotoBytes;
    } else if (key == "tail_end") {
      bit = 2048;
      ok = Number(value, &out.tailEnd) && out.tailEnd <= kMaxPhotoBytes;
    }
    if (!ok || (seen & bit) != 0) {
      return false;
    }
    seen |= bit;
  }
  // An entry of a created file kept nothing: its old state is no file at all.
  if ((seen & 511) != 511 || bytes.size() - (headerEnd + 2) != keptSize || (out.created && keptSize != 0) ||
      out.keepFrom > out.tailEnd) {
    return false;
  }
  out.kept = std::string(bytes.substr(headerEnd + 2));
  *entry = std::move(out);
  return true;
}

namespace {

// "N:35:00:00.000 E:135:00:00.000" for a record with a position, else "".
std::string PositionText(const XpGPSRecord& gps) {
  if (!gps.latitude.IsValid() || !gps.longitude.IsValid()) {
    return {};
  }
  const std::string text = CoordinateTextFromGPS(gps.latitudeRef, gps.latitude, true) + " " +
                           CoordinateTextFromGPS(gps.longitudeRef, gps.longitude, false);
  return IsPositionText(text) ? text : std::string();
}

}  // namespace

std::string PhotoJournal::PositionOf(const std::string& path) {
  XpGPSRecord gps;
  if (XpExifRewrite::ReadGPS(path, gps) != XpStatus::Ok) {
    // A sidecar: its XMP position.
    std::string packet;
    if (ReadWholeFile(path, kMaxKeptBytes, &packet) != XpStatus::Ok ||
        !XpPhotoMetadata::RecordFromXmp(std::span(reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size()),
                                        &gps)) {
      return {};
    }
  }
  return PositionText(gps);
}

namespace {

// What the old and the new file share: the bytes both start with, and the old file's tail,
// which the write either copied to the end of the new file (a JPEG's image data behind a
// rewritten Exif block) or left where it was (a HEIF photo's boxes, with the new Exif data
// appended). Only the old bytes between the two are kept.
struct Shared {
  std::uint64_t head = 0;
  std::uint64_t keepFrom = 0;
  std::uint64_t tailEnd = PhotoJournal::Entry::kToTheEnd;
  std::uint64_t kept = 0;
};

Shared SharedBytes(const std::string& before, const std::string& after) {
  const std::size_t most = std::min(before.size(), after.size());
  std::size_t head = 0;
  while (head < most && before[head] == after[head]) {
    ++head;
  }
  // The tail at the end of the new file.
  std::size_t atEnd = 0;
  while (atEnd < most - head && before[before.size() - 1 - atEnd] == after[after.size() - 1 - atEnd]) {
    ++atEnd;
  }
  Shared shared;
  shared.head = head;
  shared.keepFrom = after.size() - atEnd;
  shared.kept = before.size() - head - atEnd;
  // The tail at its old place, when the new file is at least as long.
  if (after.size() >= before.size()) {
    std::size_t inPlace = 0;
    while (inPlace < before.size() - head &&
           before[before.size() - 1 - inPlace] == after[before.size() - 1 - inPlace]) {
      ++inPlace;
    }
    if (inPlace > atEnd) {
      shared.keepFrom = before.size() - inPlace;
      shared.tailEnd = before.size();
      shared.kept = before.size() - head - inPlace;
    }
  }
  return shared;
}

}  // namespace

XpStatus PhotoJournal::Record(const std::string& path, const std::function<XpStatus()>& write, bool* kept) {
  if (kept != nullptr) {
    *kept = false;
  }
  const std::string folder = Folder();
  std::string before;
  struct stat info {};
  const std::string resolved = Resolved(path);
  struct stat linkInfo {};
  // A file that is not there before the write and is afterwards was made by it.
  const bool created = !folder.empty() && ::lstat(resolved.c_str(), &linkInfo) != 0 && errno == ENOENT;
  const bool keep = created || (!folder.empty() && ::stat(resolved.c_str(), &info) == 0 &&
                                ReadWholeFile(resolved, kMaxPhotoBytes, &before) == XpStatus::Ok);
  const std::string oldPosition = keep && !created ? PositionOf(resolved) : std::string();
  const XpStatus st = write();
  if (st != XpStatus::Ok || !keep) {
    return st;
  }
  std::string after;
  if (ReadWholeFile(resolved, kMaxPhotoBytes, &after) != XpStatus::Ok || (!created && after == before)) {
    return st;
  }
  if (created && ::stat(resolved.c_str(), &info) != 0) {
    return st;
  }
  const Shared shared = SharedBytes(before, after);
  if (shared.kept > kMaxKeptBytes) {
    return st;
  }
  Entry entry;
  entry.path = resolved;
  entry.time = static_cast<std::int64_t>(std::time(nullptr));
  entry.before = Digest(before);
  entry.after = Digest(after);
  entry.oldPosition = oldPosition;
  entry.newPosition = PositionOf(resolved);
  entry.mtimeSeconds = info.st_mtim.tv_sec;
  entry.mtimeNanoseconds = info.st_mtim.tv_nsec;
  entry.head = shared.head;
  entry.keepFrom = shared.keepFrom;
  entry.tailEnd = shared.tailEnd;
  entry.kept = before.substr(shared.head, shared.kept);
  entry.created = created;
  if (WriteEntry(folder, entry)) {
    Prune(folder);
    if (kept != nullptr) {
      *kept = true;
    }
  }
  return st;
}

std::vector<PhotoJournal::Entry> PhotoJournal::EntriesFor(const std::string& path) {
  std::vector<Entry> entries;
  const std::string folder = Folder();
  if (folder.empty()) {
    return entries;
  }
  const std::string resolved = Resolved(path);
  std::vector<std::string> names = EntryFiles(folder);
  std::reverse(names.begin(), names.end());
  for (const std::string& name : names) {
    Entry entry;
    if (ReadEntry(folder, name, &entry) && entry.path == resolved) {
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

namespace {

// Journals the files a write changes where `where` says it goes.
XpStatus RecordWriteTo(const std::string& path, const XpPhotoWrite::Where& where,
                       const std::function<XpStatus()>& write) {
  if (where.destination != XpPhotoWrite::Destination::Sidecar) {
    return PhotoJournal::Record(path, write);
  }
  if (where.createsSidecar) {
    return PhotoJournal::Record(where.sidecars.front(), write);
  }
  // Each sidecar's entry wraps the next one's, the write innermost.
  std::function<XpStatus(std::size_t)> nested = [&](std::size_t i) -> XpStatus {
    if (i == where.sidecars.size()) {
      return write();
    }
    return PhotoJournal::Record(where.sidecars[i], [&] { return nested(i + 1); });
  };
  return nested(0);
}

}  // namespace

XpStatus PhotoJournal::RecordPositionWrite(const std::string& path, const std::function<XpStatus()>& write) {
  return RecordWriteTo(path, XpPhotoWrite::WhereWritten(path), write);
}

XpStatus PhotoJournal::RecordNamesWrite(const std::string& path, const std::function<XpStatus()>& write) {
  return RecordWriteTo(path, XpPhotoWrite::WhereNamesWritten(path), write);
}

namespace {

// How bad an outcome is, for the outcome of several files.
int Severity(PhotoJournal::RestoreKind kind) {
  switch (kind) {
    case PhotoJournal::RestoreKind::NothingKept:
      return 0;
    case PhotoJournal::RestoreKind::Restored:
      return 1;
    case PhotoJournal::RestoreKind::ChangedSince:
      return 2;
    case PhotoJournal::RestoreKind::Failed:
      return 3;
  }
  return 3;
}

}  // namespace

PhotoJournal::RestoreOutcome PhotoJournal::Restore(const std::string& path, bool dryRun) {
  // The photo and every sidecar of it with kept writes, each on its own.
  RestoreOutcome outcome = RestoreFile(path, dryRun);
  bool positionKnown = outcome.kind == RestoreKind::Restored;
  std::vector<std::string> seen{Resolved(path)};
  for (const std::string& sidecar : XpPhotoWrite::OwnSidecars(path)) {
    const std::string resolved = Resolved(sidecar);
    if (std::find(seen.begin(), seen.end(), resolved) != seen.end()) {
      continue;
    }
    seen.push_back(resolved);
    const RestoreOutcome one = RestoreFile(sidecar, dryRun);
    if (one.kind == RestoreKind::NothingKept) {
      continue;
    }
    outcome.steps += one.steps;
    if (!positionKnown && one.kind == RestoreKind::Restored) {
      // The first sidecar is the one a read takes the position from.
      outcome.position = one.position;
      positionKnown = true;
    }
    if (Severity(one.kind) > Severity(outcome.kind)) {
      outcome.kind = one.kind;
      outcome.status = one.status;
    }
  }
  if (!dryRun && outcome.steps > 0) {
    // What the photo shows now: once a sidecar the program made is removed, that is the
    // photo's own position (or another sidecar's), which no entry notes.
    XpGPSRecord gps;
    outcome.position = XpPhotoWrite::ReadGPS(path, gps) == XpStatus::Ok ? PositionText(gps) : std::string();
  }
  return outcome;
}

PhotoJournal::RestoreOutcome PhotoJournal::RestoreFile(const std::string& path, bool dryRun) {
  RestoreOutcome outcome;
  std::vector<Entry> entries = EntriesFor(path);
  if (entries.empty()) {
    outcome.kind = RestoreKind::NothingKept;
    return outcome;
  }
  const std::string resolved = Resolved(path);
  FileStamp stamp;
  mode_t mode = 0600;
  std::string current;
  if (!StampOf(resolved, &stamp, &mode)) {
    outcome.kind = RestoreKind::Failed;
    outcome.status = XpStatus::FileNotFound;
    return outcome;
  }
  if (const XpStatus st = ReadWholeFile(resolved, kMaxPhotoBytes, &current); st != XpStatus::Ok) {
    outcome.kind = RestoreKind::Failed;
    outcome.status = st;
    return outcome;
  }
  std::string digest = Digest(current);
  std::vector<std::string> used;
  timespec mtime{};
  bool remove = false;
  // Newest first: each step takes the file back by one write, while a kept write matches it.
  for (bool stepped = true; stepped;) {
    stepped = false;
    for (Entry& entry : entries) {
      const std::uint64_t tailEnd = std::min<std::uint64_t>(entry.tailEnd, current.size());
      if (entry.after != digest || entry.head > current.size() || entry.keepFrom > tailEnd ||
          std::find(used.begin(), used.end(), entry.file) != used.end()) {
        continue;
      }
      std::string previous = current.substr(0, entry.head);
      previous += entry.kept;
      previous.append(current, entry.keepFrom, tailEnd - entry.keepFrom);
      if (Digest(previous) != entry.before) {
        continue;
      }
      current = std::move(previous);
      digest = entry.before;
      used.push_back(entry.file);
      mtime = {static_cast<time_t>(entry.mtimeSeconds), static_cast<long>(entry.mtimeNanoseconds)};
      outcome.position = entry.oldPosition;
      remove = entry.created;
      ++outcome.steps;
      stepped = true;
      break;
    }
  }
  if (outcome.steps == 0) {
    outcome.kind = RestoreKind::ChangedSince;
    return outcome;
  }
  if (!dryRun) {
    if (const XpStatus st =
            remove ? RemoveCreated(resolved, stamp) : ReplacePhoto(resolved, stamp, mode, current, mtime);
        st != XpStatus::Ok) {
      outcome.kind = RestoreKind::Failed;
      outcome.status = st;
      outcome.steps = 0;
      return outcome;
    }
    const std::string folder = Folder();
    for (const std::string& name : used) {
      ::unlink((folder + "/" + name).c_str());
    }
  }
  outcome.kind = RestoreKind::Restored;
  return outcome;
}

std::size_t PhotoJournal::Purge(const std::string& path) {
  const std::string folder = Folder();
  std::size_t removed = 0;
  std::vector<std::string> files = XpPhotoWrite::OwnSidecars(path);
  files.insert(files.begin(), path);
  for (const std::string& file : files) {
    for (const Entry& entry : EntriesFor(file)) {
      removed += ::unlink((folder + "/" + entry.file).c_str()) == 0 ? 1 : 0;
    }
  }
  return removed;
}
