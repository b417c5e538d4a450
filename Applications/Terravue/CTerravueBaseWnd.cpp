#include "Applications/Terravue/CTerravueBaseWnd.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <ctime>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppMessageBox.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CPimDlg.h"
#include "Applications/Terravue/CSaveDlg.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/CTrackDlg.h"
#include "Applications/Terravue/CWarnningDlg.h"
#include "Applications/Terravue/CommandLine.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/OtherMakerNotice.h"
#include "Applications/Terravue/RestoreOriginals.h"
#include "Applications/Terravue/SaveProgress.h"
#include "Applications/Terravue/UserMessages.h"
#include "Applications/Terravue/WindowPlacement.h"
#include "Applications/Terravue/WriteBackMessage.h"
#include "Applications/Terravue/mapdata/BrowserHandOff.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/MapStateStore.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/StateChecks.h"
#include "xp/base/XpSpecialFolder.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"

namespace {

// Most file names listed when writing positions failed; the rest are counted.
constexpr qsizetype kMaxListedFailures = 15;

}  // namespace

CTerravueBaseWnd::CTerravueBaseWnd(QStringList arguments, CommandLineServices services)
    : CBaseWnd(this), m_arguments(std::move(arguments)), m_services(std::move(services)) {
  setObjectName(QStringLiteral("Terravue Window"));
  resize(kMainWindowWidth, kMainWindowHeight);
}

CTerravueBaseWnd::~CTerravueBaseWnd() {
  // The worker reaches the map window and the progress dialog, which go with
  // this window's children.
  if (m_htmlWnd != nullptr) {
    m_htmlWnd->StopLoad();
    // The map window outlives this part of the window; it must not ask it anything.
    m_htmlWnd->SetHost(nullptr);
  }
}

void CTerravueBaseWnd::Create() {
  const AppGlobals& globals = AppGlobals::Get();
  setWindowIcon(QIcon(QStringLiteral(":/terravue/icon128.png")));
  setWindowTitle(globals.appTitle);

  m_menu = std::make_unique<QMenu>();
  m_menu->setObjectName(QStringLiteral("Menu151"));
  MainMenu::Fill(*m_menu);
  connect(m_menu.get(), &QMenu::triggered, this, [this](QAction* action) { OnCommand(MainMenu::CommandOf(action)); });
  // The menu's shortcuts work while it is closed.
  for (QAction* action : m_menu->actions()) {
    if (!action->shortcut().isEmpty()) {
      addAction(action);
    }
  }

  AppSettings settings;
  if (settings.ReadNumber(QStringLiteral("initialize")) != 0) {
    settings.WriteNumber(QStringLiteral("initialize"), 0);
  }
  // Whether saving a map keeps each photo's file modification time.
  XpExifRewrite::SetPreserveModificationTimeByDefault(settings.ReadNumber(QStringLiteral("preserve_mtime")) != 0);
  // Whether raw photos of the TIFF kinds are written in their file.
  XpPhotoWrite::Policy policy;
  policy.rawInFile = settings.ReadNumber(QStringLiteral("raw_in_file")) != 0;
  XpPhotoWrite::SetPolicy(policy);
  // Whether a RAW+JPEG pair is one picture.
  SetRawJpegPairsLinked(settings.ReadNumber(QStringLiteral("pair_raw_jpeg")) != 0);

  // The saved states: a listing that fails is reported, and start-up goes on
  // with whatever the store holds.
  m_store = std::make_unique<MapStateStore>(globals.workFolder.toStdString());
  if (m_store->List(globals.appDataFilePath.toStdString()) != PictureResult::Success) {
    ShowAppMessage(this, QMessageBox::Warning, globals.Message(102));
  }
  RebuildStateItems();

  m_htmlWnd = new CTerravueHtmlWnd(this);
  m_htmlWnd->SetHost(this);
  setCentralWidget(m_htmlWnd);

  PlaceFromSettings(settings);
  MarkCreated();
  SetSystemCloseAllowed(true);
  show();
  DockTrackPanel(settings);

  // Track logs among the arguments go to the track panel; the rest starts as it always did.
  QStringList arguments = m_arguments;
  const QStringList tracks = CTrackDlg::TakeTrackPaths(arguments);
  const CommandLine commandLine = ParseCommandLine(arguments, m_services);
  if (!tracks.isEmpty() && commandLine.kind == CommandLine::Kind::NoArguments) {
    // Tracks alone are drawn on an empty map rather than hidden behind the start page.
    m_htmlWnd->ShowPictures(nullptr);
  } else {
    StartFromCommandLine(commandLine, settings, *this);
  }
  for (const QString& track : tracks) {
    static_cast<void>(m_htmlWnd->Tracks()->AddTrack(track));
  }
}

