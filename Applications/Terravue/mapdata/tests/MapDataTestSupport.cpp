#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// Every test of this binary sees the same time zone and locale, so times and
// the texts made from them are the same on every machine.
const bool kFixedEnvironment = [] {
  ::setenv("TZ", "Asia/Tokyo", 1);
  ::tzset();
  ::setenv("LC_ALL", "en_US", 1);
  return true;
}();

}  // namespace

TempFolder::TempFolder() {
  (void)kFixedEnvironment;
  std::string pattern = (std::filesystem::temp_directory_path() / "tv_mapdata_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
  }
  m_path = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Read-only folders made by a test must not keep their contents alive.
  for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
  }
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(m_path, ec);
}

std::string TestPicture(const std::string& name) { return std::string(TV_TESTDATA_DIR) + "/camera/" + name; }

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool CopyFileTo(const std::string& from, const std::string& to) {
  std::error_code ec;
  return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
}

std::string Golden(const std::string& name, const std::string& actual) {
  const std::string path = std::string(TV_SOURCE_DIR) + "/Applications/Terravue/mapdata/tests/golden/" + name;
  const char* update = std::getenv("TV_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    WriteFileText(path, actual);
    return actual;
  }
  return ReadFileText(path);
}
