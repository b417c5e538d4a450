// Saving many photos in the map window with the embedded server and browser:
// the progress dialog shows how far the save has come, Stop ends it between
// two photos, and what the window then says matches the photos on disk and
// the saved map's list of moves still to write.
#include <QAction>
#include <QCryptographicHash>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>
#include <map>
#include <memory>
#include <set>

#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CProgressDlg.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/tests/AppTestSupport.h"
#include "Applications/Terravue/tests/TestPhotos.h"

namespace {

constexpr int kPhotos = 80;

QByteArray FileHash(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

/// The latitude text the photo at `path` holds, as the program reads it.
std::string LatitudeOnDisk(const QString& path) {
  PictureRecord record(path.toStdString(), "", "");
  if (record.ReadPositionAndTime() == PictureResult::NotJpegStill) {
    return {};
  }
  return record.m_latitude;
}

/// The "N moved" the line beside the map shows and the list entries marked as not yet written.
std::pair<int, int> PendingOnPage(QWebEngineView* view) {
  const QVariantList answer =
      RunScript(view, QStringLiteral("(function () {"
                                     "  var summary = document.getElementById('tvSummary');"
                                     "  var match = summary ? /(\\d+) moved/.exec(summary.textContent) : null;"
                                     "  return [match ? Number(match[1]) : -1,"
                                     "          document.querySelectorAll('a.tvPending').length];"
                                     "})()"))
          .toList();
  if (answer.size() != 2) {
    return {-2, -2};
  }
  return {answer[0].toInt(), answer[1].toInt()};
}

/// The pictures a state's "moves.txt" lists (0 when there is no such file).
int MovesListed(const QString& stateFolder) {
  QFile file(stateFolder + QStringLiteral("/moves.txt"));
  if (!file.open(QIODevice::ReadOnly)) {
    return 0;
  }
  return static_cast<int>(file.readAll().count('\n')) - 1;
}

/// Watches the main window for the save's progress dialog as the user sees
/// it, and clicks its Stop button once the bar has reached `stopAt` (never
/// when `stopAt` is 0).
class ProgressWatcher : public QObject {
 public:
  ProgressWatcher(QWidget* window, int stopAt) : m_window(window), m_stopAt(stopAt) {
    connect(&m_timer, &QTimer::timeout, this, &ProgressWatcher::Look);
    m_timer.start(5);
  }

  int shown = 0;          ///< the most progress dialogs seen open together
  int highest = 0;        ///< the highest position of the bar seen
  int total = 0;          ///< the bar's range
  bool wasModal = false;  ///< the dialog kept the rest of the window from input
  QString text;           ///< the text above the bar when last seen
  int stoppedAt = -1;     ///< the bar's position when Stop was clicked

 private:
  void Look() {
    int open = 0;
    for (CProgressDlg* dialog : m_window->findChildren<CProgressDlg*>()) {
      if (!dialog->isVisible() || dialog->StopButton() == nullptr) {
        continue;
      }
      ++open;
      wasModal = wasModal || dialog->isModal();
      highest = std::max(highest, int(dialog->Position()));
      total = dialog->Bar()->maximum();
      text = dialog->TextLabel()->text();
      if (m_stopAt > 0 && stoppedAt < 0 && dialog->Position() >= m_stopAt) {
        stoppedAt = dialog->Position();
        QTest::mouseClick(dialog->StopButton(), Qt::LeftButton);
      }
    }
    shown = std::max(shown, open);
  }

  QPointer<QWidget> m_window;
  int m_stopAt;
  QTimer m_timer;
};

}  // namespace

class SavingTest : public AppTestCase {
  Q_OBJECT