void CTerravueBaseWnd::PlaceFromSettings(const AppSettings& settings) {
  const QScreen* where = screen();
  const QRect workArea = where != nullptr ? where->availableGeometry() : QRect(0, 0, 1024, 768);
  const QRect placed = PlaceMainWindow(workArea, frameGeometry().size(), ReadStoredPlacement(settings));
  move(placed.topLeft());
  resize(placed.size());
}

void CTerravueBaseWnd::StorePlacement(AppSettings& settings) const {
  // The position is the frame's, as move() takes it; the size is the client
  // area's, as resize() takes it, so a stored placement comes back unchanged.
  settings.WriteNumber(QStringLiteral("x"), frameGeometry().x());
  settings.WriteNumber(QStringLiteral("y"), frameGeometry().y());
  settings.WriteNumber(QStringLiteral("cx"), width());
  settings.WriteNumber(QStringLiteral("cy"), height());
}

void CTerravueBaseWnd::DockTrackPanel(const AppSettings& settings) {
  CTrackDlg* tracks = m_htmlWnd->Tracks();
  addDockWidget(Qt::RightDockWidgetArea, tracks);
  if (const int width = settings.ReadNumber(QStringLiteral("track_width")); width > 0) {
    // A dock takes a size only while it shows: the stored width is given when it first opens.
    auto sized = std::make_shared<bool>(false);
    connect(tracks, &QDockWidget::visibilityChanged, this, [this, tracks, width, sized](bool visible) {
      if (visible && !*sized) {
        *sized = true;
        resizeDocks({tracks}, {width}, Qt::Horizontal);
      }
    });
  }
  if (settings.ReadNumber(QStringLiteral("track_shown")) != 0) {
    tracks->show();
  }
}

// ---------------------------------------------------------------------------
// The menu

void CTerravueBaseWnd::RebuildStateItems() {
  for (QAction* action : m_menu->actions()) {
    const int id = MainMenu::CommandOf(action);
    if (id >= MainMenu::kFirstState && id <= MainMenu::kLastState) {
      m_menu->removeAction(action);
      delete action;
    }
  }
  QStringList names;
  for (std::size_t i = 0; i < m_store->Count(); ++i) {
    names.append(QString::fromStdString(m_store->At(i).m_name));
  }
  MainMenu::AppendStates(*m_menu, names);
}

void CTerravueBaseWnd::PrepareMenu() {
  const bool onServerPage = m_htmlWnd != nullptr && m_htmlWnd->GetPageKind() == PageKind::PageServer &&
                            (!m_htmlWnd->IsLoading() || m_htmlWnd->MakingThumbnails());
  for (QAction* action : m_menu->actions()) {
    const int id = MainMenu::CommandOf(action);
    if (id == MainMenu::kSaveAsNew || id == MainMenu::kSaveOver || id == MainMenu::kRestoreOriginals ||
        id == MainMenu::kExport || id == MainMenu::kNamePlaces || id == MainMenu::kPhotosAsTrack) {
      action->setEnabled(onServerPage);
    } else if (id == MainMenu::kDeleteState) {
      action->setEnabled(onServerPage && m_currentStateIndex >= 0);
    } else if (id == MainMenu::kOpenStateFile) {
      action->setEnabled(m_htmlWnd == nullptr || !m_htmlWnd->IsLoading());
    } else if (id >= MainMenu::kFirstState && id <= MainMenu::kLastState) {
      action->setChecked(m_currentStateIndex >= 0 && id == m_currentStateIndex + 1);
    }
  }
}

void CTerravueBaseWnd::PopupMenu(const QPoint& globalPoint) {
  PrepareMenu();
  m_menu->popup(globalPoint);
}

