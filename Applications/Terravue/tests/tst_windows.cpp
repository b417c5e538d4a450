// The parts of the main window and the map window that need no photos: page
// kinds, dropped files, the page read's answer, state names, the menu button,
// the thumbnail scheme and the headers that map tiles are requested with.
#include <QAbstractButton>
#include <QHash>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <ctime>
#include <memory>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CCustomButton.h"
#include "Applications/Terravue/CInfoNoticeDlg.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/CWarnningDlg.h"
#include "Applications/Terravue/CommandLine.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/ThumbnailSchemeHandler.h"
#include "Applications/Terravue/TileRequestInterceptor.h"
#include "Applications/Terravue/WebProfile.h"
#include "Applications/Terravue/mapdata/MapStateStore.h"
#include "Applications/Terravue/mapdata/PageEdits.h"
#include "Applications/Terravue/tests/AppTestSupport.h"

namespace {

/// A small HTTP server on 127.0.0.1: answers every GET with the body set for
/// its path (404 otherwise) and remembers the headers of every request.
class LocalHttpServer : public QObject {
 public:
  LocalHttpServer() {
    connect(&m_server, &QTcpServer::newConnection, this, &LocalHttpServer::Accept);
    QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
  }

  quint16 Port() const { return m_server.serverPort(); }
  /// `type` may carry further header lines after the content type ("\r\n"-separated).
  void Serve(const QByteArray& path, const QByteArray& type, const QByteArray& body) { m_bodies[path] = {type, body}; }
  /// Headers (lower-case names) of the requests for `path`, in arrival order.
  QList<QHash<QByteArray, QByteArray>> RequestsFor(const QByteArray& path) const { return m_requests.value(path); }

 private:
  void Accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
      connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  void Read(QTcpSocket* socket) {
    QByteArray& pending = m_pending[socket];
    pending += socket->readAll();
    const qsizetype end = pending.indexOf("\r\n\r\n");
    if (end < 0) {
      return;
    }
    const QList<QByteArray> lines = pending.left(end).split('\n');
    pending.clear();
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    const QByteArray path = first.value(1);
    QHash<QByteArray, QByteArray> headers;
    for (qsizetype i = 1; i < lines.size(); ++i) {
      const qsizetype colon = lines[i].indexOf(':');
      if (colon > 0) {
        headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
      }
    }
    m_requests[path].append(headers);
    const auto found = m_bodies.constFind(path);
    QByteArray answer;
    if (found == m_bodies.constEnd()) {
      answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    } else {
      answer = "HTTP/1.1 200 OK\r\nContent-Type: " + found->first +
               "\r\nContent-Length: " + QByteArray::number(found->second.size()) + "\r\nConnection: close\r\n\r\n" +
               found->second;
    }
    socket->write(answer);
    socket->disconnectFromHost();
  }

  QTcpServer m_server;
  QHash<QByteArray, QPair<QByteArray, QByteArray>> m_bodies;
  QHash<QByteArray, QList<QHash<QByteArray, QByteArray>>> m_requests;
  QHash<QTcpSocket*, QByteArray> m_pending;
};

// A 1 x 1 PNG.
const QByteArray kPixel = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");

AppGlobals GlobalsFor(const QString& programFolder, const QString& server) {
  AppGlobals globals;
  globals.appTitle = QStringLiteral("Terravue");
  globals.serverScriptUrl = server + QStringLiteral("/www/gps/terravue/script2/terravue.php");
  globals.helpUrl = server + QStringLiteral("/www/gps/terravue/help/help_ENU_11.html");
  globals.mapPageUrl = FileUrlOf(programFolder + QStringLiteral("/map.html"));
  globals.waitPageUrl = FileUrlOf(programFolder + QStringLiteral("/wait.htm"));
  globals.clientVersion = "1.1.01.08140";
  globals.languageCode = "ENU";
  return globals;
}

}  // namespace

class WindowsTest : public AppTestCase {
  Q_OBJECT

 private slots:
  // -- page kinds ------------------------------------------------------------

