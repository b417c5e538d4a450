#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

#include "Applications/Terravue/mapdata/PictureList.h"
#include "Applications/Terravue/mapdata/PictureLoadPool.h"
#include "Applications/Terravue/mapdata/ThumbnailJournal.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

namespace {

namespace fs = std::filesystem;

// Every camera picture of the test set, with paths that are passed over mixed in.
std::vector<std::string> MixedPaths(const TempFolder& other) {
  std::vector<std::string> paths;
  for (const auto& entry : fs::directory_iterator(fs::path(TestPicture("")))) {
    if (entry.path().extension() == ".jpg") {
      paths.push_back(entry.path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  WriteFileText(other / "notes.txt", "not a picture");
  paths.insert(paths.begin() + 3, other / "notes.txt");
  paths.insert(paths.begin() + 5, other / "missing.jpg");
  paths.insert(paths.begin() + 7, "");
  paths.insert(paths.begin() + 9, paths[0] + "\nsecond line");
  // The same picture twice gets two records and two thumbnails.
  paths.push_back(paths[1]);
  return paths;
}

// The steps a loading call gives, each with the number of records the list held at that moment
// and whether it came on the calling thread.
class WatchingProgress final : public ProgressSink {
 public:
  explicit WatchingProgress(const PictureList& list) : m_list(list) {}
  void Step() override {
    counts.push_back(m_list.Count());
    onCaller = onCaller && std::this_thread::get_id() == m_caller;
  }
  std::vector<std::size_t> counts;
  bool onCaller = true;

 private:
  const PictureList& m_list;
  std::thread::id m_caller = std::this_thread::get_id();
};

// Blanks every "YYYY:MM:DD HH:MM:SS" text: a thumbnail records the time it was written.
std::string WithoutDateTimes(std::string bytes) {
  constexpr std::string_view kShape = "dddd:dd:dd dd:dd:dd";
  for (std::size_t i = 0; i + kShape.size() <= bytes.size(); ++i) {
    bool matches = true;
    for (std::size_t k = 0; k < kShape.size() && matches; ++k) {
      const char c = bytes[i + k];
      matches = kShape[k] == 'd' ? (c >= '0' && c <= '9') : c == kShape[k];
    }
    if (matches) {
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(i), kShape.size(), '#');
      i += kShape.size() - 1;
    }
  }
  return bytes;
}

// The files of a folder by name, with their bytes (times of writing blanked).
std::map<std::string, std::string> FolderFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
    const std::string name = entry.path().filename().string();
    // The process's list of the thumbnails it made is its bookkeeping, not
    // the load's outcome (a cancelled pool lists pictures it made and removed).
    if (name.rfind(kThumbnailJournalPrefix, 0) == 0) {
      continue;
    }
    files[name] = WithoutDateTimes(bytes);
  }
  return files;
}

// The names whose bytes differ between two folders, or that only one of them holds.
std::string Differences(const std::string& a, const std::string& b) {
  const auto left = FolderFiles(a);
  const auto right = FolderFiles(b);
  std::string names;
  for (const auto& [name, bytes] : left) {
    const auto other = right.find(name);
    if (other == right.end() || other->second != bytes) {
      names += name + " ";
    }
  }
  for (const auto& [name, bytes] : right) {
    if (left.find(name) == left.end()) {
      names += name + "(only second) ";
    }
  }
  return names;
}

void ExpectSameRecords(const PictureList& one, const PictureList& pool) {
  EXPECT_EQ(pool.Counter(), one.Counter());
  ASSERT_EQ(pool.Count(), one.Count());
  for (std::size_t i = 0; i < one.Count(); ++i) {
    const PictureRecord& a = one.At(i);
    const PictureRecord& b = pool.At(i);
    EXPECT_EQ(b.m_path, a.m_path) << i;
    EXPECT_EQ(b.m_cacheName, a.m_cacheName) << a.m_path;
    EXPECT_EQ(b.m_stateName, a.m_stateName) << a.m_path;
    EXPECT_EQ(b.m_timeText, a.m_timeText) << a.m_path;
    EXPECT_EQ(b.m_captureTime.IsValid(), a.m_captureTime.IsValid()) << a.m_path;
    EXPECT_EQ(b.m_captureTime.GetValue(), a.m_captureTime.GetValue()) << a.m_path;
    EXPECT_EQ(b.m_latitude, a.m_latitude) << a.m_path;
    EXPECT_EQ(b.m_longitude, a.m_longitude) << a.m_path;
    EXPECT_EQ(b.m_width, a.m_width) << a.m_path;
    EXPECT_EQ(b.m_height, a.m_height) << a.m_path;
    EXPECT_EQ(b.m_selected, a.m_selected) << a.m_path;
    EXPECT_EQ(b.m_modified, a.m_modified) << a.m_path;
  }
}

// One list loaded by one worker and one by `workers`, each into its own folder.
struct SideBySide {
  TempFolder oneFolder;
  TempFolder poolFolder;
  PictureList one;
  PictureList pool;
  bool oneAnswer = false;
  bool poolAnswer = false;
  std::vector<std::size_t> oneSteps;
  std::vector<std::size_t> poolSteps;
  bool poolStepsOnCaller = false;

