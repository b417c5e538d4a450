// A trip's folder of mixed photos through the real window: a camera's JPEG
// with its raw file beside it, a phone's HEIC and a PNG load as markers with
// thumbnails made from their own pictures, are moved with the mouse, saved as
// a new map (each where its kind keeps a position) and reopened.

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/WriteBackMessage.h"
#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/tests/AppTestSupport.h"
#include "Applications/Terravue/tests/TestPhotos.h"
#include "xp/formats/XpPhotoWrite.h"

namespace {

constexpr const char* kFormats = TV_TESTDATA_DIR "/formats";

// Degrees of a coordinate text; NaN when it is not one.
double DegreesOf(const std::string& text, bool latitude) {
  XpGPSRef ref;
  XpGPSRational3 rationals;
  double degrees = 0;
  if (!TextToRationals(text, &ref, &rationals, latitude) || !RationalsToDegrees(ref, rationals, &degrees)) {
    return std::nan("");
  }
  return degrees;
}

// The position the project's reader finds for `path` (its sidecar first), or NaNs.
std::pair<double, double> PositionRead(const std::string& path) {
  XpGPSRecord gps;
  double latitude = std::nan("");
  double longitude = std::nan("");
  if (XpPhotoWrite::ReadGPS(path, gps) == XpStatus::Ok) {
    (void)RationalsToDegrees(gps.latitudeRef, gps.latitude, &latitude);
    (void)RationalsToDegrees(gps.longitudeRef, gps.longitude, &longitude);
  }
  return {latitude, longitude};
}

// exiftool's signed reading of the GPS position tags of `path` in `group`
// ("GPS" or "XMP-exif"); NaNs without exiftool or a position.
std::pair<double, double> ExiftoolPosition(const QString& path, const QString& group) {
  const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
  if (exiftool.isEmpty()) {
    return {std::nan(""), std::nan("")};
  }
  QProcess reader;
  reader.start(exiftool, {QStringLiteral("-n"), QStringLiteral("-s3"), QStringLiteral("-%1:GPSLatitude").arg(group),
                          QStringLiteral("-%1:GPSLongitude").arg(group), path});
  if (!reader.waitForFinished(30000)) {
    return {std::nan(""), std::nan("")};
  }
  const QStringList lines = QString::fromUtf8(reader.readAllStandardOutput()).split(QLatin1Char('\n'));
  if (lines.size() < 2 || lines[0].isEmpty()) {
    return {std::nan(""), std::nan("")};
  }
  // In the GPS directory the sign is in the reference tag; exiftool -n gives it signed in XMP only.
  return {lines[0].toDouble(), lines[1].toDouble()};
}

// A camera's JPEG taken in Tokyo at `jpeg`, with the crafted CR3 raw file at `raw` beside it.
bool MakeJpegWithRaw(const QString& jpeg, const QString& raw) {
  return MakeTestPhoto(jpeg, 640, 480, 1, XpDateTime(2024, 5, 1, 10, 0, 0), "N:35:39:30.000", "E:139:42:00.000") &&
         QFile::copy(QString::fromUtf8(kFormats) + QStringLiteral("/crafted/cr3-like.cr3"), raw);
}

// "Save as new map" through the menu, waiting until the map is back from the save.
void SaveAsNewMap(CTerravueApp& app, CTerravueHtmlWnd* map) {
  Trigger(app.MainWindow(), MainMenu::kSaveAsNew);
  QVERIFY(PageBack(map, 60000));
}

}  // namespace

class MixedFolderTest : public AppTestCase {
  Q_OBJECT

 private slots:
  void init() {
    AppTestCase::init();
    TV_SKIP_WITHOUT_PAGE_FILES();
  }

