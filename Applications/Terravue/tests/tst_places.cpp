// "Name places" through the map window with the embedded server and browser: three photos named
// from the menu and the dialog, undone and redone, saved, and read back by exiftool tag by tag; a
// write-protected photo reports its failure and stays as it was.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <memory>

#include "Applications/Terravue/CPlaceNamesDlg.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/tests/AppTestSupport.h"
#include "Applications/Terravue/tests/TestPhotos.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/tests/ExiftoolSupport.h"

namespace {

/// Answers the "Name places" dialog when it opens: notes what it proposes, chooses `choice` in
/// the first row (0: the nearest place) and clicks Name, or Cancel with `cancel`.
class PlacesAnswerer : public QObject {
 public:
  explicit PlacesAnswerer(int choice = 0, bool cancel = false) : m_choice(choice), m_cancel(cancel) {
    connect(&m_timer, &QTimer::timeout, this, &PlacesAnswerer::Answer);
    m_timer.start(20);
  }
  void Stop() { m_timer.stop(); }
  int dialogs = 0;
  int rows = 0;
  QStringList firstChoices;  ///< the texts of the first row's place list
  QStringList cities;        ///< the City column as previewed, per row
  QString note;

 private:
  void Answer() {
    auto* dialog = qobject_cast<CPlaceNamesDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) {
      return;
    }
    ++dialogs;
    QTableWidget* table = dialog->Table();
    rows = table->rowCount();
    if (QComboBox* box = dialog->ChoiceBox(0); box != nullptr) {
      for (int i = 0; i < box->count(); ++i) {
        firstChoices.append(box->itemText(i));
      }
      box->setCurrentIndex(m_choice);
    }
    for (int r = 0; r < rows; ++r) {
      cities.append(table->item(r, CPlaceNamesDlg::kCity)->text());
    }
    if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("placesNote")); label != nullptr) {
      note = label->text();
    }
    QPushButton* button = m_cancel ? dialog->CancelButton() : dialog->NameButton();
    QTest::mouseClick(button, Qt::LeftButton);
  }
  int m_choice;
  bool m_cancel;
  QTimer m_timer;
};

std::string Tag(const exiftool_test::TagMap& tags, const std::string& key) {
  const auto it = tags.find(key);
  return it == tags.end() ? std::string() : it->second;
}

}  // namespace

class PlacesTest : public AppTestCase {
  Q_OBJECT

 private:
  /// Three photos with positions: an agency photo with its own IIM block (Washington), a camera
  /// photo given a position in Kyoto, and a made one in Tokyo.
  QStringList MakeThreePhotos() {
    const QString folder = PhotoFolder();
    const QString camera = QStringLiteral(TV_TESTDATA_DIR "/camera/");
    const QStringList paths = {folder + QStringLiteral("/agency.jpg"), folder + QStringLiteral("/kyoto.jpg"),
                               folder + QStringLiteral("/tokyo.jpg")};
    if (!QDir().mkpath(folder) ||
        !QFile::copy(camera + QStringLiteral("exifr-iptc-agency-photographer-example.jpg"), paths[0]) ||
        !QFile::copy(camera + QStringLiteral("exifpy-Canon_40D.jpg"), paths[1]) ||
        !MakeTestPhoto(paths[2], 640, 480, 3, XpDateTime(2024, 5, 1, 10, 0, 0), "N:35:39:30.000", "E:139:42:00.000")) {
      return {};
    }
    QFile::setPermissions(paths[0], QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(paths[1], QFile::ReadOwner | QFile::WriteOwner);
    // The camera photo gets its position through the program's own write.
    PictureRecord record(paths[1].toStdString(), "", "");
    if (record.ReadPositionAndTime() == PictureResult::NotJpegStill) {
      return {};
    }
    record.SetPosition("N:35:00:13.320", "E:135:46:43.680");
    PictureRecord::PictureWrite written = PictureRecord::PictureWrite::NotAttempted;
    static_cast<void>(record.WritePosition(folder.toStdString(), PictureRecord::WriteMode::Apply, nullptr, &written));
    return written == PictureRecord::PictureWrite::Written ? paths : QStringList();
  }

  /// The names the map holds for each of its photos to get, by path (photos without any left out).
  static std::map<std::string, XpLocationWrite::Names> ChosenNames(CTerravueHtmlWnd* map) {
    std::map<std::string, XpLocationWrite::Names> chosen;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      if (record.m_names) {
        chosen[record.m_path] = *record.m_names;
      }
    }
    return chosen;
  }

