// What the program tells the user when something can't be done: saved maps
// that can't be opened, names that can't be used, dropped files that are not
// added, help that can't be shown; and notices that stay clear of each other
// and of the dialogs the user must answer.
#include <QAbstractButton>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEngineScript>
#include <memory>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppMessageBox.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CCustomButton.h"
#include "Applications/Terravue/CInfoNoticeDlg.h"
#include "Applications/Terravue/CSaveDlg.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/CommandLine.h"
#include "Applications/Terravue/DropSorting.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/UserMessages.h"
#include "Applications/Terravue/mapdata/MapStateStore.h"
#include "Applications/Terravue/tests/AppTestSupport.h"
#include "Applications/Terravue/tests/TestPhotos.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

QStringList InfoNoticeTexts(QWidget* window) {
  QStringList texts;
  for (const CInfoNoticeDlg* notice : window->findChildren<CInfoNoticeDlg*>()) {
    texts.append(notice->MessageLabel()->text());
  }
  return texts;
}

/// The centre of the first element `selector` finds, in the view's coordinates.
QPoint CentreOf(QWebEngineView* view, const QString& selector) {
  const QVariantList at = RunScript(view, QStringLiteral("(function () { var e = document.querySelector(%1);"
                                                         " if (!e) { return []; }"
                                                         " var r = e.getBoundingClientRect();"
                                                         " return [r.left + r.width / 2, r.top + r.height / 2]; })()")
                                              .arg(QLatin1Char('\'') + selector + QLatin1Char('\'')))
                              .toList();
  return at.size() == 2 ? QPoint(qRound(at[0].toDouble()), qRound(at[1].toDouble())) : QPoint(-1, -1);
}

/// Clicks with `button` at `point` of the page with real mouse events.
void ClickPage(QWebEngineView* view, Qt::MouseButton button, const QPoint& point) {
  QWidget* target = view->focusProxy();
  QVERIFY(target != nullptr);
  QTest::mouseMove(target, point);
  QTest::qWait(50);
  QTest::mousePress(target, button, Qt::NoModifier, point);
  QTest::qWait(30);
  QTest::mouseRelease(target, button, Qt::NoModifier, point);
}

/// Drops `data` on `target` as a drag and drop does: entering first, then dropping.
void DropOn(QWidget* target, const QMimeData& data) {
  const QPoint at(20, 20);
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

/// Opens the main window's menu and clicks the entry of command `id` with the mouse.
void ClickMenuEntry(CTerravueBaseWnd* window, int id) {
  window->PopupMenu(window->mapToGlobal(QPoint(100, 100)));
  QMenu* menu = window->Menu();
  QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 5000);
  QAction* entry = nullptr;
  for (QAction* action : menu->actions()) {
    if (MainMenu::CommandOf(action) == id) {
      entry = action;
    }
  }
  QVERIFY(entry != nullptr);
  QVERIFY(entry->isEnabled());
  const QPoint at = menu->actionGeometry(entry).center();
  QTest::mouseMove(menu, at);
  QTest::qWait(150);
  QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, at);
}

/// Answers the file dialogs as they open: with the next of `files`, recording
/// the folder each one starts in; Cancel when there is none left. A dialog
/// still open after its answer gets the same answer again.
class FileDialogAnswerer : public QObject {
 public:
  explicit FileDialogAnswerer(QStringList answers) : files(std::move(answers)) {
    connect(&m_timer, &QTimer::timeout, this, [this] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || !dialog->isVisible()) {
        return;
      }
      if (dialog != m_answering) {
        m_answering = dialog;
        folders.append(dialog->directory().absolutePath());
        m_answer = files.isEmpty() ? QString() : files.takeFirst();
      }
      if (m_answer.isEmpty()) {
        dialog->reject();
        return;
      }
      // Types the path into the file name box and presses Open, as a user does.
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (name == nullptr) {
        return;
      }
      name->setText(m_answer);
      static_cast<QDialog*>(dialog)->accept();
    });
    m_timer.start(20);
  }

  QStringList files;
  QStringList folders;

 private:
  QTimer m_timer;
  QPointer<QFileDialog> m_answering;
  QString m_answer;
};

/// Copies the folder `from` with its files and subfolders to `to`.
bool CopyFolder(const QString& from, const QString& to) {
  if (!QDir().mkpath(to)) {
    return false;
  }
  const QDir source(from);
  for (const QFileInfo& entry : source.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
    const QString target = to + QLatin1Char('/') + entry.fileName();
    if (entry.isDir() ? !CopyFolder(entry.filePath(), target) : !QFile::copy(entry.filePath(), target)) {
      return false;
    }
  }
  return true;
}