  void pageKindsCompareFileUrlsByTheirPathsAndOthersDecoded_data() {
    QTest::addColumn<QUrl>("location");
    QTest::addColumn<int>("kind");
    const QString program = QStringLiteral("/opt/Tv Program");
    QTest::newRow("start page as the browser reports it")
        << QUrl(QStringLiteral("file:///opt/Tv%20Program/map.html")) << int(PageKind::PageMap);
    QTest::newRow("start page with a fragment")
        << QUrl(QStringLiteral("file:///opt/Tv%20Program/map.html#top")) << int(PageKind::PageMap);
    QTest::newRow("start page in another letter case is another file")
        << QUrl(QStringLiteral("file:///opt/tv%20program/MAP.HTML")) << int(PageKind::PageOther);
    QTest::newRow("wait page") << QUrl::fromLocalFile(program + QStringLiteral("/wait.htm")) << int(PageKind::PageWait);
    QTest::newRow("server script") << QUrl(
                                          QStringLiteral("http://127.0.0.1:8080/www/gps/terravue/script2/terravue.php"))
                                   << int(PageKind::PageServer);
    QTest::newRow("server script with an encoded letter")
        << QUrl(QStringLiteral("http://127.0.0.1:8080/www/gps/terravue/script2/terravu%65.php"))
        << int(PageKind::PageServer);
    QTest::newRow("server script on another port")
        << QUrl(QStringLiteral("http://127.0.0.1:8081/www/gps/terravue/script2/terravue.php"))
        << int(PageKind::PageOther);
    QTest::newRow("help") << QUrl(QStringLiteral("http://127.0.0.1:8080/www/gps/terravue/help/help_ENU_11.html"))
                          << int(PageKind::PageHelp);
    QTest::newRow("blank") << QUrl(QStringLiteral("about:blank")) << int(PageKind::PageOther);
  }

  void pageKindsCompareFileUrlsByTheirPathsAndOthersDecoded() {
    QFETCH(QUrl, location);
    QFETCH(int, kind);
    const AppGlobals globals = GlobalsFor(QStringLiteral("/opt/Tv Program"), QStringLiteral("http://127.0.0.1:8080"));
    const QString mapBefore = globals.mapPageUrl;
    QCOMPARE(int(CTerravueHtmlWnd::ClassifyLocation(location, globals)), kind);
    // The stored addresses stay as they were.
    QCOMPARE(globals.mapPageUrl, mapBefore);
  }

  // -- dropped files -----------------------------------------------------------

  void dropsKeepOnlyNewStillsOutsideTheWorkAndProgramFolders() {
    const QString work = m_home->Path("home/Documents/Terravue");
    const QString program = m_home->Path("program");
    const QString photos = m_home->Path("photos");
    const QStringList files = {photos + QStringLiteral("/a.jpg"),      photos + QStringLiteral("/b.jpg"),
                               photos + QStringLiteral("/notes.txt"),  work + QStringLiteral("/cache_1.jpg"),
                               work + QStringLiteral("/Trip/x.jpg"),   program + QStringLiteral("/p.jpg"),
                               program + QStringLiteral("/sub/q.jpg"), photos + QStringLiteral("/Terravue2/c.jpg")};
    for (const QString& file : files) {
      TestHome::WriteFile(file, "\xFF\xD8\xFF");
    }
    QDir().mkpath(photos + QStringLiteral("/folder.jpg"));
    DropRules rules;
    rules.workFolder = work;
    rules.programFolder = program;
    rules.fileType = [](const QString& path) -> std::uint32_t {
      return path.endsWith(QLatin1String(".jpg")) ? kJpegStillFileType : 0x10000201;
    };
    rules.isOnMap = [&](const QString& path) { return path == photos + QStringLiteral("/b.jpg"); };
    QStringList dropped = files;
    dropped << photos + QStringLiteral("/folder.jpg") << photos + QStringLiteral("/missing.jpg");
    QCOMPARE(CTerravueHtmlWnd::AcceptedDrops(dropped, rules),
             (QStringList{photos + QStringLiteral("/a.jpg"), program + QStringLiteral("/sub/q.jpg"),
                          photos + QStringLiteral("/Terravue2/c.jpg")}));
  }

