// Start-up: the command line, what the creation handler does with it, the
// window placement, and the application's start-up sequence.
#include <QFile>
#include <QLabel>
#include <QLockFile>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QWebEngineView>
#include <memory>
#include <optional>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CPimDlg.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/CWarnningDlg.h"
#include "Applications/Terravue/CommandLine.h"
#include "Applications/Terravue/EmbeddedServer.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/StartupServices.h"
#include "Applications/Terravue/WindowPlacement.h"
#include "Applications/Terravue/tests/AppTestSupport.h"

Q_DECLARE_METATYPE(CommandLine::Kind)

namespace {

/// A file system where every path ending ".jpg" is a JPEG still, paths ending
/// ".png" are something else, and hand-off files are looked up in a table.
struct FakeFiles {
  QSet<QString> existing;
  QHash<QString, QStringList> handOffs;

  CommandLineServices Services() {
    CommandLineServices services;
    services.fileExists = [this](const QString& path) { return existing.contains(path); };
    services.fileType = [](const QString& path) -> std::uint32_t {
      return path.endsWith(QLatin1String(".jpg")) ? kJpegStillFileType : 0x10000201;
    };
    services.readHandOff = [this](const QString& path) { return handOffs.value(path); };
    return services;
  }
};

/// Records what the creation handler asks of the main window.
class RecordingTarget : public StartTarget {
 public:
  QStringList calls;
  bool openResult = true;

  void ShowPictures(const QStringList* paths) override {
    calls.append(paths != nullptr ? QStringLiteral("ShowPictures(%1)").arg(paths->join(QLatin1Char('|')))
                                  : QStringLiteral("ShowPictures(none)"));
  }
  bool OpenStateFile(const QString& path) override {
    calls.append(QStringLiteral("OpenStateFile(%1)").arg(path));
    return openResult;
  }
  void RequestStartPage() override { calls.append(QStringLiteral("RequestStartPage")); }
  void SetCaption(const QString& caption) override { calls.append(QStringLiteral("SetCaption(%1)").arg(caption)); }
  void ShowNotice(int messageId, const QString& noticeName) override {
    calls.append(QStringLiteral("ShowNotice(%1,%2)").arg(messageId).arg(noticeName));
  }
  void ShowPrivacyNotice() override { calls.append(QStringLiteral("ShowPrivacyNotice")); }
  void ShowInformation(int messageId) override { calls.append(QStringLiteral("ShowInformation(%1)").arg(messageId)); }
};

/// What starting from the command line `arguments` asks of the main window, with `settings`
/// and the fake files; `opens` is what opening a saved map answers.
QStringList CallsFor(const QStringList& arguments, AppSettings& settings, bool opens = true) {
  FakeFiles files;
  RecordingTarget target;
  target.openResult = opens;
  StartFromCommandLine(ParseCommandLine(arguments, files.Services()), settings, target);
  return target.calls;
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestHome> m_home;

  /// A program folder holding the start page.
  QString MakeProgramFolder() {
    const QString folder = m_home->Path("program");
    TestHome::WriteFile(folder + QStringLiteral("/map.html"),
                        "<!DOCTYPE html><html><head><title>Start page</title></head><body>Drop photos here."
                        "</body></html>");
    return folder + QLatin1Char('/');
  }

  AppStartOptions OptionsFor(const QString& programFolder, FakeFiles& files, QStringList args = {}) {
    AppStartOptions options;
    options.arguments = std::move(args);
    options.programFolder = programFolder;
    options.language = AppStrings::Language::English;
    options.startServer = false;
    options.services = files.Services();
    return options;
  }

 private slots:
  void init() {
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->IsValid());
  }
  void cleanup() {
    // Modeless notices of a test belong to windows that are gone by now.
    m_home.reset();
  }

  // --- interpreting the arguments ---