// Shows `owner`, the window the notices belong to, at a fixed place; false when it is not shown in time.
bool ShowOwner(QWidget& owner) {
  owner.setGeometry(100, 100, 800, 600);
  owner.show();
  return QTest::qWaitForWindowExposed(&owner);
}

QStringList EntriesOf(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

}  // namespace

class NoticesTest : public AppTestCase {
  Q_OBJECT

 private:
  QString MakePhoto(const QString& name, int seed) {
    const QString path = m_home->Path("photos") + QLatin1Char('/') + name;
    return MakeTestPhoto(path, 320, 240, seed, XpDateTime(2024, 5, 1 + seed, 10, 0, 0), "N:35:39:30.000",
                         "E:139:42:00.000")
               ? path
               : QString();
  }

  /// Starts `program` on a photo of Tokyo in `language`, waiting as `wait` says.
  bool StartOnAPhoto(TestProgram& program, MapWait wait,
                     AppStrings::Language language = AppStrings::Language::English) {
    const QString photo = MakePhoto(QStringLiteral("tokyo.jpg"), 1);
    if (photo.isEmpty()) {
      qWarning("the photo could not be made");
      return false;
    }
    AppStartOptions options = Options({photo});
    options.language = language;
    return program.Start(options, wait);
  }

 private slots:
  void init() {
    AppTestCase::init();
    AppSettings().WriteNumber(QStringLiteral("howto_nopicture"), 0);
    AppSettings().WriteNumber(QStringLiteral("disp_once"), 0);
  }

  // -- saved maps that can't be opened ---------------------------------------

  void aStateFileThatCannotBeOpenedAtStartUpSaysSoAndWhy_data() {
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("reason");
    QTest::newRow("damaged") << QByteArray("this is no saved map\r\n") << QStringLiteral("The file is damaged");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("The file does not exist.");
  }

