#pragma once

#include <QString>
#include <QVariant>
#include <memory>
#include <span>

class QSettings;

/// One per-user value: its name, whether it is a number or a text, and the
/// default that a missing value reads as.
struct UserSettingSpec {
  const char* name;
  QMetaType::Type type;  ///< QMetaType::Int or QMetaType::QString
  int numberDefault;
  const char* textDefault;
};

/// The per-user values, kept in the user's INI file
/// ($XDG_CONFIG_HOME/Ardo Corporation/Pictavo.ini, group "PtvTerravue/1.1").
/// Every value name and default lives in one table (UserSettingTable); a value
/// that is missing, or that does not read as its type, reads as its default.
/// Failed writes are not reported.
class AppSettings {
 public:
  /// The group that holds every per-user value.
  static constexpr const char* kGroup = "PtvTerravue/1.1";

  /// Opens the user's own settings file (found from XDG_CONFIG_HOME, then HOME,
  /// at the moment of the call, so tests can point it at a temporary folder).
  AppSettings();
  /// Opens the given INI file instead.
  explicit AppSettings(const QString& iniPath);
  ~AppSettings();
  AppSettings(const AppSettings&) = delete;
  AppSettings& operator=(const AppSettings&) = delete;

  /// Where the user's settings file lives.
  static QString UserIniPath();

  /// The table of every per-user value.
  static std::span<const UserSettingSpec> UserSettingTable();
  /// The table entry for `name`, or nullptr for a name the program does not keep.
  static const UserSettingSpec* Find(const QString& name);

  /// The number `name`, or its table default. "x" and "y" have no fixed
  /// default (they centre the window): use the overload with a fallback.
  int ReadNumber(const QString& name) const;
  /// The number `name`, or `fallback` when it is missing or not a number.
  int ReadNumber(const QString& name, int fallback) const;
  /// The text `name`, or its table default.
  QString ReadText(const QString& name) const;

  void WriteNumber(const QString& name, int value);
  void WriteText(const QString& name, const QString& value);

  /// Writes pending changes to the file now (they are also written when this
  /// object goes away).
  void Sync();

 private:
  QVariant Value(const QString& name) const;

  std::unique_ptr<QSettings> m_settings;
};