  void interpretingTheArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<CommandLine::Kind>("kind");
    QTest::addColumn<QString>("stateFile");
    QTest::addColumn<QStringList>("pictures");
    using Kind = CommandLine::Kind;
    QTest::newRow("nothing") << QStringList{} << Kind::NoArguments << QString() << QStringList{};
    QTest::newRow("stills and others") << QStringList{"/p/a.jpg", "/p/b.png", "/p/c.jpg"} << Kind::Pictures << QString()
                                       << QStringList{"/p/a.jpg", "/p/c.jpg"};
    QTest::newRow("only other files") << QStringList{"/p/b.png", "/p/notes.txt"} << Kind::Pictures << QString()
                                      << QStringList{};
    QTest::newRow("one state file") << QStringList{"/home/u/Documents/Terravue/Trip/data.tvd"} << Kind::StateFile
                                    << "/home/u/Documents/Terravue/Trip/data.tvd" << QStringList{};
    QTest::newRow("upper-case state file is classified")
        << QStringList{"/home/u/Documents/Terravue/Trip/DATA.TVD"} << Kind::Pictures << QString() << QStringList{};
    QTest::newRow("two arguments with a state file are classified")
        << QStringList{"/t/Trip/data.tvd", "/p/a.jpg"} << Kind::Pictures << QString() << QStringList{"/p/a.jpg"};
    QTest::newRow("hand-off replaces every argument")
        << QStringList{"/p/ignored.jpg", "/input", "/lists/1.xml"} << Kind::Pictures << QString()
        << QStringList{"/sel/1.jpg", "/sel/3.jpg"};
    QTest::newRow("switch in any case") << QStringList{"/INPUT", "/lists/1.xml"} << Kind::Pictures << QString()
                                        << QStringList{"/sel/1.jpg", "/sel/3.jpg"};
    QTest::newRow("missing hand-off file")
        << QStringList{"/p/a.jpg", "/Input", "/lists/gone.xml"} << Kind::Pictures << QString() << QStringList{};
    QTest::newRow("switch as the last argument is no switch")
        << QStringList{"/p/a.jpg", "/input"} << Kind::Pictures << QString() << QStringList{"/p/a.jpg"};
  }
  void interpretingTheArguments() {
    QFETCH(QStringList, args);
    QFETCH(CommandLine::Kind, kind);
    QFETCH(QString, stateFile);
    QFETCH(QStringList, pictures);
    FakeFiles files;
    files.existing.insert(QStringLiteral("/lists/1.xml"));
    files.handOffs.insert(QStringLiteral("/lists/1.xml"), {QStringLiteral("/sel/1.jpg"), QStringLiteral("/sel/2.png"),
                                                           QString(), QStringLiteral("/sel/3.jpg")});
    const CommandLine parsed = ParseCommandLine(args, files.Services());
    QCOMPARE(parsed.kind, kind);
    QCOMPARE(parsed.stateFile, stateFile);
    QCOMPARE(parsed.pictures, pictures);
  }

  void theTileFileOptionIsTakenOutOfThePhotos() {
    QStringList args{QStringLiteral("/p/a.jpg"), QStringLiteral("--tiles"),           QStringLiteral("/m/old.mbtiles"),
                     QStringLiteral("--tiles"),  QStringLiteral("/m/island.mbtiles"), QStringLiteral("/p/b.jpg"),
                     QStringLiteral("--"),       QStringLiteral("--tiles"),           QStringLiteral("c.jpg")};
    QCOMPARE(TakeTileFileOption(args), QStringLiteral("/m/island.mbtiles"));
    QCOMPARE(args, (QStringList{QStringLiteral("/p/a.jpg"), QStringLiteral("/p/b.jpg"), QStringLiteral("--"),
                                QStringLiteral("--tiles"), QStringLiteral("c.jpg")}));
    QStringList none{QStringLiteral("/p/a.jpg"), QStringLiteral("--tiles")};
    QCOMPARE(TakeTileFileOption(none), QString());
    QCOMPARE(none.size(), 2);
  }

  void theEmbeddedServerOffersTheUsersLayersAndSaysWhatItCannotUse() {
    QVERIFY(QDir().mkpath(m_home->Path("config") + QStringLiteral("/terravue")));
    QFile layers(m_home->Path("config") + QStringLiteral("/terravue/tile-layers.conf"));
    QVERIFY(layers.open(QIODevice::WriteOnly));
    layers.write(
        "[Plain]\nurl = https://tiles.example.org/{z}/{x}/{y}.png\nattribution = Example\n\n"
        "[Topo]\nurl = https://topo.example.org/{z}/{x}/{y}.png\nmax_zoom = 15\nreferer = no\n");
    layers.close();
    QFile noise(m_home->Path("noise.mbtiles"));
    QVERIFY(noise.open(QIODevice::WriteOnly));
    noise.write(QByteArray(4096, 'Z'));
    noise.close();

    EmbeddedServer server;
    QVERIFY(server.Start(QStringLiteral(TV_PROGRAM_DIR "/"), m_home->Path("noise.mbtiles")));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(server.Port()));
    QVERIFY(socket.waitForConnected(5000));
    const QByteArray body =
        "format_version=1.1&client_name=Terravue&client_version=1.1.01.08140&lang=ENU&map_zoom=9"
        "&map_latitude=N:35:37:32.828&map_longitude=E:139:44:31.338&base=/x/&select=0";
    socket.write(
        "POST /www/gps/terravue/script2/terravue.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
        QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000)) {
      answer += socket.readAll();
    }
    answer += socket.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.left(200).constData());
    QVERIFY(answer.contains("\"tileUrl\":\"https://tiles.example.org/{z}/{x}/{y}.png\""));
    QVERIFY(answer.contains("\"tileLayers\":[{\"name\":\"Plain\""));
    QVERIFY(
        answer.contains("{\"name\":\"Topo\",\"url\":\"https://topo.example.org/{z}/{x}/{y}.png\",\"attribution\":\"\","
                        "\"maxZoom\":15,\"referer\":false}"));
    QVERIFY(answer.contains("\"tileNotice\":\"noise.mbtiles: not an MBTiles tile file"));
  }

  void helpAndVersionArePrintedInsteadOfStarting() {
    const std::optional<QString> help = InformationRequest({QStringLiteral("/p/a.jpg"), QStringLiteral("--help")});
    QVERIFY(help.has_value());
    QVERIFY2(help->startsWith(QStringLiteral("Usage: terravue")), qPrintable(*help));
    QCOMPARE(InformationRequest({QStringLiteral("-h")}), help);
    QCOMPARE(InformationRequest({QStringLiteral("--version"), QStringLiteral("--help")}),
             std::optional<QString>(QStringLiteral("terravue ") + ProgramVersion() + QLatin1Char('\n')));
    QVERIFY(!ProgramVersion().isEmpty());
    // Photos, a state file and a file named after an option after "--" start the program.
    QCOMPARE(InformationRequest({QStringLiteral("/p/a.jpg"), QStringLiteral("/t/Trip/data.tvd")}), std::nullopt);
    QCOMPARE(InformationRequest({QStringLiteral("--"), QStringLiteral("--help")}), std::nullopt);
    QCOMPARE(InformationRequest({QStringLiteral("--helpful.jpg")}), std::nullopt);

    // The program itself prints and ends without a display or a window.
    const QString program = QStringLiteral(TV_PROGRAM_DIR "/terravue");
    if (!QFileInfo(program).isExecutable()) {
      QSKIP("the program is not built");
    }
    for (const QString& option : {QStringLiteral("--version"), QStringLiteral("--help")}) {
      QProcess process;
      QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
      environment.remove(QStringLiteral("DISPLAY"));
      environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
      environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
      environment.insert(QStringLiteral("HOME"), m_home->Path("home"));
      process.setProcessEnvironment(environment);
      process.start(program, {option});
      QVERIFY(process.waitForFinished(20000));
      QCOMPARE(process.exitStatus(), QProcess::NormalExit);
      QCOMPARE(process.exitCode(), 0);
      QCOMPARE(QString::fromLocal8Bit(process.readAllStandardOutput()), *InformationRequest({option}));
    }
  }

  void theRealServicesClassifyFilesAndReadHandOffLists() {
    const QString testdata = QStringLiteral(TV_TESTDATA_DIR "/camera/");
    const QString still = testdata + QStringLiteral("exifpy-DSCN0010.jpg");
    const QString other = testdata + QStringLiteral("exifpy-Canon_40D.jpg");
    const QString list = m_home->Path("list.xml");
    const QByteArray entry = "<dict><key>Files</key><array><string>%1</string></array><key>Selected</key><%2/></dict>";
    const auto entryFor = [&entry](const QString& path, const char* selected) {
      return QString::fromLatin1(entry).arg(path.toHtmlEscaped(), QLatin1String(selected)).toUtf8();
    };
    TestHome::WriteFile(list,
                        "<?xml version=\"1.0\" encoding=\"utf-8\"?><plist version=\"1.0\"><dict>"
                        "<key>ContentsGroupList</key><array><dict><key>ContentsList</key><array>" +
                            entryFor(still, "true") + entryFor(other, "false") +
                            entryFor(testdata + QStringLiteral("README.md"), "true") +
                            "</array><key>GroupName</key><string>Pictures</string></dict></array>"
                            "<key>XMLFileType</key><string>ContentInfoXML</string></dict></plist>");
    const CommandLineServices services = SystemCommandLineServices();
    QCOMPARE(services.fileType(still), kJpegStillFileType);
    QVERIFY(services.fileType(testdata + QStringLiteral("README.md")) != kJpegStillFileType);

    const CommandLine parsed = ParseCommandLine({other, QStringLiteral("/Input"), list}, services);
    QCOMPARE(parsed.kind, CommandLine::Kind::Pictures);
    QCOMPARE(parsed.pictures, QStringList{still});
    // Photos of every format the list reads, by their content (a HEIC named
    // .jpg too); a text named like a photo is passed over.
    const QString formats = QStringLiteral(TV_TESTDATA_DIR "/formats/");
    const QString misnamed = m_home->Path("phone.jpg");
    QVERIFY(QFile::copy(formats + QStringLiteral("mde-cheers_1440x960.heic"), misnamed));
    const QString notPhoto = m_home->Path("notes.heic");
    TestHome::WriteFile(notPhoto, "not a photo");
    const QStringList everyFormat = {formats + QStringLiteral("mde-IMG_1034.heic"),
                                     formats + QStringLiteral("exiv2-avif.avif"),
                                     formats + QStringLiteral("exiv2-imagemagick.png"),
                                     formats + QStringLiteral("exiv2-test.tiff"),
                                     formats + QStringLiteral("crafted/webp-exif-xmp.webp"),
                                     formats + QStringLiteral("crafted/cr3-like.cr3"),
                                     formats + QStringLiteral("crafted/raf-like.raf"),
                                     formats + QStringLiteral("crafted/dng-like.dng"),
                                     misnamed,
                                     still};
    QCOMPARE(ParseCommandLine(everyFormat + QStringList{notPhoto}, services).pictures, everyFormat);
    QCOMPARE(ParseCommandLine({QStringLiteral("/input"), m_home->Path("none.xml")}, services).pictures, QStringList{});
  }

  // --- what the creation handler does ---

  void withNoArgumentsTheNoticeAndTheStartPageFollowAndThePrivacySwitchIsCleared() {
    AppSettings settings;
    RecordingTarget target;
    StartFromCommandLine(CommandLine{}, settings, target);
    QCOMPARE(target.calls, (QStringList{"ShowNotice(112,howto_nopicture)", "RequestStartPage"}));
    QCOMPARE(settings.ReadNumber(QStringLiteral("disp_once")), 0);
  }

  void withNoArgumentsAndTheNoticeSwitchedOffOnlyTheStartPageFollows() {
    AppSettings settings;
    settings.WriteNumber(QStringLiteral("howto_nopicture"), 0);
    RecordingTarget target;
    StartFromCommandLine(CommandLine{}, settings, target);
    QCOMPARE(target.calls, QStringList{"RequestStartPage"});
  }

  void withOnlyNonJpegArgumentsTheNoticeAndStartPageFollowWhileTheSwitchIsOn() {
    AppSettings settings;
    QCOMPARE(CallsFor({QStringLiteral("/p/b.png")}, settings),
             (QStringList{"ShowNotice(112,howto_nopicture)", "RequestStartPage"}));
    QCOMPARE(settings.ReadNumber(QStringLiteral("disp_once")), 0);
  }

  void withOnlyNonJpegArgumentsAndTheSwitchOffTheEmptyMapIsSent() {
    AppSettings settings;
    settings.WriteNumber(QStringLiteral("howto_nopicture"), 0);
    QCOMPARE(CallsFor({QStringLiteral("/p/b.png")}, settings), QStringList{"ShowPictures(none)"});
    QCOMPARE(settings.ReadNumber(QStringLiteral("disp_once")), 0);
  }

  void picturesShowThePrivacyNoticeOnlyOnTheFirstStart() {
    FakeFiles files;
    AppSettings settings;
    const CommandLine parsed =
        ParseCommandLine({QStringLiteral("/p/a.jpg"), QStringLiteral("/p/c.jpg")}, files.Services());
    RecordingTarget first;
    StartFromCommandLine(parsed, settings, first);
    QCOMPARE(first.calls, (QStringList{"ShowPrivacyNotice", "ShowPictures(/p/a.jpg|/p/c.jpg)"}));
    QCOMPARE(settings.ReadNumber(QStringLiteral("disp_once")), 0);
    RecordingTarget second;
    StartFromCommandLine(parsed, settings, second);
    QCOMPARE(second.calls, QStringList{"ShowPictures(/p/a.jpg|/p/c.jpg)"});
  }

  void aStateFileIsOpenedAndBecomesTheCaption() {
    FakeFiles files;
    AppSettings settings;
    RecordingTarget target;
    const QString path = QStringLiteral("/home/u/Documents/Terravue/Trip/data.tvd");
    StartFromCommandLine(ParseCommandLine({path}, files.Services()), settings, target);
    QCOMPARE(target.calls, (QStringList{"OpenStateFile(" + path + ")", "SetCaption(" + path + ")"}));
    // The state file branch leaves the privacy switch alone.
    QCOMPARE(settings.ReadNumber(QStringLiteral("disp_once")), 1);
  }

  void aStateFileThatCannotBeOpenedShowsMessage118AndLeavesTheCaption() {
    AppSettings settings;
    QCOMPARE(CallsFor({QStringLiteral("data.tvd")}, settings, false),
             (QStringList{"OpenStateFile(data.tvd)", "ShowInformation(118)"}));
  }

  void anUpperCaseStateFileFollowsTheNoStillImageBranch() {
    AppSettings settings;
    QCOMPARE(CallsFor({QStringLiteral("/t/Trip/data.TVD")}, settings),
             (QStringList{"ShowNotice(112,howto_nopicture)", "RequestStartPage"}));
  }

  void aMissingHandOffFileIsAnEmptySelection() {
    AppSettings settings;
    settings.WriteNumber(QStringLiteral("howto_nopicture"), 0);
    QCOMPARE(CallsFor({QStringLiteral("/INPUT"), QStringLiteral("/lists/none.xml")}, settings),
             QStringList{"ShowPictures(none)"});
  }

  // --- placement ---

  void placingTheMainWindow_data() {
    QTest::addColumn<QRect>("workArea");
    QTest::addColumn<std::optional<int>>("storedX");
    QTest::addColumn<std::optional<int>>("storedY");
    QTest::addColumn<QRect>("expected");
    const QRect work(0, 0, 1280, 800);
    // Centred: (1280 - 796) / 2 = 242, (800 - 596) / 2 = 102.
    QTest::newRow("nothing stored") << work << std::optional<int>() << std::optional<int>()
                                    << QRect(242, 102, 796, 596);
    QTest::newRow("left edge -50 survives")
        << work << std::optional<int>(-50) << std::optional<int>(10) << QRect(-50, 10, 796, 596);
    QTest::newRow("left edge -51 is centred")
        << work << std::optional<int>(-51) << std::optional<int>(10) << QRect(242, 10, 796, 596);
    QTest::newRow("left edge right - 51 survives")
        << work << std::optional<int>(1229) << std::optional<int>(10) << QRect(1229, 10, 796, 596);
    QTest::newRow("left edge right - 50 is centred")
        << work << std::optional<int>(1230) << std::optional<int>(10) << QRect(242, 10, 796, 596);
    QTest::newRow("top edge -51 is centred")
        << work << std::optional<int>(5) << std::optional<int>(-51) << QRect(5, 102, 796, 596);
    QTest::newRow("top edge bottom - 50 is centred")
        << work << std::optional<int>(5) << std::optional<int>(750) << QRect(5, 102, 796, 596);
    QTest::newRow("minimised far off-screen")
        << work << std::optional<int>(-32000) << std::optional<int>(-32000) << QRect(242, 102, 796, 596);
    // The work area's own offset is not added to the centred default.
    QTest::newRow("offset work area") << QRect(100, 30, 1180, 770) << std::optional<int>() << std::optional<int>()
                                      << QRect(192, 87, 796, 596);
  }
  void placingTheMainWindow() {
    QFETCH(QRect, workArea);
    QFETCH(std::optional<int>, storedX);
    QFETCH(std::optional<int>, storedY);
    QFETCH(QRect, expected);
    StoredPlacement stored;
    stored.x = storedX;
    stored.y = storedY;
    QCOMPARE(PlaceMainWindow(workArea, QSize(796, 596), stored), expected);
  }

  void storedSizesAreTakenAsTheyAre() {
    StoredPlacement stored;
    stored.x = 10;
    stored.y = 20;
    stored.cx = 1000;
    stored.cy = 300;
    QCOMPARE(PlaceMainWindow(QRect(0, 0, 800, 600), QSize(796, 596), stored), QRect(10, 20, 1000, 300));
  }

  void thePlacementIsReadFromTheSettings() {
    AppSettings settings;
    QVERIFY(!ReadStoredPlacement(settings).x.has_value());
    settings.WriteNumber(QStringLiteral("x"), -50);
    settings.WriteNumber(QStringLiteral("cy"), 400);
    const StoredPlacement stored = ReadStoredPlacement(settings);
    QCOMPARE(stored.x, std::optional<int>(-50));
    QCOMPARE(stored.cy, std::optional<int>(400));
    QVERIFY(!stored.y.has_value());
  }

  void noticesSitInTheLowerLeftCornerOfTheirParentAndDialogsCentredOverIt() {
    // 12 pixels in from the left, 48 up from the bottom: 50 + 700 - 48 - 120 = 582.
    QCOMPARE(PlaceNoticeOverParent(QRect(100, 50, 1000, 700), QSize(300, 120)), QPoint(112, 582));
    // A notice taller than its parent's room starts at the parent's top edge.
    QCOMPARE(PlaceNoticeOverParent(QRect(0, 20, 100, 100), QSize(301, 90)), QPoint(12, 20));
    QCOMPARE(CentreOverParent(QRect(100, 50, 1000, 700), QSize(300, 120)), QPoint(450, 340));
    // Division truncates toward zero when the dialog is wider than the parent.
    QCOMPARE(CentreOverParent(QRect(0, 0, 100, 100), QSize(301, 10)).x(), -100);
  }

  // --- the start-up sequence ---

  void withoutTheStartPageTheProgramEndsSilently() {
    FakeFiles files;
    QDir().mkpath(m_home->Path("empty-program"));
    int messages = 0;
    AppStartOptions options = OptionsFor(m_home->Path("empty-program"), files);
    options.showAlreadyRunning = [&messages](const QString&) { ++messages; };
    CTerravueApp quiet(std::move(options));
    QVERIFY(!quiet.InitInstance());
    QCOMPARE(messages, 0);
    QVERIFY(quiet.MainWindow() == nullptr);
    QVERIFY(!quiet.HoldsInstanceLock());
  }

  void aSecondInstanceShowsMessage111AndEnds() {
    FakeFiles files;
    const QString program = MakeProgramFolder();
    // The first instance's lock, held as a running program would hold it.
    QLockFile first(CTerravueApp::InstanceLockPath());
    QVERIFY(first.tryLock(0));

    QStringList shown;
    AppStartOptions options = OptionsFor(program, files);
    options.showAlreadyRunning = [&shown](const QString& text) { shown.append(text); };
    CTerravueApp second(std::move(options));
    QVERIFY(!second.InitInstance());
    QCOMPARE(shown, QStringList{"The Terravue is running. Quit the Terravue before starting the program."});
    QVERIFY(second.MainWindow() == nullptr);
    QVERIFY(!second.HasLocaleLibrary());
    // The second instance computed the values and made the folders before it ended.
    QVERIFY(QFileInfo(m_home->Path("home/Documents") + QStringLiteral("/Terravue")).isDir());
  }

  void aLockLeftByACrashedInstanceDoesNotBlockTheNextStart() {
    const QString lockPath = CTerravueApp::InstanceLockPath();
    // A lock file naming a process that no longer runs.
    TestHome::WriteFile(lockPath, "999999\nterravue\n\n");
    FakeFiles files;
    AppStartOptions options = OptionsFor(MakeProgramFolder(), files);
    options.showAlreadyRunning = [](const QString&) { QFAIL("refused by a stale lock"); };
    CTerravueApp app(std::move(options));
    QVERIFY(app.InitInstance());
    QVERIFY(app.HoldsInstanceLock());
  }

  void startingWithNoArgumentsShowsTheStartPageAndTheNotice() {
    FakeFiles files;
    const QString program = MakeProgramFolder();
    CTerravueApp app(OptionsFor(program, files));
    QVERIFY(app.InitInstance());
    QVERIFY(app.HoldsInstanceLock());
    CTerravueBaseWnd* window = app.MainWindow();
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Terravue"));
    QCOMPARE(window->size(), QSize(796, 596));
    QCOMPARE(window->CurrentStateIndex(), -1);

    // Menu 151: four commands, "Load track...", "Use these photos as a track", Undo, Redo,
    // "Restore original positions...", "Export...", "Open a saved map...", "Name places...",
    // "About Terravue", a separator, no saved states yet.
    const QList<QAction*> actions = window->Menu()->actions();
    QCOMPARE(actions.size(), 14);
    QCOMPARE(MainMenu::CommandOf(actions.at(0)), MainMenu::kSaveAsNew);
    QCOMPARE(actions.at(3)->text(), QStringLiteral("Help (&H)"));
    QCOMPARE(MainMenu::CommandOf(actions.at(4)), MainMenu::kLoadTrack);
    QCOMPARE(MainMenu::CommandOf(actions.at(5)), MainMenu::kPhotosAsTrack);
    QCOMPARE(actions.at(5)->text(), QStringLiteral("Use these photos as a track (&P)"));
    QCOMPARE(MainMenu::CommandOf(actions.at(6)), MainMenu::kUndo);
    QCOMPARE(MainMenu::CommandOf(actions.at(7)), MainMenu::kRedo);
    QCOMPARE(MainMenu::CommandOf(actions.at(8)), MainMenu::kRestoreOriginals);
    QCOMPARE(MainMenu::CommandOf(actions.at(9)), MainMenu::kExport);
    QCOMPARE(actions.at(9)->text(), QStringLiteral("Export... (&E)"));
    QCOMPARE(MainMenu::CommandOf(actions.at(10)), MainMenu::kOpenStateFile);
    QCOMPARE(actions.at(10)->text(), QStringLiteral("Open a saved map... (&M)"));
    QCOMPARE(MainMenu::CommandOf(actions.at(11)), MainMenu::kNamePlaces);
    QCOMPARE(actions.at(11)->text(), QStringLiteral("Name places... (&N)"));
    QCOMPARE(MainMenu::CommandOf(actions.at(12)), MainMenu::kAbout);
    QVERIFY(actions.at(13)->isSeparator());

    // The "howto_nopicture" notice is open over the window.
    const auto notices = window->findChildren<CWarnningDlg*>();
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices.front()->NoticeName(), QStringLiteral("howto_nopicture"));
    QVERIFY(notices.front()->isVisible());

    // The start page of the program folder loads.
    const QUrl start = QUrl::fromLocalFile(program + QStringLiteral("map.html"));
    QTRY_COMPARE_WITH_TIMEOUT(window->HtmlWnd()->url(), start, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(window->HtmlWnd()->title(), QStringLiteral("Start page"), 20000);

    const AppSettings settings;
    QCOMPARE(settings.ReadNumber(QStringLiteral("initialize")), 0);
    QCOMPARE(settings.ReadNumber(QStringLiteral("disp_once")), 0);

    // Ending stores the placement and releases the lock for the next start.
    QCOMPARE(app.ExitInstance(), 0);
    QVERIFY(!app.HoldsInstanceLock());
    const AppSettings after;
    QCOMPARE(after.ReadNumber(QStringLiteral("cx")), 796);
    QVERIFY(after.ReadNumber(QStringLiteral("x"), -99999) != -99999);
    QLockFile next(CTerravueApp::InstanceLockPath());
    QVERIFY(next.tryLock(0));
  }

  void aLocaleFileInTheProgramFolderSuppliesTexts() {
    const QString program = MakeProgramFolder();
    TestHome::WriteFile(program + QStringLiteral("PtvTvLocale.qm"),
                        MakeTranslationFile(QStringLiteral("PtvTvLocale"),
                                            {{QStringLiteral("112"), QStringLiteral("Choisissez une photo.")},
                                             {QStringLiteral("121"), QStringLiteral("Terravue FR")}}));
    FakeFiles files;
    CTerravueApp app(OptionsFor(program, files));
    QVERIFY(app.InitInstance());
    QVERIFY(app.HasLocaleLibrary());
    QCOMPARE(app.MainWindow()->windowTitle(), QStringLiteral("Terravue FR"));
    const auto notices = app.MainWindow()->findChildren<CWarnningDlg*>();
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices.front()->MessageLabel()->text(), QStringLiteral("Choisissez une photo."));
    // Texts the file does not carry come from the program itself.
    QCOMPARE(notices.front()->OkButton()->text(), QStringLiteral("OK"));
    QCOMPARE(AppGlobals::Get().Message(115), QStringLiteral("Deletion has failed."));
    app.ExitInstance();
    QVERIFY(!app.HasLocaleLibrary());
    QCOMPARE(AppStrings::Instance().String(112), QStringLiteral("In Terravue, make sure to choose a still image."));
  }

  void aLocaleFileThatIsNotOneIsPassedOver() {
    const QString program = MakeProgramFolder();
    TestHome::WriteFile(program + QStringLiteral("PtvTvLocale.qm"), "not a translation file");
    FakeFiles files;
    CTerravueApp app(OptionsFor(program, files));
    QVERIFY(app.InitInstance());
    QVERIFY(!app.HasLocaleLibrary());
    QCOMPARE(app.MainWindow()->windowTitle(), QStringLiteral("Terravue"));
  }

  void startingWithPicturesLoadsThemAndPostsTheMapToTheEmbeddedServer() {
    const QString program = QStringLiteral(TV_PROGRAM_DIR "/");
    if (!QFileInfo::exists(program + QStringLiteral("terravue_page.html"))) {
      QSKIP("the page files are not built");
    }
    const QString testdata = QStringLiteral(TV_TESTDATA_DIR "/camera/");
    AppStartOptions options;
    options.programFolder = program;
    options.language = AppStrings::Language::English;
    // One picture with a position, two without, and a file that is no JPEG still.
    options.arguments = {testdata + QStringLiteral("exifpy-DSCN0010.jpg"), testdata + QStringLiteral("README.md"),
                         testdata + QStringLiteral("exifpy-Canon_40D.jpg"),
                         testdata + QStringLiteral("exifpy-45-gps_ifd.jpg")};
    CTerravueApp app(std::move(options));
    QVERIFY(app.InitInstance());
    QVERIFY(app.ServesMaps());
    CTerravueHtmlWnd* map = app.MainWindow()->HtmlWnd();
    QVERIFY(map->IsLoading());
    QSignalSpy posted(map, &CTerravueHtmlWnd::querySent);
    QCOMPARE(app.MainWindow()->findChildren<CPimDlg*>().size(), 1);

    // The map goes out as soon as the pictures are read; their thumbnails follow.
    QTRY_COMPARE_WITH_TIMEOUT(posted.count(), 1, 20000);
    QCOMPARE(map->CurrentMap().m_pictures.Count(), std::size_t{3});
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsLoading(), 20000);
    QCOMPARE(posted.count(), 1);
    const QString workFolder = m_home->Path("home/Documents") + QStringLiteral("/Terravue");
    QCOMPARE(QDir(workFolder).entryList({QStringLiteral("cache_*.jpg")}).size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(map->url(), QUrl(AppGlobals::Get().serverScriptUrl), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(map->title(), QStringLiteral("Terravue"), 20000);

    // Some pictures have no position: that notice is offered, the other not.
    QStringList notices;
    for (const CWarnningDlg* notice : app.MainWindow()->findChildren<CWarnningDlg*>()) {
      notices.append(notice->NoticeName());
    }
    QCOMPARE(notices, QStringList{"warn_hasnolocation"});

    // Thumbnails that were never saved go with the window.
    app.ExitInstance();
    QCOMPARE(QDir(workFolder).entryList({QStringLiteral("cache_*.jpg")}).size(), 0);
  }

  void aStoredPlacementIsUsedAtTheNextStart() {
    {
      AppSettings settings;
      settings.WriteNumber(QStringLiteral("x"), 12);
      settings.WriteNumber(QStringLiteral("y"), 34);
      settings.WriteNumber(QStringLiteral("cx"), 640);
      settings.WriteNumber(QStringLiteral("cy"), 480);
      settings.WriteNumber(QStringLiteral("howto_nopicture"), 0);
    }
    FakeFiles files;
    CTerravueApp app(OptionsFor(MakeProgramFolder(), files));
    QVERIFY(app.InitInstance());
    QCOMPARE(app.MainWindow()->frameGeometry().topLeft(), QPoint(12, 34));
    QCOMPARE(app.MainWindow()->size(), QSize(640, 480));
    QVERIFY(app.MainWindow()->findChildren<CWarnningDlg*>().isEmpty());
  }
};

TV_QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
