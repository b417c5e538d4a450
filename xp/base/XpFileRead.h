#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "xp/base/XpStatus.h"

/// Owns one open file descriptor and closes it when it goes.
class XpUniqueFd {
 public:
  XpUniqueFd() = default;
  explicit XpUniqueFd(int fd) noexcept : m_fd(fd) {}
  XpUniqueFd(XpUniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  XpUniqueFd& operator=(XpUniqueFd&& other) noexcept {
    if (this != &other) {
      Reset(std::exchange(other.m_fd, -1));
    }
    return *this;
  }
  XpUniqueFd(const XpUniqueFd&) = delete;
  XpUniqueFd& operator=(const XpUniqueFd&) = delete;
  ~XpUniqueFd() { Reset(); }

  [[nodiscard]] int Get() const { return m_fd; }
  [[nodiscard]] bool IsValid() const { return m_fd >= 0; }
  /// Closes the descriptor held (ignoring how the close went) and takes `fd`.
  void Reset(int fd = -1) noexcept;
  /// Closes now and says how it went: a failed close can mean written data
  /// was lost.
  [[nodiscard]] XpStatus Close();

 private:
  int m_fd = -1;
};

/// Whether a link in the last place of a path is followed.
enum class XpLinks { Follow, Refuse };

/// Opens a regular file for reading. The open never blocks, so a named pipe or
/// a device in the file's place is never waited on; the type is then checked
/// on the open descriptor (what is checked is what is read), and the
/// descriptor blocks again for reading. `size` (when given) gets the size.
/// InvalidArgument for an empty path or one holding a NUL byte; the path's
/// errno status when it can't be opened (0x8105 when missing); FileInvalid for
/// anything but a regular file, and for a link when links are refused.
[[nodiscard]] XpStatus XpOpenRegularFile(const std::string& path, XpUniqueFd* out, std::uint64_t* size = nullptr,
                                         XpLinks links = XpLinks::Follow);

/// Reads up to `count` bytes, retrying interrupted and short reads: the count
/// read, short only at the end of the file, or -1 with errno set.
[[nodiscard]] ssize_t XpReadFully(int fd, void* buffer, std::size_t count);

/// Writes all of `bytes`, retrying interrupted and short writes. Ok, DiskFull
/// when the device is full or takes nothing more, else the errno status.
[[nodiscard]] XpStatus XpWriteFully(int fd, std::string_view bytes);

/// Reads a whole regular file of at most `limit` bytes into `out`, opened as
/// XpOpenRegularFile opens it, with its statuses; `tooLarge` when the file is
/// larger than the limit or grows past it while it is read. `out` is empty
/// unless the answer is Ok.
[[nodiscard]] XpStatus XpReadWholeFile(const std::string& path, std::uint64_t limit, std::string* out,
                                       XpStatus tooLarge = XpStatus::FileInvalid, XpLinks links = XpLinks::Follow);
