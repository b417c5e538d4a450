#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

struct sqlite3;

namespace terravue::server {

/// What looking up one tile gave.
enum class TileLookup : std::uint8_t {
  Found,
  Missing,  ///< no such tile (outside the file's area or zoom levels, or a bad address)
  Damaged,  ///< the file could not be read at this tile
};

/// A user's MBTiles file (an SQLite database of raster tiles), read only, served to the map page
/// for areas without network. Safe to use from several threads.
class MbTiles {
 public:
  /// Opens `file` read only and checks that it is an MBTiles file of raster tiles (PNG, JPEG or
  /// WebP). On failure answers null and puts into `problem` one line for the user.
  [[nodiscard]] static std::unique_ptr<MbTiles> Open(const std::filesystem::path& file, std::string& problem);
  ~MbTiles();
  MbTiles(const MbTiles&) = delete;
  MbTiles& operator=(const MbTiles&) = delete;

  /// The tile at zoom `z`, column `x` and row `y` counted from the north as the map page counts
  /// them (the file counts rows from the south).
  [[nodiscard]] TileLookup Tile(int z, long long x, long long y, std::string& bytes) const;

  [[nodiscard]] const std::string& Name() const { return m_name; }
  [[nodiscard]] const std::string& Attribution() const { return m_attribution; }
  [[nodiscard]] std::string_view ContentType() const { return m_contentType; }
  [[nodiscard]] int MaxZoom() const { return m_maxZoom; }

 private:
  MbTiles() = default;

  struct Closer {
    void operator()(sqlite3* db) const;
  };
  std::unique_ptr<sqlite3, Closer> m_db;
  mutable std::mutex m_mutex;
  std::string m_name;
  std::string m_attribution;
  std::string m_contentType;
  int m_maxZoom = 19;
};

}  // namespace terravue::server
