#pragma once

#include <cstdint>
#include <string>

/// The support library's 16-bit status codes. 0 is success; the high byte groups
/// the codes by area: 0x81xx files and streams, 0x84xx memory, 0x85xx property
/// lists, 0x86xx JPEG coding and the Exif tag tree.
enum class XpStatus : std::uint16_t {
  Ok = 0,

  // Files and paths.
  Failed = 0x8000,              ///< other failure
  CreateFailed = 0x8100,        ///< other failure of an exclusive create
  NotOpen = 0x8101,             ///< stream not open, or a memory file without a buffer
  InvalidArgument = 0x8102,     ///< invalid argument (null buffer, zero count, bad flags)
  EndOfFile = 0x8103,           ///< end of file, or fewer bytes read than asked
  FileNotFound = 0x8105,        ///< file not found
  PathNotFound = 0x8106,        ///< path not found (a parent folder is missing)
  AlreadyOpen = 0x8107,         ///< the stream is open already
  AccessDenied = 0x8108,        ///< access denied, read-only file system
  DiskFull = 0x8109,            ///< disk full, or a memory file could not grow
  AlreadyExists = 0x810A,       ///< already exists
  TooManyOpenFiles = 0x810B,    ///< too many open files
  OpenFailed = 0x810D,          ///< open for reading failed
  OpenForWriteFailed = 0x8111,  ///< open for writing failed
  BadPath = 0x8112,             ///< not an absolute path, or a folder that can't be made
  FolderNotEmpty = 0x8117,      ///< folder not empty
  FileInvalid = 0x8119,         ///< file invalid
  NoDevice = 0x811A,            ///< device does not exist

  OutOfMemory = 0x8401,  ///< out of memory

  // Property lists.
  XmlFailed = 0x8500,            ///< no root element, or a save failed
  NotSupported = 0x8501,         ///< operation not supported by this node type
  NotFound = 0x8502,             ///< path, key or index not found
  XmlParseFailed = 0x8503,       ///< the XML parser rejected the document
  StructureError = 0x8504,       ///< not a property list of the expected shape
  ComponentInitFailed = 0x8505,  ///< the XML component could not be initialised
  NoDocument = 0x8506,           ///< no XML document object could be created
  UnknownType = 0x8507,          ///< unknown type code
  DuplicateKey = 0x8508,         ///< a dictionary key exists already
  IntegerRange = 0x8509,         ///< integer does not fit in 32 bits

