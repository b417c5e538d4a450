#pragma once

#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "xp/base/XpStatus.h"
#include "xp/formats/XpPhotoMetadata.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/tiff/TagTreePtr.h"

/// One subcommand of terravue-tool: its name, a one-line usage text and the
/// function that runs it with the arguments after the name. A subcommand
/// answers the process exit code.
struct ToolCommand {
  const char* name;
  const char* usage;
  int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

/// The subcommand table (main.cpp). A new subcommand is one file with its Run
/// function and one line in the table.
std::span<const ToolCommand> ToolCommands();

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunHandoff(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSetGps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunRemoveGps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunMakePhotos(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunGeotag(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunThumb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunLoad(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunPlace(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunRestore(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunNamePlaces(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunWhere(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

/// A file status as a short reason for the one-line error of a subcommand.
std::string ToolStatusReason(XpStatus status);
/// The one line that reports a picture a rewrite refused or failed: the file,
/// the reason and, for damaged Exif data, what was found.
std::string ToolRefusalLine(const std::string& file, XpStatus status);
/// The data file `fileName` (places.tvp, zones.tvz) to read: `named` when given, else the one
/// beside the program, else the installed one in share/terravue.
std::string ToolDataPath(const std::string& named, const char* fileName);

/// Writes one JSON object, key by key, on one line.
class ToolJsonObject {
 public:
  explicit ToolJsonObject(std::ostream& out) : m_out(out) { m_out << '{'; }
  ToolJsonObject(const ToolJsonObject&) = delete;
  ToolJsonObject& operator=(const ToolJsonObject&) = delete;
  ~ToolJsonObject() { m_out << '}'; }

  void Null(const char* key);
  void Bool(const char* key, bool value);
  void Number(const char* key, long long value);
  /// Text in UTF-8; bytes that are not UTF-8 are written as the Latin-1
  /// characters of the same value, so the line is always valid JSON.
  void Text(const char* key, const std::string& value);
  /// A value already written as JSON.
  void Raw(const char* key, const std::string& json);

  /// `text` as a quoted JSON string.
  static std::string Quote(const std::string& text);

 private:
  void Key(const char* key);

  std::ostream& m_out;
  bool m_first = true;
};

/// The keys that say where a photo's position was written: "written_to"
/// ("file", "sidecar" or "none") and "sidecar" (the first sidecar written, or null).
void ToolWrittenTo(ToolJsonObject& json, const XpPhotoWrite::Where& where);

/// What `info` knows of one file when its keys are written.
struct ToolInfoFile {
  std::string path;
  XpStatus status = XpStatus::Ok;  ///< of reading the tag tree
  TagTreePtr tree;                 ///< null unless status is 0
  /// Every format's reading: its format, CR3's separate directories, the
  /// values read and the sidecar (for a JPEG only the format and sidecar).
  XpPhotoMetadata::Reading reading;
};

/// One key (or group of keys) of an `info` line. Keys are written in table
/// order (ToolInfo.cpp); later keys are added by a function and a table line,
/// and no key is ever renamed.
struct ToolInfoKey {
  void (*write)(const ToolInfoFile& file, ToolJsonObject& json);
};
