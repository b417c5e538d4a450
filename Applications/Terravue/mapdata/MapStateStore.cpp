#include "Applications/Terravue/mapdata/MapStateStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/TextFile.h"
#include "Applications/Terravue/mapdata/TextScan.h"

namespace {

struct DirCloser {
  void operator()(DIR* dir) const {
    if (dir != nullptr) {
      ::closedir(dir);
    }
  }
};

// One block of the older store: a state name and its picture paths.
struct OlderBlock {
  std::string name;
  std::vector<std::string> paths;
};

// Reads the block after its opening line. 3 when a line is missing or the block
// does not close with "}".
PictureResult ReadOlderBlock(TextLineReader& reader, OlderBlock* block) {
  std::string_view line;
  if (!reader.Next(&line)) {  // the date line, not used: the import stamps the state anew
    return PictureResult::Malformed;
  }
  if (!reader.Next(&line)) {
    return PictureResult::Malformed;
  }
  block->name = std::string(StripLeft(StripRight(line, "\r\n\t "), "\t"));
  int count = 0;
  if (!reader.Next(&line)) {
    return PictureResult::Malformed;
  }
  if (ScanIntegers(line, "\t%d", std::span(&count, 1)) < 1) {
    count = 0;
  }
  for (int i = 0; i < count; ++i) {
    if (!reader.Next(&line)) {
      return PictureResult::Malformed;
    }
    block->paths.emplace_back(StripLeft(StripRight(line, "\r\n\t"), "\t"));
  }
  bool hadLineEnd = false;
  if (!reader.Next(&line, &hadLineEnd) || line != "}" || !hadLineEnd) {
    return PictureResult::Malformed;
  }
  return PictureResult::Success;
}

// Removes a folder with everything in it when it goes, unless its path was
// cleared first.
struct FolderRemover {
  explicit FolderRemover(std::string path) : folder(std::move(path)) {}
  FolderRemover(const FolderRemover&) = delete;
  FolderRemover& operator=(const FolderRemover&) = delete;
  ~FolderRemover() {
    if (!folder.empty()) {
      (void)MapStateStore::RemoveFolderTree(folder);
    }
  }
  std::string folder;
};

// Makes a fresh hidden folder under `root` for a state being prepared; empty
// when none can be made.
std::string MakePreparingFolder(const std::string& root) {
  const std::string stem = std::string(MapStateStore::kPreparingPrefix) + std::to_string(::getpid()) + "-";
  for (int n = 0; n < 1000; ++n) {
    const std::string folder = JoinMapPath(root, stem + std::to_string(n));
    if (::mkdir(folder.c_str(), 0777) == 0) {
      return folder;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  return std::string();
}

// A name that can be one folder directly under the root.
bool IsUsableStateName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find(kMapPathSeparator) == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// Renames `source` to `target` unless `target` exists; never replaces a folder.
// False with errno set on failure (EEXIST when the name is taken).
bool RenameNoReplace(const std::string& source, const std::string& target) {
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    return false;
  }
  // A file system without the no-replace rename: check first, then rename.
  struct stat info {};
  if (::lstat(target.c_str(), &info) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(source.c_str(), target.c_str()) == 0;
}

// Moves the prepared folder to `baseName` under `root`, or to "baseName(1)" up
// to "baseName(253)" when taken. False when every name is taken or the move fails.
bool MoveFolderToFreeName(const std::string& root, const std::string& prepared, const std::string& baseName,
                          std::string* finalName) {
  for (int n = 0; n <= MapStateStore::kMaxNameSuffix; ++n) {
    const std::string name = n == 0 ? baseName : baseName + "(" + std::to_string(n) + ")";
    if (RenameNoReplace(prepared, JoinMapPath(root, name))) {
      *finalName = name;
      return true;
    }
    // A folder that appeared under the name meanwhile makes the plain rename
    // answer ENOTEMPTY; the name is taken all the same.
    if (errno != EEXIST && errno != ENOTEMPTY) {
      return false;
    }
  }
  return false;
}

}  // namespace

PictureResult MapStateStore::List(const std::string& olderStorePath) {
  (void)ImportOlderStore(olderStorePath);
  m_states.clear();
  std::unique_ptr<DIR, DirCloser> dir(::opendir(m_rootFolder.c_str()));
  if (!dir) {
    return PictureResult::OpenFailed;
  }
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) {
        return PictureResult::FolderFailed;
      }
      break;
    }
    const std::string name = entry->d_name;
    // A state still being prepared (or left by a save that was cut off) is no state.
    if (name == "." || name == ".." || name.rfind(kPreparingPrefix, 0) == 0) {
      continue;
    }
    const std::string folder = JoinMapPath(m_rootFolder, name);
    if (MapIsFolder(folder) && MapIsRegularFile(JoinMapPath(folder, kStateFileName))) {
      names.push_back(name);
    }
  }
  if (::closedir(dir.release()) != 0) {
    return PictureResult::FolderFailed;
  }
  // Enumeration order is arbitrary here; the name order keeps the menu steady.
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    m_states.push_back(MapState::Listed(name, JoinMapPath(JoinMapPath(m_rootFolder, name), kStateFileName)));
  }
  std::stable_sort(m_states.begin(), m_states.end(),
                   [](const MapState& a, const MapState& b) { return a.m_savedTime < b.m_savedTime; });
  return PictureResult::Success;
}

