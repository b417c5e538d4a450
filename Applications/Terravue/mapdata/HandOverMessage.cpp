#include "Applications/Terravue/mapdata/HandOverMessage.h"

#include <charconv>

namespace {

// The magic and at most five digits of the count before the newline.
constexpr std::size_t kMaxHeaderBytes = kHandOverMagic.size() + 6;

}  // namespace

std::string EncodeHandOverMessage(const std::vector<std::string>& paths) {
  std::string message(kHandOverMagic);
  message += std::to_string(paths.size());
  message += '\n';
  for (const std::string& path : paths) {
    message += path;
    message += '\0';
  }
  return message;
}

HandOverParse DecodeHandOverMessage(std::string_view bytes, std::vector<std::string>* paths) {
  if (bytes.size() > kHandOverMaxMessageBytes) {
    return HandOverParse::Invalid;
  }
  if (kHandOverMagic.substr(0, bytes.size()) != bytes.substr(0, kHandOverMagic.size())) {
    return HandOverParse::Invalid;
  }
  const std::size_t lineEnd = bytes.find('\n');
  if (lineEnd == std::string_view::npos) {
    return bytes.size() <= kMaxHeaderBytes ? HandOverParse::Incomplete : HandOverParse::Invalid;
  }
  if (lineEnd > kMaxHeaderBytes || lineEnd <= kHandOverMagic.size()) {
    return HandOverParse::Invalid;
  }
  const std::string_view countText = bytes.substr(kHandOverMagic.size(), lineEnd - kHandOverMagic.size());
  // Digits only, no leading zero: one spelling for every count.
  std::size_t count = 0;
  const auto [end, error] = std::from_chars(countText.data(), countText.data() + countText.size(), count);
  if (error != std::errc{} || end != countText.data() + countText.size() || countText.front() == '0' || count < 1 ||
      count > kHandOverMaxPaths) {
    return HandOverParse::Invalid;
  }
  std::vector<std::string> found;
  std::size_t start = lineEnd + 1;
  while (found.size() < count) {
    const std::size_t nul = bytes.find('\0', start);
    if (nul == std::string_view::npos) {
      return bytes.size() - start > kHandOverMaxPathBytes ? HandOverParse::Invalid : HandOverParse::Incomplete;
    }
    const std::size_t length = nul - start;
    if (length == 0 || length > kHandOverMaxPathBytes || bytes[start] != '/') {
      return HandOverParse::Invalid;
    }
    found.emplace_back(bytes.substr(start, length));
    start = nul + 1;
  }
  if (start != bytes.size()) {
    return HandOverParse::Invalid;
  }
  if (paths != nullptr) {
    *paths = std::move(found);
  }
  return HandOverParse::Complete;
}
