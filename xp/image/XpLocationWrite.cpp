#include "xp/image/XpLocationWrite.h"

#include <cstring>
#include <span>
#include <string_view>

#include "xp/image/XpFile.h"
#include "xp/image/XpJpegSegments.h"

namespace XpLocationWrite {
namespace {

constexpr std::string_view kXmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);

XpXmpLocation::Update ToUpdate(const Names& names) {
  return {names.city, names.state, names.country, names.countryCode, names.sublocation};
}

XpIptcIim::Location ToIim(const Names& names) { return {names.city, names.state, names.countryCode3, names.country}; }

std::span<const std::uint8_t> PacketOf(std::span<const std::uint8_t> payload) {
  if (payload.size() < kXmpHeader.size() || std::memcmp(payload.data(), kXmpHeader.data(), kXmpHeader.size()) != 0) {
    return {};
  }
  return payload.subspan(kXmpHeader.size());
}

}  // namespace

XpStatus Read(const std::string& path, Current* current) {
  // The edits see the segments exactly as a write would; none of them changes anything.
  Current read;
  XpStatus inner = XpStatus::Ok;
  XpExifRewrite::SegmentEdits edits;
  edits.editXmp = [&](std::span<const std::uint8_t> payload, bool present, std::vector<std::uint8_t>*) {
    read.hasXmp = present;
    if (present) {
      inner = XpXmpLocation::ReadLocation(PacketOf(payload), &read.xmp);
    }
    return XpStatus::Ok;
  };
  edits.editIptc = [&](std::span<const std::uint8_t> payload, std::vector<std::uint8_t>*) {
    XpIptcIim::Reading reading;
    const XpStatus st = XpIptcIim::Read(payload, &reading);
    if (inner == XpStatus::Ok) {
      inner = st;
    }
    read.hasIim = reading.hasIim;
    read.iim = reading.location;
    return XpStatus::Ok;
  };
  XpFile source(path);
  if (auto st = source.Open(XpAbstractFile::kRead); st != XpStatus::Ok) {
    return st;
  }
  if (auto st = XpExifRewrite::InspectHeaderSegments(source, edits); st != XpStatus::Ok) {
    return st;
  }
  if (inner != XpStatus::Ok) {
    return inner;
  }
  *current = std::move(read);
  return XpStatus::Ok;
}

XpStatus Write(const std::string& path, const Names& names, const XpExifRewrite::Hooks& hooks, Outcome* outcome) {
  const XpXmpLocation::Update update = ToUpdate(names);
  Outcome result;
  XpXmpLocation::Reading expectedXmp;
  XpExifRewrite::SegmentEdits edits;
  edits.editXmp = [&](std::span<const std::uint8_t> payload, bool present, std::vector<std::uint8_t>* edited) {
    std::vector<std::uint8_t> packet;
    if (!present) {
      if (auto st = XpXmpLocation::NewPacket(update, &packet); st != XpStatus::Ok) {
        return st;
      }
      expectedXmp = XpXmpLocation::Expected({}, update);
      result.xmpAdded = true;
    } else {
      XpXmpLocation::Reading before;
      if (auto st = XpXmpLocation::ReadLocation(PacketOf(payload), &before); st != XpStatus::Ok) {
        return st;
      }
      XpXmpLocation::Edit edit;
      if (auto st = XpXmpLocation::SetLocation(PacketOf(payload), update, &edit); st != XpStatus::Ok) {
        return st;
      }
      expectedXmp = XpXmpLocation::Expected(before, update);
      if (!edit.changed) {
        return XpStatus::Ok;
      }
      packet = std::move(edit.packet);
    }
    result.xmpChanged = true;
    edited->assign(kXmpHeader.begin(), kXmpHeader.end());
    edited->insert(edited->end(), packet.begin(), packet.end());
    return XpStatus::Ok;
  };
  edits.editIptc = [&](std::span<const std::uint8_t> payload, std::vector<std::uint8_t>* edited) {
    XpIptcIim::Edit edit;
    if (auto st = XpIptcIim::SetLocation(payload, ToIim(names), &edit); st != XpStatus::Ok) {
      return st;
    }
    result.warnings.insert(result.warnings.end(), edit.warnings.begin(), edit.warnings.end());
    if (edit.changed) {
      result.iimChanged = true;
      result.iim = edit.written;
      *edited = std::move(edit.payload);
    }
    return XpStatus::Ok;
  };
  // The written file must say what was meant, in both places.
  edits.check = [&](std::span<const std::uint8_t> xmp, std::span<const std::uint8_t> iptc) {
    XpXmpLocation::Reading reading;
    if (XpXmpLocation::ReadLocation(PacketOf(xmp), &reading) != XpStatus::Ok || !(reading == expectedXmp)) {
      return XpStatus::JpegDecodeFailed;
    }
    if (result.iimChanged) {
      XpIptcIim::Reading iim;
      if (XpIptcIim::Read(iptc, &iim) != XpStatus::Ok || !(iim.location == result.iim)) {
        return XpStatus::JpegDecodeFailed;
      }
    }
    return XpStatus::Ok;
  };
  const XpStatus st = XpExifRewrite::WriteHeaderSegments(path, edits, hooks);
  result.written = st == XpStatus::Ok && (result.xmpChanged || result.iimChanged);
  if (st != XpStatus::Ok) {
    result.xmpAdded = result.xmpChanged = result.iimChanged = false;
  }
  *outcome = std::move(result);
  return st;
}

}  // namespace XpLocationWrite
