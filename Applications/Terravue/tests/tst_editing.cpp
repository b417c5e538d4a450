// Editing in the map window with the embedded server and browser: undo and
// redo from the menu and the keyboard, across saves, and putting photos back
// as they were before they were written, with the photos on disk checked.
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <cmath>
#include <map>
#include <memory>
#include <optional>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/tests/AppTestSupport.h"
#include "Applications/Terravue/tests/TestPhotos.h"

namespace {

/// The position texts the photo at `path` holds, as the program reads them.
std::pair<std::string, std::string> PositionOnDisk(const QString& path) {
  PictureRecord record(path.toStdString(), "", "");
  if (record.ReadPositionAndTime() == PictureResult::NotJpegStill) {
    return {};
  }
  return {record.m_latitude, record.m_longitude};
}

/// The photo's position as exiftool reads it, in signed degrees; nothing without exiftool.
std::optional<std::pair<double, double>> ExiftoolPosition(const QString& path) {
  const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
  if (exiftool.isEmpty()) {
    return std::nullopt;
  }
  QProcess reader;
  reader.start(exiftool, {QStringLiteral("-n"), QStringLiteral("-s3"), QStringLiteral("-GPS:GPSLatitude"),
                          QStringLiteral("-GPS:GPSLatitudeRef"), QStringLiteral("-GPS:GPSLongitude"),
                          QStringLiteral("-GPS:GPSLongitudeRef"), path});
  if (!reader.waitForFinished(30000)) {
    return std::pair{NAN, NAN};
  }
  const QStringList lines = QString::fromUtf8(reader.readAllStandardOutput()).split(QLatin1Char('\n'));
  if (lines.size() < 4) {
    return std::pair{NAN, NAN};
  }
  return std::pair{lines[0].toDouble() * (lines[1] == QLatin1String("S") ? -1 : 1),
                   lines[2].toDouble() * (lines[3] == QLatin1String("W") ? -1 : 1)};
}

/// What xmllint's XPath `expression` gives for the file at `path`; empty when xmllint is missing
/// or the file is not well-formed XML.
QString XPathOf(const QString& path, const QString& expression) {
  QProcess xmllint;
  xmllint.start(QStringLiteral("xmllint"), {QStringLiteral("--xpath"), expression, path});
  if (!xmllint.waitForFinished(30000) || xmllint.exitCode() != 0) {
    return {};
  }
  return QString::fromUtf8(xmllint.readAllStandardOutput()).trimmed();
}

/// The names in a folder, hidden ones included.
QStringList EntriesOf(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

}  // namespace

class EditingTest : public AppTestCase {
  Q_OBJECT

 private:
  /// Starts `program` on the photos of Tokyo and Osaka and waits for both markers.
  bool StartOnTwoPhotos(TestProgram& program) {
    const QStringList photos = MakeTokyoAndOsaka(PhotoFolder());
    if (photos.size() != 2) {
      qWarning("the two photos could not be made");
      return false;
    }
    return program.StartShowing(Options(photos), 2);
  }

  /// The position texts of picture `index` (1-based) as the page's fields hold them.
  static std::pair<std::string, std::string> PagePosition(CTerravueHtmlWnd* map, int index) {
    const QVariantList answer =
        RunScript(map, QStringLiteral("[document.getElementsByName('pic_latitude%1')[0].value,"
                                      " document.getElementsByName('pic_longitude%1')[0].value]")
                           .arg(index))
            .toList();
    if (answer.size() != 2) {
      return {};
    }
    return {answer[0].toString().toStdString(), answer[1].toString().toStdString()};
  }

  /// The number of pictures the page marks as not yet written.
  static int PendingMarks(CTerravueHtmlWnd* map) {
    return RunScript(map, QStringLiteral("document.querySelectorAll('a.tvPending').length")).toInt();
  }