  void aMixedFolderLoadsIsMovedSavedEachWhereItsKindKeepsItAndReopens() {
    const QString folder = m_home->Path("trip");
    QVERIFY(QDir().mkpath(folder));
    // The camera's JPEG in Tokyo, with its raw file (which has a position of its own) beside it.
    const QString jpeg = folder + QStringLiteral("/IMG_0001.JPG");
    const QString raw = folder + QStringLiteral("/IMG_0001.CR3");
    QVERIFY(MakeJpegWithRaw(jpeg, raw));
    // A phone's HEIC (it records Guangzhou) and a PNG, given a position in Osaka.
    const QString heic = folder + QStringLiteral("/phone.heic");
    QVERIFY(QFile::copy(QString::fromUtf8(kFormats) + QStringLiteral("/mde-IMG_1034.heic"), heic));
    const QString png = folder + QStringLiteral("/drawing.png");
    QVERIFY(QFile::copy(QString::fromUtf8(kFormats) + QStringLiteral("/exiv2-imagemagick.png"), png));
    for (const QString& path : {raw, heic, png}) {
      QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    }
    XpGPSRecord osaka;
    QVERIFY(TextToRationals("N:34:41:00.000", &osaka.latitudeRef, &osaka.latitude, true));
    QVERIFY(TextToRationals("E:135:30:00.000", &osaka.longitudeRef, &osaka.longitude, false));
    QCOMPARE(XpPhotoWrite::WriteGPS(png.toStdString(), osaka), XpStatus::Ok);
    const QByteArray rawBefore = FileBytes(raw);
    const QImage pngPixels = QImage(png).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!pngPixels.isNull());

