// Placing photos from a GPS track log in the whole program: the track is
// loaded through the map window, drawn, previewed with the camera's zone and
// clock offset, applied as moves, and saved the normal way; the saved map
// keeps the track, and the photos carry the positions from the track.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineScript>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CSaveDlg.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/CTrackDlg.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/Geotag.h"
#include "Applications/Terravue/tests/AppTestSupport.h"
#include "Applications/Terravue/tests/TestPhotos.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/tests/RewriteTestSupport.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

// The GPS position written in a photo, or NaN.
std::pair<double, double> PositionOf(const QString& path) {
  XpGPSRecord record;
  double lat = NAN;
  double lng = NAN;
  if (XpExifRewrite::ReadGPS(path.toStdString(), record) != XpStatus::Ok ||
      !RationalsToDegrees(record.latitudeRef, record.latitude, &lat) ||
      !RationalsToDegrees(record.longitudeRef, record.longitude, &lng)) {
    return {NAN, NAN};
  }
  return {lat, lng};
}

// The photo's GPS directory as the tool's dump prints it, one line per entry;
// empty when the tool could not read it.
QStringList GpsDirectoryOf(const QString& path) {
  QProcess tool;
  tool.start(QStringLiteral(TV_PROGRAM_DIR "/tool/terravue-tool"), {QStringLiteral("dump"), path});
  if (!tool.waitForFinished(30000) || tool.exitCode() != 0) {
    return {};
  }
  QStringList entries;
  bool inGps = false;
  for (const QString& line : QString::fromUtf8(tool.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    if (line.contains(QStringLiteral("(0x8825)"))) {
      inGps = true;
      continue;
    }
    // The GPS directory's entries are indented one level deeper than IFD0's:
    // their numbers end at the same column, right before the "(".
    if (inGps && line.indexOf(QLatin1Char('(')) == 9) {
      entries.append(line.trimmed());
    } else if (inGps) {
      break;
    }
  }
  return entries;
}

// Fixes every ten minutes from 09:50 to 10:20 UTC on 1 May 2024, with heights.
const char* const kTrackWithHeights =
    "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n"
    "<trkpt lat=\"35.0\" lon=\"139.0\"><ele>12.5</ele><time>2024-05-01T09:50:00Z</time></trkpt>\n"
    "<trkpt lat=\"35.1\" lon=\"139.1\"><ele>20.0</ele><time>2024-05-01T10:00:00Z</time></trkpt>\n"
    "<trkpt lat=\"35.2\" lon=\"139.2\"><ele>30.0</ele><time>2024-05-01T10:10:00Z</time></trkpt>\n"
    "</trkseg></trk></gpx>\n";

// Fixes every ten minutes from 09:50 to 10:20 UTC on 1 May 2024, moving north-east.
const char* const kTrack =
    "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n"
    "<trkpt lat=\"35.0\" lon=\"139.0\"><time>2024-05-01T09:50:00Z</time></trkpt>\n"
    "<trkpt lat=\"35.1\" lon=\"139.1\"><time>2024-05-01T10:00:00Z</time></trkpt>\n"
    "<trkpt lat=\"35.2\" lon=\"139.2\"><time>2024-05-01T10:10:00Z</time></trkpt>\n"
    "<trkpt lat=\"35.3\" lon=\"139.3\"><time>2024-05-01T10:20:00Z</time></trkpt>\n"
    "</trkseg></trk></gpx>\n";

// A walk in New York, fixes every ten minutes from 13:50 to 14:20 UTC on 1 May 2024 (EDT, -04:00).
const char* const kNewYorkTrack =
    "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n"
    "<trkpt lat=\"40.70\" lon=\"-74.00\"><time>2024-05-01T13:50:00Z</time></trkpt>\n"
    "<trkpt lat=\"40.72\" lon=\"-73.99\"><time>2024-05-01T14:00:00Z</time></trkpt>\n"
    "<trkpt lat=\"40.74\" lon=\"-73.98\"><time>2024-05-01T14:10:00Z</time></trkpt>\n"
    "<trkpt lat=\"40.76\" lon=\"-73.97\"><time>2024-05-01T14:20:00Z</time></trkpt>\n"
    "</trkseg></trk></gpx>\n";

// New York through the night daylight saving time began, 10 March 2024: 02:00 EST became 03:00
// EDT at 07:00 UTC. Fixes every ten minutes from 06:00 to 08:00 UTC, moving north.
QByteArray DaylightSavingTrack() {
  QByteArray gpx =
      "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n";
  for (int step = 0; step <= 12; ++step) {
    const int minutes = 6 * 60 + step * 10;
    gpx += QStringLiteral("<trkpt lat=\"%1\" lon=\"-74.00\"><time>2024-03-10T%2:%3:00Z</time></trkpt>\n")
               .arg(40.70 + step * 0.005, 0, 'f', 3)
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'))
               .toUtf8();
  }
  return gpx + "</trkseg></trk></gpx>\n";
}

// The script that counts the tracks drawn on the page.
const QString kTrackLayers = QStringLiteral("tvTracks.layer ? tvTracks.layer.getLayers().length : 0");

/// Switches the number locale to German (a decimal comma) for its lifetime. The
/// locale is made from the system's locale sources when it is not installed;
/// IsActive() is false when neither works.
class CommaLocale {
 public:
  CommaLocale() : m_previous(std::setlocale(LC_NUMERIC, nullptr)) {
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr && m_made.isValid()) {
      const QString target = m_made.path() + QStringLiteral("/de_DE.UTF-8");
      if (QProcess::execute(QStringLiteral("localedef"), {QStringLiteral("-i"), QStringLiteral("de_DE"),
                                                          QStringLiteral("-f"), QStringLiteral("UTF-8"), target}) >=
              0 &&
          QFileInfo(target + QStringLiteral("/LC_NUMERIC")).isFile()) {
        qputenv("LOCPATH", QFile::encodeName(m_made.path()));
        static_cast<void>(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"));
      }
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    m_active = std::string(text) == "1,5";
  }
  ~CommaLocale() { static_cast<void>(std::setlocale(LC_NUMERIC, m_previous.c_str())); }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;

  [[nodiscard]] bool IsActive() const { return m_active; }

 private:
  std::string m_previous;
  QTemporaryDir m_made;
  bool m_active = false;
};

}  // namespace

class TracksTest : public AppTestCase {
  Q_OBJECT

 private:
  /// Two photos without a position, a.jpg and b.jpg, taken at `a` and `b` on the camera's clock;
  /// their paths, or none when a step fails.
  QStringList MakePhotosAB(const XpDateTime& a, const XpDateTime& b) {
    const QStringList paths = {PhotoFolder() + QStringLiteral("/a.jpg"), PhotoFolder() + QStringLiteral("/b.jpg")};
    const bool made = MakeTestPhoto(paths[0], 320, 240, 1, a) && MakeTestPhoto(paths[1], 320, 240, 2, b);
    return made ? paths : QStringList();
  }

  /// Waits until the map has settled with `pictures` pictures and the page draws one track.
  static void VerifyTrackDrawn(CTerravueHtmlWnd* map, std::size_t pictures) {
    QTRY_VERIFY_WITH_TIMEOUT(MapHasCome(map, MapWait::Settled), 30000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), pictures);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kTrackLayers).toInt(), 1, 20000);
  }

  /// A photo without a position taken at 10:05 on the camera's clock on 1 May 2024, while kTrack
  /// was recorded (with the camera on UTC); empty when it cannot be made.
  QString MakePhotoDuringTheTrack() {
    const QString photo = PhotoFolder() + QStringLiteral("/a.jpg");
    return MakeTestPhoto(photo, 320, 240, 1, XpDateTime(2024, 5, 1, 10, 5, 0)) ? photo : QString();
  }

  /// kTrack in the file `name` of the test's home.
  QString WriteTrack(const char* name = "walk.gpx") {
    const QString track = m_home->Path(name);
    TestHome::WriteFile(track, kTrack);
    return track;
  }

  /// Starts `program` on `paths`, in Japanese or English, and waits until the page's track
  /// functions are there.
  bool StartForTracks(TestProgram& program, const QStringList& paths, bool japanese = false) {
    AppStartOptions options = Options(paths);
    options.language = japanese ? AppStrings::Language::Japanese : AppStrings::Language::English;
    if (!program.Start(options)) {
      return false;
    }
    if (!QTest::qWaitFor(
            [&program] {
              return RunScript(program.map, QStringLiteral("typeof tvTracksShow")).toString() ==
                     QStringLiteral("function");
            },
            10000)) {
      qWarning("the page's track functions did not come in time");
      return false;
    }
    return true;
  }

 private slots:
  void init() {
    AppTestCase::init();
    TV_SKIP_WITHOUT_PAGE_FILES();
  }

  void recognisesTrackFiles() {
    QStringList paths = {QStringLiteral("/a/b.jpg"), QStringLiteral("/a/t.GPX"), QStringLiteral("/a/n.nmea"),
                         QStringLiteral("/a/c.JPG")};
    QCOMPARE(CTrackDlg::TakeTrackPaths(paths), (QStringList{QStringLiteral("/a/t.GPX"), QStringLiteral("/a/n.nmea")}));
    QCOMPARE(paths, (QStringList{QStringLiteral("/a/b.jpg"), QStringLiteral("/a/c.JPG")}));
  }

  void takesATrackLogHandedOverWithThePhotos() {
    const QString photo = MakePhotoDuringTheTrack();
    QVERIFY(!photo.isEmpty());
    // Named without its usual extension: known by its content type.
    const QString track = WriteTrack("walk.xml");
    TestProgram program(QStringLiteral("Walk"));
    QVERIFY(program.Launch(Options({photo, m_home->Path("walk.gpx.missing"), track})));
    auto& [answerer, app, map, window] = program;
    QCOMPARE(map->Tracks()->TrackPaths(), QStringList{track});
    VerifyTrackDrawn(map, 1);
    // One photo is counted in the singular.
    QVERIFY(RunScript(map, QStringLiteral("document.getElementById('tvSummary').textContent"))
                .toString()
                .startsWith(QStringLiteral("1 picture, 0 on the map, 0 moved")));

    // A track dropped on the map joins the first, drawn in a colour of its own.
    const QString dropped = m_home->Path("second.GPX");
    TestHome::WriteFile(dropped, QByteArray(kTrack).replace("lon=\"139.", "lon=\"138."));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dropped)});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(map, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(map, &drop);
    QVERIFY(drop.isAccepted());
    QTRY_COMPARE_WITH_TIMEOUT(map->Tracks()->TrackPaths().size(), 2, 10000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{1});
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tvTracks.layer.getLayers().map(function (l) {"
                                                            "  return l.options.color; }).filter(function (c, i, a) {"
                                                            "  return a.indexOf(c) === i; }).length"))
                                  .toInt(),
                              2, 20000);
  }

  void aTrackAloneOnTheCommandLineIsDrawnOnAnEmptyMap() {
    const QString track = WriteTrack();
    TestProgram program(QStringLiteral("Walk"));
    QVERIFY(program.Launch(Options({track})));
    auto& [answerer, app, map, window] = program;
    QCOMPARE(map->Tracks()->TrackPaths(), QStringList{track});
    VerifyTrackDrawn(map, 0);
  }

  void thePanelStandsBesideTheMapAndComesBackAsItWas() {
    const QString photo = MakePhotoDuringTheTrack();
    QVERIFY(!photo.isEmpty());
    const QString track = WriteTrack();
    ModalAnswerer answerer(QStringLiteral("Walk"));
    {
      auto app = std::make_unique<CTerravueApp>(Options({photo, track}));
      CTerravueHtmlWnd* map = StartApp(*app);
      QVERIFY(map != nullptr);
      CTerravueBaseWnd* window = app->MainWindow();
      CTrackDlg* tracks = map->Tracks();
      QTRY_VERIFY_WITH_TIMEOUT(tracks->isVisible(), 10000);
      // Docked at the right side of the window, beside the map, not a window over it.
      QVERIFY(!tracks->isWindow());
      QVERIFY(!tracks->isFloating());
      QCOMPARE(tracks->parentWidget(), static_cast<QWidget*>(window));
      QCOMPARE(window->dockWidgetArea(tracks), Qt::RightDockWidgetArea);
      QVERIFY(map->width() > tracks->width());
      QVERIFY2(!tracks->geometry().intersects(map->geometry()),
               qPrintable(QStringLiteral("panel %1,%2 %3x%4 map %5,%6 %7x%8")
                              .arg(tracks->x())
                              .arg(tracks->y())
                              .arg(tracks->width())
                              .arg(tracks->height())
                              .arg(map->x())
                              .arg(map->y())
                              .arg(map->width())
                              .arg(map->height())));
      QVERIFY(tracks->geometry().left() >= map->geometry().right());
      // The user widens it; the width and its being open are kept at the close.
      window->resizeDocks({tracks}, {310}, Qt::Horizontal);
      QTRY_COMPARE_WITH_TIMEOUT(tracks->width(), 310, 5000);
      QVERIFY(window->close());
    }
    QCOMPARE(AppSettings().ReadNumber(QStringLiteral("track_width")), 310);
    QCOMPARE(AppSettings().ReadNumber(QStringLiteral("track_shown")), 1);
    {
      // A restart without a track opens the panel as wide as it was.
      auto app = std::make_unique<CTerravueApp>(Options({photo}));
      CTerravueHtmlWnd* map = StartApp(*app);
      QVERIFY(map != nullptr);
      CTrackDlg* tracks = map->Tracks();
      QTRY_VERIFY_WITH_TIMEOUT(tracks->isVisible(), 10000);
      QTRY_COMPARE_WITH_TIMEOUT(tracks->width(), 310, 5000);
      QVERIFY(!tracks->geometry().intersects(map->geometry()));
      // Closed by its own button, it stays closed at the next start.
      tracks->findChild<QPushButton*>(QStringLiteral("close"))->click();
      QVERIFY(!tracks->isVisible());
      QVERIFY(app->MainWindow()->close());
    }
    QCOMPARE(AppSettings().ReadNumber(QStringLiteral("track_shown")), 0);
    QCOMPARE(AppSettings().ReadNumber(QStringLiteral("track_width")), 310);
    {
      auto app = std::make_unique<CTerravueApp>(Options({photo}));
      CTerravueHtmlWnd* map = StartApp(*app);
      QVERIFY(map != nullptr);
      QTest::qWait(200);
      QVERIFY(!map->Tracks()->isVisible());
      // Loading a track opens it again, at the kept width.
      QVERIFY(map->Tracks()->AddTrack(track));
      QTRY_VERIFY_WITH_TIMEOUT(map->Tracks()->isVisible(), 10000);
      QTRY_COMPARE_WITH_TIMEOUT(map->Tracks()->width(), 310, 5000);
      QVERIFY(app->MainWindow()->close());
    }
  }

  void previewPinsNameTheirPhotoAndThePanelSetsTheSpansSideBySide() {
    const QStringList photos = MakePhotosAB(XpDateTime(2024, 5, 1, 10, 5, 0), XpDateTime(2024, 5, 1, 10, 20, 0));
    QCOMPARE(photos.size(), 2);
    const QString track = WriteTrack();
    for (const bool japanese : {false, true}) {
      TestProgram program(QStringLiteral("Walk"));
      QVERIFY(StartForTracks(program, photos, japanese));
      auto& [answerer, app, map, window] = program;
      CTrackDlg* tracks = map->Tracks();
      tracks->ZoneEdit()->setText(QStringLiteral("+00:00"));
      QVERIFY(tracks->AddTrack(track));
      QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tvTracks.pending.length")).toInt(), 2, 20000);

      // Each proposed place is a ring labelled with its photo's name and time, not a photo's pin.
      const QString pins = QStringLiteral(
          "tvTracks.preview.getLayers().filter(function (l) { return l instanceof L.Marker; })"
          ".map(function (m) {"
          "  var p = tvTracks.pending.filter(function (q) {"
          "    return q.lat === m.getLatLng().lat && q.lng === m.getLatLng().lng; })[0].picture;"
          "  return [m.options.icon.options.className, m.options.icon === tv.icons.selected,"
          "          m.getTooltip().options.permanent, m.getTooltip().getContent().textContent,"
          "          p.name + '  ' + p.time, p.time].join('|'); }).sort().join(';')");
      const QStringList shown = RunScript(map, pins).toString().split(QLatin1Char(';'));
      QCOMPARE(shown.size(), 2);
      for (const QString& pin : shown) {
        const QStringList fields = pin.split(QLatin1Char('|'));
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields[0], QStringLiteral("tvTrackPin"));
        QCOMPARE(fields[1], QStringLiteral("false"));
        QCOMPARE(fields[2], QStringLiteral("true"));
        QCOMPARE(fields[3], fields[4]);
        QVERIFY2(!fields[5].isEmpty(), qPrintable(pin));
      }
      QVERIFY(shown[0].contains(QStringLiteral("a.jpg  ")));
      QVERIFY(shown[1].contains(QStringLiteral("b.jpg  ")));
      QTRY_COMPARE_WITH_TIMEOUT(
          RunScript(map, QStringLiteral("document.querySelectorAll('.tvTrackLabel').length")).toInt(), 2, 5000);

      // The track's span on the camera's clock (here UTC) beside the photos' span, which it covers.
      const QString local =
          QLocale().toString(QDateTime(QDate(2024, 5, 1), QTime(9, 50), Qt::UTC).toLocalTime(), QLocale::ShortFormat);
      QVERIFY2(tracks->TrackSpanLabel()->text().contains(local), qPrintable(tracks->TrackSpanLabel()->text()));
      QCOMPARE(tracks->TrackSpanLabel()->text().contains(
                   japanese ? QStringLiteral("カメラの時計で 2024-05-01 09:50:00 – 2024-05-01 10:20:00。")
                            : QStringLiteral("2024-05-01 09:50:00 – 2024-05-01 10:20:00 on the camera's clock.")),
               true);
      QCOMPARE(tracks->PhotoSpanLabel()->text(),
               japanese ? QStringLiteral("写真: カメラの時計で 2024-05-01 10:05:00 – 2024-05-01 10:20:00。")
                        : QStringLiteral("Photos: 2024-05-01 10:05:00 – 2024-05-01 10:20:00 on the camera's clock."));

      // A camera on Tokyo time: its clock read 18:50 at the track's start, and the photos fall outside.
      tracks->ZoneEdit()->setText(QStringLiteral("+09:00"));
      QVERIFY2(tracks->TrackSpanLabel()->text().contains(QStringLiteral("2024-05-01 18:50:00 – 2024-05-01 19:20:00")),
               qPrintable(tracks->TrackSpanLabel()->text()));
      QCOMPARE(tracks->PlacedCount(), 0);
      QVERIFY(tracks->PhotoSpanLabel()->text().endsWith(
          japanese
              ? QStringLiteral(
                    "トラックの記録中に撮られた写真がありません。カメラのタイムゾーンと時計のずれを確かめてください。")
              : QStringLiteral("They were not taken while the track was recorded: check the camera's time zone "
                               "and clock offset.")));
      // A clock offset that brings them back clears the warning.
      tracks->ZoneEdit()->setText(QStringLiteral("+00:00"));
      QVERIFY(!tracks->PhotoSpanLabel()->text().contains(japanese ? QStringLiteral("記録中に")
                                                                  : QStringLiteral("not taken")));
      QCOMPARE(tracks->PlacedCount(), 2);
      AppStrings::Instance().SetLanguage(AppStrings::Language::English);
    }
  }

  void aTrackInAZoneTheTableCountsAsALinkStillOffersItsCountrysZonesAndTheZoneCanBeRecorded() {
    // Amsterdam: zone1970.tab lists Europe/Amsterdam under Brussels, zone.tab under NL.
    const QString track = m_home->Path("amsterdam.gpx");
    TestHome::WriteFile(track,
                        "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">"
                        "<trk><trkseg>\n"
                        "<trkpt lat=\"52.370\" lon=\"4.890\"><time>2024-05-01T09:00:00Z</time></trkpt>\n"
                        "<trkpt lat=\"52.372\" lon=\"4.895\"><time>2024-05-01T09:30:00Z</time></trkpt>\n"
                        "</trkseg></trk></gpx>\n");
    const QString photo = m_home->Path("photos") + QStringLiteral("/dam.jpg");
    QVERIFY(MakeTestPhoto(photo, 320, 240, 1, XpDateTime(2024, 5, 1, 11, 15, 0)));
    TestProgram program(QStringLiteral("Dam"));
    QVERIFY(StartForTracks(program, {photo}));
    auto& [answerer, app, map, window] = program;
    CTrackDlg* tracks = map->Tracks();
    tracks->UseZoneFiles(m_program + QStringLiteral("zones.tvz"),
                         QStringLiteral(TV_TESTDATA_DIR "/zones/zone1970.tab"));
    QVERIFY(tracks->AddTrack(track));
    // 11:15 in Amsterdam in May is 09:15 UTC, inside the track.
    QTRY_COMPARE_WITH_TIMEOUT(tracks->PlacedCount(), 1, 10000);
    QCOMPARE(tracks->ClockLabel()->text(), QStringLiteral("Camera clock: Europe/Amsterdam +02:00 (from position)"));
    QStringList offered;
    for (int i = 1; i < tracks->ZoneChoice()->count(); ++i) {
      offered.append(tracks->ZoneChoice()->itemText(i));
    }
    QVERIFY2(offered.contains(QStringLiteral("Europe/Brussels")) && !offered.contains(QStringLiteral("Asia/Tokyo")),
             qPrintable(offered.join(QLatin1Char(','))));

    // With the setting on, the photo saved records the zone its clock was read in.
    AppSettings().WriteNumber(QStringLiteral("write_offset_time"), 1);
    QSignalSpy applied(tracks, &CTrackDlg::applied);
    tracks->ApplyButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(applied.count(), 1, 10000);
    PhotoTime before;
    QVERIFY(ReadPhotoTime(photo.toStdString(), &before));
    QVERIFY(!before.zoneSeconds.has_value());
    window->PrepareMenu();
    for (QAction* action : window->Menu()->actions()) {
      if (MainMenu::CommandOf(action) == MainMenu::kSaveAsNew) {
        action->trigger();
      }
    }
    QCOMPARE(map->PendingCount(), 0);
    PhotoTime after;
    QVERIFY(ReadPhotoTime(photo.toStdString(), &after));
    QCOMPARE(after.zoneSeconds.value_or(-1), 2 * 3600);
    QCOMPARE(after.local, before.local);
    app->ExitInstance();
  }

  void theCameraClockTakesTheZoneWhereTheTrackIsOrTheOneChosen() {
    const QString track = m_home->Path("newyork.gpx");
    TestHome::WriteFile(track, kNewYorkTrack);
    for (const bool japanese : {false, true}) {
      // 09:15 on a camera without a zone: 13:15 UTC in New York, too early for the track; 14:15
      // UTC on Chicago time, in the middle of it. A photo of its own for each run, as the close
      // may save the move.
      const QString photo = m_home->Path("photos") + (japanese ? QStringLiteral("/ja.jpg") : QStringLiteral("/en.jpg"));
      QVERIFY(MakeTestPhoto(photo, 320, 240, 1, XpDateTime(2024, 5, 1, 9, 15, 0)));
      TestProgram program(QStringLiteral("Walk"));
      QVERIFY(StartForTracks(program, {photo}, japanese));
      auto& [answerer, app, map, window] = program;
      CTrackDlg* tracks = map->Tracks();
      tracks->UseZoneFiles(m_program + QStringLiteral("zones.tvz"),
                           QStringLiteral(TV_TESTDATA_DIR "/zones/zone1970.tab"));
      QVERIFY(tracks->AddTrack(track));
      QTRY_COMPARE_WITH_TIMEOUT(tracks->UnmatchedCount(), 1, 10000);
      QCOMPARE(tracks->PlacedCount(), 0);
      QCOMPARE(tracks->ClockLabel()->text(),
               japanese ? QStringLiteral("カメラの時計: America/New_York -04:00(位置から)")
                        : QStringLiteral("Camera clock: America/New_York -04:00 (from position)"));
      QVERIFY(tracks->CrossingLabel()->text().isEmpty());
      QCOMPARE(tracks->ZoneEdit()->placeholderText(), japanese ? QStringLiteral("各写真の撮影地のタイムゾーン")
                                                               : QStringLiteral("the zone where each photo was taken"));
      // The override offers the zones of the country, from the tz database's table.
      QComboBox* choice = tracks->ZoneChoice();
      QCOMPARE(choice->itemText(0), japanese ? QStringLiteral("位置から求める") : QStringLiteral("Zone from position"));
      QStringList offered;
      for (int i = 1; i < choice->count(); ++i) {
        offered.append(choice->itemText(i));
      }
      QVERIFY2(offered.size() > 20 && offered.first() == QStringLiteral("America/New_York") &&
                   offered.contains(QStringLiteral("America/Chicago")) &&
                   offered.contains(QStringLiteral("Pacific/Honolulu")) &&
                   !offered.contains(QStringLiteral("Asia/Tokyo")),
               qPrintable(offered.join(QLatin1Char(','))));
      // The track's start on the camera's clock, read in the zone there.
      QVERIFY2(tracks->TrackSpanLabel()->text().contains(QStringLiteral("2024-05-01 09:50:00")),
               qPrintable(tracks->TrackSpanLabel()->text()));

      // Chicago time places the photo at 14:15 UTC, and Apply puts it there.
      choice->setCurrentIndex(choice->findData(QStringLiteral("America/Chicago")));
      QCOMPARE(tracks->PlacedCount(), 1);
      QCOMPARE(tracks->ClockLabel()->text(), japanese
                                                 ? QStringLiteral("カメラの時計: America/Chicago -05:00(選択)")
                                                 : QStringLiteral("Camera clock: America/Chicago -05:00 (chosen)"));
      QVERIFY(tracks->TrackSpanLabel()->text().contains(QStringLiteral("2024-05-01 08:50:00")));
      QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tvTracks.pending.length")).toInt(), 1, 10000);
      QSignalSpy applied(tracks, &CTrackDlg::applied);
      tracks->ApplyButton()->click();
      QTRY_COMPARE_WITH_TIMEOUT(applied.count(), 1, 10000);
      QCOMPARE(applied.first().first().toInt(), 1);
      const double lat = RunScript(map, QStringLiteral("tv.pictures[0].lat")).toDouble();
      const double lng = RunScript(map, QStringLiteral("tv.pictures[0].lng")).toDouble();
      QVERIFY2(std::abs(lat - 40.75) < 1e-6 && std::abs(lng + 73.975) < 1e-6,
               qPrintable(QStringLiteral("%1 %2").arg(lat).arg(lng)));
      // Back to the zone from the position: the photo is out of the track's reach again.
      choice->setCurrentIndex(0);
      tracks->LeaveLocatedBox()->setChecked(false);
      QCOMPARE(tracks->PlacedCount(), 0);
      QVERIFY(tracks->ClockLabel()->text().contains(QStringLiteral("America/New_York -04:00")));
      // The offset from a photo put where it was taken counts its clock in that place's zone:
      // 09:15 EDT is 13:15 UTC, 45 minutes before the 14:00 fix it stands on.
      QVERIFY(RunScript(map, QStringLiteral("tvMovePicture(tv.pictures[0], 40.72, -73.99);"
                                            "tvHighlight(tv.pictures[0]); tvTracksSelected() !== null"))
                  .toBool());
      QSignalSpy found(tracks, &CTrackDlg::offsetFound);
      tracks->OffsetFromSelectedButton()->click();
      QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 10000);
      QCOMPARE(tracks->OffsetEdit()->text(), QStringLiteral("-0:45:00"));
      QCOMPARE(tracks->PlacedCount(), 1);
      map->SetModified(false);
      AppStrings::Instance().SetLanguage(AppStrings::Language::English);
    }
  }

  void aTripAcrossADaylightSavingChangeIsFlaggedAndEachPhotoTakesItsOffset() {
    // 01:30 EST is 06:30 UTC; 03:30 EDT is 07:30 UTC.
    const QStringList photos = MakePhotosAB(XpDateTime(2024, 3, 10, 1, 30, 0), XpDateTime(2024, 3, 10, 3, 30, 0));
    QCOMPARE(photos.size(), 2);
    const QString track = m_home->Path("night.gpx");
    TestHome::WriteFile(track, DaylightSavingTrack());
    for (const bool japanese : {false, true}) {
      TestProgram program(QStringLiteral("Walk"));
      QVERIFY(StartForTracks(program, photos, japanese));
      auto& [answerer, app, map, window] = program;
      // The program's own time-zone map, beside its page files.
      CTrackDlg* tracks = map->Tracks();
      QVERIFY(tracks->AddTrack(track));
      QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tvTracks.pending.length")).toInt(), 2, 20000);
      QCOMPARE(tracks->PlacedCount(), 2);
      QCOMPARE(tracks->ClockLabel()->text(),
               japanese ? QStringLiteral("カメラの時計: America/New_York -05:00(位置から) 写真によって異なります: "
                                         "America/New_York -05:00, America/New_York -04:00。")
                        : QStringLiteral("Camera clock: America/New_York -05:00 (from position) Photos differ: "
                                         "America/New_York -05:00, America/New_York -04:00."));
      QCOMPARE(tracks->CrossingLabel()->text(),
               japanese ? QStringLiteral("この旅程はタイムゾーンまたは夏時間の切り替えをまたいでいます。"
                                         "写真ごとに撮影地のタイムゾーンで読み取ります。")
                        : QStringLiteral("This trip crosses a time zone or a daylight saving change; each photo is "
                                         "read in the zone where it was taken."));
      // Each photo at the fix of its own true time: 06:30 and 07:30 UTC.
      const QString latitudes = QStringLiteral(
          "tvTracks.pending.map(function (p) { return p.picture.name + ' ' + p.lat.toFixed(3); }).sort().join(',')");
      QCOMPARE(RunScript(map, latitudes).toString(), QStringLiteral("a.jpg 40.715,b.jpg 40.745"));
      AppStrings::Instance().SetLanguage(AppStrings::Language::English);
    }
  }

  void thePanelSpeaksTheProgramsLanguage() {
    struct LanguageGuard {
      ~LanguageGuard() { AppStrings::Instance().SetLanguage(AppStrings::Language::English); }
    } guard;
    for (const auto language : {AppStrings::Language::English, AppStrings::Language::Japanese}) {
      AppStrings::Instance().SetLanguage(language);
      CTerravueHtmlWnd map(nullptr);
      CTrackDlg* tracks = map.Tracks();
      tracks->Recompute();
      const bool japanese = language == AppStrings::Language::Japanese;
      QCOMPARE(tracks->windowTitle(), japanese ? QStringLiteral("GPSトラック") : QStringLiteral("GPS track"));
      QCOMPARE(tracks->ApplyButton()->text(), japanese ? QStringLiteral("適用") : QStringLiteral("Apply"));
      QCOMPARE(tracks->LeaveLocatedBox()->text(), japanese
                                                      ? QStringLiteral("位置情報のある写真はそのままにする")
                                                      : QStringLiteral("Leave photos that already have a position"));
      QCOMPARE(tracks->SummaryLabel()->text(),
               japanese ? QStringLiteral("トラックが読み込まれていません。") : QStringLiteral("No track loaded."));
      // A clock offset that does not read is told in the same language.
      tracks->OffsetEdit()->setText(QStringLiteral("soon"));
      QCOMPARE(tracks->SummaryLabel()->text(),
               japanese ? QStringLiteral("タイムゾーンまたは時計のずれを読み取れません。")
                        : QStringLiteral("The time zone or the clock offset is not understood."));
    }
  }

  void thePreviewReachesThePageUnderADecimalCommaLocale() {
    const QString photo = MakePhotoDuringTheTrack();
    QVERIFY(!photo.isEmpty());
    const QString track = WriteTrack();
    TestProgram program(QStringLiteral("Walk"));
    QVERIFY(program.Launch(Options({photo, track})));
    auto& [answerer, app, map, window] = program;
    CTrackDlg* tracks = map->Tracks();
    tracks->ZoneEdit()->setText(QStringLiteral("+00:00"));
    QTRY_VERIFY_WITH_TIMEOUT(MapHasCome(map, MapWait::Settled), 30000);
    const QString previewLatitude = QStringLiteral("tvTracks.pending.length === 1 ? tvTracks.pending[0].lat : 0");
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(RunScript(map, previewLatitude).toDouble() - 35.15) < 1e-6, 20000);

    // On a German desktop the numbers still reach the page with a decimal point.
    const CommaLocale comma;
    if (!comma.IsActive()) {
      QSKIP("no German locale can be made here");
    }
    tracks->OffsetEdit()->setText(QStringLiteral("+0:05:00"));
    QCOMPARE(tracks->PlacedCount(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(RunScript(map, previewLatitude).toDouble() - 35.1) < 1e-6, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(
        std::abs(RunScript(map, QStringLiteral("tvTracks.pending[0].lng")).toDouble() - 139.1) < 1e-6, 20000);
  }

  void aSavePlacedByATrackWritesWhatGeotaggingWrites() {
    // A located photo whose GPS directory describes an older fix: a height, a
    // time stamp and a direction of its own.
    const QString folder = m_home->Path("photos");
    const QString photo = folder + QStringLiteral("/old.jpg");
    QVERIFY(MakeTestPhoto(photo, 320, 240, 1, XpDateTime(2024, 5, 1, 10, 5, 0), "N:10:00:00.000", "E:20:00:00.000"));
    {
      XpGPSRecord old;
      QCOMPARE(XpExifRewrite::ReadGPS(photo.toStdString(), old), XpStatus::Ok);
      rewrite_test::SetAltitude(old, /*below=*/false, 999, 1);
      rewrite_test::SetRational(old.imgDirection, 90, 1);
      old.timeStamp.numerators = {1, 2, 3};
      old.timeStamp.denominators = {1, 1, 1};
      old.timeStamp.valid = 1;
      QCOMPARE(XpExifRewrite::WriteGPS(photo.toStdString(), old, /*replaceWhole=*/true), XpStatus::Ok);
    }
    const QString track = m_home->Path("heights.gpx");
    TestHome::WriteFile(track, kTrackWithHeights);
    // What geotagging the same photo with the same track writes.
    const QString expected = m_home->Path("expected.jpg");
    QVERIFY(QFile::copy(photo, expected));
    QCOMPARE(QProcess::execute(QStringLiteral(TV_PROGRAM_DIR "/tool/terravue-tool"),
                               {QStringLiteral("geotag"), QStringLiteral("--track"), track, QStringLiteral("--tz"),
                                QStringLiteral("+00:00"), expected}),
             0);
    const QStringList geotagged = GpsDirectoryOf(expected);
    QVERIFY2(geotagged.contains(QStringLiteral("7(0x0007) x   3 (5) = 10/1, 5/1, 0/1")) &&
                 geotagged.filter(QStringLiteral("29(0x001d)")).filter(QStringLiteral("= 2024:05:01")).size() == 1 &&
                 geotagged.contains(QStringLiteral("6(0x0006) x   1 (5) = 2500/100")),
             qPrintable(geotagged.join(QLatin1Char('|'))));
    QVERIFY(!GpsDirectoryOf(photo).isEmpty());
    QVERIFY(GpsDirectoryOf(photo) != geotagged);

    TestProgram program(QStringLiteral("Walk"));
    QVERIFY(StartForTracks(program, {photo}));
    auto& [answerer, app, map, window] = program;
    CTrackDlg* tracks = map->Tracks();
    tracks->ZoneEdit()->setText(QStringLiteral("+00:00"));
    tracks->LeaveLocatedBox()->setChecked(false);
    QVERIFY(tracks->AddTrack(track));
    QTRY_COMPARE_WITH_TIMEOUT(tracks->PlacedCount(), 1, 10000);
    QSignalSpy applied(tracks, &CTrackDlg::applied);
    tracks->ApplyButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(applied.count(), 1, 10000);
    QCOMPARE(applied.first().first().toInt(), 1);

    window->PrepareMenu();
    for (QAction* action : window->Menu()->actions()) {
      if (MainMenu::CommandOf(action) == MainMenu::kSaveAsNew) {
        action->trigger();
      }
    }
    QVERIFY(QFileInfo(AppGlobals::Get().workFolder + QStringLiteral("/Walk/data.tvd")).isFile());
    // Every GPS tag is the one geotagging writes: position, height, UTC date
    // and time; the old fix's direction is gone.
    QCOMPARE(GpsDirectoryOf(photo), geotagged);
    QCOMPARE(map->PendingCount(), 0);
  }

  void photosWithAPositionServeAsATrackExactlyAsTheirGpxFileDoes() {
    // Two of a phone's photos with positions and times, a third one not chosen, and a camera's
    // photo taken between the two with no position.
    const QString folder = m_home->Path("photos");
    const QStringList photos = {folder + QStringLiteral("/phone1.jpg"), folder + QStringLiteral("/phone2.jpg"),
                                folder + QStringLiteral("/phone3.jpg"), folder + QStringLiteral("/camera.jpg")};
    QVERIFY(
        MakeTestPhoto(photos[0], 320, 240, 1, XpDateTime(2024, 5, 1, 10, 0, 0), "N:35:00:00.000", "E:139:00:00.000"));
    QVERIFY(
        MakeTestPhoto(photos[1], 320, 240, 2, XpDateTime(2024, 5, 1, 10, 20, 0), "N:35:12:00.000", "E:139:12:00.000"));
    QVERIFY(
        MakeTestPhoto(photos[2], 320, 240, 3, XpDateTime(2024, 5, 1, 10, 40, 0), "N:36:00:00.000", "E:140:00:00.000"));
    QVERIFY(MakeTestPhoto(photos[3], 320, 240, 4, XpDateTime(2024, 5, 1, 10, 5, 0)));
    ModalAnswerer answerer;
    auto app = std::make_unique<CTerravueApp>(Options(photos));
    CTerravueHtmlWnd* map = StartApp(*app);
    QVERIFY(map != nullptr);
    CTerravueBaseWnd* window = app->MainWindow();
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("typeof tvTracksShow")).toString(),
                              QStringLiteral("function"), 10000);
    CTrackDlg* tracks = map->Tracks();
    const auto trigger = [window] {
      window->PrepareMenu();
      for (QAction* action : window->Menu()->actions()) {
        if (MainMenu::CommandOf(action) == MainMenu::kPhotosAsTrack) {
          QVERIFY(action->isEnabled());
          action->trigger();
          return;
        }
      }
      QFAIL("the menu does not offer the photos as a track");
    };
    const auto select = [map](const QString& names) {
      return RunScript(map, QStringLiteral("tvSetSelection(tv.pictures.filter(function (p) {"
                                           "  return '%1'.split(',').indexOf(p.name) >= 0; }));"
                                           "tv.selection.length")
                                .arg(names))
          .toInt();
    };
    const auto cameraOnPage = [map] {
      return RunScript(map, QStringLiteral("(function () { var p = tv.pictures.filter(function (q) {"
                                           "  return q.name === 'camera.jpg'; })[0];"
                                           "  return [p.latText, p.lngText]; })()"))
          .toStringList();
    };
    // The phone's photos carry no zone: they are read in this computer's zone on that day, and so
    // is the camera's clock here.
    const int zone = QDateTime(QDate(2024, 5, 1), QTime(10, 0)).offsetFromUtc();
    tracks->ZoneEdit()->setText(QStringLiteral("%1%2:%3")
                                    .arg(zone < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                                    .arg(std::abs(zone) / 3600, 2, 10, QLatin1Char('0'))
                                    .arg(std::abs(zone) % 3600 / 60, 2, 10, QLatin1Char('0')));

    // A photo without a position makes no track: that is said, and nothing is loaded.
    QCOMPARE(select(QStringLiteral("camera.jpg")), 1);
    trigger();
    QTRY_VERIFY_WITH_TIMEOUT(
        answerer.seen.contains(
            QStringLiteral("None of these photos has both a position and a capture time, so they make no track.")),
        10000);
    QVERIFY(tracks->Log().Empty());

    // The two selected phone photos are the track: drawn, and the camera's photo placed between them.
    const QByteArray cameraBefore = FileBytes(photos[3]);
    QCOMPARE(select(QStringLiteral("phone1.jpg,phone2.jpg")), 2);
    QSignalSpy previews(tracks, &CTrackDlg::previewShown);
    trigger();
    QVERIFY(tracks->isVisible());
    QCOMPARE(tracks->Log().Fixes().size(), std::size_t{2});
    QTRY_COMPARE_WITH_TIMEOUT(
        RunScript(map, QStringLiteral("tvTracks.layer ? tvTracks.layer.getLayers().length : 0")).toInt(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!previews.isEmpty(), 10000);
    QCOMPARE(tracks->PlacedCount(), 1);
    QCOMPARE(tracks->UnmatchedCount(), 0);
    const std::vector<TrackFix> fromPhotos = tracks->Log().Fixes();
    QSignalSpy applied(tracks, &CTrackDlg::applied);
    tracks->ApplyButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(applied.count(), 1, 10000);
    QCOMPARE(applied.first().first().toInt(), 1);
    const QStringList placedByPhotos = cameraOnPage();
    QCOMPARE(placedByPhotos.size(), 2);
    // A quarter of the way, 10:05 between 10:00 and 10:20.
    QVERIFY2(std::abs(DegreesOf(placedByPhotos[0].toStdString()) - 35.05) < 1e-5 &&
                 std::abs(DegreesOf(placedByPhotos[1].toStdString()) - 139.05) < 1e-5,
             qPrintable(placedByPhotos.join(QLatin1Char(' '))));
    // Nothing is written before a save.
    QCOMPARE(FileBytes(photos[3]), cameraBefore);

    // The same photos exported as a GPX file with its track and loaded as a track log give the
    // same fixes and place the camera's photo at the very same position.
    QCOMPARE(map->UndoOnPage(false), 1);
    tracks->ClearTracks();
    QVERIFY(tracks->Log().Empty());
    const QString gpx = m_home->Path("phone.gpx");
    QString problem;
    QVERIFY2(map->ExportPhotos(gpx, CTerravueHtmlWnd::ExportFormat::GpxTrack, &problem), qPrintable(problem));
    QVERIFY(tracks->AddTrack(gpx));
    const std::vector<TrackFix>& fromFile = tracks->Log().Fixes();
    QCOMPARE(fromFile.size(), fromPhotos.size());
    for (std::size_t i = 0; i < fromFile.size(); ++i) {
      QCOMPARE(fromFile[i].timeMs, fromPhotos[i].timeMs);
      QCOMPARE(fromFile[i].latitude, fromPhotos[i].latitude);
      QCOMPARE(fromFile[i].longitude, fromPhotos[i].longitude);
      QCOMPARE(fromFile[i].hasElevation, fromPhotos[i].hasElevation);
    }
    QCOMPARE(tracks->PlacedCount(), 1);
    tracks->ApplyButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(applied.count(), 2, 10000);
    QCOMPARE(cameraOnPage(), placedByPhotos);

    // With nothing selected every photo with a position and a time is taken: the three phone
    // photos once the camera's photo has none again.
    QCOMPARE(map->UndoOnPage(false), 1);
    QCOMPARE(cameraOnPage().value(0), QStringLiteral("X:99:99:99.999"));
    QCOMPARE(select(QString()), 0);
    trigger();
    QCOMPARE(tracks->Log().Fixes().size(), fromPhotos.size() + 3);
    answerer.replies = {QMessageBox::Discard};
    app->ExitInstance();
  }

  void loadsATrackPreviewsAppliesAndSaves() {
    const QString folder = m_home->Path("photos");
    const QStringList photos = {folder + QStringLiteral("/a.jpg"), folder + QStringLiteral("/b.jpg"),
                                folder + QStringLiteral("/located.jpg")};
    QVERIFY(MakeTestPhoto(photos[0], 320, 240, 1, XpDateTime(2024, 5, 1, 10, 5, 0)));
    QVERIFY(MakeTestPhoto(photos[1], 320, 240, 2, XpDateTime(2024, 5, 1, 10, 20, 0)));
    QVERIFY(
        MakeTestPhoto(photos[2], 320, 240, 3, XpDateTime(2024, 5, 1, 10, 10, 30), "N:35:40:00.000", "E:139:40:00.000"));
    const QString track = WriteTrack();
    const QString bad = m_home->Path("bad.gpx");
    TestHome::WriteFile(bad, "<gpx><trk>");

    TestProgram program(QStringLiteral("Walk"));
    QVERIFY(StartForTracks(program, photos));
    auto& [answerer, app, map, window] = program;

    // The menu offers the command.
    window->PrepareMenu();
    bool offered = false;
    for (QAction* action : window->Menu()->actions()) {
      offered |=
          MainMenu::CommandOf(action) == MainMenu::kLoadTrack && action->text() == QStringLiteral("Load track... (&T)");
    }
    QVERIFY(offered);

    // A file that is no track log is reported and changes nothing.
    CTrackDlg* tracks = map->Tracks();
    QString error;
    QVERIFY(!tracks->AddTrack(bad, &error));
    QVERIFY(error.contains(QStringLiteral("not a GPX")));
    QVERIFY(answerer.seen.contains(error));
    QVERIFY(tracks->Log().Empty());

    // The track loads, is drawn, and the map fits it.
    QSignalSpy previews(tracks, &CTrackDlg::previewShown);
    tracks->ZoneEdit()->setText(QStringLiteral("+00:00"));
    QVERIFY(tracks->AddTrack(track));
    QVERIFY(tracks->isVisible());
    QCOMPARE(tracks->Log().Fixes().size(), std::size_t{4});
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kTrackLayers).toInt(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        RunScript(map, QStringLiteral("tv.map.getBounds().contains([35.0, 139.0]) && "
                                      "tv.map.getBounds().contains([35.3, 139.3]) && tv.map.getZoom() >= 8"))
            .toBool(),
        10000);

    // Two photos have no position: both match; the located one is left.
    QTRY_VERIFY_WITH_TIMEOUT(!previews.isEmpty(), 10000);
    QCOMPARE(tracks->PlacedCount(), 2);
    QCOMPARE(tracks->UnmatchedCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tvTracks.pending.length")).toInt(), 2, 10000);
    QCOMPARE(tracks->SummaryLabel()->text(), QStringLiteral("Photos to place: 2. Without a match in the track: 0."));

    // A camera clock two hours ahead puts every photo outside the track's reach.
    tracks->OffsetEdit()->setText(QStringLiteral("+2:00:00"));
    QCOMPARE(tracks->PlacedCount(), 0);
    QCOMPARE(tracks->UnmatchedCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tvTracks.pending.length")).toInt(), 0, 10000);
    QVERIFY(!tracks->ApplyButton()->isEnabled());
    // Not leaving located photos counts the third one too.
    tracks->LeaveLocatedBox()->setChecked(false);
    QCOMPARE(tracks->UnmatchedCount(), 3);
    tracks->LeaveLocatedBox()->setChecked(true);

    // The offset from the located photo: it sits nearest the 10:20 fix but says 10:10:30.
    QVERIFY(RunScript(map, QStringLiteral(
                               "tvHighlight(tv.pictures.filter(function (p) { return p.name === 'located.jpg'; })[0]);"
                               "tvTracksSelected() !== null"))
                .toBool());
    QSignalSpy found(tracks, &CTrackDlg::offsetFound);
    tracks->OffsetFromSelectedButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 10000);
    QCOMPARE(found.first().first().toLongLong(), -570);
    QCOMPARE(tracks->OffsetEdit()->text(), QStringLiteral("-0:09:30"));
    tracks->OffsetEdit()->setText(QStringLiteral("+0:00:00"));
    QCOMPARE(tracks->PlacedCount(), 2);

    // Apply moves the two photos on the page; nothing is written yet.
    const QByteArray before = [&] {
      QFile f(photos[0]);
      return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QSignalSpy applied(tracks, &CTrackDlg::applied);
    tracks->ApplyButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(applied.count(), 1, 10000);
    QCOMPARE(applied.first().first().toInt(), 2);
    QVERIFY(map->IsModified());
    {
      QFile f(photos[0]);
      QVERIFY(f.open(QIODevice::ReadOnly));
      QCOMPARE(f.readAll(), before);
    }
    QCOMPARE(
        RunScript(map, QStringLiteral("tv.pictures.filter(function (p) {"
                                      "  return document.getElementsByName('pic_modify' + p.index)[0].value === '1';"
                                      "}).map(function (p) { return p.name; }).sort().join(',')"))
            .toString(),
        QStringLiteral("a.jpg,b.jpg"));

    // Saving as a new map writes the photos the normal way and keeps the track.
    QSignalSpy shown(map, &CTerravueHtmlWnd::pageShown);
    window->PrepareMenu();
    for (QAction* action : window->Menu()->actions()) {
      if (MainMenu::CommandOf(action) == MainMenu::kSaveAsNew) {
        action->trigger();
      }
    }
    const QString walk = AppGlobals::Get().workFolder + QStringLiteral("/Walk");
    QVERIFY(QFileInfo(walk + QStringLiteral("/data.tvd")).isFile());
    QVERIFY(QFileInfo(walk + QStringLiteral("/track_1.gpx")).isFile());
    QFile list(walk + QStringLiteral("/tracks.txt"));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll(), QByteArray("track_1.gpx\n"));
    QCOMPARE(tracks->TrackPaths(), QStringList{walk + QStringLiteral("/track_1.gpx")});

    const auto a = PositionOf(photos[0]);
    QVERIFY2(std::abs(a.first - 35.15) < 1e-5 && std::abs(a.second - 139.15) < 1e-5,
             qPrintable(QStringLiteral("%1 %2").arg(a.first).arg(a.second)));
    const auto b = PositionOf(photos[1]);
    QVERIFY(std::abs(b.first - 35.3) < 1e-5 && std::abs(b.second - 139.3) < 1e-5);
    const auto located = PositionOf(photos[2]);
    QVERIFY(std::abs(located.first - (35 + 40.0 / 60)) < 1e-5);

    // The saved map shows again with its track.
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, kTrackLayers).toInt(), 1, 10000);
    QCOMPARE(tracks->Log().Fixes().size(), std::size_t{4});
  }
};

TV_QTEST_MAIN(TracksTest)
#include "tst_tracks.moc"
