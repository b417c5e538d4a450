#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/PictureResult.h"

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

/// A thumbnail still to be made for a picture on the list.
struct ThumbnailJob {
  std::string picturePath;
  std::string cacheName;  ///< the thumbnail's file name in the map's root folder
};

/// What making one thumbnail gave.
struct ThumbnailOutcome {
  bool started = false;  ///< false when the work stopped before this one
  PictureResult result = PictureResult::ThumbnailFailed;
  std::int32_t width = 0;  ///< the thumbnail's size when it was made
  std::int32_t height = 0;
};

/// Adds pictures to `list` as AddPicturesOnWorkers does (the same records in the same order, the
/// same thumbnail names and counter, the same selection), but makes no thumbnail: each picture
/// gets the size its thumbnail will have from the picture's header, and the thumbnails to make
/// come back, in the order the pictures were added. Positions and capture times are read on
/// `workers` threads (0: one per core). A cleared `keepGoing` stops adding, as it does there.
[[nodiscard]] std::vector<ThumbnailJob> AddPicturesLeavingThumbnails(PictureList& list,
                                                                     const std::vector<std::string>& paths,
                                                                     const std::string& rootFolder,
                                                                     const std::atomic<bool>& keepGoing,
                                                                     unsigned workers = 0);

/// Makes the thumbnails of `jobs` in `rootFolder` on `workers` threads (0: one per core), each
/// listed before its file exists as a load lists it. `made` is called on a worker thread once for
/// each thumbnail made or failed, with its index, in no set order; once `keepGoing` is found
/// cleared no further thumbnail is started. The outcomes come back in job order.
[[nodiscard]] std::vector<ThumbnailOutcome> MakeThumbnailsOnWorkers(
    const std::vector<ThumbnailJob>& jobs, const std::string& rootFolder, const std::atomic<bool>& keepGoing,
    const std::function<void(std::size_t, const ThumbnailOutcome&)>& made, unsigned workers = 0);

/// Puts the outcomes into the records they belong to (found by path and thumbnail name, wherever
/// the list has put them since): a picture whose thumbnail could not be decoded keeps the size a
/// load that made its thumbnail at once gives it. False when a thumbnail could not be written.
[[nodiscard]] bool ApplyThumbnailOutcomes(PictureList& list, const std::vector<ThumbnailJob>& jobs,
                                          const std::vector<ThumbnailOutcome>& outcomes);