  /// Compares the photo on disk with `wanted`, through the program's reader and exiftool.
  static void VerifyOnDisk(const QString& path, const std::pair<std::string, std::string>& wanted) {
    // The file holds rationals: its text may differ from the one written in the last digit.
    const std::pair<std::string, std::string> read = PositionOnDisk(path);
    const bool same = std::abs(DegreesOf(read.first) - DegreesOf(wanted.first)) < 1e-6 &&
                      std::abs(DegreesOf(read.second) - DegreesOf(wanted.second)) < 1e-6;
    QVERIFY2(same, qPrintable(QStringLiteral("%1 has %2 %3, not %4 %5")
                                  .arg(path, QString::fromStdString(read.first), QString::fromStdString(read.second),
                                       QString::fromStdString(wanted.first), QString::fromStdString(wanted.second))));
    if (const auto exif = ExiftoolPosition(path)) {
      QVERIFY2(std::abs(exif->first - DegreesOf(wanted.first)) < 1e-6, wanted.first.c_str());
      QVERIFY2(std::abs(exif->second - DegreesOf(wanted.second)) < 1e-6, wanted.second.c_str());
    }
  }

  /// Takes the undo or redo command `id` from the menu; picture `index` then shows `wanted`, marked
  /// as not yet written.
  static void StepTo(CTerravueBaseWnd* window, CTerravueHtmlWnd* map, int id, int index,
                     const std::pair<std::string, std::string>& wanted) {
    Trigger(window, id);
    QCOMPARE(PagePosition(map, index), wanted);
    QCOMPARE(PendingMarks(map), 1);
  }

  /// Saves over the open map from the menu and waits for the page; the photo at `path` then holds `wanted`.
  static void SaveOverAndVerify(CTerravueBaseWnd* window, CTerravueHtmlWnd* map, const QString& path,
                                const std::pair<std::string, std::string>& wanted) {
    Trigger(window, MainMenu::kSaveOver);
    QVERIFY(PageBack(map));
    VerifyOnDisk(path, wanted);
  }

 private slots:
  void init() {
    AppTestCase::init();
    TV_SKIP_WITHOUT_PAGE_FILES();
  }

  void theMenuOffersUndoAndRedoWithTheirShortcuts() {
    AppSettings().WriteNumber(QStringLiteral("howto_nopicture"), 0);
    CTerravueApp app(Options({}));
    QVERIFY(app.InitInstance());
    CTerravueBaseWnd* window = app.MainWindow();
    QAction* undo = MenuItem(window, MainMenu::kUndo);
    QAction* redo = MenuItem(window, MainMenu::kRedo);
    QVERIFY(undo != nullptr && redo != nullptr);
    QCOMPARE(undo->text(), QStringLiteral("Undo (&Z)"));
    QCOMPARE(redo->text(), QStringLiteral("Redo (&R)"));
    QCOMPARE(undo->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
    QCOMPARE(redo->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
    // The window holds them too, so the keys work while the menu is closed.
    QVERIFY(window->actions().contains(undo));
    QVERIFY(window->actions().contains(redo));
    // On the start page there is nothing to undo: the command does nothing.
    QTRY_VERIFY_WITH_TIMEOUT(!window->HtmlWnd()->IsSending(), 20000);
    QCOMPARE(window->HtmlWnd()->UndoOnPage(false), 0);
    app.ExitInstance();
  }

  void undoAndRedoSurviveSavingAndEachSaveWritesThePositionShown() {
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(StartOnTwoPhotos(program));
    auto& [answerer, app, map, window] = program;
    std::vector<std::pair<std::string, std::string>> loaded;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      loaded.emplace_back(record.m_latitude, record.m_longitude);
    }
    QCOMPARE(loaded.size(), std::size_t{2});

    // A drag moves one photo.
    DragFirstMarker(map, 70, 50);
    QTRY_VERIFY_WITH_TIMEOUT(PagePosition(map, 1) != loaded[0] || PagePosition(map, 2) != loaded[1], 10000);
    const int moved = PagePosition(map, 1) != loaded[0] ? 1 : 2;
    const int other = 3 - moved;
    const QString movedPath = QString::fromStdString(map->CurrentMap().m_pictures.At(moved - 1).m_path);
    const QString otherPath = QString::fromStdString(map->CurrentMap().m_pictures.At(other - 1).m_path);
    const std::pair<std::string, std::string> original = loaded[static_cast<std::size_t>(moved - 1)];
    const std::pair<std::string, std::string> dragged = PagePosition(map, moved);
    QVERIFY(dragged.first != original.first);

    // Saved as a new state, which is sent again: the file holds the dragged position.
    QSignalSpy sent(map, &CTerravueHtmlWnd::querySent);
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kMarkers).toInt(), 2, 30000);
    QCOMPARE(window->windowTitle(), QStringLiteral("Trip"));
    VerifyOnDisk(movedPath, dragged);
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);
    QVERIFY(!map->CurrentMap().AnyModified());

