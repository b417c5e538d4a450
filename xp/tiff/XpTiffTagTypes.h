#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

/// TIFF field types, as numbered in the file.
inline constexpr std::uint16_t kTiffTypeByte = 1;
inline constexpr std::uint16_t kTiffTypeAscii = 2;
inline constexpr std::uint16_t kTiffTypeShort = 3;
inline constexpr std::uint16_t kTiffTypeLong = 4;
inline constexpr std::uint16_t kTiffTypeRational = 5;
inline constexpr std::uint16_t kTiffTypeSByte = 6;
inline constexpr std::uint16_t kTiffTypeUndefined = 7;
inline constexpr std::uint16_t kTiffTypeSShort = 8;
inline constexpr std::uint16_t kTiffTypeSLong = 9;
inline constexpr std::uint16_t kTiffTypeSRational = 10;
inline constexpr std::uint16_t kTiffTypeFloat = 11;
inline constexpr std::uint16_t kTiffTypeDouble = 12;
inline constexpr std::uint16_t kTiffTypeIFD = 13;
/// The in-memory type of a child-directory entry: LONG with the pointer flag 0x8000.
inline constexpr std::uint16_t kTiffTypeIFDEntry = 0x8004;

/// The tag numbers the program gives meaning to, each declared once here;
/// kXpTiffTagTable gives each its name, type and value count.
inline constexpr std::uint16_t kTagCompression = 0x0103;
inline constexpr std::uint16_t kTagPhotometric = 0x0106;
inline constexpr std::uint16_t kTagMake = 0x010F;
inline constexpr std::uint16_t kTagStripOffsets = 0x0111;
inline constexpr std::uint16_t kTagOrientation = 0x0112;
inline constexpr std::uint16_t kTagStripByteCounts = 0x0117;
inline constexpr std::uint16_t kTagDateTime = 0x0132;
inline constexpr std::uint16_t kTagTileOffsets = 0x0144;
inline constexpr std::uint16_t kTagTileByteCounts = 0x0145;
inline constexpr std::uint16_t kTagSubIFDs = 0x014A;
inline constexpr std::uint16_t kTagThumbnailOffset = 0x0201;
inline constexpr std::uint16_t kTagThumbnailLength = 0x0202;
inline constexpr std::uint16_t kTagXmpPacket = 0x02BC;
inline constexpr std::uint16_t kTagExifIFD = 0x8769;
inline constexpr std::uint16_t kTagGPSIFD = 0x8825;
inline constexpr std::uint16_t kTagExifVersion = 0x9000;
inline constexpr std::uint16_t kTagDateTimeOriginal = 0x9003;
inline constexpr std::uint16_t kTagOffsetTimeOriginal = 0x9011;
inline constexpr std::uint16_t kTagMakerNote = 0x927C;
inline constexpr std::uint16_t kTagColorSpace = 0xA001;
inline constexpr std::uint16_t kTagInteropIFD = 0xA005;
inline constexpr std::uint16_t kTagMakerSubIFD = 0xB028;
inline constexpr std::uint16_t kTagDngVersion = 0xC612;
/// Inside the suite maker's note: the mark of a picture its cameras took.
inline constexpr std::uint16_t kTagMakerMark = 0x1000;
/// Inside a maker's note: where its large preview JPEG starts and how long it is.
inline constexpr std::uint16_t kTagMakerPreviewOffset = 0x0088;
inline constexpr std::uint16_t kTagMakerPreviewLength = 0x0089;

/// What a tag holds: its TIFF type and how many values (0: any number).
struct XpTiffTagInfo {
  std::uint16_t tag;
  std::string_view name;
  std::uint16_t type;
  std::uint32_t count;
};