  // JPEG coding and the Exif tag tree.
  JpegEncodeFailed = 0x8600,       ///< Exif block too large for one segment, or compression failed
  NoExif = 0x8601,                 ///< no Exif block, no tag tree, or no GPS directory
  JpegDecodeFailed = 0x8602,       ///< not a JPEG stream, an unparsable tag tree, or a JPEG library failure
  UnexpectedData = 0x8603,         ///< JPEG output not 3 components
  BadReduction = 0x8604,           ///< unsupported reduction factor
  TransformImpossible = 0x8605,    ///< lossless transform impossible on this image size
  NoWriterName = 0x8606,           ///< JPEG writer without a name text
  Cancelled = 0x8607,              ///< cancelled through the progress callback
  ExifDamaged = 0x8608,            ///< the Exif data is damaged or was not read completely; not rewritten
  PictureReadOnly = 0x8609,        ///< the picture is write-protected (no write bit, immutable, or no access)
  ChangedOnDisk = 0x860A,          ///< the picture changed on disk since it was read; not rewritten
  BadCoordinate = 0x860B,          ///< a coordinate text that does not scan or is out of range
  TooManySegments = 0x860C,        ///< a JPEG stream with an absurd number of marker segments
  TrackLogInvalid = 0x860D,        ///< a track log that is not GPX or NMEA, or that does not parse
  TrackLogTooLarge = 0x860E,       ///< a track log beyond the size or point limit
  ExifBlockFull = 0x8610,          ///< the edited Exif block would not fit one segment; not rewritten
  NamesInSidecar = 0x8615,         ///< the place names went to an XMP sidecar: the photo's kind keeps none in its file
  XmpInvalid = 0x8618,             ///< an XMP packet that is not well-formed UTF-8 XML, too large or too deep
  XmpNoPosition = 0x8619,          ///< an XMP packet without a GPS latitude and longitude
  XmpBadPosition = 0x861A,         ///< an XMP GPS coordinate that does not read as one, or is out of range
  PhotoFormatUnknown = 0x8620,     ///< the content is no photo format this program reads
  PhotoContainerDamaged = 0x8621,  ///< a photo's boxes or chunks run outside the file or past a limit
  SidecarHoldsPosition = 0x8622,   ///< a sidecar belongs to the photo already: the position is written there
  PositionStaysInPhoto = 0x8623,   ///< the photo's own metadata holds a position this program does not change there
  SidecarCheckFailed = 0x8624,     ///< the written XMP sidecar did not read back as intended; not replaced
  PictureTooLarge = 0x8625,        ///< a picture with more pixels than this program decodes; not decoded
  PictureDecodeFailed = 0x8626,    ///< a picture's pixel data did not decode (damaged, or a coding without a decoder)
  BigTiffNotWritten = 0x8629,      ///< a BigTIFF photo: the position is not written into it
  WrittenCopyDiffers = 0x862A,     ///< the rewritten copy of a PNG, WebP or TIFF photo did not check out; not written
  PhotoTooLargeToWrite = 0x862B,   ///< a photo too large to be rewritten, or one its size fields could not describe
  HeifNotEditable = 0x862C,  ///< a HEIC/HEIF/AVIF photo whose position is not written in the file; a sidecar holds it
  IimInvalid = 0x8630,       ///< an IPTC-IIM block whose resources or datasets run outside it
  LocationSegmentFull = 0x8631,   ///< the edited XMP or IIM segment would not fit one segment; not written
  NoPositionToName = 0x8632,      ///< the photo has no position to name a place from
  NoPlaceNear = 0x8633,           ///< the place index holds no place to name the position with
  PlaceDataInvalid = 0x8634,      ///< a place index file that is not one, or whose tables do not check out
  PlaceDataTooLarge = 0x8635,     ///< a place index file beyond the size limit
  TimeZoneDataInvalid = 0x863C,   ///< a time-zone map file that is not one, or whose tables do not check out
  TimeZoneDataTooLarge = 0x863D,  ///< a time-zone map file beyond the size limit
  UnknownTimeZone = 0x863E,       ///< a time-zone name the zone data does not know
  MetadataWouldMove = 0x863F,     ///< a longer or shorter segment would move data found by its file position
};

/// The status as a number, for logs and messages.
constexpr std::uint16_t XpStatusValue(XpStatus status) { return static_cast<std::uint16_t>(status); }

/// The status as lower-case hex text such as "0x8105" ("0" for success).
std::string XpStatusText(XpStatus status);

/// Maps an errno value to its status: ENOENT 0x8105, EACCES/EPERM/EROFS/EISDIR 0x8108,
/// EMFILE/ENFILE 0x810B, ENOMEM 0x8401, ENOSPC/EDQUOT 0x8109, EEXIST 0x810A,
/// ENOTEMPTY 0x8117, ENODEV/ENXIO 0x811A, EINVAL 0x8102, ENOTDIR 0x8106,
/// anything else 0x8000. Callers that know a parent folder is missing answer
/// 0x8106 instead of 0x8105 (see XpStatusFromErrnoForPath).
XpStatus XpStatusFromErrno(int err);

/// Like XpStatusFromErrno, but ENOENT becomes 0x8106 when the parent folder of
/// `path` does not exist.
XpStatus XpStatusFromErrnoForPath(int err, const std::string& path);
