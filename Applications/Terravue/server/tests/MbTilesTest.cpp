// A user's tile file: the tiles it holds reach the map page by the page's tile addresses, a
// missing tile answers 404, and a file that is not usable says so.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Applications/Terravue/server/MbTiles.h"
#include "Applications/Terravue/server/SupportServer.h"
#include "Applications/Terravue/server/tests/TestBodies.h"

namespace fs = std::filesystem;
using terravue::server::MbTiles;
using terravue::server::ServerStatus;
using terravue::server::SupportServer;
using terravue::server::SupportServerOptions;
using terravue::server::TileLookup;
using ::testing::HasSubstr;

namespace {

struct Db {
  explicit Db(const fs::path& file) { EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK); }
  ~Db() { sqlite3_close(db); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  void Run(const std::string& sql) const {
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  }
  void PutTile(int z, int column, int row, const std::string& bytes) const {
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4)", -1, &statement, nullptr), SQLITE_OK);
    sqlite3_bind_int(statement, 1, z);
    sqlite3_bind_int(statement, 2, column);
    sqlite3_bind_int(statement, 3, row);
    sqlite3_bind_blob(statement, 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
    sqlite3_finalize(statement);
  }
  sqlite3* db = nullptr;
};

class TileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("tv_mbtiles_" + std::to_string(getpid()));
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // Zoom 2, column 1, row 1 from the north is row 2 from the south.
  fs::path Make(const std::string& name, const std::string& format) const {
    const fs::path file = m_dir / name;
    const Db db(file);
    db.Run("CREATE TABLE metadata (name TEXT, value TEXT)");
    db.Run("CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB)");
    db.Run("INSERT INTO metadata VALUES ('name', 'Island'), ('format', '" + format +
           "'), ('attribution', 'Survey <b>'), ('maxzoom', '14')");
    db.PutTile(2, 1, 2, std::string("\x89PNG\r\n\x1a\n\0tile-2-1-1", 19));
    db.PutTile(0, 0, 0, "world");
    return file;
  }

  fs::path m_dir;
};

}  // namespace

TEST_F(TileFile, AnswersTilesByThePagesRowsAndNothingOutsideTheGrid) {
  std::string problem;
  const auto tiles = MbTiles::Open(Make("island.mbtiles", "png"), problem);
  ASSERT_NE(tiles, nullptr) << problem;
  EXPECT_EQ(problem, "");
  EXPECT_EQ(tiles->Name(), "Island");
  EXPECT_EQ(tiles->Attribution(), "Survey <b>");
  EXPECT_EQ(tiles->ContentType(), "image/png");
  EXPECT_EQ(tiles->MaxZoom(), 14);
  std::string bytes;
  EXPECT_EQ(tiles->Tile(2, 1, 1, bytes), TileLookup::Found);
  EXPECT_EQ(bytes, std::string("\x89PNG\r\n\x1a\n\0tile-2-1-1", 19));
  EXPECT_EQ(tiles->Tile(0, 0, 0, bytes), TileLookup::Found);
  EXPECT_EQ(bytes, "world");
  EXPECT_EQ(tiles->Tile(2, 1, 2, bytes), TileLookup::Missing);
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(tiles->Tile(2, 4, 0, bytes), TileLookup::Missing);
  EXPECT_EQ(tiles->Tile(-1, 0, 0, bytes), TileLookup::Missing);
  EXPECT_EQ(tiles->Tile(31, 0, 0, bytes), TileLookup::Missing);
}

TEST_F(TileFile, AFileThatCannotServeTheMapSaysWhy) {
  std::string problem;
  EXPECT_EQ(MbTiles::Open(m_dir / "none.mbtiles", problem), nullptr);
  EXPECT_THAT(problem, HasSubstr("none.mbtiles: the tile file does not exist"));

  std::ofstream(m_dir / "noise.mbtiles") << std::string(4096, '\x5a');
  EXPECT_EQ(MbTiles::Open(m_dir / "noise.mbtiles", problem), nullptr);
  EXPECT_THAT(problem, HasSubstr("noise.mbtiles: not an MBTiles tile file"));

  EXPECT_EQ(MbTiles::Open(Make("vector.mbtiles", "pbf"), problem), nullptr);
  EXPECT_THAT(problem, HasSubstr("vector tiles"));

  {
    const Db db(m_dir / "other.sqlite");
    db.Run("CREATE TABLE notes (text TEXT)");
  }
  EXPECT_EQ(MbTiles::Open(m_dir / "other.sqlite", problem), nullptr);
  EXPECT_THAT(problem, HasSubstr("other.sqlite: not an MBTiles tile file"));

  // Cut short after its first pages: the file can no longer be read as a database.
  const fs::path cut = Make("cut.mbtiles", "png");
  fs::resize_file(cut, 1500);
  EXPECT_EQ(MbTiles::Open(cut, problem), nullptr);
  EXPECT_THAT(problem, HasSubstr("cut.mbtiles: "));
}

TEST_F(TileFile, TheServerOffersTheFileAsTheFirstLayerAndServesItsTiles) {
  SupportServer server;
  SupportServerOptions options = terravue::server::testing::LocalOptions();
  options.tileFile = Make("island.mbtiles", "png");
  ASSERT_EQ(server.Start(options), ServerStatus::Ok);
  EXPECT_EQ(server.TileFileProblem(), "");
  httplib::Client client("127.0.0.1", server.Port());
  auto res = client.Get("/tiles/2/1/1");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "image/png");
  EXPECT_EQ(res->body, std::string("\x89PNG\r\n\x1a\n\0tile-2-1-1", 19));
  res = client.Get("/tiles/2/1/3");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
  res = client.Get("/tiles/99/1/3");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);

  res = client.Post("/www/gps/terravue/script2/terravue.php", terravue::server::testing::MapBody({}, 0),
                    "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_THAT(res->body, HasSubstr(R"("tileUrl":"/tiles/{z}/{x}/{y}")"));
  EXPECT_THAT(res->body, HasSubstr(R"("tileLayers":[{"name":"Tile file: Island","url":"/tiles/{z}/{x}/{y}")"));
  EXPECT_THAT(res->body, HasSubstr(R"({"name":"Map","url":"https://tile.openstreetmap.org/{z}/{x}/{y}.png")"));
  // The attribution is data in the script, never markup in the page.
  EXPECT_THAT(res->body, HasSubstr(R"("attribution":"Survey \u003cb\u003e")"));
  server.Stop();

  // A damaged tile file: the server still serves the map, without it, and the page says why.
  std::ofstream(m_dir / "noise.mbtiles") << std::string(4096, '\x5a');
  options.tileFile = m_dir / "noise.mbtiles";
  SupportServer second;
  ASSERT_EQ(second.Start(options), ServerStatus::Ok);
  EXPECT_THAT(second.TileFileProblem(), HasSubstr("noise.mbtiles: not an MBTiles tile file"));
  httplib::Client other("127.0.0.1", second.Port());
  res = other.Get("/tiles/2/1/1");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
  res = other.Post("/www/gps/terravue/script2/terravue.php", terravue::server::testing::MapBody({}, 0),
                   "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_THAT(res->body, HasSubstr(R"("tileNotice":"noise.mbtiles: not an MBTiles tile file)"));
  EXPECT_THAT(res->body, HasSubstr(R"("tileUrl":"https://tile.openstreetmap.org/{z}/{x}/{y}.png")"));
}
