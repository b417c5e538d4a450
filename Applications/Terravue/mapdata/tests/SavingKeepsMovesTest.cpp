// Saving a map never loses a move: a picture whose file does not get its new
// position is reported with its reason and keeps the move through every save
// and reopening; a picture changed by another program is not overwritten;
// coordinate texts are checked before they reach a file; saving as a new
// state is all or nothing; thumbnail names never collide; one file is added
// once however it is reached.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "Applications/Terravue/mapdata/CoordinateText.h"
#include "Applications/Terravue/mapdata/MapDataFiles.h"
#include "Applications/Terravue/mapdata/MapStateStore.h"
#include "Applications/Terravue/mapdata/PictureLoadPool.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"
#include "xp/image/XpExifRewrite.h"
#include "xp/tiff/XpGPSRecord.h"

namespace {

constexpr const char* kPlain = "exifr-iptc-agency-photographer-example.jpg";  // GPS, no maker note
constexpr const char* kNoGps = "exifpy-Canon_40D.jpg";                        // no GPS directory
constexpr const char* kOtherMaker = "exifpy-DSCN0010.jpg";                    // another maker's note

const std::string kLatitude = "N:35:37:32.828";
const std::string kLongitude = "E:139:44:31.338";

MapPageAddresses Addresses() { return {"http://127.0.0.1:1/maps", "http://127.0.0.1:1"}; }

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") {
        names.insert(name);
      }
    }
    ::closedir(dir);
  }
  return names;
}

// An unnamed map under its own root whose pictures are copies of the test
// pictures, added as the program adds them.
struct Map {
  TempFolder pictures;
  TempFolder root;
  TempFolder program;
  MapState state{root.Path()};
  std::vector<std::string> paths;

  explicit Map(std::initializer_list<const char*> names) {
    int n = 0;
    for (const char* name : names) {
      paths.push_back(pictures / (std::to_string(n++) + "-" + name));
      EXPECT_TRUE(CopyFileTo(TestPicture(name), paths.back()));
    }
    NullProgressSink progress;
    std::atomic<bool> keepGoing{true};
    EXPECT_TRUE(state.m_pictures.AddPictures(paths, root.Path(), progress, keepGoing));
  }
  PictureRecord& Of(const std::string& path) {
    for (PictureRecord& record : state.m_pictures.Records()) {
      if (record.m_path == path) {
        return record;
      }
    }
    ADD_FAILURE() << "not on the map: " << path;
    return state.m_pictures.At(0);
  }
};

const WriteFailure* ProblemOf(const WriteBackReport& report, const std::string& path) {
  for (const WriteFailure& failure : report.problems) {
    if (failure.path == path) {
      return &failure;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Coordinate texts

TEST(CoordinateCheck, AcceptsWhatThePageAndTheListWrite) {
  for (const char* text : {"N:35:37:32.828", "S:00:00:00.000", "N:90:00:00.000", "S:9:5:3", "N:89:59:59.999"}) {
    EXPECT_EQ(ValidateCoordinateText(text, /*latitude=*/true), XpStatus::Ok) << text;
  }
  for (const char* text : {"E:139:44:31.338", "W:180:00:00.000", "E:000:00:00.000", "W:7:30:00"}) {
    EXPECT_EQ(ValidateCoordinateText(text, /*latitude=*/false), XpStatus::Ok) << text;
  }
}

TEST(CoordinateCheck, RefusesWrongLettersRangesAndTextThatDoesNotScan) {
  for (const char* text :
       {"garbage", "Q:96:00:00.000", "E:35:00:00.000", "n:35:00:00.000", "N:96:00:00.000", "N:90:00:00.001",
        "N:90:01:00.000", "N:35:60:00.000", "N:35:00:60.000", "N:35:00:00.5", "N:35:00:00.0000", "N:35:00:00.000x",
        " N:35:00:00.000", "N:-1:00:00.000", "N:35:00", "N35:00:00.000", "", "X:99:99:99.999", "N:1000:00:00.000"}) {
    EXPECT_EQ(ValidateCoordinateText(text, /*latitude=*/true), XpStatus::BadCoordinate) << "[" << text << "]";
  }
  for (const char* text : {"N:139:00:00.000", "E:181:00:00.000", "W:180:00:00.001", "E:139:60:00.000",
                           "X:999:99:99.999", "E:139:44:31.338 "}) {
    EXPECT_EQ(ValidateCoordinateText(text, /*latitude=*/false), XpStatus::BadCoordinate) << "[" << text << "]";
  }
}

TEST(CoordinateCheck, ABadTextIsWrittenNowhereIsReportedAndKeepsTheMove) {
  for (const auto& [latitude, longitude] : std::vector<std::pair<std::string, std::string>>{
           {"garbage", kLongitude}, {"Q:96:00:00.000", kLongitude}, {kLatitude, "E:200:00:00.000"}}) {
    Map map({kPlain});
    PictureRecord& record = map.state.m_pictures.At(0);
    const std::string thumbnail = record.ThumbnailPath(map.root.Path());
    const std::string pictureBefore = ReadFileText(map.paths[0]);
    const std::string thumbnailBefore = ReadFileText(thumbnail);
    record.SetPosition(latitude, longitude);
    const WriteBackReport report = map.state.WritePositionsIntoPictures(nullptr, nullptr);
    EXPECT_EQ(ReadFileText(map.paths[0]), pictureBefore) << latitude;
    EXPECT_EQ(ReadFileText(thumbnail), thumbnailBefore) << latitude;
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0].status, XpStatus::BadCoordinate);
    EXPECT_EQ(report.problems[0].reason, WriteFailureReason::BadCoordinate);
    EXPECT_TRUE(report.written.empty());
    EXPECT_EQ(record.m_modified, 1);
    EXPECT_EQ(record.m_latitude, latitude);
  }
}

// ---------------------------------------------------------------------------
// Reporting and keeping moves

TEST(WriteBackReport, EveryRewriteStatusHasItsPlainReason) {
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::PictureReadOnly), WriteFailureReason::ReadOnly);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::AccessDenied), WriteFailureReason::ReadOnly);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::FileNotFound), WriteFailureReason::Missing);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::PathNotFound), WriteFailureReason::Missing);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::ChangedOnDisk), WriteFailureReason::ChangedOnDisk);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::TooManySegments), WriteFailureReason::TooManySegments);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::ExifDamaged), WriteFailureReason::ExifDamaged);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::NoExif), WriteFailureReason::ExifDamaged);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::JpegDecodeFailed), WriteFailureReason::ExifDamaged);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::DiskFull), WriteFailureReason::DiskFull);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::BadCoordinate), WriteFailureReason::BadCoordinate);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::JpegEncodeFailed), WriteFailureReason::Other);
  EXPECT_EQ(WriteFailureReasonOf(XpStatus::Failed), WriteFailureReason::Other);
}