  void aStateFileThatCannotBeOpenedAtStartUpSaysSoAndWhy() {
    QFETCH(QByteArray, contents);
    QFETCH(QString, reason);
    if (!QFileInfo::exists(m_program + QStringLiteral("map.html"))) {
      QSKIP("the page files are not built");
    }
    const QString state = WorkFolder() + QStringLiteral("/Trip/data.tvd");
    if (!contents.isEmpty()) {
      TestHome::WriteFile(state, contents);
    }
    ModalAnswerer answerer(QString(), {QMessageBox::Ok});
    CTerravueApp app(Options({state}));
    QVERIFY(app.InitInstance());
    CTerravueHtmlWnd* map = app.MainWindow()->HtmlWnd();
    QTRY_VERIFY_WITH_TIMEOUT(!answerer.seen.isEmpty(), 20000);
    QCOMPARE(answerer.seen.size(), 1);
    const QString text = answerer.seen.constFirst();
    QVERIFY2(text.startsWith(QStringLiteral("The saved map could not be opened.")), qPrintable(text));
    QVERIFY2(text.contains(state), qPrintable(text));
    QVERIFY2(text.contains(reason), qPrintable(text));
    QVERIFY(!answerer.seen.contains(QStringLiteral("Corrupted data has been recovered.")));
    // Nothing of it is shown as if it were the saved map: the start page is.
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{0});
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageMap, 30000);
    app.ExitInstance();
  }

  void aSavedMapChosenFromTheMenuThatCannotBeReadSaysWhyAndNothingChanges() {
    if (!QFileInfo::exists(m_program + QStringLiteral("map.html"))) {
      QSKIP("the page files are not built");
    }
    const QString state = WorkFolder() + QStringLiteral("/Trip/data.tvd");
    TestHome::WriteFile(state, "#Terravue data version 1.1\r\n{\r\n\tnot a time\r\n");
    ModalAnswerer answerer(QString(), {QMessageBox::Ok});
    CTerravueApp app(Options({}));
    QVERIFY(app.InitInstance());
    CTerravueBaseWnd* window = app.MainWindow();
    QCOMPARE(window->Store()->Count(), std::size_t{1});
    window->OnCommand(1);
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY2(answerer.seen.constFirst().startsWith(QStringLiteral("The saved map could not be opened.")),
             qPrintable(answerer.seen.constFirst()));
    QVERIFY(answerer.seen.constFirst().contains(QStringLiteral("The file is damaged")));
    QCOMPARE(window->CurrentStateIndex(), -1);
    QCOMPARE(window->HtmlWnd()->CurrentMap().m_name, std::string());
    app.ExitInstance();
  }

  void aSavedMapIsOpenedFromAnyFolderThroughTheMenuAndOneThatCannotBeReadChangesNothing() {
    TV_SKIP_WITHOUT_PAGE_FILES();
    const QString photo = MakePhoto(QStringLiteral("tokyo.jpg"), 1);
    QVERIFY(!photo.isEmpty());
    {
      ModalAnswerer answerer(QStringLiteral("Trip"), {QMessageBox::Ok});
      CTerravueApp app(Options({photo}));
      QVERIFY(StartApp(app, MapWait::Settled) != nullptr);
      QVERIFY(app.MainWindow()->SaveAsNew());
      QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.seen.join(QLatin1Char('|'))));
      app.ExitInstance();
    }
    // The saved map carried to another disk, and a damaged one beside it.
    const QString usb = m_home->Path("usb");
    QVERIFY(CopyFolder(WorkFolder() + QStringLiteral("/Trip"), usb + QStringLiteral("/Trip")));
    const QString carried = usb + QStringLiteral("/Trip/data.tvd");
    const QString damaged = usb + QStringLiteral("/Broken/data.tvd");
    TestHome::WriteFile(damaged, "#Terravue data version 1.1\r\n{\r\n\tnot a time\r\n");
    const QByteArray damagedBytes = "#Terravue data version 1.1\r\n{\r\n\tnot a time\r\n";

    ModalAnswerer answerer(QString(), {QMessageBox::Ok});
    FileDialogAnswerer files({carried, damaged, WorkFolder() + QStringLiteral("/Trip/data.tvd")});
    CTerravueApp app(Options({}));
    QVERIFY(app.InitInstance());
    CTerravueBaseWnd* window = app.MainWindow();
    CTerravueHtmlWnd* map = window->HtmlWnd();
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageMap, 30000);
    const QString markers =
        QStringLiteral("document.querySelectorAll('.leaflet-marker-icon:not(.marker-cluster)').length");

    // The carried map: its photo on the map, the window named by its path.
    ClickMenuEntry(window, MainMenu::kOpenStateFile);
    QTRY_COMPARE_WITH_TIMEOUT(files.folders.size(), 1, 10000);
    QCOMPARE(files.folders.constFirst(), WorkFolder());
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, markers).toInt(), 1, 30000);
    QCOMPARE(map->CurrentMap().m_name, std::string("Trip"));
    QCOMPARE(QString::fromStdString(map->CurrentMap().m_stateFilePath), carried);
    QCOMPARE(window->windowTitle(), carried);
    QCOMPARE(window->CurrentStateIndex(), -1);
    QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.seen.join(QLatin1Char('|'))));

    // The damaged one is reported with its reason; the carried map stays shown and named.
    ClickMenuEntry(window, MainMenu::kOpenStateFile);
    QTRY_COMPARE_WITH_TIMEOUT(files.folders.size(), 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), 1, 10000);
    QVERIFY2(answerer.seen.constFirst().startsWith(QStringLiteral("The saved map could not be opened.")),
             qPrintable(answerer.seen.constFirst()));
    QVERIFY2(answerer.seen.constFirst().contains(damaged), qPrintable(answerer.seen.constFirst()));
    QTest::qWait(300);
    QCOMPARE(map->GetPageKind(), PageKind::PageServer);
    QCOMPARE(RunScript(map, markers).toInt(), 1);
    QCOMPARE(QString::fromStdString(map->CurrentMap().m_stateFilePath), carried);
    QCOMPARE(window->windowTitle(), carried);
    QFile damagedFile(damaged);
    QVERIFY(damagedFile.open(QIODevice::ReadOnly));
    QCOMPARE(damagedFile.readAll(), damagedBytes);

    // The map of the program's own folder is its menu item; its page is a new one.
    QVERIFY(RunScript(map, QStringLiteral("window.tvPageBefore = true")).toBool());
    ClickMenuEntry(window, MainMenu::kOpenStateFile);
    QTRY_COMPARE_WITH_TIMEOUT(files.folders.size(), 3, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(window->CurrentStateIndex(), 0, 30000);
    QCOMPARE(window->windowTitle(), QStringLiteral("Trip"));
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer &&
                                 RunScript(map, QStringLiteral("window.tvPageBefore === undefined")).toBool(),
                             30000);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, markers).toInt(), 1, 30000);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.mostModalAtOnce, 1);
    app.ExitInstance();
  }

  // -- the information bar ----------------------------------------------------

  void theJapaneseInformationBarIsReadInFullBesideTheMenuButton() {
    TV_SKIP_WITHOUT_PAGE_FILES();
    TestProgram program(QString(), {QMessageBox::Ok});
    QVERIFY(StartOnAPhoto(program, MapWait::Settled, AppStrings::Language::Japanese));
    auto& [answerer, app, map, window] = program;
    window->resize(560, 480);
    const auto buttons = map->findChildren<CCustomButton*>();
    QCOMPARE(buttons.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(buttons.front()->isVisible(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, QStringLiteral("window.innerWidth")).toInt(), map->width(), 10000);
    // The counts in Japanese have no singular; the whole line is there.
    const QString text = RunScript(map, QStringLiteral("document.getElementById('tvSummary').textContent")).toString();
    QVERIFY2(text.startsWith(QStringLiteral("写真 1 枚 / 地図上 1 枚 / 移動 0 枚 — マーカーを")), qPrintable(text));
    // Every line of it lies left of the menu button and inside the bar, none hidden.
    QTest::qWait(200);
    const QRect button = buttons.front()->geometry();
    const QVariantList lines =
        RunScript(map, QStringLiteral("Array.prototype.map.call(document.getElementById('tvSummary').getClientRects(),"
                                      " function (r) { return [r.left, r.top, r.right, r.bottom]; })"))
            .toList();
    QVERIFY(!lines.isEmpty());
    for (const QVariant& line : lines) {
      const QVariantList r = line.toList();
      QVERIFY2(
          r.value(2).toDouble() <= button.left(),
          qPrintable(
              QStringLiteral("line ends at %1, button starts at %2").arg(r.value(2).toDouble()).arg(button.left())));
      QVERIFY(r.value(0).toDouble() >= 0);
      QVERIFY(r.value(3).toDouble() <= map->height());
    }
    QCOMPARE(RunScript(map, QStringLiteral(
                                "(function () { var i = document.getElementById('info');"
                                " return i.scrollWidth <= i.clientWidth && i.scrollHeight <= i.clientHeight; })()"))
                 .toBool(),
             true);
    QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.seen.join(QLatin1Char('|'))));
    app->ExitInstance();
  }

  // -- taking pictures off the map ------------------------------------------

  void aPictureIsRemovedFromTheMapAndAnotherForgetsItsPositionThroughTheirMenus() {
    TV_SKIP_WITHOUT_PAGE_FILES();
    const QString tokyo = MakePhoto(QStringLiteral("tokyo.jpg"), 1);
    const QString osaka = m_home->Path("photos") + QStringLiteral("/osaka.jpg");
    QVERIFY(MakeTestPhoto(osaka, 320, 240, 2, XpDateTime(2024, 5, 9, 10, 0, 0), "N:34:41:00.000", "E:135:30:00.000"));
    QVERIFY(!tokyo.isEmpty());
    QFile tokyoFile(tokyo);
    QVERIFY(tokyoFile.open(QIODevice::ReadOnly));
    const QByteArray tokyoBytes = tokyoFile.readAll();
    tokyoFile.close();
    ModalAnswerer answerer(QString(), {QMessageBox::Ok});
    CTerravueApp app(Options({tokyo, osaka}));
    QVERIFY(app.InitInstance());
    CTerravueBaseWnd* window = app.MainWindow();
    CTerravueHtmlWnd* map = window->HtmlWnd();
    const QString markers = QStringLiteral("document.querySelectorAll('.leaflet-marker-icon:not(.marker-cluster)')");
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, markers + QStringLiteral(".length")).toInt(), 2, 30000);

    // The list entry of Tokyo (taken first): "Remove from map".
    const QString tokyoItem = QStringLiteral("#tvLocated a[data-index=\"1\"]");
    ClickPage(map, Qt::RightButton, CentreOf(map, tokyoItem));
    QTRY_VERIFY_WITH_TIMEOUT(CentreOf(map, QStringLiteral("#tvRemoveFromMap")).x() >= 0, 10000);
    ClickPage(map, Qt::LeftButton, CentreOf(map, QStringLiteral("#tvRemoveFromMap")));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, markers + QStringLiteral(".length")).toInt(), 1, 10000);
    QVERIFY(map->ReadPageEdits(true));
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{1});
    QVERIFY(!map->CurrentMap().m_pictures.ContainsPath(tokyo.toStdString()));
    QVERIFY(map->IsModified());
    // The map is sent again, so the page numbers what the map holds.
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(
        RunScript(map, QStringLiteral("(document.getElementsByName('pic_count')[0] || {}).value")).toString(),
        QStringLiteral("1"), 30000);

    // The marker of Osaka: "Forget position", then save.
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, markers + QStringLiteral(".length")).toInt(), 1, 30000);
    ClickPage(map, Qt::RightButton, CentreOf(map, QStringLiteral(".leaflet-marker-icon:not(.marker-cluster)")));
    QTRY_VERIFY_WITH_TIMEOUT(CentreOf(map, QStringLiteral("#tvForgetPosition")).x() >= 0, 10000);
    ClickPage(map, Qt::LeftButton, CentreOf(map, QStringLiteral("#tvForgetPosition")));
    // The page asks first; the marker stays until the user confirms.
    QTRY_VERIFY_WITH_TIMEOUT(CentreOf(map, QStringLiteral("#tvForgetYes")).x() >= 0, 10000);
    QCOMPARE(RunScript(map, markers + QStringLiteral(".length")).toInt(), 1);
    ClickPage(map, Qt::LeftButton, CentreOf(map, QStringLiteral("#tvForgetYes")));
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(map, markers + QStringLiteral(".length")).toInt(), 0, 10000);
    QCOMPARE(RunScript(map, QStringLiteral("document.querySelectorAll('#tvUnlocated > *').length")).toInt(), 1);
    answerer.names = {QStringLiteral("Trip")};
    QVERIFY(window->SaveAsNew());
    QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.seen.join(QLatin1Char('|'))));
    XpGPSRecord gps;
    QVERIFY(XpExifRewrite::ReadGPS(osaka.toStdString(), gps) != XpStatus::Ok);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{1});
    // The removed photo's file is as it was.
    QVERIFY(tokyoFile.open(QIODevice::ReadOnly));
    QCOMPARE(tokyoFile.readAll(), tokyoBytes);
    app.ExitInstance();
  }

  // -- names for new saved maps ----------------------------------------------

  void unusableNamesAreRefusedWithTheReasonBeforeAnythingIsMade() {
    TV_SKIP_WITHOUT_PAGE_FILES();
    TestProgram program(QString(), {QMessageBox::Ok});
    QVERIFY(StartOnAPhoto(program, MapWait::PageShown));
    auto& [answerer, app, map, window] = program;
    const QStringList before = EntriesOf(WorkFolder());

    answerer.names = {QStringLiteral(".."), QStringLiteral("a/b"), QString(300, QLatin1Char('x')),
                      QStringLiteral("\\/:"), QStringLiteral("Trip")};
    bool cancelled = true;
    QVERIFY(window->SaveAsNew(&cancelled));
    QVERIFY(!cancelled);
    QCOMPARE(answerer.saveDialogs, 5);
    QCOMPARE(answerer.seen, (QStringList{QStringLiteral("A name made of dots only can't be used. Please enter "
                                                        "another name."),
                                         QStringLiteral("A name can't contain \"/\". Please enter another name."),
                                         QStringLiteral("This name is too long for the disk. Please enter a shorter "
                                                        "name."),
                                         QStringLiteral("Please enter a name for the map.")}));
    // Only the state with the good name was made.
    QStringList made = EntriesOf(WorkFolder());
    for (const QString& entry : before) {
      made.removeAll(entry);
    }
    QCOMPARE(made, QStringList{QStringLiteral("Trip")});
    QCOMPARE(window->windowTitle(), QStringLiteral("Trip"));
    app->ExitInstance();
  }

  // -- dropped files -----------------------------------------------------------

  void aDroppedFolderAddsItsPhotosAndTheRestIsCountedWithTheReason() {
    const QString photos = m_home->Path("drop");
    const QString work = m_home->Path("home/Documents/Terravue");
    for (const char* name : {"trip/a.jpg", "trip/day2/b.jpg", "trip/day2/deeper/c.JPG", "trip/notes.txt", "loose.jpg",
                             "onmap.jpg", "picture.png", "readme.txt"}) {
      TestHome::WriteFile(photos + QLatin1Char('/') + QLatin1String(name), "\xFF\xD8\xFF");
    }
    TestHome::WriteFile(work + QStringLiteral("/cache_1.jpg"), "\xFF\xD8\xFF");
    QDir().mkpath(photos + QStringLiteral("/empty/sub"));
    TestHome::WriteFile(photos + QStringLiteral("/empty/sub/text.txt"), "x");
    DropRules rules;
    rules.workFolder = work;
    rules.programFolder = m_home->Path("program");
    rules.fileType = [](const QString& path) -> std::uint32_t {
      return path.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive) ? kJpegStillFileType : 0x10000201;
    };
    rules.isOnMap = [&](const QString& path) { return path == photos + QStringLiteral("/onmap.jpg"); };
    const QStringList dropped = {photos + QStringLiteral("/trip"),       photos + QStringLiteral("/loose.jpg"),
                                 photos + QStringLiteral("/onmap.jpg"),  photos + QStringLiteral("/picture.png"),
                                 photos + QStringLiteral("/readme.txt"), photos + QStringLiteral("/empty"),
                                 work + QStringLiteral("/cache_1.jpg"),  photos + QStringLiteral("/gone.jpg")};
    const DropOutcome outcome = SortDrops(dropped, rules, 100);
    QCOMPARE(outcome.accepted,
             (QStringList{photos + QStringLiteral("/trip/a.jpg"), photos + QStringLiteral("/trip/day2/b.jpg"),
                          photos + QStringLiteral("/trip/day2/deeper/c.JPG"), photos + QStringLiteral("/loose.jpg")}));
    QCOMPARE(outcome.notJpeg, 3);
    QCOMPARE(outcome.onMap, 1);
    QCOMPARE(outcome.ownFolder, 1);
    QCOMPARE(outcome.emptyFolders, 1);
    QCOMPARE(outcome.overLimit, 0);
    QCOMPARE(DropNoticeText(outcome), QStringLiteral("6 of the dropped items were not added:\n"
                                                     "Not JPEG photos: 3\nAlready on the map: 1\n"
                                                     "In Terravue's own folders: 1\nFolders without JPEG photos: 1"));
    // The limit holds for a folder's photos too; the rest are counted.
    const DropOutcome limited =
        SortDrops({photos + QStringLiteral("/trip"), photos + QStringLiteral("/loose.jpg")}, rules, 2);
    QCOMPARE(limited.accepted.size(), 2);
    QCOMPARE(limited.overLimit, 2);
    QVERIFY(DropNoticeText(SortDrops({photos + QStringLiteral("/loose.jpg")}, rules, 10)).isEmpty());
  }

  void aDropOfOtherFilesGivesOneShortNoticeOnTheWindow() {
    if (!QFileInfo::exists(m_program + QStringLiteral("map.html"))) {
      QSKIP("the page files are not built");
    }
    const QString text = m_home->Path("drop/notes.txt");
    const QString picture = m_home->Path("drop/picture.png");
    TestHome::WriteFile(text, "notes");
    TestHome::WriteFile(picture, "\x89PNG");
    ModalAnswerer answerer(QString(), {QMessageBox::Ok});
    CTerravueApp app(Options({}));
    QVERIFY(app.InitInstance());
    CTerravueHtmlWnd* map = app.MainWindow()->HtmlWnd();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(text), QUrl::fromLocalFile(picture)});
    DropOn(map, data);
    QCOMPARE(InfoNoticeTexts(app.MainWindow()),
             QStringList{QStringLiteral("2 of the dropped items were not added:\nNot JPEG photos: 2")});
    QVERIFY(!map->IsLoading());
    QVERIFY(answerer.seen.isEmpty());
    app.ExitInstance();
  }

  // -- help ------------------------------------------------------------------

  void helpThatCannotBeOpenedSaysSo() {
    if (!QFileInfo::exists(m_program + QStringLiteral("map.html"))) {
      QSKIP("the page files are not built");
    }
    ModalAnswerer answerer(QString(), {QMessageBox::Ok});
    CTerravueApp app(Options({}));
    QVERIFY(app.InitInstance());
    AppGlobals globals = AppGlobals::Get();
    globals.helpUrl = QUrl::fromLocalFile(m_home->Path("nowhere/help.html")).toString();
    AppGlobals::Set(globals);
    app.MainWindow()->OnCommand(MainMenu::kHelp);
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY2(answerer.seen.constFirst().startsWith(QStringLiteral("The help could not be opened.")),
             qPrintable(answerer.seen.constFirst()));
    QVERIFY(answerer.seen.constFirst().contains(QStringLiteral("nowhere/help.html")));
    app.ExitInstance();
  }

  void aboutNamesTheVersionTheLicenceAndTheDataSourcesInEachLanguage() {
    if (!QFileInfo::exists(m_program + QStringLiteral("map.html"))) {
      QSKIP("the page files are not built");
    }
    for (const auto language : {AppStrings::Language::English, AppStrings::Language::Japanese}) {
      ModalAnswerer answerer(QString(), {QMessageBox::Ok});
      AppStartOptions options = Options({});
      options.language = language;
      CTerravueApp app(options);
      QVERIFY(app.InitInstance());
      app.MainWindow()->PrepareMenu();
      QAction* about = nullptr;
      for (QAction* action : app.MainWindow()->Menu()->actions()) {
        if (MainMenu::CommandOf(action) == MainMenu::kAbout) {
          about = action;
        }
      }
      QVERIFY(about != nullptr && about->isEnabled());
      QCOMPARE(about->text(), language == AppStrings::Language::English ? QStringLiteral("About Terravue (&A)")
                                                                        : QStringLiteral("Terravueについて(&A)"));
      about->trigger();
      QTRY_COMPARE(answerer.seen.size(), 1);
      const QString& text = answerer.seen.constFirst();
      QVERIFY2(text.startsWith(QStringLiteral("Terravue ") + ProgramVersion() + QStringLiteral("\n")),
               qPrintable(text));
      QVERIFY(!ProgramVersion().isEmpty());
      for (const char* credit : {"GeoNames", "CC BY 4.0", "© OpenStreetMap contributors, timezone-boundary-builder",
                                 "Map data © OpenStreetMap contributors", "Leaflet", "GNU"}) {
        if (language == AppStrings::Language::Japanese &&
            (std::string_view(credit).starts_with("Map data") || std::string_view(credit) == "GNU")) {
          continue;
        }
        QVERIFY2(text.contains(QString::fromUtf8(credit)), credit);
      }
      QCOMPARE(answerer.mostModalAtOnce, 1);
      app.ExitInstance();
    }
  }

  void aPhotoBrowserThatDoesNotStartAfterASaveIsReported() {
    TV_SKIP_WITHOUT_PAGE_FILES();
    // The browser program is there but can't be run.
    const QString folder = m_home->Path("browser");
    TestHome::WriteFile(folder + QStringLiteral("/PhotoBrowser"), "not a program");
    QFile::setPermissions(folder + QStringLiteral("/PhotoBrowser"), QFile::ReadOwner | QFile::WriteOwner);
    TestHome::WriteFile(m_home->MachineIni(),
                        "[Browser]\nInstalledLocation=" + folder.toUtf8() + "\nExeName=PhotoBrowser\n");
    TestProgram program(QString(), {QMessageBox::Ok});
    QVERIFY(StartOnAPhoto(program, MapWait::PageShown));
    auto& [answerer, app, map, window] = program;
    // The photo counts as moved, so saving writes it and hands it to the browser.
    map->CurrentMap().m_pictures.At(0).m_modified = 1;
    answerer.names = {QStringLiteral("Trip")};
    QVERIFY(window->SaveAsNew());
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY2(answerer.seen.constFirst().startsWith(QStringLiteral("The photo browser could not be started")),
             qPrintable(answerer.seen.constFirst()));
    QVERIFY(answerer.seen.constFirst().contains(folder + QStringLiteral("/PhotoBrowser")));
    app->ExitInstance();
  }

  void aFailedConnectionIsToldInWordsWithTheNumberAsADetail() {
    QCOMPARE(ConnectionFailureText(-102),
             QStringLiteral("The map could not be loaded: the connection to the map server failed.\n\n"
                            "The server refused the connection."));
    QVERIFY(!ConnectionFailureText(-102).contains(QStringLiteral("102")));
    QVERIFY(ConnectionFailureText(-999).endsWith(QStringLiteral("The server could not be reached.")));
    QCOMPARE(ConnectionFailureDetails(-102), QStringLiteral("Error code: -102 (ffffff9a)"));
  }

  // -- notices ---------------------------------------------------------------

  void noticesComeOneAtATimeAndTheSameOneIsNotShownTwice() {
    QWidget owner;
    QVERIFY(ShowOwner(owner));
    QPointer<CInfoNoticeDlg> first = ShowInfoNotice(&owner, QStringLiteral("first"));
    QPointer<CInfoNoticeDlg> second = ShowInfoNotice(&owner, QStringLiteral("second\nwith\nmore\nlines"));
    QPointer<CInfoNoticeDlg> twice = ShowInfoNotice(&owner, QStringLiteral("second\nwith\nmore\nlines"));
    QVERIFY(QTest::qWaitForWindowExposed(first.data()));
    QTRY_VERIFY(twice.isNull());
    QVERIFY(!second->isVisible());
    // Clear of the map's centre, where the photos are.
    QVERIFY(!first->frameGeometry().contains(owner.frameGeometry().center()));
    QTest::mouseClick(first->OkButton(), Qt::LeftButton);
    QTRY_VERIFY(first.isNull());
    QTRY_VERIFY(second != nullptr && second->isVisible());
    QCOMPARE(owner.findChildren<CInfoNoticeDlg*>().size(), 1);
    delete second;
  }

  void aNoticeWaitsUntilTheBoxTheUserMustAnswerIsClosed() {
    QWidget owner;
    QVERIFY(ShowOwner(owner));
    QPointer<CInfoNoticeDlg> notice;
    bool shownWithBox = false;
    QTimer::singleShot(100, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      QVERIFY(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
      notice = ShowInfoNotice(&owner, QStringLiteral("a notice while an error is shown"));
      QTimer::singleShot(CNoticeDlg::kForegroundDelayMs, box, [box, &notice, &shownWithBox] {
        shownWithBox = notice == nullptr || notice->isVisible();
        box->accept();
      });
    });
    ShowAppMessage(&owner, QMessageBox::Warning, QStringLiteral("An error\nof several\nlines\nthat must be read"));
    QVERIFY(!shownWithBox);
    QVERIFY(notice != nullptr);
    QTRY_VERIFY(notice->isVisible());
    delete notice;
  }

  void aBoxOpenedWhileANoticeShowsIsPlacedClearOfIt() {
    QWidget owner;
    QVERIFY(ShowOwner(owner));
    QPointer<CInfoNoticeDlg> notice =
        ShowInfoNotice(&owner, QStringLiteral("a notice\nof\nmany\nlines\nthat\nthe\nquestion\nmust\nleave\nseen"));
    QVERIFY(QTest::qWaitForWindowExposed(notice.data()));
    QRect boxFrame;
    QTimer::singleShot(100, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      boxFrame = box->frameGeometry();
      box->accept();
    });
    static_cast<void>(AskToSaveChanges(&owner, QStringLiteral("A question\nof several\nlines\nto be answered")));
    QVERIFY(!boxFrame.isEmpty());
    QVERIFY(!notice->frameGeometry().intersects(boxFrame));
    delete notice;
  }

  void placesClearOfGoBelowAndBesideWhenBelowLeavesTheScreen() {
    const QRect area(0, 0, 1000, 700);
    const QSize size(300, 100);
    QCOMPARE(CNoticeDlg::PlaceClearOf(QPoint(100, 80), size, {}, area), QPoint(100, 80));
    QCOMPARE(CNoticeDlg::PlaceClearOf(QPoint(100, 80), size, {QRect(100, 80, 300, 100)}, area),
             QPoint(100, 180 + CNoticeDlg::kNoticeGap));
    // Two notices stacked: the third goes below both.
    const QList<QRect> two = {QRect(100, 80, 300, 100), QRect(100, 188, 300, 100)};
    QCOMPARE(CNoticeDlg::PlaceClearOf(QPoint(100, 80), size, two, area), QPoint(100, 288 + CNoticeDlg::kNoticeGap));
    // No room below: beside.
    const QList<QRect> tall = {QRect(100, 80, 300, 600)};
    QCOMPARE(CNoticeDlg::PlaceClearOf(QPoint(100, 80), size, tall, area), QPoint(400 + CNoticeDlg::kNoticeGap, 80));
  }

  // -- pictures that can't be read -------------------------------------------

  void unreadablePicturesAreListedByNameWithTheirReason() {
    const std::vector<UnreadablePicture> pictures = {{"/p/cmyk.jpg", UnreadableReason::Undecodable},
                                                     {"/p/notes.jpg", UnreadableReason::NotJpeg}};
    QCOMPARE(UnreadablePicturesText(pictures),
             QStringLiteral("These pictures could not be read. They are shown without a thumbnail:\n\n"
                            "cmyk.jpg: the picture data can't be decoded (damaged, or a colour format such as CMYK)\n"
                            "notes.jpg: not a JPEG picture inside"));
    std::vector<UnreadablePicture> many(20, UnreadablePicture{"/p/x.jpg", UnreadableReason::NotJpeg});
    QVERIFY(UnreadablePicturesText(many, 15).endsWith(QStringLiteral("\n(+5)")));
  }
};

TV_QTEST_MAIN(NoticesTest)
#include "tst_notices.moc"
