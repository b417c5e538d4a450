// The whole program with the embedded server and browser: photos go on the
// map, a marker is dragged, the map is saved as a state, the moved photo
// carries its new position, the state opens again from the command line and
// is deleted; loads that are interrupted or doubled, and a server that does
// not answer.
#include <QAbstractButton>
#include <QAction>
#include <QCryptographicHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTimer>
#include <QWebEngineScript>
#include <cmath>
#include <memory>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CCustomButton.h"
#include "Applications/Terravue/CInfoNoticeDlg.h"
#include "Applications/Terravue/CProgressDlg.h"
#include "Applications/Terravue/CSaveDlg.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/CWarnningDlg.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/ThumbnailSchemeHandler.h"
#include "Applications/Terravue/mapdata/MapStateStore.h"
#include "Applications/Terravue/tests/AppTestSupport.h"
#include "Applications/Terravue/tests/TestPhotos.h"

namespace {

int ScriptNumber(QWebEngineView* view, const QString& script) { return RunScript(view, script).toInt(); }

QByteArray FileHash(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

/// What the page tells about moves that are not in their files yet, as the user sees it.
struct PendingView {
  int counter = -1;   ///< the "N moved" of the line beside the map
  int listMarks = 0;  ///< list entries marked as not yet written
  int pinMarks = 0;   ///< markers marked so
  QString titles;     ///< the tooltips of the marked list entries, one a line

  bool operator==(const PendingView& other) const = default;
};

PendingView ReadPendingView(QWebEngineView* view) {
  const QVariantList answer =
      RunScript(view, QStringLiteral("(function () {"
                                     "  var summary = document.getElementById('tvSummary');"
                                     "  var match = summary ? /(\\d+) moved/.exec(summary.textContent) : null;"
                                     "  var marked = document.querySelectorAll('a.tvPending');"
                                     "  var titles = [];"
                                     "  marked.forEach(function (a) { titles.push(a.title); });"
                                     "  return [match ? Number(match[1]) : -1, marked.length,"
                                     "          document.querySelectorAll('img.tvPendingPin').length,"
                                     "          titles.join('\\n')];"
                                     "})()"))
          .toList();
  if (answer.size() != 4) {
    return {};
  }
  return PendingView{answer[0].toInt(), answer[1].toInt(), answer[2].toInt(), answer[3].toString()};
}

/// The pictures a state's "moves.txt" lists (0 when there is no such file).
int MovesListed(const QString& stateFolder) {
  QFile file(stateFolder + QStringLiteral("/moves.txt"));
  if (!file.open(QIODevice::ReadOnly)) {
    return 0;
  }
  return static_cast<int>(file.readAll().count('\n')) - 1;
}

}  // namespace

class EndToEndTest : public AppTestCase {
  Q_OBJECT

 private:
  /// The photos of Tokyo and Osaka, and one without a position.
  QStringList MakeThreePhotos() {
    QStringList paths = MakeTokyoAndOsaka(PhotoFolder());
    const QString unknown = PhotoFolder() + QStringLiteral("/unknown.jpg");
    if (paths.size() != 2 || !MakeTestPhoto(unknown, 640, 480, 3, XpDateTime(2024, 5, 3, 12, 0, 0))) {
      return {};
    }
    paths.append(unknown);
    return paths;
  }

  /// The three photos, with the notice about photos without a position turned off.
  QStringList MakeThreePhotosQuietly() {
    AppSettings().WriteNumber(QStringLiteral("warn_hasnolocation"), 0);
    return MakeThreePhotos();
  }

  /// Starts `program` on the three photos, quietly, and waits for the two markers.
  bool StartOnThreePhotosQuietly(TestProgram& program) {
    const QStringList photos = MakeThreePhotosQuietly();
    if (photos.size() != 3) {
      qWarning("the three photos could not be made");
      return false;
    }
    return program.StartShowing(Options(photos), 2);
  }

  QStringList NoticeNames(QWidget* window) {
    QStringList names;
    for (const CWarnningDlg* notice : window->findChildren<CWarnningDlg*>()) {
      names.append(notice->NoticeName());
    }
    return names;
  }

  /// Clicks the middle of the first element `selector` finds on the page with
  /// real mouse events; false when there is none.
  static bool ClickOnPage(CTerravueHtmlWnd* map, const QString& selector, Qt::MouseButton button = Qt::LeftButton) {
    const QVariantList at = RunScript(map, QStringLiteral("(function () {"
                                                          "  var e = document.querySelector('%1');"
                                                          "  if (!e) { return []; }"
                                                          "  var r = e.getBoundingClientRect();"
                                                          "  return [r.left + r.width / 2, r.top + r.height / 2];"
                                                          "})()")
                                               .arg(selector))
                                .toList();
    QWidget* target = map->focusProxy();
    if (at.size() != 2 || target == nullptr) {
      return false;
    }
    QTest::mouseClick(target, button, Qt::NoModifier, QPoint(qRound(at[0].toDouble()), qRound(at[1].toDouble())));
    return true;
  }