 private:
  /// kPhotos photos with a position, close together so that they cluster.
  QStringList MakePhotos() {
    QStringList paths;
    for (int i = 0; i < kPhotos; ++i) {
      const QString path = m_home->Path("photos") + QStringLiteral("/p%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
      const std::string minutes = QStringLiteral("%1").arg(i % 60, 2, 10, QLatin1Char('0')).toStdString();
      if (!MakeTestPhoto(path, 64, 48, i, XpDateTime(2024, 5, 1, 10, i % 60, 0), "N:35:" + minutes + ":00.000",
                         "E:139:42:00.000")) {
        return {};
      }
      paths.append(path);
    }
    return paths;
  }

 private slots:
  void init() {
    AppTestCase::init();
    TV_SKIP_WITHOUT_PAGE_FILES();
    AppSettings().WriteNumber(QStringLiteral("warn_over20"), 0);
    AppSettings().WriteNumber(QStringLiteral("warn_hasnolocation"), 0);
  }

  void aStoppedSaveWritesWholePhotosAndTheWindowSaysWhichArePending() {
    const QStringList photos = MakePhotos();
    QCOMPARE(photos.size(), kPhotos);
    std::map<QString, QByteArray> before;
    std::map<QString, std::string> loadedLatitude;
    for (const QString& path : photos) {
      before[path] = FileHash(path);
      loadedLatitude[path] = LatitudeOnDisk(path);
    }
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(program.Start(Options(photos), MapWait::Settled, 120000));
    auto& [answerer, app, map, window] = program;
    QCOMPARE(int(map->CurrentMap().m_pictures.Records().size()), kPhotos);

    // Every photo is moved in one step.
    QCOMPARE(RunScript(map, QStringLiteral("(function () {"
                                           "  tvApplyPositions(tv.pictures.map(function (p) {"
                                           "    return { picture: p, lat: p.lat + 0.5, lng: p.lng }; }));"
                                           "  return tv.undoSteps.length;"
                                           "})()"))
                 .toInt(),
             1);

    // Saved as a new map, stopped by the user partway.
    {
      ProgressWatcher watcher(window, 15);
      QSignalSpy sent(map, &CTerravueHtmlWnd::querySent);
      Trigger(window, MainMenu::kSaveAsNew);
      QTRY_VERIFY_WITH_TIMEOUT(!answerer.seen.isEmpty(), 60000);
      QVERIFY(PageBack(map, 60000));
      QCOMPARE(watcher.shown, 1);
      QVERIFY(watcher.wasModal);
      QCOMPARE(watcher.total, kPhotos);
      QVERIFY(watcher.stoppedAt >= 15);
      QVERIFY2(watcher.text.startsWith(QStringLiteral("Writing the new locations into the photos: ")),
               qPrintable(watcher.text));
      QVERIFY2(watcher.text.endsWith(QStringLiteral(" of %1").arg(kPhotos)), qPrintable(watcher.text));
    }
    // The dialog is gone with the save.
    QCOMPARE(window->findChildren<CProgressDlg*>().size(), 0);
    QCOMPARE(answerer.seen.size(), 1);
    const QString report = answerer.seen.constFirst();
    const QRegularExpressionMatch counts =
        QRegularExpression(QStringLiteral("^The save was stopped\\. Photos written: (\\d+)\\.\n\nPhotos not yet "
                                          "written: (\\d+)\\. They keep their new location on the map"))
            .match(report);
    QVERIFY2(counts.hasMatch(), qPrintable(report));
    const int written = counts.captured(1).toInt();
    const int left = counts.captured(2).toInt();
    QCOMPARE(written + left, kPhotos);
    QVERIFY(written >= 15);
    QVERIFY(left > 0);
    QCOMPARE(answerer.mostModalAtOnce, 1);

    // On disk: each photo is either written whole (the new position) or
    // untouched byte for byte, and as many were written as the report says.
    std::set<std::string> pendingPaths;
    for (const PictureRecord& record : map->CurrentMap().m_pictures.Records()) {
      if (record.m_modified != 0) {
        pendingPaths.insert(record.m_path);
      }
    }
    QCOMPARE(int(pendingPaths.size()), left);
    int onDiskWritten = 0;
    for (const QString& path : photos) {
      const bool pending = pendingPaths.count(path.toStdString()) != 0;
      if (FileHash(path) == before[path]) {
        QVERIFY2(pending, qPrintable(path + QStringLiteral(" is untouched but not marked as pending")));
      } else {
        QVERIFY2(!pending, qPrintable(path + QStringLiteral(" was written but is marked as pending")));
        QVERIFY2(LatitudeOnDisk(path) != loadedLatitude[path], qPrintable(path));
        ++onDiskWritten;
      }
    }
    QCOMPARE(onDiskWritten, written);

    // The counter, the marks and the saved map's list say the same.
    QTRY_COMPARE_WITH_TIMEOUT(PendingOnPage(map), std::make_pair(left, left), 20000);
    QCOMPARE(MovesListed(WorkFolder() + QStringLiteral("/Trip")), left);
    QVERIFY(map->IsModified());

    // Saved over without a stop: the progress comes again and the rest is written.
    answerer.seen.clear();
    {
      ProgressWatcher watcher(window, 0);
      Trigger(window, MainMenu::kSaveOver);
      QVERIFY(PageBack(map, 60000));
      QTRY_VERIFY_WITH_TIMEOUT(!map->IsSaving(), 60000);
      QCOMPARE(watcher.shown, 1);
      QCOMPARE(watcher.total, left);
    }
    QCOMPARE(window->findChildren<CProgressDlg*>().size(), 0);
    QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.seen.join(QLatin1Char('\n'))));
    for (const QString& path : photos) {
      QVERIFY2(FileHash(path) != before[path], qPrintable(path));
      QVERIFY2(LatitudeOnDisk(path) != loadedLatitude[path], qPrintable(path));
    }
    QTRY_COMPARE_WITH_TIMEOUT(PendingOnPage(map), std::make_pair(0, 0), 20000);
    QCOMPARE(MovesListed(WorkFolder() + QStringLiteral("/Trip")), 0);
    QVERIFY(!map->CurrentMap().AnyModified());
    QCOMPARE(answerer.mostModalAtOnce, 1);
    app->ExitInstance();
  }

