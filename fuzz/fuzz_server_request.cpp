// Fuzzes the map server's reading of a posted form body and the page built from it: any input
// must give a status without crashing, and an accepted request must render a page whose values
// cannot open a script element.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Applications/Terravue/server/MapPage.h"
#include "Applications/Terravue/server/MapRequest.h"

namespace {

constexpr std::string_view kTemplate =
    "<html lang=\"{{HTML_LANG}}\"><head><script type=\"application/json\" id=\"tvData\">{{DATA}}</script>"
    "<script src=\"{{SCRIPT}}terravue.js\"></script></head><body><form>{{FIELDS}}</form></body></html>";

std::size_t Count(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  terravue::server::MapRequest request;
  if (terravue::server::ParseMapRequest(body, request) != terravue::server::RequestStatus::Ok) {
    return 0;
  }
  terravue::server::MapPageSettings settings;
  const std::string page = terravue::server::RenderMapPage(kTemplate, request, settings);
  // The template has two script elements and the values may add none.
  if (Count(page, "<script") != 2 || Count(page, "</script") != 2) {
    std::abort();
  }
  // A thumbnail URL never holds a segment that could climb out of the work folder.
  for (const auto& picture : request.pictures) {
    const std::string url = terravue::server::ThumbnailUrl(settings.thumbnailPrefix, picture.cache);
    if (url.empty()) {
      continue;
    }
    const std::string_view rest = std::string_view(url).substr(settings.thumbnailPrefix.size());
    std::size_t start = 0;
    while (start <= rest.size()) {
      std::size_t end = rest.find('/', start);
      if (end == std::string_view::npos) {
        end = rest.size();
      }
      const std::string_view segment = rest.substr(start, end - start);
      if (segment.empty() || segment == "." || segment == ".." || segment.find('\\') != std::string_view::npos) {
        std::abort();
      }
      start = end + 1;
    }
  }
  return 0;
}