    // Undo from the menu on the page shown anew: the position the photo was
    // loaded with, marked as not yet written, and the map counts as changed.
    StepTo(window, map, MainMenu::kUndo, moved, original);
    // The file is untouched until the save.
    VerifyOnDisk(movedPath, dragged);

    // The next save writes it back; the other photo keeps its position.
    SaveOverAndVerify(window, map, movedPath, original);
    VerifyOnDisk(otherPath, loaded[static_cast<std::size_t>(other - 1)]);
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);
    QVERIFY(!map->CurrentMap().AnyModified());

    // Redo after that save: the dragged position comes back as a change, and is written.
    StepTo(window, map, MainMenu::kRedo, moved, dragged);
    SaveOverAndVerify(window, map, movedPath, dragged);
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);

    // Nothing more to redo; an undo and a redo with nothing changed between
    // them leave the page where it was, and nothing to write.
    QCOMPARE(map->UndoOnPage(true), 0);
    QCOMPARE(map->UndoOnPage(false), 1);
    QCOMPARE(map->UndoOnPage(true), 1);
    QCOMPARE(PagePosition(map, moved), dragged);
    QCOMPARE(PendingMarks(map), 0);
    QVERIFY(!map->ReadPageEdits(true));
    app->ExitInstance();
  }

  void ctrlZOnTheMapUndoesOneGestureOnly() {
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(StartOnTwoPhotos(program));
    auto& [answerer, app, map, window] = program;
    const std::pair<std::string, std::string> loaded = PagePosition(map, 1);
    const QString firstPath = QString::fromStdString(map->CurrentMap().m_pictures.At(0).m_path);

    // Two gestures on the first photo, through the page's own steps.
    QCOMPARE(RunScript(map, QStringLiteral("(function () {"
                                           "  var p = tv.pictures[0];"
                                           "  tvApplyPositions([{ picture: p, lat: p.lat + 0.25, lng: p.lng }]);"
                                           "  tvApplyPositions([{ picture: p, lat: p.lat + 0.25, lng: p.lng }]);"
                                           "  return tv.undoSteps.length;"
                                           "})()"))
                 .toInt(),
             2);
    const std::pair<std::string, std::string> twice = PagePosition(map, 1);
    QVERIFY(twice != loaded);

    // Ctrl+Z on the map, as the user types it, takes back one gesture: the
    // page and the window's shortcut do not both act on the same key.
    map->setFocus();
    QWidget* target = map->focusProxy();
    QVERIFY(target != nullptr);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(PagePosition(map, 1) != twice, 10000);
    QTest::qWait(300);
    const std::pair<std::string, std::string> once = PagePosition(map, 1);
    QVERIFY(once != loaded);
    QCOMPARE(RunScript(map, QStringLiteral("tv.undoSteps.length")).toInt(), 1);
    QCOMPARE(RunScript(map, QStringLiteral("tv.redoSteps.length")).toInt(), 1);

    // Ctrl+Shift+Z redoes it.
    QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE_WITH_TIMEOUT(PagePosition(map, 1), twice, 10000);
    QTest::qWait(300);
    QCOMPARE(RunScript(map, QStringLiteral("tv.undoSteps.length")).toInt(), 2);

    // Closing without saving leaves the photo as it was.
    program.ExitDiscarding();
    QCOMPARE(PositionOnDisk(firstPath), loaded);
  }

  void ctrlZUndoesTheLastGestureAfterTheMapIsSentAgainOrReopened() {
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(StartOnTwoPhotos(program));
    auto& [answerer, app, map, window] = program;
    const std::pair<std::string, std::string> first = PagePosition(map, 1);
    const std::pair<std::string, std::string> second = PagePosition(map, 2);

    DragFirstMarker(map, 70, 50);
    QTRY_VERIFY_WITH_TIMEOUT(PagePosition(map, 1) != first || PagePosition(map, 2) != second, 10000);
    const int moved = PagePosition(map, 1) != first ? 1 : 2;
    const std::pair<std::string, std::string> original = moved == 1 ? first : second;
    const std::pair<std::string, std::string> dragged = PagePosition(map, moved);
    const QString movedPath = QString::fromStdString(map->CurrentMap().m_pictures.At(moved - 1).m_path);

    // The map is sent again (as after a change of settings): the drag is still shown, and
    // Ctrl+Z on the new page takes it back.
    QSignalSpy sent(map, &CTerravueHtmlWnd::querySent);
    window->OnCommand(MainMenu::kSendAgain);
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kMarkers).toInt(), 2, 30000);
    QCOMPARE(PagePosition(map, moved), dragged);
    map->setFocus();
    QWidget* target = map->focusProxy();
    QVERIFY(target != nullptr);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(PagePosition(map, moved), original, 10000);
    // The page shown anew no longer knows what the file holds: the photo counts as changed
    // until the next save, which writes the position shown.
    QCOMPARE(PendingMarks(map), 1);
    QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE_WITH_TIMEOUT(PagePosition(map, moved), dragged, 10000);
    QCOMPARE(PendingMarks(map), 1);

    // Saved, then the saved map opened again from its file: the undo still reaches the drag,
    // and the next save writes the photo back where it was.
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 2, 30000);
    QVERIFY(PageBack(map));
    VerifyOnDisk(movedPath, dragged);
    const QString stateFile = QString::fromStdString(map->CurrentMap().m_stateFilePath);
    QVERIFY(!stateFile.isEmpty());
    QVERIFY(window->OpenChosenStateFile(stateFile));
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 3, 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kMarkers).toInt(), 2, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);
    StepTo(window, map, MainMenu::kUndo, moved, original);
    SaveOverAndVerify(window, map, movedPath, original);
    app->ExitInstance();
  }

  void restoringPutsBackOnlyThePhotosStillAsTerravueWroteThem() {
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(StartOnTwoPhotos(program));
    auto& [answerer, app, map, window] = program;
    const QString kept = QString::fromStdString(map->CurrentMap().m_pictures.At(0).m_path);
    const QString changed = QString::fromStdString(map->CurrentMap().m_pictures.At(1).m_path);
    const QByteArray keptBefore = FileBytes(kept);
    const std::pair<std::string, std::string> keptLoaded = PagePosition(map, 1);

    // Before anything was written there is nothing to put back.
    Trigger(window, MainMenu::kRestoreOriginals);
    QTRY_VERIFY_WITH_TIMEOUT(!answerer.seen.isEmpty(), 10000);
    QCOMPARE(answerer.seen.constLast(),
             QStringLiteral("Terravue has not written any photo of this map, so there is nothing to put back."));

    // Both photos are moved in one step and saved.
    QCOMPARE(RunScript(map, QStringLiteral("(function () {"
                                           "  tvApplyPositions(tv.pictures.map(function (p) {"
                                           "    return { picture: p, lat: p.lat + 0.5, lng: p.lng - 0.5 }; }));"
                                           "  return tv.undoSteps.length;"
                                           "})()"))
                 .toInt(),
             1);
    const std::pair<std::string, std::string> keptMoved = PagePosition(map, 1);
    QSignalSpy sent(map, &CTerravueHtmlWnd::querySent);
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, 30000);
    QVERIFY(PageBack(map));
    VerifyOnDisk(kept, keptMoved);
    QVERIFY(FileBytes(kept) != keptBefore);
    // Another program changes the second photo afterwards.
    {
      QFile file(changed);
      QVERIFY(file.open(QIODevice::Append));
      file.write("\0", 1);
    }
    const QByteArray changedBytes = FileBytes(changed);

    // The question names what goes back, where to, and what stays, and why.
    answerer.seen.clear();
    answerer.replies = {QMessageBox::Yes};
    Trigger(window, MainMenu::kRestoreOriginals);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), 2, 10000);
    const QString question = answerer.seen.at(0);
    QVERIFY2(question.startsWith(QStringLiteral("Photos to put back exactly as they were before Terravue wrote "
                                                "them: 1\n\n")),
             qPrintable(question));
    QVERIFY2(question.contains(QFileInfo(kept).fileName() + QStringLiteral(": ") +
                               QString::fromStdString(keptLoaded.first + " " + keptLoaded.second)),
             qPrintable(question));
    const QString changedLine =
        QFileInfo(changed).fileName() + QStringLiteral(
                                            ": the file was changed by another program since Terravue "
                                            "wrote it");
    QVERIFY2(question.contains(QStringLiteral("These photos stay as they are:\n\n") + changedLine),
             qPrintable(question));
    const QString report = answerer.seen.at(1);
    QVERIFY2(report.startsWith(QStringLiteral("Photos put back as they were before Terravue wrote them: 1")),
             qPrintable(report));
    QVERIFY(report.contains(changedLine));

    // On disk: the first photo is byte for byte what it was, the second untouched.
    QCOMPARE(FileBytes(kept), keptBefore);
    QCOMPARE(FileBytes(changed), changedBytes);

    // The map shows the position from the file, with nothing left to write,
    // and the saved map lists it.
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 2, 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(PagePosition(map, 1), keptLoaded, 10000);
    QCOMPARE(map->CurrentMap().m_pictures.At(0).m_latitude, keptLoaded.first);
    QCOMPARE(int(map->CurrentMap().m_pictures.At(0).m_modified), 0);
    QCOMPARE(PendingMarks(map), 0);
    QVERIFY(FileBytes(WorkFolder() + QStringLiteral("/Trip/data.tvd"))
                .contains(QByteArray::fromStdString(keptLoaded.first)));

    // Asked again: nothing can go back, and the reason is told.
    answerer.seen.clear();
    Trigger(window, MainMenu::kRestoreOriginals);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), 1, 10000);
    QCOMPARE(answerer.seen.constFirst(), QStringLiteral("No photo of this map can be put back:\n\n") + changedLine);
    QCOMPARE(FileBytes(kept), keptBefore);
    QCOMPARE(FileBytes(changed), changedBytes);

    // Answering No changes nothing: a photo written again is left as written.
    RunScript(map, QStringLiteral("tvApplyPositions([{ picture: tv.pictures[0], lat: 10, lng: 20 }])"));
    Trigger(window, MainMenu::kSaveOver);
    QVERIFY(PageBack(map));
    const QByteArray written = FileBytes(kept);
    QVERIFY(written != keptBefore);
    answerer.seen.clear();
    answerer.replies = {QMessageBox::No};
    Trigger(window, MainMenu::kRestoreOriginals);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), 1, 10000);
    QTest::qWait(300);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(FileBytes(kept), written);
    app->ExitInstance();
  }

  void exportWritesTheSelectedOrAllPhotosAsShownAndAFailedWriteLeavesNoFile() {
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(StartOnTwoPhotos(program));
    auto& [answerer, app, map, window] = program;
    QAction* item = MenuItem(window, MainMenu::kExport);
    QVERIFY(item != nullptr);
    QCOMPARE(item->text(), QStringLiteral("Export... (&E)"));
    QVERIFY(item->isEnabled());
    const QString folder = m_home->Path("exports");
    QVERIFY(QDir().mkpath(folder));

    // The second photo, moved on the page and not saved, is the only one selected: the GPX file
    // holds it alone, where the map shows it, with a link from the export's folder.
    QCOMPARE(RunScript(map, QStringLiteral("(function () {"
                                           "  var p = tv.pictures[1];"
                                           "  tvApplyPositions([{ picture: p, lat: 35.25, lng: 136.5 }]);"
                                           "  tvSetSelection([p]);"
                                           "  return tv.selection.length;"
                                           "})()"))
                 .toInt(),
             1);
    QString problem;
    const QString gpx = folder + QStringLiteral("/selected.gpx");
    QVERIFY2(map->ExportPhotos(gpx, CTerravueHtmlWnd::ExportFormat::GpxTrack, &problem), qPrintable(problem));
    const QString wpt = QStringLiteral("//*[local-name()='wpt']");
    QCOMPARE(XPathOf(gpx, QStringLiteral("count(%1)").arg(wpt)), QStringLiteral("1"));
    QVERIFY(std::abs(XPathOf(gpx, QStringLiteral("string(%1/@lat)").arg(wpt)).toDouble() - 35.25) < 1e-6);
    QVERIFY(std::abs(XPathOf(gpx, QStringLiteral("string(%1/@lon)").arg(wpt)).toDouble() - 136.5) < 1e-6);
    QCOMPARE(XPathOf(gpx, QStringLiteral("string(%1/*[local-name()='name'])").arg(wpt)), QStringLiteral("osaka.jpg"));
    QCOMPARE(XPathOf(gpx, QStringLiteral("string(%1/*[local-name()='link']/@href)").arg(wpt)),
             QStringLiteral("../photos/osaka.jpg"));
    QCOMPARE(XPathOf(gpx, QStringLiteral("count(//*[local-name()='trkpt'])")), QStringLiteral("1"));

    // With nothing selected every photo goes out; the GeoJSON file parses, [lng, lat] per point.
    QCOMPARE(RunScript(map, QStringLiteral("tvSetSelection([]); tv.selection.length")).toInt(), 0);
    const QString geojson = folder + QStringLiteral("/all.geojson");
    QVERIFY2(map->ExportPhotos(geojson, CTerravueHtmlWnd::ExportFormat::GeoJson, &problem), qPrintable(problem));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(FileBytes(geojson), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document.object().value(QStringLiteral("type")).toString(), QStringLiteral("FeatureCollection"));
    const QJsonArray features = document.object().value(QStringLiteral("features")).toArray();
    QCOMPARE(features.size(), 2);
    std::map<QString, std::pair<double, double>> points;
    for (const QJsonValue& feature : features) {
      const QJsonObject object = feature.toObject();
      const QJsonArray at =
          object.value(QStringLiteral("geometry")).toObject().value(QStringLiteral("coordinates")).toArray();
      QVERIFY(at.size() >= 2);
      points[object.value(QStringLiteral("properties")).toObject().value(QStringLiteral("name")).toString()] = {
          at[1].toDouble(), at[0].toDouble()};
    }
    QVERIFY(std::abs(points[QStringLiteral("osaka.jpg")].first - 35.25) < 1e-6);
    QVERIFY(std::abs(points[QStringLiteral("osaka.jpg")].second - 136.5) < 1e-6);
    QVERIFY(std::abs(points[QStringLiteral("tokyo.jpg")].first - (35 + 39.5 / 60)) < 1e-6);
    QVERIFY(std::abs(points[QStringLiteral("tokyo.jpg")].second - (139 + 42.0 / 60)) < 1e-6);

    // KMZ: the archive carries the document and the map's thumbnail of each photo.
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsLoading(), 30000);
    const QString kmz = folder + QStringLiteral("/all.kmz");
    QVERIFY2(map->ExportPhotos(kmz, CTerravueHtmlWnd::ExportFormat::Kmz, &problem), qPrintable(problem));
    const QByteArray archive = FileBytes(kmz);
    QVERIFY(archive.startsWith("PK\x03\x04"));
    QVERIFY(archive.contains("doc.kml"));
    QVERIFY(archive.contains("files/1.jpg"));
    QVERIFY(archive.contains("files/2.jpg"));

    // A write that fails (a folder stands where the file would go) says so and leaves nothing.
    const QString taken = folder + QStringLiteral("/taken.gpx");
    QVERIFY(QDir().mkpath(taken));
    const QStringList before = EntriesOf(folder);
    problem.clear();
    QVERIFY(!map->ExportPhotos(taken, CTerravueHtmlWnd::ExportFormat::Gpx, &problem));
    QVERIFY2(problem.startsWith(QStringLiteral("\"%1\" could not be written: ").arg(taken)), qPrintable(problem));
    QVERIFY2(problem.endsWith(QStringLiteral("No file was left there.")), qPrintable(problem));
    QCOMPARE(EntriesOf(folder), before);
    QVERIFY(QFileInfo(taken).isDir());

    // A read-only folder: the user reads why, and the folder stays empty. (The superuser may write
    // anywhere, so only an ordinary user sees this refusal.)
    if (::geteuid() != 0) {
      const QString locked = m_home->Path("locked");
      QVERIFY(QDir().mkpath(locked));
      QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
      problem.clear();
      QVERIFY(!map->ExportPhotos(locked + QStringLiteral("/x.gpx"), CTerravueHtmlWnd::ExportFormat::Gpx, &problem));
      QVERIFY2(problem.contains(QStringLiteral("read-only")), qPrintable(problem));
      QVERIFY(EntriesOf(locked).isEmpty());
      QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    program.ExitDiscarding();
  }
};

TV_QTEST_MAIN(EditingTest)
#include "tst_editing.moc"
