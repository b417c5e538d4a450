// One program at a time: a second start hands its photos to the running
// program over the local socket beside the lock, which adds them as a drop;
// without an answer the second start shows the "already running" message.
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <memory>

#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/CTrackDlg.h"
#include "Applications/Terravue/HandedPhotos.h"
#include "Applications/Terravue/InstanceChannel.h"
#include "Applications/Terravue/tests/AppTestSupport.h"
#include "Applications/Terravue/tests/TestPhotos.h"

namespace {

const QString kAlreadyRunning =
    QStringLiteral("The Terravue is running. Quit the Terravue before starting the program.");

}  // namespace

class InstanceTest : public AppTestCase {
  Q_OBJECT

 private:
  /// Photos with positions far apart, named after where they were taken.
  QStringList MakePhotos(const QStringList& names) {
    QStringList paths;
    int seed = 1;
    for (const QString& name : names) {
      const QString path = m_home->Path("photos") + QLatin1Char('/') + name;
      const std::string longitude = "E:" + std::to_string(130 + seed * 3) + ":00:00.000";
      if (!MakeTestPhoto(path, 320, 240, seed, XpDateTime(2024, 5, seed, 10, 0, 0), "N:35:00:00.000", longitude)) {
        return {};
      }
      paths.append(path);
      ++seed;
    }
    return paths;
  }

  static bool OnMap(CTerravueHtmlWnd* map, const QString& path) {
    return map->CurrentMap().m_pictures.ContainsPath(path.toStdString());
  }

 private slots:
  void init() {
    AppTestCase::init();
    // No notices about photos without positions in these tests.
    AppSettings().WriteNumber(QStringLiteral("warn_hasnolocation"), 0);
  }

  // --- the message ---

  void aMessageCarriesEveryPathAsAnAbsolutePath() {
    const QStringList paths = {QStringLiteral("/photos/京都 1.jpg"), QStringLiteral("/photos/line\nbreak.jpg"),
                               QStringLiteral("relative.jpg")};
    const QByteArray message = InstanceChannel::EncodeMessage(paths);
    QStringList decoded;
    QCOMPARE(InstanceChannel::DecodeMessage(message, &decoded), HandOverParse::Complete);
    QCOMPARE(decoded.size(), 3);
    QCOMPARE(decoded[0], paths[0]);
    QCOMPARE(decoded[1], paths[1]);
    QCOMPARE(decoded[2], QDir::current().absoluteFilePath(QStringLiteral("relative.jpg")));
    // Every beginning of a valid message asks for more bytes.
    for (qsizetype size = 0; size < message.size(); ++size) {
      QCOMPARE(InstanceChannel::DecodeMessage(message.left(size), nullptr), HandOverParse::Incomplete);
    }
  }

