#include "Applications/Terravue/mapdata/PictureLoadPool.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"
#include "Applications/Terravue/mapdata/ThumbnailJournal.h"

namespace {

// More threads than this only add decoded pictures in memory, not speed.
constexpr unsigned kMaxWorkers = 16;

// How far the workers may run ahead of the picture the list waits for, in pictures per worker:
// enough to ride over one slow picture, few enough that a cancel wastes little.
constexpr std::size_t kLookaheadPerWorker = 4;

// One picture's outcome, made by a worker exactly as one worker makes it: a list of its own that
// starts at the picture's thumbnail number.
struct LoadedPicture {
  PictureList list;
  bool written = true;
  bool done = false;
};

class LoadJob {
 public:
  LoadJob(const std::vector<std::string>& paths, std::int32_t firstNumber, const std::string& rootFolder,
          const std::atomic<bool>& keepGoing, unsigned workers)
      : m_paths(paths),
        m_rootFolder(rootFolder),
        m_keepGoing(keepGoing),
        m_window(static_cast<std::size_t>(workers) * kLookaheadPerWorker),
        m_results(paths.size()) {
    // The numbers one worker would give: the next free one per picture, stopping at the largest.
    m_numbers.reserve(paths.size());
    std::int32_t number = firstNumber;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      number = NextFreeThumbnailNumber(number, rootFolder);
      m_numbers.push_back(number);
      if (number < INT32_MAX) {
        ++number;
      }
    }
    m_running = workers;
    m_threads.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) {
      m_threads.emplace_back([this] { Work(); });
    }
  }

  ~LoadJob() {
    Stop();
    for (std::thread& thread : m_threads) {
      thread.join();
    }
    // Thumbnails of pictures that were made but never reached the list.
    for (std::size_t i = m_taken; i < m_results.size(); ++i) {
      if (!m_results[i].done) {
        continue;
      }
      for (const PictureRecord& record : m_results[i].list.Records()) {
        if (!record.m_cacheName.empty() && record.ThumbnailPathIsSafe(m_rootFolder)) {
          (void)MapRemoveFile(record.ThumbnailPath(m_rootFolder));
        }
      }
    }
  }
  LoadJob(const LoadJob&) = delete;
  LoadJob& operator=(const LoadJob&) = delete;

  // Waits for picture `index` (taken in order); false when the workers stopped before making it.
  bool Take(std::size_t index, LoadedPicture& out) {
    std::unique_lock lock(m_mutex);
    m_ready.wait(lock, [this, index] { return m_results[index].done || m_running == 0; });
    if (!m_results[index].done) {
      return false;
    }
    out = std::move(m_results[index]);
    m_taken = index + 1;
    m_moreRoom.notify_all();
    return true;
  }

  void Stop() {
    std::scoped_lock lock(m_mutex);
    m_stop = true;
    m_moreRoom.notify_all();
  }

 private:
  void Work() {
    for (;;) {
      std::size_t index = 0;
      {
        std::unique_lock lock(m_mutex);
        m_moreRoom.wait(lock, [this] { return m_stop || m_next >= m_paths.size() || m_next < m_taken + m_window; });
        // After a cancel only the picture the list waits for is still made, as one worker would.
        if (m_stop || m_next >= m_paths.size() || (!m_keepGoing.load() && m_next > m_taken)) {
          break;
        }
        index = m_next++;
      }
      LoadedPicture picture;
      picture.list.SetCounter(m_numbers[index]);
      NullProgressSink quiet;
      const std::atomic<bool> always{true};
      picture.written = picture.list.AddPictures({m_paths[index]}, m_rootFolder, quiet, always);
      picture.done = true;
      std::scoped_lock lock(m_mutex);
      m_results[index] = std::move(picture);
      m_ready.notify_all();
    }
    std::scoped_lock lock(m_mutex);
    --m_running;
    m_ready.notify_all();
  }

  const std::vector<std::string>& m_paths;
  const std::string& m_rootFolder;
  const std::atomic<bool>& m_keepGoing;
  const std::size_t m_window;
  std::vector<std::int32_t> m_numbers;
  std::mutex m_mutex;
  std::condition_variable m_ready;     // a picture is done, or a worker ended
  std::condition_variable m_moreRoom;  // the list took a picture, or the job stops
  std::vector<LoadedPicture> m_results;
  std::size_t m_next = 0;     // the next picture a worker starts
  std::size_t m_taken = 0;    // pictures the list has taken
  std::size_t m_running = 0;  // workers still running
  bool m_stop = false;
  std::vector<std::thread> m_threads;  // last: the threads start once everything above exists
};

}  // namespace

