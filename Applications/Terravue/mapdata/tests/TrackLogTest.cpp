#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "Applications/Terravue/mapdata/TrackLog.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"
#include "xp/text/XpNumberText.h"

namespace {

constexpr std::int64_t kMay1 = 1714521600;  // 2024-05-01T00:00:00Z

std::string Gpx11(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<gpx version=\"1.1\" creator=\"test\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n" +
         body + "</gpx>\n";
}

std::string Point(double lat, double lon, const std::string& time, const std::string& ele = "") {
  std::string s = "<trkpt lat=\"" + XpFormatFixed(lat, 6) + "\" lon=\"" + XpFormatFixed(lon, 6) + "\">";
  if (!ele.empty()) {
    s += "<ele>" + ele + "</ele>";
  }
  if (!time.empty()) {
    s += "<time>" + time + "</time>";
  }
  return s + "</trkpt>\n";
}

// An NMEA sentence with its checksum.
std::string Sentence(const std::string& body) {
  unsigned sum = 0;
  for (const char c : body) {
    sum ^= static_cast<unsigned char>(c);
  }
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + body + tail;
}

}  // namespace

TEST(TrackTime, ReadsUtcOffsetsAndFractions) {
  EXPECT_EQ(ParseIsoTimeMs("2024-05-01T00:00:00Z"), kMay1 * 1000);
  EXPECT_EQ(ParseIsoTimeMs("2024-05-01T09:00:00+09:00"), kMay1 * 1000);
  EXPECT_EQ(ParseIsoTimeMs("2024-04-30T19:30:00-0430"), kMay1 * 1000);
  EXPECT_EQ(ParseIsoTimeMs("2024-05-01T02:00:00+02"), kMay1 * 1000);
  EXPECT_EQ(ParseIsoTimeMs("2024-05-01T00:00:01.250Z"), kMay1 * 1000 + 1250);
  EXPECT_EQ(ParseIsoTimeMs("2024-05-01T00:00:00.5"), kMay1 * 1000 + 500);
  EXPECT_EQ(ParseIsoTimeMs("2000-02-29T12:00:00Z"), 951825600LL * 1000);
  EXPECT_EQ(ParseIsoTimeMs("1969-12-31T23:59:59Z"), -1000);
}

TEST(TrackTime, RefusesMalformedTimes) {
  for (const char* text : {"", "2024-05-01", "2024-05-01T25:00:00Z", "2023-02-29T00:00:00Z", "2024-13-01T00:00:00Z",
                           "2024-05-01T00:00:00+25:00", "2024-05-01T00:00:00Q", "2024-05-01T00:00:00.Z",
                           "2024-5-1T00:00:00Z", "2024-05-01T00:00:00Z trailing"}) {
    EXPECT_FALSE(ParseIsoTimeMs(text).has_value()) << text;
  }
}

TEST(TrackLogGpx, ReadsPointsSortedWithOptionalElevation) {
  TrackLog log;
  const std::string gpx = Gpx11("<trk><trkseg>\n" + Point(35.1, 139.1, "2024-05-01T00:10:00Z", "12.5") +
                                Point(35.0, 139.0, "2024-05-01T00:00:00Z") + "</trkseg></trk>\n");
  ASSERT_EQ(log.AddBytes(gpx), XpStatus::Ok);
  ASSERT_EQ(log.Fixes().size(), 2u);
  EXPECT_EQ(log.Fixes()[0].timeMs, kMay1 * 1000);
  EXPECT_FALSE(log.Fixes()[0].hasElevation);
  EXPECT_DOUBLE_EQ(log.Fixes()[1].latitude, 35.1);
  EXPECT_TRUE(log.Fixes()[1].hasElevation);
  EXPECT_DOUBLE_EQ(log.Fixes()[1].elevation, 12.5);
  // File order is kept for drawing.
  ASSERT_EQ(log.Segments().size(), 1u);
  EXPECT_DOUBLE_EQ(log.Segments()[0].fixes[0].latitude, 35.1);
  EXPECT_EQ(log.Skipped(), 0u);
}

