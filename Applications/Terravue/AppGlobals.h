#pragma once

#include <QHash>
#include <QString>
#include <string>

/// What the process-wide values are computed from. Start-up fills it from the
/// running system; tests fill it with temporary folders.
struct AppGlobalsInputs {
  QString programFolder;     ///< folder of the program file, ending in "/"
  QString dataHome;          ///< $XDG_DATA_HOME, default ~/.local/share
  QString documentsFolder;   ///< the user's documents folder
  QString machineIniPath;    ///< the machine-wide settings file
  QString builtInServerUrl;  ///< used when the machine-wide URL_MAIN is missing
  QString builtInHelpUrl;    ///< template with two "%s", used when URL_HELP is missing
  QString fileVersion;       ///< the program's version text, such as "1, 1, 01, 08140"
};

/// Values computed once at start-up, before the main window exists, and only
/// read afterwards (also from the picture loader's thread).
struct AppGlobals {
  QString appDataFilePath;       ///< the older single-file store, empty when it does not exist
  QString workFolder;            ///< documents + "/Terravue", no trailing "/"
  QString appTitle;              ///< string 121
  QString serverScriptUrl;       ///< URL_MAIN
  QString helpUrl;               ///< URL_HELP filled with the language code and "11"
  int maxPictures = 20;          ///< max_pictures
  QString mapPageUrl;            ///< file URL of the program folder's "map.html"
  QString waitPageUrl;           ///< file URL of the program folder's "wait.htm"
  std::string languageCode;      ///< string 105 in UTF-8, at most 255 bytes ("ENU", "JPN")
  std::string clientVersion;     ///< the version text with "," as "." and no blanks
  QHash<int, QString> messages;  ///< strings 102, 104 (filled in), 106-118 and 120

  /// Message `id` as computed at start-up; empty for a number not held.
  QString Message(int id) const { return messages.value(id); }

  /// The process-wide values (empty until start-up sets them).
  static const AppGlobals& Get();
  /// Replaces the process-wide values. Only start-up (and tests) call this,
  /// while no other thread runs.
  static void Set(AppGlobals globals);
};

/// The host part of the built-in URLs: the embedded support server on the
/// loopback interface at `port`.
QString BuiltInServerUrl(int port);
QString BuiltInHelpUrl(int port);

/// Computes the process-wide values from `inputs` and the current string table,
/// creating the maker's folder below the data home and the work folder when
/// they are missing.
AppGlobals ComputeAppGlobals(const AppGlobalsInputs& inputs);

/// The version text as sent to the server: every "," becomes "." and every
/// blank is removed ("1, 1, 01, 08140" gives "1.1.01.08140").
std::string MakeClientVersion(const QString& fileVersion);

/// A file URL for `path` in the fully encoded form the browser reports.
QString FileUrlOf(const QString& path);