PictureResult MapStateStore::ImportOlderStore(const std::string& olderStorePath) const {
  if (olderStorePath.empty() || !MapPathExists(olderStorePath)) {
    return PictureResult::Success;
  }
  std::string text;
  if (ReadWholeFile(olderStorePath, kMaxTextFileBytes, &text) != XpStatus::Ok) {
    return PictureResult::Malformed;
  }
  // Every block is read before any folder is made, so a fault in the text
  // never leaves part of the store imported behind.
  TextLineReader reader(text);
  std::string_view line;
  std::array<int, 2> version{};
  if (!reader.Next(&line) || ScanIntegers(line, "#Terravue data version %d.%d", version) < 2) {
    return PictureResult::Malformed;
  }
  std::vector<OlderBlock> blocks;
  PictureResult readResult = PictureResult::Success;
  bool hadLineEnd = false;
  while (reader.Next(&line, &hadLineEnd)) {
    if (line != "{" || !hadLineEnd) {
      break;
    }
    OlderBlock block;
    readResult = ReadOlderBlock(reader, &block);
    if (readResult != PictureResult::Success) {
      break;
    }
    blocks.push_back(std::move(block));
  }
  // Damage before any whole block: nothing to import, and the file stays as it was.
  if (readResult != PictureResult::Success && blocks.empty()) {
    return readResult;
  }
  // All blocks or none: a failure removes the states made so far, so the next
  // start imports the whole store once instead of adding another copy of its
  // first states each time.
  std::vector<std::string> made;
  for (const OlderBlock& block : blocks) {
    MapState state(m_rootFolder);
    for (const std::string& path : block.paths) {
      state.m_pictures.Append(PictureRecord(path, std::string(), std::string()));
    }
    const bool folderMade = MakeFolderWithFreeName(state, block.name);
    if (!folderMade || state.Write(/*stamp=*/true) != PictureResult::Success) {
      if (folderMade) {
        made.push_back(state.Folder());
      }
      for (const std::string& folder : made) {
        (void)RemoveFolderTree(folder);
      }
      return PictureResult::WriteFailed;
    }
    made.push_back(state.Folder());
  }
  // A store whose text is damaged part-way gives the blocks before the damage
  // once; the file is set aside all the same, as nothing more can be read
  // from it at a later start.
  if (!MapMoveFile(olderStorePath, olderStorePath + ".tmp")) {
    for (const std::string& folder : made) {
      (void)RemoveFolderTree(folder);
    }
    return PictureResult::WriteFailed;
  }
  return readResult;
}

