#include "Applications/Terravue/server/MbTiles.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

#include "xp/text/XpUtf8.h"

namespace terravue::server {

namespace {

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Statement Prepare(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return Statement(statement);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  const int length = sqlite3_column_bytes(statement, column);
  if (text == nullptr || length <= 0) {
    return {};
  }
  std::string value(text, static_cast<std::size_t>(length));
  // Metadata reaches the page; what is not text is left out.
  if (value.size() > 2048 || !XpIsValidUtf8(value)) {
    return {};
  }
  return value;
}

// Tiles larger than this are refused as damage rather than sent to the page.
constexpr int kMaxTileBytes = 4 * 1024 * 1024;

}  // namespace

void MbTiles::Closer::operator()(sqlite3* db) const { sqlite3_close(db); }

MbTiles::~MbTiles() = default;

std::unique_ptr<MbTiles> MbTiles::Open(const std::filesystem::path& file, std::string& problem) {
  const std::string name = file.filename().string();
  std::error_code error;
  const auto status = std::filesystem::status(file, error);
  if (error || !std::filesystem::is_regular_file(status)) {
    problem = name + ": the tile file does not exist or is not a file";
    return nullptr;
  }
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
  std::unique_ptr<MbTiles> tiles(new MbTiles());
  tiles->m_db.reset(raw);
  if (opened != SQLITE_OK) {
    problem = name + ": the tile file cannot be opened (" + std::string(sqlite3_errstr(opened)) + ")";
    return nullptr;
  }
  sqlite3_extended_result_codes(raw, 1);
  // A damaged or hostile file must not stall a request for long.
  sqlite3_busy_timeout(raw, 200);

  const Statement metadata = Prepare(raw, "SELECT name, value FROM metadata");
  if (!metadata) {
    problem = name + ": not an MBTiles tile file (" + std::string(sqlite3_errmsg(raw)) + ")";
    return nullptr;
  }
  std::string format;
  int rows = 0;
  for (int step; (step = sqlite3_step(metadata.get())) != SQLITE_DONE;) {
    if (step != SQLITE_ROW || ++rows > 1000) {
      problem = name + ": the tile file is damaged (" + std::string(sqlite3_errmsg(raw)) + ")";
      return nullptr;
    }
    const std::string key = ColumnText(metadata.get(), 0);
    const std::string value = ColumnText(metadata.get(), 1);
    if (key == "format") {
      format = value;
    } else if (key == "name") {
      tiles->m_name = value;
    } else if (key == "attribution") {
      tiles->m_attribution = value;
    } else if (key == "maxzoom") {
      int zoom = 0;
      const auto [end, parseError] = std::from_chars(value.data(), value.data() + value.size(), zoom);
      if (parseError == std::errc() && end == value.data() + value.size() && zoom >= 0 && zoom <= 22) {
        tiles->m_maxZoom = std::max(zoom, 1);
      }
    }
  }
  if (format == "png") {
    tiles->m_contentType = "image/png";
  } else if (format == "jpg" || format == "jpeg") {
    tiles->m_contentType = "image/jpeg";
  } else if (format == "webp") {
    tiles->m_contentType = "image/webp";
  } else if (format == "pbf") {
    problem = name + ": the tile file holds vector tiles, which the map cannot show";
    return nullptr;
  } else {
    problem = name + ": the tile file names no image format it can show";
    return nullptr;
  }
  if (!Prepare(raw, "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3")) {
    problem = name + ": not an MBTiles tile file (" + std::string(sqlite3_errmsg(raw)) + ")";
    return nullptr;
  }
  if (tiles->m_name.empty()) {
    tiles->m_name = file.stem().string();
  }
  return tiles;
}

TileLookup MbTiles::Tile(int z, long long x, long long y, std::string& bytes) const {
  bytes.clear();
  if (z < 0 || z > 30) {
    return TileLookup::Missing;
  }
  const long long side = 1LL << z;
  if (x < 0 || y < 0 || x >= side || y >= side) {
    return TileLookup::Missing;
  }
  const std::lock_guard lock(m_mutex);
  const Statement query =
      Prepare(m_db.get(), "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3");
  if (!query) {
    return TileLookup::Damaged;
  }
  sqlite3_bind_int(query.get(), 1, z);
  sqlite3_bind_int64(query.get(), 2, x);
  sqlite3_bind_int64(query.get(), 3, side - 1 - y);
  const int step = sqlite3_step(query.get());
  if (step == SQLITE_DONE) {
    return TileLookup::Missing;
  }
  if (step != SQLITE_ROW) {
    return TileLookup::Damaged;
  }
  const int length = sqlite3_column_bytes(query.get(), 0);
  const void* data = sqlite3_column_blob(query.get(), 0);
  if (length <= 0 || data == nullptr) {
    return TileLookup::Missing;
  }
  if (length > kMaxTileBytes) {
    return TileLookup::Damaged;
  }
  bytes.assign(static_cast<const char*>(data), static_cast<std::size_t>(length));
  return TileLookup::Found;
}

}  // namespace terravue::server
