#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Applications/Terravue/mapdata/BrowserHandOff.h"
#include "Applications/Terravue/mapdata/BrowserSettingsReader.h"
#include "Applications/Terravue/mapdata/BrowserStarter.h"
#include "Applications/Terravue/mapdata/CContentsGroupList.h"

namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tv-handoff-XXXXXX").string();
    m_path = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(m_path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::string& Path() const { return m_path; }
  [[nodiscard]] std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

class FakeSettings final : public BrowserSettingsReader {
 public:
  void Set(const std::string& group, const std::string& name, const std::string& value) {
    m_values[{group, name}] = value;
  }
  [[nodiscard]] std::string ReadText(const std::string& group, const std::string& name) const override {
    const auto it = m_values.find({group, name});
    return it == m_values.end() ? std::string() : it->second;
  }

 private:
  std::map<std::pair<std::string, std::string>, std::string> m_values;
};

class RecordingStarter final : public BrowserStarter {
 public:
  bool Start(const std::string& program, const std::vector<std::string>& arguments) override {
    calls.emplace_back(program, arguments);
    return true;
  }
  std::vector<std::pair<std::string, std::vector<std::string>>> calls;
};

void Touch(const std::string& path) { std::ofstream(path, std::ios::binary) << "#!/bin/sh\n"; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string StringAt(const XpIniElement& node, const char* path) {
  std::string text;
  const XpIniElement* found = node.Find(path);
  if (found == nullptr || found->GetString(text) != XpStatus::Ok) {
    return "<none>";
  }
  return text;
}

TEST(CContentsGroupList, ReadsTheFirstFileOfEachSelectedEntryOfTheFirstGroupOnly) {
  const std::string list = std::string(TV_SOURCE_DIR) + "/xp/tests/data/handoff_from_browser.plist";
  // Entry 1 is selected with two files, 2 is not selected, 3 has "Selected" as
  // the integer 1, 4 has no "Selected", 5 is selected without files, 6 repeats
  // entry 1; the second group is never read.
  EXPECT_EQ(CContentsGroupList::ReadSelectedFiles(list),
            (std::vector<std::string>{"/photos/a.jpg", "", "/photos/a.jpg"}));
}

TEST(CContentsGroupList, ReadsNothingFromAListThatCanNotBeLoaded) {
  TempDir dir;
  EXPECT_TRUE(CContentsGroupList::ReadSelectedFiles(dir.File("missing.xml")).empty());
  const std::string broken = dir.File("broken.xml");
  std::ofstream(broken) << "<plist><dict><key>ContentsGroupList</key><array><dict>";
  EXPECT_TRUE(CContentsGroupList::ReadSelectedFiles(broken).empty());
}

TEST(CContentsGroupList, BuildsTheDocumentWithItsKeysInSortedOrder) {
  CContentsGroupList list;
  ASSERT_EQ(list.InitContentInfo("Terravue"), XpStatus::Ok);
  XpIniElement* group = list.AddGroup("GPS");
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(list.Add("GPSUpdate", XpIniType::String), XpStatus::Ok);
  XpIniElement* entry = list.AddContent(group);
  ASSERT_NE(entry, nullptr);
  ASSERT_EQ(list.AddFile(entry, "/photos/a & b.jpg"), XpStatus::Ok);
  std::string text;
  ASSERT_EQ(list.SaveText(text), XpStatus::Ok);
  EXPECT_EQ(text,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><plist version=\"1.0\"><dict>"
            "<key>ContentsGroupList</key><array><dict><key>ContentsList</key><array><dict><key>Files</key><array>"
            "<string>/photos/a &amp; b.jpg</string></array></dict></array><key>GroupName</key><string>GPS</string>"
            "</dict></array><key>GPSUpdate</key><string/><key>SourceApp</key><string>Terravue</string>"
            "<key>XMLFileType</key><string>ContentInfoXML</string></dict></plist>");
}

TEST(CContentsGroupList, AddsTheImportFolderOnlyWhenGiven) {
  CContentsGroupList with;
  ASSERT_EQ(with.InitContentInfo("Browser", "/import"), XpStatus::Ok);
  EXPECT_EQ(StringAt(with, "ImportDirPath"), "/import");
  CContentsGroupList without;
  ASSERT_EQ(without.InitContentInfo("Terravue"), XpStatus::Ok);
  EXPECT_EQ(without.Find("ImportDirPath"), nullptr);
  EXPECT_EQ(without.GetCount(), 3);
  EXPECT_EQ(without.InitContentInfo("Again"), XpStatus::DuplicateKey);
}

TEST(CContentsGroupList, ReadsBackWhatItBuilt) {
  CContentsGroupList list;
  ASSERT_EQ(list.InitContentInfo("Terravue"), XpStatus::Ok);
  XpIniElement* first = list.AddGroup("one");
  XpIniElement* second = list.AddGroup("two");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  for (const char* path : {"/a.jpg", "/b.jpg"}) {
    ASSERT_EQ(list.AddFile(list.AddContent(first), path), XpStatus::Ok);
  }
  EXPECT_EQ(list.GetGroup(0), first);
  EXPECT_EQ(list.GetGroup(1), second);
  EXPECT_EQ(list.GetGroup(2), nullptr);
  EXPECT_EQ(CContentsGroupList::GetContentCount(first), 2);
  EXPECT_EQ(CContentsGroupList::GetContentCount(second), 0);
  EXPECT_EQ(CContentsGroupList::GetContentCount(nullptr), -1);
  std::string path;
  EXPECT_EQ(CContentsGroupList::GetFile(CContentsGroupList::GetContent(first, 1), 0, path), XpStatus::Ok);
  EXPECT_EQ(path, "/b.jpg");
  EXPECT_EQ(CContentsGroupList::GetFile(CContentsGroupList::GetContent(first, 1), 1, path), XpStatus::NotFound);
  EXPECT_EQ(CContentsGroupList::GetFile(nullptr, 0, path), XpStatus::NotFound);
  EXPECT_EQ(CContentsGroupList::GetContent(first, 2), nullptr);
  EXPECT_FALSE(CContentsGroupList::IsSelected(CContentsGroupList::GetContent(first, 0)));
  ASSERT_EQ(list.Add("ContentsGroupList/0/ContentsList/0/Selected", XpIniType::Bool, 1), XpStatus::Ok);
  EXPECT_TRUE(CContentsGroupList::IsSelected(CContentsGroupList::GetContent(first, 0)));
}

TEST(CContentsGroupList, GivesNoGroupOrEntryWithoutItsList) {
  CContentsGroupList list;
  EXPECT_EQ(list.AddGroup("GPS"), nullptr);
  EXPECT_EQ(list.AddContent(nullptr), nullptr);
  ASSERT_EQ(list.Add("bare", XpIniType::Dict), XpStatus::Ok);
  EXPECT_EQ(list.AddContent(list.Find("bare")), nullptr);
  EXPECT_EQ(list.AddFile(list.Find("bare"), "/x.jpg"), XpStatus::NotFound);
  EXPECT_EQ(CContentsGroupList::GetContentCount(list.Find("bare")), -1);
}

TEST(CContentsGroupListBrowser, TakesFolderAndNameFromTheCurrentVersionGroup) {
  FakeSettings settings;
  settings.Set("Browser", "CurrentVersion", "3.0");
  settings.Set("Browser/3.0", "InstalledLocation", "/opt/ptv/browser/");
  settings.Set("Browser/3.0", "ExeName", "/ptvbrowser");
  settings.Set("Browser", "InstalledLocation", "/wrong");
  EXPECT_EQ(CContentsGroupList::GetBrowserPath(settings, "/opt/ptv/terravue"), "/opt/ptv/browser/ptvbrowser");
}

TEST(CContentsGroupListBrowser, ReadsTheBrowserGroupItselfWithoutAVersion) {
  FakeSettings settings;
  settings.Set("Browser", "InstalledLocation", "/opt/browser");
  EXPECT_EQ(CContentsGroupList::GetBrowserPath(settings, "/opt/ptv/terravue"), "/opt/browser/PtvBrowser");
}

TEST(CContentsGroupListBrowser, FallsBackToTheBrowserFolderBesideTheProgramFolder) {
  TempDir dir;
  const FakeSettings none;
  ASSERT_TRUE(fs::create_directory(dir.File("Terravue")));
  EXPECT_EQ(CContentsGroupList::GetBrowserPath(none, dir.File("Terravue")), "PtvBrowser");
  ASSERT_TRUE(fs::create_directory(dir.File("Browser")));
  EXPECT_EQ(CContentsGroupList::GetBrowserPath(none, dir.File("Terravue")), dir.File("Browser/PtvBrowser"));
  EXPECT_EQ(CContentsGroupList::GetBrowserPath(none, dir.File("Terravue/")), dir.File("Browser/PtvBrowser"));
}

TEST(CContentsGroupListHandOffPath, GivesListsOfOneSecondConsecutiveNumbers) {
  TempDir dir;
  const std::string first = CContentsGroupList::MakeHandOffPath(dir.Path(), 1700000000);
  const std::string second = CContentsGroupList::MakeHandOffPath(dir.Path(), 1700000000);
  EXPECT_EQ(first, dir.File("Ardo Corporation/Pictavo/ImportData/1700000000.xml"));
  EXPECT_EQ(second, dir.File("Ardo Corporation/Pictavo/ImportData/1700000001.xml"));
  for (const std::string& path : {first, second}) {
    ASSERT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(fs::file_size(path), 0U);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0600, 0600U);  // readable and writable by the user
  }
}

TEST(CContentsGroupListHandOffPath, StartsAtTheCurrentSecondAndNeverReusesAName) {
  TempDir dir;
  const std::string first = CContentsGroupList::MakeHandOffPath(dir.Path());
  const std::string second = CContentsGroupList::MakeHandOffPath(dir.Path());
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  const long long a = std::stoll(fs::path(first).stem().string());
  const long long b = std::stoll(fs::path(second).stem().string());
  EXPECT_GT(b, a);
  EXPECT_NEAR(static_cast<double>(a), static_cast<double>(std::time(nullptr)), 5.0);
}

TEST(CContentsGroupListHandOffPath, GivesNoPathWhereNoFolderCanBeMade) {
  TempDir dir;
  EXPECT_EQ(CContentsGroupList::MakeHandOffPath("relative/home", 1), "");
  EXPECT_EQ(CContentsGroupList::MakeHandOffPath("", 1), "");
  Touch(dir.File("file"));
  EXPECT_EQ(CContentsGroupList::MakeHandOffPath(dir.File("file"), 1), "");
}

class HandOffFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::create_directories(m_dir.File("program/Terravue")));
    ASSERT_TRUE(fs::create_directories(m_dir.File("program/Browser")));
    m_browser = m_dir.File("program/Browser/PtvBrowser");
    Touch(m_browser);
    m_environment.settings = &m_settings;
    m_environment.starter = &m_starter;
    m_environment.programFolder = m_dir.File("program/Terravue");
    m_environment.dataHome = m_dir.File("data");
  }
  [[nodiscard]] std::string ImportFolder() const { return m_dir.File("data/Ardo Corporation/Pictavo/ImportData"); }

  TempDir m_dir;
  FakeSettings m_settings;
  RecordingStarter m_starter;
  CContentsGroupList::Environment m_environment;
  std::string m_browser;
};