  void aDroppedFolderAddsThePhotosOfEveryReadFormatByTheirContent() {
    const QString photos = m_home->Path("trip");
    const QString formats = QStringLiteral(TV_TESTDATA_DIR "/formats/crafted/");
    QDir().mkpath(photos);
    QVERIFY(QFile::copy(formats + QStringLiteral("heic-like.heic"), photos + QStringLiteral("/IMG_1.HEIC")));
    QVERIFY(QFile::copy(formats + QStringLiteral("cr3-like.cr3"), photos + QStringLiteral("/IMG_2.CR3")));
    QVERIFY(QFile::copy(formats + QStringLiteral("png-exif.png"), photos + QStringLiteral("/screen.png")));
    TestHome::WriteFile(photos + QStringLiteral("/notes.heic"), "not a photo");
    DropRules rules;
    rules.workFolder = m_home->Path("home/Documents/Terravue");
    rules.programFolder = m_home->Path("program");
    // The classifier knows none of them: their content makes them photos.
    rules.fileType = [](const QString&) -> std::uint32_t { return 0x10000201; };
    QCOMPARE(CTerravueHtmlWnd::AcceptedDrops({photos}, rules),
             (QStringList{photos + QStringLiteral("/IMG_1.HEIC"), photos + QStringLiteral("/IMG_2.CR3"),
                          photos + QStringLiteral("/screen.png")}));
  }

  void aDropThroughALinkIntoTheWorkFolderIsRefused() {
    const QString work = m_home->Path("home/Documents/Terravue");
    TestHome::WriteFile(work + QStringLiteral("/cache_1.jpg"), "\xFF\xD8\xFF");
    const QString link = m_home->Path("linked");
    QVERIFY(QFile::link(work, link));
    DropRules rules;
    rules.workFolder = work;
    rules.programFolder = m_home->Path("program");
    rules.fileType = [](const QString&) -> std::uint32_t { return kJpegStillFileType; };
    QCOMPARE(CTerravueHtmlWnd::AcceptedDrops({link + QStringLiteral("/cache_1.jpg")}, rules), QStringList());
  }

  // -- the page read's answer ----------------------------------------------------

  void thePageReadTakesNameValuePairsAndRefusesAnythingElse() {
    const QVariantList answer = {QVariantList{QStringLiteral("map_zoom"), QStringLiteral("5")},
                                 QVariantList{QStringLiteral("odd")}, QVariantList{QStringLiteral("pic_count"), 2}};
    const auto fields = CTerravueHtmlWnd::FieldsFromScript(answer);
    QVERIFY(fields.has_value());
    QCOMPARE(fields->size(), std::size_t{2});
    QCOMPARE(QString::fromStdString((*fields)[1].name), QStringLiteral("pic_count"));
    QCOMPARE(QString::fromStdString((*fields)[1].value), QStringLiteral("2"));
    QVERIFY(!CTerravueHtmlWnd::FieldsFromScript(QVariant()).has_value());
    QVERIFY(!CTerravueHtmlWnd::FieldsFromScript(QStringLiteral("text")).has_value());
  }

  // -- names and texts of the main window -----------------------------------------