unsigned DefaultPictureWorkers() { return std::clamp(std::thread::hardware_concurrency(), 1U, kMaxWorkers); }

bool AddPicturesOnWorkers(PictureList& list, const std::vector<std::string>& paths, const std::string& rootFolder,
                          ProgressSink& progress, const std::atomic<bool>& keepGoing, unsigned workers) {
  // Thumbnails a killed load left in the folder go first, so their names are free again.
  (void)RemoveThumbnailsOfEndedProcesses(rootFolder);
  if (workers == 0) {
    workers = DefaultPictureWorkers();
  }
  workers = std::min(workers, kMaxWorkers);
  if (workers <= 1) {
    return list.AddPictures(paths, rootFolder, progress, keepGoing);
  }
  // Which paths become pictures, and so which thumbnail number each gets, is settled first and in
  // order; reading a file's first bytes is cheap next to decoding it.
  std::vector<std::string> added;
  // Each file once, however it is reached (links, other spellings of a path on
  // the list), and one picture of a RAW+JPEG pair.
  for (const std::string& path : list.OnePerPair(list.NewFilesOnly(paths))) {
    if (IsAddablePicture(path, rootFolder)) {
      added.push_back(path);
    }
  }
  if (added.empty()) {
    list.SortByCaptureTime();
    return true;
  }
  workers = static_cast<unsigned>(std::min<std::size_t>(workers, added.size()));

  LoadJob job(added, list.Counter(), rootFolder, keepGoing, workers);
  bool selectedOne = false;
  for (std::size_t i = 0; i < added.size(); ++i) {
    LoadedPicture picture;
    if (!job.Take(i, picture)) {
      // Cancelled before this picture was started.
      return true;
    }
    list.SetCounter(picture.list.Counter());
    for (PictureRecord& record : picture.list.Records()) {
      // Selection is the whole call's: the first added picture with a position.
      record.m_selected = 0;
      if (picture.written && !selectedOne && record.HasPosition()) {
        record.m_selected = 1;
        selectedOne = true;
      }
      list.Append(std::move(record));
    }
    if (!picture.written) {
      return false;
    }
    if (!keepGoing.load()) {
      return true;
    }
    progress.Step();
  }
  list.SortByCaptureTime();
  return true;
}

