#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "xp/base/XpDateTime.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/ini/XpIniArray.h"
#include "xp/ini/XpIniBool.h"
#include "xp/ini/XpIniDate.h"
#include "xp/ini/XpIniDict.h"
#include "xp/ini/XpIniInt.h"
#include "xp/ini/XpIniMemChunk.h"
#include "xp/ini/XpIniReal.h"
#include "xp/ini/XpIniString.h"

namespace {

std::vector<std::string> KeysOf(const XpIniDict& dict) {
  std::vector<std::string> keys;
  dict.ForEach([&](const std::string& key, const XpIniElement&) { keys.push_back(key); });
  return keys;
}

TEST(XpIniDict, AddsAndFindsNodesBySlashSeparatedPaths) {
  XpIniDict root;
  ASSERT_EQ(root.Add("outer", XpIniType::Dict), XpStatus::Ok);
  ASSERT_EQ(root.Add("outer/list", XpIniType::Array), XpStatus::Ok);
  ASSERT_EQ(root.Add("outer/list/-1", XpIniType::String, 0, "first"), XpStatus::Ok);
  ASSERT_EQ(root.Add("outer/list/-1", XpIniType::Int, 12), XpStatus::Ok);

  std::string text;
  ASSERT_NE(root.Find("outer/list/0"), nullptr);
  EXPECT_EQ(root.Find("outer/list/0")->GetString(text), XpStatus::Ok);
  EXPECT_EQ(text, "first");
  std::int64_t number = 0;
  EXPECT_EQ(root.Find("outer/list/1")->GetInt64(number), XpStatus::Ok);
  EXPECT_EQ(number, 12);
  EXPECT_EQ(root.Find("outer/list/2"), nullptr);
  EXPECT_EQ(root.Find("outer/missing"), nullptr);
  EXPECT_EQ(root.Find("outer/list/0/deeper"), nullptr);
  EXPECT_EQ(root.Find("outer")->GetCount(), 1);
  EXPECT_EQ(root.Find("outer/list")->GetCount(), 2);
}

TEST(XpIniArray, ReadsAnIndexThatIsNoNumberAsZero) {
  XpIniDict root;
  ASSERT_EQ(root.Add("list", XpIniType::Array), XpStatus::Ok);
  ASSERT_EQ(root.Add("list/-1", XpIniType::String, 0, "zero"), XpStatus::Ok);
  const XpIniElement* found = root.Find("list/abc");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, root.Find("list/0"));
}

TEST(XpIniArray, AppendsAtTheCountAndRefusesAnIndexBeyondIt) {
  XpIniArray three;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(three.Add("-1", XpIniType::Int, i), XpStatus::Ok);
  }
  EXPECT_EQ(three.Add("3", XpIniType::Int, 3), XpStatus::Ok);
  EXPECT_EQ(three.GetCount(), 4);
  std::int64_t last = 0;
  EXPECT_EQ(three.GetAt(3)->GetInt64(last), XpStatus::Ok);
  EXPECT_EQ(last, 3);

  XpIniArray two;
  ASSERT_EQ(two.Add("-1", XpIniType::Int, 0), XpStatus::Ok);
  ASSERT_EQ(two.Add("-1", XpIniType::Int, 1), XpStatus::Ok);
  EXPECT_EQ(two.Add("3", XpIniType::Int, 3), XpStatus::NotFound);
  EXPECT_EQ(two.Add("-2", XpIniType::Int, 3), XpStatus::NotFound);
  EXPECT_EQ(two.GetCount(), 2);
}