  void malformedMessagesAreRefused_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("another program") << QByteArray("GET / HTTP/1.1\r\n");
    QTest::newRow("no paths") << QByteArray("terravue-open 1 0\n");
    QTest::newRow("too many paths") << QByteArray("terravue-open 1 10001\n");
    QTest::newRow("signed count") << QByteArray("terravue-open 1 +1\n/a.jpg", 26);
    QTest::newRow("leading zero") << QByteArray("terravue-open 1 01\n/a.jpg", 26);
    QTest::newRow("endless count") << QByteArray("terravue-open 1 1234567");
    QTest::newRow("relative path") << QByteArray("terravue-open 1 1\na.jpg\0", 24);
    QTest::newRow("empty path") << QByteArray("terravue-open 1 2\n/a.jpg\0\0", 26);
    QTest::newRow("bytes after the paths") << QByteArray("terravue-open 1 1\n/a.jpg\0/b", 27);
    QTest::newRow("endless path") << QByteArray("terravue-open 1 1\n/") +
                                         QByteArray(static_cast<qsizetype>(kHandOverMaxPathBytes), 'a');
  }

  void malformedMessagesAreRefused() {
    QFETCH(QByteArray, message);
    QCOMPARE(InstanceChannel::DecodeMessage(message, nullptr), HandOverParse::Invalid);
  }

  void aSenderOfGarbageGetsNoAnswerAndTheChannelKeepsWorking() {
    const QString socketPath = m_home->Path("runtime") + QStringLiteral("/channel");
    InstanceChannel channel;
    QVERIFY(channel.Listen(socketPath));
    QSignalSpy received(&channel, &InstanceChannel::pathsReceived);
    QLocalSocket intruder;
    intruder.connectToServer(socketPath);
    QVERIFY(intruder.waitForConnected(1000));
    intruder.write("terravue-open 1 1\nnot/absolute\0", 31);
    QTRY_COMPARE_WITH_TIMEOUT(intruder.state(), QLocalSocket::UnconnectedState, 5000);
    QCOMPARE(intruder.readAll(), QByteArray());
    QCOMPARE(received.count(), 0);

    // A real sender blocks while it waits for the answer: it runs on its own thread here.
    bool taken = false;
    std::unique_ptr<QThread> sender(QThread::create(
        [&] { taken = InstanceChannel::HandOver(socketPath, {QStringLiteral("/photos/a.jpg")}, 5000); }));
    sender->start();
    QTRY_VERIFY_WITH_TIMEOUT(sender->isFinished(), 10000);
    QVERIFY(taken);
    QCOMPARE(received.count(), 1);
    QCOMPARE(received[0][0].toStringList(), QStringList{QStringLiteral("/photos/a.jpg")});
  }

  void aCrashedInstancesSocketFileIsReplaced() {
    const QString socketPath = m_home->Path("runtime") + QStringLiteral("/channel");
    TestHome::WriteFile(socketPath, "left over");
    InstanceChannel channel;
    QVERIFY(channel.Listen(socketPath));
    QLocalSocket client;
    client.connectToServer(socketPath);
    QVERIFY(client.waitForConnected(1000));
  }

  // --- second starts ---

  void aSecondStartHandsItsPhotosToTheRunningProgram() {
    const QString terravue = m_program + QStringLiteral("terravue");
    if (!QFileInfo(terravue).isExecutable() || !QFileInfo::exists(m_program + QStringLiteral("map.html"))) {
      QSKIP("the program and its page files are not built");
    }
    const QStringList photos = MakePhotos({QStringLiteral("tokyo.jpg"), QStringLiteral("osaka.jpg")});
    QCOMPARE(photos.size(), 2);
    ModalAnswerer answerer(QString(), {QMessageBox::No, QMessageBox::Discard});

    // The first instance, on its start page.
    CTerravueApp first(Options({}));
    QVERIFY(first.InitInstance());
    QVERIFY(first.HoldsInstanceLock());
    CTerravueHtmlWnd* map = first.MainWindow()->HtmlWnd();
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsLoading() && !map->IsSending(), 30000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{0});

    // The second start, as a file manager's "Open with" runs it: the real
    // program with the photos relative to its working folder. It ends on its
    // own; a message box would keep it waiting.
    QProcess second;
    second.setWorkingDirectory(m_home->Path("photos"));
    second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    second.start(terravue, {QStringLiteral("tokyo.jpg"), QStringLiteral("osaka.jpg")});
    QVERIFY(second.waitForStarted(10000));
    // The first instance answers from this thread's event loop, which QTRY runs.
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 30000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(OnMap(map, photos[0]) && OnMap(map, photos[1]), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsLoading(), 30000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{2});
    QVERIFY(!answerer.seen.contains(kAlreadyRunning));
    first.ExitInstance();
    // The socket goes with the program.
    QVERIFY(!QFileInfo::exists(InstanceChannel::SocketPath(CTerravueApp::InstanceLockPath())));
  }

  void aSecondStartHandsItsTrackToTheRunningProgramWhichDrawsIt() {
    const QString terravue = m_program + QStringLiteral("terravue");
    if (!QFileInfo(terravue).isExecutable() || !QFileInfo::exists(m_program + QStringLiteral("map.html"))) {
      QSKIP("the program and its page files are not built");
    }
    const QString track = m_home->Path("photos") + QStringLiteral("/walk.gpx");
    TestHome::WriteFile(track,
                        "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">"
                        "<trk><trkseg>\n"
                        "<trkpt lat=\"35.0\" lon=\"139.0\"><time>2024-05-01T09:50:00Z</time></trkpt>\n"
                        "<trkpt lat=\"35.1\" lon=\"139.1\"><time>2024-05-01T10:00:00Z</time></trkpt>\n"
                        "</trkseg></trk></gpx>\n");
    ModalAnswerer answerer(QString(), {QMessageBox::No, QMessageBox::Discard});
    CTerravueApp first(Options({}));
    QVERIFY(first.InitInstance());
    CTerravueHtmlWnd* map = first.MainWindow()->HtmlWnd();
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsLoading() && !map->IsSending() && map->GetPageKind() == PageKind::PageMap, 30000);

    // The track alone, named relative to the second start's folder.
    QProcess second;
    second.setWorkingDirectory(m_home->Path("photos"));
    second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    second.start(terravue, {QStringLiteral("walk.gpx")});
    QVERIFY(second.waitForStarted(10000));
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 30000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    // The running program takes it and draws it on a map in place of the start page.
    QTRY_COMPARE_WITH_TIMEOUT(map->Tracks()->TrackPaths(), QStringList{track}, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageServer, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(
        RunScript(map, QStringLiteral("tvTracks.layer ? tvTracks.layer.getLayers().length : 0")).toInt(), 1, 20000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{0});
    QVERIFY(!answerer.seen.contains(kAlreadyRunning));
    first.ExitInstance();
  }

  void aRunningProgramThatDoesNotAnswerGetsTheAlreadyRunningMessage() {
    const QStringList photos = MakePhotos({QStringLiteral("tokyo.jpg"), QStringLiteral("osaka.jpg")});
    QCOMPARE(photos.size(), 2);
    // A program holding the lock whose socket accepts but never answers.
    QLockFile lock(CTerravueApp::InstanceLockPath());
    QVERIFY(lock.tryLock(0));
    QLocalServer silent;
    QVERIFY(silent.listen(InstanceChannel::SocketPath(CTerravueApp::InstanceLockPath())));

    QStringList shown;
    AppStartOptions options = Options(photos);
    options.startServer = false;
    options.showAlreadyRunning = [&shown](const QString& text) { shown.append(text); };
    CTerravueApp second(std::move(options));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!second.InitInstance());
    QCOMPARE(shown, QStringList{kAlreadyRunning});
    // It waited for the answer, but not much longer than it allows.
    QVERIFY(clock.elapsed() >= InstanceChannel::kAnswerTimeoutMs - 100);
    QVERIFY(clock.elapsed() < InstanceChannel::kAnswerTimeoutMs + 5000);
    QVERIFY(second.MainWindow() == nullptr);
  }

  void aSecondStartWithoutPhotosOrWithAStateFileOnlyShowsTheMessage_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("a state file") << QStringList{QStringLiteral("/somewhere/data.tvd")};
    QTest::newRow("no photo among the files") << QStringList{QStringLiteral("/somewhere/notes.txt")};
  }

  void aSecondStartWithoutPhotosOrWithAStateFileOnlyShowsTheMessage() {
    QFETCH(QStringList, arguments);
    QLockFile lock(CTerravueApp::InstanceLockPath());
    QVERIFY(lock.tryLock(0));
    InstanceChannel running;
    QVERIFY(running.Listen(InstanceChannel::SocketPath(CTerravueApp::InstanceLockPath())));
    QSignalSpy received(&running, &InstanceChannel::pathsReceived);

    QStringList shown;
    AppStartOptions options = Options(arguments);
    options.startServer = false;
    options.showAlreadyRunning = [&shown](const QString& text) { shown.append(text); };
    CTerravueApp second(std::move(options));
    QVERIFY(!second.InitInstance());
    QCOMPARE(shown, QStringList{kAlreadyRunning});
    QTest::qWait(100);
    QCOMPARE(received.count(), 0);
  }

  void photosHandedOverDuringALoadWaitForItsEnd() {
    const QStringList photos =
        MakePhotos({QStringLiteral("tokyo.jpg"), QStringLiteral("osaka.jpg"), QStringLiteral("nagoya.jpg")});
    QCOMPARE(photos.size(), 3);
    ModalAnswerer answerer(QString(), {QMessageBox::No, QMessageBox::Discard});
    CTerravueApp first(Options(photos.mid(0, 2)));
    QVERIFY(first.InitInstance());
    CTerravueHtmlWnd* map = first.MainWindow()->HtmlWnd();
    QVERIFY(map->IsLoading());
    // A drop now would be passed over; the handed photo is not.
    DropHandedPhotos(map, {photos[2]});
    QTRY_VERIFY_WITH_TIMEOUT(OnMap(map, photos[2]), 30000);
    QVERIFY(OnMap(map, photos[0]) && OnMap(map, photos[1]));
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsLoading(), 30000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{3});
    first.ExitInstance();
  }
};

TV_QTEST_MAIN(InstanceTest)
#include "tst_instance.moc"
