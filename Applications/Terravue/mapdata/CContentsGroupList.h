#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xp/ini/XpIniDict.h"

class BrowserSettingsReader;
class BrowserStarter;

/// The content-information list that the suite's browser program and Terravue
/// hand each other: a property-list document whose "ContentsGroupList" holds
/// groups ("GroupName", "ContentsList"), each with entries ("Files",
/// "Selected"). Nodes handed out stay owned by the list.
class CContentsGroupList : public XpIniDict {
 public:
  /// The browser program's file name when the settings name none.
  static constexpr const char* kDefaultBrowserName = "PtvBrowser";
  /// A command line of the browser path in quotes, a blank and the arguments
  /// that reaches this length is not started.
  static constexpr std::size_t kMaxCommandLine = 500;
  /// Numbers tried by MakeHandOffPath before it gives up.
  static constexpr int kMaxHandOffAttempts = 10000;

  /// Where the write side finds what it needs.
  struct Environment {
    const BrowserSettingsReader* settings = nullptr;  ///< the machine-wide "Browser" group
    BrowserStarter* starter = nullptr;                ///< starts the browser program
    std::string programFolder;                        ///< the folder of Terravue's program file
    std::string dataHome;                             ///< the user's application-data folder
  };

  /// What the write side did.
  struct HandOffResult {
    std::string listPath;                ///< the list file written; empty when none was made
    XpStatus saveStatus = XpStatus::Ok;  ///< the status of saving the list
    bool started = false;                ///< the browser program was started
  };

  // Building.

  /// Adds "XMLFileType" = "ContentInfoXML", "SourceApp", "ImportDirPath" (only
  /// when given) and an empty "ContentsGroupList", stopping at the first error.
  [[nodiscard]] XpStatus InitContentInfo(std::string_view sourceApp,
                                         std::optional<std::string_view> importDir = std::nullopt);
  /// Appends a group with "GroupName" and an empty "ContentsList"; none (and
  /// nothing appended) on failure.
  XpIniElement* AddGroup(std::string_view groupName);
  /// Appends an entry with an empty "Files" to the group's "ContentsList"; none
  /// (and nothing appended) on failure.
  XpIniElement* AddContent(XpIniElement* group);
  /// Appends `path` to the entry's "Files"; 0x8502 when the entry has none.
  [[nodiscard]] XpStatus AddFile(XpIniElement* entry, std::string_view path);

  // Reading.

  /// The group at `index` of "ContentsGroupList", or none.
  [[nodiscard]] XpIniElement* GetGroup(int index) const;
  /// The number of entries of the group's "ContentsList"; -1 when the group or
  /// its list is missing.
  [[nodiscard]] static int GetContentCount(const XpIniElement* group);
  /// The entry at `index` of the group's "ContentsList", or none.
  [[nodiscard]] static XpIniElement* GetContent(const XpIniElement* group, int index);
  /// The entry's "Selected" boolean; false when it is missing or no boolean.
  [[nodiscard]] static bool IsSelected(const XpIniElement* entry);
  /// The text at `index` of the entry's "Files"; 0x8502 when "Files" or the
  /// element is missing, 0x8501 when the element is no string.
  [[nodiscard]] static XpStatus GetFile(const XpIniElement* entry, int index, std::string& path);

  // The browser program and the hand-off files.

  /// The browser program's path: "InstalledLocation" and "ExeName" of the
  /// group named by "CurrentVersion" of the "Browser" group; without a folder,
  /// the folder "Browser" beside Terravue's program folder when it exists;
  /// without a name, kDefaultBrowserName. The file may not exist; without any
  /// folder the answer is the bare name.
  [[nodiscard]] static std::string GetBrowserPath(const BrowserSettingsReader& settings,
                                                  const std::string& programFolder);
  /// Creates a new empty list file in dataHome + "/Ardo Corporation/Pictavo/ImportData"
  /// (made when missing) and answers its path: the first of "N.xml", "N+1.xml",
  /// ... that does not exist yet, N being the current time in seconds since
  /// 1970. Each name is created exclusively, so two lists never share a file.
  /// Empty when the folder can't be made or a creation fails otherwise.
  [[nodiscard]] static std::string MakeHandOffPath(const std::string& dataHome);
  /// MakeHandOffPath with the first number to try given.
  [[nodiscard]] static std::string MakeHandOffPath(const std::string& dataHome, std::int64_t startNumber);

  /// The first file of every selected entry of the first group, in entry order
  /// with duplicates kept (an empty text for an entry whose first file can't be
  /// read).
  [[nodiscard]] std::vector<std::string> GetSelectedFiles() const;
  /// Reads the list at `listPath` and answers the first file of every selected
  /// entry of the first group, in entry order with duplicates kept (an empty
  /// text for an entry whose first file can't be read). A list that can't be
  /// loaded gives what was read before the failure.
  [[nodiscard]] static std::vector<std::string> ReadSelectedFiles(const std::string& listPath);

  /// Tells the browser program which pictures changed: writes a list of group
  /// "GPS" with one entry per path (and the key "GPSUpdate") to a new hand-off
  /// file and starts the browser with "/w" and the file's path. Nothing is done
  /// for an empty list or when the browser path is not an absolute path of an
  /// existing regular file; the browser is started even when saving failed.
  static HandOffResult HandOffChangedFiles(const std::vector<std::string>& paths, const Environment& environment);
};