TEST_F(HandOffFixture, WritesTheChangedFilesAndStartsTheBrowserWithTheList) {
  const std::vector<std::string> changed{"/photos/b.jpg", "/photos/a.jpg", "/photos/b.jpg"};
  const auto result = CContentsGroupList::HandOffChangedFiles(changed, m_environment);
  ASSERT_FALSE(result.listPath.empty());
  EXPECT_EQ(fs::path(result.listPath).parent_path(), fs::path(ImportFolder()));
  EXPECT_EQ(result.saveStatus, XpStatus::Ok);
  EXPECT_TRUE(result.started);
  ASSERT_EQ(m_starter.calls.size(), 1U);
  EXPECT_EQ(m_starter.calls[0].first, m_browser);
  EXPECT_EQ(m_starter.calls[0].second, (std::vector<std::string>{"/w", result.listPath}));

  CContentsGroupList written;
  ASSERT_EQ(written.LoadFile(result.listPath), XpStatus::Ok);
  EXPECT_EQ(StringAt(written, "XMLFileType"), "ContentInfoXML");
  EXPECT_EQ(StringAt(written, "SourceApp"), "Terravue");
  EXPECT_EQ(StringAt(written, "GPSUpdate"), "");
  EXPECT_EQ(written.Find("ImportDirPath"), nullptr);
  const XpIniElement* group = written.GetGroup(0);
  EXPECT_EQ(StringAt(*group, "GroupName"), "GPS");
  ASSERT_EQ(CContentsGroupList::GetContentCount(group), 3);
  for (int i = 0; i < 3; ++i) {
    std::string path;
    ASSERT_EQ(CContentsGroupList::GetFile(CContentsGroupList::GetContent(group, i), 0, path), XpStatus::Ok);
    EXPECT_EQ(path, changed[static_cast<std::size_t>(i)]);
  }
  const std::string text = ReadAll(result.listPath);
  const auto order = {text.find("<key>ContentsGroupList</key>"), text.find("<key>GPSUpdate</key>"),
                      text.find("<key>SourceApp</key>"), text.find("<key>XMLFileType</key>")};
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(text.find("<key>ContentsGroupList</key>"), text.find("<dict>") + 6);
}

