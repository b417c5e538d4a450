#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "xp/base/XpStatus.h"

/// The journal of photos Terravue has written: for each write, what turns the photo back into
/// the bytes it had before (the part of the old file that differs from the new one; the image
/// data they share is not kept), with the digests of the file before and after. A photo is put
/// back only while its digest is still the one the write left, and only when the result has the
/// digest the photo had, so a restore gives the exact old file or nothing. One file per write,
/// readable by the user only, in a folder of the user's data; the oldest go past kMaxEntries.
///
/// The process has one journal folder (SetJournalFolder); while it is empty nothing is kept.
class PhotoJournal {
 public:
  static constexpr std::size_t kMaxEntries = 5000;
  /// Writes whose old bytes differ over more than this are not kept.
  static constexpr std::uint64_t kMaxKeptBytes = 1024 * 1024;
  /// Photos larger than this are written without an entry.
  static constexpr std::uint64_t kMaxPhotoBytes = 1024ull * 1024 * 1024;

  struct Entry {
    std::string file;  ///< the entry's own file name in the journal folder
    std::string path;  ///< the photo, as resolved when it was written
    std::int64_t time = 0;
    std::string before;  ///< SHA-256 (hex) of the photo before the write
    std::string after;   ///< and after it
    std::string oldPosition;
    std::string newPosition;
    std::int64_t mtimeSeconds = 0;  ///< the photo's modification time before the write
    std::int64_t mtimeNanoseconds = 0;
    /// The old file is the new file's first `head` bytes, then `kept`, then the new file's
    /// bytes from `keepFrom` up to `tailEnd` (the end of the new file when it is
    /// kToTheEnd). A write that rewrites a few bytes in front and appends at the end (a HEIF
    /// photo's repointed Exif item) keeps only the rewritten bytes.
    static constexpr std::uint64_t kToTheEnd = ~std::uint64_t{0};
    std::uint64_t head = 0;
    std::uint64_t keepFrom = 0;
    std::uint64_t tailEnd = kToTheEnd;
    std::string kept;
    bool created = false;  ///< the write made the file (a new sidecar): undoing it removes the file
  };

  /// $XDG_DATA_HOME/terravue/journal, else ~/.local/share/terravue/journal.
  [[nodiscard]] static std::string DefaultFolder();
  /// Sets the process's journal folder; empty turns the journal off. Safe from any thread.
  static void SetFolder(std::string folder);
  [[nodiscard]] static std::string Folder();

  /// Runs `write`, which replaces the photo at `path` (and answers its status). When the write
  /// succeeds and the journal is on, an entry is kept. A journal that cannot keep the entry
  /// (full disk, a photo too large) never fails the write: `*kept` says whether one was kept.
  /// The entry notes the position before and after ("N:35:00:00.000 E:135:00:00.000", empty for
  /// none), for people reading the journal.
  [[nodiscard]] static XpStatus Record(const std::string& path, const std::function<XpStatus()>& write,
                                       bool* kept = nullptr);

  /// Record for a position write through XpPhotoWrite: journals the files `write` changes, the
  /// photo when its position goes into the file, each sidecar that belongs to it when the
  /// position goes to sidecars (one entry each), and the sidecar the write creates (an entry
  /// whose undoing removes it). Record itself journals a file that `write` creates that way.
  [[nodiscard]] static XpStatus RecordPositionWrite(const std::string& path, const std::function<XpStatus()>& write);
  /// Record for a write of place names through XpPhotoWrite::WriteNames: journals the photo
  /// for a JPEG, else each sidecar the names go to, as RecordPositionWrite does.
  [[nodiscard]] static XpStatus RecordNamesWrite(const std::string& path, const std::function<XpStatus()>& write);

  /// The photo's position as the entries note it, or empty.
  [[nodiscard]] static std::string PositionOf(const std::string& path);

  enum class RestoreKind : std::uint8_t {
    Restored,      ///< put back, `steps` writes undone (the oldest one last)
    NothingKept,   ///< the journal holds no entry for the photo
    ChangedSince,  ///< the photo is no longer what Terravue wrote: left as it is
    Failed,        ///< the photo could not be read or replaced: left as it is (`status`)
  };
  struct RestoreOutcome {
    RestoreKind kind = RestoreKind::NothingKept;
    int steps = 0;
    XpStatus status = XpStatus::Ok;
    std::string position;  ///< the position the photo has after the restore ("" for none)
  };
  /// Puts the photo back as it was before Terravue's first kept write, undoing the kept writes
  /// newest first, as far as the digests allow. `dryRun` changes nothing and says what would be.
  /// Every sidecar of the photo with kept writes is put back too (one the program created is
  /// removed, while it still holds what was written); `steps` counts the writes undone over all
  /// of them, and the outcome is the worst of theirs (Failed, then ChangedSince).
  [[nodiscard]] static RestoreOutcome Restore(const std::string& path, bool dryRun);

  /// Restore of one file by its own entries alone.
  [[nodiscard]] static RestoreOutcome RestoreFile(const std::string& path, bool dryRun);

  /// Forgets every entry of the photo and of its sidecars: a position removed for privacy must
  /// not stay here.
  static std::size_t Purge(const std::string& path);

  /// The entries of the photo, newest first (entries that do not read are skipped).
  [[nodiscard]] static std::vector<Entry> EntriesFor(const std::string& path);

  /// Reads one entry file's bytes; false for anything that is not a whole, well-formed entry.
  [[nodiscard]] static bool ParseEntry(std::string_view bytes, Entry* entry);
  /// The bytes of an entry file.
  [[nodiscard]] static std::string FormatEntry(const Entry& entry);
};
