#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

/// The 32-bit code the classifiers give a path. Bits 28-31 the family (1 still
/// image, 2 movie, 8 not a media file), bits 16-23 a variant inside the format,
/// bits 8-15 the container format, bits 0-7 the kind found by looking into the
/// file (0 where only the extension was looked at).
using FileTypeCode = std::uint32_t;

/// Every code the classifiers give.
namespace XpFileTypes {
inline constexpr FileTypeCode kUnknown = 0x01000000;
inline constexpr FileTypeCode kDirectory = 0x80000001;
inline constexpr FileTypeCode kModd = 0x80000002;
inline constexpr FileTypeCode kJpegByExtension = 0x10000100;
inline constexpr FileTypeCode kJpeg = 0x10000101;  ///< the only code the map accepts
inline constexpr FileTypeCode kJpegMarked = 0x10000102;
inline constexpr FileTypeCode kThumbnail = 0x10000105;
inline constexpr FileTypeCode kTiff = 0x10000201;
inline constexpr FileTypeCode kGif = 0x10000301;
inline constexpr FileTypeCode kRawSrf = 0x10010401;
inline constexpr FileTypeCode kRawSr2 = 0x10010402;
inline constexpr FileTypeCode kRawMrw = 0x10020401;
inline constexpr FileTypeCode kRawArw = 0x10030401;
inline constexpr FileTypeCode kAnimatedGif = 0x20000301;
inline constexpr FileTypeCode kMpegByExtension = 0x20001100;
inline constexpr FileTypeCode kMpeg1Program = 0x20011101;
inline constexpr FileTypeCode kMpeg2ByExtension = 0x20021100;
inline constexpr FileTypeCode kMpeg2Program = 0x20021101;
inline constexpr FileTypeCode kMpeg2TransportTshv = 0x20021102;
inline constexpr FileTypeCode kMpeg2TransportHdmv = 0x20021104;
inline constexpr FileTypeCode kMmv = 0x20021103;
inline constexpr FileTypeCode kMp4ByExtension = 0x20031100;
inline constexpr FileTypeCode kMp4Format1 = 0x20031101;
inline constexpr FileTypeCode kMp4Format2 = 0x20031102;
inline constexpr FileTypeCode kAviByExtension = 0x20001200;
inline constexpr FileTypeCode kAviDv = 0x20001202;
inline constexpr FileTypeCode kAviMakerMotionJpeg = 0x20001203;
inline constexpr FileTypeCode kWmv = 0x20001301;
}  // namespace XpFileTypes

/// The code of the only files the map takes: ordinary JPEG stills.
inline constexpr FileTypeCode kJpegStillFileType = XpFileTypes::kJpeg;

/// A content check: the code of the file at a path, found by a bounded look
/// into it. Never fails; answers 0x01000000 (or the format's plain code) when
/// the file can't be read.
using XpFileTypeCheck = FileTypeCode (*)(const std::string& path);

/// One extension the classifiers know.
struct XpFileTypeEntry {
  std::string_view extension;  ///< lower case, dot included; compared without regard to letter case
  FileTypeCode byExtension;    ///< what XpGetFileTypeFromExtension answers
  FileTypeCode byContent;      ///< what XpGetFileType answers when there is no content check
  XpFileTypeCheck check;       ///< what XpGetFileType asks instead, or none
};

/// The one table both classifiers read, in the order they consult it.
[[nodiscard]] std::span<const XpFileTypeEntry> XpFileTypeTable();

/// Classifies a path by its extension (compared without regard to letter case)
/// and, for ".jpg", ".gif", the MPEG and transport-stream extensions, ".mp4"
/// and ".avi", by a bounded look into the file. An existing folder is
/// 0x80000001. Never fails: a missing, short, unreadable or non-regular file
/// (FIFO, device) gives 0x01000000 for the content checks, and 0x10000101 for
/// ".jpg". Nothing blocks: files are opened without waiting for a writer, and
/// only regular files are read. Every file opened is closed before it returns.
/// Safe from any thread.
[[nodiscard]] FileTypeCode XpGetFileType(const std::string& path);

/// Classifies a path by its extension alone; only the folder test touches the
/// file system.
[[nodiscard]] FileTypeCode XpGetFileTypeFromExtension(const std::string& path);

/// The MP4 parser plug-in's entry: takes a UTF-8 path, answers 1 or 2 for the
/// two formats it knows and anything else otherwise.
using XpMp4GetFormatType = int (*)(const char* utf8Path);

/// The plug-in's file name, looked for in the program's folder.
inline constexpr const char* kXpMp4ParserLibrary = "libParseMP4.so";

/// The content checks behind XpGetFileType, over bytes already read from the
/// start of a file. Each answers its code or 0x01000000.
namespace XpFileTypeChecks {

/// MPEG program stream: the pack start code and the generation bits of byte 4.
[[nodiscard]] FileTypeCode MpegProgramStream(std::span<const std::uint8_t> prefix);
/// MPEG-2 transport stream: the registration descriptor of the program map
/// table in 188- or 192-byte packets. Only packets that end before byte
/// kTransportStreamLimit are looked at.
inline constexpr std::size_t kTransportStreamLimit = 409600;
[[nodiscard]] FileTypeCode TransportStream(std::span<const std::uint8_t> prefix);
/// AVI: a DV video stream, or the maker's Motion-JPEG marks, in the first
/// kAviPrefix bytes.
inline constexpr std::size_t kAviPrefix = 1000;
[[nodiscard]] FileTypeCode Avi(std::span<const std::uint8_t> prefix);
/// MP4 through the parser's entry (none: unknown).
[[nodiscard]] FileTypeCode Mp4(const std::string& path, XpMp4GetFormatType getFormatType);

}  // namespace XpFileTypeChecks
