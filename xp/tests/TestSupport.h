#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
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

}  // namespace testsupport