TEST(WriteBackReport, StatusesOfOneSystemErrorCarryTheSystemsText) {
  EXPECT_EQ(SystemTextOf(XpStatus::TooManyOpenFiles), std::strerror(EMFILE));
  EXPECT_EQ(SystemTextOf(XpStatus::NoDevice), std::strerror(ENODEV));
  EXPECT_EQ(SystemTextOf(XpStatus::OutOfMemory), std::strerror(ENOMEM));
  EXPECT_TRUE(SystemTextOf(XpStatus::JpegEncodeFailed).empty());
  EXPECT_TRUE(SystemTextOf(XpStatus::Failed).empty());
}

TEST(WriteBackReport, ListsEveryUnwrittenPictureWithItsReasonAndKeepsTheirMoves) {
  Map map({kPlain, kNoGps, kOtherMaker, kPlain});
  const std::string& written = map.paths[0];
  const std::string& missing = map.paths[1];
  const std::string& declined = map.paths[2];
  const std::string& changed = map.paths[3];
  for (PictureRecord& record : map.state.m_pictures.Records()) {
    record.SetPosition(kLatitude, kLongitude);
  }
  ASSERT_EQ(::unlink(missing.c_str()), 0);
  // Another program appends to the file after it was loaded.
  WriteFileText(changed, ReadFileText(changed) + "x");
  const std::string changedBytes = ReadFileText(changed);
  FakeQuestion question;
  question.answer = false;
  RecordingLauncher launcher;

  const WriteBackReport report = map.state.WritePositionsIntoPictures(&question, &launcher);
  EXPECT_EQ(report.written, std::vector<std::string>{written});
  ASSERT_EQ(report.problems.size(), 3u);
  ASSERT_NE(ProblemOf(report, missing), nullptr);
  EXPECT_EQ(ProblemOf(report, missing)->reason, WriteFailureReason::Missing);
  ASSERT_NE(ProblemOf(report, declined), nullptr);
  EXPECT_EQ(ProblemOf(report, declined)->reason, WriteFailureReason::Declined);
  ASSERT_NE(ProblemOf(report, changed), nullptr);
  EXPECT_EQ(ProblemOf(report, changed)->reason, WriteFailureReason::ChangedOnDisk);
  EXPECT_EQ(ProblemOf(report, changed)->status, XpStatus::ChangedOnDisk);
  // The changed file keeps the other program's change.
  EXPECT_EQ(ReadFileText(changed), changedBytes);

  EXPECT_EQ(map.Of(written).m_modified, 0);
  for (const std::string& path : {missing, declined, changed}) {
    EXPECT_EQ(map.Of(path).m_modified, 1) << path;
    EXPECT_EQ(map.Of(path).m_latitude, kLatitude) << path;
  }
  EXPECT_TRUE(map.state.AnyModified());
}

TEST(ChangedOnDisk, OnlyAChangeOfSizeOrTimeCountsAndTheProgramsOwnWriteIsNone) {
  Map map({kPlain});
  PictureRecord& record = map.state.m_pictures.At(0);
  ASSERT_TRUE(record.HasFileStamp());
  EXPECT_FALSE(record.ChangedOnDisk());
  record.SetPosition(kLatitude, kLongitude);
  WriteBackReport report = map.state.WritePositionsIntoPictures(nullptr, nullptr);
  ASSERT_EQ(report.written.size(), 1u);
  // After its own rewrite the program may move the picture again.
  EXPECT_FALSE(record.ChangedOnDisk());
  record.SetPosition("S:10:00:00.000", kLongitude);
  report = map.state.WritePositionsIntoPictures(nullptr, nullptr);
  ASSERT_EQ(report.written.size(), 1u);

  // The same size, another modification time: changed.
  record.SetPosition("S:11:00:00.000", kLongitude);
  const std::string before = ReadFileText(map.paths[0]);
  struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123}};
  ASSERT_EQ(::utimensat(AT_FDCWD, map.paths[0].c_str(), times, 0), 0);
  EXPECT_TRUE(record.ChangedOnDisk());
  report = map.state.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_TRUE(report.written.empty());
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].reason, WriteFailureReason::ChangedOnDisk);
  EXPECT_EQ(ReadFileText(map.paths[0]), before);
  EXPECT_EQ(record.m_modified, 1);

  // Told about it, the user saves again: the file as it is now gets the move.
  report = map.state.WritePositionsIntoPictures(nullptr, nullptr);
  EXPECT_EQ(report.written.size(), 1u);
  EXPECT_TRUE(report.problems.empty());
  XpGPSRecord gps;
  ASSERT_EQ(XpExifRewrite::ReadGPS(map.paths[0], gps), XpStatus::Ok);
  EXPECT_EQ(gps.latitude.numerators[0], 11u);
  EXPECT_EQ(record.m_modified, 0);
}

