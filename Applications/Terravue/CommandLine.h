#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

#include "xp/base/XpFileType.h"

/// What interpreting the command line needs from the system; start-up passes
/// the real file system, the file-type classifier and the hand-off reader,
/// tests pass fakes.
struct CommandLineServices {
  std::function<bool(const QString&)> fileExists;
  std::function<std::uint32_t(const QString&)> fileType;
  /// True for a photo of another format the picture list reads (HEIC, raw,
  /// PNG, WebP, TIFF ...), by its content. Unset: JPEG stills alone are taken.
  std::function<bool(const QString&)> isOtherFormatPicture;
  /// The selected paths of a hand-off file, in list order (its entries' first
  /// files, an empty text for one that can't be read). Empty when the file
  /// can't be read as a hand-off list.
  std::function<QStringList(const QString&)> readHandOff;
};

/// How the program was asked to start.
struct CommandLine {
  enum class Kind {
    NoArguments,  ///< nothing given: the start page
    StateFile,    ///< one saved map-state file ending ".tvd"
    Pictures,     ///< image paths (directly or from a hand-off file); may be empty
  };
  Kind kind = Kind::NoArguments;
  QString stateFile;     ///< for StateFile: the argument as given
  QStringList pictures;  ///< for Pictures: the ordinary JPEG stills, in order

  bool operator==(const CommandLine&) const = default;
};

/// Interprets the program's arguments (without the program's own name).
/// "/input" (in any letter case) as the next-to-last argument makes the last
/// one a hand-off file whose selected paths replace every argument (none when
/// the file does not exist). A single argument ending in ".tvd" (exactly that
/// case) names a saved state. Otherwise every argument is classified and only
/// ordinary JPEG stills are kept.
CommandLine ParseCommandLine(const QStringList& args, const CommandLineServices& services);

/// Takes "--tiles FILE" (before a "--") out of `args` and answers FILE, the last one given;
/// empty when there is none.
[[nodiscard]] QString TakeTileFileOption(QStringList& args);

/// The program's version as "--version" prints it ("1.1.1").
[[nodiscard]] QString ProgramVersion();

/// What the program prints instead of starting when its arguments (without its
/// own name) ask for it: the usage for "--help" or "-h", the name and version
/// for "--version", whichever comes first. Nothing when neither is given
/// before a "--", which ends the options so that a file may be named so.
[[nodiscard]] std::optional<QString> InformationRequest(const QStringList& args);

/// Where the main window's creation handler sends what the command line asked
/// for: the map window's operations, the caption and the notices. The main
/// window implements it; tests record the calls.
class StartTarget {
 public:
  StartTarget() = default;
  StartTarget(const StartTarget&) = delete;
  StartTarget& operator=(const StartTarget&) = delete;
  virtual ~StartTarget() = default;

  /// Loads `paths` onto the map and sends it; with no list, sends the map as it is.
  virtual void ShowPictures(const QStringList* paths) = 0;
  /// Opens a saved map state; false when it could not be opened as one.
  [[nodiscard]] virtual bool OpenStateFile(const QString& path) = 0;
  virtual void RequestStartPage() = 0;
  virtual void SetCaption(const QString& caption) = 0;
  /// Shows the modeless notice with string `messageId` and the do-not-show-
  /// again switch `noticeName`.
  virtual void ShowNotice(int messageId, const QString& noticeName) = 0;
  /// Shows the modeless privacy notice.
  virtual void ShowPrivacyNotice() = 0;
  /// Shows string `messageId` in a message box with the information icon.
  virtual void ShowInformation(int messageId) = 0;
  /// Tells that the state file `path` could not be opened (message 118 unless
  /// the target knows why).
  virtual void ReportOpenFailure(const QString& path) {
    static_cast<void>(path);
    ShowInformation(118);
  }
};

class AppSettings;

/// Acts on an interpreted command line the way the main window's creation
/// handler does: opens the state file (message 118 when that fails, the
/// argument as caption), or shows the pictures (the privacy notice once per
/// user first), or offers the "howto_nopicture" notice with the start page, and
/// keeps "disp_once" current.
void StartFromCommandLine(const CommandLine& commandLine, AppSettings& settings, StartTarget& target);