TEST_F(HandOffFixture, DoesNothingForAnEmptyList) {
  const auto result = CContentsGroupList::HandOffChangedFiles({}, m_environment);
  EXPECT_TRUE(result.listPath.empty());
  EXPECT_TRUE(m_starter.calls.empty());
  EXPECT_FALSE(fs::exists(ImportFolder()));
}

TEST_F(HandOffFixture, DoesNothingWithoutAnInstalledBrowserProgram) {
  fs::remove(m_browser);
  auto result = CContentsGroupList::HandOffChangedFiles({"/a.jpg"}, m_environment);
  EXPECT_TRUE(result.listPath.empty());
  // A folder of the program's name is no program.
  ASSERT_TRUE(fs::create_directory(m_browser));
  result = CContentsGroupList::HandOffChangedFiles({"/a.jpg"}, m_environment);
  EXPECT_TRUE(result.listPath.empty());
  // Nor is a bare name: it would be looked for in whatever folder is current.
  fs::remove_all(m_dir.File("program/Browser"));
  result = CContentsGroupList::HandOffChangedFiles({"/a.jpg"}, m_environment);
  EXPECT_TRUE(result.listPath.empty());
  EXPECT_TRUE(m_starter.calls.empty());
  EXPECT_FALSE(fs::exists(ImportFolder()));
}

