#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

class AppSettings;

/// The main window's placement as stored per user ("x", "y", "cx", "cy");
/// a missing value is empty.
struct StoredPlacement {
  std::optional<int> x;
  std::optional<int> y;
  std::optional<int> cx;
  std::optional<int> cy;
};

/// The default size of the main window.
inline constexpr int kMainWindowWidth = 796;
inline constexpr int kMainWindowHeight = 596;

/// Reads the stored placement from the user's settings.
StoredPlacement ReadStoredPlacement(const AppSettings& settings);

/// Where the main window goes at start-up. `workArea` is the desktop's work
/// area, `windowSize` the window's current size. The default position centres
/// the window's size in the work area's size (the work area's own offset is
/// not added). A stored left edge survives only while it lies between -50 and
/// the work area's right edge - 51 (likewise the top edge against the bottom):
/// anything else, for example a window that was closed while minimised, is
/// replaced by the centred default. Width and height are taken as stored.
QRect PlaceMainWindow(const QRect& workArea, const QSize& windowSize, const StoredPlacement& stored);

/// How far a notice keeps from the parent frame's left and bottom edges: clear
/// of the map's scale and attribution line.
inline constexpr int kNoticeLeftInset = 12;
inline constexpr int kNoticeBottomInset = 48;

/// The top-left corner of a notice dialog: in the lower left corner of the
/// parent window's frame, away from the map's centre where the photos are, and
/// never above the frame's top edge.
QPoint PlaceNoticeOverParent(const QRect& parentFrame, const QSize& dialogSize);

/// The top-left corner of a dialog centred over the parent window's frame in
/// both directions.
QPoint CentreOverParent(const QRect& parentFrame, const QSize& dialogSize);
