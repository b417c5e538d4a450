#pragma once

#include <QStringList>

class QAction;
class QMenu;

/// Command identifiers of the main window's popup menu (menu 151) and of the
/// commands it answers without offering them.
namespace MainMenu {
inline constexpr int kDeleteState = 32786;
inline constexpr int kSaveAsNew = 32787;
inline constexpr int kSaveOver = 32791;
inline constexpr int kHelp = 32792;
/// Loads a GPS track log for placing photos by time.
inline constexpr int kLoadTrack = 32800;
/// Takes the selected photos that have a position and a time (all such photos when none is
/// selected) as a track for placing the others by time.
inline constexpr int kPhotosAsTrack = 32823;
/// Undoes and redoes the map page's last gesture (Ctrl+Z, Ctrl+Shift+Z).
inline constexpr int kUndo = 32810;
inline constexpr int kRedo = 32811;
/// Puts the map's photos back as they were before Terravue wrote them.
inline constexpr int kRestoreOriginals = 32812;
/// Writes the selected photos (all when none is selected) as GPX, KML, KMZ or GeoJSON.
inline constexpr int kExport = 32813;
/// Opens a saved map's state file chosen in a file dialog, wherever it lies.
inline constexpr int kOpenStateFile = 32820;
/// Shows the program's version, licence and the sources of its map, place and time-zone data.
inline constexpr int kAbout = 32821;
/// Names the places the selected photos were taken at (city, state, country), written by the next save.
inline constexpr int kNamePlaces = 32822;
inline constexpr int kRequestClose = 32771;
inline constexpr int kSendAgain = 32782;
inline constexpr int kStartPage1 = 32783;
inline constexpr int kStartPage2 = 32784;
/// Saved states are items 1 ... 256, in store order.
inline constexpr int kFirstState = 1;
inline constexpr int kLastState = 256;

/// Fills `menu` with the four commands of menu 151, "Load track...", "Use these photos as a track", Undo and
/// Redo (with their shortcuts), "Restore original positions...", "Export...", "Open a saved
/// map...", "Name places...", "About Terravue" and the separator after them. Each action carries its command
/// identifier as data().
void Fill(QMenu& menu);

/// Appends one checkable item per saved state, named as the state and
/// numbered kFirstState, kFirstState + 1, ... from `firstId`.
void AppendStates(QMenu& menu, const QStringList& names, int firstId = kFirstState);

/// The command identifier of `action`'s menu item, 0 for the separator.
int CommandOf(const QAction* action);
}  // namespace MainMenu
