#include "xp/base/XpMd5.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr std::array<std::uint32_t, 4> kInitial = {0x67452301U, 0xefcdab89U, 0x98badcfeU, 0x10325476U};
constexpr std::array<int, 16> kShifts = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

// The 64 additive constants: the integer part of 2^32 times |sin(i + 1)|.
const std::array<std::uint32_t, 64>& Constants() {
  static const std::array<std::uint32_t, 64> table = [] {
    std::array<std::uint32_t, 64> t{};
    for (std::size_t i = 0; i < t.size(); ++i) {
      t[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(static_cast<double>(i + 1))) * 4294967296.0));
    }
    return t;
  }();
  return table;
}

std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

XpMd5::XpMd5() : m_state(kInitial) {}

void XpMd5::Block(const std::uint8_t* block) {
  const auto& k = Constants();
  std::array<std::uint32_t, 16> w{};
  for (std::size_t i = 0; i < 16; ++i) {
    w[i] = static_cast<std::uint32_t>(block[i * 4]) | (static_cast<std::uint32_t>(block[i * 4 + 1]) << 8) |
           (static_cast<std::uint32_t>(block[i * 4 + 2]) << 16) | (static_cast<std::uint32_t>(block[i * 4 + 3]) << 24);
  }
  std::uint32_t a = m_state[0];
  std::uint32_t b = m_state[1];
  std::uint32_t c = m_state[2];
  std::uint32_t d = m_state[3];
  for (std::size_t i = 0; i < 64; ++i) {
    std::uint32_t f = 0;
    std::size_t g = 0;
    const std::size_t round = i / 16;
    if (round == 0) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (round == 1) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (round == 2) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const std::uint32_t next = b + RotateLeft(a + f + k[i] + w[g], kShifts[round * 4 + i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  m_state[0] += a;
  m_state[1] += b;
  m_state[2] += c;
  m_state[3] += d;
}

void XpMd5::Update(std::span<const std::uint8_t> bytes) {
  m_length += bytes.size();
  while (!bytes.empty()) {
    const std::size_t take = std::min(bytes.size(), m_buffer.size() - m_buffered);
    std::memcpy(m_buffer.data() + m_buffered, bytes.data(), take);
    m_buffered += take;
    bytes = bytes.subspan(take);
    if (m_buffered == m_buffer.size()) {
      Block(m_buffer.data());
      m_buffered = 0;
    }
  }
}

XpMd5::Digest XpMd5::Finish() {
  const std::uint64_t bits = m_length * 8;
  const std::uint8_t one = 0x80;
  Update({&one, 1});
  const std::uint8_t zero = 0;
  while (m_buffered != 56) {
    Update({&zero, 1});
  }
  std::array<std::uint8_t, 8> length{};
  for (std::size_t i = 0; i < 8; ++i) {
    length[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  Update(length);
  Digest digest{};
  for (std::size_t i = 0; i < 4; ++i) {
    for (std::size_t j = 0; j < 4; ++j) {
      digest[i * 4 + j] = static_cast<std::uint8_t>(m_state[i] >> (8 * j));
    }
  }
  *this = XpMd5();
  return digest;
}

XpMd5::Digest XpMd5::Of(std::span<const std::uint8_t> bytes) {
  XpMd5 md5;
  md5.Update(bytes);
  return md5.Finish();
}

std::string XpMd5::Hex(const Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}
