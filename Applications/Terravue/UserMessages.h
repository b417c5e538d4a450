#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "Applications/Terravue/mapdata/StateChecks.h"
#include "Applications/Terravue/mapdata/UnreadablePictures.h"

/// The text telling that the saved map at `path` could not be opened, and why.
[[nodiscard]] QString StateOpenFailureText(const QString& path, StateOpenProblem problem);

/// What is wrong with a name given for a new saved map; empty when nothing is.
[[nodiscard]] QString StateNameProblemText(StateNameProblem problem);

/// A failed connection in words, for browser error `code` (a negative network
/// error number).
[[nodiscard]] QString ConnectionFailureText(int code);
/// The detail line of a failed connection: the number itself.
[[nodiscard]] QString ConnectionFailureDetails(int code);

/// The notice about pictures that could not be read: each by its file name
/// with the reason, at most `maxListed` of them and the number of the rest.
[[nodiscard]] QString UnreadablePicturesText(const std::vector<UnreadablePicture>& pictures, int maxListed = 15);