  static int PendingMarks(CTerravueHtmlWnd* map) {
    return RunScript(map, QStringLiteral("document.querySelectorAll('a.tvPending').length")).toInt();
  }

  /// Clicks the middle of the page's element that `element` (a script expression) names.
  static void ClickOnPage(CTerravueHtmlWnd* map, const QString& element, Qt::MouseButton button) {
    const QVariantList at = RunScript(map, QStringLiteral("(function () { var e = %1; if (!e) { return []; }"
                                                          " var r = e.getBoundingClientRect();"
                                                          " return [r.left + r.width / 2, r.top + r.height / 2]; })()")
                                               .arg(element))
                                .toList();
    QCOMPARE(at.size(), 2);
    QWidget* target = map->focusProxy();
    QVERIFY(target != nullptr);
    const QPoint point(qRound(at[0].toDouble()), qRound(at[1].toDouble()));
    QTest::mousePress(target, button, Qt::NoModifier, point);
    QTest::mouseRelease(target, button, Qt::NoModifier, point);
  }

  static void SelectAll(CTerravueHtmlWnd* map) {
    QCOMPARE(RunScript(map, QStringLiteral("tvSetSelection(tv.pictures); tv.selection.length")).toInt(),
             static_cast<int>(map->CurrentMap().m_pictures.Count()));
  }

 private slots:
  void init() {
    AppTestCase::init();
    TV_SKIP_WITHOUT_PAGE_FILES();
  }

