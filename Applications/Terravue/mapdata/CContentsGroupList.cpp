#include "Applications/Terravue/mapdata/CContentsGroupList.h"

#include <sys/stat.h>

#include <ctime>
#include <string>

#include "Applications/Terravue/mapdata/BrowserSettingsReader.h"
#include "Applications/Terravue/mapdata/BrowserStarter.h"
#include "xp/base/XpFileSystem.h"
#include "xp/base/XpPath.h"

namespace {

constexpr const char* kGroupListKey = "ContentsGroupList";
constexpr const char* kContentsListKey = "ContentsList";
constexpr const char* kFilesKey = "Files";

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

XpStatus CContentsGroupList::InitContentInfo(std::string_view sourceApp, std::optional<std::string_view> importDir) {
  if (auto st = Add("XMLFileType", XpIniType::String, 0, "ContentInfoXML"); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = Add("SourceApp", XpIniType::String, 0, sourceApp); st != XpStatus::Ok) {
    return st;
  }
  if (importDir) {
    if (auto st = Add("ImportDirPath", XpIniType::String, 0, *importDir); st != XpStatus::Ok) {
      return st;
    }
  }
  return Add(kGroupListKey, XpIniType::Array);
}

XpIniElement* CContentsGroupList::AddGroup(std::string_view groupName) {
  XpIniElement* list = Find(kGroupListKey);
  if (list == nullptr) {
    return nullptr;
  }
  XpIniElement* group = nullptr;
  if (list->Add("-1", XpIniType::Dict, 0, {}, &group) != XpStatus::Ok) {
    return nullptr;
  }
  if (group->Add("GroupName", XpIniType::String, 0, groupName) != XpStatus::Ok ||
      group->Add(kContentsListKey, XpIniType::Array) != XpStatus::Ok) {
    (void)list->RemoveAt(list->GetCount() - 1);
    return nullptr;
  }
  return group;
}

XpIniElement* CContentsGroupList::AddContent(XpIniElement* group) {
  if (group == nullptr) {
    return nullptr;
  }
  XpIniElement* list = group->Find(kContentsListKey);
  if (list == nullptr) {
    return nullptr;
  }
  XpIniElement* entry = nullptr;
  if (list->Add("-1", XpIniType::Dict, 0, {}, &entry) != XpStatus::Ok) {
    return nullptr;
  }
  if (entry->Add(kFilesKey, XpIniType::Array) != XpStatus::Ok) {
    (void)list->RemoveAt(list->GetCount() - 1);
    return nullptr;
  }
  return entry;
}

XpStatus CContentsGroupList::AddFile(XpIniElement* entry, std::string_view path) {
  XpIniElement* files = entry == nullptr ? nullptr : entry->Find(kFilesKey);
  if (files == nullptr) {
    return XpStatus::NotFound;
  }
  return files->Add("-1", XpIniType::String, 0, path);
}

XpIniElement* CContentsGroupList::GetGroup(int index) const {
  const XpIniElement* list = Find(kGroupListKey);
  return list == nullptr ? nullptr : list->GetAt(index);
}

int CContentsGroupList::GetContentCount(const XpIniElement* group) {
  const XpIniElement* list = group == nullptr ? nullptr : group->Find(kContentsListKey);
  return list == nullptr ? -1 : list->GetCount();
}

XpIniElement* CContentsGroupList::GetContent(const XpIniElement* group, int index) {
  const XpIniElement* list = group == nullptr ? nullptr : group->Find(kContentsListKey);
  return list == nullptr ? nullptr : list->GetAt(index);
}

bool CContentsGroupList::IsSelected(const XpIniElement* entry) {
  const XpIniElement* selected = entry == nullptr ? nullptr : entry->Find("Selected");
  bool flag = false;
  return selected != nullptr && selected->GetBool(flag) == XpStatus::Ok && flag;
}

XpStatus CContentsGroupList::GetFile(const XpIniElement* entry, int index, std::string& path) {
  path.clear();
  const XpIniElement* files = entry == nullptr ? nullptr : entry->Find(kFilesKey);
  const XpIniElement* file = files == nullptr ? nullptr : files->GetAt(index);
  if (file == nullptr) {
    return XpStatus::NotFound;
  }
  return file->GetString(path);
}

std::string CContentsGroupList::GetBrowserPath(const BrowserSettingsReader& settings,
                                               const std::string& programFolder) {
  const std::string version = settings.ReadText("Browser", "CurrentVersion");
  // An empty version names the "Browser" group itself, as opening an unnamed
  // subkey opens the key.
  const std::string group = version.empty() ? std::string("Browser") : "Browser/" + version;
  std::string folder = settings.ReadText(group, "InstalledLocation");
  std::string name = settings.ReadText(group, "ExeName");
  if (folder.empty() && !programFolder.empty()) {
    const std::string beside = XpJoinPath(XpGetParent(XpStripTrailingBackslash(programFolder)), "Browser");
    if (XpIsDirectory(beside)) {
      folder = beside;
    }
  }
  if (name.empty()) {
    name = kDefaultBrowserName;
  }
  return XpJoinPath(folder, name);
}

std::string CContentsGroupList::MakeHandOffPath(const std::string& dataHome) {
  return MakeHandOffPath(dataHome, static_cast<std::int64_t>(std::time(nullptr)));
}

std::string CContentsGroupList::MakeHandOffPath(const std::string& dataHome, std::int64_t startNumber) {
  if (dataHome.empty()) {
    return {};
  }
  const std::string folder = XpJoinPath(dataHome, "Ardo Corporation/Pictavo/ImportData");
  if (!XpIsDirectory(folder)) {
    (void)XpCreateFolderTree(folder);  // the test below decides
    if (!XpIsDirectory(folder)) {
      return {};
    }
  }
  std::int64_t number = startNumber;
  for (int attempt = 0; attempt < kMaxHandOffAttempts; ++attempt) {
    const std::string path = XpJoinPath(folder, std::to_string(number) + ".xml");
    const XpStatus st = XpCreateNewFile(path);
    if (st == XpStatus::Ok) {
      return path;
    }
    if (st != XpStatus::AlreadyExists || __builtin_add_overflow(number, 1, &number)) {
      return {};
    }
  }
  return {};
}

std::vector<std::string> CContentsGroupList::ReadSelectedFiles(const std::string& listPath) {
  CContentsGroupList list;
  (void)list.LoadFile(listPath);  // a failed load leaves what was read
  return list.GetSelectedFiles();
}

std::vector<std::string> CContentsGroupList::GetSelectedFiles() const {
  std::vector<std::string> paths;
  const XpIniElement* group = GetGroup(0);
  const int count = GetContentCount(group);
  for (int i = 0; i < count; ++i) {
    const XpIniElement* entry = GetContent(group, i);
    if (entry == nullptr || !IsSelected(entry)) {
      continue;
    }
    std::string path;
    if (GetFile(entry, 0, path) != XpStatus::Ok) {
      path.clear();
    }
    paths.push_back(std::move(path));
  }
  return paths;
}

CContentsGroupList::HandOffResult CContentsGroupList::HandOffChangedFiles(const std::vector<std::string>& paths,
                                                                          const Environment& environment) {
  HandOffResult result;
  if (paths.empty() || environment.settings == nullptr) {
    return result;
  }
  const std::string browser = GetBrowserPath(*environment.settings, environment.programFolder);
  // A bare name is never looked up in the working folder: only an installed
  // program at an absolute path is started.
  if (!XpIsAbsolutePath(browser) || !IsRegularFile(browser)) {
    return result;
  }

  CContentsGroupList list;
  // Building stops at the first error; whatever was built is still handed over.
  if (list.InitContentInfo("Terravue") == XpStatus::Ok) {
    XpIniElement* group = list.AddGroup("GPS");
    if (group != nullptr && list.Add("GPSUpdate", XpIniType::String) == XpStatus::Ok) {
      for (const std::string& path : paths) {
        XpIniElement* entry = list.AddContent(group);
        if (entry == nullptr || list.AddFile(entry, path) != XpStatus::Ok) {
          break;
        }
      }
    }
  }

  result.listPath = MakeHandOffPath(environment.dataHome);
  if (result.listPath.empty()) {
    result.saveStatus = XpStatus::CreateFailed;
    return result;  // no file names the list, so the browser has nothing to take in
  }
  result.saveStatus = list.SaveFile(result.listPath);

  const std::vector<std::string> arguments{"/w", result.listPath};
  // The length of the designed command line: "browser" /w "list".
  const std::size_t commandLength = browser.size() + 2 + 1 + 3 + result.listPath.size() + 2;
  if (commandLength >= kMaxCommandLine || environment.starter == nullptr) {
    return result;
  }
  result.started = environment.starter->Start(browser, arguments);
  return result;
}