TEST(TrackLogGpx, SkipsAndCountsPointsWithoutTimeOrWithBadCoordinates) {
  TrackLog log;
  const std::string gpx = Gpx11("<trk><trkseg>\n" + Point(35.0, 139.0, "2024-05-01T00:00:00Z") +
                                Point(35.0, 139.0, "") + Point(91.0, 139.0, "2024-05-01T00:01:00Z") +
                                Point(35.0, -180.5, "2024-05-01T00:02:00Z") + Point(35.0, 139.0, "yesterday") +
                                "<trkpt lat=\"abc\" lon=\"1\"><time>2024-05-01T00:03:00Z</time></trkpt>\n"
                                "<trkpt lon=\"1\"><time>2024-05-01T00:03:00Z</time></trkpt>\n"
                                "<trkpt lat=\"0x10\" lon=\"1\"><time>2024-05-01T00:03:00Z</time></trkpt>\n"
                                "<trkpt lat=\"nan\" lon=\"1\"><time>2024-05-01T00:03:00Z</time></trkpt>\n" +
                                Point(35.0, 139.0, "2024-05-01T00:04:00Z", "high") + "</trkseg></trk>\n");
  ASSERT_EQ(log.AddBytes(gpx), XpStatus::Ok);
  EXPECT_EQ(log.Fixes().size(), 2u);
  EXPECT_EQ(log.Skipped(), 8u);
  // An elevation that does not read leaves the point without one.
  EXPECT_FALSE(log.Fixes()[1].hasElevation);
}

TEST(TrackLogGpx, ReadsGpx10RoutesSegmentsAndSeveralFiles) {
  TrackLog log;
  const std::string gpx10 =
      "<?xml version=\"1.0\"?><gpx version=\"1.0\" xmlns=\"http://www.topografix.com/GPX/1/0\">"
      "<trk><trkseg>" +
      Point(1, 1, "2024-05-01T00:00:00Z") + "</trkseg><trkseg>" + Point(2, 2, "2024-05-01T02:00:00Z") +
      "</trkseg></trk><rte><rtept lat=\"3\" lon=\"3\"><time>2024-05-01T01:00:00Z</time></rtept></rte>"
      "<wpt lat=\"9\" lon=\"9\"><time>2024-05-01T01:30:00Z</time></wpt></gpx>";
  ASSERT_EQ(log.AddBytes(gpx10), XpStatus::Ok);
  const std::string prefixed =
      "<g:gpx xmlns:g=\"http://www.topografix.com/GPX/1/1\"><g:trk><g:trkseg>"
      "<g:trkpt lat=\"4\" lon=\"4\"><g:time>2024-05-01T00:30:00Z</g:time></g:trkpt>"
      "</g:trkseg></g:trk></g:gpx>";
  ASSERT_EQ(log.AddBytes(prefixed), XpStatus::Ok);
  EXPECT_EQ(log.FileCount(), 2u);
  ASSERT_EQ(log.Segments().size(), 4u);
  EXPECT_EQ(log.Segments()[0].file, 0u);
  EXPECT_EQ(log.Segments()[3].file, 1u);
  ASSERT_EQ(log.Fixes().size(), 4u);
  // Waypoints are not part of the track; the rest is merged in time order.
  const double expected[] = {1, 4, 3, 2};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_DOUBLE_EQ(log.Fixes()[i].latitude, expected[i]) << i;
  }
}

TEST(TrackLogGpx, RefusesWhatIsNotAGpxDocument) {
  TrackLog log;
  EXPECT_EQ(log.AddBytes(""), XpStatus::TrackLogInvalid);
  EXPECT_EQ(log.AddBytes("<gpx><trk>"), XpStatus::TrackLogInvalid);
  EXPECT_EQ(log.AddBytes("<kml></kml>"), XpStatus::TrackLogInvalid);
  EXPECT_EQ(log.AddBytes("hello"), XpStatus::TrackLogInvalid);
  EXPECT_EQ(log.FileCount(), 0u);
  EXPECT_TRUE(log.Empty());
}

TEST(TrackLogGpx, RefusesTooManyPointsAndLeavesTheLogUnchanged) {
  TrackLog log(/*maxFixes=*/5);
  const std::string point = Point(1, 1, "2024-05-01T00:00:00Z");
  ASSERT_EQ(log.AddBytes(Gpx11("<trk><trkseg>" + point + point + "</trkseg></trk>")), XpStatus::Ok);
  const std::string four = "<trk><trkseg>" + point + point + point + point + "</trkseg></trk>";
  EXPECT_EQ(log.AddBytes(Gpx11(four)), XpStatus::TrackLogTooLarge);
  EXPECT_EQ(log.Fixes().size(), 2u);
  EXPECT_EQ(log.Segments().size(), 1u);
  EXPECT_EQ(log.FileCount(), 1u);
  // Exactly up to the limit is fine; skipped points do not count.
  EXPECT_EQ(log.AddBytes(Gpx11("<trk><trkseg>" + point + point + point + Point(1, 1, "") + "</trkseg></trk>")),
            XpStatus::Ok);
  EXPECT_EQ(log.Fixes().size(), 5u);
  const std::string nmea = "$GPRMC,101500,A,3537.5000,N,13944.5000,E,0.0,0.0,010524,,,A\n";
  EXPECT_EQ(log.AddBytes(nmea), XpStatus::TrackLogTooLarge);
  EXPECT_EQ(log.AddBytes(std::string(TrackLog::kMaxFileBytes + 1, ' ')), XpStatus::TrackLogTooLarge);
}

