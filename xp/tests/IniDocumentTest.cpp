#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "xp/base/XpDateTime.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/ini/XpIniDict.h"
#include "xp/ini/XpIniMemChunk.h"
#include "xp/tests/TestSupport.h"

namespace {

using testsupport::TempDir;

// Fixtures written by Python's plistlib sit beside this file.
std::string DataFile(const char* name) {
  return (std::filesystem::path(__FILE__).parent_path() / "data" / name).string();
}

std::string Plist(const std::string& dictContent) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + dictContent +
         "\n</dict>\n</plist>\n";
}

std::string Saved(const XpIniDict& dict) {
  std::string text;
  EXPECT_EQ(dict.SaveText(text), XpStatus::Ok);
  return text;
}

std::string StringAt(const XpIniDict& dict, const char* path) {
  std::string text;
  const XpIniElement* node = dict.Find(path);
  if (node == nullptr || node->GetString(text) != XpStatus::Ok) {
    return "<none>";
  }
  return text;
}

std::int64_t IntAt(const XpIniDict& dict, const char* path) {
  std::int64_t value = -999;
  const XpIniElement* node = dict.Find(path);
  if (node != nullptr) {
    EXPECT_EQ(node->GetInt64(value), XpStatus::Ok) << path;
  }
  return value;
}

std::vector<std::uint8_t> BytesAt(const XpIniDict& dict, const char* path) {
  const auto* chunk = dynamic_cast<const XpIniMemChunk*>(dict.Find(path));
  if (chunk == nullptr) {
    return {};
  }
  return {chunk->GetBytes().begin(), chunk->GetBytes().end()};
}

TEST(XpIniDictSave, WritesTheExactDocumentWithKeysInByteOrder) {
  XpIniDict dict;
  ASSERT_EQ(dict.Add("b", XpIniType::Bool, 1), XpStatus::Ok);
  ASSERT_EQ(dict.Add("B", XpIniType::Int, -42), XpStatus::Ok);
  ASSERT_EQ(dict.Add("a", XpIniType::String, 0, "x < y & z"), XpStatus::Ok);
  EXPECT_EQ(Saved(dict),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><plist version=\"1.0\"><dict><key>B</key><integer>-42</integer>"
            "<key>a</key><string>x &lt; y &amp; z</string><key>b</key><true/></dict></plist>");
}

TEST(XpIniDictSave, WritesEveryTypeInItsDesignedForm) {
  XpIniDict dict;
  ASSERT_EQ(dict.Add("f", XpIniType::Bool, 0), XpStatus::Ok);
  ASSERT_EQ(dict.Add("r", XpIniType::Real), XpStatus::Ok);
  ASSERT_EQ(dict.Find("r")->SetReal(-0.1), XpStatus::Ok);
  ASSERT_EQ(dict.Add("big", XpIniType::Real), XpStatus::Ok);
  ASSERT_EQ(dict.Find("big")->SetReal(1e20), XpStatus::Ok);
  ASSERT_EQ(dict.Add("d", XpIniType::MemChunk), XpStatus::Ok);
  XpMemoryFile bytes{std::vector<std::uint8_t>{0x0A, 0xFF, 0x00}};
  ASSERT_EQ(dict.Find("d")->SetData(bytes), XpStatus::Ok);
  ASSERT_EQ(dict.Add("t", XpIniType::Date), XpStatus::Ok);
  ASSERT_EQ(dict.Find("t")->SetDate(XpDateTime(2007, 3, 7, 9, 5, 3)), XpStatus::Ok);
  ASSERT_EQ(dict.Add("e", XpIniType::Array), XpStatus::Ok);
  ASSERT_EQ(dict.Add("s", XpIniType::String), XpStatus::Ok);
  EXPECT_EQ(Saved(dict),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><plist version=\"1.0\"><dict>"
            "<key>big</key><real>100000000000000000000.000000000000000</real>"
            "<key>d</key><data>0aff00</data>"
            "<key>e</key><array/>"
            "<key>f</key><false/>"
            "<key>r</key><real>-0.100000000000000</real>"
            "<key>s</key><string/>"
            "<key>t</key><date>2007:03:07T09:05:03Z</date>"
            "</dict></plist>");
}

