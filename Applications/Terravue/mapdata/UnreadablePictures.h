#pragma once

#include <string>
#include <vector>

class PictureList;

/// Why a picture on the map has no thumbnail although its file is there.
enum class UnreadableReason {
  NotJpeg,      ///< the file does not hold a JPEG picture at all
  Undecodable,  ///< a JPEG whose picture data can't be decoded (damaged, CMYK, ...)
};

struct UnreadablePicture {
  std::string path;
  UnreadableReason reason = UnreadableReason::Undecodable;
};

/// Goes through the pictures of `list` that have a thumbnail name but no
/// thumbnail under `rootFolder` while the picture itself is there: makes the
/// thumbnail again where that now works (a thumbnail deleted meanwhile), and
/// answers the others with the reason, in list order. Such a picture stays on
/// the map without a thumbnail.
[[nodiscard]] std::vector<UnreadablePicture> FindUnreadablePictures(PictureList& list, const std::string& rootFolder);

/// The reason for a picture at `path` that could not be decoded, from its first bytes.
[[nodiscard]] UnreadableReason UnreadableReasonOf(const std::string& path);