TEST(XpIniArray, InsertsBeforeTheGivenIndex) {
  XpIniArray array;
  ASSERT_EQ(array.InsertAt(-1, XpIniType::String, 0, "b"), XpStatus::Ok);
  ASSERT_EQ(array.InsertAt(0, XpIniType::String, 0, "a"), XpStatus::Ok);
  ASSERT_EQ(array.InsertAt(2, XpIniType::String, 0, "c"), XpStatus::Ok);
  EXPECT_EQ(array.InsertAt(4, XpIniType::String, 0, "x"), XpStatus::NotFound);
  std::string text;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(array.GetAt(i)->GetString(text), XpStatus::Ok);
    EXPECT_EQ(text, std::string(1, static_cast<char>('a' + i)));
  }
}

TEST(XpIniArray, RemovesByIndexAndByPath) {
  XpIniDict root;
  ASSERT_EQ(root.Add("list", XpIniType::Array), XpStatus::Ok);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(root.Add("list/-1", XpIniType::Int, i), XpStatus::Ok);
  }
  EXPECT_EQ(root.Remove("list/1"), XpStatus::Ok);
  EXPECT_EQ(root.Find("list")->RemoveAt(5), XpStatus::NotFound);
  EXPECT_EQ(root.Find("list")->RemoveAt(-1), XpStatus::NotFound);
  std::int64_t value = 0;
  ASSERT_EQ(root.Find("list/1")->GetInt64(value), XpStatus::Ok);
  EXPECT_EQ(value, 2);
  EXPECT_EQ(root.Remove("list"), XpStatus::Ok);
  EXPECT_EQ(root.GetCount(), 0);
  EXPECT_EQ(root.Remove("list"), XpStatus::NotFound);
}

TEST(XpIniDict, AnswersTheDesignedCodesForBadAdds) {
  XpIniDict root;
  ASSERT_EQ(root.Add("key", XpIniType::String, 0, "one"), XpStatus::Ok);
  EXPECT_EQ(root.Add("key", XpIniType::String, 0, "two"), XpStatus::DuplicateKey);
  EXPECT_EQ(root.Add("other", static_cast<XpIniType>(8)), XpStatus::UnknownType);
  EXPECT_EQ(root.Add("other", static_cast<XpIniType>(-1)), XpStatus::UnknownType);
  EXPECT_EQ(root.Add("missing/child", XpIniType::Int), XpStatus::NotFound);
  EXPECT_EQ(root.Add("key/child", XpIniType::Int), XpStatus::NotSupported);
  // An empty key would make a document that can't be loaded again.
  EXPECT_EQ(root.Add("", XpIniType::Int), XpStatus::NotFound);
  std::string text;
  ASSERT_EQ(root.Find("key")->GetString(text), XpStatus::Ok);
  EXPECT_EQ(text, "one");
  EXPECT_EQ(root.GetCount(), 1);
}

TEST(XpIniDict, KeepsKeysInByteOrder) {
  XpIniDict root;
  for (const char* key : {"b", "B", "a"}) {
    ASSERT_EQ(root.Add(key, XpIniType::Bool, 1), XpStatus::Ok);
  }
  EXPECT_EQ(KeysOf(root), (std::vector<std::string>{"B", "a", "b"}));
}

TEST(XpIniDict, GivesNewNodesTheirInitialValues) {
  XpIniDict root;
  XpIniElement* added = nullptr;
  ASSERT_EQ(root.Add("flag", XpIniType::Bool, 5, {}, &added), XpStatus::Ok);
  ASSERT_EQ(added, root.Find("flag"));
  ASSERT_EQ(root.Add("real", XpIniType::Real, 7), XpStatus::Ok);
  ASSERT_EQ(root.Add("text", XpIniType::String), XpStatus::Ok);
  ASSERT_EQ(root.Add("bytes", XpIniType::MemChunk), XpStatus::Ok);
  ASSERT_EQ(root.Add("when", XpIniType::Date), XpStatus::Ok);
  bool flag = false;
  EXPECT_EQ(root.Find("flag")->GetBool(flag), XpStatus::Ok);
  EXPECT_TRUE(flag);
  double real = 1;
  EXPECT_EQ(root.Find("real")->GetReal(real), XpStatus::Ok);
  EXPECT_EQ(real, 0.0);
  std::string text = "x";
  EXPECT_EQ(root.Find("text")->GetString(text), XpStatus::Ok);
  EXPECT_EQ(text, "");
  XpMemoryFile bytes;
  EXPECT_EQ(root.Find("bytes")->GetData(bytes), XpStatus::Ok);
  EXPECT_EQ(bytes.GetLength(), 0);
  XpDateTime when(2000, 1, 1);
  EXPECT_EQ(root.Find("when")->GetDate(when), XpStatus::Ok);
  EXPECT_FALSE(when.IsValid());
}

