#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "Applications/Terravue/server/MapPage.h"

namespace terravue::server {

/// The port the program's built-in server addresses point at; a busy port falls back to a free one.
inline constexpr int kDefaultServerPort = 47613;

/// Where the program posts its map, and where help pages and GPS.gif are served.
inline constexpr std::string_view kMapScriptPath = "/www/gps/terravue/script2/terravue.php";
inline constexpr std::string_view kHelpUrlPath = "/www/gps/terravue/help/";

/// The page template in the asset folder that the map script fills.
inline constexpr std::string_view kPageTemplateName = "terravue_page.html";

/// Bodies larger than this are refused with 413.
inline constexpr std::size_t kMaxRequestBodyBytes = 8u * 1024u * 1024u;

/// How long one request's head and body may take to arrive, however the client paces its bytes.
inline constexpr int kRequestDeadlineMilliseconds = 10000;

/// Requests served at the same time. Far more than the program itself ever has open, so that a
/// handful of stalled clients (each cut off at its deadline) leave room for the program's own.
inline constexpr std::size_t kServerWorkers = 32;

/// Connections that may wait for a request head: from one address, and in all. Past these the
/// oldest idle connection is closed to make room, so a crowd of idle or slow clients never keeps
/// the program's own requests out.
inline constexpr std::size_t kMaxWaitingPerAddress = 128;
inline constexpr std::size_t kMaxWaitingConnections = 512;

/// How the server is started.
struct SupportServerOptions {
  std::string bindAddress = "127.0.0.1";  ///< loopback unless told otherwise
  int port = kDefaultServerPort;          ///< 0: any free port
  bool fallBackToFreePort = true;         ///< when `port` is busy, take any free one
  std::filesystem::path assetFolder;      ///< page template, script, style, pins, help pages, Leaflet
  MapPageSettings page;
  std::size_t maxBodyBytes = kMaxRequestBodyBytes;
  int requestDeadlineMs = kRequestDeadlineMilliseconds;  ///< for the head and body of each request
  std::size_t workers = kServerWorkers;                  ///< requests served at the same time
  /// A user's MBTiles file served under kLocalTilePath and offered on the page as the first
  /// layer; empty: none. A file that cannot be used leaves the other layers and says why on the
  /// page (TileFileProblem).
  std::filesystem::path tileFile;
  /// The place index the page's search reads (kPlaceSearchPath); empty: places.tvp in the asset
  /// folder. Read at the first search; without one, searches answer positions only.
  std::filesystem::path placeIndexFile;
};

/// Where the tiles of SupportServerOptions::tileFile are served: "/tiles/{z}/{x}/{y}".
inline constexpr std::string_view kLocalTilePath = "/tiles/";

/// Why Start failed.
enum class ServerStatus : std::uint8_t {
  Ok = 0,
  AlreadyRunning,  ///< Start was called on a running server
  NoAssetFolder,   ///< the asset folder does not exist
  NoPageTemplate,  ///< the asset folder has no readable page template
  BindFailed,      ///< the address or port could not be bound
  ListenFailed,    ///< the listening thread ended before it served
};

/// A short English text for a status.
[[nodiscard]] std::string_view ServerStatusText(ServerStatus status) noexcept;

/// The map server the program embeds and that also runs alone: answers the map POST with the
/// interactive page, serves the help pages and the page's files from one asset folder, answers
/// 400 for malformed bodies, 413 for bodies over the limit (at once, from the announced length,
/// without reading the body) and 404 for anything else. Requests are served on a pool of background
/// threads, each taken only once a request's head has arrived; connections that wait for one are
/// watched together and bounded in number. Each request's head and body must arrive within the
/// request deadline, so that slow clients are cut off instead of holding workers. The object is
/// not copyable or movable.
class SupportServer {
 public:
  SupportServer();
  ~SupportServer();
  SupportServer(const SupportServer&) = delete;
  SupportServer& operator=(const SupportServer&) = delete;

  /// Binds and starts serving; returns once requests are accepted.
  [[nodiscard]] ServerStatus Start(const SupportServerOptions& options);

  /// Stops serving and waits for the listening thread; safe to call when not running.
  void Stop();

  [[nodiscard]] bool IsRunning() const noexcept;

  /// The bound port, 0 when not running.
  [[nodiscard]] int Port() const noexcept;

  /// "http://ADDRESS:PORT" of the running server.
  [[nodiscard]] std::string BaseUrl() const;

  /// The address the program posts its map to.
  [[nodiscard]] std::string MapScriptUrl() const;

  /// The help page address template with two "%s" for the language code and "11".
  [[nodiscard]] std::string HelpUrlTemplate() const;

  /// Why the tile file of the options could not be used; empty when it is served or none was given.
  [[nodiscard]] std::string TileFileProblem() const;

  /// Connections waiting for a request head now; 0 when not running.
  [[nodiscard]] std::size_t WaitingConnections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace terravue::server
