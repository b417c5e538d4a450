#include "xp/image/XpIptcIim.h"

#include <algorithm>
#include <array>
#include <optional>

#include "xp/base/XpMd5.h"
#include "xp/image/XpXmpLocation.h"
#include "xp/text/XpUtf8.h"

namespace XpIptcIim {
namespace {

constexpr std::string_view kSignature = "8BIM";
constexpr std::string_view kUtf8Escape = "\x1B%G";

std::uint32_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return (static_cast<std::uint32_t>(b[at]) << 8) | b[at + 1];
}
std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) { return (Get16(b, at) << 16) | Get16(b, at + 2); }

// One image resource: where its data lies in the payload and the bytes in
// front of the data (signature, id, name, size).
struct Resource {
  std::uint16_t id = 0;
  std::size_t begin = 0;      // the signature
  std::size_t dataBegin = 0;  // the data
  std::size_t dataSize = 0;
  std::size_t end = 0;  // behind the padding
};

// The resources of a payload; false when one runs outside it. Bytes behind
// the last whole resource too few to start another one are left to the
// caller (`*rest`).
[[nodiscard]] bool Resources(std::span<const std::uint8_t> payload, std::vector<Resource>* out, std::size_t* rest) {
  if (payload.size() < kHeader.size() || !std::equal(kHeader.begin(), kHeader.end(), payload.begin())) {
    return false;
  }
  std::size_t at = kHeader.size();
  while (payload.size() - at >= 12) {
    if (!std::equal(kSignature.begin(), kSignature.end(), payload.begin() + static_cast<std::ptrdiff_t>(at))) {
      // Zero padding behind the resources is left as it is; anything else is
      // no resource block.
      if (std::all_of(payload.begin() + static_cast<std::ptrdiff_t>(at), payload.end(),
                      [](std::uint8_t b) { return b == 0; })) {
        break;
      }
      return false;
    }
    Resource resource;
    resource.begin = at;
    resource.id = static_cast<std::uint16_t>(Get16(payload, at + 4));
    std::size_t name = 1 + payload[at + 6];
    name += name % 2;
    if (payload.size() - (at + 6) < name + 4) {
      return false;
    }
    resource.dataSize = Get32(payload, at + 6 + name);
    resource.dataBegin = at + 6 + name + 4;
    if (resource.dataSize > payload.size() - resource.dataBegin) {
      return false;
    }
    resource.end = resource.dataBegin + resource.dataSize;
    // The data is padded to an even length; a missing pad byte at the very
    // end is tolerated.
    if (resource.dataSize % 2 != 0 && resource.end < payload.size()) {
      ++resource.end;
    }
    out->push_back(resource);
    at = resource.end;
  }
  *rest = at;
  return true;
}

// One IIM dataset: its tag bytes and value, and its raw bytes.
struct Dataset {
  std::uint8_t record = 0;
  std::uint8_t number = 0;
  std::size_t begin = 0;
  std::size_t valueBegin = 0;
  std::size_t end = 0;
};

// The datasets of IIM data; `*tail` is where the zero padding behind them
// starts. False for data that is not a run of datasets.
[[nodiscard]] bool Datasets(std::span<const std::uint8_t> data, std::vector<Dataset>* out, std::size_t* tail) {
  std::size_t at = 0;
  while (at < data.size()) {
    if (data[at] != 0x1C) {
      if (std::all_of(data.begin() + static_cast<std::ptrdiff_t>(at), data.end(),
                      [](std::uint8_t b) { return b == 0; })) {
        break;
      }
      return false;
    }
    if (data.size() - at < 5) {
      return false;
    }
    Dataset dataset;
    dataset.begin = at;
    dataset.record = data[at + 1];
    dataset.number = data[at + 2];
    std::size_t length = Get16(data, at + 3);
    std::size_t valueBegin = at + 5;
    if ((length & 0x8000) != 0) {
      // The extended form: the next (length & 0x7FFF) bytes hold the length.
      const std::size_t count = length & 0x7FFF;
      if (count == 0 || count > 4 || data.size() - valueBegin < count) {
        return false;
      }
      length = 0;
      for (std::size_t i = 0; i < count; ++i) {
        length = (length << 8) | data[valueBegin + i];
      }
      valueBegin += count;
    }
    if (length > data.size() - valueBegin) {
      return false;
    }
    dataset.valueBegin = valueBegin;
    dataset.end = valueBegin + length;
    out->push_back(dataset);
    at = dataset.end;
  }
  *tail = at;
  return true;
}

