#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QList>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CNoticeDlg.h"
#include "Applications/Terravue/CSaveDlg.h"
#include "Applications/Terravue/CTerravueApp.h"
#include "Applications/Terravue/CTerravueBaseWnd.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/ThumbnailSchemeHandler.h"

/// Answers the modal dialogs as they open, one at a time, as a user would:
/// a message box with the next of `once` while there are any, then with the
/// first of `replies` it offers (else its first button), recording its text
/// in `seen`; the save dialog with the next of
/// `names`, then with `saveName`, and with Cancel when there is none (or
/// with `cancelSave`), recording the name it offered in `saveDialogNames`.
class ModalAnswerer : public QObject {
 public:
  explicit ModalAnswerer(QString name = QString(), QList<QMessageBox::StandardButton> answers = {QMessageBox::Yes})
      : replies(std::move(answers)), saveName(std::move(name)) {
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::Answer);
    m_timer.start(20);
  }

  QStringList seen;
  QList<QMessageBox::StandardButton> replies;
  QList<QMessageBox::StandardButton> once;
  QString saveName;
  QStringList names;
  bool cancelSave = false;
  QStringList saveDialogNames;
  int saveDialogs = 0;
  /// The most modal boxes, and the most notices, seen open together.
  int mostModalAtOnce = 0;
  int mostNoticesAtOnce = 0;

 private:
  void Count() {
    int modal = 0;
    int notices = 0;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
      if (!widget->isVisible()) {
        continue;
      }
      if (widget->isModal()) {
        ++modal;
      } else if (qobject_cast<const CNoticeDlg*>(widget) != nullptr) {
        ++notices;
      }
    }
    mostModalAtOnce = std::max(mostModalAtOnce, modal);
    mostNoticesAtOnce = std::max(mostNoticesAtOnce, notices);
  }

  void Answer() {
    Count();
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
      return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (box->buttons().isEmpty()) {
        return;
      }
      seen.append(box->text());
      QAbstractButton* button = once.isEmpty() ? nullptr : box->button(once.takeFirst());
      for (const QMessageBox::StandardButton reply : replies) {
        if (button == nullptr) {
          button = box->button(reply);
        }
      }
      if (button == nullptr) {
        button = box->buttons().constFirst();
      }
      button->click();
    } else if (auto* save = qobject_cast<CSaveDlg*>(modal)) {
      ++saveDialogs;
      saveDialogNames.append(save->NameEdit()->text());
      QString name = names.isEmpty() ? saveName : names.takeFirst();
      if (cancelSave || name.isEmpty()) {
        save->CancelButton()->click();
        return;
      }
      save->NameEdit()->setText(name);
      save->SaveButton()->click();
    }
  }

  QTimer m_timer;
};

/// A temporary home for one test: HOME and the XDG folders point into it, so
/// settings, documents, data and the instance lock never touch the real user's.
class TestHome {
 public:
  TestHome() {
    QDir root(m_dir.path());
    for (const char* sub : {"home", "config", "data", "runtime", "etc-xdg", "home/Documents"}) {
      root.mkpath(QString::fromLatin1(sub));
    }
    QFile::setPermissions(Path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", Path("home").toUtf8());
    qputenv("XDG_CONFIG_HOME", Path("config").toUtf8());
    qputenv("XDG_DATA_HOME", Path("data").toUtf8());
    qputenv("XDG_RUNTIME_DIR", Path("runtime").toUtf8());
    qputenv("XDG_CONFIG_DIRS", Path("etc-xdg").toUtf8());
  }

  bool IsValid() const { return m_dir.isValid(); }
  QString Path(const char* sub) const { return m_dir.path() + QLatin1Char('/') + QLatin1String(sub); }
  QString Root() const { return m_dir.path(); }

  /// The user's settings file.
  QString UserIni() const { return Path("config") + QStringLiteral("/Ardo Corporation/Pictavo.ini"); }
  /// The machine-wide settings file.
  QString MachineIni() const { return Path("etc-xdg") + QStringLiteral("/Ardo Corporation/Pictavo.ini"); }

  /// Writes `text` into the file at `path`, making its folder.
  static void WriteFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }

 private:
  QTemporaryDir m_dir;
};

