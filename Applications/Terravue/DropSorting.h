#pragma once

#include <QString>
#include <QStringList>

struct DropRules;

/// What became of the files and folders of one drop.
struct DropOutcome {
  QStringList accepted;  ///< the JPEG photos to add, in drop order (a folder's in name order)
  int notJpeg = 0;       ///< dropped files that are not JPEG photos (other images, text, missing)
  int onMap = 0;         ///< photos that are on the map already
  int ownFolder = 0;     ///< photos in the work folder or directly in the program folder
  int emptyFolders = 0;  ///< dropped folders that hold no photo that could be added
  int overLimit = 0;     ///< photos beyond the most one drop adds

  /// How many of the dropped items were not added.
  [[nodiscard]] int NotAdded() const { return notJpeg + onMap + ownFolder + emptyFolders + overLimit; }
};

/// Sorts the dropped `paths` by `rules`: files go through the rules as they
/// are; a folder adds the JPEG photos anywhere below it (other files inside it
/// are passed over, symbolic links to folders are not followed). At most
/// `limit` photos are accepted; the rest are counted.
[[nodiscard]] DropOutcome SortDrops(const QStringList& paths, const DropRules& rules, qsizetype limit);

/// The short notice about the dropped items that were not added; empty when
/// all were.
[[nodiscard]] QString DropNoticeText(const DropOutcome& outcome);
