#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/MapState.h"

/// The saved map states under one root folder, one folder each, in menu order.
class MapStateStore {
 public:
  /// Most states the store keeps.
  static constexpr std::size_t kMaxStates = 255;
  /// Highest number tried in the "%s(%d)" names when a folder name is taken.
  static constexpr int kMaxNameSuffix = 253;
  /// Start of the name of the hidden folder a new state is prepared in; List
  /// passes such folders over.
  static constexpr const char* kPreparingPrefix = ".preparing-";

  /// How saving the map as a new state ended.
  enum class SaveResult {
    Saved,         ///< the state was written and added
    StoreFull,     ///< 255 states exist; nothing was saved
    FolderFailed,  ///< no free folder name, or the folder can't be made
    WriteFailed,   ///< the thumbnails or the state file could not be written
  };

  explicit MapStateStore(std::string rootFolder) : m_rootFolder(std::move(rootFolder)) {}

  /// Imports the older single-file store at `olderStorePath` (empty: none),
  /// then lists every sub-folder of the root that holds "data.tvd". Answers 0,
  /// 2 when the root can't be enumerated, 5 when the enumeration fails midway.
  [[nodiscard]] PictureResult List(const std::string& olderStorePath);

  /// Imports the older single-file store once: each block becomes a state
  /// folder (named "%s(%d)" when the name is taken) and the file is then renamed
  /// with ".tmp" appended. All blocks or none: when a state can't be made or
  /// written, the states made by this call are removed again, the file stays
  /// for the next start and the answer is 1. Text damaged after some whole
  /// blocks gives those blocks, sets the file aside all the same and answers
  /// 3; damaged text without a whole block before the damage answers 3 and the
  /// file stays. Answers 0 also when there is no file.
  [[nodiscard]] PictureResult ImportOlderStore(const std::string& olderStorePath) const;

  void Add(const MapState& state) { m_states.push_back(state); }

  /// Removes the state's folder with everything in it and then the entry.
  /// Answers 5 (entry kept) when the folder is missing or can't be removed.
  [[nodiscard]] PictureResult Delete(std::size_t index);

  [[nodiscard]] std::size_t Count() const { return m_states.size(); }
  [[nodiscard]] bool IsFull() const { return m_states.size() >= kMaxStates; }
  [[nodiscard]] MapState& At(std::size_t index) { return m_states.at(index); }
  [[nodiscard]] const MapState& At(std::size_t index) const { return m_states.at(index); }
  [[nodiscard]] const std::string& RootFolder() const { return m_rootFolder; }

  /// Saves `onScreen` as a new state named `name` (the folder becomes
  /// "name(1)"... when taken). All or nothing: the thumbnails are copied, the
  /// state file (with a new time stamp) and the page are written into a hidden
  /// folder under the root, which is then renamed to the state's name in one
  /// step; on any failure that folder is removed and `onScreen` keeps its
  /// thumbnails. Then moved positions are written into the pictures, the state
  /// file is written again to mark the moves that were not, and the state is
  /// added. `saved` (may be null) receives the new state; `report` (may be
  /// null) the write-back report. `progress` (may be null) follows the
  /// writing into the pictures and may stop it between two pictures.
  [[nodiscard]] SaveResult SaveAsNew(const MapState& onScreen, const std::string& name,
                                     const std::string& programFolder, const MapPageAddresses& addresses,
                                     OtherMakerQuestion* question, HandOffLauncher* launcher, MapState* saved,
                                     WriteBackReport* report, WriteProgress* progress = nullptr);

  /// Saves over the state on screen: takes its thumbnails, writes it with a new
  /// time stamp, writes moved positions (and the state again, to mark the moves
  /// that did not get into their files) and the page; `progress` as for
  /// SaveAsNew. False when the
  /// thumbnails or the state file could not be written.
  [[nodiscard]] static bool SaveOver(MapState& state, const std::string& programFolder,
                                     const MapPageAddresses& addresses, OtherMakerQuestion* question,
                                     HandOffLauncher* launcher, WriteBackReport* report,
                                     WriteProgress* progress = nullptr);

  /// Renames `state` to `baseName` and makes its folder; when taken, tries
  /// "baseName(1)" up to "baseName(253)". False when every name is taken.
  [[nodiscard]] static bool MakeFolderWithFreeName(MapState& state, const std::string& baseName);

  /// Removes a folder and everything in it, making files writable first. False
  /// when `folder` is not an existing folder or can't be removed.
  [[nodiscard]] static bool RemoveFolderTree(const std::string& folder);

 private:
  std::string m_rootFolder;
  std::vector<MapState> m_states;
};