  void escStopsTheSaveAndOnlyThePhotosWrittenChanged() {
    const QStringList photos = MakePhotos();
    QCOMPARE(photos.size(), kPhotos);
    std::map<QString, QByteArray> before;
    for (const QString& path : photos) {
      before[path] = FileHash(path);
    }
    TestProgram program(QStringLiteral("Trip"));
    QVERIFY(program.Start(Options(photos), MapWait::Settled, 120000));
    auto& [answerer, app, map, window] = program;
    RunScript(map, QStringLiteral("tvApplyPositions(tv.pictures.map(function (p) {"
                                  "  return { picture: p, lat: p.lat - 0.5, lng: p.lng }; }))"));

    // Esc on the dialog as soon as it shows asks the save to stop.
    bool pressed = false;
    QTimer esc;
    connect(&esc, &QTimer::timeout, this, [&] {
      for (CProgressDlg* dialog : window->findChildren<CProgressDlg*>()) {
        if (!pressed && dialog->isVisible() && dialog->StopButton() != nullptr) {
          pressed = true;
          QTest::keyClick(dialog, Qt::Key_Escape);
          QVERIFY(!dialog->StopButton()->isEnabled());
        }
      }
    });
    esc.start(1);
    Trigger(window, MainMenu::kSaveAsNew);
    QTRY_VERIFY_WITH_TIMEOUT(!answerer.seen.isEmpty(), 60000);
    esc.stop();
    QVERIFY(pressed);
    QVERIFY(PageBack(map, 60000));
    const QRegularExpressionMatch counts =
        QRegularExpression(QStringLiteral("Photos written: (\\d+)\\.\n\nPhotos not yet written: (\\d+)\\."))
            .match(answerer.seen.constFirst());
    QVERIFY2(counts.hasMatch(), qPrintable(answerer.seen.constFirst()));
    const int written = counts.captured(1).toInt();
    QCOMPARE(written + counts.captured(2).toInt(), kPhotos);
    int changed = 0;
    for (const QString& path : photos) {
      changed += FileHash(path) != before[path] ? 1 : 0;
    }
    QCOMPARE(changed, written);
    QTRY_COMPARE_WITH_TIMEOUT(PendingOnPage(map), std::make_pair(kPhotos - written, kPhotos - written), 20000);
    QCOMPARE(MovesListed(WorkFolder() + QStringLiteral("/Trip")), kPhotos - written);

    // Closing asks to save the moves still pending; "Don't save" leaves the photos as they are.
    answerer.seen.clear();
    program.ExitDiscarding();
    QCOMPARE(answerer.seen.size(), 1);
    changed = 0;
    for (const QString& path : photos) {
      changed += FileHash(path) != before[path] ? 1 : 0;
    }
    QCOMPARE(changed, written);
  }
};

TV_QTEST_MAIN(SavingTest)
#include "tst_saving.moc"
