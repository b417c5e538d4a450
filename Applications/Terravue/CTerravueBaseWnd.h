#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>

#include "Applications/Terravue/AppMessageBox.h"
#include "Applications/Terravue/CBaseWnd.h"
#include "Applications/Terravue/CommandLine.h"
#include "Applications/Terravue/DetachedBrowserStarter.h"
#include "Applications/Terravue/MachineBrowserSettings.h"
#include "Applications/Terravue/MapWindowHost.h"
#include "Applications/Terravue/mapdata/CContentsGroupList.h"

class AppSettings;
class CTerravueHtmlWnd;
class MapState;
class MapStateStore;
class QMenu;
struct WriteBackReport;

/// The program's only top-level window. Its client area is the map window;
/// its commands live in a popup menu (menu 151 and the saved states) that the
/// map window's menu button opens. Create() is its creation handler: it loads
/// the menu and the saved states, creates the map window, places itself from
/// the stored placement and acts on the command line. It saves the map as a
/// new state or over the shown one, deletes and switches states, asks whether
/// to save changed maps, and stores its placement and the map centre when it
/// closes.
class CTerravueBaseWnd : public QMainWindow, public CBaseWnd, public StartTarget, private MapWindowHost {
  Q_OBJECT

 public:
  /// Characters removed from both ends of a name given in the save dialog.
  static constexpr const char* kNameTrimCharacters = "\\/:,;*?\"<>|";

  /// `arguments` are the program's arguments without its own name.
  CTerravueBaseWnd(QStringList arguments, CommandLineServices services);
  /// Waits for a running picture load before the windows go.
  ~CTerravueBaseWnd() override;

  /// The creation handler; the window is shown by it.
  void Create();

  CTerravueHtmlWnd* HtmlWnd() const { return m_htmlWnd; }
  QMenu* Menu() const { return m_menu.get(); }
  MapStateStore* Store() const { return m_store.get(); }
  int CurrentStateIndex() const { return m_currentStateIndex; }
  void SetCurrentStateIndex(int index) { m_currentStateIndex = index; }

  /// Places the window from the stored placement on the screen's work area.
  void PlaceFromSettings(const AppSettings& settings);
  /// Stores the window's placement ("x", "y", "cx", "cy").
  void StorePlacement(AppSettings& settings) const;
  /// Docks the track panel at the window's right side, as wide and as open as it was last.
  void DockTrackPanel(const AppSettings& settings);

  /// Enables and checks the menu's items for the page shown and the state
  /// chosen: the save commands only on the server's map (and not while a load
  /// runs), delete only with a saved state shown, the shown state checked.
  void PrepareMenu();
  /// Prepares the menu and opens it at `globalPoint`.
  void PopupMenu(const QPoint& globalPoint);
  /// Carries out the command `id` of the menu (saved states are 1 to 256).
  void OnCommand(int id);

  /// Asks whether to save a changed map (message 117, Save, Don't save,
  /// Cancel) and saves it on Save. True when the map may be left: it was saved
  /// or the user chose not to save. False when the user cancelled (also in the
  /// name dialog that follows) or the save failed: the caller then keeps the
  /// window and the map as they are.
  bool SaveQuestion();
  // Tells the user a save waits for the thumbnails still being made; true when it does.
  bool RefusedWhileMakingThumbnails();
  /// Saves the map as a new state under a name the user gives. False when
  /// nothing could be saved; true also when the user cancelled, which
  /// `cancelled` (may be null) then tells.
  bool SaveAsNew(bool* cancelled = nullptr);
  /// Saves the map over the state shown (as a new state when it has none).
  void SaveOver();
  /// Deletes the state shown after asking.
  void DeleteState();
  /// Shows saved state `k` (1-based).
  void ChooseState(int k);
  /// Puts the map's photos back as they were before Terravue wrote them, after
  /// asking; the map then shows their positions from their files.
  void RestoreOriginalPositions();
  /// Asks for a saved map's state file anywhere on disk and shows it, after
  /// the question whether to save a changed map. A file that can't be opened
  /// is reported and the map shown stays.
  void OpenStateFromFile();
  /// Shows the saved map whose state file is `path`, as OpenStateFromFile()
  /// does once a file is chosen. True when it is shown.
  bool OpenChosenStateFile(const QString& path);

  /// `name` without the trim characters at either end.
  static QString CleanStateName(const QString& name);
  /// The time text of message 109: month/day/two-digit year and 24-hour time
  /// in local time, empty when `savedTime` can't be converted.
  static QString DeletionTimeText(std::int64_t savedTime);

  // What the command line asks for.
  void ShowPictures(const QStringList* paths) override;
  [[nodiscard]] bool OpenStateFile(const QString& path) override;
  void RequestStartPage() override;
  void SetCaption(const QString& caption) override;
  void ShowNotice(int messageId, const QString& noticeName) override;
  void ShowPrivacyNotice() override;
  void ShowInformation(int messageId) override;
  void ReportOpenFailure(const QString& path) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // What the map window asks of this window.
  void ForgetShownState() override { m_currentStateIndex = -1; }
  [[nodiscard]] bool HasSavedMaps() const override;
  void OpenMenuAt(const QPoint& globalPoint) override { PopupMenu(globalPoint); }
  [[nodiscard]] bool SaveChangesFirst() override { return SaveQuestion(); }
  void BringToFront() override;

  void RebuildStateItems();
  /// Tells which moved pictures a save could not write and why, and answers
  /// what the user chose to do about them (Leave when all were written).
  [[nodiscard]] UnwrittenAnswer ReportWriteBack(const WriteBackReport& report);
  /// Carries out the user's answer to the report of a save: writes the
  /// pictures again, or keeps their positions on the map only.
  void FollowWriteBackAnswer(UnwrittenAnswer answer, const WriteBackReport& report);
  /// Keeps the unwritten moves of `report` on the map only and writes the
  /// shown state's lists; a list that can't be written is reported.
  void KeepUnwrittenOnMapOnly(const WriteBackReport& report);
  /// The store's copy of the shown state becomes `map`, so that choosing the
  /// state again shows what was written.
  void KeepStoreCopyInStep(const MapState& map);
  void ReportHandOff(const CContentsGroupList::HandOffResult& handOff);
  bool SaveShownStateOver(bool reportFailure);
  void Help();
  /// Shows the version, the licence and where the map, place and time-zone data come from.
  void About();
  [[nodiscard]] bool AskNameForNewState(QString* name);

  QStringList m_arguments;
  CommandLineServices m_services;
  CTerravueHtmlWnd* m_htmlWnd = nullptr;
  std::unique_ptr<QMenu> m_menu;
  std::unique_ptr<MapStateStore> m_store;
  int m_currentStateIndex = -1;
  bool m_closeHandled = false;
  MachineBrowserSettings m_browserSettings;
  DetachedBrowserStarter m_browserStarter;
};
