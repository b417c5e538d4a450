#pragma once

#include <string>

#include "xp/base/XpStatus.h"

/// Replacing a file in one step: the new contents go to a temporary file
/// beside the target (".NAME.tvtmp-PID-N" for a target named NAME, with the
/// process's number PID), which is flushed to the disk and then
/// renamed over the target; the folder is flushed after the rename. At no
/// moment is the target missing or half written.
///
/// While it exists, the temporary file is held under an exclusive flock. A
/// file of that naming that nobody holds locked was left by a process that
/// died while writing; every Create removes such leftovers in its folder
/// (XpRemoveLeftoverReplacements). No other file is ever removed.
class XpReplacementFile {
 public:
  /// The highest N tried for a free temporary name.
  static constexpr int kMaxNames = 1000;

  XpReplacementFile() = default;
  XpReplacementFile(const XpReplacementFile&) = delete;
  XpReplacementFile& operator=(const XpReplacementFile&) = delete;
  /// Removes the temporary file unless it was committed.
  ~XpReplacementFile();

  /// Removes leftovers in the target's folder, then creates the temporary
  /// name (XpReplacementName) with the first N for which no entry exists, exclusively, with `createMode`
  /// (less the process's umask; by default readable and writable by the user
  /// only), and locks it. 0x810A when no name is free; otherwise the system's
  /// error for the folder.
  [[nodiscard]] XpStatus Create(const std::string& target, unsigned createMode = 0600);

  /// The temporary file's path (empty before Create and after Commit).
  [[nodiscard]] const std::string& Path() const { return m_path; }
  /// The open descriptor of the temporary file (writable), or -1.
  [[nodiscard]] int Fd() const { return m_fd; }

  /// Flushes the temporary file's contents to the disk.
  [[nodiscard]] XpStatus Flush();
  /// Renames the temporary file over the target and flushes the folder. The
  /// lock is released afterwards. A failed rename leaves the target as it was.
  [[nodiscard]] XpStatus Commit();
  /// Renames the temporary file to the target, which must not exist: a file
  /// that appeared there meanwhile is never replaced (0x810A, and the
  /// temporary file stays until Discard or the destructor). Flushes the folder.
  [[nodiscard]] XpStatus CommitNew();
  /// Removes the temporary file now (as the destructor would).
  void Discard();

 private:
  std::string m_target;
  std::string m_path;
  int m_fd = -1;
};

/// The temporary name number `n` of this process for `target` (a path): in
/// its folder, "." NAME ".tvtmp-" PID "-" n.
[[nodiscard]] std::string XpReplacementName(const std::string& target, int n);

/// True when `name` (a bare file name) is a temporary name for `target` (a
/// bare file name) of any process: ".", `target`, ".tvtmp-", a process number
/// and "-" and a number from 0 to XpReplacementFile::kMaxNames - 1, both
/// written without leading zeros.
[[nodiscard]] bool XpIsReplacementName(const std::string& name, const std::string& target);

/// Removes, in `folder`, every regular file named like a temporary file
/// (".NAME.tvtmp-PID-N"), owned by the effective user and not locked by
/// anyone. Answers how many were removed.
std::size_t XpRemoveLeftoverReplacements(const std::string& folder);

/// Flushes a folder's entries to the disk (after a rename into it). Failures
/// are ignored: the rename itself has happened either way.
void XpSyncFolder(const std::string& folder);