  /// Opens the page's menu of the picture `selector` finds with a right click
  /// (again while the page is not ready for it); false when it does not open.
  static bool OpenPictureMenu(CTerravueHtmlWnd* map, const QString& selector) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (!ClickOnPage(map, selector, Qt::RightButton)) {
        return false;
      }
      QTest::qWait(150);
      if (RunScript(map, QStringLiteral("!!document.getElementById('tvPictureMenu')")).toBool()) {
        return true;
      }
      QTest::qWait(350);
    }
    return false;
  }

  /// The texts seen that report pictures whose new position was not written.
  static QStringList WriteBackReports(const ModalAnswerer& answerer) {
    QStringList reports;
    for (const QString& text : answerer.seen) {
      if (text.startsWith(QStringLiteral("The new location could not be written"))) {
        reports.append(text);
      }
    }
    return reports;
  }

 private slots:
  void init() {
    AppTestCase::init();
    TV_SKIP_WITHOUT_PAGE_FILES();
  }

  void photosGoOnTheMapAreMovedSavedReopenedAndDeleted() {
    const QStringList photos = MakeThreePhotos();
    QCOMPARE(photos.size(), 3);
    ModalAnswerer answerer(QStringLiteral("Trip"));

    // First start: the three photos on the command line.
    auto app = std::make_unique<CTerravueApp>(Options(photos));
    QVERIFY(app->InitInstance());
    CTerravueBaseWnd* window = app->MainWindow();
    CTerravueHtmlWnd* map = window->HtmlWnd();
    QVERIFY(map->IsLoading());
    QCOMPARE(map->findChildren<CProgressDlg*>().size(), 1);
    QSignalSpy posted(map, &CTerravueHtmlWnd::querySent);
    QTRY_COMPARE_WITH_TIMEOUT(posted.count(), 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(ScriptNumber(map, kMarkers), 2, 30000);
    QCOMPARE(ScriptNumber(map, QStringLiteral("document.querySelectorAll('#tvUnlocated > *').length")), 1);
    QCOMPARE(ScriptNumber(map, QStringLiteral("document.querySelectorAll('#tvLocated > *').length")), 2);
    QCOMPARE(NoticeNames(window), QStringList{QStringLiteral("warn_hasnolocation")});
    // The thumbnails come through the program's own scheme from the work folder.
    QTRY_COMPARE_WITH_TIMEOUT(
        ScriptNumber(map, QStringLiteral("Array.prototype.filter.call(document.querySelectorAll('#list img'),"
                                         " function (i) { return i.complete && i.naturalWidth > 0; }).length")),
        3, 20000);
    // The menu button sits 53 pixels from the right on the server's page.
    QVERIFY(map->MenuButton()->isVisible());
    QCOMPARE(map->MenuButton()->x(), map->width() - CTerravueHtmlWnd::kButtonRightElsewhere);

    // Drag a marker; the page marks its picture moved.
    const QString before = RunScript(map, QStringLiteral("document.getElementsByName('pic_latitude1')[0].value + "
                                                         "document.getElementsByName('pic_latitude2')[0].value"))
                               .toString();
    DragFirstMarker(map, 70, 50);
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(map, QStringLiteral("document.getElementsByName('pic_latitude1')[0].value + "
                                                           "document.getElementsByName('pic_latitude2')[0].value"))
                                     .toString() != before,
                             10000);
    QVERIFY(map->ReadPageEdits(true));
    int moved = -1;
    for (std::size_t i = 0; i < map->CurrentMap().m_pictures.Count(); ++i) {
      if (map->CurrentMap().m_pictures.At(i).m_modified != 0) {
        QCOMPARE(moved, -1);
        moved = static_cast<int>(i);
      }
    }
    QVERIFY(moved >= 0);
    const PictureRecord movedRecord = map->CurrentMap().m_pictures.At(static_cast<std::size_t>(moved));
    const QString movedPath = QString::fromStdString(movedRecord.m_path);
    const QImage pixelsBefore(movedPath);
    QVERIFY(!pixelsBefore.isNull());

    // Save as a new state named "Trip", through the menu.
    window->PrepareMenu();
    QAction* saveAs = nullptr;
    for (QAction* action : window->Menu()->actions()) {
      if (MainMenu::CommandOf(action) == MainMenu::kSaveAsNew) {
        saveAs = action;
      }
    }
    QVERIFY(saveAs != nullptr);
    QCOMPARE(saveAs->text(), QStringLiteral("Save Terravue as a new file (&S)"));
    QVERIFY(saveAs->isEnabled());
    saveAs->trigger();
    QVERIFY(answerer.saveDialogNames.contains(QStringLiteral("New data")));
    const QString trip = WorkFolder() + QStringLiteral("/Trip");
    for (const char* name :
         {"data.tvd", "data.htm", "GPS.gif", "terravue.js", "terravue.css", "pin_std1.png", "pin_std2.png"}) {
      QVERIFY2(QFileInfo(trip + QLatin1Char('/') + QLatin1String(name)).isFile(), name);
    }
    QCOMPARE(QDir(trip).entryList({QStringLiteral("cache_*.jpg")}).size(), 3);
    QCOMPARE(window->windowTitle(), QStringLiteral("Trip"));
    QCOMPARE(window->CurrentStateIndex(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(posted.count(), 2, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    // The saved map still has a photo without a position; it is not told again in this session.
    QCOMPARE(NoticeNames(window), QStringList{QStringLiteral("warn_hasnolocation")});

    // The moved photo carries the new position and the same pixels.
    const QImage pixelsAfter(movedPath);
    QCOMPARE(pixelsAfter.convertToFormat(QImage::Format_RGB32), pixelsBefore.convertToFormat(QImage::Format_RGB32));
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (!exiftool.isEmpty()) {
      QProcess reader;
      reader.start(exiftool, {QStringLiteral("-n"), QStringLiteral("-s3"), QStringLiteral("-GPS:GPSLatitude"),
                              QStringLiteral("-GPS:GPSLatitudeRef"), QStringLiteral("-GPS:GPSLongitude"),
                              QStringLiteral("-GPS:GPSLongitudeRef"), movedPath});
      QVERIFY(reader.waitForFinished(30000));
      const QStringList lines = QString::fromUtf8(reader.readAllStandardOutput()).split(QLatin1Char('\n'));
      QVERIFY2(lines.size() >= 4, qPrintable(lines.join(QLatin1Char('|'))));
      const double latitude = lines[0].toDouble() * (lines[1] == QLatin1String("S") ? -1 : 1);
      const double longitude = lines[2].toDouble() * (lines[3] == QLatin1String("W") ? -1 : 1);
      QVERIFY(std::abs(latitude - DegreesOf(movedRecord.m_latitude)) < 1e-6);
      QVERIFY(std::abs(longitude - DegreesOf(movedRecord.m_longitude)) < 1e-6);
    }

    // The menu lists the state, checked.
    window->PrepareMenu();
    QAction* tripItem = nullptr;
    for (QAction* action : window->Menu()->actions()) {
      if (MainMenu::CommandOf(action) == 1) {
        tripItem = action;
      }
    }
    QVERIFY(tripItem != nullptr);
    QCOMPARE(tripItem->text(), QStringLiteral("Trip"));
    QVERIFY(tripItem->isChecked());
    std::vector<std::pair<std::string, std::string>> saved;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      saved.emplace_back(record.m_latitude, record.m_longitude);
    }
    app->ExitInstance();
    app.reset();
    // Nothing was left unsaved: closing asked nothing.
    QVERIFY(!answerer.seen.contains(AppGlobals::Get().Message(117)));

    // Second start with the state file: the same positions.
    app = std::make_unique<CTerravueApp>(Options({trip + QStringLiteral("/data.tvd")}));
    QVERIFY(app->InitInstance());
    window = app->MainWindow();
    map = window->HtmlWnd();
    QCOMPARE(window->windowTitle(), trip + QStringLiteral("/data.tvd"));
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(ScriptNumber(map, kMarkers), 2, 30000);
    std::vector<std::pair<std::string, std::string>> reopened;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      reopened.emplace_back(record.m_latitude, record.m_longitude);
    }
    QCOMPARE(reopened, saved);

    // Choose the state, then delete it: the start page and the plain caption.
    window->OnCommand(1);
    QCOMPARE(window->CurrentStateIndex(), 0);
    QCOMPARE(window->windowTitle(), QStringLiteral("Trip"));
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    answerer.replies = {QMessageBox::Yes};
    window->OnCommand(MainMenu::kDeleteState);
    QVERIFY(answerer.seen.last().startsWith(QStringLiteral("\"Trip\" (")));
    QVERIFY(!QFileInfo::exists(trip));
    QCOMPARE(window->Store()->Count(), std::size_t{0});
    QCOMPARE(window->windowTitle(), QStringLiteral("Terravue"));
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageMap, 30000);
    QCOMPARE(window->CurrentStateIndex(), -1);
    int items = 0;
    for (QAction* action : window->Menu()->actions()) {
      items += MainMenu::CommandOf(action) != 0 ? 1 : 0;
    }
    QCOMPARE(items, 13);  // the four commands, "Load track...", "Use these photos as a track", Undo, Redo,
                          // "Restore original positions...", "Export...", "Open a saved map...", "Name places..."
                          // and "About Terravue"
    // On the start page with no saved state the menu button is hidden.
    QTRY_VERIFY_WITH_TIMEOUT(!map->MenuButton()->isVisible(), 10000);
    app->ExitInstance();
  }

  void aSaveThatCannotWriteEveryMovedPhotoReportsEachAndKeepsTheMoves() {
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(StartOnThreePhotosQuietly(program));
    auto& [answerer, app, map, window] = program;

    // Both located photos are moved: one by a drag, the other through the
    // page's own move (a second drag may land on the first one's popup).
    DragFirstMarker(map, 70, 50);
    QTRY_VERIFY_WITH_TIMEOUT(map->ReadPageEdits(true), 10000);
    QCOMPARE(RunScript(map, QStringLiteral("(function () {"
                                           "  var left = tv.pictures.filter(function (p) {"
                                           "    return p.lat !== null && !p.moved; });"
                                           "  tvMovePicture(left[0], left[0].lat + 0.5, left[0].lng - 0.5);"
                                           "  return left.length;"
                                           "})()"))
                 .toInt(),
             1);
    QStringList movedPaths;
    std::vector<PictureRecord> moved;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          static_cast<void>(map->ReadPageEdits(true));
          moved.clear();
          for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
            if (record.m_modified != 0) {
              moved.push_back(record);
            }
          }
          return moved.size() == 2;
        }(),
        10000);
    // Another program changes the first one; the second one goes away.
    const QString changed = QString::fromStdString(moved[0].m_path);
    const QString missing = QString::fromStdString(moved[1].m_path);
    {
      QFile file(changed);
      QVERIFY(file.open(QIODevice::Append));
      file.write("\0", 1);
    }
    const QByteArray changedHash = FileHash(changed);
    QVERIFY(QFile::remove(missing));

    // Save as a new state: one dialog names both photos with their reasons.
    Trigger(window, MainMenu::kSaveAsNew);
    const QString trip = WorkFolder() + QStringLiteral("/Trip");
    QVERIFY(QFileInfo(trip + QStringLiteral("/data.tvd")).isFile());
    QTRY_COMPARE_WITH_TIMEOUT(WriteBackReports(answerer).size(), 1, 10000);
    const QString report = WriteBackReports(answerer).constFirst();
    const QString changedName = QFileInfo(changed).fileName();
    const QString missingName = QFileInfo(missing).fileName();
    QVERIFY2(report.contains(changedName + QStringLiteral(": the file was changed by another program since it was "
                                                          "loaded")),
             qPrintable(report));
    QVERIFY2(report.contains(missingName + QStringLiteral(": the file was not found")), qPrintable(report));
    QCOMPARE(FileHash(changed), changedHash);

    // The map shown afterwards (the new state, opened again) keeps both moves.
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QCOMPARE(window->windowTitle(), QStringLiteral("Trip"));
    QVERIFY(map->IsModified());
    for (const PictureRecord& wanted : moved) {
      bool found = false;
      for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
        if (record.m_path == wanted.m_path) {
          found = true;
          QCOMPARE(record.m_latitude, wanted.m_latitude);
          QCOMPARE(record.m_longitude, wanted.m_longitude);
          QCOMPARE(int(record.m_modified), 1);
        }
      }
      QVERIFY(found);
    }
    // The state file holds the moved positions in its usual seven lines per
    // picture; the list beside it marks them as not yet in the files.
    QFile stateFile(trip + QStringLiteral("/data.tvd"));
    QVERIFY(stateFile.open(QIODevice::ReadOnly));
    const QByteArray stateText = stateFile.readAll();
    stateFile.close();
    for (const PictureRecord& wanted : moved) {
      QVERIFY(stateText.contains(QByteArray::fromStdString(wanted.m_latitude)));
    }
    QCOMPARE(stateText.count("\t\tmoved"), 0);
    QFile movesFile(trip + QStringLiteral("/moves.txt"));
    QVERIFY(movesFile.open(QIODevice::ReadOnly));
    const QByteArray movesText = movesFile.readAll();
    movesFile.close();
    QCOMPARE(movesText.count('\n'), 3);
    QVERIFY(movesText.contains(QFile::encodeName(changed)));

    // Saving over it again: the changed photo (now known) is written, the
    // missing one is reported once more and still kept.
    Trigger(window, MainMenu::kSaveOver);
    QTRY_COMPARE_WITH_TIMEOUT(WriteBackReports(answerer).size(), 2, 10000);
    QVERIFY(!WriteBackReports(answerer).constLast().contains(changedName));
    QVERIFY(WriteBackReports(answerer).constLast().contains(missingName));
    QVERIFY(FileHash(changed) != changedHash);
    QVERIFY(map->IsModified());

    // Closing asks to save, since a move is still not in its file; the state
    // opened from its file afterwards still has it.
    answerer.replies = {QMessageBox::Save};
    app->ExitInstance();
    app.reset();
    QVERIFY(answerer.seen.contains(AppGlobals::Get().Message(117)));
    QVERIFY(program.Start(Options({trip + QStringLiteral("/data.tvd")}), MapWait::PageShown));
    bool kept = false;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      if (record.m_path == moved[1].m_path) {
        kept = record.m_latitude == moved[1].m_latitude && record.m_modified != 0;
      }
    }
    QVERIFY(kept);
    QVERIFY(map->IsModified());
    program.ExitDiscarding();
  }

  void aSaveAsNewThatFailsLeavesNothingBehindAndTheMapWorking() {
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(StartOnThreePhotosQuietly(program));
    auto& [answerer, app, map, window] = program;
    const QDir work(WorkFolder());
    const QStringList thumbnails = work.entryList({QStringLiteral("cache_*.jpg")}, QDir::Files);
    QCOMPARE(thumbnails.size(), 3);

    // Two photos that name one thumbnail: the second copy finds its place taken.
    PictureRecord& second = map->CurrentMap().m_pictures.At(1);
    const std::string secondName = second.m_cacheName;
    second.m_cacheName = map->CurrentMap().m_pictures.At(0).m_cacheName;
    const QStringList entriesBefore = work.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (int attempt = 0; attempt < 2; ++attempt) {
      Trigger(window, MainMenu::kSaveAsNew);
      QCOMPARE(answerer.seen.count(AppGlobals::Get().Message(102)), attempt + 1);
      QCOMPARE(work.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), entriesBefore);
    }
    QCOMPARE(window->Store()->Count(), std::size_t{0});
    QCOMPARE(window->CurrentStateIndex(), -1);

    // The map on screen still has its thumbnails and shows them when sent again.
    for (const QString& name : thumbnails) {
      QVERIFY2(QFileInfo(work.filePath(name)).isFile(), qPrintable(name));
    }
    second.m_cacheName = secondName;
    const QString blocked = work.filePath(QString::fromStdString(secondName));
    QVERIFY(QFile::remove(blocked));
    QSignalSpy posted(map, &CTerravueHtmlWnd::querySent);
    window->OnCommand(MainMenu::kSendAgain);
    QTRY_COMPARE_WITH_TIMEOUT(posted.count(), 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    for (const QString& name : thumbnails) {
      QCOMPARE(QFileInfo(work.filePath(name)).isFile(), work.filePath(name) != blocked);
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        ScriptNumber(map, QStringLiteral("Array.prototype.filter.call(document.querySelectorAll('#list img'),"
                                         " function (i) { return i.complete && i.naturalWidth > 0; }).length")) >= 2,
        20000);

    // With one thumbnail missing, the save goes through, under the name asked for.
    Trigger(window, MainMenu::kSaveAsNew);
    const QString trip = WorkFolder() + QStringLiteral("/Trip");
    QVERIFY(QFileInfo(trip + QStringLiteral("/data.tvd")).isFile());
    QVERIFY(QFileInfo(trip + QStringLiteral("/data.htm")).isFile());
    QCOMPARE(QDir(trip).entryList({QStringLiteral("cache_*.jpg")}).size(), 2);
    QVERIFY(!QFileInfo::exists(WorkFolder() + QStringLiteral("/Trip(1)")));
    QCOMPARE(answerer.seen.count(AppGlobals::Get().Message(102)), 2);
    QCOMPARE(window->Store()->Count(), std::size_t{1});
    QCOMPARE(window->windowTitle(), QStringLiteral("Trip"));
    app->ExitInstance();
  }

  void aSecondShowPicturesDuringALoadIsIgnored() {
    const QStringList photos = MakeThreePhotosQuietly();
    QCOMPARE(photos.size(), 3);
    ModalAnswerer answerer(QStringLiteral("Trip"));
    // Given relative to the current folder, as a shell hands them over.
    const QString startFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(PhotoFolder()));
    CTerravueApp app(Options({QStringLiteral("tokyo.jpg"), QStringLiteral("osaka.jpg")}));
    QVERIFY(app.InitInstance());
    CTerravueHtmlWnd* map = app.MainWindow()->HtmlWnd();
    QSignalSpy posted(map, &CTerravueHtmlWnd::querySent);
    QVERIFY(map->IsLoading());
    // Over the limit of 20 pictures, but dropped entirely: no notice either.
    QStringList many;
    for (int i = 0; i < 30; ++i) {
      many.append(photos[2]);
    }
    map->ShowPictures(&many);
    QCOMPARE(map->findChildren<CProgressDlg*>().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(posted.count(), 1, 30000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{2});
    QVERIFY(QDir::setCurrent(startFolder));
    // The map keeps full paths, so a saved state finds its pictures from anywhere.
    QVERIFY(map->CurrentMap().m_pictures.ContainsPath(photos[0].toStdString()));
    QVERIFY(map->CurrentMap().m_pictures.ContainsPath(photos[1].toStdString()));
    QVERIFY(!NoticeNames(app.MainWindow()).contains(QStringLiteral("warn_over20")));
    QTest::qWait(200);
    QCOMPARE(posted.count(), 1);
    app.ExitInstance();
  }

  void closingDuringALoadLeavesNothingBroken() {
    QStringList photos;
    QList<QByteArray> hashes;
    for (int i = 0; i < 8; ++i) {
      const QString path = PhotoFolder() + QStringLiteral("/big%1.jpg").arg(i);
      QVERIFY(
          MakeTestPhoto(path, 2400, 1800, i, XpDateTime(2023, 1, 1 + i, 9, 0, 0), "N:35:00:00.000", "E:135:00:00.000"));
      photos.append(path);
      hashes.append(FileHash(path));
    }
    ModalAnswerer answerer(QStringLiteral("Trip"));
    {
      CTerravueApp app(Options(photos));
      QVERIFY(app.InitInstance());
      QVERIFY(app.MainWindow()->HtmlWnd()->IsLoading());
      QTest::qWait(50);
      app.ExitInstance();
    }
    QCOMPARE(QDir(WorkFolder()).entryList({QStringLiteral("cache_*")}).size(), 0);
    for (int i = 0; i < photos.size(); ++i) {
      QCOMPARE(FileHash(photos[i]), hashes[i]);
    }
    QVERIFY(answerer.seen.isEmpty());
    // The next start works as usual.
    CTerravueApp again(Options(photos.mid(0, 1)));
    QVERIFY(again.InitInstance());
    QSignalSpy posted(again.MainWindow()->HtmlWnd(), &CTerravueHtmlWnd::querySent);
    QTRY_COMPARE_WITH_TIMEOUT(posted.count(), 1, 30000);
    again.ExitInstance();
  }

  void aServerThatDoesNotAnswerIsToldInWordsAndTheStartPageShows() {
    const QStringList photos = MakeThreePhotos();
    QCOMPARE(photos.size(), 3);
    ModalAnswerer answerer(QStringLiteral("Trip"));
    AppStartOptions options = Options(photos.mid(0, 1));
    options.startServer = false;
    CTerravueApp app(std::move(options));
    QVERIFY(app.InitInstance());
    // A port that was free a moment ago: nothing answers there.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    AppGlobals globals = AppGlobals::Get();
    globals.serverScriptUrl = QStringLiteral("http://127.0.0.1:%1/www/gps/terravue/script2/terravue.php").arg(port);
    AppGlobals::Set(globals);

    CTerravueHtmlWnd* map = app.MainWindow()->HtmlWnd();
    app.MainWindow()->SetCurrentStateIndex(0);
    QSignalSpy failed(map, &CTerravueHtmlWnd::navigationFailed);
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 30000);
    // Told in words; the number is only a detail.
    const QString expected = QStringLiteral(
        "The map could not be loaded: the connection to the map server failed."
        "\n\nThe server refused the connection.");
    QTRY_VERIFY_WITH_TIMEOUT(answerer.seen.contains(expected), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageMap, 30000);
    QCOMPARE(app.MainWindow()->CurrentStateIndex(), -1);
    app.ExitInstance();
  }

  // The map is sent before the thumbnails are made: a thumbnail the page asks for while it is
  // being made waits for it (the page keeps its placeholder) and shows once it is there; one no
  // longer coming fails as a missing one does, and a name nobody makes fails at once.
  void aThumbnailStillBeingMadeShowsOnThePageWhenItComes() {
    const QStringList photos = MakeThreePhotosQuietly();
    QCOMPARE(photos.size(), 3);
    CTerravueApp app(Options(photos));
    CTerravueHtmlWnd* map = StartApp(app);
    QVERIFY(map != nullptr);
    QVERIFY(!map->MakingThumbnails());
    QCOMPARE(ThumbnailSchemeHandler::WaitingRequests(), 0);
    const QString root = QString::fromStdString(map->CurrentMap().m_rootFolder);
    const QString made =
        root + QLatin1Char('/') + QString::fromStdString(map->CurrentMap().m_pictures.At(0).m_cacheName);
    QVERIFY(QFileInfo(made).isFile());
    // Every thumbnail of the load is on the page by now.
    QTRY_COMPARE_WITH_TIMEOUT(
        ScriptNumber(map,
                     QStringLiteral("Array.prototype.filter.call(document.querySelectorAll('#list img.tvThumbImg'),"
                                    " function (i) { return i.complete && i.naturalWidth > 0; }).length")),
        3, 20000);

    // Asks for `name` as the page asks for a thumbnail; its outcome lands in window.tvSeen[name].
    const auto ask = [map](const QString& name) {
      RunScript(map, QStringLiteral(
                         "(function () { window.tvSeen = window.tvSeen || {};"
                         " var base = document.querySelector('#list img.tvThumbImg').src;"
                         " var i = new Image(); i.onload = function () { tvSeen['%1'] = 'shown ' + i.naturalWidth; };"
                         " i.onerror = function () { tvSeen['%1'] = 'failed'; };"
                         " i.src = base.replace(/[^/]*$/, '%1'); return 1; })()")
                         .arg(name));
    };
    const auto seen = [map](const QString& name) {
      return RunScript(map, QStringLiteral("(window.tvSeen || {})['%1'] || ''").arg(name)).toString();
    };

    const QString coming = root + QStringLiteral("/cache_900.jpg");
    ThumbnailSchemeHandler::ExpectThumbnails({coming});
    ask(QStringLiteral("cache_900.jpg"));
    QTRY_COMPARE_WITH_TIMEOUT(ThumbnailSchemeHandler::WaitingRequests(), 1, 10000);
    QTest::qWait(300);
    QCOMPARE(seen(QStringLiteral("cache_900.jpg")), QString());
    QVERIFY(QFile::copy(made, coming));
    ThumbnailSchemeHandler::ThumbnailDone(coming);
    QCOMPARE(ThumbnailSchemeHandler::WaitingRequests(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(seen(QStringLiteral("cache_900.jpg")).startsWith(QStringLiteral("shown ")), 10000);
    QVERIFY(seen(QStringLiteral("cache_900.jpg")) != QStringLiteral("shown 0"));

    ThumbnailSchemeHandler::ExpectThumbnails({root + QStringLiteral("/cache_901.jpg")});
    ask(QStringLiteral("cache_901.jpg"));
    QTRY_COMPARE_WITH_TIMEOUT(ThumbnailSchemeHandler::WaitingRequests(), 1, 10000);
    ThumbnailSchemeHandler::StopExpecting();
    QTRY_COMPARE_WITH_TIMEOUT(seen(QStringLiteral("cache_901.jpg")), QStringLiteral("failed"), 10000);

    ask(QStringLiteral("cache_902.jpg"));
    QTRY_COMPARE_WITH_TIMEOUT(seen(QStringLiteral("cache_902.jpg")), QStringLiteral("failed"), 10000);
    QCOMPARE(ThumbnailSchemeHandler::WaitingRequests(), 0);
    QVERIFY(QFile::remove(coming));
    app.ExitInstance();
  }

  void anUndecodablePhotoShowsAPlaceholderIsToldOnceAndTheMapIsSaved() {
    const QStringList photos = MakeThreePhotos();
    QCOMPARE(photos.size(), 3);
    const QString cmyk = PhotoFolder() + QStringLiteral("/cmyk.jpg");
    QVERIFY(QFile::copy(QStringLiteral(TV_TESTDATA_DIR "/camera/pillow-pil_sample_cmyk.jpg"), cmyk));
    ModalAnswerer answerer(QStringLiteral("Trip"));
    AppSettings().WriteNumber(QStringLiteral("warn_hasnolocation"), 0);
    CTerravueApp app(Options({photos[0], cmyk}));
    CTerravueHtmlWnd* map = StartApp(app);
    QVERIFY(map != nullptr);
    CTerravueBaseWnd* window = app.MainWindow();
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{2});

    // One notice names the photo and says why, in full.
    QStringList notices;
    for (const CInfoNoticeDlg* notice : window->findChildren<CInfoNoticeDlg*>()) {
      notices.append(notice->MessageLabel()->text());
    }
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices[0].contains(QStringLiteral("cmyk.jpg: the picture data can't be decoded")),
             qPrintable(notices[0]));
    QVERIFY(answerer.seen.isEmpty());

    // The page shows it by name with a visible placeholder, and a message it
    // shows in the information bar is not cut off.
    const QString item = QStringLiteral(
        "Array.prototype.filter.call(document.querySelectorAll('#list a'),"
        " function (a) { return a.textContent.indexOf('cmyk.jpg') >= 0; })[0]");
    QTRY_COMPARE_WITH_TIMEOUT(
        RunScript(map, QStringLiteral("(function () { var a = %1; var i = a && a.querySelector('img');"
                                      " return i ? (i.classList.contains('tvNoThumb') && i.offsetWidth > 0 &&"
                                      " i.offsetHeight > 0) : false; })()")
                           .arg(item))
            .toBool(),
        true, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(ScriptNumber(map, QStringLiteral("document.getElementById('tvMessage') ? 1 : 0")) == 1,
                             10000);
    QCOMPARE(RunScript(map, QStringLiteral("(function () { var m = document.getElementById('tvMessage');"
                                           " var r = m.getBoundingClientRect();"
                                           " return m.scrollWidth <= m.clientWidth + 1 && r.right <= window.innerWidth"
                                           " && r.bottom <= window.innerHeight; })()"))
                 .toBool(),
             true);

    // The map is saved all the same, without that photo's thumbnail.
    QVERIFY(window->SaveAsNew());
    QVERIFY(!answerer.seen.contains(AppGlobals::Get().Message(102)));
    const QString trip = WorkFolder() + QStringLiteral("/Trip");
    QVERIFY(QFileInfo(trip + QStringLiteral("/data.tvd")).isFile());
    QCOMPARE(QDir(trip).entryList({QStringLiteral("cache_*.jpg")}).size(), 1);
    QCOMPARE(window->CurrentStateIndex(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsLoading() && !map->IsSending() && map->GetPageKind() == PageKind::PageServer,
                             30000);
    // Sending the map again tells nothing new.
    window->OnCommand(MainMenu::kSendAgain);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsLoading() && !map->IsSending(), 30000);
    QTest::qWait(200);
    QCOMPARE(window->findChildren<CInfoNoticeDlg*>().size(), 1);
    app.ExitInstance();
  }

  void theMovedCounterAndTheMarksShowWhatTheNextSaveWrites() {
    const QStringList photos = MakeThreePhotos();
    QCOMPARE(photos.size(), 3);
    const QString fourth = PhotoFolder() + QStringLiteral("/nagoya.jpg");
    QVERIFY(MakeTestPhoto(fourth, 640, 480, 4, XpDateTime(2024, 5, 4, 9, 0, 0), "N:35:10:00.000", "E:136:54:00.000"));
    TestProgram program(QStringLiteral("Trip"));
    AppSettings().WriteNumber(QStringLiteral("warn_hasnolocation"), 0);
    QVERIFY(program.StartShowing(Options(photos), 2));
    auto& [answerer, app, map, window] = program;
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map), (PendingView{0, 0, 0, QString()}), 10000);

    // A drag counts at once and marks the photo in the list and on the map.
    DragFirstMarker(map, 70, 50);
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map).counter, 1, 10000);
    QCOMPARE(ReadPendingView(map).listMarks, 1);
    QCOMPARE(ReadPendingView(map).pinMarks, 1);
    QVERIFY(map->ReadPageEdits(true));
    QCOMPARE(map->PendingCount(), 1);
    QString movedPath;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      if (record.m_modified != 0) {
        movedPath = QString::fromStdString(record.m_path);
      }
    }
    QVERIFY(!movedPath.isEmpty());
    const QByteArray original = FileHash(movedPath);

    // A save that can't write it keeps it counted and marked, with the reason.
    QVERIFY(QFile::setPermissions(movedPath, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_COMPARE_WITH_TIMEOUT(WriteBackReports(answerer).size(), 1, 10000);
    const QString trip = WorkFolder() + QStringLiteral("/Trip");
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map).counter, 1, 10000);
    PendingView view = ReadPendingView(map);
    QCOMPARE(view.listMarks, 1);
    QCOMPARE(view.pinMarks, 1);
    QVERIFY2(view.titles.contains(QStringLiteral("not yet written: the file is read-only")), qPrintable(view.titles));
    QVERIFY2(view.titles.contains(movedPath), qPrintable(view.titles));
    QCOMPARE(MovesListed(trip), 1);
    QCOMPARE(map->PendingCount(), 1);
    QCOMPARE(FileHash(movedPath), original);

    // After a restart the map opened from its file still counts and marks it.
    program.ExitDiscarding();
    app.reset();
    QVERIFY(program.Start(Options({trip + QStringLiteral("/data.tvd")}), MapWait::PageShown));
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map).counter, 1, 10000);
    view = ReadPendingView(map);
    QCOMPARE(view.listMarks, 1);
    QCOMPARE(view.pinMarks, 1);
    QVERIFY2(view.titles.contains(QStringLiteral("not yet written")), qPrintable(view.titles));
    QCOMPARE(map->PendingCount(), 1);

    // Once the file can be written, saving writes it: nothing is counted or marked.
    QVERIFY(QFile::setPermissions(movedPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    Trigger(window, MainMenu::kSaveOver);
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map), (PendingView{0, 0, 0, QString()}), 10000);
    QCOMPARE(MovesListed(trip), 0);
    QCOMPARE(map->PendingCount(), 0);
    QVERIFY(FileHash(movedPath) != original);
    QCOMPARE(WriteBackReports(answerer).size(), 1);

    // A photo dropped on a moved map answered "Don't save": the move is still
    // counted on the new page, and the next save writes it.
    const QByteArray before[2] = {FileHash(photos[0]), FileHash(photos[1])};
    QTRY_COMPARE_WITH_TIMEOUT(ScriptNumber(map, kMarkers), 2, 30000);
    DragFirstMarker(map, -60, 40);
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map).counter, 1, 10000);
    answerer.seen.clear();
    answerer.replies = {QMessageBox::Discard};
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(fourth)});
    QDragEnterEvent enter(QPoint(30, 30), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(map, &enter);
    QDropEvent drop(QPointF(30, 30), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(map, &drop);
    QTRY_VERIFY_WITH_TIMEOUT(map->CurrentMap().m_pictures.ContainsPath(fourth.toStdString()) && !map->IsLoading(),
                             30000);
    QVERIFY(answerer.seen.contains(AppGlobals::Get().Message(117)));
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map).counter, 1, 10000);
    QCOMPARE(ReadPendingView(map).listMarks, 1);
    QCOMPARE(map->PendingCount(), 1);
    Trigger(window, MainMenu::kSaveOver);
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map).counter, 0, 10000);
    QCOMPARE(map->PendingCount(), 0);
    QCOMPARE(MovesListed(trip), 0);
    QVERIFY(FileHash(photos[0]) != before[0] || FileHash(photos[1]) != before[1]);
    app->ExitInstance();
  }

  void forgettingAPositionAsksFirstUntilTheUserSaysNotTo() {
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(StartOnThreePhotosQuietly(program));
    auto& [answerer, app, map, window] = program;
    const QString marker = QStringLiteral(".leaflet-marker-icon:not(.marker-cluster)");
    const QString menuOrder = QStringLiteral(
        "Array.prototype.map.call(document.querySelectorAll('#tvPictureMenu > *'), function (e) {"
        "  return e.id || e.className; }).join(' ')");

    // The menu sets the entry apart from "Remove from map" and "Name places..."; choosing it only asks.
    QVERIFY(OpenPictureMenu(map, marker));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, menuOrder).toString(),
                              QStringLiteral("tvRemoveFromMap tvNamePlaces tvMenuSeparator tvForgetPosition"), 10000);
    QVERIFY(ClickOnPage(map, QStringLiteral("#tvForgetPosition")));
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(map, QStringLiteral("!!document.getElementById('tvConfirm')")).toBool(), 10000);
    QVERIFY(RunScript(map, QStringLiteral("document.getElementById('tvConfirm').textContent"))
                .toString()
                .contains(QStringLiteral("removed from the photo file")));
    QCOMPARE(ScriptNumber(map, kMarkers), 2);

    // Cancel: nothing changes.
    QVERIFY(ClickOnPage(map, QStringLiteral("#tvForgetNo")));
    QTRY_VERIFY_WITH_TIMEOUT(!RunScript(map, QStringLiteral("!!document.getElementById('tvConfirm')")).toBool(), 10000);
    QCOMPARE(ScriptNumber(map, kMarkers), 2);
    QCOMPARE(ReadPendingView(map).counter, 0);

    // Confirmed with "Don't ask again": the position goes, and the choice is kept.
    QVERIFY(OpenPictureMenu(map, marker));
    QVERIFY(ClickOnPage(map, QStringLiteral("#tvForgetPosition")));
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(map, QStringLiteral("!!document.getElementById('tvDontAsk')")).toBool(), 10000);
    // Apart in time from the click before, so that the two don't make a double click.
    QTest::qWait(700);
    QVERIFY(ClickOnPage(map, QStringLiteral("#tvDontAsk")));
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(map, QStringLiteral("document.getElementById('tvDontAsk').checked")).toBool(),
                             10000);
    QVERIFY(ClickOnPage(map, QStringLiteral("#tvForgetYes")));
    QTRY_COMPARE_WITH_TIMEOUT(ScriptNumber(map, kMarkers), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map).counter, 1, 10000);
    QVERIFY(map->ReadPageEdits(true));
    QCOMPARE(AppSettings().ReadNumber(QStringLiteral("confirm_forget")), 0);

    // The next page forgets at once.
    QSignalSpy sent(map, &CTerravueHtmlWnd::querySent);
    map->ShowPictures(nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(ScriptNumber(map, kMarkers), 1, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!RunScript(map, QStringLiteral("tv.confirmForget")).toBool(), 10000);
    QVERIFY(OpenPictureMenu(map, marker));
    QVERIFY(ClickOnPage(map, QStringLiteral("#tvForgetPosition")));
    QTRY_COMPARE_WITH_TIMEOUT(ScriptNumber(map, kMarkers), 0, 10000);
    QVERIFY(!RunScript(map, QStringLiteral("!!document.getElementById('tvConfirm')")).toBool());
    program.ExitDiscarding();
  }

  void aMoveThatCanNeverBeWrittenIsKeptOnTheMapOnlyThroughRetryReopenAndRestart() {
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(StartOnThreePhotosQuietly(program));
    auto& [answerer, app, map, window] = program;
    // Nothing is waiting to be written before the drag.
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map).counter, 0, 10000);
    DragFirstMarker(map, 70, 50);
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map).counter, 1, 10000);
    QVERIFY(map->ReadPageEdits(true));
    PictureRecord moved;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      if (record.m_modified != 0) {
        moved = record;
      }
    }
    const QString movedPath = QString::fromStdString(moved.m_path);
    QVERIFY(!movedPath.isEmpty());
    const QByteArray original = FileHash(movedPath);
    QVERIFY(QFile::setPermissions(movedPath, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    // Tried again from the report, the photo fails again; then its position is kept on the map only.
    answerer.once = {QMessageBox::Retry, QMessageBox::Ignore};
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_COMPARE_WITH_TIMEOUT(WriteBackReports(answerer).size(), 2, 20000);
    for (const QString& report : WriteBackReports(answerer)) {
      QVERIFY2(report.contains(QStringLiteral("\"Keep the position on the map only\" leaves these files")),
               qPrintable(report));
      QVERIFY2(report.contains(QStringLiteral("Read-only files: allow writing")), qPrintable(report));
    }
    QCOMPARE(answerer.seen.size(), 2);
    const QString trip = WorkFolder() + QStringLiteral("/Trip");
    QTRY_VERIFY_WITH_TIMEOUT(MapHasCome(map, MapWait::PageShown), 30000);
    // Nothing is pending: no count, no marks, no list of moves, no question when closing.
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map), (PendingView{0, 0, 0, QString()}), 10000);
    QCOMPARE(map->PendingCount(), 0);
    QVERIFY(!map->IsModified());
    QVERIFY(!QFileInfo::exists(trip + QStringLiteral("/moves.txt")));
    QVERIFY(QFileInfo::exists(trip + QStringLiteral("/maponly.txt")));
    QCOMPARE(FileHash(movedPath), original);
    // The saved map holds the position the user gave.
    MapState saved = MapState::Listed("Trip", (trip + QStringLiteral("/data.tvd")).toStdString());
    QCOMPARE(saved.Read(), PictureResult::Success);
    const auto positionIn = [&](const MapState& state) {
      for (const PictureRecord& record : state.m_pictures.Records()) {
        if (record.m_path == moved.m_path) {
          return record.m_latitude + " " + record.m_longitude;
        }
      }
      return std::string();
    };
    const std::string placed = moved.m_latitude + " " + moved.m_longitude;
    QCOMPARE(positionIn(saved), placed);

    // Sending the map again (a refresh) and a restart with the saved map keep the marker where the user put it.
    window->OnCommand(MainMenu::kSendAgain);
    QTRY_VERIFY_WITH_TIMEOUT(MapHasCome(map, MapWait::Settled), 30000);
    QCOMPARE(positionIn(map->CurrentMap()), placed);
    answerer.seen.clear();
    app->ExitInstance();
    app.reset();
    QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.seen.join(QLatin1Char('\n'))));
    QVERIFY(program.Start(Options({trip + QStringLiteral("/data.tvd")}), MapWait::PageShown));
    QCOMPARE(positionIn(map->CurrentMap()), placed);
    QTRY_COMPARE_WITH_TIMEOUT(ReadPendingView(map), (PendingView{0, 0, 0, QString()}), 10000);
    QVERIFY(!map->IsModified());
    QCOMPARE(FileHash(movedPath), original);
    app->ExitInstance();
    QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.seen.join(QLatin1Char('\n'))));
    // Report after report, never two boxes at once.
    QCOMPARE(answerer.mostModalAtOnce, 1);
  }

  void cancellingTheSaveQuestionKeepsTheWindowAndTheMoves() {
    const QStringList photos = MakeThreePhotosQuietly();
    QCOMPARE(photos.size(), 3);
    ModalAnswerer answerer(QStringLiteral("Trip"));
    CTerravueApp app(Options(photos.mid(0, 2)));
    CTerravueHtmlWnd* map = StartApp(app, MapWait::PageShown);
    QVERIFY(map != nullptr);
    CTerravueBaseWnd* window = app.MainWindow();
    QTRY_COMPARE_WITH_TIMEOUT(ScriptNumber(map, kMarkers), 2, 30000);
    const QString fields = QStringLiteral(
        "document.getElementsByName('pic_latitude1')[0].value + "
        "document.getElementsByName('pic_latitude2')[0].value");
    const QString before = RunScript(map, fields).toString();
    DragFirstMarker(map, 70, 50);
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(map, fields).toString() != before, 10000);

    // Cancel: the window stays, with the move.
    answerer.replies = {QMessageBox::Cancel};
    QVERIFY(!window->close());
    QVERIFY(answerer.seen.contains(AppGlobals::Get().Message(117)));
    QVERIFY(window->isVisible());
    QVERIFY(map->IsModified());
    QVERIFY(map->CurrentMap().AnyModified());
    QCOMPARE(RunScript(map, fields).toString() != before, true);

    // Save, then Cancel in the name dialog: still open, nothing saved, still moved.
    answerer.seen.clear();
    answerer.replies = {QMessageBox::Save};
    answerer.cancelSave = true;
    QVERIFY(!window->close());
    QVERIFY(answerer.saveDialogNames.contains(QStringLiteral("New data")));
    QVERIFY(window->isVisible());
    QVERIFY(map->CurrentMap().AnyModified());
    QCOMPARE(window->Store()->Count(), std::size_t{0});

    // A drop onto the modified map, answered Cancel: the map stays as it was.
    const QString third = photos[2];
    answerer.seen.clear();
    answerer.replies = {QMessageBox::Cancel};
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(third)});
    const auto dropOnMap = [map, &data] {
      QDragEnterEvent enter(QPoint(30, 30), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(map, &enter);
      QDropEvent drop(QPointF(30, 30), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(map, &drop);
    };
    dropOnMap();
    QTRY_VERIFY_WITH_TIMEOUT(answerer.seen.contains(AppGlobals::Get().Message(117)), 10000);
    QTest::qWait(200);
    QVERIFY(!map->IsLoading());
    QVERIFY(!map->CurrentMap().m_pictures.ContainsPath(third.toStdString()));
    QVERIFY(map->CurrentMap().AnyModified());

    // Don't save on a drop: the dropped photo goes on the map, the move stays.
    answerer.seen.clear();
    answerer.replies = {QMessageBox::Discard};
    dropOnMap();
    QTRY_VERIFY_WITH_TIMEOUT(map->CurrentMap().m_pictures.ContainsPath(third.toStdString()) && !map->IsLoading(),
                             30000);
    QVERIFY(map->CurrentMap().AnyModified());

    // Don't save when closing: the window closes.
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    answerer.seen.clear();
    answerer.replies = {QMessageBox::Discard};
    QVERIFY(window->close());
    QVERIFY(answerer.seen.contains(AppGlobals::Get().Message(117)));
    app.ExitInstance();
  }
};

TV_QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
