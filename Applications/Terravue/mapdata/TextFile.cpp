#include "Applications/Terravue/mapdata/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

// Owns one open descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Close(); }

  [[nodiscard]] int Get() const { return m_fd; }
  int Close() {
    if (m_fd < 0) {
      return 0;
    }
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc;
  }

 private:
  int m_fd;
};

std::atomic<unsigned> g_tempCounter{0};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  if (slash == 0) {
    return "/";
  }
  return path.substr(0, slash);
}

std::string TempPathFor(const std::string& path, unsigned attempt) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(attempt);
}

XpStatus WriteAllTo(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return XpStatusFromErrno(errno);
    }
    if (n == 0) {
      return XpStatus::DiskFull;
    }
    done += static_cast<std::size_t>(n);
  }
  return XpStatus::Ok;
}

}  // namespace

XpStatus WriteFileReplacing(const std::string& path, std::string_view bytes) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    return XpStatus::InvalidArgument;
  }
  struct stat original {};
  const bool hadOriginal = ::stat(path.c_str(), &original) == 0;
  if (hadOriginal && !S_ISREG(original.st_mode)) {
    return XpStatus::AccessDenied;
  }

  std::string tempPath;
  int fd = -1;
  for (int tries = 0; tries < 100 && fd < 0; ++tries) {
    tempPath = TempPathFor(path, g_tempCounter.fetch_add(1));
    fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      return XpStatusFromErrnoForPath(errno, path);
    }
  }
  if (fd < 0) {
    return XpStatus::AlreadyExists;
  }
  FileDescriptor file(fd);

  auto fail = [&tempPath, &file](XpStatus st) {
    file.Close();
    ::unlink(tempPath.c_str());
    return st;
  };

  if (auto st = WriteAllTo(file.Get(), bytes); st != XpStatus::Ok) {
    return fail(st);
  }
  if (hadOriginal && ::fchmod(file.Get(), original.st_mode & 07777) != 0) {
    return fail(XpStatusFromErrno(errno));
  }
  if (::fsync(file.Get()) != 0) {
    return fail(XpStatusFromErrno(errno));
  }
  if (file.Close() != 0) {
    return fail(XpStatusFromErrno(errno));
  }
  if (::rename(tempPath.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tempPath.c_str());
    return XpStatusFromErrno(err);
  }
  // Make the rename itself durable; a failure here does not undo the write.
  if (const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    FileDescriptor folder(dir);
    (void)::fsync(folder.Get());
  }
  return XpStatus::Ok;
}

XpStatus ReadWholeFile(const std::string& path, std::uint64_t limit, std::string* out) {
  out->clear();
  if (path.empty() || path.find('\0') != std::string::npos) {
    return XpStatus::InvalidArgument;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return XpStatusFromErrnoForPath(errno, path);
  }
  FileDescriptor file(fd);
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) {
    return XpStatusFromErrno(errno);
  }
  if (!S_ISREG(info.st_mode) || info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > limit) {
    return XpStatus::FileInvalid;
  }
  out->resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < out->size()) {
    const ssize_t n = ::read(file.Get(), out->data() + done, out->size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      out->clear();
      return XpStatusFromErrno(errno);
    }
    if (n == 0) {
      break;  // the file shrank while being read
    }
    done += static_cast<std::size_t>(n);
  }
  out->resize(done);
  return XpStatus::Ok;
}

std::string ToCrLf(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') {
      result.push_back('\r');
    }
    result.push_back(c);
  }
  return result;
}
