#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/HandOffLauncher.h"
#include "Applications/Terravue/mapdata/OtherMakerQuestion.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"
#include "xp/image/XpFile.h"
#include "xp/image/XpImageIoJpeg.h"

/// A fresh folder under the system's temporary folder, removed with everything
/// in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  [[nodiscard]] const std::string& Path() const { return m_path; }
  /// Path() + "/" + name.
  [[nodiscard]] std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

/// The real camera pictures beside the project.
[[nodiscard]] std::string TestPicture(const std::string& name);

/// The golden file of this name; with TV_UPDATE_GOLDEN=1 in the environment the
/// text is written there instead and the comparison passes.
[[nodiscard]] std::string Golden(const std::string& name, const std::string& actual);

[[nodiscard]] std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
[[nodiscard]] bool CopyFileTo(const std::string& from, const std::string& to);

/// The size of the JPEG at `path` as decoded at full size (turned by its own
/// orientation); 0 x 0 when it does not decode.
[[nodiscard]] inline XpPixmapOps::Size DecodedJpegSize(const std::string& path) {
  XpFile file(path);
  if (file.Open(XpAbstractFile::kRead) != XpStatus::Ok) {
    return {};
  }
  XpImageIoJpeg reader;
  auto pixmap = reader.Read(file, 0, 1, nullptr, false);
  return pixmap ? XpPixmapOps::Size{pixmap->Width(), pixmap->Height()} : XpPixmapOps::Size{};
}

/// Counts the steps it receives.
class CountingProgress final : public ProgressSink {
 public:
  void Step() override { ++steps; }
  int steps = 0;
};

/// Clears a keep-going flag after a number of steps, as a cancel button would.
class CancellingProgress final : public ProgressSink {
 public:
  CancellingProgress(std::atomic<bool>& flag, int after) : m_flag(flag), m_after(after) {}
  void Step() override {
    if (++steps >= m_after) {
      m_flag = false;
    }
  }
  int steps = 0;

 private:
  std::atomic<bool>& m_flag;
  int m_after;
};

/// Answers the other-maker question as told and remembers what was asked.
class FakeQuestion final : public OtherMakerQuestion {
 public:
  int ReadSetting() override { return setting; }
  bool Ask(const std::string& fileName) override {
    asked.push_back(fileName);
    return answer;
  }
  int setting = 1;
  bool answer = true;
  std::vector<std::string> asked;
};

/// Records every hand-off.
class RecordingLauncher final : public HandOffLauncher {
 public:
  void HandOff(const std::vector<std::string>& paths) override { handOffs.push_back(paths); }
  std::vector<std::vector<std::string>> handOffs;
};