TEST(TrackLogFile, RefusesAFileAboveTheSizeLimitBeforeReadingIt) {
  TempFolder folder;
  const std::string path = folder / "big.gpx";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(::ftruncate(fileno(f), static_cast<off_t>(TrackLog::kMaxFileBytes + 1)), 0);
    std::fclose(f);
  }
  TrackLog log;
  EXPECT_EQ(log.AddFile(path), XpStatus::TrackLogTooLarge);
  EXPECT_EQ(log.AddFile(folder / "missing.gpx"), XpStatus::FileNotFound);
  EXPECT_EQ(log.AddFile(folder.Path()), XpStatus::FileInvalid);
  WriteFileText(folder / "ok.gpx", Gpx11("<trk><trkseg>" + Point(1, 1, "2024-05-01T00:00:00Z") + "</trkseg></trk>"));
  EXPECT_EQ(log.AddFile(folder / "ok.gpx"), XpStatus::Ok);
  EXPECT_EQ(log.Fixes().size(), 1u);
}

TEST(TrackLogGpx, ReadsAFileInPiecesAsItReadsTheWholeDocument) {
  // Far longer than one piece read from the file, so that elements, attributes
  // and times are cut at piece boundaries.
  std::string body = "<trk><trkseg>\n";
  for (int i = 0; i < 4000; ++i) {
    const std::string second = (i % 60 < 10 ? "0" : "") + std::to_string(i % 60);
    const std::string minute = (i / 60 % 60 < 10 ? "0" : "") + std::to_string(i / 60 % 60);
    body += Point(35.0 + i * 1e-5, 139.0 - i * 1e-5,
                  "2024-05-01T0" + std::to_string(i / 3600) + ":" + minute + ":" + second + "Z",
                  i % 3 == 0 ? XpFormatFixed(i * 0.25, 2) : "");
  }
  body += "</trkseg></trk>\n<rte>" + std::string(70000, ' ') + "<rtept lat=\"1\" lon=\"2\"><time>\n" +
          std::string(100000, '\t') + "2024-05-02T00:00:00Z" + std::string(100000, '\n') + "</time></rtept></rte>";
  const std::string gpx = Gpx11(body);
  ASSERT_GT(gpx.size(), 4u * 65536);
  const TempFolder dir;
  WriteFileText(dir / "long.gpx", gpx);

  TrackLog fromFile;
  TrackLog fromBytes;
  ASSERT_EQ(fromFile.AddFile(dir / "long.gpx"), XpStatus::Ok);
  ASSERT_EQ(fromBytes.AddBytes(gpx), XpStatus::Ok);
  ASSERT_EQ(fromFile.Fixes().size(), 4001u);
  ASSERT_EQ(fromBytes.Fixes().size(), 4001u);
  ASSERT_EQ(fromFile.Segments().size(), 2u);
  EXPECT_EQ(fromFile.Segments()[1].fixes.size(), 1u);
  for (std::size_t i = 0; i < fromFile.Fixes().size(); ++i) {
    const TrackFix& a = fromFile.Fixes()[i];
    const TrackFix& b = fromBytes.Fixes()[i];
    ASSERT_EQ(a.timeMs, b.timeMs) << i;
    ASSERT_EQ(a.latitude, b.latitude) << i;
    ASSERT_EQ(a.longitude, b.longitude) << i;
    ASSERT_EQ(a.hasElevation, b.hasElevation) << i;
    ASSERT_EQ(a.elevation, b.elevation) << i;
  }
  EXPECT_EQ(fromFile.Fixes()[3].timeMs, (kMay1 + 3) * 1000);
  EXPECT_TRUE(fromFile.Fixes()[3].hasElevation);
  EXPECT_EQ(fromFile.Fixes()[3].elevation, 0.75);
  EXPECT_FALSE(fromFile.Fixes()[4].hasElevation);
  EXPECT_EQ(fromFile.Fixes().back().timeMs, (kMay1 + 86400) * 1000);
}

