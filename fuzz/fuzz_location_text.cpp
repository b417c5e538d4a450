// Reads any text as a pasted position and as a search of the map page: no text crashes the
// reader or the search answer, every position answered lies on the earth, and every answer is
// a JSON object with a status the page knows.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Applications/Terravue/mapdata/LocationText.h"
#include "Applications/Terravue/server/PlaceSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto point = ParseLocationText(text)) {
    if (!(std::fabs(point->latitude) <= 90.0) || !(std::fabs(point->longitude) <= 180.0) ||
        std::signbit(point->latitude) != (point->latitude < 0) ||
        std::signbit(point->longitude) != (point->longitude < 0)) {
      std::abort();
    }
  }
  // The same bytes as the search's fields: q, then near and limit after line breaks.
  terravue::server::PlaceQuery query;
  const std::size_t first = text.find('\n');
  query.text = std::string(text.substr(0, first));
  if (first != std::string_view::npos) {
    const std::string_view rest = text.substr(first + 1);
    const std::size_t second = rest.find('\n');
    query.near = std::string(rest.substr(0, second));
    if (second != std::string_view::npos) {
      query.limit = std::string(rest.substr(second + 1));
    }
  }
  const auto answer = terravue::server::AnswerPlaceQuery(nullptr, "none", query);
  if ((answer.status != 200 && answer.status != 400 && answer.status != 503) || answer.body.empty() ||
      answer.body.front() != '{' || answer.body.back() != '}') {
    std::abort();
  }
  return 0;
}
