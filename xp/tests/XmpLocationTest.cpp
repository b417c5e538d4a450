// The XMP location properties: read in every form they are written in, set
// with every other byte of the packet kept, and refused where the packet or
// the values cannot be trusted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xp/image/XpXmpLocation.h"

namespace {

using XpXmpLocation::Reading;
using XpXmpLocation::Update;

std::vector<std::uint8_t> Packet(std::string_view text) { return {text.begin(), text.end()}; }
std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::string Wrap(const std::string& descriptions, std::size_t padding = 2000) {
  return "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
         "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n"
         " <rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n" +
         descriptions + " </rdf:RDF>\n</x:xmpmeta>\n" + std::string(padding, ' ') + "\n<?xpacket end='w'?>";
}

// A packet with the old location in both forms, spread over two
// descriptions, between properties that must stay.
const std::string kOld = Wrap(
    "  <rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'\n"
    "    xmlns:ps='http://ns.adobe.com/photoshop/1.0/' ps:City='Osaka' ps:Headline='Temple &amp; garden'>\n"
    "   <dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Evening</rdf:li></rdf:Alt></dc:title>\n"
    "   <ps:State>Osaka</ps:State>\n"
    "  </rdf:Description>\n"
    "  <rdf:Description rdf:about='' xmlns:Iptc4xmpCore='http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/'\n"
    "    xmlns:Iptc4xmpExt='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'\n"
    "    xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'>\n"
    "   <photoshop:Country>Japan</photoshop:Country>\n"
    "   <Iptc4xmpCore:CountryCode>JP</Iptc4xmpCore:CountryCode>\n"
    "   <Iptc4xmpCore:Location>Dotonbori</Iptc4xmpCore:Location>\n"
    "   <Iptc4xmpCore:IntellectualGenre>Travel</Iptc4xmpCore:IntellectualGenre>\n"
    "   <Iptc4xmpExt:LocationCreated><rdf:Bag><rdf:li>\n"
    "    <rdf:Description Iptc4xmpExt:City='Osaka' Iptc4xmpExt:CountryCode='JP'/>\n"
    "   </rdf:li></rdf:Bag></Iptc4xmpExt:LocationCreated>\n"
    "   <Iptc4xmpExt:LocationShown><rdf:Bag><rdf:li rdf:parseType='Resource'>\n"
    "    <Iptc4xmpExt:City>Nara</Iptc4xmpExt:City>\n"
    "   </rdf:li></rdf:Bag></Iptc4xmpExt:LocationShown>\n"
    "  </rdf:Description>\n");

const Update kGion = {"Gion", "Kyōto", "Japan", "JP", std::nullopt};

TEST(XmpLocation, ReadsAttributesElementsAndTheStructureInEachForm) {
  Reading reading;
  ASSERT_EQ(XpXmpLocation::ReadLocation(Packet(kOld), &reading), XpStatus::Ok);
  EXPECT_EQ(reading.legacy, (XpXmpLocation::Location{"Osaka", "Osaka", "Japan", "JP", "Dotonbori"}));
  EXPECT_EQ(reading.created, (XpXmpLocation::Location{"Osaka", "", "", "JP", ""}));

  const std::string resource = Wrap(
      "<rdf:Description rdf:about='' xmlns:e='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'><e:LocationCreated>"
      "<rdf:Bag><rdf:li rdf:parseType='Resource'><e:City>Kyoto</e:City><e:ProvinceState>Kyoto</e:ProvinceState>"
      "<e:CountryName>Japan</e:CountryName><e:Sublocation>Gion</e:Sublocation></rdf:li>"
      "<rdf:li rdf:parseType='Resource'><e:City>Second</e:City></rdf:li></rdf:Bag></e:LocationCreated>"
      "</rdf:Description>\n");
  ASSERT_EQ(XpXmpLocation::ReadLocation(Packet(resource), &reading), XpStatus::Ok);
  EXPECT_EQ(reading.created, (XpXmpLocation::Location{"Kyoto", "Kyoto", "Japan", "", "Gion"}));
  EXPECT_EQ(reading.legacy, XpXmpLocation::Location{});
  // The same local names in another namespace are not the location.
  const std::string other =
      Wrap("<rdf:Description rdf:about='' xmlns:o='http://example.com/other/' o:City='Nowhere'/>\n");
  ASSERT_EQ(XpXmpLocation::ReadLocation(Packet(other), &reading), XpStatus::Ok);
  EXPECT_EQ(reading, Reading{});
}

TEST(XmpLocation, SetReplacesEveryOldFormAndKeepsEveryOtherByteAndTheLength) {
  XpXmpLocation::Edit edit;
  ASSERT_EQ(XpXmpLocation::SetLocation(Packet(kOld), kGion, &edit), XpStatus::Ok);
  ASSERT_TRUE(edit.changed);
  EXPECT_EQ(edit.packet.size(), kOld.size());  // the padding takes up the difference
  Reading reading;
  ASSERT_EQ(XpXmpLocation::ReadLocation(edit.packet, &reading), XpStatus::Ok);
  // The sublocation is not given: the older property stays, the structure has none.
  EXPECT_EQ(reading.legacy, (XpXmpLocation::Location{"Gion", "Kyōto", "Japan", "JP", "Dotonbori"}));
  EXPECT_EQ(reading.created, (XpXmpLocation::Location{"Gion", "Kyōto", "Japan", "JP", ""}));
  Reading before;
  ASSERT_EQ(XpXmpLocation::ReadLocation(Packet(kOld), &before), XpStatus::Ok);
  EXPECT_EQ(reading, XpXmpLocation::Expected(before, kGion));

  // Without the new description and the padding, the packet is the old one
  // without the old location properties, byte for byte.
  std::string text = Text(edit.packet);
  const auto added = text.find("  <rdf:Description rdf:about=\"\"");
  ASSERT_NE(added, std::string::npos);
  const auto addedEnd = text.find("</rdf:Description>\n", added) + 19;
  text.erase(added, addedEnd - added);
  std::string expected = kOld;
  for (const char* gone :
       {" ps:City='Osaka'", "\n   <ps:State>Osaka</ps:State>", "\n   <photoshop:Country>Japan</photoshop:Country>",
        "\n   <Iptc4xmpCore:CountryCode>JP</Iptc4xmpCore:CountryCode>"}) {
    const auto at = expected.find(gone);
    ASSERT_NE(at, std::string::npos) << gone;
    expected.erase(at, std::string_view(gone).size());
  }
  const auto structure = expected.find("\n   <Iptc4xmpExt:LocationCreated>");
  const auto structureEnd = expected.find("</Iptc4xmpExt:LocationCreated>") + 30;
  expected.erase(structure, structureEnd - structure);
  const auto trimmed = [](std::string s) {
    const auto trailer = s.rfind("<?xpacket end=");
    auto start = s.find_last_not_of(" \n", trailer - 1) + 1;
    return s.erase(start, trailer - start);
  };
  EXPECT_EQ(trimmed(text), trimmed(expected));
  EXPECT_NE(text.find("ps:Headline='Temple &amp; garden'"), std::string::npos);
  EXPECT_NE(text.find("<Iptc4xmpExt:City>Nara</Iptc4xmpExt:City>"), std::string::npos);

  // A second write of the same names changes nothing.
  XpXmpLocation::Edit again;
  ASSERT_EQ(XpXmpLocation::SetLocation(edit.packet, kGion, &again), XpStatus::Ok);
  EXPECT_FALSE(again.changed);
  EXPECT_EQ(again.packet, edit.packet);
}

// The structure's other fields (as elements or attributes, in an element of their own prefix) and
// its later entries are carried into the new structure; only the fields the write sets change.
TEST(XmpLocation, TheStructuresOtherFieldsAndEntriesStay) {
  const std::string old = Wrap(
      "  <rdf:Description rdf:about='' xmlns:ext='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'\n"
      "    xmlns:my='http://example.com/ns/'>\n"
      "   <ext:LocationCreated><rdf:Bag>\n"
      "    <rdf:li rdf:parseType='Resource' ext:WorldRegion='Asia'>\n"
      "     <ext:City>Osaka</ext:City><ext:Sublocation>Namba</ext:Sublocation>\n"
      "     <ext:LocationId><rdf:Bag><rdf:li>https://sws.geonames.org/1853909/</rdf:li></rdf:Bag></ext:LocationId>\n"
      "     <my:Note>kept &amp; sound</my:Note>\n"
      "    </rdf:li>\n"
      "    <rdf:li rdf:parseType='Resource'><ext:City>Nara</ext:City></rdf:li>\n"
      "   </rdf:Bag></ext:LocationCreated>\n"
      "  </rdf:Description>\n");
  XpXmpLocation::Edit edit;
  ASSERT_EQ(XpXmpLocation::SetLocation(Packet(old), kGion, &edit), XpStatus::Ok);
  const std::string text = Text(edit.packet);
  Reading reading;
  ASSERT_EQ(XpXmpLocation::ReadLocation(edit.packet, &reading), XpStatus::Ok);
  // No sublocation given: the structure keeps its own.
  EXPECT_EQ(reading.created, (XpXmpLocation::Location{"Gion", "Kyōto", "Japan", "JP", "Namba"}));
  Reading before;
  ASSERT_EQ(XpXmpLocation::ReadLocation(Packet(old), &before), XpStatus::Ok);
  EXPECT_EQ(reading, XpXmpLocation::Expected(before, kGion));
  for (const char* kept :
       {"<ext:WorldRegion>Asia</ext:WorldRegion>",
        "<ext:LocationId><rdf:Bag><rdf:li>https://sws.geonames.org/1853909/</rdf:li></rdf:Bag>"
        "</ext:LocationId>",
        "<my:Note>kept &amp; sound</my:Note>", "<rdf:li rdf:parseType='Resource'><ext:City>Nara</ext:City></rdf:li>",
        "xmlns:ext=\"http://iptc.org/std/Iptc4xmpExt/2008-02-29/\"", "xmlns:my=\"http://example.com/ns/\""}) {
    EXPECT_NE(text.find(kept), std::string::npos) << kept << "\n" << text;
  }
  EXPECT_EQ(text.find("Osaka"), std::string::npos);
  // Written again with the same names: nothing changes; with a sublocation, that one replaces Namba.
  XpXmpLocation::Edit again;
  ASSERT_EQ(XpXmpLocation::SetLocation(edit.packet, kGion, &again), XpStatus::Ok);
  EXPECT_FALSE(again.changed);
  Update withSublocation = kGion;
  withSublocation.sublocation = "Hanamikoji";
  ASSERT_EQ(XpXmpLocation::SetLocation(edit.packet, withSublocation, &again), XpStatus::Ok);
  ASSERT_EQ(XpXmpLocation::ReadLocation(again.packet, &reading), XpStatus::Ok);
  EXPECT_EQ(reading.created.sublocation, "Hanamikoji");
  EXPECT_EQ(Text(again.packet).find("Namba"), std::string::npos);
  EXPECT_NE(Text(again.packet).find("<ext:WorldRegion>Asia</ext:WorldRegion>"), std::string::npos);

  // A kept field whose prefix the new description binds to another namespace cannot be carried.
  const std::string clash = Wrap(
      "  <rdf:Description rdf:about='' xmlns:Iptc4xmpExt='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'>\n"
      "   <Iptc4xmpExt:LocationCreated><rdf:Bag><rdf:li rdf:parseType='Resource'>\n"
      "    <photoshop:Other xmlns:photoshop='urn:other'>x</photoshop:Other>\n"
      "    <Iptc4xmpExt:City>Osaka</Iptc4xmpExt:City>\n"
      "   </rdf:li></rdf:Bag></Iptc4xmpExt:LocationCreated>\n"
      "  </rdf:Description>\n");
  // Declared inside the field itself, the prefix needs no binding: it is carried.
  ASSERT_EQ(XpXmpLocation::SetLocation(Packet(clash), kGion, &edit), XpStatus::Ok);
  EXPECT_NE(Text(edit.packet).find("<photoshop:Other xmlns:photoshop='urn:other'>x</photoshop:Other>"),
            std::string::npos);
  const std::string bound = Wrap(
      "  <rdf:Description rdf:about='' xmlns:Iptc4xmpExt='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'\n"
      "    xmlns:photoshop='urn:other'>\n"
      "   <Iptc4xmpExt:LocationCreated><rdf:Bag><rdf:li rdf:parseType='Resource'>\n"
      "    <photoshop:Other>x</photoshop:Other><Iptc4xmpExt:City>Osaka</Iptc4xmpExt:City>\n"
      "   </rdf:li></rdf:Bag></Iptc4xmpExt:LocationCreated>\n"
      "  </rdf:Description>\n");
  EXPECT_EQ(XpXmpLocation::SetLocation(Packet(bound), kGion, &edit), XpStatus::XmpInvalid);
}

TEST(XmpLocation, AGivenSublocationReplacesTheOlderOneAndEmptyValuesGo) {
  Update update{"Kyoto", "", "Japan", "JP", std::string("Gion")};
  XpXmpLocation::Edit edit;
  ASSERT_EQ(XpXmpLocation::SetLocation(Packet(kOld), update, &edit), XpStatus::Ok);
  Reading reading;
  ASSERT_EQ(XpXmpLocation::ReadLocation(edit.packet, &reading), XpStatus::Ok);
  EXPECT_EQ(reading.legacy, (XpXmpLocation::Location{"Kyoto", "", "Japan", "JP", "Gion"}));
  EXPECT_EQ(reading.created, (XpXmpLocation::Location{"Kyoto", "", "Japan", "JP", "Gion"}));
  EXPECT_EQ(Text(edit.packet).find("Dotonbori"), std::string::npos);
  EXPECT_EQ(Text(edit.packet).find("Osaka"), std::string::npos);
}

TEST(XmpLocation, ValuesAreEscapedAndAPacketWithoutPaddingGrows) {
  const std::string bare = Wrap("  <rdf:Description rdf:about='x'/>\n", 0);
  const Update update{"A & B <C>", "\"Q\"", "Country", "ZZ", std::nullopt};
  XpXmpLocation::Edit edit;
  ASSERT_EQ(XpXmpLocation::SetLocation(Packet(bare), update, &edit), XpStatus::Ok);
  EXPECT_GT(edit.packet.size(), bare.size());
  EXPECT_NE(Text(edit.packet).find("<photoshop:City>A &amp; B &lt;C&gt;</photoshop:City>"), std::string::npos);
  EXPECT_NE(Text(edit.packet).find("rdf:about=\"x\""), std::string::npos);
  Reading reading;
  ASSERT_EQ(XpXmpLocation::ReadLocation(edit.packet, &reading), XpStatus::Ok);
  EXPECT_EQ(reading.legacy.city, "A & B <C>");
  EXPECT_EQ(reading.created.state, "\"Q\"");
}

TEST(XmpLocation, ADefaultNamespaceRdfAndANewPacketRead) {
  const std::string text =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><RDF xmlns='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
      "<Description about=''/></RDF></x:xmpmeta>";
  XpXmpLocation::Edit edit;
  ASSERT_EQ(XpXmpLocation::SetLocation(Packet(text), kGion, &edit), XpStatus::Ok);
  Reading reading;
  ASSERT_EQ(XpXmpLocation::ReadLocation(edit.packet, &reading), XpStatus::Ok);
  EXPECT_EQ(reading, XpXmpLocation::Expected({}, kGion));

  std::vector<std::uint8_t> packet;
  ASSERT_EQ(XpXmpLocation::NewPacket(kGion, &packet), XpStatus::Ok);
  ASSERT_EQ(XpXmpLocation::ReadLocation(packet, &reading), XpStatus::Ok);
  EXPECT_EQ(reading, XpXmpLocation::Expected({}, kGion));
  EXPECT_TRUE(Text(packet).starts_with("<?xpacket begin="));
  EXPECT_TRUE(Text(packet).ends_with("<?xpacket end=\"w\"?>"));
}

TEST(XmpLocation, RefusesBrokenPacketsAndValuesThatCannotBeWritten) {
  XpXmpLocation::Edit edit;
  Reading reading;
  for (const std::string& bad :
       {std::string("<x:xmpmeta><rdf:RDF>"), std::string("not xml"), std::string(), std::string("<a>\0</a>", 8)}) {
    EXPECT_EQ(XpXmpLocation::SetLocation(Packet(bad), kGion, &edit), XpStatus::XmpInvalid) << bad;
    EXPECT_EQ(XpXmpLocation::ReadLocation(Packet(bad), &reading), XpStatus::XmpInvalid) << bad;
  }
  // Well-formed, but no rdf:RDF to put the location into.
  EXPECT_EQ(XpXmpLocation::SetLocation(Packet("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>"), kGion, &edit),
            XpStatus::XmpInvalid);
  // An empty-element rdf:RDF has no end tag to put a new description in front of.
  EXPECT_EQ(XpXmpLocation::SetLocation(Packet("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                                              "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'/></x:xmpmeta>"),
                                       kGion, &edit),
            XpStatus::XmpInvalid);
  // Nesting beyond the limit.
  std::string deep;
  for (std::size_t i = 0; i < XpXmpLocation::kMaxDepth + 2; ++i) {
    deep += "<a>";
  }
  for (std::size_t i = 0; i < XpXmpLocation::kMaxDepth + 2; ++i) {
    deep += "</a>";
  }
  EXPECT_EQ(XpXmpLocation::ReadLocation(Packet(deep), &reading), XpStatus::XmpInvalid);
  for (const Update& bad : {Update{"\xC3(", "", "", "", std::nullopt}, Update{"a\nb", "", "", "", std::nullopt},
                            Update{std::string(XpXmpLocation::kMaxValueBytes + 1, 'x'), "", "", "", std::nullopt},
                            Update{"ok", "", "", "", std::string("\xED\xA0\x80")}}) {
    EXPECT_EQ(XpXmpLocation::SetLocation(Packet(kOld), bad, &edit), XpStatus::InvalidArgument);
    std::vector<std::uint8_t> packet;
    EXPECT_EQ(XpXmpLocation::NewPacket(bad, &packet), XpStatus::InvalidArgument);
  }
}

}  // namespace
