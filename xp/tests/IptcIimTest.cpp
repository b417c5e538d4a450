// The IIM location datasets inside a photo's APP13 resources: set in record
// order with every other resource and dataset kept, the digest recomputed,
// values cut at a character boundary, and broken blocks refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xp/base/XpMd5.h"
#include "xp/image/XpIptcIim.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes* out, std::string_view text) { out->insert(out->end(), text.begin(), text.end()); }
void Put16(Bytes* out, std::size_t v) {
  out->push_back(static_cast<std::uint8_t>(v >> 8));
  out->push_back(static_cast<std::uint8_t>(v));
}
void Put32(Bytes* out, std::size_t v) {
  Put16(out, v >> 16);
  Put16(out, v & 0xFFFF);
}

Bytes Dataset(std::uint8_t record, std::uint8_t number, std::string_view value) {
  Bytes out = {0x1C, record, number};
  Put16(&out, value.size());
  Put(&out, value);
  return out;
}

Bytes Resource(std::uint16_t id, const Bytes& data, std::string_view name = "") {
  Bytes out;
  Put(&out, "8BIM");
  Put16(&out, id);
  out.push_back(static_cast<std::uint8_t>(name.size()));
  Put(&out, name);
  if ((name.size() + 1) % 2 != 0) {
    out.push_back(0);
  }
  Put32(&out, data.size());
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() % 2 != 0) {
    out.push_back(0);
  }
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

Bytes Payload(const Bytes& iim, bool withDigest = true) {
  Bytes out(XpIptcIim::kHeader.begin(), XpIptcIim::kHeader.end());
  const Bytes other = Resource(0x03ED, Bytes{1, 2, 3}, "res");  // odd size, named
  const auto digest = XpMd5::Of(iim);
  return Join({out, other, Resource(XpIptcIim::kResourceIim, iim),
               withDigest ? Resource(XpIptcIim::kResourceDigest, Bytes(digest.begin(), digest.end())) : Bytes{},
               Bytes{0, 0}});
}

const Bytes kUtf8 = Dataset(1, 90, "\x1B%G");

TEST(IptcIim, SetsTheLocationInRecordOrderAndRecomputesTheDigest) {
  const Bytes iim =
      Join({kUtf8, Dataset(2, 0, "\x00\x04"), Dataset(2, 5, "Title"), Dataset(2, 25, "temple"), Dataset(2, 90, "Osaka"),
            Dataset(2, 92, "Dotonbori"), Dataset(2, 101, "Japan"), Dataset(2, 120, "Caption"), Bytes{0, 0, 0}});
  const Bytes payload = Payload(iim);
  XpIptcIim::Edit edit;
  ASSERT_EQ(XpIptcIim::SetLocation(payload, {"Gion", "Kyōto", "JPN", "Japan"}, &edit), XpStatus::Ok);
  ASSERT_TRUE(edit.changed);
  EXPECT_TRUE(edit.warnings.empty());
  const Bytes wanted =
      Join({kUtf8, Dataset(2, 0, "\x00\x04"), Dataset(2, 5, "Title"), Dataset(2, 25, "temple"), Dataset(2, 90, "Gion"),
            Dataset(2, 92, "Dotonbori"), Dataset(2, 95, "Kyōto"), Dataset(2, 100, "JPN"), Dataset(2, 101, "Japan"),
            Dataset(2, 120, "Caption"), Bytes{0, 0, 0}});
  EXPECT_EQ(edit.payload, Payload(wanted));
  XpIptcIim::Reading reading;
  ASSERT_EQ(XpIptcIim::Read(edit.payload, &reading), XpStatus::Ok);
  EXPECT_TRUE(reading.hasIim);
  EXPECT_TRUE(reading.utf8);
  EXPECT_EQ(reading.location, (XpIptcIim::Location{"Gion", "Kyōto", "JPN", "Japan"}));
  EXPECT_EQ(edit.written, reading.location);

  // Written again, nothing changes; empty values take the old datasets out.
  XpIptcIim::Edit again;
  ASSERT_EQ(XpIptcIim::SetLocation(edit.payload, edit.written, &again), XpStatus::Ok);
  EXPECT_FALSE(again.changed);
  ASSERT_EQ(XpIptcIim::SetLocation(edit.payload, {"Gion", "", "", ""}, &again), XpStatus::Ok);
  EXPECT_EQ(again.payload, Payload(Join({kUtf8, Dataset(2, 0, "\x00\x04"), Dataset(2, 5, "Title"),
                                         Dataset(2, 25, "temple"), Dataset(2, 90, "Gion"), Dataset(2, 92, "Dotonbori"),
                                         Dataset(2, 120, "Caption"), Bytes{0, 0, 0}})));
}