    TestProgram program(QStringLiteral("Trip"), {QMessageBox::Ok});
    // The pair is one photo: three markers.
    QVERIFY(program.StartShowing(Options({jpeg, raw, heic, png}), 3, 60000));
    auto& [answerer, app, map, window] = program;
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{3});
    // Each photo's thumbnail is made from its own picture, none is the placeholder.
    QTRY_COMPARE_WITH_TIMEOUT(
        RunScript(map, QStringLiteral("Array.prototype.filter.call(document.querySelectorAll('#list img'),"
                                      " function (i) { return i.complete && i.naturalWidth > 0; }).length"))
            .toInt(),
        3, 60000);
    QCOMPARE(RunScript(map, QStringLiteral("document.querySelectorAll('#list img.tvNoThumb').length")).toInt(), 0);

    // All three in view, then each dragged 40 pixels north with the mouse, found where it stood.
    QVERIFY(RunScript(map, QStringLiteral("document.getElementById('tvFitAll') !== null")).toBool());
    RunScript(map, QStringLiteral("document.getElementById('tvFitAll').click(); true"));
    // The view has flown there when every marker stands on its own (none in a cluster).
    QVERIFY(QTest::qWaitFor(
        [map] {
          return RunScript(map, QStringLiteral("tv.pictures.every(function (p) {"
                                               "  return p.marker && p.marker.getElement(); })"))
              .toBool();
        },
        30000));
    QTest::qWait(300);
    const auto movedCount = [map] {
      int moved = 0;
      if (map->ReadPageEdits(true)) {
        for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
          moved += record.m_modified != 0 ? 1 : 0;
        }
      }
      return moved;
    };
    for (int dragged = 1; dragged <= 3; ++dragged) {
      // The marker of photo `dragged`, with every preview closed so that none covers it.
      const QVariantList xy = RunScript(map, QStringLiteral("(function () {"
                                                            "  tv.pictures.forEach(function (p) {"
                                                            "    if (p.marker) { p.marker.closeTooltip(); }"
                                                            "  });"
                                                            "  tv.map.closePopup();"
                                                            "  var r = tv.pictures[%1].marker.getElement()"
                                                            "      .getBoundingClientRect();"
                                                            "  return [r.left + r.width / 2, r.top + r.height / 2];"
                                                            "})()")
                                                 .arg(dragged - 1))
                                  .toList();
      QCOMPARE(xy.size(), 2);
      DragFrom(map, QPoint(qRound(xy[0].toDouble()), qRound(xy[1].toDouble())), 0, -40);
      QTRY_COMPARE_WITH_TIMEOUT(movedCount(), dragged, 10000);
    }

    // Save as a new map through the menu.
    SaveAsNewMap(*app, map);
    QCOMPARE(window->windowTitle(), QStringLiteral("Trip"));
    std::vector<std::pair<std::string, std::string>> saved;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      QCOMPARE(record.m_modified, std::uint8_t{0});
      saved.emplace_back(record.m_latitude, record.m_longitude);
      const double latitude = DegreesOf(record.m_latitude, true);
      const double longitude = DegreesOf(record.m_longitude, false);
      // What the project reads back, for every photo (the raw file through its sidecar).
      const auto read = PositionRead(record.m_path);
      QVERIFY2(std::abs(read.first - latitude) < 1e-6 && std::abs(read.second - longitude) < 1e-6,
               record.m_path.c_str());
      const QString path = QString::fromStdString(record.m_path);
      if (path == jpeg) {
        // The JPEG in its file, and the raw file's position in its sidecar; the raw file unchanged.
        const auto fromRaw = PositionRead(raw.toStdString());
        QVERIFY(std::abs(fromRaw.first - latitude) < 1e-6 && std::abs(fromRaw.second - longitude) < 1e-6);
        QCOMPARE(FileBytes(raw), rawBefore);
        QVERIFY(QFile::exists(raw + QStringLiteral(".xmp")));
        const auto sidecar = ExiftoolPosition(raw + QStringLiteral(".xmp"), QStringLiteral("XMP-exif"));
        if (!std::isnan(sidecar.first)) {
          QVERIFY(std::abs(sidecar.first - latitude) < 1e-6 && std::abs(sidecar.second - longitude) < 1e-6);
        }
        const auto inFile = ExiftoolPosition(jpeg, QStringLiteral("GPS"));
        if (!std::isnan(inFile.first)) {
          QVERIFY(std::abs(inFile.first - std::abs(latitude)) < 1e-6);
          QVERIFY(std::abs(inFile.second - std::abs(longitude)) < 1e-6);
        }
      } else if (path == png) {
        // The PNG in its own file, its picture unchanged.
        QCOMPARE(QImage(png).convertToFormat(QImage::Format_RGB32), pngPixels);
        const auto inFile = ExiftoolPosition(png, QStringLiteral("GPS"));
        if (!std::isnan(inFile.first)) {
          QVERIFY(std::abs(inFile.first - std::abs(latitude)) < 1e-6);
          QVERIFY(std::abs(inFile.second - std::abs(longitude)) < 1e-6);
        }
      } else {
        QCOMPARE(path, heic);
      }
    }
    QVERIFY(answerer.mostModalAtOnce <= 1);
    app->ExitInstance();
    app.reset();

    // The saved map reopens with the same three markers and positions.
    QVERIFY(program.StartShowing(Options({WorkFolder() + QStringLiteral("/Trip/data.tvd")}), 3, 60000));
    std::vector<std::pair<std::string, std::string>> reopened;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      reopened.emplace_back(record.m_latitude, record.m_longitude);
    }
    // The same places (a reopened map reads positions back from the photos: within the last digit).
    QCOMPARE(reopened.size(), saved.size());
    for (std::size_t i = 0; i < saved.size(); ++i) {
      QVERIFY2(std::abs(DegreesOf(reopened[i].first, true) - DegreesOf(saved[i].first, true)) < 1e-6 &&
                   std::abs(DegreesOf(reopened[i].second, false) - DegreesOf(saved[i].second, false)) < 1e-6,
               (reopened[i].first + " " + reopened[i].second + " / " + saved[i].first + " " + saved[i].second).c_str());
    }
    app->ExitInstance();
  }

  void aRawJpegPairIsOneMarkerWithAPairBadgeThatNamesBothFiles() {
    const QString folder = m_home->Path("pairbadge");
    QVERIFY(QDir().mkpath(folder));
    // A pair (the raw file's extension in another case than the JPEG's) and a raw file alone.
    const QString jpeg = folder + QStringLiteral("/IMG_0005.JPG");
    const QString raw = folder + QStringLiteral("/img_0005.cr3");
    const QString single = folder + QStringLiteral("/IMG_0006.CR3");
    QVERIFY(MakeJpegWithRaw(jpeg, raw));
    QVERIFY(QFile::copy(QString::fromUtf8(kFormats) + QStringLiteral("/crafted/cr3-like.cr3"), single));
    TestProgram program(QStringLiteral("Pairs"), {QMessageBox::Ok});
    QVERIFY(program.StartShowing(Options({jpeg, raw, single}), 2, 60000));
    auto& [answerer, app, map, window] = program;
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{2});
    int pairAt = -1;
    int singleAt = -1;
    const auto& records = map->CurrentMap().m_pictures.Records();
    for (std::size_t i = 0; i < records.size(); ++i) {
      const QString path = QString::fromStdString(records[i].m_path);
      pairAt = path == jpeg ? static_cast<int>(i) : pairAt;
      singleAt = path == single ? static_cast<int>(i) : singleAt;
    }
    QVERIFY(pairAt >= 0 && singleAt >= 0);
    QCOMPARE(records[pairAt].m_pairedFiles, std::vector<std::string>{raw.toStdString()});
    QVERIFY(records[singleAt].m_pairedFiles.empty());

    // On the map: the pair's marker carries the pair badge, the single raw file's does not.
    RunScript(map, QStringLiteral("document.getElementById('tvFitAll').click(); true"));
    const QString badgeOf = QStringLiteral(
        "(function () {"
        "  var m = tv.pictures[%1].marker;"
        "  var s = m && m._shadow;"
        "  var b = s ? s.querySelector('.tvPair') || (s.classList.contains('tvPair') ? s : null) : null;"
        "  return m && m.getElement() ? (b ? b.textContent : '') : 'no marker';"
        "})()");
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, badgeOf.arg(pairAt)).toString(), QStringLiteral("RAW+JPEG"), 10000);
    QCOMPARE(RunScript(map, badgeOf.arg(singleAt)).toString(), QString());
    QCOMPARE(RunScript(map, QStringLiteral("document.querySelectorAll('#map .tvPair').length")).toInt(), 1);
    // The list entry and the marker's preview name both files; the single raw file's name one.
    const QString listTitle = QStringLiteral("document.querySelector('#list [data-index=\"%1\"]').title");
    const QString pairTitle = RunScript(map, listTitle.arg(pairAt + 1)).toString();
    QVERIFY2(pairTitle.contains(QStringLiteral("IMG_0005.JPG + img_0005.cr3")), qPrintable(pairTitle));
    QCOMPARE(RunScript(map, QStringLiteral("document.querySelectorAll('#list .tvPairMark').length")).toInt(), 1);
    QVERIFY(!RunScript(map, listTitle.arg(singleAt + 1)).toString().contains(QLatin1Char('+')));
    const QString preview =
        RunScript(map, QStringLiteral("tvPreview(tv.pictures[%1], 120).textContent").arg(pairAt)).toString();
    QVERIFY2(preview.contains(QStringLiteral("IMG_0005.JPG + img_0005.cr3")), qPrintable(preview));
    QVERIFY(!RunScript(map, QStringLiteral("tvPreview(tv.pictures[%1], 120).textContent").arg(singleAt))
                 .toString()
                 .contains(QStringLiteral(".cr3")));
    QVERIFY(answerer.mostModalAtOnce <= 1);
    app->ExitInstance();
  }

  void underTheRawInFileSettingADngAndAnOrfAreSavedInTheirOwnFilesWithAWarning() {
    TestHome::WriteFile(m_home->UserIni(), "[PtvTerravue]\n1.1\\raw_in_file=1\n");
    const QString folder = m_home->Path("raw");
    QVERIFY(QDir().mkpath(folder));
    const QString dng = folder + QStringLiteral("/DSC_0001.dng");
    const QString orf = folder + QStringLiteral("/P5170001.ORF");
    QVERIFY(QFile::copy(QString::fromUtf8(kFormats) + QStringLiteral("/crafted/dng-like.dng"), dng));
    QVERIFY(QFile::copy(QString::fromUtf8(kFormats) + QStringLiteral("/crafted/orf-like.orf"), orf));
    std::map<QString, QByteArray> before;
    for (const QString& path : {dng, orf}) {
      QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
      before[path] = FileBytes(path);
    }

    TestProgram program(QStringLiteral("Raw"), {QMessageBox::Ok});
    QVERIFY(program.StartShowing(Options({dng, orf}), 2, 60000));
    auto& [answerer, app, map, window] = program;
    // Both moved on the page (the way a drag leaves them), then saved through the menu.
    QCOMPARE(RunScript(map, QStringLiteral("tv.pictures.forEach(function (p) {"
                                           "  tvSetPosition(p, { lat: p.lat + 0.01, lng: p.lng + 0.02 });"
                                           "}); tv.fieldsUpdated = Date.now(); tv.pictures.length"))
                 .toInt(),
             2);
    QTRY_VERIFY_WITH_TIMEOUT(map->ReadPageEdits(true) && map->PendingCount() == 2, 10000);
    SaveAsNewMap(*app, map);
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      const QString path = QString::fromStdString(record.m_path);
      QCOMPARE(record.m_modified, std::uint8_t{0});
      // The position is in the raw file itself, which grew by its new GPS directory; no sidecar.
      QVERIFY(!QFile::exists(path + QStringLiteral(".xmp")));
      const QByteArray now = FileBytes(path);
      QVERIFY(now.size() > before[path].size());
      // An ORF keeps its own header.
      QCOMPARE(now.left(4), before[path].left(4));
      const auto read = PositionRead(record.m_path);
      QVERIFY(std::abs(read.first - DegreesOf(record.m_latitude, true)) < 1e-6);
      QVERIFY(std::abs(read.second - DegreesOf(record.m_longitude, false)) < 1e-6);
      const auto inFile = ExiftoolPosition(path, QStringLiteral("GPS"));
      if (!std::isnan(inFile.first)) {
        QVERIFY(std::abs(inFile.first - std::abs(read.first)) < 1e-6);
        QVERIFY(std::abs(inFile.second - std::abs(read.second)) < 1e-6);
      }
    }
    // The window says which raw files were changed in place, naming each.
    QStringList warnings;
    for (const QString& text : answerer.seen) {
      if (text.contains(QStringLiteral("raw files themselves"))) {
        warnings.append(text);
      }
    }
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(
        warnings[0].contains(QStringLiteral("DSC_0001.dng")) && warnings[0].contains(QStringLiteral("P5170001.ORF")),
        qPrintable(warnings[0]));
    QVERIFY(answerer.mostModalAtOnce <= 1);

    // Saved again with nothing moved: nothing written, no warning.
    const qsizetype seenBefore = answerer.seen.size();
    window->SaveOver();
    QVERIFY(PageBack(map, 60000));
    for (qsizetype i = seenBefore; i < answerer.seen.size(); ++i) {
      QVERIFY(!answerer.seen[i].contains(QStringLiteral("raw files themselves")));
    }
    app->ExitInstance();
    XpPhotoWrite::SetPolicy({});
  }

  void inJapaneseTheWarningAboutRawFilesChangedInPlaceIsJapanese() {
    AppStrings::Instance().SetLanguage(AppStrings::Language::Japanese);
    WriteBackReport report;
    report.rawChangedInPlace = {"/photos/DSC_0001.dng", "/photos/P5170001.ORF"};
    const QString japanese = RawChangedInPlaceMessage(report, 15);
    AppStrings::Instance().SetLanguage(AppStrings::Language::English);
    const QString english = RawChangedInPlaceMessage(report, 15);
    QVERIFY2(japanese.contains(QStringLiteral("RAW ファイル")) &&
                 japanese.contains(QStringLiteral("DSC_0001.dng\nP5170001.ORF")),
             qPrintable(japanese));
    QVERIFY(english.contains(QStringLiteral("DSC_0001.dng\nP5170001.ORF")));
    QVERIFY(english != japanese);
    // Many files: the first ones and a count of the rest.
    report.rawChangedInPlace.assign(20, "/photos/X.dng");
    QVERIFY(RawChangedInPlaceMessage(report, 15).contains(QStringLiteral("(+5)")));
    QVERIFY(RawChangedInPlaceMessage(WriteBackReport{}, 15).isEmpty());
  }

  void aSidecarThatDisagreesWithItsPhotoIsShownMarkedAndTheListSaysWhichFileHoldsWhich() {
    const QString folder = m_home->Path("conflict");
    QVERIFY(QDir().mkpath(folder));
    // A raw file that holds Rio de Janeiro itself, whose sidecar was given Osaka by another program's
    // move; and a PNG whose one position is in its file.
    const QString raw = folder + QStringLiteral("/IMG_0009.CR3");
    const QString png = folder + QStringLiteral("/map.png");
    QVERIFY(QFile::copy(QString::fromUtf8(kFormats) + QStringLiteral("/crafted/cr3-like.cr3"), raw));
    QVERIFY(QFile::copy(QString::fromUtf8(kFormats) + QStringLiteral("/crafted/png-exif.png"), png));
    for (const QString& path : {raw, png}) {
      QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    }
    XpGPSRecord osaka;
    QVERIFY(TextToRationals("N:34:41:00.000", &osaka.latitudeRef, &osaka.latitude, true));
    QVERIFY(TextToRationals("E:135:30:00.000", &osaka.longitudeRef, &osaka.longitude, false));
    const QByteArray rawBefore = FileBytes(raw);
    QCOMPARE(XpPhotoWrite::WriteGPS(raw.toStdString(), osaka), XpStatus::Ok);
    QCOMPARE(FileBytes(raw), rawBefore);
    // What exiftool reads: Rio in the raw file, Osaka in its sidecar.
    const auto inFile = ExiftoolPosition(raw, QStringLiteral("Composite"));
    if (!std::isnan(inFile.first)) {
      QVERIFY(std::abs(inFile.first - -22.9519166666667) < 1e-6 && std::abs(inFile.second - -43.2104861111111) < 1e-6);
      const auto inSidecar = ExiftoolPosition(raw + QStringLiteral(".xmp"), QStringLiteral("XMP-exif"));
      QVERIFY(std::abs(inSidecar.first - 34.6833333) < 1e-6 && std::abs(inSidecar.second - 135.5) < 1e-6);
    }

    TestProgram program(QStringLiteral("Conflict"), {QMessageBox::Ok});
    QVERIFY(program.StartShowing(Options({raw, png}), 2, 60000));
    auto& [answerer, app, map, window] = program;
    int rawAt = -1;
    int pngAt = -1;
    const auto& records = map->CurrentMap().m_pictures.Records();
    for (std::size_t i = 0; i < records.size(); ++i) {
      rawAt = QString::fromStdString(records[i].m_path) == raw ? static_cast<int>(i) : rawAt;
      pngAt = QString::fromStdString(records[i].m_path) == png ? static_cast<int>(i) : pngAt;
    }
    QVERIFY(rawAt >= 0 && pngAt >= 0);
    // The sidecar wins: the marker stands in Osaka.
    QVERIFY(std::abs(DegreesOf(records[rawAt].m_latitude, true) - 34.6833333) < 1e-6);
    QVERIFY(std::abs(DegreesOf(records[rawAt].m_longitude, false) - 135.5) < 1e-6);
    QVERIFY(std::abs(RunScript(map, QStringLiteral("tv.pictures[%1].marker.getLatLng().lat").arg(rawAt)).toDouble() -
                     34.6833333) < 1e-5);

    // Its marker carries the mark, the PNG's does not.
    RunScript(map, QStringLiteral("document.getElementById('tvFitAll').click(); true"));
    const QString markOf = QStringLiteral(
        "(function () {"
        "  var m = tv.pictures[%1].marker;"
        "  var s = m && m._shadow;"
        "  var b = s ? s.querySelector('.tvConflict') : null;"
        "  return m && m.getElement() ? (b ? b.textContent : '') : 'no marker';"
        "})()");
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, markOf.arg(rawAt)).toString(), QStringLiteral("XMP"), 10000);
    QCOMPARE(RunScript(map, markOf.arg(pngAt)).toString(), QString());
    QCOMPARE(RunScript(map, QStringLiteral("document.querySelectorAll('#map .tvConflict').length")).toInt(), 1);
    // The list entry and the preview say which file holds which position.
    const QString listTitle = QStringLiteral("document.querySelector('#list [data-index=\"%1\"]').title");
    const QString title = RunScript(map, listTitle.arg(rawAt + 1)).toString();
    QVERIFY2(title.contains(QStringLiteral("IMG_0009.CR3.xmp")) && title.contains(QStringLiteral("IMG_0009.CR3 ")) &&
                 title.contains(QStringLiteral("-22.95192, -43.21049")),
             qPrintable(title));
    QCOMPARE(RunScript(map, QStringLiteral("document.querySelectorAll('#list .tvConflictMark').length")).toInt(), 1);
    QVERIFY(!RunScript(map, listTitle.arg(pngAt + 1)).toString().contains(QStringLiteral(".xmp")));
    const QString preview =
        RunScript(map, QStringLiteral("tvPreview(tv.pictures[%1], 120).textContent").arg(rawAt)).toString();
    QVERIFY2(preview.contains(QStringLiteral("IMG_0009.CR3.xmp")) && preview.contains(QStringLiteral("-22.95192")),
             qPrintable(preview));
    QVERIFY(!RunScript(map, QStringLiteral("tvPreview(tv.pictures[%1], 120).textContent").arg(pngAt))
                 .toString()
                 .contains(QStringLiteral(".xmp")));

    // Moved and saved: the sidecar takes the new position (the raw file stays as it was), so the
    // two still differ and the mark stays, with the file's position unchanged.
    DragFrom(
        map,
        [&] {
          const QVariantList xy =
              RunScript(map, QStringLiteral("(function () { tv.map.closePopup();"
                                            "  var r = tv.pictures[%1].marker.getElement().getBoundingClientRect();"
                                            "  return [r.left + r.width / 2, r.top + r.height / 2]; })()")
                                 .arg(rawAt))
                  .toList();
          return xy.size() == 2 ? QPoint(qRound(xy[0].toDouble()), qRound(xy[1].toDouble())) : QPoint();
        }(),
        0, -40);
    QTRY_VERIFY_WITH_TIMEOUT(map->ReadPageEdits(true) && map->PendingCount() == 1, 10000);
    SaveAsNewMap(*app, map);
    QCOMPARE(FileBytes(raw), rawBefore);
    const PictureRecord& saved = map->CurrentMap().m_pictures.Records()[rawAt];
    const auto read = PositionRead(raw.toStdString());
    QVERIFY(std::abs(read.first - DegreesOf(saved.m_latitude, true)) < 1e-6);
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(map, QStringLiteral("document.getElementById('tvFitAll') !== null")).toBool(),
                             60000);
    RunScript(map, QStringLiteral("document.getElementById('tvFitAll').click(); true"));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, markOf.arg(rawAt)).toString(), QStringLiteral("XMP"), 60000);
    QVERIFY(RunScript(map, listTitle.arg(rawAt + 1)).toString().contains(QStringLiteral("-22.95192, -43.21049")));
    QVERIFY(answerer.mostModalAtOnce <= 1);
    app->ExitInstance();
  }

  void withPairsUnlinkedTheRawFileIsAMarkerOfItsOwn() {
    TestHome::WriteFile(m_home->UserIni(), "[PtvTerravue]\n1.1\\pair_raw_jpeg=0\n");
    const QString folder = m_home->Path("pair");
    QVERIFY(QDir().mkpath(folder));
    const QString jpeg = folder + QStringLiteral("/IMG_0002.JPG");
    const QString raw = folder + QStringLiteral("/IMG_0002.CR3");
    QVERIFY(MakeJpegWithRaw(jpeg, raw));
    TestProgram program(QStringLiteral("Pair"), {QMessageBox::Ok});
    QVERIFY(program.StartShowing(Options({jpeg, raw}), 2, 60000));
    auto& [answerer, app, map, window] = program;
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{2});
    // Two photos of one file each: no pair badge on the map or in the list.
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      QVERIFY(record.m_pairedFiles.empty());
    }
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tv.pictures.filter(function (p) {"
                                                            "  return p.pairedWith !== undefined; }).length"))
                                  .toInt(),
                              2, 10000);
    QCOMPARE(RunScript(map, QStringLiteral("document.querySelectorAll('.tvPair, .tvPairMark').length")).toInt(), 0);
    QVERIFY(answerer.mostModalAtOnce <= 1);
    app->ExitInstance();
    SetRawJpegPairsLinked(true);
  }
};

TV_QTEST_MAIN(MixedFolderTest)
#include "tst_mixedfolder.moc"
