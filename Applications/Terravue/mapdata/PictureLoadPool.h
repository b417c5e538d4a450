#pragma once

#include <atomic>
#include <string>
#include <vector>

class PictureList;
class ProgressSink;

/// Worker threads for adding pictures when none is asked for: one per core.
[[nodiscard]] unsigned DefaultPictureWorkers();

/// First removes the thumbnails that killed processes left in `rootFolder`
/// (RemoveThumbnailsOfEndedProcesses). Then adds pictures to `list` as
/// PictureList::AddPictures does, with the slow part of each picture
/// (reading its tags and capture time, making its thumbnail) spread over `workers` threads (0:
/// one per core). The outcome is the one a single worker gives: the same records in the same
/// order, the same thumbnail names and counter, the same selection, one progress step per added
/// picture in list order (on the calling thread), the same answer. Each worker holds one picture
/// at a time, so no more than `workers` pictures are decoded at once.
///
/// When `keepGoing` is found cleared after a picture has been added, no further picture is
/// started, the call waits for the pictures under way, removes the thumbnails of the ones it does
/// not add, and answers true without sorting. When a thumbnail can't be written the pictures
/// after it are dropped the same way and the answer is false.
[[nodiscard]] bool AddPicturesOnWorkers(PictureList& list, const std::vector<std::string>& paths,
                                        const std::string& rootFolder, ProgressSink& progress,
                                        const std::atomic<bool>& keepGoing, unsigned workers = 0);