struct Int32Case {
  std::int64_t stored;
  std::int32_t expected;
  XpStatus status;
};

class XpIniIntGetInt32 : public ::testing::TestWithParam<Int32Case> {};

TEST_P(XpIniIntGetInt32, StoresTheLowBitsAndFlagsValuesOutsideTheRange) {
  const XpIniInt node(GetParam().stored);
  std::int32_t out = 99;
  EXPECT_EQ(node.GetInt32(out), GetParam().status);
  EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, XpIniIntGetInt32,
                         ::testing::Values(Int32Case{4294967296LL, 0, XpStatus::IntegerRange},
                                           Int32Case{-2147483648LL, INT32_MIN, XpStatus::Ok},
                                           Int32Case{2147483647LL, INT32_MAX, XpStatus::Ok},
                                           Int32Case{2147483648LL, INT32_MIN, XpStatus::IntegerRange},
                                           Int32Case{-1, -1, XpStatus::Ok},
                                           Int32Case{0x1234567800000005LL, 5, XpStatus::IntegerRange}));

TEST(XpIniElement, RejectsOperationsItsTypeDoesNotSupport) {
  XpIniBool boolean;
  XpIniInt integer;
  XpIniReal real;
  XpIniString string;
  XpIniMemChunk chunk;
  XpIniDate date;
  XpIniArray array;
  XpIniDict dict;
  const std::vector<XpIniElement*> nodes{&boolean, &integer, &real, &string, &chunk, &date, &array, &dict};
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    XpIniElement& node = *nodes[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(static_cast<std::size_t>(node.GetType()), i);
    bool flag = false;
    std::int64_t number = 0;
    std::int32_t small = 0;
    double value = 0;
    std::string text;
    XpDateTime when;
    XpMemoryFile bytes;
    EXPECT_EQ(node.GetBool(flag) == XpStatus::Ok, node.GetType() == XpIniType::Bool);
    EXPECT_EQ(node.SetBool(true) == XpStatus::Ok, node.GetType() == XpIniType::Bool);
    EXPECT_EQ(node.GetInt64(number) == XpStatus::Ok, node.GetType() == XpIniType::Int);
    EXPECT_EQ(node.GetInt32(small) == XpStatus::Ok, node.GetType() == XpIniType::Int);
    EXPECT_EQ(node.SetInt64(1) == XpStatus::Ok, node.GetType() == XpIniType::Int);
    EXPECT_EQ(node.GetReal(value) == XpStatus::Ok, node.GetType() == XpIniType::Real);
    EXPECT_EQ(node.SetReal(1) == XpStatus::Ok, node.GetType() == XpIniType::Real);
    EXPECT_EQ(node.GetString(text) == XpStatus::Ok, node.GetType() == XpIniType::String);
    EXPECT_EQ(node.SetString("x") == XpStatus::Ok, node.GetType() == XpIniType::String);
    EXPECT_EQ(node.GetData(bytes) == XpStatus::Ok, node.GetType() == XpIniType::MemChunk);
    EXPECT_EQ(node.SetData(bytes) == XpStatus::Ok, node.GetType() == XpIniType::MemChunk);
    EXPECT_EQ(node.GetDate(when) == XpStatus::Ok, node.GetType() == XpIniType::Date);
    EXPECT_EQ(node.SetDate(when) == XpStatus::Ok, node.GetType() == XpIniType::Date);
    EXPECT_EQ(node.InsertAt(0, XpIniType::Int) == XpStatus::Ok, node.GetType() == XpIniType::Array);
    EXPECT_EQ(node.RemoveAt(0) == XpStatus::Ok, node.GetType() == XpIniType::Array);
    const bool container = node.GetType() == XpIniType::Array || node.GetType() == XpIniType::Dict;
    EXPECT_EQ(node.Add("0", XpIniType::Int) == XpStatus::Ok, container);
    EXPECT_EQ(node.Remove("0") == XpStatus::Ok, container);
    EXPECT_EQ(node.GetCount(), 0);
    if (node.GetType() != XpIniType::Dict) {
      EXPECT_EQ(node.LoadFile("any.plist"), XpStatus::NotSupported);
      EXPECT_EQ(node.SaveFile("any.plist"), XpStatus::NotSupported);
    }
    if (!container) {
      EXPECT_EQ(node.Find("0"), nullptr);
      EXPECT_EQ(node.Remove("0"), XpStatus::NotSupported);
    }
  }
}

