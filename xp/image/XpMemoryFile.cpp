#include "xp/image/XpMemoryFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

XpMemoryFile::XpMemoryFile(std::span<const std::uint8_t> bytes)
    : m_outside(bytes), m_isOutside(true), m_length(bytes.size()) {}

XpMemoryFile::XpMemoryFile(std::vector<std::uint8_t> bytes) : m_owned(std::move(bytes)), m_length(m_owned.size()) {}

std::string XpMemoryFile::GetDisplayName() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Memory File(%32p)", static_cast<const void*>(Data()));
  return buf;
}

const std::uint8_t* XpMemoryFile::Data() const { return m_isOutside ? m_outside.data() : m_owned.data(); }

std::uint64_t XpMemoryFile::Capacity() const { return m_isOutside ? m_outside.size() : m_owned.size(); }

XpStatus XpMemoryFile::Read(void* buffer, std::uint64_t count, std::uint64_t* got) {
  if (got != nullptr) {
    *got = 0;
  }
  if (buffer == nullptr || count == 0) {
    return XpStatus::InvalidArgument;
  }
  if (m_position >= m_length) {
    return XpStatus::EndOfFile;
  }
  const std::uint64_t n = std::min(count, m_length - m_position);
  std::memcpy(buffer, Data() + m_position, static_cast<size_t>(n));
  m_position += n;
  if (got != nullptr) {
    *got = n;
  }
  return XpStatus::Ok;
}

namespace {

// The capacity rule: the needed size rounded down to a multiple of the step,
// plus one step. False when that passes the largest buffer a memory file may
// hold, so that no allocation is even tried for an absurd size.
bool CapacityFor(std::uint64_t needed, std::uint64_t* capacity) {
  if (needed > XpMemoryFile::kMaxLength) {
    return false;
  }
  *capacity = (needed / XpMemoryFile::kGrowStep) * XpMemoryFile::kGrowStep + XpMemoryFile::kGrowStep;
  return true;
}

}  // namespace

XpStatus XpMemoryFile::Reserve(std::uint64_t needed) {
  if (needed <= m_owned.size()) {
    return XpStatus::Ok;
  }
  std::uint64_t capacity = 0;
  if (!CapacityFor(needed, &capacity)) {
    return XpStatus::DiskFull;
  }
  try {
    m_owned.resize(static_cast<size_t>(capacity));
  } catch (const std::bad_alloc&) {
    return XpStatus::DiskFull;
  } catch (const std::length_error&) {
    return XpStatus::DiskFull;
  }
  return XpStatus::Ok;
}

XpStatus XpMemoryFile::Write(const void* buffer, std::uint64_t count, std::uint64_t* written) {
  if (written != nullptr) {
    *written = 0;
  }
  if (buffer == nullptr || count == 0) {
    return XpStatus::InvalidArgument;
  }
  if (m_isOutside) {
    return XpStatus::AccessDenied;
  }
  std::uint64_t end = 0;
  if (__builtin_add_overflow(m_position, count, &end)) {
    return XpStatus::DiskFull;
  }
  if (auto st = Reserve(end); st != XpStatus::Ok) {
    return st;
  }
  // A write past the end leaves a gap that reads as zeros, also where a
  // shortened file still holds its old bytes.
  if (m_position > m_length) {
    std::memset(m_owned.data() + m_length, 0, static_cast<size_t>(m_position - m_length));
  }
  std::memcpy(m_owned.data() + m_position, buffer, static_cast<size_t>(count));
  m_position = end;
  m_length = std::max(m_length, end);
  if (written != nullptr) {
    *written = count;
  }
  return XpStatus::Ok;
}

XpStatus XpMemoryFile::Seek(std::int64_t offset, int origin) {
  std::int64_t base = 0;
  if (origin == kCurrent) {
    base = static_cast<std::int64_t>(m_position);
  } else if (origin == kEnd) {
    base = static_cast<std::int64_t>(m_length);
  } else if (origin != kBegin) {
    return XpStatus::InvalidArgument;
  }
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) {
    return XpStatus::InvalidArgument;
  }
  m_position = static_cast<std::uint64_t>(target);
  return XpStatus::Ok;
}

XpStatus XpMemoryFile::SetLength(std::uint64_t length) {
  if (m_isOutside) {
    if (length > m_outside.size()) {
      return XpStatus::AccessDenied;
    }
    m_length = length;
  } else {
    if (m_owned.empty()) {
      return XpStatus::NotOpen;  // nothing was ever written: there is no buffer to size
    }
    std::uint64_t capacity = 0;
    if (!CapacityFor(length, &capacity)) {
      return XpStatus::OutOfMemory;
    }
    try {
      m_owned.resize(static_cast<size_t>(capacity));
    } catch (const std::bad_alloc&) {
      return XpStatus::OutOfMemory;
    } catch (const std::length_error&) {
      return XpStatus::OutOfMemory;
    }
    if (length > m_length) {
      std::memset(m_owned.data() + m_length, 0, static_cast<size_t>(length - m_length));
    }
    m_length = length;
  }
  if (m_position > m_length) {
    m_position = m_length;
  }
  return XpStatus::Ok;
}

std::vector<std::uint8_t> XpMemoryFile::TakeBytes() {
  std::vector<std::uint8_t> out;
  if (m_isOutside) {
    out.assign(m_outside.begin(), m_outside.begin() + static_cast<std::ptrdiff_t>(m_length));
  } else {
    out = std::move(m_owned);
    out.resize(static_cast<size_t>(m_length));
  }
  m_owned.clear();
  m_outside = {};
  m_isOutside = false;
  m_length = 0;
  m_position = 0;
  return out;
}