TEST(KeptMoves, TheStateFileStoresTheMovedPositionAndItsMarkAndReadsThemBack) {
  Map map({kPlain, kNoGps});
  map.state.m_pictures.At(0).SetPosition(kLatitude, kLongitude);
  map.state.m_pictures.At(1).SetPosition("S:10:00:00.000", "W:020:00:00.000");
  ASSERT_EQ(::unlink(map.state.m_pictures.At(1).m_path.c_str()), 0);
  MapStateStore store(map.root.Path());
  MapState saved;
  WriteBackReport report;
  ASSERT_EQ(store.SaveAsNew(map.state, "Trip", map.program.Path(), Addresses(), nullptr, nullptr, &saved, &report),
            MapStateStore::SaveResult::Saved);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_TRUE(saved.AnyModified());

  MapState reopened = MapState::Listed("Trip", map.root / "Trip/data.tvd");
  ASSERT_EQ(reopened.Read(), PictureResult::Success);
  ASSERT_EQ(reopened.m_pictures.Count(), 2u);
  for (const PictureRecord& record : reopened.m_pictures.Records()) {
    if (record.m_latitude == "S:10:00:00.000") {
      EXPECT_EQ(record.m_modified, 1);
      EXPECT_EQ(record.m_longitude, "W:020:00:00.000");
    } else {
      EXPECT_EQ(record.m_latitude, kLatitude);
      EXPECT_EQ(record.m_modified, 0);
    }
  }
  // Refreshing (what opening a state does) keeps the move; the file holds none.
  reopened.m_pictures.RefreshAll(reopened.m_rootFolder);
  EXPECT_TRUE(reopened.AnyModified());
  // The text settles: written and read again it is the same.
  MapState again = MapState::Listed("Trip", map.root / "Trip/data.tvd");
  ASSERT_EQ(again.ReadFromText(reopened.StateText()), PictureResult::Success);
  EXPECT_EQ(again.StateText(), reopened.StateText());
}

TEST(KeptMoves, RefreshKeepsTheMoveOfAPictureNotWrittenAndRetryingWritesIt) {
  Map map({kOtherMaker});
  PictureRecord& record = map.state.m_pictures.At(0);
  record.SetPosition(kLatitude, kLongitude);
  FakeQuestion question;
  // Declined first: the move stays, the file keeps its position.
  question.answer = false;
  (void)map.state.WritePositionsIntoPictures(&question, nullptr);
  EXPECT_EQ(ReadFileText(map.paths[0]), ReadFileText(TestPicture(kOtherMaker)));
  map.state.m_pictures.RefreshAll(map.root.Path());
  EXPECT_EQ(record.m_latitude, kLatitude);
  EXPECT_EQ(record.m_modified, 1);
  // Asked again and accepted, the picture gets the move.
  question.answer = true;
  const WriteBackReport report = map.state.WritePositionsIntoPictures(&question, nullptr);
  EXPECT_EQ(question.asked.size(), 2u);
  EXPECT_EQ(report.written.size(), 1u);
  XpGPSRecord gps;
  ASSERT_EQ(XpExifRewrite::ReadGPS(map.paths[0], gps), XpStatus::Ok);
  EXPECT_EQ(gps.latitude.numerators, (std::array<std::uint32_t, 3>{35, 37, 32828}));
  EXPECT_FALSE(map.state.AnyModified());
}

TEST(KeptMoves, SaveOverKeepsTheMoveOfAMissingPictureInTheStateFile) {
  Map map({kPlain});
  MapStateStore store(map.root.Path());
  MapState saved;
  ASSERT_EQ(store.SaveAsNew(map.state, "Trip", map.program.Path(), Addresses(), nullptr, nullptr, &saved, nullptr),
            MapStateStore::SaveResult::Saved);
  saved.m_pictures.At(0).SetPosition(kLatitude, kLongitude);
  ASSERT_EQ(::unlink(map.paths[0].c_str()), 0);
  WriteBackReport report;
  ASSERT_TRUE(MapStateStore::SaveOver(saved, map.program.Path(), Addresses(), nullptr, nullptr, &report));
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].reason, WriteFailureReason::Missing);
  MapState reopened = MapState::Listed("Trip", map.root / "Trip/data.tvd");
  ASSERT_EQ(reopened.Read(), PictureResult::Success);
  EXPECT_EQ(reopened.m_pictures.At(0).m_latitude, kLatitude);
  EXPECT_EQ(reopened.m_pictures.At(0).m_modified, 1);
}