TEST(XpIniDictLoad, ReadsDataAsHexPairsAndSavesItBackInLowerCase) {
  XpIniDict dict;
  ASSERT_EQ(dict.LoadText(Plist("<key>d</key><data>0aFF</data><key>odd</key><data>0aF</data>"
                                "<key>short</key><data>A</data>")),
            XpStatus::Ok);
  EXPECT_EQ(BytesAt(dict, "d"), (std::vector<std::uint8_t>{0x0A, 0xFF}));
  EXPECT_EQ(BytesAt(dict, "odd"), (std::vector<std::uint8_t>{0x0A}));
  ASSERT_NE(dict.Find("short"), nullptr);
  EXPECT_TRUE(BytesAt(dict, "short").empty());
  EXPECT_NE(Saved(dict).find("<key>d</key><data>0aff</data>"), std::string::npos);
}

TEST(XpIniDictLoad, ReadsDatesWithColonsAndWithHyphensAlike) {
  XpIniDict written;
  ASSERT_EQ(written.Add("when", XpIniType::Date), XpStatus::Ok);
  ASSERT_EQ(written.Find("when")->SetDate(XpDateTime(2019, 12, 31, 23, 59, 58)), XpStatus::Ok);
  XpIniDict again;
  ASSERT_EQ(again.LoadText(Saved(written)), XpStatus::Ok);
  XpIniDict other;
  ASSERT_EQ(other.LoadText(Plist("<key>when</key><date>2019-12-31T23:59:58Z</date>")), XpStatus::Ok);
  XpDateTime a;
  XpDateTime b;
  ASSERT_EQ(again.Find("when")->GetDate(a), XpStatus::Ok);
  ASSERT_EQ(other.Find("when")->GetDate(b), XpStatus::Ok);
  EXPECT_TRUE(a.IsValid());
  EXPECT_EQ(a, XpDateTime(2019, 12, 31, 23, 59, 58));
  EXPECT_EQ(a, b);
}

TEST(XpIniDictLoad, RefusesADocumentWhoseRootIsNotPlist) {
  XpIniDict dict;
  ASSERT_EQ(dict.Add("stale", XpIniType::Int), XpStatus::Ok);
  EXPECT_EQ(dict.LoadText("<dict><key>a</key><integer>1</integer></dict>"), XpStatus::StructureError);
  EXPECT_EQ(dict.GetCount(), 0);
}

struct BrokenDocument {
  const char* name;
  const char* text;
  XpStatus status;
};

class XpIniDictBrokenDocument : public ::testing::TestWithParam<BrokenDocument> {};

