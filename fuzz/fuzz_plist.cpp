// Property-list loading over arbitrary text: every input must give a status
// without crashing, and whatever loads must save to a text that loads back to
// the same document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xp/ini/XpIniDict.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  XpIniDict dict;
  (void)dict.LoadText(text);

  std::string saved;
  if (dict.SaveText(saved) != XpStatus::Ok) {
    return 0;
  }
  XpIniDict again;
  if (again.LoadText(saved) != XpStatus::Ok) {
    std::abort();  // the program's own output must always load
  }
  std::string savedAgain;
  if (again.SaveText(savedAgain) != XpStatus::Ok || savedAgain != saved) {
    std::abort();
  }
  return 0;
}
