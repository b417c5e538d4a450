#include "xp/image/XpAbstractFile.h"

XpStatus XpAbstractFile::ReadExact(void* buffer, std::uint64_t count) {
  std::uint64_t got = 0;
  if (auto st = Read(buffer, count, &got); st != XpStatus::Ok) {
    return st;
  }
  return got == count ? XpStatus::Ok : XpStatus::EndOfFile;
}

XpStatus XpAbstractFile::WriteAll(const void* buffer, std::uint64_t count) {
  std::uint64_t written = 0;
  if (auto st = Write(buffer, count, &written); st != XpStatus::Ok) {
    return st;
  }
  return written == count ? XpStatus::Ok : XpStatus::DiskFull;
}
