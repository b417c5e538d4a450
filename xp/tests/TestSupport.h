#pragma once

#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testsupport {

/// A fresh folder under the temporary folder, removed with everything in it
/// when the object goes away (also folders a test made read-only).
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tv-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot make a temporary folder");
    }
    m_path = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    for (std::filesystem::recursive_directory_iterator it(m_path, ignored), end; !ignored && it != end;
         it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
      }
    }
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(m_path, ignored);
  }

  [[nodiscard]] const std::string& Path() const { return m_path; }
  [[nodiscard]] std::string File(const std::string& name) const { return m_path + "/" + name; }
  [[nodiscard]] std::string operator/(const std::string& name) const { return File(name); }

 private:
  std::string m_path;
};

/// Sets or removes one environment variable for the lifetime of the guard.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name); old != nullptr) {
      m_old = old;
    }
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;
  ~EnvGuard() {
    if (m_old) {
      ::setenv(m_name.c_str(), m_old->c_str(), 1);
    } else {
      ::unsetenv(m_name.c_str());
    }
  }

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

/// Runs `body` as an unprivileged user, so that permission bits apply: when
/// the tests run as root, in a child process that has become "nobody"
/// (uid and gid 65534); otherwise here. Answers what `body` answers (0 for
/// success), 125 when the child could not drop its privileges, 126 when it
/// did not end normally. `body` makes its own files: the parent's temporary
/// folders are closed to other users.
inline int RunUnprivileged(const std::function<int()>& body) {
  if (::geteuid() != 0) {
    return body();
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    return 125;
  }
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0 || ::geteuid() == 0) {
      ::_exit(125);
    }
    ::_exit(body());
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 126;
}

}  // namespace testsupport
