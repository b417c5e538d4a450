#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "xp/image/XpFile.h"
#include "xp/image/XpMemoryFile.h"

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tv-stream-XXXXXX").string();
    m_path = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { std::filesystem::remove_all(m_path); }
  [[nodiscard]] std::string File(const char* name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

TEST(XpMemoryFile, ReadsShortAtTheEndThenReportsEndOfFile) {
  const std::array<std::uint8_t, 10> bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  ASSERT_EQ(file.Seek(4, XpAbstractFile::kBegin), XpStatus::Ok);
  std::array<std::uint8_t, 16> out{};
  std::uint64_t got = 99;
  EXPECT_EQ(file.Read(out.data(), out.size(), &got), XpStatus::Ok);
  EXPECT_EQ(got, 6U);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[5], 9);
  EXPECT_EQ(file.Read(out.data(), out.size(), &got), XpStatus::EndOfFile);
  EXPECT_EQ(got, 0U);
}

TEST(XpMemoryFile, GrowsInSteps) {
  XpMemoryFile file;
  const std::uint8_t byte = 7;
  ASSERT_EQ(file.Write(&byte, 1, nullptr), XpStatus::Ok);
  EXPECT_EQ(file.Capacity(), 65536U);
  ASSERT_EQ(file.Seek(65536, XpAbstractFile::kBegin), XpStatus::Ok);
  ASSERT_EQ(file.Write(&byte, 1, nullptr), XpStatus::Ok);
  EXPECT_EQ(file.Capacity(), 131072U);
  EXPECT_EQ(file.GetLength(), 65537);
  EXPECT_EQ(file.Data()[65536], 7);
  EXPECT_EQ(file.Data()[1], 0);
}

TEST(XpMemoryFile, RefusesBadArgumentsAndWritesOverOutsideBytes) {
  const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  std::uint8_t b = 0;
  EXPECT_EQ(file.Read(nullptr, 1, nullptr), XpStatus::InvalidArgument);
  EXPECT_EQ(file.Read(&b, 0, nullptr), XpStatus::InvalidArgument);
  EXPECT_EQ(file.Write(&b, 1, nullptr), XpStatus::AccessDenied);
  EXPECT_EQ(file.Seek(-1, XpAbstractFile::kBegin), XpStatus::InvalidArgument);
  EXPECT_EQ(file.Seek(100, XpAbstractFile::kBegin), XpStatus::Ok);
  EXPECT_EQ(file.Read(&b, 1, nullptr), XpStatus::EndOfFile);
}

TEST(XpMemoryFile, SetLengthMovesThePositionBack) {
  XpMemoryFile empty;
  EXPECT_EQ(empty.SetLength(10), XpStatus::NotOpen);
  XpMemoryFile file(std::vector<std::uint8_t>(100, 1));
  ASSERT_EQ(file.Seek(80, XpAbstractFile::kBegin), XpStatus::Ok);
  ASSERT_EQ(file.SetLength(50), XpStatus::Ok);
  EXPECT_EQ(file.GetPosition(), 50);
  EXPECT_EQ(file.GetLength(), 50);
  EXPECT_EQ(file.TakeBytes().size(), 50U);
  EXPECT_EQ(file.GetLength(), 0);
}

TEST(XpFile, OpensReadsWritesAndReportsStatuses) {
  TempDir dir;
  XpFile missing(dir.File("missing.bin"));
  EXPECT_EQ(missing.Open(XpAbstractFile::kRead), XpStatus::FileNotFound);
  XpFile noParent(dir.File("no/such/file.bin"));
  EXPECT_EQ(noParent.Open(XpAbstractFile::kRead), XpStatus::PathNotFound);
  EXPECT_EQ(missing.Open(0), XpStatus::InvalidArgument);

  XpFile out(dir.File("a.bin"));
  ASSERT_EQ(out.Open(XpAbstractFile::kWrite), XpStatus::Ok);
  EXPECT_EQ(out.Open(XpAbstractFile::kWrite), XpStatus::AlreadyOpen);
  const std::string text = "hello world";
  ASSERT_EQ(out.WriteAll(text.data(), text.size()), XpStatus::Ok);
  ASSERT_EQ(out.SyncToDisk(), XpStatus::Ok);
  ASSERT_EQ(out.Close(), XpStatus::Ok);

  XpFile in(dir.File("a.bin"));
  EXPECT_EQ(in.GetLength(), 11);
  std::array<char, 32> buf{};
  std::uint64_t got = 0;
  EXPECT_EQ(in.Read(buf.data(), 1, &got), XpStatus::NotOpen);
  ASSERT_EQ(in.Open(XpAbstractFile::kRead | XpAbstractFile::kSequential), XpStatus::Ok);
  ASSERT_EQ(in.Seek(6, XpAbstractFile::kBegin), XpStatus::Ok);
  EXPECT_EQ(in.Read(buf.data(), buf.size(), &got), XpStatus::EndOfFile);
  EXPECT_EQ(got, 5U);
  EXPECT_EQ(std::string(buf.data(), got), "world");
  EXPECT_EQ(in.Write(buf.data(), 1, nullptr), XpStatus::AccessDenied);
}

TEST(XpFile, ReadWriteKeepsContentsAndSetLengthTruncates) {
  TempDir dir;
  {
    XpFile f(dir.File("b.bin"));
    ASSERT_EQ(f.Open(XpAbstractFile::kWrite), XpStatus::Ok);
    ASSERT_EQ(f.WriteAll("0123456789", 10), XpStatus::Ok);
  }
  XpFile f(dir.File("b.bin"));
  ASSERT_EQ(f.Open(XpAbstractFile::kReadWrite), XpStatus::Ok);
  EXPECT_EQ(f.GetLength(), 10);
  ASSERT_EQ(f.Seek(0, XpAbstractFile::kEnd), XpStatus::Ok);
  ASSERT_EQ(f.SetLength(4), XpStatus::Ok);
  EXPECT_EQ(f.GetPosition(), 4);
  ASSERT_EQ(f.Seek(1, XpAbstractFile::kBegin), XpStatus::Ok);
  ASSERT_EQ(f.SetLength(8), XpStatus::Ok);
  EXPECT_EQ(f.GetPosition(), 1);
  EXPECT_EQ(f.GetLength(), 8);
}

TEST(XpFile, RefusesADirectoryAndAnEmptyPath) {
  TempDir dir;
  XpFile empty;
  EXPECT_EQ(empty.Open(XpAbstractFile::kRead), XpStatus::InvalidArgument);
  XpFile folder("/");
  EXPECT_NE(folder.Open(XpAbstractFile::kRead), XpStatus::Ok);
  EXPECT_EQ(folder.GetLength(), -1);
}

}  // namespace
