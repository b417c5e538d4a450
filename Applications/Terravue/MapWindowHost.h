#pragma once

#include <QPoint>

/// What the map window asks of the window that holds it. The main window
/// answers; a map window without a host (in tests) does without.
class MapWindowHost {
 public:
  virtual ~MapWindowHost() = default;

  /// The start page is shown: no saved map is the one shown any more.
  virtual void ForgetShownState() = 0;
  /// True when at least one saved map exists (the start page's menu button
  /// is shown only then).
  [[nodiscard]] virtual bool HasSavedMaps() const = 0;
  /// Opens the program's menu at `globalPoint`.
  virtual void OpenMenuAt(const QPoint& globalPoint) = 0;
  /// Asks whether to save the changed map, and saves on yes. False when the
  /// user cancelled or the save failed: the map then stays as it is.
  [[nodiscard]] virtual bool SaveChangesFirst() = 0;
  /// Brings the window to the front (photos were handed over to it).
  virtual void BringToFront() = 0;
};
