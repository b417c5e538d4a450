// Editing in the map window with the embedded server and browser: undo and
// redo from the menu and the keyboard, across saves, and putting photos back
// as they were before they were written, with the photos on disk checked.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/mapdata/CoordinateText.h"
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

/// Each photo's position as exiftool reads it, in signed degrees, by path; empty without exiftool.
std::map<QString, std::pair<double, double>> ExiftoolPositions(const QStringList& paths) {
  std::map<QString, std::pair<double, double>> positions;
  const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
  if (exiftool.isEmpty()) {
    return positions;
  }
  QProcess reader;
  reader.start(exiftool, QStringList{QStringLiteral("-n"), QStringLiteral("-json"), QStringLiteral("-GPSLatitude"),
                                     QStringLiteral("-GPSLongitude")} +
                             paths);
  if (!reader.waitForFinished(60000)) {
    return positions;
  }
  for (const QJsonValue& entry : QJsonDocument::fromJson(reader.readAllStandardOutput()).array()) {
    const QJsonObject photo = entry.toObject();
    positions[photo.value(QStringLiteral("SourceFile")).toString()] = {
        photo.value(QStringLiteral("GPSLatitude")).toDouble(NAN),
        photo.value(QStringLiteral("GPSLongitude")).toDouble(NAN)};
  }
  return positions;
}

}  // namespace

// Stands in for a tile server: notes the path of every request and answers 404, so that the page
// shows its plain tile; what counts is which layer the page asks.
class TileRequests : public QObject {
 public:
  TileRequests() {
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          m_pending[socket] += socket->readAll();
          const QByteArray& request = m_pending[socket];
          if (!request.contains("\r\n\r\n")) {
            return;
          }
          m_paths.append(QString::fromLatin1(request.split(' ').value(1)));
          m_pending.remove(socket);
          socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
          socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
    static_cast<void>(m_server.listen(QHostAddress::LocalHost));
  }
  [[nodiscard]] quint16 Port() const { return m_server.serverPort(); }
  [[nodiscard]] int Asked(const QString& part) const {
    return static_cast<int>(
        std::count_if(m_paths.cbegin(), m_paths.cend(), [&](const QString& path) { return path.contains(part); }));
  }