  void Load(const std::vector<std::string>& paths, unsigned workers) {
    std::atomic<bool> keepGoing{true};
    WatchingProgress oneProgress(one);
    oneAnswer = one.AddPictures(paths, oneFolder.Path(), oneProgress, keepGoing);
    WatchingProgress poolProgress(pool);
    poolAnswer = AddPicturesOnWorkers(pool, paths, poolFolder.Path(), poolProgress, keepGoing, workers);
    oneSteps = oneProgress.counts;
    poolSteps = poolProgress.counts;
    poolStepsOnCaller = poolProgress.onCaller;
  }
};

class PictureLoadPool : public ::testing::TestWithParam<unsigned> {};

TEST_P(PictureLoadPool, GivesTheListOneWorkerGivesOnTheCameraPictures) {
  TempFolder other;
  const std::vector<std::string> paths = MixedPaths(other);
  SideBySide run;
  run.Load(paths, GetParam());
  EXPECT_TRUE(run.oneAnswer);
  EXPECT_EQ(run.poolAnswer, run.oneAnswer);
  ASSERT_GT(run.one.Count(), 50U);
  ExpectSameRecords(run.one, run.pool);
  EXPECT_EQ(run.poolSteps, run.oneSteps);
  EXPECT_TRUE(run.poolStepsOnCaller);
  // The thumbnails carry the same names and the same bytes.
  EXPECT_EQ(Differences(run.oneFolder.Path(), run.poolFolder.Path()), "");
}

TEST_P(PictureLoadPool, ContinuesTheNumberingOfAListThatHoldsPictures) {
  TempFolder other;
  std::vector<std::string> paths = MixedPaths(other);
  paths.resize(12);
  SideBySide run;
  for (PictureList* list : {&run.one, &run.pool}) {
    list->SetCounter(41);
    list->Append(PictureRecord(TestPicture("exifpy-Canon_40D.jpg"), "state1", "cache_3.jpg"));
    list->At(0).m_selected = 1;
  }
  run.Load(paths, GetParam());
  ExpectSameRecords(run.one, run.pool);
  EXPECT_EQ(Differences(run.oneFolder.Path(), run.poolFolder.Path()), "");
}

TEST_P(PictureLoadPool, StopsWhereOneWorkerStopsWhenCancelledAndLeavesNoExtraThumbnails) {
  TempFolder other;
  const std::vector<std::string> paths = MixedPaths(other);
  for (const int after : {1, 3, 10}) {
    TempFolder oneFolder;
    TempFolder poolFolder;
    PictureList one;
    PictureList pool;
    std::atomic<bool> oneGoing{true};
    std::atomic<bool> poolGoing{true};
    CancellingProgress oneCancel(oneGoing, after);
    CancellingProgress poolCancel(poolGoing, after);
    EXPECT_TRUE(one.AddPictures(paths, oneFolder.Path(), oneCancel, oneGoing));
    EXPECT_TRUE(AddPicturesOnWorkers(pool, paths, poolFolder.Path(), poolCancel, poolGoing, GetParam()));
    ExpectSameRecords(one, pool);
    EXPECT_EQ(poolCancel.steps, oneCancel.steps);
    EXPECT_EQ(Differences(oneFolder.Path(), poolFolder.Path()), "") << "cancelled after " << after;
  }
}

TEST_P(PictureLoadPool, MakesOnlyTheFirstPictureWhenCancelledBeforeItStarts) {
  TempFolder other;
  const std::vector<std::string> paths = MixedPaths(other);
  SideBySide run;
  std::atomic<bool> stopped{false};
  CountingProgress oneSteps;
  CountingProgress poolSteps;
  EXPECT_TRUE(run.one.AddPictures(paths, run.oneFolder.Path(), oneSteps, stopped));
  EXPECT_TRUE(AddPicturesOnWorkers(run.pool, paths, run.poolFolder.Path(), poolSteps, stopped, GetParam()));
  EXPECT_EQ(run.one.Count(), 1U);
  ExpectSameRecords(run.one, run.pool);
  EXPECT_EQ(poolSteps.steps, 0);
  EXPECT_EQ(Differences(run.oneFolder.Path(), run.poolFolder.Path()), "");
}

TEST_P(PictureLoadPool, AnswersFalseAtTheFirstThumbnailThatCantBeWritten) {
  TempFolder other;
  const std::vector<std::string> paths = MixedPaths(other);
  PictureList one;
  PictureList pool;
  std::atomic<bool> keepGoing{true};
  CountingProgress oneSteps;
  CountingProgress poolSteps;
  const std::string nowhere = other / "no/such/folder";
  EXPECT_FALSE(one.AddPictures(paths, nowhere, oneSteps, keepGoing));
  EXPECT_FALSE(AddPicturesOnWorkers(pool, paths, nowhere, poolSteps, keepGoing, GetParam()));
  ExpectSameRecords(one, pool);
  EXPECT_EQ(poolSteps.steps, oneSteps.steps);
}

// Markers first: the pictures are listed with the sizes their thumbnails will have, and the
// thumbnails are made afterwards. Once they are made, list and folder are what one worker gives.
TEST_P(PictureLoadPool, ListsThePicturesFirstAndTheirThumbnailsAfterAsOneWorkerDoes) {
  TempFolder other;
  std::vector<std::string> paths = MixedPaths(other);
  TempFolder oneFolder;
  TempFolder laterFolder;
  PictureList one;
  PictureList later;
  std::atomic<bool> keepGoing{true};
  CountingProgress oneSteps;
  EXPECT_TRUE(one.AddPictures(paths, oneFolder.Path(), oneSteps, keepGoing));

  const std::vector<ThumbnailJob> jobs =
      AddPicturesLeavingThumbnails(later, paths, laterFolder.Path(), keepGoing, GetParam());
  ASSERT_GT(jobs.size(), 50U);
  EXPECT_TRUE(FolderFiles(laterFolder.Path()).empty());
  // Before any thumbnail exists the list is already the final one, sizes included, except for
  // pictures whose thumbnail will not decode.
  std::size_t sameBefore = 0;
  for (std::size_t i = 0; i < later.Count() && i < one.Count(); ++i) {
    sameBefore += later.At(i).m_width == one.At(i).m_width && later.At(i).m_height == one.At(i).m_height ? 1U : 0U;
  }
  EXPECT_GE(sameBefore + 3, one.Count());

  std::mutex mutex;
  std::vector<std::size_t> madeIndexes;
  const std::vector<ThumbnailOutcome> outcomes = MakeThumbnailsOnWorkers(
      jobs, laterFolder.Path(), keepGoing,
      [&](std::size_t index, const ThumbnailOutcome& outcome) {
        EXPECT_TRUE(outcome.started);
        // The thumbnail is on disk when it is announced.
        EXPECT_EQ(fs::exists(fs::path(laterFolder.Path()) / jobs[index].cacheName),
                  outcome.result == PictureResult::Success);
        std::scoped_lock lock(mutex);
        madeIndexes.push_back(index);
      },
      GetParam());
  std::sort(madeIndexes.begin(), madeIndexes.end());
  ASSERT_EQ(madeIndexes.size(), jobs.size());
  for (std::size_t i = 0; i < madeIndexes.size(); ++i) {
    EXPECT_EQ(madeIndexes[i], i);
  }
  EXPECT_TRUE(ApplyThumbnailOutcomes(later, jobs, outcomes));
  ExpectSameRecords(one, later);
  EXPECT_EQ(Differences(oneFolder.Path(), laterFolder.Path()), "");
}

TEST_P(PictureLoadPool, StopsMakingThumbnailsWhenCancelledAndKeepsThePictures) {
  TempFolder other;
  const std::vector<std::string> paths = MixedPaths(other);
  TempFolder folder;
  PictureList list;
  std::atomic<bool> keepGoing{true};
  const std::vector<ThumbnailJob> jobs = AddPicturesLeavingThumbnails(list, paths, folder.Path(), keepGoing);
  const std::size_t listed = list.Count();
  std::atomic<int> made{0};
  const std::vector<ThumbnailOutcome> outcomes = MakeThumbnailsOnWorkers(
      jobs, folder.Path(), keepGoing,
      [&](std::size_t, const ThumbnailOutcome&) {
        if (++made == 5) {
          keepGoing = false;
        }
      },
      GetParam());
  // Each worker finishes the thumbnail it has; none is started after the cancel.
  const auto started = static_cast<std::size_t>(
      std::count_if(outcomes.begin(), outcomes.end(), [](const ThumbnailOutcome& o) { return o.started; }));
  EXPECT_GE(started, 5U);
  EXPECT_LE(started, 5U + GetParam());
  EXPECT_EQ(static_cast<std::size_t>(made.load()), started);
  EXPECT_TRUE(ApplyThumbnailOutcomes(list, jobs, outcomes));
  EXPECT_EQ(list.Count(), listed);
  std::size_t onDisk = 0;
  for (const auto& [name, bytes] : FolderFiles(folder.Path())) {
    onDisk += name.rfind("cache_", 0) == 0 ? 1U : 0U;
  }
  EXPECT_LE(onDisk, started);
}

TEST_P(PictureLoadPool, ReportsAThumbnailThatCantBeWrittenAndKeepsThePictures) {
  TempFolder other;
  const std::vector<std::string> paths = MixedPaths(other);
  PictureList list;
  std::atomic<bool> keepGoing{true};
  const std::string nowhere = other / "no/such/folder";
  const std::vector<ThumbnailJob> jobs = AddPicturesLeavingThumbnails(list, paths, nowhere, keepGoing, GetParam());
  const std::size_t listed = list.Count();
  ASSERT_GT(listed, 50U);
  const std::vector<ThumbnailOutcome> outcomes = MakeThumbnailsOnWorkers(jobs, nowhere, keepGoing, {}, GetParam());
  EXPECT_FALSE(ApplyThumbnailOutcomes(list, jobs, outcomes));
  // The pictures stay on the list, with their positions: only their thumbnails are missing.
  EXPECT_EQ(list.Count(), listed);
}

INSTANTIATE_TEST_SUITE_P(Workers, PictureLoadPool, ::testing::Values(2U, 3U, 8U));

}  // namespace