  void stateNamesLoseTheTrimCharactersAtTheirEndsOnly_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("kept");
    QTest::newRow("trailing question mark") << QStringLiteral("Trip?") << QStringLiteral("Trip");
    QTest::newRow("both ends") << QStringLiteral("\"<Trip>\"") << QStringLiteral("Trip");
    QTest::newRow("slash inside") << QStringLiteral("a/b") << QStringLiteral("a/b");
    QTest::newRow("only trim characters") << QStringLiteral("\\/:,;*?\"<>|") << QString();
    QTest::newRow("blanks stay") << QStringLiteral(" Trip ") << QStringLiteral(" Trip ");
  }

  void stateNamesLoseTheTrimCharactersAtTheirEndsOnly() {
    QFETCH(QString, given);
    QFETCH(QString, kept);
    QCOMPARE(CTerravueBaseWnd::CleanStateName(given), kept);
  }

  void theDeletionQuestionShowsMonthDayYearAndTwentyFourHourTime() {
    std::tm local{};
    local.tm_year = 2007 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 7;
    local.tm_hour = 21;
    local.tm_min = 5;
    local.tm_sec = 3;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    QCOMPARE(CTerravueBaseWnd::DeletionTimeText(when), QStringLiteral("03/07/07 21:05:03"));
  }

  // -- the menu button -----------------------------------------------------------

  void theMenuButtonReportsAClickInsideItOnly() {
    QWidget owner;
    owner.resize(200, 100);
    auto* button =
        new CCustomButton(QStringLiteral(":/terravue/bitmap160.png"), QStringLiteral(":/terravue/bitmap160.png"),
                          QStringLiteral(":/terravue/bitmap164.png"));
    button->Create(&owner, 10, 10, 2, /*toggle=*/false, 0);
    QVERIFY(button->IsCreated());
    QVERIFY(!button->Image(CCustomButton::Normal).isNull());
    QCOMPARE(button->size(), button->Image(CCustomButton::Normal).deviceIndependentSize().toSize());
    QSignalSpy clicks(button, &CCustomButton::customButtonMessage);

    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    QCOMPARE(button->VisualState(), int(CCustomButton::Pressed));
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    QCOMPARE(button->VisualState(), int(CCustomButton::Normal));
    QTRY_COMPARE(clicks.count(), 1);
    QCOMPARE(clicks.at(0).at(0).toInt(), 2);
    QCOMPARE(clicks.at(0).at(1).toInt(), 2);

    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(button->width() + 20, 3));
    QTest::qWait(50);
    QCOMPARE(clicks.count(), 1);
  }

  void aToggleButtonReportsEveryReleaseWithItsState() {
    QWidget owner;
    auto* button =
        new CCustomButton(QStringLiteral(":/terravue/bitmap160.png"), QStringLiteral(":/terravue/bitmap160.png"),
                          QStringLiteral(":/terravue/bitmap164.png"));
    button->Create(&owner, 0, 0, 7, /*toggle=*/true, 0);
    QSignalSpy clicks(button, &CCustomButton::customButtonMessage);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    QTRY_COMPARE(clicks.count(), 2);
    QCOMPARE(clicks.at(0).at(1).toInt(), 2);
    QCOMPARE(clicks.at(1).at(1).toInt(), 0);
  }

  // -- thumbnails and tiles ----------------------------------------------------------

  void thumbnailUrlsNameOnlyJpegFilesInsideTheWorkFolder() {
    const QString work = m_home->Path("work");
    TestHome::WriteFile(work + QStringLiteral("/cache_1.jpg"), "jpeg");
    TestHome::WriteFile(work + QStringLiteral("/My Trip/cache_2.jpg"), "jpeg");
    TestHome::WriteFile(work + QStringLiteral("/notes.txt"), "text");
    TestHome::WriteFile(m_home->Path("secret.jpg"), "secret");
    QVERIFY(QFile::link(m_home->Path("secret.jpg"), work + QStringLiteral("/link.jpg")));
    const auto file = [&](const char* url) {
      return ThumbnailSchemeHandler::FileFor(QUrl(QString::fromLatin1(url)), work);
    };
    QCOMPARE(file("tvthumb:/cache_1.jpg"), QFileInfo(work + QStringLiteral("/cache_1.jpg")).canonicalFilePath());
    QCOMPARE(file("tvthumb:/My%20Trip/cache_2.jpg"),
             QFileInfo(work + QStringLiteral("/My Trip/cache_2.jpg")).canonicalFilePath());
    QCOMPARE(file("tvthumb:/../secret.jpg"), QString());
    QCOMPARE(file("tvthumb:/My%20Trip/..%2Fcache_1.jpg"), QString());
    QCOMPARE(file("tvthumb:/link.jpg"), QString());
    QCOMPARE(file("tvthumb:/notes.txt"), QString());
    QCOMPARE(file("tvthumb:/missing.jpg"), QString());
    QCOMPARE(file("tvthumb:/cache_1.jpg?x=1"), QString());
    QCOMPARE(file("tvthumb://host/cache_1.jpg"), QString());
    QCOMPARE(file("http:/cache_1.jpg"), QString());
    QCOMPARE(file("tvthumb:/.hidden.jpg"), QString());
    QCOMPARE(file("tvthumb:/My%20Trip//cache_2.jpg"), QString());
  }

  void onlyTheServersOriginCounts() {
    const QUrl server(QStringLiteral("http://127.0.0.1:8080/www/gps/terravue/script2/terravue.php"));
    QVERIFY(ThumbnailSchemeHandler::IsServerOrigin(QUrl(QStringLiteral("http://127.0.0.1:8080")), server));
    QVERIFY(!ThumbnailSchemeHandler::IsServerOrigin(QUrl(QStringLiteral("http://127.0.0.1:8081")), server));
    QVERIFY(!ThumbnailSchemeHandler::IsServerOrigin(QUrl(QStringLiteral("http://localhost:8080")), server));
    QVERIFY(!ThumbnailSchemeHandler::IsServerOrigin(QUrl(QStringLiteral("https://127.0.0.1:8080")), server));
    QVERIFY(!ThumbnailSchemeHandler::IsServerOrigin(QUrl(), server));
  }

  void tilesOfTheServersPageGetTheServersOriginAsReferer() {
    const QUrl server(QStringLiteral("http://127.0.0.1:8080/www/gps/terravue/script2/terravue.php"));
    const QUrl page(QStringLiteral("http://127.0.0.1:8080"));
    const QUrl tile(QStringLiteral("https://tile.openstreetmap.org/3/4/2.png"));
    QCOMPARE(TileRequestInterceptor::RefererFor(QWebEngineUrlRequestInfo::ResourceTypeImage, tile, page, server),
             QByteArray("http://127.0.0.1:8080/"));
    QCOMPARE(TileRequestInterceptor::RefererFor(QWebEngineUrlRequestInfo::ResourceTypeScript, tile, page, server),
             QByteArray());
    QCOMPARE(TileRequestInterceptor::RefererFor(QWebEngineUrlRequestInfo::ResourceTypeImage, tile,
                                                QUrl(QStringLiteral("http://example.org")), server),
             QByteArray());
    QCOMPARE(TileRequestInterceptor::RefererFor(QWebEngineUrlRequestInfo::ResourceTypeImage,
                                                QUrl(QStringLiteral("http://127.0.0.1:8080/x.png")), page, server),
             QByteArray());
  }

  void theUserAgentNamesTheProgramOnce() {
    const QByteArray engine = "Mozilla/5.0 (X11; Linux x86_64) QtWebEngine/6.4.2 Chrome/90.0 Safari/537.36";
    const QByteArray agent = TerravueUserAgent(engine, "1.1.01.08140");
    QCOMPARE(agent, engine + " Terravue/1.1.01.08140");
    QCOMPARE(TerravueUserAgent(agent, "1.1.01.08140"), agent);
  }

  void theMapsBrowserKeepsItsCacheOnDiskCappedByTheSetting() {
    QWebEngineProfile& profile = TerravueWebProfile();
    QVERIFY(!profile.isOffTheRecord());
    QCOMPARE(profile.httpCacheType(), QWebEngineProfile::DiskHttpCache);
    QCOMPARE(profile.cachePath(), WebCacheFolder());
    QVERIFY2(profile.cachePath().endsWith(QStringLiteral("/terravue/web")), qPrintable(profile.cachePath()));
    QCOMPARE(profile.httpCacheMaximumSize(), 500 * 1024 * 1024);
    QCOMPARE(profile.persistentCookiesPolicy(), QWebEngineProfile::NoPersistentCookies);
    QCOMPARE(&TerravueWebProfile(), &profile);
  }

  void tilesSeenOnceAreNotFetchedAgainAtTheNextStart() {
    LocalHttpServer http;
    const QByteArray port = QByteArray::number(http.Port());
    http.Serve("/map.html", "text/html\r\nCache-Control: no-store",
               "<!DOCTYPE html><html><body><img src=\"/tile/5/6/7.png\"></body></html>");
    // What public tile servers send: a week's life.
    http.Serve("/tile/5/6/7.png", "image/png\r\nCache-Control: max-age=604800", kPixel);
    const QString url = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(port) + QStringLiteral("/map.html");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home->Path("cache"));
    const auto start = [&] {
      QProcess child;
      child.setProcessEnvironment(environment);
      child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
      child.start(QStringLiteral(TV_WEBCACHE_CHILD), {url});
      QVERIFY(child.waitForStarted());
      // The stand-in server answers from this event loop while the child runs.
      QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 60000);
      QCOMPARE(child.exitStatus(), QProcess::NormalExit);
      QCOMPARE(child.exitCode(), 0);
    };
    start();
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(http.RequestsFor("/map.html").size(), 1);
    QCOMPARE(http.RequestsFor("/tile/5/6/7.png").size(), 1);
    QVERIFY(!QDir(m_home->Path("cache") + QStringLiteral("/terravue/web")).isEmpty());
    start();
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(http.RequestsFor("/map.html").size(), 2);
    QCOMPARE(http.RequestsFor("/tile/5/6/7.png").size(), 1);
  }

  void theBrowserSendsTheHeadersAndServesThumbnailsToTheServersPageOnly() {
    // A local server stands in for the support server (at 127.0.0.1) and for
    // the tile host (at "localhost", another origin).
    LocalHttpServer http;
    const QByteArray port = QByteArray::number(http.Port());
    const QString work = m_home->Path("work");
    QVERIFY(QDir().mkpath(work));
    QVERIFY(QFile::copy(QStringLiteral(":/terravue/bitmap160.png"), work + QStringLiteral("/cache_1.jpg")));
    const QByteArray page = "<!DOCTYPE html><html><body><img id=\"tile\" src=\"http://localhost:" + port +
                            "/tile/3/4/2.png\"><img id=\"thumb\" src=\"tvthumb:/cache_1.jpg\"></body></html>";
    // The support server's own policy: the origin goes to other hosts.
    http.Serve("/www/gps/terravue/script2/terravue.php", "text/html\r\nReferrer-Policy: strict-origin", page);
    http.Serve("/other.html", "text/html", page);
    QVERIFY(QFile::copy(QStringLiteral(":/terravue/bitmap160.png"), work + QStringLiteral("/cache_3.jpg")));
    QVERIFY(QDir().mkpath(m_home->Path("elsewhere")));
    http.Serve("/third.html", "text/html",
               "<!DOCTYPE html><html><body><img id=\"thumb\" src=\"tvthumb:/cache_3.jpg\">"
               "</body></html>");
    http.Serve("/tile/3/4/2.png", "image/png", kPixel);
    AppGlobals globals =
        GlobalsFor(m_home->Path("program"), QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(port));
    globals.workFolder = work;
    AppGlobals::Set(globals);

    ThumbnailSchemeHandler::SetServedFolder(QString());
    QCOMPARE(ThumbnailSchemeHandler::ServedFolder(), work);
    CTerravueHtmlWnd view(nullptr);
    QVERIFY(TerravueWebProfile().findChild<TileRequestInterceptor*>() != nullptr);
    QVERIFY(TerravueWebProfile().urlSchemeHandler(ThumbnailSchemeHandler::kScheme) != nullptr);
    view.resize(400, 300);
    view.show();
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    view.load(QUrl(globals.serverScriptUrl));
    QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(RunScript(&view, QStringLiteral("document.getElementById('tile').naturalWidth")).toInt(),
                              1, 10000);
    const auto tiles = http.RequestsFor("/tile/3/4/2.png");
    QVERIFY(!tiles.isEmpty());
    QCOMPARE(tiles.last().value("referer"), QByteArray("http://127.0.0.1:" + port + "/"));
    QVERIFY2(tiles.last().value("user-agent").endsWith(" Terravue/1.1.01.08140"),
             tiles.last().value("user-agent").constData());
    QTRY_VERIFY_WITH_TIMEOUT(
        RunScript(&view, QStringLiteral("document.getElementById('thumb').naturalWidth")).toInt() > 0, 10000);

    // Thumbnails come from the root of the map sent last, and from nowhere else.
    ThumbnailSchemeHandler::SetServedFolder(m_home->Path("elsewhere"));
    view.load(QUrl(QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(port) + QStringLiteral("/third.html")));
    QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 2, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(&view, QStringLiteral("document.getElementById('thumb').complete")).toBool(),
                             10000);
    QCOMPARE(RunScript(&view, QStringLiteral("document.getElementById('thumb').naturalWidth")).toInt(), 0);
    ThumbnailSchemeHandler::SetServedFolder(QString());

    // The same page from another origin gets no thumbnail.
    view.load(QUrl(QStringLiteral("http://localhost:") + QString::fromLatin1(port) + QStringLiteral("/other.html")));
    QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 3, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(RunScript(&view, QStringLiteral("document.getElementById('thumb').complete")).toBool(),
                             10000);
    QCOMPARE(RunScript(&view, QStringLiteral("document.getElementById('thumb').naturalWidth")).toInt(), 0);

    // A layer whose server wants no Referer gets none, though the page's other tiles do.
    TileRequestInterceptor::SetLayersWithoutReferer(
        {QStringLiteral("http://localhost:") + QString::fromLatin1(port) + QStringLiteral("/quiet/{z}/{x}/{y}.png")});
    http.Serve("/quiet/1/1/1.png", "image/png", kPixel);
    http.Serve("/tile/1/1/1.png", "image/png", kPixel);
    http.Serve(
        "/www/gps/terravue/script2/quiet.html", "text/html\r\nReferrer-Policy: strict-origin",
        "<!DOCTYPE html><html><body><img id=\"quiet\" referrerpolicy=\"no-referrer\" src=\"http://localhost:" + port +
            "/quiet/1/1/1.png\"><img id=\"loud\" src=\"http://localhost:" + port + "/tile/1/1/1.png\"></body></html>");
    view.load(QUrl(QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(port) +
                   QStringLiteral("/www/gps/terravue/script2/quiet.html")));
    QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 4, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(
        !http.RequestsFor("/quiet/1/1/1.png").isEmpty() && !http.RequestsFor("/tile/1/1/1.png").isEmpty(), 10000);
    QVERIFY(!http.RequestsFor("/quiet/1/1/1.png").last().contains("referer"));
    QCOMPARE(http.RequestsFor("/tile/1/1/1.png").last().value("referer"), QByteArray("http://127.0.0.1:" + port + "/"));
    TileRequestInterceptor::SetLayersWithoutReferer({});
  }

  void layersWithoutRefererAreKnownByTheirHosts() {
    TileRequestInterceptor::SetLayersWithoutReferer({QStringLiteral("https://{s}.topo.example.org/{z}/{x}/{y}.png"),
                                                     QStringLiteral("http://user@Plain.Example.net:8080/{z}/{x}/{y}"),
                                                     QStringLiteral("/tiles/{z}/{x}/{y}")});
    QVERIFY(TileRequestInterceptor::WantsNoReferer(QUrl(QStringLiteral("https://a.topo.example.org/1/2/3.png"))));
    QVERIFY(!TileRequestInterceptor::WantsNoReferer(QUrl(QStringLiteral("https://topo.example.org/1/2/3.png"))));
    QVERIFY(!TileRequestInterceptor::WantsNoReferer(QUrl(QStringLiteral("https://a.nottopo.example.org/1.png"))));
    QVERIFY(TileRequestInterceptor::WantsNoReferer(QUrl(QStringLiteral("http://plain.example.net:8080/1/2/3"))));
    QVERIFY(!TileRequestInterceptor::WantsNoReferer(QUrl(QStringLiteral("https://tile.openstreetmap.org/1/2/3.png"))));
    TileRequestInterceptor::SetLayersWithoutReferer({});
    QVERIFY(!TileRequestInterceptor::WantsNoReferer(QUrl(QStringLiteral("https://a.topo.example.org/1/2/3.png"))));
  }

  // -- loading -------------------------------------------------------------------------

  void theOverLimitNoticeCountsTheMapAndTheNewPictures_data() {
    QTest::addColumn<int>("adding");
    QTest::addColumn<bool>("offered");
    QTest::newRow("6 + 15 is over 20") << 15 << true;
    QTest::newRow("6 + 14 is not") << 14 << false;
  }

  void theOverLimitNoticeCountsTheMapAndTheNewPictures() {
    QFETCH(int, adding);
    QFETCH(bool, offered);
    AppGlobals globals = GlobalsFor(m_home->Path("program"), QStringLiteral("http://127.0.0.1:9"));
    globals.workFolder = m_home->Path("work");
    globals.maxPictures = 20;
    globals.messages.insert(104, QStringLiteral("over the limit"));
    AppGlobals::Set(globals);
    CTerravueHtmlWnd view(nullptr);
    for (int i = 0; i < 6; ++i) {
      view.CurrentMap().m_pictures.Append(PictureRecord("/photos/" + std::to_string(i) + ".jpg", "", ""));
    }
    const QStringList list(adding, m_home->Path("missing.jpg"));
    view.ShowPictures(&list);
    QVERIFY(view.IsLoading());
    QStringList notices;
    for (const CWarnningDlg* notice : view.findChildren<CWarnningDlg*>()) {
      notices.append(notice->NoticeName());
    }
    QCOMPARE(notices, offered ? QStringList{QStringLiteral("warn_over20")} : QStringList());
    view.StopLoad();
  }

  void aDroppedFolderLoadsItsPhotosAndOtherDropsAreNot() {
    AppGlobals globals = GlobalsFor(m_home->Path("program"), QStringLiteral("http://127.0.0.1:9"));
    globals.workFolder = m_home->Path("home/Documents/Terravue");
    AppGlobals::Set(globals);
    const QString photo = m_home->Path("photos/a.jpg");
    QVERIFY(QDir().mkpath(m_home->Path("photos")));
    QVERIFY(QFile::copy(QStringLiteral(TV_TESTDATA_DIR "/camera/exifpy-DSCN0010.jpg"), photo));
    TestHome::WriteFile(m_home->Path("photos/notes.txt"), "text");
    CTerravueHtmlWnd view(nullptr);
    view.resize(300, 200);
    view.show();
    const auto drop = [&view](const QStringList& paths) {
      QMimeData data;
      QList<QUrl> urls;
      for (const QString& path : paths) {
        urls.append(QUrl::fromLocalFile(path));
      }
      data.setUrls(urls);
      QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&view, &enter);
      QVERIFY(enter.isAccepted());
      QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&view, &dropped);
      QVERIFY(dropped.isAccepted());
    };
    drop({m_home->Path("photos/notes.txt")});
    QTest::qWait(100);
    QVERIFY(!view.IsLoading());
    QVERIFY(!view.IsModified());
    // The file that was not added is told about in one notice.
    QCOMPARE(view.findChildren<CInfoNoticeDlg*>().size(), 1);
    // A dropped folder gives the photos in it.
    drop({m_home->Path("photos")});
    QTRY_VERIFY(view.IsLoading());
    QVERIFY(view.IsModified());
    view.StopLoad();
    QVERIFY(view.CurrentMap().m_pictures.ContainsPath(photo.toStdString()));
  }

  // -- the main window with many states ------------------------------------------------

  void aFullStoreRefusesANewStateAndTheStartPageShowsTheButton() {
    const QString program = QStringLiteral(TV_PROGRAM_DIR "/");
    if (!QFileInfo::exists(program + QStringLiteral("map.html"))) {
      QSKIP("the page files are not built");
    }
    const QString work = m_home->Path("home/Documents") + QStringLiteral("/Terravue");
    for (int i = 0; i < 255; ++i) {
      TestHome::WriteFile(work + QStringLiteral("/State %1/data.tvd").arg(i), "#Terravue data version 1.1\r\n");
    }
    AppSettings().WriteNumber(QStringLiteral("howto_nopicture"), 0);
    AppSettings().WriteNumber(QStringLiteral("error_maxalbum"), 0);
    AppStartOptions options;
    options.programFolder = program;
    options.language = AppStrings::Language::English;
    CTerravueApp app(std::move(options));
    QVERIFY(app.InitInstance());
    CTerravueBaseWnd* window = app.MainWindow();
    CTerravueHtmlWnd* map = window->HtmlWnd();
    QCOMPARE(window->Store()->Count(), std::size_t{255});
    // The start page with saved states: the button 68 pixels from the right.
    QTRY_VERIFY_WITH_TIMEOUT(!map->IsSending() && map->GetPageKind() == PageKind::PageMap, 20000);
    QVERIFY(map->MenuButton()->isVisible());
    QCOMPARE(map->MenuButton()->x(), map->width() - CTerravueHtmlWnd::kButtonRightOnStartPage);
    QCOMPARE(map->MenuButton()->y(), map->height() - CTerravueHtmlWnd::kButtonBottom);

    // Nothing to save on the start page: the save commands are greyed.
    window->PrepareMenu();
    for (QAction* action : window->Menu()->actions()) {
      const int id = MainMenu::CommandOf(action);
      if (id == MainMenu::kSaveAsNew || id == MainMenu::kSaveOver || id == MainMenu::kDeleteState) {
        QVERIFY(!action->isEnabled());
      }
      if (id == MainMenu::kHelp) {
        QVERIFY(action->isEnabled());
      }
    }
    // With 255 states and the notice switched off, saving does nothing visible.
    QVERIFY(!window->SaveAsNew());
    QVERIFY(window->findChildren<QDialog*>().isEmpty());

    // With the notice on, the modal notice 106 comes first.
    AppSettings().WriteNumber(QStringLiteral("error_maxalbum"), 1);
    QStringList seen;
    QTimer::singleShot(100, [&seen] {
      if (auto* notice = qobject_cast<CWarnningDlg*>(QApplication::activeModalWidget())) {
        seen.append(notice->NoticeName());
        notice->OkButton()->click();
      }
    });
    QVERIFY(!window->SaveAsNew());
    QCOMPARE(seen, QStringList{QStringLiteral("error_maxalbum")});
    app.ExitInstance();
  }
};

TV_QTEST_MAIN(WindowsTest)
#include "tst_windows.moc"
