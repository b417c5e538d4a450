// The page's place search: the answers of the running server with the real place index, the
// refusals it owes a page or a stranger, and the answers without an index.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Applications/Terravue/server/PlaceSearch.h"
#include "Applications/Terravue/server/SupportServer.h"

namespace terravue::server {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class PlaceSearchServer : public ::testing::Test {
 protected:
  void Start(bool withIndex) {
    char pattern[] = "/tmp/tv_places_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
    fs::create_directories(m_root / "assets");
    fs::copy_file(fs::path(TV_SOURCE_DIR) / "Applications/Terravue/web/terravue_page.html",
                  m_root / "assets" / "terravue_page.html");
    if (withIndex) {
      fs::copy_file(fs::path(TV_SOURCE_DIR) / "data/places/places.tvp", m_root / "assets" / "places.tvp");
    }
    SupportServerOptions options;
    options.port = 0;
    options.assetFolder = m_root / "assets";
    ASSERT_EQ(m_server.Start(options), ServerStatus::Ok);
  }
  void TearDown() override {
    m_server.Stop();
    fs::remove_all(m_root);
  }
  // GETs `target` exactly as written (already percent-encoded where it must be).
  httplib::Result Get(const std::string& target) {
    httplib::Client client("127.0.0.1", m_server.Port());
    client.set_url_encode(false);
    return client.Get(target);
  }

