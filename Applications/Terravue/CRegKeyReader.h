#pragma once

#include <QString>
#include <memory>

class QSettings;

/// Reads one settings key, a group of an INI file. The machine-wide key lives in
/// $XDG_CONFIG_DIRS/Ardo Corporation/Pictavo.ini (default /etc/xdg/...), which an
/// installer may fill and the program only reads; the per-user root is the user's
/// own file of AppSettings. Texts of 100 characters or more are not accepted.
class CRegKeyReader {
 public:
  enum class Root { LocalMachine, CurrentUser };

  /// The longest text value that is read; a longer one reads as its default.
  static constexpr qsizetype kMaxTextLength = 99;

  /// Opens `keyPath` (a group path such as "Terravue/1.1") under `root`. The
  /// machine-wide key is open only when its file exists and the group holds
  /// any value; a per-user key is created on demand and is always open.
  CRegKeyReader(const QString& keyPath, Root root);
  /// Opens `keyPath` in the given INI file, read-only as for the machine-wide key.
  CRegKeyReader(const QString& keyPath, const QString& iniPath);
  ~CRegKeyReader();
  CRegKeyReader(const CRegKeyReader&) = delete;
  CRegKeyReader& operator=(const CRegKeyReader&) = delete;

  /// The machine-wide file: the first "Ardo Corporation/Pictavo.ini" that exists
  /// in the folders of XDG_CONFIG_DIRS (default /etc/xdg), else the path it
  /// would have in the first folder.
  static QString MachineIniPath();

  bool IsOpen() const { return m_open; }
  const QString& KeyPath() const { return m_keyPath; }

  /// The number `name`, or `defaultValue` when the key is not open or the value
  /// is missing or not a 32-bit number.
  int ReadNumber(const QString& name, int defaultValue) const;
  /// The text `name`, or `defaultValue` when the key is not open, the value is
  /// missing, or it has more than kMaxTextLength UTF-16 code units.
  QString ReadText(const QString& name, const QString& defaultValue) const;

 private:
  void OpenReadOnly(const QString& iniPath);

  QString m_keyPath;
  std::unique_ptr<QSettings> m_settings;
  bool m_open = false;
};
