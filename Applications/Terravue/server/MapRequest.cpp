#include "Applications/Terravue/server/MapRequest.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>

#include "Applications/Terravue/server/FormBody.h"
#include "xp/text/XpAsciiCase.h"

namespace terravue::server {
namespace {

// The seven numbered fields of a picture, in the order the program sends them.
enum PictureField : std::size_t { Path, Cache, Latitude, Longitude, Time, Cx, Cy, PictureFieldCount };

constexpr std::array<std::string_view, PictureFieldCount> kPicturePrefixes = {
    "pic_path", "pic_cache", "pic_latitude", "pic_longitude", "pic_time", "pic_cx", "pic_cy"};

// Head fields; the index is the bit in the "seen" mask.
enum HeadField : std::size_t {
  FormatVersion,
  ClientName,
  ClientVersion,
  Lang,
  Zoom,
  Lat,
  Lng,
  Base,
  Select,
  HeadCount
};

constexpr std::array<std::string_view, HeadCount> kHeadNames = {"format_version", "client_name", "client_version",
                                                                "lang",           "map_zoom",    "map_latitude",
                                                                "map_longitude",  "base",        "select"};

constexpr std::uint32_t kRequiredHead =
    (1u << FormatVersion) | (1u << Lang) | (1u << Zoom) | (1u << Lat) | (1u << Lng) | (1u << Base) | (1u << Select);

// A plain decimal without sign or leading zeros (a single "0" is fine), at most `limit`.
std::optional<std::size_t> ParseDecimal(std::string_view text, std::size_t limit) {
  if (text.empty() || text.size() > 12 || (text.size() > 1 && text.front() == '0')) {
    return std::nullopt;
  }
  std::size_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || ptr != text.data() + text.size() || value > limit) {
    return std::nullopt;
  }
  return value;
}

struct PendingPicture {
  MapRequestPicture picture;
  std::uint8_t seen = 0;
};

}  // namespace

PageLanguage LanguageFromCode(std::string_view code) noexcept {
  if (code.size() == 3) {
    if (XpAsciiLower(code[0]) == 'j' && XpAsciiLower(code[1]) == 'p' && XpAsciiLower(code[2]) == 'n') {
      return PageLanguage::Japanese;
    }
  }
  return PageLanguage::English;
}

RequestStatus ParseMapRequest(std::string_view body, MapRequest& request) {
  request = MapRequest{};
  std::vector<FormField> fields;
  if (auto st = ParseFormBody(body, fields); st != RequestStatus::Ok) {
    return st;
  }

  const auto fail = [&request](RequestStatus st) {
    request = MapRequest{};
    return st;
  };

  std::uint32_t headSeen = 0;
  std::string selectText;
  std::vector<PendingPicture> pending;
  for (FormField& field : fields) {
    bool handled = false;
    for (std::size_t h = 0; h < HeadCount && !handled; ++h) {
      if (field.name != kHeadNames[h]) {
        continue;
      }
      handled = true;
      if ((headSeen & (1u << h)) != 0) {
        return fail(RequestStatus::DuplicateField);
      }
      headSeen |= 1u << h;
      std::string* const targets[HeadCount] = {&request.formatVersion, &request.clientName, &request.clientVersion,
                                               &request.lang,          &request.zoom,       &request.latitude,
                                               &request.longitude,     &request.base,       &selectText};
      *targets[h] = std::move(field.value);
    }
    if (handled) {
      continue;
    }
    for (std::size_t f = 0; f < PictureFieldCount && !handled; ++f) {
      const std::string_view prefix = kPicturePrefixes[f];
      const std::string_view name = field.name;
      if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) {
        continue;
      }
      const std::string_view digits = name.substr(prefix.size());
      // A suffix that is not all digits makes this some other (ignored) name.
      if (digits.find_first_not_of("0123456789") != std::string_view::npos) {
        continue;
      }
      handled = true;
      // A picture needs seven pairs, so a number above pairs / 7 can never be complete; refusing it
      // here keeps one short hostile name from allocating a huge table.
      const auto index = ParseDecimal(digits, fields.size() / PictureFieldCount);
      if (!index || *index == 0) {
        return fail(RequestStatus::BadPictureIndex);
      }
      if (*index > pending.size()) {
        pending.resize(*index);
      }
      PendingPicture& slot = pending[*index - 1];
      const auto bit = static_cast<std::uint8_t>(1u << f);
      if ((slot.seen & bit) != 0) {
        return fail(RequestStatus::DuplicateField);
      }
      slot.seen |= bit;
      switch (f) {
        case Path:
          slot.picture.path = std::move(field.value);
          break;
        case Cache:
          slot.picture.cache = std::move(field.value);
          break;
        case Latitude:
          slot.picture.latitude = std::move(field.value);
          break;
        case Longitude:
          slot.picture.longitude = std::move(field.value);
          break;
        case Time:
          slot.picture.time = std::move(field.value);
          break;
        case Cx:
        case Cy: {
          const auto number = ParseDecimal(field.value, kMaxThumbnailSide);
          if (!number) {
            return fail(RequestStatus::BadNumber);
          }
          (f == Cx ? slot.picture.width : slot.picture.height) = static_cast<int>(*number);
          break;
        }
        default:
          break;
      }
    }
    // Any other name is ignored.
  }

  if ((headSeen & kRequiredHead) != kRequiredHead) {
    return fail(RequestStatus::MissingField);
  }
  constexpr std::uint8_t kAllPictureFields = (1u << PictureFieldCount) - 1;
  for (const PendingPicture& p : pending) {
    if (p.seen != kAllPictureFields) {
      return fail(p.seen == 0 ? RequestStatus::BadPictureIndex : RequestStatus::MissingField);
    }
  }
  const auto select = ParseDecimal(selectText, pending.size());
  if (!select) {
    return fail(RequestStatus::BadNumber);
  }
  request.select = *select;
  request.language = LanguageFromCode(request.lang);
  request.pictures.reserve(pending.size());
  for (PendingPicture& p : pending) {
    request.pictures.push_back(std::move(p.picture));
  }
  return RequestStatus::Ok;
}

}  // namespace terravue::server