TEST(TrackLogGpx, RefusesDocumentsThatDeclareEntitiesOrAreCutShort) {
  const std::string laughs =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE gpx [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>\n"
      "<gpx><trk><trkseg>" +
      Point(35.0, 139.0, "2024-05-01T00:00:00Z", "&b;") + "</trkseg></trk></gpx>";
  const std::string whole = Gpx11("<trk><trkseg>" + Point(35.0, 139.0, "2024-05-01T00:00:00Z") + "</trkseg></trk>");
  for (const std::string& gpx : {laughs, whole.substr(0, whole.size() - 8), Gpx11("<trk><trkseg></trk>")}) {
    TrackLog log;
    EXPECT_EQ(log.AddBytes(gpx), XpStatus::TrackLogInvalid) << gpx;
    EXPECT_TRUE(log.Empty());
    EXPECT_EQ(log.FileCount(), 0u);
  }
  // A document in an encoding the reader has no table for still gives its ASCII numbers and times.
  TrackLog log;
  ASSERT_EQ(log.AddBytes("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<gpx><trk><name>Caf\xE9</name><trkseg>" +
                         Point(35.0, 139.0, "2024-05-01T00:00:00Z") + "</trkseg></trk></gpx>"),
            XpStatus::Ok);
  EXPECT_EQ(log.Fixes().size(), 1u);
}

// Peak resident memory of this process so far, in KiB.
long MaxResidentKib() {
  rusage usage{};
  (void)getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Run only in a child process started by ReadInAFreshProcess: reads the track
// named by the environment and reports its status, fixes and peak growth.
TEST(TrackLogMemory, DISABLED_ReadsTheTrackItIsGiven) {
  const char* path = std::getenv("TV_TRACK_MEMORY_FILE");
  const char* report = std::getenv("TV_TRACK_MEMORY_REPORT");
  ASSERT_TRUE(path != nullptr && report != nullptr);
  const long before = MaxResidentKib();
  TrackLog log;
  const XpStatus status = log.AddFile(path);
  const long growth = MaxResidentKib() - before;
  WriteFileText(report, std::to_string(static_cast<int>(status)) + " " + std::to_string(log.Fixes().size()) + " " +
                            std::to_string(growth));
}

struct MemoryRun {
  int status = -1;
  std::size_t fixes = 0;
  long growthKib = -1;
};

// Reads a track file in a new process of this test program, so that the peak
// memory it measures is that of the reading alone.
MemoryRun ReadInAFreshProcess(const std::string& track, const TempFolder& dir) {
  const std::string report = dir / "report.txt";
  const std::string fileVariable = "TV_TRACK_MEMORY_FILE=" + track;
  const std::string reportVariable = "TV_TRACK_MEMORY_REPORT=" + report;
  std::vector<std::string> environment = {fileVariable, reportVariable};
  for (char** e = environ; *e != nullptr; ++e) {
    environment.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (std::string& e : environment) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=TrackLogMemory.DISABLED_ReadsTheTrackItIsGiven";
  std::string disabled = "--gtest_also_run_disabled_tests";
  std::vector<char*> argv = {program.data(), filter.data(), disabled.data(), nullptr};
  pid_t child = -1;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
    return {};
  }
  int wstatus = 0;
  if (waitpid(child, &wstatus, 0) != child || !WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) {
    return {};
  }
  MemoryRun run;
  std::istringstream(ReadFileText(report)) >> run.status >> run.fixes >> run.growthKib;
  return run;
}

TEST(TrackLogMemory, ReadsALargeGpxWithinASmallMultipleOfItsSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "under AddressSanitizer the resident size measures the sanitizer's own bookkeeping";
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "under AddressSanitizer the resident size measures the sanitizer's own bookkeeping";
#endif
#endif
  const TempFolder dir;
  // Points without a time are skipped: a reader that builds the document in
  // memory pays for every one of them, a streaming one for none.
  {
    std::string gpx = Gpx11("<trk><trkseg>\n");
    gpx.resize(gpx.size() - std::string("</gpx>\n").size());
    const std::string point = "<trkpt lat=\"35.1\" lon=\"139.1\"/>\n";
    while (gpx.size() < 24u * 1024 * 1024) {
      gpx += point;
    }
    gpx += "</trkseg></trk></gpx>\n";
    WriteFileText(dir / "untimed.gpx", gpx);
    const MemoryRun run = ReadInAFreshProcess(dir / "untimed.gpx", dir);
    ASSERT_EQ(run.status, static_cast<int>(XpStatus::Ok));
    EXPECT_EQ(run.fixes, 0u);
    EXPECT_LT(run.growthKib, static_cast<long>(gpx.size() / 1024 / 8)) << "KiB for a file of " << gpx.size();
  }
  // Timed points are kept: memory follows the fixes, well within twice the file.
  {
    std::string body = "<trk><trkseg>\n";
    std::size_t points = 0;
    while (body.size() < 24u * 1024 * 1024) {
      const long long ms = static_cast<long long>(points) * 1000;
      const long long second = ms / 1000 % 60;
      const long long minute = ms / 60000 % 60;
      const long long hour = ms / 3600000 % 24;
      char time[40];
      std::snprintf(time, sizeof time, "2024-05-%02lldT%02lld:%02lld:%02lldZ", 1 + ms / 86400000, hour, minute, second);
      body += Point(35.0 + static_cast<double>(points % 1000) * 1e-4, 139.0, time, "12.5");
      ++points;
    }
    const std::string gpx = Gpx11(body + "</trkseg></trk>\n");
    WriteFileText(dir / "timed.gpx", gpx);
    const MemoryRun run = ReadInAFreshProcess(dir / "timed.gpx", dir);
    ASSERT_EQ(run.status, static_cast<int>(XpStatus::Ok));
    EXPECT_EQ(run.fixes, points);
    EXPECT_LT(run.growthKib, static_cast<long>(gpx.size() / 1024 * 2)) << "KiB for a file of " << gpx.size();
  }
}

TEST(TrackLogNmea, ReadsRmcWithTheAltitudeOfTheSameSecond) {
  const std::string log0 = Sentence("GPGGA,101500.00,3537.5000,N,13944.5000,E,1,08,0.9,40.5,M,39.0,M,,") +
                           Sentence("GPRMC,101500.00,A,3537.5000,N,13944.5000,E,0.0,0.0,010524,,,A") +
                           Sentence("GNRMC,101600,A,3537.6000,S,00044.5000,W,0.0,0.0,010524,,,A") +
                           Sentence("GPGGA,101600,3537.6000,S,00044.5000,W,1,08,0.9,-3.0,M,39.0,M,,") +
                           Sentence("GPRMC,101700,V,3537.6000,N,13944.5000,E,0.0,0.0,010524,,,N") +
                           "$GPRMC,101800,A,3537.6000,N,13944.5000,E,0.0,0.0,010524,,,A*00\r\n" +
                           Sentence("GPRMC,101900,A,9137.6000,N,13944.5000,E,0.0,0.0,010524,,,A") +
                           Sentence("GPRMC,102000,A,3537.6000,N,13944.5000,E,0.0,0.0,310224,,,A") +
                           Sentence("GPGSV,3,1,11,01,02,03,04");
  TrackLog log;
  ASSERT_EQ(log.AddBytes(log0), XpStatus::Ok);
  ASSERT_EQ(log.Fixes().size(), 2u);
  EXPECT_EQ(log.Skipped(), 4u);  // not valid, bad checksum, latitude 91, 31 February
  const TrackFix& a = log.Fixes()[0];
  EXPECT_EQ(a.timeMs, (kMay1 + 10 * 3600 + 15 * 60) * 1000);
  EXPECT_NEAR(a.latitude, 35 + 37.5 / 60, 1e-9);
  EXPECT_NEAR(a.longitude, 139 + 44.5 / 60, 1e-9);
  ASSERT_TRUE(a.hasElevation);
  EXPECT_DOUBLE_EQ(a.elevation, 40.5);
  const TrackFix& b = log.Fixes()[1];
  EXPECT_NEAR(b.latitude, -(35 + 37.6 / 60), 1e-9);
  EXPECT_NEAR(b.longitude, -(0 + 44.5 / 60), 1e-9);
  ASSERT_TRUE(b.hasElevation);  // the GGA came after its RMC
  EXPECT_DOUBLE_EQ(b.elevation, -3.0);
}

TEST(TrackLogNmea, RefusesTextThatIsNoLog) {
  TrackLog log;
  EXPECT_EQ(log.AddBytes("$\n"), XpStatus::TrackLogInvalid);
  EXPECT_EQ(log.AddBytes("$GPRMC,bad*ZZ\nplain text\n"), XpStatus::TrackLogInvalid);
  EXPECT_EQ(log.FileCount(), 0u);
}
