#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace testdata {

/// The folder of real camera JPEGs and the independent reader's values.
inline std::filesystem::path ExifFolder() { return std::filesystem::path(TV_TESTDATA_DIR) / "camera"; }

/// The ".jpg" files of the camera folder, sorted by name. Empty (never an
/// exception) when the folder is missing, so that test discovery still works;
/// TestData.CameraFolderIsPresent then fails and says why.
inline std::vector<std::filesystem::path> CameraJpegs() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(ExifFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".jpg") {
      files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

/// The file names of CameraJpegs().
inline std::vector<std::string> CameraJpegNames() {
  std::vector<std::string> names;
  for (const auto& path : CameraJpegs()) {
    names.push_back(path.filename().string());
  }
  return names;
}

}  // namespace testdata
