#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtGlobal>

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
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);      \
    QApplication app(argc, argv);                                    \
    TestClass test;                                                  \
    return QTest::qExec(&test, argc, argv);                          \
  }