TEST(XpIniMemChunk, CopiesTheWholeStreamInAndOut) {
  const std::vector<std::uint8_t> source{0x00, 0x0A, 0xFF, 0x7F};
  XpMemoryFile in{std::vector<std::uint8_t>(source)};
  ASSERT_EQ(in.Seek(3, XpAbstractFile::kBegin), XpStatus::Ok);  // SetData reads from the start anyway
  XpIniMemChunk chunk;
  ASSERT_EQ(chunk.SetData(in), XpStatus::Ok);
  XpMemoryFile out;
  ASSERT_EQ(chunk.GetData(out), XpStatus::Ok);
  const auto bytes = out.Bytes();
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), source);
}

TEST(XpIniDate, ReadsColonAndHyphenFormsAlike) {
  XpIniDate colons;
  XpIniDate hyphens;
  ASSERT_EQ(colons.ReadText("2007:03:07T09:05:03Z"), XpStatus::Ok);
  ASSERT_EQ(hyphens.ReadText("2007-03-07T09:05:03Z"), XpStatus::Ok);
  XpDateTime a;
  XpDateTime b;
  ASSERT_EQ(colons.GetDate(a), XpStatus::Ok);
  ASSERT_EQ(hyphens.GetDate(b), XpStatus::Ok);
  ASSERT_TRUE(a.IsValid());
  EXPECT_EQ(a, b);
  const auto fields = a.GetFields();
  ASSERT_TRUE(fields.has_value());
  EXPECT_EQ(fields->year, 2007);
  EXPECT_EQ(fields->month, 3);
  EXPECT_EQ(fields->day, 7);
  EXPECT_EQ(fields->hour, 9);
  EXPECT_EQ(fields->minute, 5);
  EXPECT_EQ(fields->second, 3);
  EXPECT_EQ(colons.WriteText(), "2007:03:07T09:05:03Z");
}

TEST(XpIniDate, RefusesEmptyTextAndMarksImpossibleDatesInvalid) {
  XpIniDate date;
  EXPECT_EQ(date.ReadText(""), XpStatus::XmlFailed);
  ASSERT_EQ(date.ReadText("2007:02:30T00:00:00Z"), XpStatus::Ok);
  XpDateTime value;
  ASSERT_EQ(date.GetDate(value), XpStatus::Ok);
  EXPECT_FALSE(value.IsValid());
  EXPECT_EQ(date.WriteText(), "0000:00:00T00:00:00Z");
  ASSERT_EQ(date.ReadText("2007"), XpStatus::Ok);  // missing fields read as 0: no valid date
  ASSERT_EQ(date.GetDate(value), XpStatus::Ok);
  EXPECT_FALSE(value.IsValid());
}

}  // namespace