  fs::path m_root;
  SupportServer m_server;
};

TEST_F(PlaceSearchServer, AnswersAsTheUserTypesBestFirstAsJson) {
  Start(true);
  // A prefix without its accent finds Zürich first.
  const auto zur = Get("/places?q=zur");
  ASSERT_TRUE(zur);
  EXPECT_EQ(zur->status, 200);
  EXPECT_EQ(zur->get_header_value("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(zur->get_header_value("Cache-Control"), "no-store");
  EXPECT_THAT(zur->body, StartsWith("{\"query\": \"zur\", \"point\": null, \"places\": [{\"name\": \"Z\xC3\xBCrich\""
                                    R"(, "admin1": "Zurich", "country": "CH", "country_name": "Switzerland", )"
                                    R"("lat": 47.36667, "lng": 8.55000, "population": 341730})"))
      << zur->body;
  // Both spellings of Munich, percent-encoded UTF-8 among them, find the same city first.
  const auto munchen = Get("/places?q=Munchen&limit=1");
  const auto native = Get("/places?q=M%C3%BCnchen&limit=1");
  ASSERT_TRUE(munchen);
  ASSERT_TRUE(native);
  EXPECT_THAT(munchen->body, HasSubstr(R"("country": "DE")"));
  EXPECT_EQ(munchen->body.substr(munchen->body.find("\"places\"")),
            native->body.substr(native->body.find("\"places\"")));
  // The limit bounds the answer.
  const auto one = Get("/places?q=Paris&limit=1");
  ASSERT_TRUE(one);
  EXPECT_THAT(one->body, HasSubstr(R"("country": "FR")"));
  EXPECT_EQ(one->body.find("\"name\"", one->body.find("\"name\"") + 1), std::string::npos);
}

TEST_F(PlaceSearchServer, RanksTheVisibleAreaAsNear) {
  Start(true);
  // The capital stays first wherever the map looks; among the towns of its namesakes' size the
  // one in view comes next.
  const auto world = Get("/places?q=Paris&limit=2");
  const auto tennessee = Get("/places?q=Paris&limit=2&near=36.30,-88.33");
  const auto ontario = Get("/places?q=Paris&limit=2&near=43.2,-80.38");
  ASSERT_TRUE(world);
  ASSERT_TRUE(tennessee);
  ASSERT_TRUE(ontario);
  for (const auto* res : {&world, &tennessee, &ontario}) {
    EXPECT_THAT((*res)->body, HasSubstr("places\": [{\"name\": \"Paris\", \"admin1\": \"\xC3\x8Ele-de-France\""))
        << (*res)->body;
  }
  EXPECT_THAT(world->body, HasSubstr(R"("admin1": "Texas")"));
  EXPECT_THAT(tennessee->body, HasSubstr(R"("admin1": "Tennessee")"));
  EXPECT_THAT(ontario->body, HasSubstr(R"("admin1": "Ontario")"));
  // A qualifier after a comma narrows the search.
  const auto texas = Get("/places?q=Paris%2C%20Texas&limit=1");
  ASSERT_TRUE(texas);
  EXPECT_THAT(texas->body, HasSubstr(R"("admin1": "Texas", "country": "US")"));
}

TEST_F(PlaceSearchServer, AnswersAPastedPositionAsAPoint) {
  Start(true);
  const auto decimal = Get("/places?q=35.6812%2C%20139.7671");
  ASSERT_TRUE(decimal);
  EXPECT_EQ(decimal->status, 200);
  EXPECT_EQ(decimal->body,
            R"({"query": "35.6812, 139.7671", "point": {"lat": 35.681200000, "lng": 139.767100000}, "places": []})");
  const auto geo = Get("/places?q=geo%3A-33.8568%2C151.2153%3Bu%3D30");
  ASSERT_TRUE(geo);
  EXPECT_THAT(geo->body, HasSubstr(R"("point": {"lat": -33.856800000, "lng": 151.215300000})"));
}

TEST_F(PlaceSearchServer, EscapesEveryTextItAnswers) {
  Start(true);
  const auto res = Get("/places?q=%3C%2Fscript%3E%22%5C%0A");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, R"({"query": "\u003c/script\u003e\"\\\n", "point": null, "places": []})");
}

TEST_F(PlaceSearchServer, RefusesWhatItCannotAnswerWithAReason) {
  Start(true);
  struct Refusal {
    std::string target;
    const char* reason;
  };
  const Refusal refusals[] = {
      {"/places", "no search text (q)"},
      {"/places?q=" + std::string(kMaxPlaceQueryBytes + 1, 'a'), "the search text is longer than 256 bytes"},
      {"/places?q=%FF%FE", "the search text is not UTF-8"},
      {"/places?q=Paris&near=north", "near is not a position (LAT,LNG in decimal degrees)"},
      {"/places?q=Paris&near=91,0", "near is not a position (LAT,LNG in decimal degrees)"},
      {"/places?q=Paris&limit=0", "limit must be a number from 1 to 50"},
      {"/places?q=Paris&limit=51", "limit must be a number from 1 to 50"},
      {"/places?q=Paris&limit=-3", "limit must be a number from 1 to 50"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.target.substr(0, 40));
    const auto res = Get(r.target);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(res->body, std::string(R"({"error": ")") + r.reason + "\"}");
  }
  // A text at the limit is searched.
  const auto atLimit = Get("/places?q=" + std::string(kMaxPlaceQueryBytes, 'a'));
  ASSERT_TRUE(atLimit);
  EXPECT_EQ(atLimit->status, 200);
  // Only GET: a POST to the search is not found.
  httplib::Client client("127.0.0.1", m_server.Port());
  const auto post = client.Post("/places?q=Paris", "", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 404);
}

TEST_F(PlaceSearchServer, WithoutAnIndexAnswersPositionsAndSaysWhyNamesFail) {
  Start(false);
  const auto name = Get("/places?q=Paris");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->status, 503);
  EXPECT_THAT(name->body, StartsWith(R"({"error": "no place index: )"));
  EXPECT_THAT(name->body, HasSubstr("places.tvp"));
  EXPECT_THAT(name->body, Not(HasSubstr("\"places\"")));
  const auto point = Get("/places?q=48.8584%2C2.2945");
  ASSERT_TRUE(point);
  EXPECT_EQ(point->status, 200);
  EXPECT_THAT(point->body, HasSubstr(R"("point": {"lat": 48.858400000, "lng": 2.294500000})"));
  // The map page itself is served as before.
  EXPECT_TRUE(m_server.IsRunning());
}

TEST(PlaceSearchAnswer, ADamagedIndexFileIsNamedWithItsReason) {
  PlaceQuery query;
  query.text = "Kyoto";
  const PlaceAnswer answer = AnswerPlaceQuery(nullptr, "/data/places.tvp: the file is damaged", query);
  EXPECT_EQ(answer.status, 503);
  EXPECT_EQ(answer.body, R"({"error": "no place index: /data/places.tvp: the file is damaged"})");
}

}  // namespace
}  // namespace terravue::server
