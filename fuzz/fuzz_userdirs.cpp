// The user's folder list (user-dirs.dirs) is read from the home folder, which
// other programs write: every entry read must be an absolute folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xp/base/XpSpecialFolder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const std::string_view key : {"XDG_PICTURES_DIR", "XDG_DOCUMENTS_DIR"}) {
    for (const std::string_view home : {"/home/user", ""}) {
      const std::string folder = XpParseUserDirsEntry(text, key, home);
      if (folder.empty()) {
        continue;
      }
      if (folder.front() != '/' || folder.find('\0') != std::string::npos ||
          (folder.size() > 1 && folder.back() == '/')) {
        std::abort();
      }
    }
  }
  return 0;
}