namespace {

// Runs `work(index)` for every index below `count` on `workers` threads, each taking the next
// index not yet taken, until `keepGoing` is found cleared. The first one always runs, as one
// worker makes the picture it has started before it looks at a cancel.
void RunOnWorkers(std::size_t count, unsigned workers, const std::atomic<bool>& keepGoing,
                  const std::function<void(std::size_t)>& work) {
  if (workers == 0) {
    workers = DefaultPictureWorkers();
  }
  workers = static_cast<unsigned>(std::min<std::size_t>({workers, kMaxWorkers, std::max<std::size_t>(count, 1)}));
  std::atomic<std::size_t> next{0};
  const auto run = [&] {
    for (std::size_t index = next++; index < count && (index == 0 || keepGoing.load()); index = next++) {
      work(index);
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(workers - 1);
  for (unsigned i = 1; i < workers; ++i) {
    threads.emplace_back(run);
  }
  run();
  for (std::thread& thread : threads) {
    thread.join();
  }
}

}  // namespace

std::vector<ThumbnailJob> AddPicturesLeavingThumbnails(PictureList& list, const std::vector<std::string>& paths,
                                                       const std::string& rootFolder,
                                                       const std::atomic<bool>& keepGoing, unsigned workers) {
  (void)RemoveThumbnailsOfEndedProcesses(rootFolder);
  std::vector<std::string> added;
  for (const std::string& path : list.OnePerPair(list.NewFilesOnly(paths))) {
    if (IsAddablePicture(path, rootFolder)) {
      added.push_back(path);
    }
  }
  // The names one worker would give: the next free one per picture, stopping at the largest.
  std::vector<PictureRecord> records;
  std::vector<std::int32_t> counters;  // the list's counter once each picture is added
  records.reserve(added.size());
  counters.reserve(added.size());
  std::int32_t number = list.Counter();
  for (const std::string& path : added) {
    number = NextFreeThumbnailNumber(number, rootFolder);
    records.emplace_back(path, std::string(), ThumbnailName(number));
    if (number < INT32_MAX) {
      ++number;
    }
    counters.push_back(number);
  }
  // Reading tags and headers is the slow part; each record is its own worker's.
  std::vector<char> read(records.size(), 0);
  std::vector<char> wanted(records.size(), 0);
  RunOnWorkers(records.size(), workers, keepGoing, [&](std::size_t index) {
    PictureRecord& record = records[index];
    (void)record.ReadPositionAndTime();
    if (!MapPathExists(record.m_path)) {
      // Gone since it was listed: no thumbnail, as a load that makes it finds.
      record.m_cacheName.clear();
      record.m_width = PictureRecord::kMissingWidth;
      record.m_height = PictureRecord::kMissingHeight;
    } else if (IsListablePicture(record.m_path)) {
      // Photos of other formats get their size with the thumbnail of their preview.
      std::int32_t width = 0;
      std::int32_t height = 0;
      if (IsJpegStill(record.m_path) && ThumbnailSizeOf(record.m_path, &width, &height)) {
        record.m_width = width;
        record.m_height = height;
      }
      wanted[index] = 1;
    }
    read[index] = 1;
  });
  FindRawJpegPairs(records);

  std::vector<ThumbnailJob> jobs;
  bool selectedOne = false;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (read[i] == 0) {
      // Cancelled: the pictures read before the first one not read are kept, unsorted.
      return jobs;
    }
    PictureRecord& record = records[i];
    list.SetCounter(counters[i]);
    record.m_selected = 0;
    if (!selectedOne && record.HasPosition()) {
      record.m_selected = 1;
      selectedOne = true;
    }
    if (wanted[i] != 0) {
      jobs.push_back(ThumbnailJob{record.m_path, record.m_cacheName});
    }
    list.Append(std::move(record));
  }
  list.SortByCaptureTime();
  return jobs;
}

std::vector<ThumbnailOutcome> MakeThumbnailsOnWorkers(
    const std::vector<ThumbnailJob>& jobs, const std::string& rootFolder, const std::atomic<bool>& keepGoing,
    const std::function<void(std::size_t, const ThumbnailOutcome&)>& made, unsigned workers) {
  std::vector<ThumbnailOutcome> outcomes(jobs.size());
  RunOnWorkers(jobs.size(), workers, keepGoing, [&](std::size_t index) {
    const ThumbnailJob& job = jobs[index];
    ThumbnailOutcome outcome;
    outcome.started = true;
    if (ThumbnailNumber(job.cacheName) < 0) {
      outcome.result = PictureResult::ThumbnailFailed;
    } else {
      outcome.result = MakeThumbnail(job.picturePath, JoinMapPath(rootFolder, job.cacheName), &outcome.width,
                                     &outcome.height, /*listed=*/true);
    }
    outcomes[index] = outcome;
    if (made) {
      made(index, outcome);
    }
  });
  return outcomes;
}

bool ApplyThumbnailOutcomes(PictureList& list, const std::vector<ThumbnailJob>& jobs,
                            const std::vector<ThumbnailOutcome>& outcomes) {
  bool written = true;
  std::map<std::pair<std::string_view, std::string_view>, std::size_t> jobOf;
  for (std::size_t i = 0; i < jobs.size() && i < outcomes.size(); ++i) {
    jobOf.emplace(std::pair<std::string_view, std::string_view>(jobs[i].picturePath, jobs[i].cacheName), i);
    written = written && !(outcomes[i].started && outcomes[i].result == PictureResult::ThumbnailFailed);
  }
  for (PictureRecord& record : list.Records()) {
    const auto found = jobOf.find({record.m_path, record.m_cacheName});
    if (found == jobOf.end() || !outcomes[found->second].started) {
      continue;
    }
    const ThumbnailOutcome& outcome = outcomes[found->second];
    if (outcome.width > 0 && outcome.height > 0) {
      record.m_width = outcome.width;
      record.m_height = outcome.height;
    } else if (outcome.result == PictureResult::NotJpegStill) {
      // A picture that does not decode keeps the size it was made with.
      record.m_width = PictureRecord::kDefaultWidth;
      record.m_height = PictureRecord::kDefaultHeight;
    }
  }
  return written;
}
