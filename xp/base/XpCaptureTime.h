#pragma once

#include <string>

class XpDateTime;

/// The date and time a picture was taken, from its Exif tag 36867 (the camera's
/// clock as recorded, taken as local time without conversion). The path is
/// classified with XpGetFileType: JPEG stills and camera thumbnails are read
/// through the JPEG reader's tag tree, TIFF files and the TIFF-based raw
/// formats through their TIFF structure. GIF files, movies and everything else
/// give false, as do a missing tree, a missing, empty or non-text tag, and a
/// text that is no valid date (such as "0000:00:00 00:00:00"). `out` is set
/// only when the answer is true.
[[nodiscard]] bool GetCaptureTime(const std::string& path, XpDateTime& out);

/// Reads an Exif date-time text ("YYYY:MM:DD hh:mm:ss", or a date alone for
/// midnight); false when it gives no valid value.
[[nodiscard]] bool XpParseExifDateTime(const std::string& text, XpDateTime& out);
