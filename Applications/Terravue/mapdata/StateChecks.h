#pragma once

#include <string>

#include "Applications/Terravue/mapdata/PictureResult.h"

/// What makes a name unusable for a saved state, whose folder it names.
enum class StateNameProblem {
  None,              ///< the name can be used
  Empty,             ///< nothing (left) to name a folder with
  OnlyDots,          ///< "." or ".." and the like name no new folder
  Separator,         ///< a "/" would put the state somewhere else
  ControlCharacter,  ///< a line break or other control character can't be stored in the state file
  TooLong,           ///< the folder name or the state file's path would exceed what the file system takes
};

/// Checks `name` as the folder name of a new state under `rootFolder`, room for
/// the "(253)" a taken name may get included. Nothing is created.
[[nodiscard]] StateNameProblem CheckStateName(const std::string& rootFolder, const std::string& name);

/// Why a saved state could not be opened.
enum class StateOpenProblem {
  None,         ///< it was read
  NotInFolder,  ///< the file does not lie in a state's folder
  Missing,      ///< the file does not exist
  NotReadable,  ///< it exists but can't be read (permissions, not a regular file, too large)
  Damaged,      ///< it was read, but its contents are not a saved state
};

/// Tells why reading the state file at `stateFilePath` answered `readResult`.
/// `folderName` is the name of the folder that holds it.
[[nodiscard]] StateOpenProblem DiagnoseStateOpen(const std::string& stateFilePath, const std::string& folderName,
                                                 PictureResult readResult);
