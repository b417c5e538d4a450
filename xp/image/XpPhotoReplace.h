#pragma once

// Replacing a photo by a rewritten copy in one checked step, the same for
// every kind of photo: the copy is written to a locked temporary file beside
// the photo, flushed, checked against the photo and renamed over it, but only
// while the photo is still the file that was read. On every failure the photo
// stays as it was and the temporary file is removed.

#include <sys/stat.h>

#include <functional>
#include <string>

#include "xp/base/XpStatus.h"
#include "xp/image/XpAbstractFile.h"
#include "xp/image/XpFile.h"

namespace XpPhotoReplace {

/// One rewrite of a photo: what it reads, writes and checks.
class Rewrite {
 public:
  Rewrite() = default;
  Rewrite(const Rewrite&) = delete;
  Rewrite& operator=(const Rewrite&) = delete;
  virtual ~Rewrite() = default;
  /// Reads the source and prepares the new file; with `*nothing` set the
  /// photo stays as it is and the rewrite answers 0.
  [[nodiscard]] virtual XpStatus Prepare(XpFile& source, bool* nothing) = 0;
  /// Writes the new file from the start of `temp`.
  [[nodiscard]] virtual XpStatus Write(XpFile& source, XpAbstractFile& temp) = 0;
  /// Checks the written, flushed file; a non-zero answer leaves the photo as
  /// it was.
  [[nodiscard]] virtual XpStatus Check(const std::string& tempPath, XpFile& source) = 0;
};

/// How Run treats the new file.
struct Options {
  /// Runs when the temporary file is complete, before it is flushed, checked
  /// and moved into place; a non-zero answer fails the rewrite with it.
  std::function<XpStatus(const std::string& tempPath)> beforeCommit{};
  /// The new file gets the photo's modification time.
  bool keepModificationTime = false;
};

/// Resolves the path (a symbolic link is followed: the file it names is
/// rewritten), refuses a protected photo with 0x8609 before anything is
/// written (no write bit at all, no write access for the effective user, or
/// the immutable or append-only attribute), prepares the rewrite, writes it
/// into a locked temporary file beside the photo (XpReplacementFile), gives
/// it the photo's permission bits, flushes and checks it, and renames it over
/// the photo, but only while the photo is still what was read, with the same
/// device, inode, size, times and bytes (0x860A otherwise). A path that is no
/// regular file is refused with 0x8108.
[[nodiscard]] XpStatus Run(const std::string& path, const Options& options, Rewrite& rewrite);

/// The current local time as "YYYY:MM:DD hh:mm:ss", as DateTime holds it.
[[nodiscard]] std::string CurrentDateTimeText();

/// A file the user protected is never replaced: one whose permission bits
/// give nobody write access (so that not even the superuser, who passes every
/// access check, replaces it), one the effective user may not write, and one
/// with the immutable or append-only attribute: 0x8609 for each of them; the
/// errno status when the access check fails otherwise. Also used for folders.
[[nodiscard]] XpStatus CheckNotProtected(const std::string& path, const struct stat& info);

}  // namespace XpPhotoReplace
