#pragma once

#include <QStringList>

class CTerravueHtmlWnd;

/// How often photos handed over during a picture load look again whether the load has ended.
inline constexpr int kHandedPhotosRetryMs = 200;

/// Adds photos that a second start of the program handed over to the map
/// window exactly as dropping those files on it would: the same checks of
/// each file, the same limits and notices, the same question whether to save
/// a changed map. A drop during a picture load is passed over; handed photos
/// instead wait until the load has ended. A minimised window is shown again.
void DropHandedPhotos(CTerravueHtmlWnd* window, const QStringList& paths);