/// The base of the program's test classes: a fresh temporary home for each
/// test function, and the program folder the build placed the page files in.
/// A test class that needs more set-up calls these slots from its own.
class AppTestCase : public QObject {
  Q_OBJECT

 protected:
  std::unique_ptr<TestHome> m_home;
  QString m_program = QStringLiteral(TV_PROGRAM_DIR "/");

  /// How the tests start the program: from the built program folder, in
  /// English, with `arguments`.
  AppStartOptions Options(const QStringList& arguments) const {
    AppStartOptions options;
    options.programFolder = m_program;
    options.language = AppStrings::Language::English;
    options.arguments = arguments;
    return options;
  }

  /// The folder the program keeps its saved maps in.
  QString WorkFolder() const { return m_home->Path("home/Documents") + QStringLiteral("/Terravue"); }

  /// The folder the test's own photos go in.
  QString PhotoFolder() const { return m_home->Path("photos"); }

  /// True when the build placed the page files in the program folder.
  bool PageFilesBuilt() const { return QFileInfo::exists(m_program + QStringLiteral("terravue_page.html")); }

 protected slots:
  void init() {
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->IsValid());
  }
  void cleanup() { m_home.reset(); }
};

/// Skips the test function when the page files are not built.
#define TV_SKIP_WITHOUT_PAGE_FILES()         \
  do {                                       \
    if (!PageFilesBuilt()) {                 \
      QSKIP("the page files are not built"); \
    }                                        \
  } while (false)

/// What StartApp waits for once the program has started.
enum class MapWait {
  PageShown,  ///< the map window shows the server's page and sends nothing
  Settled,    ///< that, and no load goes on
};

/// True when the map window has come as far as `wait` says.
inline bool MapHasCome(const CTerravueHtmlWnd* map, MapWait wait) {
  return (wait == MapWait::PageShown || !map->IsLoading()) && !map->IsSending() &&
         map->GetPageKind() == PageKind::PageServer;
}

/// Starts `app` and waits up to `timeoutMs` until its map window has come as
/// far as `wait` says. Answers the map window, or null (with a warning that
/// says which step failed).
[[nodiscard]] inline CTerravueHtmlWnd* StartApp(CTerravueApp& app, MapWait wait = MapWait::Settled,
                                                int timeoutMs = 30000) {
  if (!app.InitInstance()) {
    qWarning("the program did not start");
    return nullptr;
  }
  CTerravueHtmlWnd* map = app.MainWindow()->HtmlWnd();
  if (!QTest::qWaitFor([map, wait] { return MapHasCome(map, wait); }, timeoutMs)) {
    qWarning("the map did not show the server's page in time (loading %d, sending %d, page %d)", int(map->IsLoading()),
             int(map->IsSending()), int(map->GetPageKind()));
    return nullptr;
  }
  return map;
}

/// Writes a translation file with the given (context, key) -> text entries in
/// the binary form QTranslator loads, so that tests can give the program a
/// locale file without any translation tools installed.
inline QByteArray MakeTranslationFile(const QString& context, const QList<QPair<QString, QString>>& entries) {
  const auto put32 = [](QByteArray& out, quint32 value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      out.append(static_cast<char>((value >> shift) & 0xFFU));
    }
  };
  // The lookup hash over the source text followed by the (empty) comment.
  const auto hashOf = [](const QByteArray& text) {
    quint32 h = 0;
    for (const char c : text) {
      h = (h << 4) + static_cast<unsigned char>(c);
      const quint32 g = h & 0xF0000000U;
      if (g != 0) {
        h ^= g >> 24;
      }
      h &= ~g;
    }
    return h == 0 ? 1U : h;
  };
  QByteArray messages;
  QList<QPair<quint32, quint32>> offsets;
  const QByteArray contextUtf8 = context.toUtf8();
  for (const auto& [key, text] : entries) {
    const QByteArray source = key.toUtf8();
    offsets.append({hashOf(source), static_cast<quint32>(messages.size())});
    messages.append(char(3));  // translation, UTF-16 big-endian
    put32(messages, static_cast<quint32>(text.size() * 2));
    for (const QChar c : text) {
      messages.append(static_cast<char>(c.unicode() >> 8));
      messages.append(static_cast<char>(c.unicode() & 0xFF));
    }
    messages.append(char(6));  // source text
    put32(messages, static_cast<quint32>(source.size()));
    messages.append(source);
    messages.append(char(7));  // context
    put32(messages, static_cast<quint32>(contextUtf8.size()));
    messages.append(contextUtf8);
    messages.append(char(1));  // end of message
  }
  std::sort(offsets.begin(), offsets.end());
  QByteArray hashes;
  for (const auto& [hash, offset] : offsets) {
    put32(hashes, hash);
    put32(hashes, offset);
  }
  static const unsigned char kMagic[16] = {0x3C, 0xB8, 0x64, 0x18, 0xCA, 0xEF, 0x9C, 0x95,
                                           0xCD, 0x21, 0x1C, 0xBF, 0x60, 0xA1, 0xBD, 0xDD};
  QByteArray file(reinterpret_cast<const char*>(kMagic), sizeof kMagic);
  file.append(char(0x42));  // hashes
  put32(file, static_cast<quint32>(hashes.size()));
  file.append(hashes);
  file.append(char(0x69));  // messages
  put32(file, static_cast<quint32>(messages.size()));
  file.append(messages);
  return file;
}