TEST(KeptMoves, TheStateFileKeepsItsSevenLinesAndTheMovesListMarksTheMove) {
  Map map({kPlain, kNoGps});
  map.state.m_pictures.At(1).SetPosition(kLatitude, kLongitude);
  const std::string missing = map.state.m_pictures.At(1).m_path;
  ASSERT_EQ(::unlink(missing.c_str()), 0);
  MapStateStore store(map.root.Path());
  MapState saved;
  WriteBackReport report;
  ASSERT_EQ(store.SaveAsNew(map.state, "Trip", map.program.Path(), Addresses(), nullptr, nullptr, &saved, &report),
            MapStateStore::SaveResult::Saved);
  ASSERT_EQ(report.problems.size(), 1u);
  const std::string stateText = ReadFileText(map.root / "Trip/data.tvd");
  EXPECT_EQ(stateText.find("moved"), std::string::npos);
  EXPECT_EQ(std::count(stateText.begin(), stateText.end(), '\n'), 7 + 2 * 7 + 1);
  const std::string movesText = ReadFileText(map.root / "Trip/moves.txt");
  EXPECT_EQ(movesText.rfind("#Terravue pending moves 1\r\n", 0), 0u) << movesText;
  EXPECT_NE(movesText.find("\t" + missing + "\r\n"), std::string::npos) << movesText;
  EXPECT_EQ(std::count(movesText.begin(), movesText.end(), '\n'), 2);

  // Once nothing is moved, the list goes away.
  MapState reopened = MapState::Listed("Trip", map.root / "Trip/data.tvd");
  ASSERT_EQ(reopened.Read(), PictureResult::Success);
  ASSERT_TRUE(reopened.AnyModified());
  for (PictureRecord& record : reopened.m_pictures.Records()) {
    record.m_modified = 0;
  }
  ASSERT_EQ(reopened.Write(false), PictureResult::Success);
  EXPECT_FALSE(std::filesystem::exists(map.root / "Trip/moves.txt"));
}

TEST(KeptOnMapOnly, APositionKeptOnTheMapOnlyLeavesTheMovesAndSurvivesReopeningAndRefreshing) {
  // A read-only photo: its move can't be written.
  Map map({kPlain, kNoGps});
  const std::string stuck = map.paths[0];
  const std::string photoBefore = ReadFileText(stuck);
  map.Of(stuck).SetPosition("S:10:00:00.000", "W:020:00:00.000");
  const auto at = [](MapState& state, const std::string& path) -> PictureRecord& {
    for (PictureRecord& record : state.m_pictures.Records()) {
      if (record.m_path == path) {
        return record;
      }
    }
    ADD_FAILURE() << "not on the map: " << path;
    return state.m_pictures.At(0);
  };
  ASSERT_EQ(::chmod(stuck.c_str(), 0444), 0);
  MapStateStore store(map.root.Path());
  MapState saved;
  WriteBackReport report;
  ASSERT_EQ(store.SaveAsNew(map.state, "Trip", map.program.Path(), Addresses(), nullptr, nullptr, &saved, &report),
            MapStateStore::SaveResult::Saved);
  ASSERT_EQ(report.problems.size(), 1u);
  const std::string stateBefore = ReadFileText(map.root / "Trip/data.tvd");

  // Only moved pictures that are named are kept: not the one that was not moved.
  EXPECT_EQ(saved.KeepOnMapOnly({stuck, map.paths[1], "/nowhere/else.jpg"}), 1u);
  EXPECT_FALSE(saved.AnyModified());
  EXPECT_EQ(at(saved, stuck).m_mapOnly, 1);
  EXPECT_EQ(at(saved, map.paths[1]).m_mapOnly, 0);
  ASSERT_EQ(saved.Write(/*stamp=*/false), PictureResult::Success);
  // The state file is as it was; the moves list is gone, the map-only list names the photo.
  EXPECT_EQ(ReadFileText(map.root / "Trip/data.tvd"), stateBefore);
  EXPECT_FALSE(std::filesystem::exists(map.root / "Trip/moves.txt"));
  const std::string index = saved.m_pictures.At(0).m_path == stuck ? "0" : "1";
  EXPECT_EQ(ReadFileText(map.root / "Trip/maponly.txt"),
            "#Terravue map-only positions 1\r\n" + index + "\t" + stuck + "\r\n");
  EXPECT_EQ(ReadFileText(stuck), photoBefore);

  // Reopened and refreshed as opening a map does, the position is still the map's.
  MapState reopened = MapState::Listed("Trip", map.root / "Trip/data.tvd");
  ASSERT_EQ(reopened.Read(), PictureResult::Success);
  EXPECT_FALSE(reopened.AnyModified());
  reopened.m_pictures.RefreshAll(reopened.m_rootFolder);
  EXPECT_EQ(at(reopened, stuck).m_latitude, "S:10:00:00.000");
  EXPECT_EQ(at(reopened, stuck).m_longitude, "W:020:00:00.000");
  EXPECT_EQ(at(reopened, stuck).m_mapOnly, 1);
  // The other photo's position comes from its file as before.
  EXPECT_EQ(at(reopened, map.paths[1]).m_mapOnly, 0);
  EXPECT_FALSE(reopened.AnyModified());
  // Nothing is written into the photo by a save.
  EXPECT_TRUE(reopened.WritePositionsIntoPictures(nullptr, nullptr).problems.empty());
  EXPECT_EQ(ReadFileText(stuck), photoBefore);

  // Moved again once it can be written, the photo gets the position and the list goes.
  ASSERT_EQ(::chmod(stuck.c_str(), 0644), 0);
  at(reopened, stuck).SetPosition(kLatitude, kLongitude);
  const WriteBackReport written = reopened.WritePositionsIntoPictures(nullptr, nullptr);
  ASSERT_EQ(written.written.size(), 1u);
  EXPECT_EQ(at(reopened, stuck).m_mapOnly, 0);
  ASSERT_EQ(reopened.Write(/*stamp=*/false), PictureResult::Success);
  EXPECT_FALSE(std::filesystem::exists(map.root / "Trip/maponly.txt"));
}