TEST(IptcIim, ABlockWithoutADigestGetsNoneAndOneOfAnotherSizeGoes) {
  const Bytes iim = Join({kUtf8, Dataset(2, 90, "Osaka")});
  XpIptcIim::Edit edit;
  ASSERT_EQ(XpIptcIim::SetLocation(Payload(iim, false), {"Kyoto", "", "", ""}, &edit), XpStatus::Ok);
  EXPECT_EQ(edit.payload, Payload(Join({kUtf8, Dataset(2, 90, "Kyoto")}), false));

  Bytes odd = Join({Bytes(XpIptcIim::kHeader.begin(), XpIptcIim::kHeader.end()), Resource(XpIptcIim::kResourceIim, iim),
                    Resource(XpIptcIim::kResourceDigest, Bytes(4, 7))});
  ASSERT_EQ(XpIptcIim::SetLocation(odd, {"Kyoto", "", "", ""}, &edit), XpStatus::Ok);
  EXPECT_EQ(edit.payload, Join({Bytes(XpIptcIim::kHeader.begin(), XpIptcIim::kHeader.end()),
                                Resource(XpIptcIim::kResourceIim, Join({kUtf8, Dataset(2, 90, "Kyoto")}))}));
}

TEST(IptcIim, LongValuesAreCutAtACharacterWithAWarningAndNonAsciiNeedsUtf8) {
  // 31 ASCII bytes and a two-byte character: the cut falls inside it.
  const std::string city = std::string(31, 'a') + "é";
  XpIptcIim::Edit edit;
  ASSERT_EQ(XpIptcIim::SetLocation(Payload(kUtf8), {city, "", "JPNX", ""}, &edit), XpStatus::Ok);
  EXPECT_EQ(edit.written.city, std::string(31, 'a'));
  EXPECT_EQ(edit.written.countryCode, "JPN");
  EXPECT_EQ(edit.warnings.size(), 2U);
  EXPECT_EQ(XpIptcIim::CutUtf8("日本", 5), "日");
  EXPECT_EQ(XpIptcIim::CutUtf8("日本", 6), "日本");
  EXPECT_EQ(XpIptcIim::CutUtf8("日本", 2), "");

  // Without a UTF-8 declaration the old datasets' bytes mean another character set.
  const Bytes latin = Join({Dataset(2, 90, "M\xFCnchen"), Dataset(2, 101, "Germany")});
  ASSERT_EQ(XpIptcIim::SetLocation(Payload(latin), {"Zürich", "", "CHE", "Switzerland"}, &edit), XpStatus::Ok);
  EXPECT_EQ(edit.written, (XpIptcIim::Location{"", "", "CHE", "Switzerland"}));
  ASSERT_EQ(edit.warnings.size(), 1U);
  EXPECT_NE(edit.warnings[0].find("City"), std::string::npos);
  EXPECT_EQ(XpIptcIim::SetLocation(Payload(latin), {"\xFC", "", "", ""}, &edit), XpStatus::InvalidArgument);
}

TEST(IptcIim, APayloadWithoutIimStaysAndBrokenBlocksAreRefused) {
  const Bytes header(XpIptcIim::kHeader.begin(), XpIptcIim::kHeader.end());
  const Bytes noIim = Join({header, Resource(0x03ED, Bytes{1, 2})});
  XpIptcIim::Edit edit;
  ASSERT_EQ(XpIptcIim::SetLocation(noIim, {"Kyoto", "", "", ""}, &edit), XpStatus::Ok);
  EXPECT_FALSE(edit.changed);
  EXPECT_EQ(edit.payload, noIim);

  Bytes tooLong = Join({header, Resource(XpIptcIim::kResourceIim, Dataset(2, 90, "Osaka"))});
  tooLong[header.size() + 11] = 0x7F;  // the resource's size
  Bytes datasetTooLong = Join({header, Resource(XpIptcIim::kResourceIim, Dataset(2, 90, "Osaka"))});
  datasetTooLong[header.size() + 12 + 4] = 0x09;  // the dataset's length
  Bytes extended = Join({header, Resource(XpIptcIim::kResourceIim, Bytes{0x1C, 2, 90, 0x80, 0x09, 0, 0})});
  for (const Bytes& bad : {Bytes{}, Bytes{'P', 'h'}, Join({header, Bytes(12, 'x')}), tooLong, datasetTooLong,
                           Join({header, Resource(XpIptcIim::kResourceIim, Bytes{0x1C, 2})}),
                           Join({header, Resource(XpIptcIim::kResourceIim, Bytes{0x1D, 2, 3, 0, 0})}), extended}) {
    XpIptcIim::Reading reading;
    EXPECT_EQ(XpIptcIim::Read(bad, &reading), XpStatus::IimInvalid);
    EXPECT_EQ(XpIptcIim::SetLocation(bad, {"Kyoto", "", "", ""}, &edit), XpStatus::IimInvalid);
  }
}

}  // namespace
