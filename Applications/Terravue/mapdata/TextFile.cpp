#include "Applications/Terravue/mapdata/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "xp/base/XpFileRead.h"
#include "xp/base/XpReplaceFile.h"

XpStatus WriteFileReplacing(const std::string& path, std::string_view bytes) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    return XpStatus::InvalidArgument;
  }
  struct stat original {};
  const bool hadOriginal = ::stat(path.c_str(), &original) == 0;
  if (hadOriginal && !S_ISREG(original.st_mode)) {
    return XpStatus::AccessDenied;
  }

  // A new file gets the usual permissions (0666 less the umask); a replaced
  // one keeps its own.
  XpReplacementFile file;
  if (auto st = file.Create(path, 0666); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = XpWriteFully(file.Fd(), bytes); st != XpStatus::Ok) {
    return st;
  }
  if (hadOriginal && ::fchmod(file.Fd(), original.st_mode & 07777) != 0) {
    return XpStatusFromErrno(errno);
  }
  if (auto st = file.Flush(); st != XpStatus::Ok) {
    return st;
  }
  return file.Commit();
}

XpStatus ReadWholeFile(const std::string& path, std::uint64_t limit, std::string* out) {
  return XpReadWholeFile(path, limit, out);
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