  // The dialog on its own: the preview shows what the photo holds and what it would get, from its
  // XMP or else its IIM block; a proposal the time zone disagrees with is marked with the reason;
  // another place changes the preview; "Leave as it is" names nothing.
  void theDialogPreviewsEachFieldAndMarksAProposalToCheck() {
    PlaceNamingRow row;
    row.fileName = QStringLiteral("border.jpg");
    row.position = GeoPoint{47.566, 7.585};
    row.proposal.nearest.place = Place{"Basel", "Basel-City", "CH", "Switzerland", GeoPoint{47.5584, 7.5733}};
    row.proposal.nearest.distanceKm = 1.3;
    row.proposal.alternatives = {PlaceMatch{Place{"Saint-Louis", "Grand Est", "FR", "France", GeoPoint{47.59, 7.56}}}};
    row.proposal.review = true;
    row.proposal.zone = "Europe/Paris";
    row.proposal.reviewKind = PlaceReview::ZoneOfOtherCountry;
    row.proposal.reviewZoneCountry = "FR";
    row.proposal.reviewReason = "the place is in CH, but the time zone there (Europe/Paris) is FR's";
    row.current.xmp.legacy.city = "Basle";
    row.current.hasIim = true;
    row.current.iim.state = "BS";
    CPlaceNamesDlg dialog({row}, QString(), nullptr);
    QTableWidget* table = dialog.Table();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, CPlaceNamesDlg::kPhoto)->text(), QStringLiteral("border.jpg"));
    QCOMPARE(table->item(0, CPlaceNamesDlg::kCity)->text(), QStringLiteral("Basle \u2192 Basel"));
    QCOMPARE(table->item(0, CPlaceNamesDlg::kState)->text(), QStringLiteral("BS \u2192 Basel-City"));
    QCOMPARE(table->item(0, CPlaceNamesDlg::kCountry)->text(), QStringLiteral("\u2013 \u2192 Switzerland"));
    QCOMPARE(table->item(0, CPlaceNamesDlg::kCode)->text(), QStringLiteral("\u2013 \u2192 CH"));
    QCOMPARE(table->item(0, CPlaceNamesDlg::kSublocation)->text(), QString());
    QCOMPARE(table->item(0, CPlaceNamesDlg::kReview)->text(),
             QStringLiteral("Please check: the place is in CH, but the time zone there (Europe/Paris) is FR's"));
    QComboBox* box = dialog.ChoiceBox(0);
    QVERIFY(box != nullptr);
    QCOMPARE(box->count(), 3);
    QCOMPARE(box->itemText(0), QStringLiteral("Basel, 1.3 km NE (Basel-City, Switzerland, CH)"));
    const auto nearest = dialog.Names(0);
    QVERIFY(nearest.has_value());
    QCOMPARE(nearest->countryCode3, std::string("CHE"));
    box->setCurrentIndex(1);
    QCOMPARE(table->item(0, CPlaceNamesDlg::kCity)->text(), QStringLiteral("Basle \u2192 Saint-Louis"));
    QCOMPARE(dialog.Names(0)->countryCode3, std::string("FRA"));
    box->setCurrentIndex(2);
    QCOMPARE(box->currentText(), QStringLiteral("Leave as it is"));
    QVERIFY(!dialog.Names(0).has_value());
    QCOMPARE(table->item(0, CPlaceNamesDlg::kCity)->text(), QStringLiteral("Basle"));
  }

  // Each reason for a check reads in the user's language, with its values in place.
  void theReasonForACheckReadsInEnglishAndJapanese() {
    PlaceProposal proposal;
    proposal.nearest.place = Place{"Basel", "Basel-City", "CH", "Switzerland", GeoPoint{47.5584, 7.5733}};
    proposal.nearest.distanceKm = 120.0;
    proposal.zone = "Etc/GMT-1";
    proposal.reviewZoneCountry = "FR";
    QCOMPARE(CPlaceNamesDlg::ReviewText(proposal), QString());
    struct Case {
      PlaceReview kind;
      QString english;
      QString japanese;
    };
    const Case cases[] = {
        {PlaceReview::FarFromPlace, QStringLiteral("Please check: the nearest place is 120 km away"),
         QStringLiteral("確認してください: 最も近い地名まで120 kmあります")},
        {PlaceReview::ZoneWithoutCountry,
         QStringLiteral("Please check: the time zone Etc/GMT-1 belongs to no country the zone table lists"),
         QStringLiteral("確認してください: 時間帯Etc/GMT-1は、時間帯の一覧にあるどの国のものでもありません")},
        {PlaceReview::ZoneOfOtherCountry,
         QStringLiteral("Please check: the place is in CH, but the time zone there (Etc/GMT-1) is FR's"),
         QStringLiteral("確認してください: 地名はCHにありますが、その場所の時間帯(Etc/GMT-1)はFRのものです")},
    };
    for (const Case& c : cases) {
      proposal.review = true;
      proposal.reviewKind = c.kind;
      AppStrings::Instance().SetLanguage(AppStrings::Language::Japanese);
      const QString japanese = CPlaceNamesDlg::ReviewText(proposal);
      AppStrings::Instance().SetLanguage(AppStrings::Language::English);
      QCOMPARE(CPlaceNamesDlg::ReviewText(proposal), c.english);
      QCOMPARE(japanese, c.japanese);
    }
  }

  // A missing time-zone map or zone table is said under the introduction, not passed over.
  void theDialogSaysWhenTheCountriesGoUnchecked() {
    QCOMPARE(CPlaceNamesDlg::NoteText(0, true, true), QString());
    const QString noMap = CPlaceNamesDlg::NoteText(0, false, false);
    QCOMPARE(noMap, QStringLiteral("The time-zone map could not be read: the proposed countries are not checked "
                                   "against the time zone at each position."));
    QVERIFY(CPlaceNamesDlg::NoteText(0, true, false).contains(QStringLiteral("zone1970.tab")));
    const QString both = CPlaceNamesDlg::NoteText(2, false, true);
    QVERIFY(both.startsWith(QStringLiteral("2 of the selected photos are left out")));
    QVERIFY(both.endsWith(noMap));
    AppStrings::Instance().SetLanguage(AppStrings::Language::Japanese);
    const QString japanese = CPlaceNamesDlg::NoteText(0, false, true);
    AppStrings::Instance().SetLanguage(AppStrings::Language::English);
    QCOMPARE(japanese, QStringLiteral(
                           "時間帯の地図を読み込めないため、提案された国をその場所の時間帯と照らし合わせていません。"));

    PlaceNamingRow row;
    row.fileName = QStringLiteral("a.jpg");
    row.proposal.nearest.place = Place{"Basel", "Basel-City", "CH", "Switzerland", GeoPoint{47.5584, 7.5733}};
    CPlaceNamesDlg dialog({row}, noMap, nullptr);
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("placesNote"));
    QVERIFY(label != nullptr);
    QCOMPARE(label->text(), noMap);
  }

  void threePhotosNamedFromTheMenuAreUndoneRedoneAndSavedWithNothingElseChanged() {
    if (!exiftool_test::HaveTool("exiftool")) {
      QSKIP("exiftool is needed");
    }
    const QStringList photos = MakeThreePhotos();
    QCOMPARE(photos.size(), 3);
    const std::string folder = PhotoFolder().toStdString();
    const auto before = exiftool_test::ReadWithExiftool(folder, "*.jpg");
    QCOMPARE(before.size(), std::size_t{3});
    std::map<QString, QByteArray> bytes;
    for (const QString& photo : photos) {
      bytes[photo] = FileBytes(photo);
    }

    ModalAnswerer answerer(QStringLiteral("Trip"));
    auto app = std::make_unique<CTerravueApp>(Options(photos));
    // Kyoto and Tokyo may share a cluster: the page's photos are counted, not its markers.
    CTerravueHtmlWnd* map = StartApp(*app);
    QVERIFY(map != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tv.pictures.length")).toInt(), 3, 30000);
    CTerravueBaseWnd* window = app->MainWindow();

    // Nothing selected: the user is told, nothing is proposed.
    {
      PlacesAnswerer places;
      Trigger(window, MainMenu::kNamePlaces);
      QTRY_VERIFY_WITH_TIMEOUT(!answerer.seen.isEmpty(), 10000);
      QCOMPARE(answerer.seen.constLast(),
               QStringLiteral("Select the photos to name first, in the list or on the map."));
      QCOMPARE(places.dialogs, 0);
    }

    // All three selected; the dialog proposes, the first row takes its second place, Name.
    SelectAll(map);
    std::vector<std::string> order;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      order.push_back(record.m_path);
    }
    PlacesAnswerer places(/*choice=*/1);
    Trigger(window, MainMenu::kNamePlaces);
    QCOMPARE(places.dialogs, 1);
    QCOMPARE(places.rows, 3);
    // The nearest place and the five next ones, then "Leave as it is".
    QCOMPARE(places.firstChoices.size(), 7);
    QCOMPARE(places.firstChoices.constLast(), QStringLiteral("Leave as it is"));
    QVERIFY2(places.firstChoices.constFirst().contains(QStringLiteral(" km")), qPrintable(places.firstChoices[0]));
    QVERIFY(places.note.isEmpty());
    QCOMPARE(PendingMarks(map), 3);
    QCOMPARE(map->PendingCount(), 3);
    QVERIFY(map->IsModified());
    for (const QString& photo : photos) {
      QCOMPARE(FileBytes(photo), bytes[photo]);
    }
    // What each photo is to get, as the map holds it.
    std::map<std::string, XpLocationWrite::Names> chosen = ChosenNames(map);
    QCOMPARE(chosen.size(), std::size_t{3});
    const XpLocationWrite::Names& agency = chosen[photos[0].toStdString()];
    const XpLocationWrite::Names& kyoto = chosen[photos[1].toStdString()];
    const XpLocationWrite::Names& tokyo = chosen[photos[2].toStdString()];
    QCOMPARE(agency.countryCode, std::string("US"));
    QCOMPARE(kyoto.countryCode, std::string("JP"));
    QCOMPARE(kyoto.countryCode3, std::string("JPN"));
    QCOMPARE(tokyo.country, std::string("Japan"));
    // The first row took its second choice: its city is the one of that line.
    const std::string firstCity = chosen[order[0]].city;
    QVERIFY2(places.firstChoices[1].startsWith(QString::fromStdString(firstCity) + QStringLiteral(", ")),
             qPrintable(places.firstChoices[1]));

    // One undo takes all three back; the photos were never touched; a save then writes nothing.
    Trigger(window, MainMenu::kUndo);
    QCOMPARE(PendingMarks(map), 0);
    QVERIFY(!map->ReadPageEdits(true));
    QCOMPARE(map->PendingCount(), 0);
    QSignalSpy sent(map, &CTerravueHtmlWnd::querySent);
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, 30000);
    QVERIFY(PageBack(map));
    for (const QString& photo : photos) {
      QCOMPARE(FileBytes(photo), bytes[photo]);
    }

    // Redo on the page shown anew and save: the names go into the photos.
    places.Stop();
    SelectAll(map);
    PlacesAnswerer again(/*choice=*/1);
    Trigger(window, MainMenu::kNamePlaces);
    QCOMPARE(again.dialogs, 1);
    Trigger(window, MainMenu::kUndo);
    QCOMPARE(PendingMarks(map), 0);
    Trigger(window, MainMenu::kRedo);
    QCOMPARE(PendingMarks(map), 3);
    answerer.seen.clear();
    Trigger(window, MainMenu::kSaveOver);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);
    QCOMPARE(map->PendingCount(), 0);
    QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.seen.join(QLatin1Char('\n'))));

    const auto after = exiftool_test::ReadWithExiftool(folder, "*.jpg");
    QCOMPARE(after.size(), std::size_t{3});
    for (const QString& photo : photos) {
      const std::string name = photo.section(QLatin1Char('/'), -1).toStdString();
      const exiftool_test::TagMap& old = before.at(name);
      const exiftool_test::TagMap& now = after.at(name);
      const XpLocationWrite::Names& names = chosen[photo.toStdString()];
      QCOMPARE(Tag(now, "XMP-photoshop:City"), names.city);
      QCOMPARE(Tag(now, "XMP-photoshop:State"), names.state);
      QCOMPARE(Tag(now, "XMP-photoshop:Country"), names.country);
      QCOMPARE(Tag(now, "XMP-iptcCore:CountryCode"), names.countryCode);
      // IIM only where the photo had it.
      QCOMPARE(now.count("IPTC:City"), old.count("IPTC:City"));
      if (old.count("IPTC:City") != 0) {
        QCOMPARE(Tag(now, "IPTC:City"), names.city.substr(0, 32));
        QCOMPARE(Tag(now, "IPTC:Country-PrimaryLocationCode"), names.countryCode3);
      }
      for (const std::string& diff : exiftool_test::Differences(old, now, exiftool_test::ChangedByNaming)) {
        QFAIL(qPrintable(QString::fromStdString(name + ": " + diff)));
      }
    }
    app->ExitInstance();
  }

  void namesChosenStayUndoableWhenThePageIsShownAnewAndAnUndoAfterTheSavePutsTheOldOnesBack() {
    if (!exiftool_test::HaveTool("exiftool")) {
      QSKIP("exiftool is needed");
    }
    const QStringList photos = MakeThreePhotos();
    QCOMPARE(photos.size(), 3);
    const std::string folder = PhotoFolder().toStdString();
    const auto before = exiftool_test::ReadWithExiftool(folder, "*.jpg");
    QCOMPARE(before.size(), std::size_t{3});

    ModalAnswerer answerer(QStringLiteral("Trip"));
    auto app = std::make_unique<CTerravueApp>(Options(photos));
    CTerravueHtmlWnd* map = StartApp(*app);
    QVERIFY(map != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tv.pictures.length")).toInt(), 3, 30000);
    CTerravueBaseWnd* window = app->MainWindow();
    SelectAll(map);
    PlacesAnswerer places;
    Trigger(window, MainMenu::kNamePlaces);
    QCOMPARE(places.dialogs, 1);
    QCOMPARE(PendingMarks(map), 3);
    std::map<std::string, XpLocationWrite::Names> chosen = ChosenNames(map);
    QCOMPARE(chosen.size(), std::size_t{3});

    // The same map shown anew: the names still wait, and their step is still there to undo.
    QSignalSpy sent(map, &CTerravueHtmlWnd::querySent);
    window->OnCommand(MainMenu::kSendAgain);
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, 30000);
    QVERIFY(PageBack(map));
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 3, 10000);
    QCOMPARE(map->PendingCount(), 3);
    Trigger(window, MainMenu::kUndo);
    QCOMPARE(PendingMarks(map), 0);
    QVERIFY(!map->ReadPageEdits(true));
    QCOMPARE(map->PendingCount(), 0);
    Trigger(window, MainMenu::kRedo);
    QCOMPARE(PendingMarks(map), 3);

    // Saved: the names are in the photos.
    Trigger(window, MainMenu::kSaveAsNew);
    QVERIFY(PageBack(map, 60000));
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);
    QCOMPARE(map->PendingCount(), 0);
    for (const QString& photo : photos) {
      XpLocationWrite::Current current;
      QCOMPARE(XpPhotoWrite::ReadNames(photo.toStdString(), &current), XpStatus::Ok);
      QCOMPARE(current.xmp.legacy.city, chosen[photo.toStdString()].city);
    }

    // Undone after the save: the photos wait to get their earlier names back, and the next save
    // writes them; a redo then would ask for the chosen ones again.
    Trigger(window, MainMenu::kUndo);
    QCOMPARE(PendingMarks(map), 3);
    QVERIFY(map->ReadPageEdits(true));
    QCOMPARE(map->PendingCount(), 3);
    Trigger(window, MainMenu::kSaveOver);
    QVERIFY(PageBack(map, 60000));
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);
    QCOMPARE(map->PendingCount(), 0);
    const auto after = exiftool_test::ReadWithExiftool(folder, "*.jpg");
    QCOMPARE(after.size(), std::size_t{3});
    for (const QString& photo : photos) {
      const std::string name = photo.section(QLatin1Char('/'), -1).toStdString();
      const exiftool_test::TagMap& old = before.at(name);
      const exiftool_test::TagMap& now = after.at(name);
      // Each name tag as it was: there with the same value, or not there.
      for (const char* tag : {"XMP-photoshop:City", "XMP-photoshop:State", "XMP-photoshop:Country",
                              "XMP-iptcCore:CountryCode", "IPTC:City", "IPTC:Province-State",
                              "IPTC:Country-PrimaryLocationCode", "IPTC:Country-PrimaryLocationName"}) {
        QVERIFY2(now.count(tag) == old.count(tag), qPrintable(QString::fromStdString(name + " " + tag)));
        QVERIFY2(Tag(now, tag) == Tag(old, tag),
                 qPrintable(QString::fromStdString(name + " " + tag + ": " + Tag(now, tag))));
      }
      for (const std::string& diff : exiftool_test::Differences(old, now, exiftool_test::ChangedByNaming)) {
        QFAIL(qPrintable(QString::fromStdString(name + ": " + diff)));
      }
    }
    Trigger(window, MainMenu::kRedo);
    QCOMPARE(PendingMarks(map), 3);
    QVERIFY(map->ReadPageEdits(true));
    QCOMPARE(map->PendingCount(), 3);
    app->ExitInstance();
  }

  void aPngAndARawFileNamedThroughTheDialogGetTheirNamesInSidecarsAndStayAsTheyWere() {
    const QString folder = PhotoFolder();
    QVERIFY(QDir().mkpath(folder));
    const QString formats = QStringLiteral(TV_TESTDATA_DIR "/formats/crafted/");
    const QString png = folder + QStringLiteral("/map.png");
    const QString raw = folder + QStringLiteral("/IMG_0009.CR3");
    QVERIFY(QFile::copy(formats + QStringLiteral("png-exif.png"), png));
    QVERIFY(QFile::copy(formats + QStringLiteral("cr3-like.cr3"), raw));
    for (const QString& path : {png, raw}) {
      QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    }
    const QByteArray pngBefore = FileBytes(png);
    const QByteArray rawBefore = FileBytes(raw);

    ModalAnswerer answerer(QStringLiteral("Trip"));
    auto app = std::make_unique<CTerravueApp>(Options({png, raw}));
    CTerravueHtmlWnd* map = StartApp(*app);
    QVERIFY(map != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("tv.pictures.length")).toInt(), 2, 30000);
    CTerravueBaseWnd* window = app->MainWindow();
    SelectAll(map);
    PlacesAnswerer places;
    Trigger(window, MainMenu::kNamePlaces);
    QCOMPARE(places.dialogs, 1);
    QCOMPARE(places.rows, 2);
    QCOMPARE(PendingMarks(map), 2);
    std::map<std::string, XpLocationWrite::Names> chosen = ChosenNames(map);
    QCOMPARE(chosen.size(), std::size_t{2});
    QCOMPARE(FileBytes(png), pngBefore);

    Trigger(window, MainMenu::kSaveAsNew);
    QVERIFY(PageBack(map, 60000));
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 0, 10000);
    // The photos themselves are as they were; each has its names in its sidecar.
    QCOMPARE(FileBytes(png), pngBefore);
    QCOMPARE(FileBytes(raw), rawBefore);
    for (const QString& photo : {png, raw}) {
      QVERIFY2(QFile::exists(photo + QStringLiteral(".xmp")), qPrintable(photo));
      XpLocationWrite::Current current;
      QCOMPARE(XpPhotoWrite::ReadNames(photo.toStdString(), &current), XpStatus::Ok);
      const XpLocationWrite::Names& names = chosen[photo.toStdString()];
      QVERIFY(!names.city.empty());
      QCOMPARE(current.xmp.legacy.city, names.city);
      QCOMPARE(current.xmp.created.countryCode, names.countryCode);
      if (exiftool_test::HaveTool("exiftool")) {
        const auto read = exiftool_test::ReadWithExiftool(folder.toStdString(),
                                                          (photo.section(QLatin1Char('/'), -1) + ".xmp").toStdString());
        QCOMPARE(read.size(), std::size_t{1});
        QCOMPARE(Tag(read.begin()->second, "XMP-photoshop:City"), names.city);
        QCOMPARE(Tag(read.begin()->second, "XMP-photoshop:Country"), names.country);
      }
    }
    // The PNG keeps its position in its own file: the save says its names went beside it.
    QVERIFY2(answerer.seen.join(QLatin1Char('\n')).contains(QStringLiteral("map.png")),
             qPrintable(answerer.seen.join(QLatin1Char('\n'))));
    app->ExitInstance();
  }

  void aWriteProtectedPhotoReportsItsFailureAndStaysAsItWas() {
    const QStringList photos = MakeThreePhotos();
    QCOMPARE(photos.size(), 3);
    const QString locked = photos[0];
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner));
    const QByteArray original = FileBytes(locked);

    ModalAnswerer answerer(QStringLiteral("Locked"));
    auto app = std::make_unique<CTerravueApp>(Options({locked}));
    CTerravueHtmlWnd* map = StartWithMarkers(*app, 1);
    QVERIFY(map != nullptr);
    CTerravueBaseWnd* window = app->MainWindow();
    // Named from the photo's own menu in the list: a right click on it, a click on the entry.
    PlacesAnswerer places;
    ClickOnPage(map, QStringLiteral("tv.pictures[0].item"), Qt::RightButton);
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(map, QStringLiteral("!!document.getElementById('tvNamePlaces')")).toBool(),
                             10000);
    ClickOnPage(map, QStringLiteral("document.getElementById('tvNamePlaces')"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(places.dialogs, 1, 10000);
    QCOMPARE(PendingMarks(map), 1);
    answerer.seen.clear();
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_VERIFY_WITH_TIMEOUT(!answerer.seen.isEmpty(), 60000);
    QVERIFY(PageBack(map));
    const QString report = answerer.seen.join(QLatin1Char('\n'));
    QVERIFY2(report.contains(QStringLiteral("agency.jpg")), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("read-only")), qPrintable(report));
    QCOMPARE(FileBytes(locked), original);
    // Still waiting, with the reason on its mark; the next save tries again.
    QTRY_COMPARE_WITH_TIMEOUT(PendingMarks(map), 1, 10000);
    QCOMPARE(map->PendingCount(), 1);
    const QString title = RunScript(map, QStringLiteral("document.querySelector('a.tvPending').title")).toString();
    QVERIFY2(title.contains(QStringLiteral("read-only")), qPrintable(title));
    app->ExitInstance();
  }
};

TV_QTEST_MAIN(PlacesTest)
#include "tst_places.moc"