std::string ValueOf(std::span<const std::uint8_t> data, const Dataset& dataset) {
  return std::string(reinterpret_cast<const char*>(data.data()) + dataset.valueBegin, dataset.end - dataset.valueBegin);
}

std::string* Field(Location& location, std::uint8_t number) {
  switch (number) {
    case 90:
      return &location.city;
    case 95:
      return &location.state;
    case 100:
      return &location.countryCode;
    case 101:
      return &location.country;
    default:
      return nullptr;
  }
}

struct Parsed {
  std::vector<Resource> resources;
  std::size_t rest = 0;
  std::optional<std::size_t> iim;  // index into resources
  std::vector<Dataset> datasets;
  std::size_t tail = 0;
};

[[nodiscard]] XpStatus Parse(std::span<const std::uint8_t> payload, Parsed* parsed) {
  if (!Resources(payload, &parsed->resources, &parsed->rest)) {
    return XpStatus::IimInvalid;
  }
  for (std::size_t i = 0; i < parsed->resources.size(); ++i) {
    if (parsed->resources[i].id == kResourceIim) {
      parsed->iim = i;
      break;
    }
  }
  if (!parsed->iim) {
    return XpStatus::Ok;
  }
  const Resource& iim = parsed->resources[*parsed->iim];
  if (!Datasets(payload.subspan(iim.dataBegin, iim.dataSize), &parsed->datasets, &parsed->tail)) {
    return XpStatus::IimInvalid;
  }
  return XpStatus::Ok;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void AppendDataset(std::vector<std::uint8_t>* out, std::uint8_t number, std::string_view value) {
  out->push_back(0x1C);
  out->push_back(2);
  out->push_back(number);
  out->push_back(static_cast<std::uint8_t>(value.size() >> 8));
  out->push_back(static_cast<std::uint8_t>(value.size()));
  out->insert(out->end(), value.begin(), value.end());
}

void Append32(std::vector<std::uint8_t>* out, std::size_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out->push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

}  // namespace

std::string CutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) {
    return std::string(text);
  }
  std::size_t end = limit;
  // Back over continuation bytes to the start of the character that would be cut.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return std::string(text.substr(0, end));
}

XpStatus Read(std::span<const std::uint8_t> payload, Reading* reading) {
  Parsed parsed;
  if (auto st = Parse(payload, &parsed); st != XpStatus::Ok) {
    return st;
  }
  Reading read;
  read.hasIim = parsed.iim.has_value();
  if (read.hasIim) {
    const Resource& iim = parsed.resources[*parsed.iim];
    const auto data = payload.subspan(iim.dataBegin, iim.dataSize);
    for (const Dataset& dataset : parsed.datasets) {
      if (dataset.record == 1 && dataset.number == 90 && ValueOf(data, dataset) == kUtf8Escape) {
        read.utf8 = true;
      }
      if (dataset.record != 2) {
        continue;
      }
      if (std::string* field = Field(read.location, dataset.number); field != nullptr && field->empty()) {
        *field = ValueOf(data, dataset);
      }
    }
  }
  *reading = std::move(read);
  return XpStatus::Ok;
}

