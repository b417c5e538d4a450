#include "Applications/Terravue/mapdata/TrackFiles.h"

#include <sys/stat.h>

#include <cctype>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "xp/text/XpAsciiCase.h"

namespace {

// The largest list file read: a few hundred names at most in practice.
constexpr std::uint64_t kMaxListBytes = 64 * 1024;
constexpr int kMaxTracks = 1000;

// The extension of a track's file name, lower-case, with its dot; ".gpx"
// when it has none that looks like one.
std::string TrackExtension(const std::string& path) {
  const std::string name = MapFileNameOf(path);
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name.size() - dot > 6) {
    return ".gpx";
  }
  std::string ext = name.substr(dot);
  for (char& c : ext) {
    c = XpAsciiLower(c);
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.')) {
      return ".gpx";
    }
  }
  return ext;
}

bool SafeName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != ".." &&
         name.find('\0') == std::string::npos;
}

// A regular file that is itself in the folder: a link there could lead to any
// file at all, so it is never taken as a kept track.
bool IsPlainFile(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

XpStatus KeepTracksWithState(const std::string& stateFolder, const std::vector<std::string>& trackPaths,
                             std::vector<std::string>* kept) {
  XpStatus first = XpStatus::Ok;
  std::vector<std::string> names;
  int next = 1;
  for (const std::string& path : trackPaths) {
    if (names.size() >= static_cast<std::size_t>(kMaxTracks)) {
      break;
    }
    const std::string prefix = stateFolder + "/";
    if (path.rfind(prefix, 0) == 0 && SafeName(path.substr(prefix.size())) && IsPlainFile(path)) {
      names.push_back(path.substr(prefix.size()));
      continue;
    }
    std::string name;
    while (next <= kMaxTracks) {
      name = "track_" + std::to_string(next++) + TrackExtension(path);
      if (!MapEntryExists(JoinMapPath(stateFolder, name))) {
        break;
      }
      name.clear();
    }
    if (name.empty() || !MapCopyFile(path, JoinMapPath(stateFolder, name), /*overwrite=*/false)) {
      if (first == XpStatus::Ok) {
        first = name.empty() ? XpStatus::AlreadyExists : XpStatus::Failed;
      }
      continue;
    }
    names.push_back(name);
  }
  std::string list;
  for (const std::string& name : names) {
    list += name + "\n";
  }
  const std::string listPath = JoinMapPath(stateFolder, kTrackListName);
  if (names.empty()) {
    if (MapPathExists(listPath)) {
      MapRemoveFile(listPath);
    }
  } else if (const XpStatus st = WriteFileReplacing(listPath, list); st != XpStatus::Ok && first == XpStatus::Ok) {
    first = st;
  }
  if (kept != nullptr) {
    kept->clear();
    for (const std::string& name : names) {
      kept->push_back(JoinMapPath(stateFolder, name));
    }
  }
  return first;
}

std::vector<std::string> TracksOfState(const std::string& stateFolder) {
  std::string text;
  std::vector<std::string> paths;
  if (ReadWholeFile(JoinMapPath(stateFolder, kTrackListName), kMaxListBytes, &text) != XpStatus::Ok) {
    return paths;
  }
  std::size_t start = 0;
  while (start < text.size() && paths.size() < static_cast<std::size_t>(kMaxTracks)) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string name = text.substr(start, end - start);
    start = end + 1;
    if (!name.empty() && name.back() == '\r') {
      name.pop_back();
    }
    const std::string path = JoinMapPath(stateFolder, name);
    if (SafeName(name) && IsPlainFile(path)) {
      paths.push_back(path);
    }
  }
  return paths;
}
