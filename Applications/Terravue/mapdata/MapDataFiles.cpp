#include "Applications/Terravue/mapdata/MapDataFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Close(); }
  [[nodiscard]] int Get() const { return m_fd; }
  [[nodiscard]] bool Valid() const { return m_fd >= 0; }
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

bool CopyContents(int from, int to) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (got == 0) {
      return true;
    }
    ssize_t done = 0;
    while (done < got) {
      const ssize_t put = ::write(to, buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) {
          continue;
        }
        return false;
      }
      done += put;
    }
  }
}

}  // namespace

std::string JoinMapPath(const std::string& folder, const std::string& name) {
  std::string path = folder;
  path.push_back(kMapPathSeparator);
  path += name;
  return path;
}

bool MapPathExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

bool MapIsRegularFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool MapIsFolder(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string MapFileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind(kMapPathSeparator);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MapCopyFile(const std::string& source, const std::string& target, bool overwrite) {
  if (source.empty() || target.empty()) {
    return false;
  }
  Descriptor from(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!from.Valid()) {
    return false;
  }
  struct stat info {};
  if (::fstat(from.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
  Descriptor to(::open(target.c_str(), flags, info.st_mode & 0777));
  if (!to.Valid()) {
    return false;
  }
  if (!CopyContents(from.Get(), to.Get()) || ::fsync(to.Get()) != 0 || to.Close() != 0) {
    ::unlink(target.c_str());
    return false;
  }
  return true;
}

bool MapMoveFile(const std::string& source, const std::string& target) {
  if (source.empty() || target.empty() || MapPathExists(target)) {
    return false;
  }
  if (::rename(source.c_str(), target.c_str()) == 0) {
    return true;
  }
  if (errno != EXDEV) {
    return false;
  }
  if (!MapCopyFile(source, target, /*overwrite=*/false)) {
    return false;
  }
  return ::unlink(source.c_str()) == 0;
}

bool MapRemoveFile(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
    (void)::chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR);
  }
  return ::unlink(path.c_str()) == 0;
}