 private:
  QTcpServer m_server;
  QHash<QTcpSocket*, QByteArray> m_pending;
  QStringList m_paths;
};

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

  /// The page's number of the picture at `path` (1-based), 0 when the page does not show it.
  static int PageIndexOf(CTerravueHtmlWnd* map, const QString& path) {
    return RunScript(map, QStringLiteral("(function () { var p = tv.pictures.filter(function (q) {"
                                         "  return q.path === %1[0] && !q.removed; })[0];"
                                         "  return p ? p.index : 0; })()")
                              .arg(QString::fromUtf8(QJsonDocument(QJsonArray{path}).toJson(QJsonDocument::Compact))))
        .toInt();
  }

  /// Takes the photo at `path` off the map through its own menu on the page, as the user does.
  static bool RemoveThroughItsMenu(CTerravueHtmlWnd* map, const QString& path) {
    const int index = PageIndexOf(map, path);
    return index > 0 && RunScript(map, QStringLiteral("(function () {"
                                                      "  tvOpenPictureMenu(tv.pictures[%1 - 1], 20, 20);"
                                                      "  var entry = document.getElementById('tvRemoveFromMap');"
                                                      "  if (!entry) { return false; }"
                                                      "  entry.click();"
                                                      "  return tv.pictures[%1 - 1].removed === true;"
                                                      "})()")
                                           .arg(index))
                            .toBool();
  }

 private slots:
  void init() {
    AppTestCase::init();
    TV_SKIP_WITHOUT_PAGE_FILES();
  }

  void theLayerControlSwitchesTheMapsTilesWithTheMouseAndTheChoiceIsKeptForTheNextStart() {
    // Two layers of the user's file, served by a stand-in that has no tiles: the page shows its
    // plain tile, but which layer it asks is what counts.
    QVERIFY(QDir().mkpath(m_home->Path("config") + QStringLiteral("/terravue")));
    QFile layers(m_home->Path("config") + QStringLiteral("/terravue/tile-layers.conf"));
    QVERIFY(layers.open(QIODevice::WriteOnly));
    TileRequests tiles;
    const QByteArray host = "http://127.0.0.1:" + QByteArray::number(tiles.Port());
    layers.write("[Streets]\nurl = " + host + "/streets/{z}/{x}/{y}.png\nattribution = Streets\n\n[Terrain]\nurl = " +
                 host + "/terrain/{z}/{x}/{y}.png\nattribution = Terrain\n");
    layers.close();
    const QString photo = m_home->Path("photos") + QStringLiteral("/tokyo.jpg");
    QVERIFY(MakeTestPhoto(photo, 320, 240, 1, XpDateTime(2024, 5, 1, 10, 0, 0), "N:35:39:30.000", "E:139:42:00.000"));
    const QString layerNow = QStringLiteral("tv.tileLayer ? tv.tileLayer._url : ''");
    {
      TestProgram program(QStringLiteral("Trip"));
      QVERIFY(program.StartShowing(Options({photo}), 1, 60000));
      auto& [answerer, app, map, window] = program;
      QVERIFY(RunScript(map, layerNow).toString().contains(QStringLiteral("/streets/")));
      QTRY_VERIFY_WITH_TIMEOUT(tiles.Asked(QStringLiteral("/streets/")) > 0, 20000);
      QCOMPARE(tiles.Asked(QStringLiteral("/terrain/")), 0);
      // The pointer over the control opens it; a click on the second layer's name chooses it.
      const auto centreOf = [map](const QString& selector) {
        const QVariantList r =
            RunScript(map, QStringLiteral("(function () { var e = document.querySelector(\"%1\");"
                                          "  if (!e) { return []; }"
                                          "  var r = e.getBoundingClientRect();"
                                          "  return [r.left + r.width / 2, r.top + r.height / 2]; })()")
                               .arg(selector))
                .toList();
        return r.size() == 2 ? QPoint(qRound(r[0].toDouble()), qRound(r[1].toDouble())) : QPoint(-1, -1);
      };
      QWidget* target = map->focusProxy();
      QVERIFY(target != nullptr);
      const QPoint toggle = centreOf(QStringLiteral(".leaflet-control-layers"));
      QVERIFY(toggle.x() >= 0);
      QMouseEvent over(QEvent::MouseMove, toggle, target->mapToGlobal(toggle), Qt::NoButton, Qt::NoButton,
                       Qt::NoModifier);
      QApplication::sendEvent(target, &over);
      QTRY_VERIFY_WITH_TIMEOUT(
          RunScript(map, QStringLiteral("!!document.querySelector('.leaflet-control-layers-expanded')")).toBool(),
          10000);
      const QPoint terrain = centreOf(QStringLiteral(".leaflet-control-layers-base label:nth-of-type(2)"));
      QVERIFY(terrain.x() >= 0);
      QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, terrain);
      QTRY_VERIFY_WITH_TIMEOUT(RunScript(map, layerNow).toString().contains(QStringLiteral("/terrain/")), 10000);
      QTRY_VERIFY_WITH_TIMEOUT(tiles.Asked(QStringLiteral("/terrain/")) > 0, 20000);
      app->ExitInstance();
    }
    // Started again, the map opens on the layer chosen.
    TestProgram again(QStringLiteral("Trip"));
    QVERIFY(again.StartShowing(Options({photo}), 1, 60000));
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(again.map, layerNow).toString().contains(QStringLiteral("/terrain/")), 10000);
    QVERIFY(RunScript(again.map, QStringLiteral("document.querySelectorAll('.leaflet-control-layers-base input')[1]"
                                                ".checked"))
                .toBool());
    again.app->ExitInstance();
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

  void aRemovalFromTheMapIsOneStepThatSavingKeepsAndTheOtherStepsOutlastIt() {
    const QStringList photos = MakeTokyoAndOsaka(PhotoFolder());
    QCOMPARE(photos.size(), 2);
    ModalAnswerer answerer(QStringLiteral("Trip"));
    auto app = std::make_unique<CTerravueApp>(Options(photos));
    CTerravueHtmlWnd* map = StartWithMarkers(*app, 2);
    QVERIFY(map != nullptr);
    CTerravueBaseWnd* window = app->MainWindow();
    const std::pair<std::string, std::string> first = PagePosition(map, 1);
    const std::pair<std::string, std::string> second = PagePosition(map, 2);

    // A drag of one photo, then the other one taken off the map.
    DragFirstMarker(map, 70, 50);
    QTRY_VERIFY_WITH_TIMEOUT(PagePosition(map, 1) != first || PagePosition(map, 2) != second, 10000);
    const int moved = PagePosition(map, 1) != first ? 1 : 2;
    const QString movedPath = QString::fromStdString(map->CurrentMap().m_pictures.At(moved - 1).m_path);
    const QString otherPath = QString::fromStdString(map->CurrentMap().m_pictures.At(2 - moved).m_path);
    const std::pair<std::string, std::string> original = moved == 1 ? first : second;
    const std::pair<std::string, std::string> dragged = PagePosition(map, moved);
    const QByteArray otherBytes = FileBytes(otherPath);
    QVERIFY(RemoveThroughItsMenu(map, otherPath));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kMarkers).toInt(), 1, 10000);

    // Saved as a new map, which takes the photo off and is sent again (once for the removal
    // while the name is asked, once saved).
    QSignalSpy sent(map, &CTerravueHtmlWnd::querySent);
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_VERIFY_WITH_TIMEOUT(sent.count() >= 1, 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), QStringLiteral("Trip"), 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kMarkers).toInt(), 1, 30000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{1});
    QVERIFY(!FileBytes(WorkFolder() + QStringLiteral("/Trip/data.tvd")).contains(otherPath.toUtf8()));
    VerifyOnDisk(movedPath, dragged);
    QTest::qWait(1000);
    QVERIFY(PageBack(map));
    const int sentBefore = static_cast<int>(sent.count());

    // Undo puts the photo back on the map, where it was and untouched; the page is shown anew.
    Trigger(window, MainMenu::kUndo);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(sent.count()), sentBefore + 1, 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kMarkers).toInt(), 2, 30000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{2});
    QVERIFY(PageIndexOf(map, otherPath) > 0);
    QCOMPARE(PagePosition(map, PageIndexOf(map, otherPath)), moved == 1 ? second : first);
    QCOMPARE(FileBytes(otherPath), otherBytes);

    // The next undo still reaches the drag made before the removal and the save.
    Trigger(window, MainMenu::kUndo);
    QTRY_COMPARE_WITH_TIMEOUT(PagePosition(map, PageIndexOf(map, movedPath)), original, 10000);
    QCOMPARE(PendingMarks(map), 1);

    // Redo moves it again, and the next redo takes the other photo off again.
    Trigger(window, MainMenu::kRedo);
    QCOMPARE(PagePosition(map, PageIndexOf(map, movedPath)), dragged);
    Trigger(window, MainMenu::kRedo);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kMarkers).toInt(), 1, 10000);
    QCOMPARE(PageIndexOf(map, otherPath), 0);

    // Saved over without it, then put back once more and saved with it: the saved map lists it
    // again, and neither save touched it.
    const int beforeSave = static_cast<int>(sent.count());
    Trigger(window, MainMenu::kSaveOver);
    // The map without the photo is sent again.
    QTRY_VERIFY_WITH_TIMEOUT(static_cast<int>(sent.count()) > beforeSave, 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(map->CurrentMap().m_pictures.Count(), std::size_t{1}, 30000);
    QVERIFY(!FileBytes(WorkFolder() + QStringLiteral("/Trip/data.tvd")).contains(otherPath.toUtf8()));
    const int before = static_cast<int>(sent.count());
    Trigger(window, MainMenu::kUndo);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(sent.count()), before + 1, 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kMarkers).toInt(), 2, 30000);
    QVERIFY(map->IsModified());
    Trigger(window, MainMenu::kSaveOver);
    QVERIFY(PageBack(map));
    QVERIFY(FileBytes(WorkFolder() + QStringLiteral("/Trip/data.tvd")).contains(otherPath.toUtf8()));
    QCOMPARE(FileBytes(otherPath), otherBytes);
    VerifyOnDisk(movedPath, dragged);
    app->ExitInstance();
  }

  void twentyPhotosPutAtATownFoundByNameAreUndoneRedoneSavedUndoneAndSavedAgain() {
    // The files are checked by an independent reader.
    if (QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty()) {
      QSKIP("exiftool is not installed");
    }
    // Twenty photos spread over eastern Japan.
    const QString folder = PhotoFolder();
    QStringList photos;
    std::vector<std::pair<double, double>> loaded;
    for (int i = 0; i < 20; ++i) {
      const QString path = folder + QStringLiteral("/trip%1.jpg").arg(i + 1, 2, 10, QLatin1Char('0'));
      const double lat = 36.0 + 0.1 * i;
      const double lng = 139.0 + 0.05 * i;
      const std::string latText = "N:" + DegreesToText(lat, /*latitude=*/true);
      const std::string lngText = "E:" + DegreesToText(lng, /*latitude=*/false);
      QVERIFY(MakeTestPhoto(path, 160, 120, i, XpDateTime(2024, 5, 1, 9, i, 0), latText, lngText));
      photos.append(path);
      loaded.emplace_back(DegreesOf(latText), DegreesOf(lngText));
    }
    const auto checkFiles = [&photos](const std::function<std::pair<double, double>(int)>& wanted) {
      const auto read = ExiftoolPositions(photos);
      QVERIFY2(!read.empty(), "exiftool read nothing");
      for (int i = 0; i < photos.size(); ++i) {
        const auto found = read.find(photos[i]);
        QVERIFY2(found != read.end(), qPrintable(photos[i]));
        const std::pair<double, double> expected = wanted(i);
        QVERIFY2(std::abs(found->second.first - expected.first) < 1e-6 &&
                     std::abs(found->second.second - expected.second) < 1e-6,
                 qPrintable(QStringLiteral("%1 holds %2 %3, not %4 %5")
                                .arg(photos[i])
                                .arg(found->second.first, 0, 'f', 7)
                                .arg(found->second.second, 0, 'f', 7)
                                .arg(expected.first, 0, 'f', 7)
                                .arg(expected.second, 0, 'f', 7)));
      }
    };
    ModalAnswerer answerer(QStringLiteral("Kyoto trip"));
    auto app = std::make_unique<CTerravueApp>(Options(photos));
    CTerravueHtmlWnd* map = StartApp(*app);
    QVERIFY(map != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tv.pictures.length")).toInt(), 20, 30000);
    CTerravueBaseWnd* window = app->MainWindow();
    const auto pagePositions = [map] {
      std::vector<std::pair<double, double>> at;
      for (const QVariant& p : RunScript(map, QStringLiteral("tv.pictures.map(function (p) {"
                                                             "  return [p.latText, p.lngText]; })"))
                                   .toList()) {
        const QStringList texts = p.toStringList();
        at.emplace_back(texts.size() == 2 ? DegreesOf(texts[0].toStdString()) : NAN,
                        texts.size() == 2 ? DegreesOf(texts[1].toStdString()) : NAN);
      }
      return at;
    };
    // The page numbers the photos in map order; the files are compared by path.
    std::vector<std::pair<double, double>> start = pagePositions();
    QCOMPARE(start.size(), std::size_t{20});
    std::map<QString, std::pair<double, double>> original;
    for (int i = 0; i < 20; ++i) {
      original[QString::fromStdString(map->CurrentMap().m_pictures.At(static_cast<std::size_t>(i)).m_path)] =
          start[static_cast<std::size_t>(i)];
    }
    const auto originalOf = [&photos, &original](int i) { return original.at(photos[i]); };

    // The town's name typed into the search box, as the user types it; Enter flies there.
    QWidget* target = map->focusProxy();
    QVERIFY(target != nullptr);
    const QVariantList box = RunScript(map, QStringLiteral("(function () {"
                                                           "  var r = document.getElementById('tvSearchBox')"
                                                           "      .getBoundingClientRect();"
                                                           "  return [r.left + r.width / 2, r.top + r.height / 2];"
                                                           "})()"))
                                 .toList();
    QCOMPARE(box.size(), 2);
    const QPoint boxPoint(qRound(box[0].toDouble()), qRound(box[1].toDouble()));
    QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, boxPoint);
    QTRY_VERIFY_WITH_TIMEOUT(
        RunScript(map, QStringLiteral("document.activeElement && document.activeElement.id === 'tvSearchBox'"))
            .toBool(),
        10000);
    QTest::keyClicks(target, QStringLiteral("Kyoto"), Qt::NoModifier, 30);
    QTRY_COMPARE_WITH_TIMEOUT(
        RunScript(map, QStringLiteral("tv.search.text === 'Kyoto' && document.querySelector('#tvSearchList li') ?"
                                      " document.querySelector('#tvSearchList li').textContent : ''"))
            .toString(),
        QStringLiteral("Kyoto, Japan"), 10000);
    QTest::keyClick(target, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(map, QStringLiteral("!!tv.search.target && !tv.search.flying")).toBool(), 20000);
    const QVariantList place = RunScript(map, QStringLiteral("[tv.search.target.lat, tv.search.target.lng]")).toList();
    QCOMPARE(place.size(), 2);
    const std::pair<double, double> kyoto{place[0].toDouble(), place[1].toDouble()};
    QVERIFY(std::abs(kyoto.first - 35.02) < 0.05 && std::abs(kyoto.second - 135.75) < 0.05);
    QCOMPARE(pagePositions(), start);

    // All twenty selected and put there in one step, by the page's own button.
    QCOMPARE(RunScript(map, QStringLiteral("tvSetSelection(tv.pictures); tv.selection.length")).toInt(), 20);
    const QVariantList button = RunScript(map, QStringLiteral("(function () {"
                                                              "  var r = document.getElementById('tvPlaceHere')"
                                                              "      .getBoundingClientRect();"
                                                              "  return [r.left + r.width / 2, r.top + r.height / 2];"
                                                              "})()"))
                                    .toList();
    QCOMPARE(button.size(), 2);
    QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier,
                      QPoint(qRound(button[0].toDouble()), qRound(button[1].toDouble())));
    const auto allAt = [&pagePositions](const std::pair<double, double>& at) {
      const auto now = pagePositions();
      return std::all_of(now.cbegin(), now.cend(), [&at](const std::pair<double, double>& p) {
        return std::abs(p.first - at.first) < 1e-6 && std::abs(p.second - at.second) < 1e-6;
      });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allAt(kyoto), 10000);
    QCOMPARE(RunScript(map, QStringLiteral("tv.undoSteps.length")).toInt(), 1);
    QCOMPARE(PendingMarks(map), 20);

    // Undone in one step, redone in one step.
    Trigger(window, MainMenu::kUndo);
    QCOMPARE(pagePositions(), start);
    QCOMPARE(PendingMarks(map), 0);
    Trigger(window, MainMenu::kRedo);
    QVERIFY(allAt(kyoto));

    // Saved: every file holds Kyoto, and the saved map is shown anew.
    QSignalSpy sent(map, &CTerravueHtmlWnd::querySent);
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, 30000);
    QVERIFY(PageBack(map));
    QCOMPARE(window->windowTitle(), QStringLiteral("Kyoto trip"));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tv.pictures.length")).toInt(), 20, 30000);
    checkFiles([&kyoto](int) { return kyoto; });
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);

    // Undone after the save: the page shows where they were, the files still hold Kyoto until
    // the next save, which writes them back.
    QTRY_VERIFY_WITH_TIMEOUT(allAt(kyoto), 10000);
    Trigger(window, MainMenu::kUndo);
    QCOMPARE(pagePositions(), start);
    QCOMPARE(PendingMarks(map), 20);
    checkFiles([&kyoto](int) { return kyoto; });
    Trigger(window, MainMenu::kSaveOver);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tv.pictures.length")).toInt(), 20, 30000);
    checkFiles(originalOf);
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);
    QVERIFY(!map->CurrentMap().AnyModified());
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
