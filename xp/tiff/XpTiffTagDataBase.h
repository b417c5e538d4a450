#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

/// One tagged entry of a directory: tag, count and count values in host byte
/// order. The concrete classes are XpTiffTagData<Type> for the twelve TIFF
/// types and XpTiffTagDataIFD for entries that point at child directories.
class XpTiffTagDataBase {
 public:
  XpTiffTagDataBase(const XpTiffTagDataBase&) = delete;
  XpTiffTagDataBase& operator=(const XpTiffTagDataBase&) = delete;
  virtual ~XpTiffTagDataBase();

  /// The TIFF type number; 0x8004 for child-directory entries.
  [[nodiscard]] virtual std::uint16_t GetType() const = 0;
  /// Bytes per value.
  [[nodiscard]] virtual std::uint32_t GetUnitSize() const = 0;
  /// Width of the unit whose bytes are reversed between byte orders (4 for a
  /// rational: numerator and denominator are swapped separately).
  [[nodiscard]] virtual std::uint32_t GetSwapUnit() const = 0;
  /// The value bytes, count x unit size of them, in host order.
  [[nodiscard]] virtual const std::uint8_t* GetData() const { return m_data.data(); }
  [[nodiscard]] virtual std::uint8_t* GetData() { return m_data.data(); }
  /// count x unit size. Always fits in 32 bits: larger entries are never made.
  [[nodiscard]] virtual std::uint32_t GetByteSize() const { return static_cast<std::uint32_t>(m_data.size()); }
  /// A debug line: "%5d(0x%04x) x %3lu (%d) = %s", further values appended as ", %s".
  [[nodiscard]] virtual std::string Dump() const;
  /// The text of the value at `index`; empty when index >= count.
  [[nodiscard]] virtual std::string ToText(std::uint32_t index) const = 0;
  /// A deep copy; null when memory runs out.
  [[nodiscard]] virtual std::unique_ptr<XpTiffTagDataBase> Clone() const = 0;

  [[nodiscard]] std::uint16_t GetTag() const { return m_tag; }
  void SetTag(std::uint16_t tag) { m_tag = tag; }
  [[nodiscard]] std::uint32_t GetCount() const { return m_count; }
  [[nodiscard]] std::span<const std::uint8_t> Bytes() const { return m_data; }
  [[nodiscard]] std::span<std::uint8_t> Bytes() { return m_data; }
  /// True for a child-directory entry (XpTiffTagDataIFD).
  [[nodiscard]] bool IsIFD() const { return GetType() == 0x8004; }

  /// Reverses the bytes of every `swapUnit`-wide unit of `bytes` (a trailing
  /// partial unit is left alone). Used when reading and writing "MM" data.
  static void SwapUnits(std::span<std::uint8_t> bytes, std::uint32_t swapUnit);

 protected:
  /// Makes an entry of `count` zeroed values of `unitSize` bytes. Throws
  /// std::bad_alloc; callers use the factories, which answer null instead.
  XpTiffTagDataBase(std::uint16_t tag, std::uint32_t count, std::uint32_t unitSize);
  /// Copies tag, count and bytes of another entry.
  XpTiffTagDataBase(std::uint16_t tag, std::uint32_t count, std::vector<std::uint8_t> bytes);

  std::uint16_t m_tag = 0;
  std::uint32_t m_count = 0;
  std::vector<std::uint8_t> m_data;
};

/// Makes an empty (zero-filled) entry of a TIFF type 1..12 with `count` values.
/// Null for another type, when count x unit size does not fit in 32 bits, or
/// when memory runs out.
[[nodiscard]] std::unique_ptr<XpTiffTagDataBase> XpCreateTiffTagData(std::uint16_t tag, std::uint16_t type,
                                                                     std::uint32_t count);

/// Makes an entry of a TIFF type 1..12 holding `hostBytes` (host byte order);
/// its count is the byte length divided by the unit size, which must divide it.
/// Null on the same conditions as above.
[[nodiscard]] std::unique_ptr<XpTiffTagDataBase> XpCreateTiffTagData(std::uint16_t tag, std::uint16_t type,
                                                                     std::span<const std::uint8_t> hostBytes);
