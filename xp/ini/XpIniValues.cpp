// The scalar node types: boolean, integer, real, string and byte block.
#include <limits>
#include <new>
#include <vector>

#include "xp/image/XpAbstractFile.h"
#include "xp/ini/XpIniBool.h"
#include "xp/ini/XpIniInt.h"
#include "xp/ini/XpIniMemChunk.h"
#include "xp/ini/XpIniReal.h"
#include "xp/ini/XpIniString.h"

XpStatus XpIniBool::GetBool(bool& out) const {
  out = m_value;
  return XpStatus::Ok;
}

XpStatus XpIniBool::SetBool(bool value) {
  m_value = value;
  return XpStatus::Ok;
}

XpStatus XpIniInt::GetInt64(std::int64_t& out) const {
  out = m_value;
  return XpStatus::Ok;
}

XpStatus XpIniInt::GetInt32(std::int32_t& out) const {
  // The low 32 bits, as two's complement, whatever the range answer.
  out = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(m_value) & 0xFFFFFFFFU));
  if (m_value < std::numeric_limits<std::int32_t>::min() || m_value > std::numeric_limits<std::int32_t>::max()) {
    return XpStatus::IntegerRange;
  }
  return XpStatus::Ok;
}

XpStatus XpIniInt::SetInt64(std::int64_t value) {
  m_value = value;
  return XpStatus::Ok;
}

XpStatus XpIniReal::GetReal(double& out) const {
  out = m_value;
  return XpStatus::Ok;
}

XpStatus XpIniReal::SetReal(double value) {
  m_value = value;
  return XpStatus::Ok;
}

XpStatus XpIniString::GetString(std::string& out) const {
  try {
    out = m_text;
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  return XpStatus::Ok;
}

XpStatus XpIniString::SetString(std::string_view text) {
  try {
    m_text.assign(text);
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  return XpStatus::Ok;
}

XpStatus XpIniMemChunk::GetData(XpAbstractFile& out) const {
  const auto bytes = GetBytes();
  if (bytes.empty()) {
    return XpStatus::Ok;
  }
  return out.WriteAll(bytes.data(), bytes.size());
}

XpStatus XpIniMemChunk::SetData(XpAbstractFile& in) {
  const std::int64_t length = in.GetLength();
  if (length < 0) {
    return XpStatus::FileInvalid;
  }
  if (static_cast<std::uint64_t>(length) > std::numeric_limits<std::size_t>::max() / 2) {
    return XpStatus::OutOfMemory;
  }
  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  if (auto st = in.Seek(0, XpAbstractFile::kBegin); st != XpStatus::Ok) {
    return st;
  }
  if (!bytes.empty()) {
    if (auto st = in.ReadExact(bytes.data(), bytes.size()); st != XpStatus::Ok) {
      return st;
    }
  }
  m_bytes.swap(bytes);
  return XpStatus::Ok;
}

XpStatus XpIniMemChunk::SetBytes(std::span<const std::uint8_t> bytes) {
  try {
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    m_bytes.swap(copy);
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  }
  return XpStatus::Ok;
}