/// main() for the program's QtTest programs: the offscreen platform unless a
/// display is chosen, the embedded browser's needs set before the application
/// object exists.
#define TV_QTEST_MAIN(TestClass)                                     \
  int main(int argc, char* argv[]) {                                 \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {            \
      qputenv("QT_QPA_PLATFORM", "offscreen");                       \
    }                                                                \
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) { \
      qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");        \
    }                                                                \
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");                     \
    /* The browser's disk cache, once per test program: never the */ \
    /* user's own. */                                                \
    QTemporaryDir cacheHome;                                         \
    qputenv("XDG_CACHE_HOME", cacheHome.path().toUtf8());            \
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);      \
    ThumbnailSchemeHandler::RegisterScheme();                        \
    QApplication app(argc, argv);                                    \
    TestClass test;                                                  \
    return QTest::qExec(&test, argc, argv);                          \
  }

/// Runs `script` in the page's own world and waits for its answer (an invalid
/// value when none comes within `timeoutMs`).
inline QVariant RunScript(QWebEngineView* view, const QString& script, int timeoutMs = 10000) {
  auto answer = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
  view->page()->runJavaScript(script, QWebEngineScript::MainWorld, [answer](const QVariant& value) {
    answer->first = true;
    answer->second = value;
  });
  QElapsedTimer clock;
  clock.start();
  while (!answer->first && clock.elapsed() < timeoutMs) {
    QTest::qWait(10);
  }
  return answer->second;
}

/// The script that counts the single markers on the page (clusters not counted).
inline const QString kMarkers =
    QStringLiteral("document.querySelectorAll('.leaflet-marker-icon:not(.marker-cluster)').length");

/// Starts `app` as StartApp does and waits until the page shows `markers`
/// single markers. Answers the map window, or null (with a warning).
[[nodiscard]] inline CTerravueHtmlWnd* StartWithMarkers(CTerravueApp& app, int markers, int timeoutMs = 30000) {
  CTerravueHtmlWnd* map = StartApp(app);
  if (map == nullptr) {
    return nullptr;
  }
  if (!QTest::qWaitFor([map, markers] { return RunScript(map, kMarkers).toInt() == markers; }, timeoutMs)) {
    qWarning("the page did not show %d markers in time (it shows %d)", markers, RunScript(map, kMarkers).toInt());
    return nullptr;
  }
  return map;
}

/// Drags whatever lies at `from` (page pixels) by (dx, dy) with real mouse
/// events, in six steps as a hand does.
inline void DragFrom(CTerravueHtmlWnd* map, const QPoint& from, int dx, int dy) {
  QWidget* target = map->focusProxy();
  QVERIFY(target != nullptr);
  QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, from);
  for (int step = 1; step <= 6; ++step) {
    const QPoint point = from + QPoint(dx * step / 6, dy * step / 6);
    QMouseEvent move(QEvent::MouseMove, point, target->mapToGlobal(point), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QTest::qWait(30);
  }
  QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, from + QPoint(dx, dy));
}

