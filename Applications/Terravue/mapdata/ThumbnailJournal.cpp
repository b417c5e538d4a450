#include "Applications/Terravue/mapdata/ThumbnailJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "Applications/Terravue/mapdata/PictureRecord.h"
#include "xp/base/XpFileRead.h"

namespace {

// Folders one process makes thumbnails in at once: the work folder, and a few
// more in tests and tools.
constexpr std::size_t kMaxJournals = 32;
// A list longer than this is not one of the program's (a few bytes a picture).
constexpr std::size_t kMaxListBytes = 16 * 1024 * 1024;
// Longest list name: the prefix, a process id, "-" and a number.
constexpr std::size_t kMaxJournalName = 64;

// One list of this process. The signal handler reads these slots, so they are
// a fixed table of plain atomics and characters: no lock, no allocation. A
// slot is in use once `fd` is set; the other fields are set before it.
struct JournalSlot {
  std::atomic<int> dirFd{-1};
  std::atomic<int> fd{-1};
  std::array<char, kMaxJournalName> name{};
};

std::array<JournalSlot, kMaxJournals> g_slots;
// The folder of each slot; only touched under g_mutex, never by the handler.
std::array<std::string, kMaxJournals> g_folders;
std::mutex g_mutex;
std::atomic<unsigned> g_journalNumber{0};
// Set when this process removes its thumbnails: no new one is started then.
std::atomic<bool> g_removing{false};

// True for a plain "cache_N.jpg", checked without allocating (signal-safe).
bool IsThumbnailName(const char* name, std::size_t length) {
  constexpr std::string_view kPrefix = "cache_";
  constexpr std::string_view kSuffix = ".jpg";
  const std::string_view text(name, length);
  if (length <= kPrefix.size() + kSuffix.size() || length > kPrefix.size() + 10 + kSuffix.size() ||
      text.substr(0, kPrefix.size()) != kPrefix || text.substr(length - kSuffix.size()) != kSuffix) {
    return false;
  }
  for (const char c : text.substr(kPrefix.size(), length - kPrefix.size() - kSuffix.size())) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

// Removes `name` in the folder `dirFd` when it is a regular file (never a link
// or a folder). Signal-safe.
bool RemoveIfRegular(int dirFd, const char* name) {
  struct stat info {};
  if (::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  return ::unlinkat(dirFd, name, 0) == 0;
}

// Reads the whole list at `fd` from its start; false when it can't be read or
// is larger than any list of the program.
bool ReadList(int fd, std::string* text) {
  text->clear();
  if (::lseek(fd, 0, SEEK_SET) != 0) {
    return false;
  }
  std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return false;
    }
    if (n == 0) {
      return true;
    }
    if (text->size() + static_cast<std::size_t>(n) > kMaxListBytes) {
      return false;
    }
    text->append(buffer.data(), static_cast<std::size_t>(n));
  }
}

// The thumbnail names of a list's text.
std::vector<std::string> NamesOf(const std::string& text) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    if (IsThumbnailName(text.data() + start, end - start)) {
      names.emplace_back(text, start, end - start);
    }
    start = end + 1;
  }
  return names;
}

// Closes the slots whose list is gone (its folder was removed): nothing is
// left for them to clean up, and the slot can serve another folder.
void CloseRemovedJournals() {
  for (std::size_t i = 0; i < kMaxJournals; ++i) {
    const int fd = g_slots[i].fd.load();
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_nlink == 0) {
      const int dirFd = g_slots[i].dirFd.load();
      g_slots[i].fd = -1;
      g_slots[i].dirFd = -1;
      g_folders[i].clear();
      ::close(fd);
      ::close(dirFd);
    }
  }
}

// Opens a new list for `folder` in a free slot; -1 when none can be made.
int OpenJournal(const std::string& folder) {
  std::size_t slot = kMaxJournals;
  for (std::size_t i = 0; i < kMaxJournals; ++i) {
    if (g_slots[i].fd.load() < 0) {
      slot = i;
      break;
    }
  }
  if (slot == kMaxJournals) {
    return -1;
  }
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    return -1;
  }
  const std::string name = std::string(kThumbnailJournalPrefix) + std::to_string(::getpid()) + "-" +
                           std::to_string(g_journalNumber.fetch_add(1));
  if (name.size() >= kMaxJournalName) {
    ::close(dirFd);
    return -1;
  }
  const int fd = ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    ::close(dirFd);
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::unlinkat(dirFd, name.c_str(), 0);
    ::close(fd);
    ::close(dirFd);
    return -1;
  }
  JournalSlot& s = g_slots[slot];
  s.name.fill('\0');
  name.copy(s.name.data(), name.size());
  g_folders[slot] = folder;
  s.dirFd = dirFd;
  s.fd = fd;
  return static_cast<int>(slot);
}

// Ends this process's lists when it ends normally: the thumbnails stay.
struct JournalsEnder {
  JournalsEnder() = default;
  JournalsEnder(const JournalsEnder&) = delete;
  JournalsEnder& operator=(const JournalsEnder&) = delete;
  ~JournalsEnder() { EndThumbnailJournals(); }
};
JournalsEnder g_ender;