/// Every tag above with its name, type and count.
inline constexpr std::array<XpTiffTagInfo, 26> kXpTiffTagTable = {{
    {kTagCompression, "Compression", kTiffTypeShort, 1},
    {kTagPhotometric, "PhotometricInterpretation", kTiffTypeShort, 1},
    {kTagMake, "Make", kTiffTypeAscii, 0},
    {kTagStripOffsets, "StripOffsets", kTiffTypeLong, 0},
    {kTagOrientation, "Orientation", kTiffTypeShort, 1},
    {kTagStripByteCounts, "StripByteCounts", kTiffTypeLong, 0},
    {kTagDateTime, "DateTime", kTiffTypeAscii, 20},
    {kTagTileOffsets, "TileOffsets", kTiffTypeLong, 0},
    {kTagTileByteCounts, "TileByteCounts", kTiffTypeLong, 0},
    {kTagSubIFDs, "SubIFDs", kTiffTypeLong, 0},
    {kTagThumbnailOffset, "JPEGInterchangeFormat", kTiffTypeLong, 1},
    {kTagThumbnailLength, "JPEGInterchangeFormatLength", kTiffTypeLong, 1},
    {kTagXmpPacket, "XMLPacket", kTiffTypeByte, 0},
    {kTagExifIFD, "ExifIFDPointer", kTiffTypeLong, 1},
    {kTagGPSIFD, "GPSInfoIFDPointer", kTiffTypeLong, 1},
    {kTagExifVersion, "ExifVersion", kTiffTypeUndefined, 4},
    {kTagDateTimeOriginal, "DateTimeOriginal", kTiffTypeAscii, 20},
    {kTagOffsetTimeOriginal, "OffsetTimeOriginal", kTiffTypeAscii, 7},
    {kTagMakerNote, "MakerNote", kTiffTypeUndefined, 0},
    {kTagColorSpace, "ColorSpace", kTiffTypeShort, 1},
    {kTagInteropIFD, "InteroperabilityIFDPointer", kTiffTypeLong, 1},
    {kTagMakerSubIFD, "MakerSubIFD", kTiffTypeLong, 0},
    {kTagDngVersion, "DNGVersion", kTiffTypeByte, 4},
    {kTagMakerMark, "MakerMark", kTiffTypeUndefined, 0},
    {kTagMakerPreviewOffset, "MakerPreviewOffset", kTiffTypeLong, 1},
    {kTagMakerPreviewLength, "MakerPreviewLength", kTiffTypeLong, 1},
}};

/// The table's entry for a tag, or nothing for a tag it does not list.
[[nodiscard]] constexpr const XpTiffTagInfo* XpFindTiffTag(std::uint16_t tag) {
  for (const XpTiffTagInfo& info : kXpTiffTagTable) {
    if (info.tag == tag) {
      return &info;
    }
  }
  return nullptr;
}

/// Bytes per value of a TIFF type (4 for type 13); 0 for a type outside 1..13.
constexpr std::uint32_t XpTiffTypeUnitSize(std::uint16_t type) {
  constexpr std::uint32_t kSizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < 14 ? kSizes[type] : 0;
}

// The twelve type parameters of XpTiffTagData. Each names its TIFF type number,
// its unit size, the width of the unit swapped between byte orders, and how one
// value is written as text.

struct XpTiffTagTypeByte {
  static constexpr std::uint16_t kType = kTiffTypeByte;
  static constexpr std::uint32_t kUnitSize = 1;
  static constexpr std::uint32_t kSwapUnit = 1;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeAscii {
  static constexpr std::uint16_t kType = kTiffTypeAscii;
  static constexpr std::uint32_t kUnitSize = 1;
  static constexpr std::uint32_t kSwapUnit = 1;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeShort {
  static constexpr std::uint16_t kType = kTiffTypeShort;
  static constexpr std::uint32_t kUnitSize = 2;
  static constexpr std::uint32_t kSwapUnit = 2;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeLong {
  static constexpr std::uint16_t kType = kTiffTypeLong;
  static constexpr std::uint32_t kUnitSize = 4;
  static constexpr std::uint32_t kSwapUnit = 4;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeRational {
  static constexpr std::uint16_t kType = kTiffTypeRational;
  static constexpr std::uint32_t kUnitSize = 8;
  static constexpr std::uint32_t kSwapUnit = 4;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeSByte {
  static constexpr std::uint16_t kType = kTiffTypeSByte;
  static constexpr std::uint32_t kUnitSize = 1;
  static constexpr std::uint32_t kSwapUnit = 1;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeUndefined {
  static constexpr std::uint16_t kType = kTiffTypeUndefined;
  static constexpr std::uint32_t kUnitSize = 1;
  static constexpr std::uint32_t kSwapUnit = 1;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeSShort {
  static constexpr std::uint16_t kType = kTiffTypeSShort;
  static constexpr std::uint32_t kUnitSize = 2;
  static constexpr std::uint32_t kSwapUnit = 2;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeSLong {
  static constexpr std::uint16_t kType = kTiffTypeSLong;
  static constexpr std::uint32_t kUnitSize = 4;
  static constexpr std::uint32_t kSwapUnit = 4;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeSRational {
  static constexpr std::uint16_t kType = kTiffTypeSRational;
  static constexpr std::uint32_t kUnitSize = 8;
  static constexpr std::uint32_t kSwapUnit = 4;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeFloat {
  static constexpr std::uint16_t kType = kTiffTypeFloat;
  static constexpr std::uint32_t kUnitSize = 4;
  static constexpr std::uint32_t kSwapUnit = 4;
  static std::string ToText(const std::uint8_t* value);
};

struct XpTiffTagTypeDouble {
  static constexpr std::uint16_t kType = kTiffTypeDouble;
  static constexpr std::uint32_t kUnitSize = 8;
  static constexpr std::uint32_t kSwapUnit = 8;
  static std::string ToText(const std::uint8_t* value);
};