/// Drags the first single marker of the page by (dx, dy) with real mouse events.
inline void DragFirstMarker(CTerravueHtmlWnd* map, int dx, int dy) {
  const QVariantList at = RunScript(map, QStringLiteral("(function () {"
                                                        "  var m = document.querySelectorAll("
                                                        "      '.leaflet-marker-icon:not(.marker-cluster)')[0];"
                                                        "  var r = m.getBoundingClientRect();"
                                                        "  return [r.left + r.width / 2, r.top + r.height / 2];"
                                                        "})()"))
                              .toList();
  QCOMPARE(at.size(), 2);
  DragFrom(map, QPoint(qRound(at[0].toDouble()), qRound(at[1].toDouble())), dx, dy);
}

/// A program for one test, with an answerer for its dialogs that is there
/// before the program starts and goes only after it ends: the save dialog is
/// answered with `saveName`, a message box with the first of `replies` it offers.
struct TestProgram {
  explicit TestProgram(const QString& saveName = QString(),
                       QList<QMessageBox::StandardButton> replies = {QMessageBox::Yes})
      : answerer(saveName, std::move(replies)) {}

  /// Makes the program with `options` and starts it without waiting for its
  /// map; false when it does not start.
  [[nodiscard]] bool Launch(const AppStartOptions& options) {
    app = std::make_unique<CTerravueApp>(options);
    if (!app->InitInstance()) {
      return false;
    }
    window = app->MainWindow();
    map = window->HtmlWnd();
    return true;
  }

  /// Makes the program with `options` and starts it as StartApp does; false
  /// (with a warning that says which step failed) when the map does not come.
  [[nodiscard]] bool Start(const AppStartOptions& options, MapWait wait = MapWait::Settled, int timeoutMs = 30000) {
    app = std::make_unique<CTerravueApp>(options);
    map = StartApp(*app, wait, timeoutMs);
    window = app->MainWindow();
    return map != nullptr;
  }

  /// As Start, and waits until the page shows `markers` single markers, as
  /// StartWithMarkers does.
  [[nodiscard]] bool StartShowing(const AppStartOptions& options, int markers, int timeoutMs = 30000) {
    app = std::make_unique<CTerravueApp>(options);
    map = StartWithMarkers(*app, markers, timeoutMs);
    window = app->MainWindow();
    return map != nullptr;
  }

  /// Ends the program, answering Discard when it asks about changes not saved.
  void ExitDiscarding() {
    answerer.replies = {QMessageBox::Discard};
    app->ExitInstance();
  }

  ModalAnswerer answerer;
  std::unique_ptr<CTerravueApp> app;
  CTerravueHtmlWnd* map = nullptr;
  CTerravueBaseWnd* window = nullptr;
};

/// The item of menu command `id` in the window's menu, prepared as when the
/// user opens it; null when the menu has none.
inline QAction* MenuItem(CTerravueBaseWnd* window, int id) {
  window->PrepareMenu();
  for (QAction* action : window->Menu()->actions()) {
    if (MainMenu::CommandOf(action) == id) {
      return action;
    }
  }
  return nullptr;
}

/// Triggers menu command `id` as the user would: the item must be in the
/// prepared menu and enabled.
inline void Trigger(CTerravueBaseWnd* window, int id) {
  QAction* action = MenuItem(window, id);
  QVERIFY2(action != nullptr, "no such menu item");
  QVERIFY(action->isEnabled());
  action->trigger();
}

/// Waits up to `timeoutMs` for the map page after a save or a send: nothing
/// is being sent and the server's page shows.
[[nodiscard]] inline bool PageBack(CTerravueHtmlWnd* map, int timeoutMs = 30000) {
  return QTest::qWaitFor([map] { return !map->IsSending() && map->GetPageKind() == PageKind::PageServer; }, timeoutMs);
}

/// The bytes of the file at `path`; none when it cannot be read.
inline QByteArray FileBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  return file.readAll();
}

/// Signed decimal degrees of a coordinate text such as "N:35:37:32.828"; NaN
/// for a text of any other form.
inline double DegreesOf(const std::string& text) {
  const QStringList parts = QString::fromStdString(text).split(QLatin1Char(':'));
  if (parts.size() != 4) {
    return NAN;
  }
  const double value = parts[1].toDouble() + parts[2].toDouble() / 60.0 + parts[3].toDouble() / 3600.0;
  return (parts[0] == QLatin1String("S") || parts[0] == QLatin1String("W")) ? -value : value;
}