XpStatus SetLocation(std::span<const std::uint8_t> payload, const Location& location, Edit* edit) {
  for (const std::string* value : {&location.city, &location.state, &location.countryCode, &location.country}) {
    if (!XpIsValidUtf8(*value)) {
      return XpStatus::InvalidArgument;
    }
  }
  Parsed parsed;
  if (auto st = Parse(payload, &parsed); st != XpStatus::Ok) {
    return st;
  }
  Reading reading;
  if (auto st = Read(payload, &reading); st != XpStatus::Ok) {
    return st;
  }
  Edit result;
  result.payload.assign(payload.begin(), payload.end());
  if (!parsed.iim) {
    *edit = std::move(result);
    return XpStatus::Ok;
  }

  // The values as they will be written.
  struct Wanted {
    std::uint8_t number;
    std::size_t limit;
    const std::string* value;
    const char* name;
  };
  const std::array<Wanted, 4> wanted = {{{90, kMaxCity, &location.city, "City"},
                                         {95, kMaxState, &location.state, "Province/State"},
                                         {100, kMaxCode, &location.countryCode, "Country Code"},
                                         {101, kMaxCountry, &location.country, "Country"}}};
  std::array<std::string, 4> values;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    const std::string& value = *wanted[i].value;
    if (!reading.utf8 && !IsAscii(value)) {
      result.warnings.push_back(std::string("IIM ") + wanted[i].name +
                                " left out: the block does not declare UTF-8 and the value is not ASCII");
      continue;
    }
    values[i] = CutUtf8(value, wanted[i].limit);
    if (values[i].size() < value.size()) {
      result.warnings.push_back(std::string("IIM ") + wanted[i].name + " cut to " + std::to_string(wanted[i].limit) +
                                " bytes: \"" + values[i] + "\"");
    }
    *Field(result.written, wanted[i].number) = values[i];
  }
  if (result.written == reading.location) {
    result.warnings.clear();
    *edit = std::move(result);
    return XpStatus::Ok;
  }

  // The new IIM data: every dataset but the location ones as it was, the new
  // ones in record order, the zero padding behind them kept.
  const Resource& iim = parsed.resources[*parsed.iim];
  const auto data = payload.subspan(iim.dataBegin, iim.dataSize);
  const auto isLocation = [](const Dataset& d) {
    return d.record == 2 && (d.number == 90 || d.number == 95 || d.number == 100 || d.number == 101);
  };
  std::vector<std::uint8_t> newData;
  std::size_t next = 0;  // the next value to place
  const auto placeBefore = [&](const Dataset* d) {
    while (next < wanted.size() &&
           (d == nullptr || d->record > 2 || (d->record == 2 && d->number > wanted[next].number))) {
      if (!values[next].empty()) {
        AppendDataset(&newData, wanted[next].number, values[next]);
      }
      ++next;
    }
  };
  for (const Dataset& dataset : parsed.datasets) {
    if (isLocation(dataset)) {
      continue;
    }
    placeBefore(&dataset);
    newData.insert(newData.end(), data.begin() + static_cast<std::ptrdiff_t>(dataset.begin),
                   data.begin() + static_cast<std::ptrdiff_t>(dataset.end));
  }
  placeBefore(nullptr);
  newData.insert(newData.end(), data.begin() + static_cast<std::ptrdiff_t>(parsed.tail), data.end());
  const XpMd5::Digest digest = XpMd5::Of(newData);

  // The resources again, with the new IIM data and digest.
  std::vector<std::uint8_t> out(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(kHeader.size()));
  for (const Resource& resource : parsed.resources) {
    const bool isIim = &resource == &iim;
    if (resource.id == kResourceDigest && resource.dataSize != digest.size()) {
      continue;  // another size cannot be the IIM data's MD5: it goes
    }
    const bool isDigest = resource.id == kResourceDigest;
    if (!isIim && !isDigest) {
      out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(resource.begin),
                 payload.begin() + static_cast<std::ptrdiff_t>(resource.end));
      continue;
    }
    const std::span<const std::uint8_t> body = isIim ? std::span<const std::uint8_t>(newData) : digest;
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(resource.begin),
               payload.begin() + static_cast<std::ptrdiff_t>(resource.dataBegin - 4));
    Append32(&out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) {
      out.push_back(0);
    }
  }
  out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(parsed.rest), payload.end());
  result.changed = out != result.payload;
  result.payload = std::move(out);
  *edit = std::move(result);
  return XpStatus::Ok;
}

}  // namespace XpIptcIim
