#pragma once

#include <QString>
#include <memory>

/// The support server run inside the program on the loopback interface, so
/// that the built-in map and help addresses answer without any installation.
class EmbeddedServer {
 public:
  /// The port the built-in addresses use when the server is not running.
  static int DefaultPort();

  EmbeddedServer();
  ~EmbeddedServer();
  EmbeddedServer(const EmbeddedServer&) = delete;
  EmbeddedServer& operator=(const EmbeddedServer&) = delete;

  /// Starts serving the page files of `programFolder`, on the default port or,
  /// when that is taken, on a free one. The page offers the layers of the
  /// user's "terravue/tile-layers.conf" (in $XDG_CONFIG_HOME) and, first, the
  /// tiles of `tileFile` when one is given; what cannot be used is said on the
  /// page. False when it could not start.
  [[nodiscard]] bool Start(const QString& programFolder, const QString& tileFile = QString());
  /// Stops serving; safe when not running.
  void Stop();

  bool IsRunning() const;
  /// The port served, DefaultPort() when not running.
  int Port() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