PictureResult MapStateStore::Delete(std::size_t index) {
  if (index >= m_states.size()) {
    return PictureResult::FolderFailed;
  }
  const MapState& state = m_states[index];
  // An unnamed state would name the root folder itself.
  if (state.m_name.empty() || state.m_name == "." || state.m_name == ".." ||
      state.m_name.find(kMapPathSeparator) != std::string::npos) {
    return PictureResult::FolderFailed;
  }
  if (!RemoveFolderTree(JoinMapPath(state.m_rootFolder, state.m_name))) {
    return PictureResult::FolderFailed;
  }
  m_states.erase(m_states.begin() + static_cast<std::ptrdiff_t>(index));
  return PictureResult::Success;
}

bool MapStateStore::MakeFolderWithFreeName(MapState& state, const std::string& baseName) {
  state.Rename(baseName);
  if (state.MakeFolder()) {
    return true;
  }
  for (int n = 1; n <= kMaxNameSuffix; ++n) {
    state.Rename(baseName + "(" + std::to_string(n) + ")");
    if (state.MakeFolder()) {
      return true;
    }
  }
  return false;
}

bool MapStateStore::RemoveFolderTree(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(folder, ec);
  if (ec || !fs::is_directory(status)) {
    return false;
  }
  // Folders need write permission for their entries to go; files need none on
  // this platform, but read-only marks are cleared the same way for clarity.
  for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::none, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
  ec.clear();
  fs::remove_all(folder, ec);
  return !ec && !fs::exists(fs::symlink_status(folder, ec));
}

MapStateStore::SaveResult MapStateStore::SaveAsNew(const MapState& onScreen, const std::string& name,
                                                   const std::string& programFolder, const MapPageAddresses& addresses,
                                                   OtherMakerQuestion* question, HandOffLauncher* launcher,
                                                   MapState* saved, WriteBackReport* report, WriteProgress* progress) {
  if (IsFull()) {
    return SaveResult::StoreFull;
  }
  if (!IsUsableStateName(name)) {
    return SaveResult::FolderFailed;
  }
  // The new state is made whole in a hidden folder first and then moved into
  // place in one step, so a failure leaves nothing behind: no folder, no
  // thumbnail taken from the map on screen.
  const std::string temporary = MakePreparingFolder(m_rootFolder);
  if (temporary.empty()) {
    return SaveResult::FolderFailed;
  }
  FolderRemover remover(temporary);
  MapState state = onScreen;
  state.m_rootFolder = m_rootFolder;
  state.Rename(MapFileNameOf(temporary));
  if (!state.CopyThumbnailsFrom(onScreen) || state.Write(/*stamp=*/true) != PictureResult::Success ||
      state.WritePage(programFolder, addresses) != PictureResult::Success) {
    return SaveResult::WriteFailed;
  }
  std::string finalName;
  if (!MoveFolderToFreeName(m_rootFolder, temporary, name, &finalName)) {
    return SaveResult::FolderFailed;
  }
  remover.folder.clear();
  state.Rename(finalName);

  // Only now, with the state in place, are the pictures themselves changed;
  // the state file is written again so that it marks the moves that did not
  // get into their files.
  WriteBackReport written = state.WritePositionsIntoPictures(question, launcher, progress);
  if (!written.problems.empty() || !written.written.empty()) {
    (void)state.Write(/*stamp=*/false);
  }
  Add(state);
  if (saved != nullptr) {
    *saved = state;
  }
  if (report != nullptr) {
    *report = std::move(written);
  }
  return SaveResult::Saved;
}

bool MapStateStore::SaveOver(MapState& state, const std::string& programFolder, const MapPageAddresses& addresses,
                             OtherMakerQuestion* question, HandOffLauncher* launcher, WriteBackReport* report,
                             WriteProgress* progress) {
  if (!state.TakeThumbnails() || state.Write(/*stamp=*/true) != PictureResult::Success) {
    return false;
  }
  WriteBackReport written = state.WritePositionsIntoPictures(question, launcher, progress);
  // Written again so that it marks the moves that did not get into their files.
  if (!written.problems.empty() || !written.written.empty()) {
    (void)state.Write(/*stamp=*/false);
  }
  (void)state.WritePage(programFolder, addresses);
  if (report != nullptr) {
    *report = std::move(written);
  }
  return true;
}