TEST(KeptOnMapOnly, AListThatDoesNotFitTheStateMarksOnlyWhatItNames) {
  const std::string text =
      "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tX:99:99:99.999\n\tX:999:99:99.999\n\t2\n"
      "\t{\n\t\t/nowhere/a.jpg\n\t\tcache_0.jpg\n\t\tN:35:00:00.000\n\t\tE:135:00:00.000\n\t\t2007/3/7 9:5:3\n\t}\n"
      "\t{\n\t\t/nowhere/b\tc.jpg\n\t\tcache_1.jpg\n\t\tN:35:00:00.000\n\t\tE:135:00:00.000\n\t\t2007/3/7 "
      "9:5:3\n\t}\n}\n";
  struct Case {
    const char* list;
    int first;
    int second;
  };
  const Case cases[] = {
      {"#Terravue map-only positions 1\r\n1\t/nowhere/b\tc.jpg\r\n", 0, 1},  // a tab in the path
      {"#Terravue map-only positions 1\n0\t/nowhere/a.jpg\n", 1, 0},         // LF only
      {"#Terravue map-only positions 1\r\n0\t/nowhere/b\tc.jpg\r\n", 0, 0},  // index and path differ
      {"#Terravue map-only positions 1\r\n2\t/nowhere/a.jpg\r\n-1\t/nowhere/a.jpg\r\n", 0, 0},
      {"#Terravue map-only positions 1\r\n99999999999999999999\t/nowhere/a.jpg\r\n0 /nowhere/a.jpg\r\n", 0, 0},
      {"#Terravue pending moves 1\r\n0\t/nowhere/a.jpg\r\n", 0, 0},  // another list's header
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    MapState state = MapState::Listed("Trip", "/nowhere/root/Trip/data.tvd");
    ASSERT_EQ(state.ReadFromText(text), PictureResult::Success);
    state.ApplyMapOnlyText(c.list);
    EXPECT_EQ(state.m_pictures.At(0).m_mapOnly, c.first) << c.list;
    EXPECT_EQ(state.m_pictures.At(1).m_mapOnly, c.second) << c.list;
    EXPECT_FALSE(state.AnyModified()) << c.list;
  }
}

TEST(KeptMoves, AMovesListThatDoesNotFitTheStateMarksOnlyWhatItNames) {
  const std::string text =
      "#Terravue data version 1.1\n{\n\t2007/3/7 9:5:3\n\t9\n\tX:99:99:99.999\n\tX:999:99:99.999\n\t2\n"
      "\t{\n\t\t/nowhere/a.jpg\n\t\tcache_0.jpg\n\t\tN:35:00:00.000\n\t\tE:135:00:00.000\n\t\t2007/3/7 9:5:3\n\t}\n"
      "\t{\n\t\t/nowhere/b\tc.jpg\n\t\tcache_1.jpg\n\t\tN:35:00:00.000\n\t\tE:135:00:00.000\n\t\t2007/3/7 "
      "9:5:3\n\t}\n}\n";
  struct Case {
    const char* moves;
    int firstMoved;
    int secondMoved;
    std::int64_t secondSize;
  };
  const Case cases[] = {
      {"#Terravue pending moves 1\r\n1\t120\t1700000000000000001\t/nowhere/b\tc.jpg\r\n", 0, 1, 120},
      // Without a usable stamp the move still counts; the file is then not compared.
      {"#Terravue pending moves 1\n1\t-1\t0\t/nowhere/b\tc.jpg\n", 0, 1, -1},
      {"#Terravue pending moves 1\n1\t99999999999999999999\t1\t/nowhere/b\tc.jpg\n", 0, 1, -1},
      // Wrong path, index out of range, broken index, missing fields, wrong header.
      {"#Terravue pending moves 1\n0\t1\t1\t/nowhere/b\tc.jpg\n", 0, 0, -1},
      {"#Terravue pending moves 1\n2\t1\t1\t/nowhere/a.jpg\n-1\t1\t1\t/nowhere/a.jpg\n", 0, 0, -1},
      {"#Terravue pending moves 1\nx\t1\t1\t/nowhere/a.jpg\n0\t1\n", 0, 0, -1},
      {"#Terravue pending moves 2\n0\t1\t1\t/nowhere/a.jpg\n", 0, 0, -1},
  };
  for (const Case& c : cases) {
    MapState state = MapState::Listed("Trip", "/nowhere/Trip/data.tvd");
    ASSERT_EQ(state.ReadFromText(text), PictureResult::Success);
    ASSERT_EQ(state.m_pictures.Count(), 2u);
    state.ApplyMovesText(c.moves);
    EXPECT_EQ(state.m_pictures.At(0).m_modified, c.firstMoved) << c.moves;
    EXPECT_EQ(state.m_pictures.At(1).m_modified, c.secondMoved) << c.moves;
    if (c.secondMoved != 0) {
      EXPECT_EQ(state.m_pictures.At(1).m_fileSize, c.secondSize) << c.moves;
    }
  }
}

