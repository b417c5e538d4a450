#include "Applications/Terravue/mapdata/StateChecks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "Applications/Terravue/mapdata/MapState.h"

namespace {

// Longest suffix a taken name gets: "(253)".
constexpr std::size_t kSuffixRoom = 5;

// The longest file name the file system holding `folder` takes; the common
// limit when it can't be asked.
std::size_t NameMax(const std::string& folder) {
  errno = 0;
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : std::size_t{255};
}

}  // namespace

StateNameProblem CheckStateName(const std::string& rootFolder, const std::string& name) {
  if (name.empty()) {
    return StateNameProblem::Empty;
  }
  if (name.find_first_not_of('.') == std::string::npos) {
    return StateNameProblem::OnlyDots;
  }
  if (name.find('/') != std::string::npos) {
    return StateNameProblem::Separator;
  }
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return StateNameProblem::ControlCharacter;
    }
  }
  const std::size_t folderPath = rootFolder.size() + 1 + name.size() + kSuffixRoom;
  const std::size_t filePath = folderPath + 1 + std::string(kPageFileName).size();
  if (name.size() + kSuffixRoom > NameMax(rootFolder) || filePath >= PATH_MAX) {
    return StateNameProblem::TooLong;
  }
  return StateNameProblem::None;
}

StateOpenProblem DiagnoseStateOpen(const std::string& stateFilePath, const std::string& folderName,
                                   PictureResult readResult) {
  if (folderName.empty()) {
    return StateOpenProblem::NotInFolder;
  }
  if (readResult == PictureResult::Success) {
    return StateOpenProblem::None;
  }
  struct stat info {};
  if (::stat(stateFilePath.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? StateOpenProblem::Missing : StateOpenProblem::NotReadable;
  }
  if (readResult == PictureResult::OpenFailed) {
    return StateOpenProblem::NotReadable;
  }
  return StateOpenProblem::Damaged;
}