TEST_P(XpIniDictBrokenDocument, AnswersItsStatus) {
  XpIniDict dict;
  EXPECT_EQ(dict.LoadText(GetParam().text), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XpIniDictBrokenDocument,
    ::testing::Values(
        BrokenDocument{"Malformed", "<plist><dict><key>a</key></plist>", XpStatus::XmlParseFailed},
        BrokenDocument{"NotXml", "just text", XpStatus::XmlFailed}, BrokenDocument{"Empty", "", XpStatus::XmlFailed},
        BrokenDocument{"OnlyADeclaration", "<?xml version=\"1.0\"?>", XpStatus::XmlFailed},
        BrokenDocument{"NoDict", "<plist><array/></plist>", XpStatus::StructureError},
        BrokenDocument{"ValueWhereAKeyBelongs", "<plist><dict><string>x</string></dict></plist>",
                       XpStatus::StructureError},
        BrokenDocument{"EmptyKey", "<plist><dict><key></key><true/></dict></plist>", XpStatus::StructureError},
        BrokenDocument{"TextWhereAKeyBelongs", "<plist><dict>loose</dict></plist>", XpStatus::StructureError},
        BrokenDocument{"LastKeyWithoutValue", "<plist><dict><key>a</key></dict></plist>", XpStatus::Ok}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(XpIniDictLoad, KeepsEntriesBeforeASecondValueAndFailsOnlyAtTheRoot) {
  XpIniDict root;
  EXPECT_EQ(root.LoadText(Plist("<key>a</key><integer>1</integer><key>b</key><integer>2</integer>"
                                "<integer>3</integer><key>c</key><integer>4</integer>")),
            XpStatus::StructureError);
  EXPECT_EQ(IntAt(root, "a"), 1);
  EXPECT_EQ(IntAt(root, "b"), 2);
  EXPECT_EQ(root.Find("c"), nullptr);

  XpIniDict parent;
  EXPECT_EQ(parent.LoadText(Plist("<key>inner</key><dict><key>a</key><integer>1</integer><integer>2</integer>"
                                  "<key>lost</key><integer>3</integer></dict><key>z</key><integer>9</integer>")),
            XpStatus::Ok);
  EXPECT_EQ(IntAt(parent, "inner/a"), 1);
  EXPECT_EQ(parent.Find("inner/lost"), nullptr);
  EXPECT_EQ(parent.Find("inner")->GetCount(), 1);
  EXPECT_EQ(IntAt(parent, "z"), 9);
}

TEST(XpIniDictLoad, SkipsCommentsAndLetTheFirstOfDuplicateKeysWin) {
  XpIniDict dict;
  ASSERT_EQ(dict.LoadText(Plist("<!-- leading --><key>a</key><!-- between --><integer>1</integer>"
                                "<key>a</key><integer>2</integer><key>list</key><array><!-- c --><integer>5</integer>"
                                "</array>")),
            XpStatus::Ok);
  EXPECT_EQ(IntAt(dict, "a"), 1);
  EXPECT_EQ(dict.Find("list")->GetCount(), 1);
  EXPECT_EQ(IntAt(dict, "list/0"), 5);
}

TEST(XpIniDictLoad, TakesAKeyWithASlashAsAPath) {
  XpIniDict dict;
  ASSERT_EQ(dict.LoadText(Plist("<key>group</key><dict/><key>group/inner</key><string>x</string>"
                                "<key>missing/inner</key><string>y</string>")),
            XpStatus::Ok);
  EXPECT_EQ(StringAt(dict, "group/inner"), "x");
  EXPECT_EQ(dict.GetCount(), 1);
}

TEST(XpIniDictLoad, DropsValuesThatAreNoValueElements) {
  XpIniDict dict;
  ASSERT_EQ(dict.LoadText(Plist("<key>a</key><unknown/><key>b</key><date></date><key>c</key><key>d</key>"
                                "<key>e</key><array><integer>1</integer><bogus/>text<![CDATA[cdata]]><key>k</key>"
                                "<integer>2</integer></array><key>f</key><True/><key>g</key><false/>")),
            XpStatus::Ok);
  for (const char* dropped : {"a", "b", "c", "d", "f"}) {
    EXPECT_EQ(dict.Find(dropped), nullptr) << dropped;
  }
  ASSERT_NE(dict.Find("g"), nullptr);
  ASSERT_EQ(dict.Find("e")->GetCount(), 2);
  EXPECT_EQ(IntAt(dict, "e/0"), 1);
  EXPECT_EQ(IntAt(dict, "e/1"), 2);
  EXPECT_EQ(dict.GetCount(), 2);
}

TEST(XpIniDictLoad, ReadsOnlyTheFirstTextOfAnElement) {
  XpIniDict dict;
  ASSERT_EQ(dict.LoadText(Plist("<key>a</key><string><![CDATA[hidden]]>shown</string>"
                                "<key>b</key><string>one<!-- c -->two</string>"
                                "<key>c</key><string>  padded  </string>")),
            XpStatus::Ok);
  EXPECT_EQ(StringAt(dict, "a"), "shown");
  EXPECT_EQ(StringAt(dict, "b"), "one");
  EXPECT_EQ(StringAt(dict, "c"), "  padded  ");
}

TEST(XpIniDictLoad, ReadsNumbersUpToTheFirstCharacterThatIsNoDigit) {
  XpIniDict dict;
  ASSERT_EQ(dict.LoadText(Plist("<key>a</key><integer>  12abc</integer><key>b</key><integer/>"
                                "<key>c</key><integer>x</integer><key>d</key><integer>99999999999999999999</integer>"
                                "<key>e</key><integer>-9223372036854775808</integer>"
                                "<key>r</key><real> 2.5e3junk</real><key>s</key><real>none</real>")),
            XpStatus::Ok);
  EXPECT_EQ(IntAt(dict, "a"), 12);
  EXPECT_EQ(IntAt(dict, "b"), 0);
  EXPECT_EQ(IntAt(dict, "c"), 0);
  EXPECT_EQ(IntAt(dict, "d"), INT64_MAX);
  EXPECT_EQ(IntAt(dict, "e"), INT64_MIN);
  double real = -1;
  ASSERT_EQ(dict.Find("r")->GetReal(real), XpStatus::Ok);
  EXPECT_EQ(real, 2500.0);
  ASSERT_EQ(dict.Find("s")->GetReal(real), XpStatus::Ok);
  EXPECT_EQ(real, 0.0);
}

TEST(XpIniDictLoad, ReadsTheFirstDictAndSkipsADocumentTypeLine) {
  XpIniDict dict;
  ASSERT_EQ(dict.LoadText("<?xml version=\"1.0\"?><!DOCTYPE plist SYSTEM \"plist.dtd\"><plist><string>x</string>"
                          "<dict><key>a</key><true/></dict><dict><key>b</key><true/></dict></plist>"),
            XpStatus::Ok);
  EXPECT_NE(dict.Find("a"), nullptr);
  EXPECT_EQ(dict.Find("b"), nullptr);
}

TEST(XpIniDictLoad, SurvivesNestingFarBeyondItsLimit) {
  std::string deep;
  constexpr int kLevels = 20000;
  for (int i = 0; i < kLevels; ++i) {
    deep += "<array>";
  }
  for (int i = 0; i < kLevels; ++i) {
    deep += "</array>";
  }
  XpIniDict dict;
  ASSERT_EQ(dict.LoadText(Plist("<key>deep</key>" + deep + "<key>after</key><true/>")), XpStatus::Ok);
  int depth = 0;
  for (const XpIniElement* node = dict.Find("deep"); node != nullptr; node = node->GetAt(0)) {
    ++depth;
  }
  EXPECT_EQ(depth, XpIniDict::kMaxDepth);
  EXPECT_NE(dict.Find("after"), nullptr);
}

TEST(XpIniDictLoad, ReplacesEveryEntryOnEachLoad) {
  XpIniDict dict;
  ASSERT_EQ(dict.LoadText(Plist("<key>a</key><true/>")), XpStatus::Ok);
  ASSERT_EQ(dict.LoadText(Plist("<key>b</key><true/>")), XpStatus::Ok);
  EXPECT_EQ(dict.Find("a"), nullptr);
  EXPECT_NE(dict.Find("b"), nullptr);
}

TEST(XpIniDictFile, LoadsEveryTypeWrittenByAnotherTool) {
  XpIniDict dict;
  ASSERT_EQ(dict.LoadFile(DataFile("plist_types.plist")), XpStatus::Ok);
  EXPECT_EQ(dict.GetCount(), 13);
  bool flag = false;
  ASSERT_EQ(dict.Find("Yes")->GetBool(flag), XpStatus::Ok);
  EXPECT_TRUE(flag);
  ASSERT_EQ(dict.Find("No")->GetBool(flag), XpStatus::Ok);
  EXPECT_FALSE(flag);
  EXPECT_EQ(IntAt(dict, "Int"), 42);
  EXPECT_EQ(IntAt(dict, "Negative"), -7);
  EXPECT_EQ(IntAt(dict, "Big"), 4294967296LL);
  std::int32_t small = 0;
  EXPECT_EQ(dict.Find("Big")->GetInt32(small), XpStatus::IntegerRange);
  EXPECT_EQ(dict.Find("Smallest32")->GetInt32(small), XpStatus::Ok);
  EXPECT_EQ(small, INT32_MIN);
  double real = 0;
  ASSERT_EQ(dict.Find("Pi")->GetReal(real), XpStatus::Ok);
  EXPECT_DOUBLE_EQ(real, 3.141592653589793);
  EXPECT_EQ(StringAt(dict, "Text"), "Grüße & <tags> \"quoted\"");
  EXPECT_EQ(StringAt(dict, "Empty"), "");
  XpDateTime when;
  ASSERT_EQ(dict.Find("When")->GetDate(when), XpStatus::Ok);
  EXPECT_EQ(when, XpDateTime(2007, 3, 7, 9, 5, 3));
  EXPECT_EQ(IntAt(dict, "List/0"), 1);
  EXPECT_EQ(StringAt(dict, "List/1"), "two");
  ASSERT_EQ(dict.Find("List/2/0")->GetReal(real), XpStatus::Ok);
  EXPECT_EQ(real, 3.25);
  EXPECT_EQ(StringAt(dict, "List/3/k"), "v");
  EXPECT_EQ(StringAt(dict, "Nested/Inner/Deep"), "yes");
}

TEST(XpIniDictFile, WritesADocumentThatLoadsBackUnchanged) {
  TempDir dir;
  XpIniDict original;
  ASSERT_EQ(original.LoadFile(DataFile("plist_types.plist")), XpStatus::Ok);
  ASSERT_EQ(original.Add("Bytes", XpIniType::MemChunk), XpStatus::Ok);
  XpMemoryFile bytes{std::vector<std::uint8_t>{0xDE, 0xAD, 0x00, 0x01}};
  ASSERT_EQ(original.Find("Bytes")->SetData(bytes), XpStatus::Ok);
  ASSERT_EQ(original.Add("Control", XpIniType::String, 0, "tab\there\r\nline\x01"), XpStatus::Ok);
  ASSERT_EQ(original.Add("Blank", XpIniType::String, 0, " \t\n"), XpStatus::Ok);
  ASSERT_EQ(original.Add(" ", XpIniType::String, 0, "key of one blank"), XpStatus::Ok);
  ASSERT_EQ(original.Add("Fraction", XpIniType::Real), XpStatus::Ok);
  ASSERT_EQ(original.Find("Fraction")->SetReal(-123.000000000000125), XpStatus::Ok);
  const std::string path = dir.File("round.plist");
  ASSERT_EQ(original.SaveFile(path), XpStatus::Ok);

  XpIniDict loaded;
  ASSERT_EQ(loaded.LoadFile(path), XpStatus::Ok);
  EXPECT_EQ(Saved(loaded), Saved(original));
  EXPECT_EQ(StringAt(loaded, "Control"), "tab\there\r\nline\x01");
  EXPECT_EQ(StringAt(loaded, "Blank"), " \t\n");
  EXPECT_EQ(StringAt(loaded, " "), "key of one blank");
  EXPECT_EQ(BytesAt(loaded, "Bytes"), (std::vector<std::uint8_t>{0xDE, 0xAD, 0x00, 0x01}));
  double real = 0;
  ASSERT_EQ(loaded.Find("Fraction")->GetReal(real), XpStatus::Ok);
  EXPECT_NEAR(real, -123.000000000000125, 1e-12);

  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), Saved(original));
}

TEST(XpIniDictFile, LoadsADocumentWrittenInUtf16) {
  TempDir dir;
  const std::string text = Plist("<key>name</key><string>Grüße</string>");
  std::u16string wide = u"\uFEFF";
  for (std::size_t i = 0; i < text.size(); ++i) {
    // The document is ASCII apart from the two letters written here.
    if (text.compare(i, 7, "Grüße") == 0) {
      wide += u"Grüße";
      i += 6;
      continue;
    }
    wide += static_cast<char16_t>(text[i]);
  }
  const std::string path = dir.File("wide.plist");
  {
    std::ofstream out(path, std::ios::binary);
    for (const char16_t c : wide) {
      out.put(static_cast<char>(c & 0xFF));
      out.put(static_cast<char>(c >> 8));
    }
  }
  XpIniDict dict;
  ASSERT_EQ(dict.LoadFile(path), XpStatus::Ok);
  EXPECT_EQ(StringAt(dict, "name"), "Grüße");
}

TEST(XpIniDictFile, AnswersTheFileStatusWhenTheFileCanNotBeUsed) {
  TempDir dir;
  XpIniDict dict;
  EXPECT_EQ(dict.LoadFile(dir.File("missing.plist")), XpStatus::FileNotFound);
  EXPECT_EQ(dict.LoadFile(dir.File("no/such/folder.plist")), XpStatus::PathNotFound);
  EXPECT_EQ(dict.LoadFile(dir.File("")), XpStatus::AccessDenied);  // the folder itself
  EXPECT_EQ(dict.SaveFile(dir.File("no/such/folder.plist")), XpStatus::PathNotFound);

  // A FIFO with no writer would block a plain open: it must answer at once.
  const std::string fifo = dir.File("pipe.plist");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(dict.LoadFile(fifo), XpStatus::FileInvalid);
}

TEST(XpIniDictFile, ReplacesTheWholeContentOfAnExistingFile) {
  TempDir dir;
  const std::string path = dir.File("list.plist");
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(10000, 'x');
  }
  XpIniDict dict;
  ASSERT_EQ(dict.Add("a", XpIniType::Int, 1), XpStatus::Ok);
  ASSERT_EQ(dict.SaveFile(path), XpStatus::Ok);
  XpIniDict loaded;
  ASSERT_EQ(loaded.LoadFile(path), XpStatus::Ok);
  EXPECT_EQ(IntAt(loaded, "a"), 1);
  EXPECT_LT(std::filesystem::file_size(path), 200U);
}

}  // namespace