TEST_F(HandOffFixture, SavesButStartsNothingWhenTheCommandLineWouldBeTooLong) {
  const std::string deep = m_dir.File("program/Browser/" + std::string(200, 'b') + "/" + std::string(200, 'c'));
  ASSERT_TRUE(fs::create_directories(deep));
  Touch(deep + "/PtvBrowser");
  m_settings.Set("Browser", "InstalledLocation", deep);
  const auto result = CContentsGroupList::HandOffChangedFiles({"/a.jpg"}, m_environment);
  EXPECT_EQ(result.saveStatus, XpStatus::Ok);
  EXPECT_TRUE(fs::is_regular_file(result.listPath));
  EXPECT_FALSE(result.started);
  EXPECT_TRUE(m_starter.calls.empty());
}

TEST_F(HandOffFixture, StartsNothingWhenNoListFileCanBeMade) {
  m_environment.dataHome = "relative";
  const auto result = CContentsGroupList::HandOffChangedFiles({"/a.jpg"}, m_environment);
  EXPECT_TRUE(result.listPath.empty());
  EXPECT_FALSE(result.started);
  EXPECT_TRUE(m_starter.calls.empty());
}

TEST_F(HandOffFixture, ServesTheWriteBackAsItsLauncher) {
  BrowserHandOff handOff(m_environment);
  HandOffLauncher& launcher = handOff;
  launcher.HandOff({"/photos/x.jpg"});
  ASSERT_EQ(m_starter.calls.size(), 1U);
  EXPECT_EQ(m_starter.calls[0].second.back(), handOff.LastResult().listPath);
  CContentsGroupList written;
  ASSERT_EQ(written.LoadFile(handOff.LastResult().listPath), XpStatus::Ok);
  std::string path;
  EXPECT_EQ(CContentsGroupList::GetFile(CContentsGroupList::GetContent(written.GetGroup(0), 0), 0, path), XpStatus::Ok);
  EXPECT_EQ(path, "/photos/x.jpg");
}

}  // namespace