// ---------------------------------------------------------------------------
// Saving as a new state: all or nothing

TEST(SaveAsNewAllOrNothing, AMissingThumbnailDoesNotStopTheSave) {
  Map map({kPlain, kNoGps});
  ASSERT_EQ(::unlink(map.state.m_pictures.At(0).ThumbnailPath(map.root.Path()).c_str()), 0);
  MapStateStore store(map.root.Path());
  MapState saved;
  ASSERT_EQ(store.SaveAsNew(map.state, "Trip", map.program.Path(), Addresses(), nullptr, nullptr, &saved, nullptr),
            MapStateStore::SaveResult::Saved);
  EXPECT_TRUE(Exists(map.root / "Trip/data.tvd"));
  EXPECT_TRUE(Exists(map.root / "Trip/data.htm"));
  EXPECT_TRUE(Exists(saved.m_pictures.At(1).ThumbnailPath(map.root.Path())));
  // The map on screen keeps its own thumbnail.
  EXPECT_TRUE(Exists(map.state.m_pictures.At(1).ThumbnailPath(map.root.Path())));
}

TEST(SaveAsNewAllOrNothing, AFailureLeavesNoFolderAndTakesNoThumbnailAlsoWhenRetried) {
  Map map({kPlain, kNoGps});
  // Two pictures that name one thumbnail: the second copy finds its place taken.
  map.state.m_pictures.At(1).m_cacheName = map.state.m_pictures.At(0).m_cacheName;
  const std::set<std::string> before = Entries(map.root.Path());
  const std::string firstThumbnail = ReadFileText(map.state.m_pictures.At(0).ThumbnailPath(map.root.Path()));
  MapStateStore store(map.root.Path());
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(store.SaveAsNew(map.state, "Trip", map.program.Path(), Addresses(), nullptr, nullptr, nullptr, nullptr),
              MapStateStore::SaveResult::WriteFailed);
    EXPECT_EQ(Entries(map.root.Path()), before);
  }
  EXPECT_EQ(store.Count(), 0u);
  EXPECT_EQ(ReadFileText(map.state.m_pictures.At(0).ThumbnailPath(map.root.Path())), firstThumbnail);
  // Nothing of the pictures was touched either.
  EXPECT_EQ(ReadFileText(map.paths[0]), ReadFileText(TestPicture(kPlain)));
}

