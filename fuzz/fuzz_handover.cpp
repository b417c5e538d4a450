// The message a second start sends to the running program: any bytes a local
// client can send are read without a crash and without allocating beyond the
// message's limits, and a message read as complete is written back to the
// same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Applications/Terravue/mapdata/HandOverMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> paths;
  const HandOverParse parse = DecodeHandOverMessage(bytes, &paths);
  if (parse != HandOverParse::Complete) {
    if (!paths.empty()) {
      std::abort();
    }
    return 0;
  }
  if (paths.empty() || paths.size() > kHandOverMaxPaths) {
    std::abort();
  }
  for (const std::string& path : paths) {
    if (path.empty() || path.front() != '/' || path.size() > kHandOverMaxPathBytes ||
        path.find('\0') != std::string::npos) {
      std::abort();
    }
  }
  if (EncodeHandOverMessage(paths) != bytes) {
    std::abort();
  }
  return 0;
}
