#include "Applications/Terravue/EmbeddedServer.h"

#ifdef TV_HAVE_SERVER
#include <QFile>
#include <QStandardPaths>

#include "Applications/Terravue/TileRequestInterceptor.h"
#include "Applications/Terravue/server/SupportServer.h"
#include "Applications/Terravue/server/TileLayers.h"

struct EmbeddedServer::Impl {
  terravue::server::SupportServer server;
};

int EmbeddedServer::DefaultPort() { return terravue::server::kDefaultServerPort; }

EmbeddedServer::EmbeddedServer() : m_impl(std::make_unique<Impl>()) {}

bool EmbeddedServer::Start(const QString& programFolder, const QString& tileFile) {
  terravue::server::SupportServerOptions options;
  options.assetFolder = programFolder.toStdString();
  const QString layerFile = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                            QStringLiteral("/terravue/tile-layers.conf");
  terravue::server::TileLayerList layers = terravue::server::LoadTileLayers(QFile::encodeName(layerFile).toStdString());
  QStringList withoutReferer;
  for (const terravue::server::TileLayer& layer : layers.layers) {
    if (!layer.referer) {
      withoutReferer.append(QString::fromStdString(layer.url));
    }
  }
  TileRequestInterceptor::SetLayersWithoutReferer(withoutReferer);
  options.page.layers = std::move(layers.layers);
  options.page.tileNotice = std::move(layers.problem);
  options.page.tileUrl = options.page.layers.front().url;
  options.page.tileAttribution = options.page.layers.front().attribution;
  options.page.maxZoom = options.page.layers.front().maxZoom;
  if (!tileFile.isEmpty()) {
    options.tileFile = QFile::encodeName(tileFile).toStdString();
  }
  return m_impl->server.Start(options) == terravue::server::ServerStatus::Ok;
}

void EmbeddedServer::Stop() { m_impl->server.Stop(); }

bool EmbeddedServer::IsRunning() const { return m_impl->server.IsRunning(); }

int EmbeddedServer::Port() const { return IsRunning() ? m_impl->server.Port() : DefaultPort(); }

#else
// Built without the server: the built-in addresses point at the default port,
// where a separately started server may answer.
struct EmbeddedServer::Impl {};

int EmbeddedServer::DefaultPort() { return 47613; }

EmbeddedServer::EmbeddedServer() = default;

bool EmbeddedServer::Start(const QString& /*programFolder*/, const QString& /*tileFile*/) { return false; }

void EmbeddedServer::Stop() {}

bool EmbeddedServer::IsRunning() const { return false; }

int EmbeddedServer::Port() const { return DefaultPort(); }
#endif

EmbeddedServer::~EmbeddedServer() { Stop(); }