TEST(SaveAsNewAllOrNothing, NeverReplacesAnExistingFolderAndListSkipsPreparedOnes) {
  Map map({kPlain});
  ASSERT_EQ(::mkdir((map.root / "Trip").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir((map.root / (std::string(MapStateStore::kPreparingPrefix) + "1-0")).c_str(), 0777), 0);
  WriteFileText(map.root / (std::string(MapStateStore::kPreparingPrefix) + "1-0/data.tvd"),
                ReadFileText(TestPicture(kPlain)));
  MapStateStore store(map.root.Path());
  MapState saved;
  ASSERT_EQ(store.SaveAsNew(map.state, "Trip", map.program.Path(), Addresses(), nullptr, nullptr, &saved, nullptr),
            MapStateStore::SaveResult::Saved);
  EXPECT_EQ(saved.m_name, "Trip(1)");
  EXPECT_TRUE(Entries(map.root / "Trip").empty());
  EXPECT_EQ(saved.m_stateFilePath, map.root / "Trip(1)/data.tvd");
  MapStateStore listed(map.root.Path());
  ASSERT_EQ(listed.List(""), PictureResult::Success);
  ASSERT_EQ(listed.Count(), 1u);
  EXPECT_EQ(listed.At(0).m_name, "Trip(1)");
}

// ---------------------------------------------------------------------------
// Thumbnail names

TEST(ThumbnailNames, AStateRebuiltWithHigherNumbersGetsNoCollidingName) {
  Map map({kPlain, kNoGps});
  MapStateStore store(map.root.Path());
  MapState saved;
  ASSERT_EQ(store.SaveAsNew(map.state, "Trip", map.program.Path(), Addresses(), nullptr, nullptr, &saved, nullptr),
            MapStateStore::SaveResult::Saved);
  // A map rebuilt from its paths numbers past the old names: its state file
  // lists fewer pictures than the highest number.
  saved.m_pictures.At(0).m_cacheName = "cache_1.jpg";
  saved.m_pictures.At(1).m_cacheName = "cache_2.jpg";
  ASSERT_EQ(::rename((map.root / "Trip/cache_0.jpg").c_str(), (map.root / "Trip/cache_2.jpg").c_str()), 0);
  ASSERT_EQ(saved.Write(/*stamp=*/false), PictureResult::Success);

  MapState reopened = MapState::Listed("Trip", saved.m_stateFilePath);
  ASSERT_EQ(reopened.Read(), PictureResult::Success);
  EXPECT_GE(reopened.m_pictures.Counter(), 3);
  const std::string third = map.pictures / "third.jpg";
  ASSERT_TRUE(CopyFileTo(TestPicture(kOtherMaker), third));
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(reopened.m_pictures.AddPictures({third}, map.root.Path(), progress, keepGoing));
  ASSERT_TRUE(MapStateStore::SaveOver(reopened, map.program.Path(), Addresses(), nullptr, nullptr, nullptr));
  std::set<std::string> names;
  for (const PictureRecord& record : reopened.m_pictures.Records()) {
    names.insert(record.m_cacheName);
    EXPECT_TRUE(Exists(record.ThumbnailPath(map.root.Path()))) << record.m_cacheName;
  }
  EXPECT_EQ(names.size(), 3u);
}

TEST(ThumbnailNames, TakingAThumbnailWhoseNameIsTakenChoosesAFreeOne) {
  TempFolder root;
  MapState state(root.Path());
  state.Rename("Trip");
  ASSERT_TRUE(state.MakeFolder());
  state.m_pictures.Append(PictureRecord("/p/a.jpg", "", "cache_0.jpg"));
  state.m_pictures.SetCounter(1);
  WriteFileText(root / "cache_0.jpg", "new");
  WriteFileText(root / "Trip/cache_0.jpg", "old");
  WriteFileText(root / "Trip/cache_1.jpg", "older");
  ASSERT_TRUE(state.TakeThumbnails());
  EXPECT_EQ(state.m_pictures.At(0).m_cacheName, "cache_2.jpg");
  EXPECT_EQ(ReadFileText(root / "Trip/cache_2.jpg"), "new");
  EXPECT_EQ(ReadFileText(root / "Trip/cache_0.jpg"), "old");
  EXPECT_EQ(ReadFileText(root / "Trip/cache_1.jpg"), "older");
}

// ---------------------------------------------------------------------------
// One file, one picture

TEST(OneFileOnce, ALinkOrAnotherSpellingOfAPathOnTheMapIsNotAddedAgain) {
  Map map({kPlain});
  ASSERT_EQ(::mkdir((map.pictures / "sub").c_str(), 0777), 0);
  const std::string symlink = map.pictures / "link.jpg";
  const std::string hardlink = map.pictures / "hard.jpg";
  ASSERT_EQ(::symlink(map.paths[0].c_str(), symlink.c_str()), 0);
  ASSERT_EQ(::link(map.paths[0].c_str(), hardlink.c_str()), 0);
  const std::string dotted = map.pictures / ("sub/../" + MapFileNameOf(map.paths[0]));
  const std::string other = map.pictures / "other.jpg";
  ASSERT_TRUE(CopyFileTo(TestPicture(kNoGps), other));
  const std::string otherLink = map.pictures / "other-link.jpg";
  ASSERT_EQ(::symlink(other.c_str(), otherLink.c_str()), 0);

  EXPECT_TRUE(map.state.m_pictures.ContainsPath(symlink));
  EXPECT_TRUE(map.state.m_pictures.ContainsPath(hardlink));
  EXPECT_TRUE(map.state.m_pictures.ContainsPath(dotted));
  EXPECT_FALSE(map.state.m_pictures.ContainsPath(other));

  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(map.state.m_pictures.AddPictures({symlink, hardlink, dotted, otherLink, other, map.paths[0]},
                                               map.root.Path(), progress, keepGoing));
  ASSERT_EQ(map.state.m_pictures.Count(), 2u);
  // The first path given for the new file is the one kept.
  EXPECT_TRUE(map.state.m_pictures.ContainsPath(other));
  EXPECT_EQ(map.state.m_pictures.NewFilesOnly({other, otherLink, symlink}), std::vector<std::string>{});
}

TEST(OneFileOnce, LoadingOnSeveralWorkersAddsEachFileOnceToo) {
  Map map({kPlain});
  const std::string symlink = map.pictures / "link.jpg";
  ASSERT_EQ(::symlink(map.paths[0].c_str(), symlink.c_str()), 0);
  const std::string other = map.pictures / "other.jpg";
  ASSERT_TRUE(CopyFileTo(TestPicture(kNoGps), other));
  const std::string otherLink = map.pictures / "other-link.jpg";
  ASSERT_EQ(::symlink(other.c_str(), otherLink.c_str()), 0);
  NullProgressSink progress;
  std::atomic<bool> keepGoing{true};
  ASSERT_TRUE(AddPicturesOnWorkers(map.state.m_pictures, {symlink, other, otherLink, map.paths[0]}, map.root.Path(),
                                   progress, keepGoing, /*workers=*/2));
  EXPECT_EQ(map.state.m_pictures.Count(), 2u);
}

}  // namespace

// ---------------------------------------------------------------------------
// Stopping a save between pictures

namespace {

// Stops the writing once `stopAt` pictures are dealt with, recording every call.
class StopAfter final : public WriteProgress {
 public:
  explicit StopAfter(std::size_t stopAt) : m_stopAt(stopAt) {}
  bool Continue(std::size_t done, std::size_t total) override {
    calls.emplace_back(done, total);
    return done < m_stopAt;
  }
  std::vector<std::pair<std::size_t, std::size_t>> calls;

 private:
  std::size_t m_stopAt;
};

}  // namespace

