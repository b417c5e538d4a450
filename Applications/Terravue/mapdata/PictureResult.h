#pragma once

/// Result codes of the picture and map-state operations. They are small plain
/// numbers, shared by the picture list, the state store and the write-back, and
/// the window layer turns them into messages.
enum class PictureResult : int {
  Success = 0,
  WriteFailed = 1,       ///< writing a state file, a page or the import of the older store failed
  OpenFailed = 2,        ///< opening the state file or enumerating the root folder failed
  Malformed = 3,         ///< malformed saved-state text
  FolderFailed = 5,      ///< deleting a state folder or ending a folder enumeration failed
  EndOfPictures = 6,     ///< the closing brace of the state came where a picture block was expected
  NoPositionOrTime = 7,  ///< the picture has no usable position or no capture time
  NotJpegStill = 8,      ///< empty path, not a JPEG still, or decoding or scaling failed
  ThumbnailFailed = 9,   ///< opening or writing the thumbnail file failed
  Missing = 11,          ///< the picture file or its thumbnail does not exist
  NothingToWrite = 13,   ///< nothing to write back
};

/// The code as its number.
constexpr int PictureResultValue(PictureResult result) { return static_cast<int>(result); }
