#include "xp/base/XpFileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

void XpUniqueFd::Reset(int fd) noexcept {
  if (m_fd >= 0) {
    (void)::close(m_fd);
  }
  m_fd = fd;
}

XpStatus XpUniqueFd::Close() {
  const int fd = std::exchange(m_fd, -1);
  if (fd >= 0 && ::close(fd) != 0) {
    return XpStatusFromErrno(errno);
  }
  return XpStatus::Ok;
}

XpStatus XpOpenRegularFile(const std::string& path, XpUniqueFd* out, std::uint64_t* size, XpLinks links) {
  out->Reset();
  if (path.empty() || path.find('\0') != std::string::npos) {
    return XpStatus::InvalidArgument;
  }
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  if (links == XpLinks::Refuse) {
    flags |= O_NOFOLLOW;
  }
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return links == XpLinks::Refuse && errno == ELOOP ? XpStatus::FileInvalid : XpStatusFromErrnoForPath(errno, path);
  }
  XpUniqueFd file(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return XpStatusFromErrno(errno);
  }
  if (!S_ISREG(info.st_mode) || info.st_size < 0) {
    return XpStatus::FileInvalid;
  }
  // A regular file reads the same either way; blocking reads keep EAGAIN from
  // ever ending a read early.
  if (const int now = ::fcntl(fd, F_GETFL); now < 0 || ::fcntl(fd, F_SETFL, now & ~O_NONBLOCK) != 0) {
    return XpStatusFromErrno(errno);
  }
  if (size != nullptr) {
    *size = static_cast<std::uint64_t>(info.st_size);
  }
  *out = std::move(file);
  return XpStatus::Ok;
}

ssize_t XpReadFully(int fd, void* buffer, std::size_t count) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return -1;
    }
    if (n == 0) {
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

XpStatus XpReadWholeFile(const std::string& path, std::uint64_t limit, std::string* out, XpStatus tooLarge,
                         XpLinks links) {
  out->clear();
  XpUniqueFd file;
  std::uint64_t size = 0;
  if (auto st = XpOpenRegularFile(path, &file, &size, links); st != XpStatus::Ok) {
    return st;
  }
  if (size > limit) {
    return tooLarge;
  }
  try {
    // One byte more than the size: a file that grew since it was measured
    // shows as a full read, and is then read on to the limit.
    out->resize(static_cast<std::size_t>(size) + 1);
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  std::size_t done = 0;
  for (;;) {
    const ssize_t n = XpReadFully(file.Get(), out->data() + done, out->size() - done);
    if (n < 0) {
      const int error = errno;
      out->clear();
      return XpStatusFromErrno(error);
    }
    done += static_cast<std::size_t>(n);
    if (done < out->size()) {
      break;
    }
    if (done > limit) {
      out->clear();
      return tooLarge;
    }
    out->resize(std::min<std::uint64_t>(limit + 1, done + (done >> 1) + 4096));
  }
  out->resize(done);
  return XpStatus::Ok;
}

XpStatus XpWriteFully(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return XpStatusFromErrno(errno);
    }
    if (n == 0) {
      return XpStatus::DiskFull;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return XpStatus::Ok;
}