TEST(StoppedSave, PicturesBeforeTheStopAreWrittenTheRestUntouchedAndListedAsPending) {
  Map map({kPlain, kNoGps, kPlain, kNoGps, kPlain});
  // The third picture is not moved: it is neither counted nor reported.
  std::vector<std::string> before;
  for (std::size_t i = 0; i < map.paths.size(); ++i) {
    before.push_back(ReadFileText(map.paths[i]));
    if (i != 2) {
      map.Of(map.paths[i]).SetPosition("S:10:00:00.000", "W:020:00:00.000");
    }
  }
  MapStateStore store(map.root.Path());
  MapState saved;
  WriteBackReport report;
  StopAfter progress(2);
  ASSERT_EQ(
      store.SaveAsNew(map.state, "Trip", map.program.Path(), Addresses(), nullptr, nullptr, &saved, &report, &progress),
      MapStateStore::SaveResult::Saved);
  // Asked before each moved picture until it said stop, and not again.
  const std::vector<std::pair<std::size_t, std::size_t>> wanted = {{0, 4}, {1, 4}, {2, 4}};
  EXPECT_EQ(progress.calls, wanted);
  EXPECT_TRUE(report.problems.empty());
  ASSERT_EQ(report.written.size(), 2u);
  ASSERT_EQ(report.stopped.size(), 2u);

  // The pictures in map order: which were written and which left is the order the save went in.
  std::vector<std::string> moved;
  for (const PictureRecord& record : saved.m_pictures.Records()) {
    if (record.m_path != map.paths[2]) {
      moved.push_back(record.m_path);
    }
  }
  EXPECT_EQ(report.written, std::vector<std::string>(moved.begin(), moved.begin() + 2));
  EXPECT_EQ(report.stopped, std::vector<std::string>(moved.begin() + 2, moved.end()));
  for (std::size_t i = 0; i < map.paths.size(); ++i) {
    const std::string& path = map.paths[i];
    const bool written = std::find(report.written.begin(), report.written.end(), path) != report.written.end();
    if (written) {
      XpGPSRecord gps;
      ASSERT_EQ(XpExifRewrite::ReadGPS(path, gps), XpStatus::Ok) << path;
      EXPECT_EQ(gps.latitude.numerators[0], 10u) << path;
      EXPECT_NE(ReadFileText(path), before[i]) << path;
    } else {
      EXPECT_EQ(ReadFileText(path), before[i]) << path;  // untouched, byte for byte
    }
  }

  // The saved map and its moves list hold exactly the pictures left.
  std::size_t pending = 0;
  for (const PictureRecord& record : saved.m_pictures.Records()) {
    const bool left = std::find(report.stopped.begin(), report.stopped.end(), record.m_path) != report.stopped.end();
    EXPECT_EQ(record.m_modified != 0, left) << record.m_path;
    pending += left ? 1 : 0;
  }
  EXPECT_EQ(pending, 2u);
  const std::string movesText = ReadFileText(map.root / "Trip/moves.txt");
  EXPECT_EQ(movesText.rfind("#Terravue pending moves 1\r\n", 0), 0u) << movesText;
  EXPECT_EQ(std::count(movesText.begin(), movesText.end(), '\n'), 3) << movesText;
  for (const std::string& path : report.stopped) {
    EXPECT_NE(movesText.find("\t" + path + "\r\n"), std::string::npos) << movesText;
  }
  MapState reopened = MapState::Listed("Trip", map.root / "Trip/data.tvd");
  ASSERT_EQ(reopened.Read(), PictureResult::Success);
  for (const PictureRecord& record : reopened.m_pictures.Records()) {
    const bool left = std::find(report.stopped.begin(), report.stopped.end(), record.m_path) != report.stopped.end();
    EXPECT_EQ(record.m_modified != 0, left) << record.m_path;
    if (record.m_path != map.paths[2]) {
      EXPECT_EQ(record.m_latitude, "S:10:00:00.000") << record.m_path;
    }
  }

  // Saved over without a stop, the rest is written and the progress hears the end.
  StopAfter goOn(100);
  WriteBackReport again;
  ASSERT_TRUE(MapStateStore::SaveOver(saved, map.program.Path(), Addresses(), nullptr, nullptr, &again, &goOn));
  EXPECT_EQ(again.written, report.stopped);
  EXPECT_TRUE(again.stopped.empty());
  const std::vector<std::pair<std::size_t, std::size_t>> all = {{0, 2}, {1, 2}, {2, 2}};
  EXPECT_EQ(goOn.calls, all);
  EXPECT_FALSE(saved.AnyModified());
  EXPECT_FALSE(std::filesystem::exists(map.root / "Trip/moves.txt"));
}

TEST(StoppedSave, AStopBeforeTheFirstPictureWritesNoPicture) {
  Map map({kPlain, kNoGps});
  const std::string first = ReadFileText(map.paths[0]);
  const std::string second = ReadFileText(map.paths[1]);
  for (PictureRecord& record : map.state.m_pictures.Records()) {
    record.SetPosition(kLatitude, kLongitude);
  }
  StopAfter progress(0);
  const WriteBackReport report = map.state.WritePositionsIntoPictures(nullptr, nullptr, &progress);
  EXPECT_TRUE(report.written.empty());
  EXPECT_EQ(report.stopped.size(), 2u);
  EXPECT_EQ(ReadFileText(map.paths[0]), first);
  EXPECT_EQ(ReadFileText(map.paths[1]), second);
  EXPECT_TRUE(map.state.AnyModified());
}
