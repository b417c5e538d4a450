#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "xp/image/XpFile.h"
#include "xp/image/XpMemoryFile.h"
#include "xp/tests/TestSupport.h"

namespace {

using testsupport::TempDir;

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

TEST(XpMemoryFile, AGapLeftByAWritePastTheEndReadsAsZerosAfterShortening) {
  XpMemoryFile file(std::vector<std::uint8_t>(100, 0xAA));
  ASSERT_EQ(file.SetLength(10), XpStatus::Ok);
  ASSERT_EQ(file.Seek(50, XpAbstractFile::kBegin), XpStatus::Ok);
  const std::uint8_t byte = 0x55;
  ASSERT_EQ(file.Write(&byte, 1, nullptr), XpStatus::Ok);
  ASSERT_EQ(file.GetLength(), 51);
  const auto bytes = file.Bytes();
  EXPECT_EQ(bytes[9], 0xAA);
  for (std::size_t i = 10; i < 50; ++i) {
    ASSERT_EQ(bytes[i], 0) << i;
  }
  EXPECT_EQ(bytes[50], 0x55);
}

TEST(XpMemoryFile, SetLengthExtendsWithZerosByTheCapacityRule) {
  XpMemoryFile file(std::vector<std::uint8_t>(100, 0xAA));
  ASSERT_EQ(file.SetLength(10), XpStatus::Ok);
  EXPECT_EQ(file.Capacity(), 65536U);
  ASSERT_EQ(file.SetLength(70000), XpStatus::Ok);
  EXPECT_EQ(file.Capacity(), 131072U);
  EXPECT_EQ(file.GetLength(), 70000);
  EXPECT_EQ(file.Bytes()[9], 0xAA);
  EXPECT_EQ(file.Bytes()[10], 0);
  EXPECT_EQ(file.Bytes()[69999], 0);
}

TEST(XpMemoryFile, AbsurdSizesFailWithoutAllocating) {
  XpMemoryFile file(std::vector<std::uint8_t>(10, 1));
  EXPECT_EQ(file.SetLength(std::numeric_limits<std::uint64_t>::max() - 10), XpStatus::OutOfMemory);
  EXPECT_EQ(file.SetLength(XpMemoryFile::kMaxLength + 1), XpStatus::OutOfMemory);
  EXPECT_EQ(file.GetLength(), 10);
  ASSERT_EQ(file.Seek(std::numeric_limits<std::int64_t>::max(), XpAbstractFile::kBegin), XpStatus::Ok);
  const std::uint8_t byte = 1;
  EXPECT_EQ(file.Write(&byte, 1, nullptr), XpStatus::DiskFull);
  ASSERT_EQ(file.Seek(0, XpAbstractFile::kBegin), XpStatus::Ok);
  EXPECT_EQ(file.Write(&byte, std::numeric_limits<std::uint64_t>::max(), nullptr), XpStatus::DiskFull);
  EXPECT_EQ(file.GetLength(), 10);
  EXPECT_EQ(file.Seek(std::numeric_limits<std::int64_t>::max(), XpAbstractFile::kCurrent), XpStatus::Ok);
  EXPECT_EQ(file.Seek(1, XpAbstractFile::kCurrent), XpStatus::InvalidArgument);
}

TEST(XpMemoryFile, OutsideBytesCanBeShortenedButNotExtended) {
  const std::array<std::uint8_t, 8> bytes{1, 2, 3, 4, 5, 6, 7, 8};
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  EXPECT_EQ(file.SetLength(9), XpStatus::AccessDenied);
  ASSERT_EQ(file.Seek(0, XpAbstractFile::kEnd), XpStatus::Ok);
  ASSERT_EQ(file.SetLength(5), XpStatus::Ok);
  EXPECT_EQ(file.GetPosition(), 5);
  EXPECT_EQ(file.Data(), bytes.data());
  EXPECT_EQ(file.TakeBytes(), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
}

TEST(XpMemoryFile, SeeksFromEachOrigin) {
  XpMemoryFile file(std::vector<std::uint8_t>(20, 0));
  ASSERT_EQ(file.Seek(5, XpAbstractFile::kBegin), XpStatus::Ok);
  ASSERT_EQ(file.Seek(3, XpAbstractFile::kCurrent), XpStatus::Ok);
  EXPECT_EQ(file.GetPosition(), 8);
  ASSERT_EQ(file.Seek(-4, XpAbstractFile::kEnd), XpStatus::Ok);
  EXPECT_EQ(file.GetPosition(), 16);
  ASSERT_EQ(file.Seek(10, XpAbstractFile::kEnd), XpStatus::Ok);
  EXPECT_EQ(file.GetPosition(), 30);
  EXPECT_EQ(file.Seek(0, 3), XpStatus::InvalidArgument);
  EXPECT_EQ(file.GetPosition(), 30);
}

TEST(XpMemoryFile, DisplayNameShowsTheBufferAddress) {
  const std::array<std::uint8_t, 4> bytes{};
  XpMemoryFile file{std::span<const std::uint8_t>(bytes)};
  const std::string name = file.GetDisplayName();
  ASSERT_EQ(name.rfind("Memory File(", 0), 0U) << name;
  EXPECT_EQ(name.size(), std::string("Memory File()").size() + 32) << name;
  char expected[64];
  std::snprintf(expected, sizeof expected, "%p", static_cast<const void*>(bytes.data()));
  EXPECT_NE(name.find(expected), std::string::npos) << name;
}

TEST(XpFile, RefusesBadArgumentsAndAClosedFile) {
  TempDir dir;
  XpFile file(dir.File("c.bin"));
  std::array<char, 4> buf{};
  std::uint64_t got = 7;
  EXPECT_EQ(file.Read(buf.data(), 1, &got), XpStatus::NotOpen);
  EXPECT_EQ(got, 0U);
  EXPECT_EQ(file.Write(buf.data(), 1, nullptr), XpStatus::NotOpen);
  EXPECT_EQ(file.Seek(0, XpAbstractFile::kBegin), XpStatus::NotOpen);
  EXPECT_EQ(file.SetLength(0), XpStatus::NotOpen);
  EXPECT_EQ(file.GetPosition(), -1);
  EXPECT_EQ(file.GetLength(), -1);
  ASSERT_EQ(file.Open(XpAbstractFile::kReadWrite), XpStatus::Ok);
  EXPECT_EQ(file.Read(nullptr, 1, &got), XpStatus::InvalidArgument);
  EXPECT_EQ(file.Read(buf.data(), 0, &got), XpStatus::InvalidArgument);
  EXPECT_EQ(file.Write(nullptr, 1, nullptr), XpStatus::InvalidArgument);
  EXPECT_EQ(file.Write(buf.data(), 0, nullptr), XpStatus::InvalidArgument);
  EXPECT_EQ(file.Seek(0, 7), XpStatus::InvalidArgument);
  EXPECT_EQ(file.Seek(-1, XpAbstractFile::kBegin), XpStatus::InvalidArgument);
  EXPECT_EQ(file.Open(dir.File("other.bin"), XpAbstractFile::kRead), XpStatus::AlreadyOpen);
  EXPECT_EQ(file.GetPath(), dir.File("c.bin"));
}

TEST(XpFile, WriteOnlyTruncatesAndReadWriteKeepsAnExistingFile) {
  TempDir dir;
  { std::ofstream(dir.File("d.bin")) << "0123456789"; }
  {
    XpFile f(dir.File("d.bin"));
    ASSERT_EQ(f.Open(XpAbstractFile::kReadWrite), XpStatus::Ok);
    EXPECT_EQ(f.GetLength(), 10);
    ASSERT_EQ(f.WriteAll("ab", 2), XpStatus::Ok);
  }
  {
    XpFile f(dir.File("d.bin"));
    ASSERT_EQ(f.Open(XpAbstractFile::kRead), XpStatus::Ok);
    std::array<char, 10> buf{};
    ASSERT_EQ(f.ReadExact(buf.data(), buf.size()), XpStatus::Ok);
    EXPECT_EQ(std::string(buf.data(), buf.size()), "ab23456789");
  }
  XpFile f(dir.File("d.bin"));
  ASSERT_EQ(f.Open(XpAbstractFile::kWrite), XpStatus::Ok);
  EXPECT_EQ(f.GetLength(), 0);
}

TEST(XpFile, SetLengthOnAFileOpenForReadingIsAccessDenied) {
  TempDir dir;
  { std::ofstream(dir.File("e.bin")) << "0123456789"; }
  XpFile f(dir.File("e.bin"));
  ASSERT_EQ(f.Open(XpAbstractFile::kRead), XpStatus::Ok);
  EXPECT_EQ(f.SetLength(2), XpStatus::AccessDenied);
  EXPECT_EQ(f.GetLength(), 10);
}

TEST(XpFile, RefusesANamedPipeWithoutWaitingForAWriter) {
  TempDir dir;
  const std::string pipe = dir.File("pipe.jpg");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  XpFile reader(pipe);
  EXPECT_EQ(reader.Open(XpAbstractFile::kRead), XpStatus::OpenFailed);
  XpFile both(pipe);
  EXPECT_EQ(both.Open(XpAbstractFile::kReadWrite), XpStatus::OpenForWriteFailed);
  XpFile writer(pipe);
  EXPECT_NE(writer.Open(XpAbstractFile::kWrite), XpStatus::Ok);
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_FALSE(writer.IsOpen());
}

TEST(XpFile, AFolderOpenedAsAFileIsAccessDenied) {
  TempDir dir;
  XpFile forReading(dir.File(""));
  EXPECT_EQ(forReading.Open(XpAbstractFile::kRead), XpStatus::AccessDenied);
  XpFile forWriting(dir.File(""));
  EXPECT_EQ(forWriting.Open(XpAbstractFile::kWrite), XpStatus::AccessDenied);
}

TEST(XpFile, AReadOnlyFileCannotBeOpenedForWriting) {
  // As root, permission bits would not stop anything: run as nobody.
  const int failed = testsupport::RunUnprivileged([] {
    TempDir dir;
    { std::ofstream(dir.File("ro.bin")) << "x"; }
    if (::chmod(dir.File("ro.bin").c_str(), 0444) != 0) {
      return 1;
    }
    XpFile f(dir.File("ro.bin"));
    if (f.Open(XpAbstractFile::kWrite) != XpStatus::AccessDenied) {
      return 2;
    }
    return f.Open(XpAbstractFile::kRead) == XpStatus::Ok ? 0 : 3;
  });
  EXPECT_EQ(failed, 0);
}

}  // namespace
