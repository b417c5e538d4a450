#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Applications/Terravue/mapdata/Geotag.h"

class PictureList;
class QWidget;

/// What the track panel needs of the map it works on: whether the map page
/// shows, the map's pictures, the page's script, and a place for its boxes.
/// The map window provides it.
class TrackPageAccess {
 public:
  virtual ~TrackPageAccess() = default;

  /// True while the server's map page shows and is not being replaced.
  [[nodiscard]] virtual bool MapPageShown() const = 0;
  /// True while pictures are being loaded into the map; its picture list
  /// must not be read then.
  [[nodiscard]] virtual bool PicturesLoading() const = 0;
  /// The map's pictures. Only while no load runs.
  [[nodiscard]] virtual const PictureList& Pictures() const = 0;
  /// The data file of the saved map shown ("" for a map not saved yet).
  [[nodiscard]] virtual std::string ShownStateFile() const = 0;
  /// Runs `script` in the page; `done` (may be empty) gets its answer.
  virtual void RunPageScript(const QString& script, std::function<void(const QVariant&)> done) = 0;
  /// The page's pictures were moved: the map has changes to save.
  virtual void MarkMapModified() = 0;
  /// A track placed the pictures at these paths at these fixes; a save
  /// writes each one's whole fix while it stays there.
  virtual void NoteTrackPlaced(const std::vector<std::pair<std::string, GeotagFix>>& placed) = 0;
  /// The widget the panel's boxes and file dialog open over.
  [[nodiscard]] virtual QWidget* BoxParent() = 0;
};