void CTerravueBaseWnd::OnCommand(int id) {
  if (id >= MainMenu::kFirstState && id <= MainMenu::kLastState) {
    ChooseState(id);
    return;
  }
  switch (id) {
    case MainMenu::kSaveAsNew:
      static_cast<void>(SaveAsNew());
      break;
    case MainMenu::kSaveOver:
      SaveOver();
      break;
    case MainMenu::kDeleteState:
      DeleteState();
      break;
    case MainMenu::kOpenStateFile:
      OpenStateFromFile();
      break;
    case MainMenu::kHelp:
      Help();
      break;
    case MainMenu::kAbout:
      About();
      break;
    case MainMenu::kLoadTrack:
      m_htmlWnd->Tracks()->ChooseTracks();
      break;
    case MainMenu::kPhotosAsTrack:
      m_htmlWnd->ChoosePhotosAsTrack();
      break;
    case MainMenu::kUndo:
    case MainMenu::kRedo:
      static_cast<void>(m_htmlWnd->UndoOnPage(id == MainMenu::kRedo));
      break;
    case MainMenu::kRestoreOriginals:
      RestoreOriginalPositions();
      break;
    case MainMenu::kExport:
      m_htmlWnd->ChooseExport();
      break;
    case MainMenu::kNamePlaces:
      m_htmlWnd->NamePlaces();
      break;
    case MainMenu::kRequestClose:
      RequestClose();
      break;
    case MainMenu::kSendAgain:
      // The same map shown anew: the moves made on the page are kept first, and what the user
      // did on it stays undoable.
      static_cast<void>(m_htmlWnd->TakePageEdits());
      m_htmlWnd->CarryUndoSteps();
      m_htmlWnd->ShowPictures(nullptr);
      break;
    case MainMenu::kStartPage1:
    case MainMenu::kStartPage2:
      m_htmlWnd->RequestStartPage();
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Saving

QString CTerravueBaseWnd::CleanStateName(const QString& name) {
  const QString trim = QString::fromLatin1(kNameTrimCharacters);
  qsizetype begin = 0;
  qsizetype end = name.size();
  while (begin < end && trim.contains(name.at(begin))) {
    ++begin;
  }
  while (end > begin && trim.contains(name.at(end - 1))) {
    --end;
  }
  return name.mid(begin, end - begin);
}

UnwrittenAnswer CTerravueBaseWnd::ReportWriteBack(const WriteBackReport& report) {
  // Raw files changed in place are named first, whatever else the save has to say.
  const QString rawInPlace = RawChangedInPlaceMessage(report, kMaxListedFailures);
  QString message = WriteBackMessage(report, kMaxListedFailures);
  // Names that went beside a photo rather than into it are no failure, but the user should
  // know where they are.
  QString beside;
  if (!report.namesInSidecars.empty()) {
    QStringList names;
    for (const std::string& path : report.namesInSidecars) {
      if (names.size() == kMaxListedFailures) {
        names.append(
            QStringLiteral("(+%1)").arg(static_cast<qsizetype>(report.namesInSidecars.size()) - kMaxListedFailures));
        break;
      }
      names.append(QString::fromStdString(MapFileNameOf(path)));
    }
    beside =
        FormatText(AppStrings::Instance().Text(QStringLiteral("save/namesInSidecar")), {names.join(QLatin1Char('\n'))});
  }
  QStringList notes;
  for (const QString& note : {rawInPlace, beside}) {
    if (!note.isEmpty()) {
      notes.append(note);
    }
  }
  const QMessageBox::Icon noteIcon = rawInPlace.isEmpty() ? QMessageBox::Information : QMessageBox::Warning;
  if (!notes.isEmpty() && message.isEmpty() && report.stopped.empty()) {
    ShowAppMessage(this, noteIcon, notes.join(QStringLiteral("\n\n")));
    return UnwrittenAnswer::Leave;
  }
  if (!report.stopped.empty()) {
    // A stopped save says how far it came, and that nothing of the rest is lost.
    const QString stopped =
        FormatText(AppStrings::Instance().Text(QStringLiteral("save/stopped")),
                   {QString::number(report.written.size()), QString::number(report.stopped.size())});
    if (message.isEmpty()) {
      notes.append(stopped);
      ShowAppMessage(this, noteIcon, notes.join(QStringLiteral("\n\n")));
      return UnwrittenAnswer::Leave;
    }
    message = stopped + QStringLiteral("\n\n") + message;
  }
  if (message.isEmpty()) {
    return UnwrittenAnswer::Leave;
  }
  notes.append(message);
  return AskAboutUnwrittenMoves(this, notes.join(QStringLiteral("\n\n")) + QStringLiteral("\n\n") +
                                          AppStrings::Instance().Text(QStringLiteral("writeback/maponlyhint")));
}

void CTerravueBaseWnd::FollowWriteBackAnswer(UnwrittenAnswer answer, const WriteBackReport& report) {
  switch (answer) {
    case UnwrittenAnswer::Leave:
      break;
    case UnwrittenAnswer::Retry:
      // The shown state is the one just saved; writing it over tries every
      // move that is still pending, and reports again.
      static_cast<void>(SaveShownStateOver(/*reportFailure=*/true));
      break;
    case UnwrittenAnswer::KeepOnMapOnly:
      KeepUnwrittenOnMapOnly(report);
      break;
  }
}

void CTerravueBaseWnd::KeepUnwrittenOnMapOnly(const WriteBackReport& report) {
  std::vector<std::string> paths;
  paths.reserve(report.problems.size());
  for (const WriteFailure& failure : report.problems) {
    paths.push_back(failure.path);
  }
  MapState& map = m_htmlWnd->CurrentMap();
  static_cast<void>(map.KeepOnMapOnly(paths));
  // Should the lists not be written, the moves stay listed on disk and come
  // back as pending when the map is opened again: nothing is lost.
  if (map.Write(/*stamp=*/false) != PictureResult::Success) {
    ShowAppMessage(this, QMessageBox::Warning, AppGlobals::Get().Message(102));
  }
  KeepStoreCopyInStep(map);
  m_htmlWnd->SetModified(map.AnyModified());
  // Their marks and last failures go, as for pictures that were written.
  WriteBackReport kept;
  kept.written = std::move(paths);
  m_htmlWnd->NoteWriteBack(kept);
}

void CTerravueBaseWnd::KeepStoreCopyInStep(const MapState& map) {
  if (m_currentStateIndex >= 0 && static_cast<std::size_t>(m_currentStateIndex) < m_store->Count() &&
      m_store->At(static_cast<std::size_t>(m_currentStateIndex)).m_name == map.m_name) {
    m_store->At(static_cast<std::size_t>(m_currentStateIndex)) = map;
  }
}

void CTerravueBaseWnd::ReportHandOff(const CContentsGroupList::HandOffResult& handOff) {
  // Only a browser program that is installed is started; one that is there
  // but does not start must not pass in silence.
  if (handOff.listPath.empty() || handOff.started) {
    return;
  }
  ShowAppMessage(this, QMessageBox::Warning,
                 FormatText(AppStrings::Instance().Text(QStringLiteral("browser/failed")),
                            {QString::fromStdString(CContentsGroupList::GetBrowserPath(
                                m_browserSettings, CTerravueHtmlWnd::ProgramFolder().toStdString()))}));
}

bool CTerravueBaseWnd::AskNameForNewState(QString* name) {
  // A name that can't name a folder is refused with the reason before
  // anything is made, and the dialog comes back with it for correcting.
  QString proposal = AppGlobals::Get().Message(108);
  for (;;) {
    CSaveDlg dialog(proposal, this);
    if (dialog.exec() != QDialog::Accepted) {
      return false;
    }
    *name = CleanStateName(dialog.GetName());
    const StateNameProblem problem = CheckStateName(m_store->RootFolder(), name->toStdString());
    if (problem == StateNameProblem::None) {
      return true;
    }
    ShowAppMessage(this, QMessageBox::Warning, StateNameProblemText(problem));
    proposal = dialog.GetName();
  }
}

bool CTerravueBaseWnd::SaveAsNew(bool* cancelled) {
  if (cancelled != nullptr) {
    *cancelled = false;
  }
  const AppGlobals& globals = AppGlobals::Get();
  if (m_store->IsFull()) {
    if (AppSettings().ReadNumber(QStringLiteral("error_maxalbum")) != 0) {
      CWarnningDlg notice(this, globals.Message(106), QStringLiteral("error_maxalbum"), /*modal=*/true,
                          /*showCancel=*/false);
      notice.exec();
    }
    return false;
  }
  if (RefusedWhileMakingThumbnails()) {
    return false;
  }
  if (m_htmlWnd->GetPageKind() != PageKind::PageServer || m_htmlWnd->IsLoading()) {
    ShowAppMessage(this, QMessageBox::Information, globals.Message(110));
    return false;
  }
  static_cast<void>(m_htmlWnd->ReadPageEdits(/*withPictures=*/true));

  QString name;
  if (!AskNameForNewState(&name)) {
    if (cancelled != nullptr) {
      *cancelled = true;
    }
    return true;
  }

  OtherMakerNotice question(this);
  BrowserHandOff launcher(CContentsGroupList::Environment{&m_browserSettings, &m_browserStarter,
                                                          CTerravueHtmlWnd::ProgramFolder().toStdString(),
                                                          XpGetSpecialFolder(XpSpecialFolder::AppData)});
  MapState saved;
  WriteBackReport report;
  MapStateStore::SaveResult result = MapStateStore::SaveResult::WriteFailed;
  {
    SaveProgress progress(this, m_htmlWnd, question);
    result =
        m_store->SaveAsNew(m_htmlWnd->CurrentMap(), name.toStdString(), CTerravueHtmlWnd::ProgramFolder().toStdString(),
                           CTerravueHtmlWnd::PageAddresses(), &progress, &launcher, &saved, &report, &progress);
  }
  if (result != MapStateStore::SaveResult::Saved) {
    ShowAppMessage(this, QMessageBox::Warning, globals.Message(102));
    return false;
  }
  m_htmlWnd->Tracks()->KeepWithState(saved.m_stateFilePath);
  m_htmlWnd->SetModified(false);
  const int count = static_cast<int>(m_store->Count());
  MainMenu::AppendStates(*m_menu, {QString::fromStdString(saved.m_name)}, count);
  m_currentStateIndex = count - 1;
  // The saved map is sent again; what the user did on it stays undoable.
  m_htmlWnd->CarryUndoSteps();
  m_htmlWnd->ApplyState(saved);
  // The state shown anew gets its marks when its page has loaded.
  m_htmlWnd->NoteWriteBack(report);
  SetCaption(QString::fromStdString(saved.m_name));
  const UnwrittenAnswer answer = ReportWriteBack(report);
  ReportHandOff(launcher.LastResult());
  FollowWriteBackAnswer(answer, report);
  return true;
}

bool CTerravueBaseWnd::SaveShownStateOver(bool reportFailure) {
  OtherMakerNotice question(this);
  BrowserHandOff launcher(CContentsGroupList::Environment{&m_browserSettings, &m_browserStarter,
                                                          CTerravueHtmlWnd::ProgramFolder().toStdString(),
                                                          XpGetSpecialFolder(XpSpecialFolder::AppData)});
  WriteBackReport report;
  MapState& map = m_htmlWnd->CurrentMap();
  bool saved = false;
  {
    SaveProgress progress(this, m_htmlWnd, question);
    saved = MapStateStore::SaveOver(map, CTerravueHtmlWnd::ProgramFolder().toStdString(),
                                    CTerravueHtmlWnd::PageAddresses(), &progress, &launcher, &report, &progress);
  }
  if (!saved) {
    if (reportFailure) {
      ShowAppMessage(this, QMessageBox::Warning, AppGlobals::Get().Message(102));
    }
    return false;
  }
  m_htmlWnd->Tracks()->KeepWithState(map.m_stateFilePath);
  // The store's copy follows what was written, so choosing the state again
  // shows the saved positions rather than those of an earlier save.
  KeepStoreCopyInStep(map);
  // Pictures whose move did not get into their files still count as moved.
  m_htmlWnd->SetModified(map.AnyModified());
  m_htmlWnd->NoteWriteBack(report);
  const UnwrittenAnswer answer = ReportWriteBack(report);
  ReportHandOff(launcher.LastResult());
  FollowWriteBackAnswer(answer, report);
  return true;
}

void CTerravueBaseWnd::SaveOver() {
  if (RefusedWhileMakingThumbnails() || m_htmlWnd->IsLoading()) {
    return;
  }
  if (m_htmlWnd->CurrentMap().m_name.empty()) {
    static_cast<void>(SaveAsNew());
    return;
  }
  static_cast<void>(m_htmlWnd->ReadPageEdits(/*withPictures=*/true));
  static_cast<void>(SaveShownStateOver(/*reportFailure=*/true));
}

bool CTerravueBaseWnd::RefusedWhileMakingThumbnails() {
  if (!m_htmlWnd->MakingThumbnails()) {
    return false;
  }
  // The thumbnails go into the saved map's folder with the save; while they are being made the
  // save would take half of them. The moves made meanwhile stay on the map.
  ShowAppMessage(this, QMessageBox::Information, AppStrings::Instance().Text(QStringLiteral("load/thumbnailsPending")));
  return true;
}

bool CTerravueBaseWnd::SaveQuestion() {
  if (m_htmlWnd->GetPageKind() != PageKind::PageServer || m_htmlWnd->IsLoading()) {
    return true;
  }
  switch (AskToSaveChanges(this, AppGlobals::Get().Message(117))) {
    case SaveAnswer::Cancel:
      return false;
    case SaveAnswer::DontSave:
      return true;
    case SaveAnswer::Save:
      break;
  }
  if (m_htmlWnd->CurrentMap().m_name.empty()) {
    bool cancelled = false;
    if (!SaveAsNew(&cancelled) || cancelled) {
      return false;
    }
  } else {
    // A failure is reported: the user asked for the save and must know it did not happen.
    if (!SaveShownStateOver(/*reportFailure=*/true)) {
      return false;
    }
  }
  m_htmlWnd->SetModified(m_htmlWnd->CurrentMap().AnyModified());
  return true;
}

// ---------------------------------------------------------------------------
// Deleting and choosing states

QString CTerravueBaseWnd::DeletionTimeText(std::int64_t savedTime) {
  const auto seconds = static_cast<std::time_t>(savedTime);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) {
    return {};
  }
  char buffer[128] = {};
  if (std::strftime(buffer, sizeof buffer, "%m/%d/%y %H:%M:%S", &local) == 0) {
    return {};
  }
  return QString::fromLatin1(buffer);
}

void CTerravueBaseWnd::DeleteState() {
  const AppGlobals& globals = AppGlobals::Get();
  if (m_currentStateIndex < 0 || static_cast<std::size_t>(m_currentStateIndex) >= m_store->Count()) {
    ShowAppMessage(this, QMessageBox::Information, globals.Message(107));
    return;
  }
  if (m_htmlWnd->IsLoading()) {
    return;
  }
  const MapState& shown = m_store->At(static_cast<std::size_t>(m_currentStateIndex));
  const QString question = FormatText(globals.Message(109), {QString::fromStdString(shown.m_name),
                                                             DeletionTimeText(m_htmlWnd->CurrentMap().m_savedTime)});
  if (ShowAppMessage(this, QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  const auto index = static_cast<std::size_t>(m_currentStateIndex);
  m_currentStateIndex = -1;
  if (m_store->Delete(index) != PictureResult::Success) {
    ShowAppMessage(this, QMessageBox::Information, globals.Message(115));
  }
  RebuildStateItems();
  if (m_store->Count() > 0) {
    if (m_htmlWnd->ApplyState(m_store->At(0))) {
      m_currentStateIndex = 0;
      SetCaption(QString::fromStdString(m_store->At(0).m_name));
    }
  } else {
    // The deleted state's pictures must not come back with the next photos.
    m_htmlWnd->ClearMap();
    m_htmlWnd->RequestStartPage();
    SetCaption(QStringLiteral("Terravue"));
  }
  m_htmlWnd->SetModified(false);
}

void CTerravueBaseWnd::ChooseState(int k) {
  if (k < 1 || static_cast<std::size_t>(k) > m_store->Count()) {
    return;
  }
  if (k == m_currentStateIndex + 1 && m_currentStateIndex != -1) {
    return;
  }
  if (m_htmlWnd->TakePageEdits() && !SaveQuestion()) {
    return;
  }
  // The page takes back only the steps of its own photos (same number, same path); the photos
  // taken off the map shown now stay off.
  m_htmlWnd->CarryUndoSteps();
  m_htmlWnd->ForgetRemovedPictures();
  if (!m_htmlWnd->ApplyState(m_store->At(static_cast<std::size_t>(k - 1)))) {
    return;
  }
  m_currentStateIndex = k - 1;
  SetCaption(QString::fromStdString(m_store->At(static_cast<std::size_t>(k - 1)).m_name));
}

void CTerravueBaseWnd::RestoreOriginalPositions() {
  if (RefusedWhileMakingThumbnails() || m_htmlWnd->IsLoading() || m_htmlWnd->GetPageKind() != PageKind::PageServer) {
    return;
  }
  static_cast<void>(m_htmlWnd->TakePageEdits());
  MapState& map = m_htmlWnd->CurrentMap();
  if (RestoreOriginals::Run(this, map).empty()) {
    return;
  }
  // A saved map lists its photos' positions: it follows the files now.
  if (!map.m_name.empty() && map.Write(/*stamp=*/false) != PictureResult::Success) {
    ShowAppMessage(this, QMessageBox::Warning, AppGlobals::Get().Message(102));
  }
  if (!map.m_name.empty()) {
    static_cast<void>(
        map.WritePage(CTerravueHtmlWnd::ProgramFolder().toStdString(), CTerravueHtmlWnd::PageAddresses()));
  }
  KeepStoreCopyInStep(map);
  m_htmlWnd->SetModified(map.AnyModified());
  // The page shows the positions from the files; its steps stay undoable.
  m_htmlWnd->CarryUndoSteps();
  m_htmlWnd->ShowPictures(nullptr);
}

void CTerravueBaseWnd::OpenStateFromFile() {
  if (m_htmlWnd->IsLoading()) {
    return;
  }
  const AppStrings& strings = AppStrings::Instance();
  QFileDialog dialog(this, strings.Text(QStringLiteral("open/dialogTitle")), AppGlobals::Get().workFolder,
                     strings.Text(QStringLiteral("open/filter")) + QStringLiteral(" (*.tvd);;") +
                         strings.Text(QStringLiteral("track/filterAll")) + QStringLiteral(" (*)"));
  dialog.setObjectName(QStringLiteral("OpenStateFileDialog"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return;
  }
  static_cast<void>(OpenChosenStateFile(dialog.selectedFiles().constFirst()));
}

bool CTerravueBaseWnd::OpenChosenStateFile(const QString& path) {
  if (m_htmlWnd->IsLoading()) {
    return false;
  }
  if (m_htmlWnd->TakePageEdits() && !SaveQuestion()) {
    return false;
  }
  // A saved map opened again keeps the steps taken on its photos in this session; the photos
  // taken off the map shown before stay off.
  m_htmlWnd->CarryUndoSteps();
  m_htmlWnd->ForgetRemovedPictures();
  // A file that can't be read changes nothing: the map shown stays, with its name.
  if (!m_htmlWnd->OpenStateFile(path, /*startPageOnFailure=*/false)) {
    ShowAppMessage(this, QMessageBox::Warning, m_htmlWnd->OpenFailureText());
    return false;
  }
  // A map of the program's own folder is the same as its menu item, so that
  // saving keeps the two in step; any other is named by its path.
  const QString opened = QFileInfo(path).canonicalFilePath();
  m_currentStateIndex = -1;
  for (std::size_t i = 0; i < m_store->Count(); ++i) {
    if (QFileInfo(QString::fromStdString(m_store->At(i).m_stateFilePath)).canonicalFilePath() == opened) {
      m_currentStateIndex = static_cast<int>(i);
      SetCaption(QString::fromStdString(m_store->At(i).m_name));
      return true;
    }
  }
  SetCaption(QFileInfo(path).absoluteFilePath());
  return true;
}

void CTerravueBaseWnd::Help() {
  const QString address = AppGlobals::Get().helpUrl;
  const QUrl url(address);
  // A help page that is a local file must be there; any page needs a browser to show it.
  const bool missing = url.isLocalFile() && !QFileInfo(url.toLocalFile()).isFile();
  if (address.isEmpty() || !url.isValid() || missing || !QDesktopServices::openUrl(url)) {
    ShowAppMessage(this, QMessageBox::Warning,
                   FormatText(AppStrings::Instance().Text(QStringLiteral("help/failed")), {address}));
  }
}

void CTerravueBaseWnd::About() {
  ShowAppMessage(this, QMessageBox::Information,
                 FormatText(AppStrings::Instance().Text(QStringLiteral("about/text")), {ProgramVersion()}));
}

// ---------------------------------------------------------------------------
// Closing

void CTerravueBaseWnd::closeEvent(QCloseEvent* event) {
  if (m_closeHandled) {
    event->accept();
    return;
  }
  // The window system's close goes through only once the window allows it.
  if (event->spontaneous() && !IsSystemCloseAllowed()) {
    event->ignore();
    return;
  }
  if (m_htmlWnd != nullptr && m_htmlWnd->MakingThumbnails()) {
    // Closing does not wait for the thumbnails, and the moves made meanwhile are asked about.
    m_htmlWnd->StopMakingThumbnails();
  }
  if (m_htmlWnd != nullptr && !m_htmlWnd->IsLoading()) {
    if (m_htmlWnd->TakePageEdits() && !SaveQuestion()) {
      // Cancelled, or the save did not happen: the window and the map stay.
      CancelClosing();
      event->ignore();
      return;
    }
  }
  MarkClosing();
  m_closeHandled = true;

  AppSettings settings;
  StorePlacement(settings);
  if (m_htmlWnd != nullptr) {
    const CTrackDlg* tracks = m_htmlWnd->Tracks();
    settings.WriteNumber(QStringLiteral("track_shown"), tracks->isVisible() ? 1 : 0);
    if (tracks->isVisible()) {
      settings.WriteNumber(QStringLiteral("track_width"), tracks->width());
    }
    // A load still running stops at its next picture.
    m_htmlWnd->StopLoad();
    static_cast<void>(m_htmlWnd->ReadPageEdits(/*withPictures=*/false));
    if (m_htmlWnd->GetPageKind() == PageKind::PageServer) {
      const MapState& map = m_htmlWnd->CurrentMap();
      settings.WriteText(QStringLiteral("zoom"), QString::fromStdString(map.m_zoom));
      settings.WriteText(QStringLiteral("latitude"), QString::fromStdString(map.m_latitude));
      settings.WriteText(QStringLiteral("longitude"), QString::fromStdString(map.m_longitude));
    }
  }
  QMainWindow::closeEvent(event);
}

// ---------------------------------------------------------------------------
// What the command line asks for

bool CTerravueBaseWnd::HasSavedMaps() const { return m_store != nullptr && m_store->Count() > 0; }

void CTerravueBaseWnd::BringToFront() {
  raise();
  activateWindow();
}

void CTerravueBaseWnd::ShowPictures(const QStringList* paths) { m_htmlWnd->ShowPictures(paths); }

bool CTerravueBaseWnd::OpenStateFile(const QString& path) { return m_htmlWnd->OpenStateFile(path); }

void CTerravueBaseWnd::RequestStartPage() { m_htmlWnd->RequestStartPage(); }

void CTerravueBaseWnd::SetCaption(const QString& caption) { setWindowTitle(caption); }

void CTerravueBaseWnd::ShowNotice(int messageId, const QString& noticeName) {
  // Modeless: the notice deletes itself when closed.
  new CWarnningDlg(this, AppGlobals::Get().Message(messageId), noticeName, /*modal=*/false, /*showCancel=*/false);
}

void CTerravueBaseWnd::ShowPrivacyNotice() { new CPimDlg(this, /*modal=*/false); }

void CTerravueBaseWnd::ReportOpenFailure(const QString& /*path*/) {
  ShowAppMessage(this, QMessageBox::Warning, m_htmlWnd->OpenFailureText());
}

void CTerravueBaseWnd::ShowInformation(int messageId) {
  ShowAppMessage(this, QMessageBox::Information, AppGlobals::Get().Message(messageId));
}