void OnTerminatingSignal(int signal) {
  const int saved = errno;
  RemoveThumbnailsOfThisProcess();
  // The process ends of the signal as it would have without this handler.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  errno = saved;
  ::raise(signal);
}

}  // namespace

bool ThumbnailRemovalUnderWay() { return g_removing.load(); }

bool NoteNewThumbnail(const std::string& folder, const std::string& name) {
  if (ThumbnailNumber(name) < 0 || g_removing.load()) {
    return false;
  }
  std::scoped_lock lock(g_mutex);
  int slot = -1;
  for (std::size_t i = 0; i < kMaxJournals; ++i) {
    if (g_slots[i].fd.load() >= 0 && g_folders[i] == folder) {
      slot = static_cast<int>(i);
      break;
    }
  }
  if (slot < 0) {
    CloseRemovedJournals();
    (void)RemoveThumbnailsOfEndedProcesses(folder);
    slot = OpenJournal(folder);
    if (slot < 0) {
      return false;
    }
  }
  return XpWriteFully(g_slots[static_cast<std::size_t>(slot)].fd.load(), name + "\n") == XpStatus::Ok;
}

std::size_t RemoveThumbnailsOfEndedProcesses(const std::string& folder) {
  struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) {
    return 0;
  }
  const int dirFd = ::dirfd(dir.get());
  const std::string_view prefix = kThumbnailJournalPrefix;
  struct Ended {
    std::string journal;
    int fd;
    std::vector<std::string> names;
  };
  std::vector<Ended> ended;
  std::set<std::string> listedByLiving;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view entryName = entry->d_name;
    if (entryName.substr(0, prefix.size()) != prefix) {
      continue;
    }
    const int fd = ::openat(dirFd, entry->d_name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    struct stat info {};
    std::string text;
    // Only a list of this user's is taken; one that can't be read is left.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || !ReadList(fd, &text)) {
      ::close(fd);
      continue;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      // A live process holds it (this one included).
      for (std::string& name : NamesOf(text)) {
        listedByLiving.insert(std::move(name));
      }
      ::close(fd);
      continue;
    }
    // Read again under the lock: the list is complete now.
    if (!ReadList(fd, &text)) {
      ::close(fd);
      continue;
    }
    ended.push_back(Ended{std::string(entryName), fd, NamesOf(text)});
  }
  std::size_t removed = 0;
  for (const Ended& list : ended) {
    for (const std::string& name : list.names) {
      if (listedByLiving.count(name) == 0 && RemoveIfRegular(dirFd, name.c_str())) {
        ++removed;
      }
    }
    ::unlinkat(dirFd, list.journal.c_str(), 0);
    ::close(list.fd);
  }
  return removed;
}

void EndThumbnailJournals() {
  std::scoped_lock lock(g_mutex);
  g_removing = false;
  for (std::size_t i = 0; i < kMaxJournals; ++i) {
    const int fd = g_slots[i].fd.exchange(-1);
    if (fd < 0) {
      continue;
    }
    const int dirFd = g_slots[i].dirFd.exchange(-1);
    ::unlinkat(dirFd, g_slots[i].name.data(), 0);
    ::close(fd);
    ::close(dirFd);
    g_folders[i].clear();
  }
}

namespace {

// Removes the thumbnails the list of `slot` names. Signal-safe: reads the list
// in pieces into fixed buffers and removes the names one by one; no lock, no
// allocation.
void RemoveListedThumbnails(JournalSlot& slot) {
  const int fd = slot.fd.load();
  const int dirFd = slot.dirFd.load();
  if (fd < 0 || dirFd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    return;
  }
  std::array<char, 4096> buffer{};
  std::array<char, kMaxJournalName> line{};
  std::size_t length = 0;
  bool tooLong = false;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buffer[static_cast<std::size_t>(i)];
      if (c != '\n') {
        if (length + 1 < line.size()) {
          line[length++] = c;
        } else {
          tooLong = true;
        }
        continue;
      }
      line[length] = '\0';
      if (!tooLong && IsThumbnailName(line.data(), length)) {
        (void)RemoveIfRegular(dirFd, line.data());
      }
      length = 0;
      tooLong = false;
    }
  }
}

}  // namespace

void RemoveThumbnailsOfThisProcess() {
  // No thumbnail is started from here on. One being written now was listed
  // just before its file was made and is written in moments: a second pass
  // after a short pause finds it.
  g_removing = true;
  for (JournalSlot& slot : g_slots) {
    RemoveListedThumbnails(slot);
  }
  const timespec pause{0, 50'000'000};
  ::nanosleep(&pause, nullptr);
  for (JournalSlot& slot : g_slots) {
    RemoveListedThumbnails(slot);
    const int fd = slot.fd.load();
    const int dirFd = slot.dirFd.load();
    if (fd >= 0 && dirFd >= 0) {
      ::unlinkat(dirFd, slot.name.data(), 0);
    }
  }
}

void RemoveThumbnailsOnTerminatingSignals() {
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal the process was started to ignore (nohup, a background job)
    // stays ignored.
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      ::sigaction(signal, &action, nullptr);
    }
  }
}
