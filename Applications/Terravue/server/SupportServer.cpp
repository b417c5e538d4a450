#include "Applications/Terravue/server/SupportServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <mutex>
#include <thread>

#include "Applications/Terravue/server/AssetResolver.h"
#include "Applications/Terravue/server/DeadlineHttpServer.h"
#include "Applications/Terravue/server/MapRequest.h"
#include "Applications/Terravue/server/MbTiles.h"
#include "Applications/Terravue/server/PlaceSearch.h"

namespace terravue::server {
namespace {

constexpr std::string_view kPlainText = "text/plain; charset=utf-8";

// The scheme of a thumbnail prefix such as "tvthumb:/", so the page may load images from it.
std::string PrefixScheme(std::string_view prefix) {
  const std::size_t colon = prefix.find(':');
  if (colon == std::string_view::npos || colon == 0) {
    return {};
  }
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = prefix[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok) {
      return {};
    }
  }
  return std::string(prefix.substr(0, colon + 1));
}

// The page runs only its own script: even a value that slipped past escaping could not execute.
std::string PageSecurityPolicy(const MapPageSettings& settings) {
  std::string policy =
      "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
      "img-src 'self' data: blob: http: https:";
  if (const std::string scheme = PrefixScheme(settings.thumbnailPrefix);
      !scheme.empty() && scheme != "http:" && scheme != "https:") {
    policy += ' ';
    policy += scheme;
  }
  policy += "; connect-src 'self'; base-uri 'none'; form-action 'none'";
  return policy;
}

void SetText(httplib::Response& res, int status, std::string_view text) {
  res.status = status;
  res.set_content(std::string(text) + "\n", std::string(kPlainText));
}

// Whether the request announces a body longer than `limit`. A length too large for any number
// counts as over the limit; one that is not a number is left to the HTTP layer to refuse.
bool AnnouncesMoreThan(const httplib::Request& req, std::size_t limit) {
  if (!req.has_header("Content-Length")) {
    return false;
  }
  const std::string text = req.get_header_value("Content-Length");
  std::size_t length = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
  if (error == std::errc::result_out_of_range) {
    return true;
  }
  return error == std::errc() && end == text.data() + text.size() && length > limit;
}

// The body is not read: the connection ends after this answer.
void RefuseTooLarge(httplib::Response& res) {
  SetText(res, 413, "Payload Too Large");
  res.set_header("Connection", "close");
  DeadlineHttpServer::CloseAfterAnswer();
}

}  // namespace

std::string_view ServerStatusText(ServerStatus status) noexcept {
  switch (status) {
    case ServerStatus::Ok:
      return "ok";
    case ServerStatus::AlreadyRunning:
      return "the server is running already";
    case ServerStatus::NoAssetFolder:
      return "the asset folder does not exist";
    case ServerStatus::NoPageTemplate:
      return "the asset folder has no page template";
    case ServerStatus::BindFailed:
      return "the address could not be bound";
    case ServerStatus::ListenFailed:
      return "the server stopped before it served";
  }
  return "unknown";
}

struct SupportServer::Impl {
  explicit Impl(const ConnectionLimits& limits) : http(limits) {}

  DeadlineHttpServer http;
  std::thread thread;
  std::unique_ptr<AssetResolver> assets;
  std::unique_ptr<MbTiles> tiles;
  std::string tileProblem;
  std::string pageTemplate;
  MapPageSettings page;
  std::string securityPolicy;
  std::string address;
  std::size_t maxBodyBytes = kMaxRequestBodyBytes;
  int port = 0;
  std::filesystem::path placeIndexFile;
  std::once_flag placesRead;
  std::unique_ptr<PlaceIndex> places;
  std::string placeProblem;

  void Install();
  void AnswerMap(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) const;
  void ServeAsset(const std::string& relative, httplib::Response& res) const;
  void ServeTile(const httplib::Request& req, httplib::Response& res) const;
  void AnswerPlaces(const httplib::Request& req, httplib::Response& res);
  const PlaceIndex* Places();
};

// The index is read once, at the first search, so that a program that never searches never
// holds it; searches arriving meanwhile wait for the one read.
const PlaceIndex* SupportServer::Impl::Places() {
  std::call_once(placesRead, [this] {
    auto index = std::make_unique<PlaceIndex>();
    const std::string path = placeIndexFile.string();
    if (const XpStatus st = index->LoadFile(path); st != XpStatus::Ok) {
      placeProblem = path + ": " + XpStatusText(st);
      return;
    }
    places = std::move(index);
  });
  return places.get();
}

void SupportServer::Impl::AnswerPlaces(const httplib::Request& req, httplib::Response& res) {
  PlaceQuery query;
  if (req.has_param("q")) {
    query.text = req.get_param_value("q");
  }
  if (req.has_param("near")) {
    query.near = req.get_param_value("near");
  }
  if (req.has_param("limit")) {
    query.limit = req.get_param_value("limit");
  }
  // A text that is too long is refused before the index is read.
  const PlaceIndex* index = query.text && query.text->size() <= kMaxPlaceQueryBytes ? Places() : nullptr;
  const PlaceAnswer answer = AnswerPlaceQuery(index, placeProblem, query);
  res.status = answer.status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(answer.body, "application/json; charset=utf-8");
}

void SupportServer::Impl::ServeTile(const httplib::Request& req, httplib::Response& res) const {
  if (tiles == nullptr) {
    SetText(res, 404, "Not Found");
    return;
  }
  // The pattern allows digits only, bounded in number, so these always read.
  int z = 0;
  long long x = 0;
  long long y = 0;
  const std::string zText = req.matches[1].str();
  const std::string xText = req.matches[2].str();
  const std::string yText = req.matches[3].str();
  std::from_chars(zText.data(), zText.data() + zText.size(), z);
  std::from_chars(xText.data(), xText.data() + xText.size(), x);
  std::from_chars(yText.data(), yText.data() + yText.size(), y);
  std::string bytes;
  switch (tiles->Tile(z, x, y, bytes)) {
    case TileLookup::Found:
      res.status = 200;
      res.set_header("Cache-Control", "max-age=3600");
      res.set_content(std::move(bytes), std::string(tiles->ContentType()));
      return;
    case TileLookup::Missing:
      SetText(res, 404, "Not Found");
      return;
    case TileLookup::Damaged:
      SetText(res, 500, "Internal Server Error: the tile file is damaged");
      return;
  }
}

void SupportServer::Impl::ServeAsset(const std::string& relative, httplib::Response& res) const {
  std::string bytes;
  if (!assets->Read(relative, bytes)) {
    SetText(res, 404, "Not Found");
    return;
  }
  res.status = 200;
  res.set_header("Cache-Control", "no-cache");
  res.set_content(std::move(bytes), std::string(ContentTypeFor(relative)));
}

// The body is read through a content reader: the HTTP layer's own form handling refuses
// URL-encoded bodies above 8 KiB, far below what a map of many pictures needs.
void SupportServer::Impl::AnswerMap(const httplib::Request& req, httplib::Response& res,
                                    const httplib::ContentReader& reader) const {
  if (req.is_multipart_form_data()) {
    SetText(res, 400, "Bad Request: not a URL-encoded form");
    return;
  }
  std::string body;
  bool tooLarge = false;
  const bool complete = reader([&body, &tooLarge, this](const char* data, std::size_t length) {
    if (length > maxBodyBytes - body.size()) {
      tooLarge = true;
      return false;
    }
    body.append(data, length);
    return true;
  });
  if (tooLarge) {
    RefuseTooLarge(res);
    return;
  }
  if (!complete) {
    SetText(res, 400, "Bad Request: incomplete body");
    return;
  }
  MapRequest request;
  if (const RequestStatus st = ParseMapRequest(body, request); st != RequestStatus::Ok) {
    SetText(res, 400, "Bad Request: " + std::string(RequestStatusText(st)));
    return;
  }
  res.status = 200;
  res.set_header("Cache-Control", "no-store");
  res.set_header("Content-Security-Policy", securityPolicy);
  res.set_content(RenderMapPage(pageTemplate, request, page), "text/html; charset=utf-8");
}

void SupportServer::Impl::Install() {
  http.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "strict-origin"}});
  // A stalled client cannot hold a worker for long; a slow one is cut off at the request deadline.
  http.set_read_timeout(5, 0);
  http.set_write_timeout(5, 0);
  http.set_keep_alive_timeout(5);

  // A body announced over the limit is refused before a byte of it is read, whatever the path.
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (!AnnouncesMoreThan(req, maxBodyBytes)) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    RefuseTooLarge(res);
    return httplib::Server::HandlerResponse::Handled;
  });

  http.Post(std::string(kMapScriptPath), [this](const httplib::Request& req, httplib::Response& res,
                                                const httplib::ContentReader& reader) { AnswerMap(req, res, reader); });

  http.Get(std::string(kPlaceSearchPath),
           [this](const httplib::Request& req, httplib::Response& res) { AnswerPlaces(req, res); });

  const std::string scriptPattern = std::string(kScriptUrlPath) + "(.+)";
  http.Get(scriptPattern,
           [this](const httplib::Request& req, httplib::Response& res) { ServeAsset(req.matches[1].str(), res); });

  http.Get(std::string(kLocalTilePath) + R"((\d{1,2})/(\d{1,10})/(\d{1,10}))",
           [this](const httplib::Request& req, httplib::Response& res) { ServeTile(req, res); });

  const std::string helpPattern = std::string(kHelpUrlPath) + "(help_[^/]+)";
  http.Get(helpPattern, [this](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1].str();
    // Only the help pages themselves, never the script files, under the help path.
    if (name.size() < 5 || name.compare(name.size() - 5, 5, ".html") != 0) {
      SetText(res, 404, "Not Found");
      return;
    }
    ServeAsset(name, res);
  });

  // Every error answer carries a short text, including the ones the HTTP layer makes itself
  // (413 for a body over the limit, 400 for an unreadable request line).
  const httplib::Server::HandlerWithResponse onError = [](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    switch (res.status) {
      case 400:
        SetText(res, 400, "Bad Request");
        break;
      case 404:
        SetText(res, 404, "Not Found");
        break;
      case 413:
        SetText(res, 413, "Payload Too Large");
        break;
      default:
        SetText(res, res.status, "Error");
        break;
    }
    return httplib::Server::HandlerResponse::Handled;
  };
  http.set_error_handler(onError);
  http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    SetText(res, 500, "Internal Server Error");
  });
}

namespace {

// The page's layer list with the tile file's layer first, and the designed single-layer fields
// naming the first layer, so that a page that knows one layer only shows the same one.
void OfferLocalTiles(MapPageSettings& page, const MbTiles* tiles, const std::string& problem) {
  if (!problem.empty()) {
    page.tileNotice = page.tileNotice.empty() ? problem : page.tileNotice + "; " + problem;
  }
  if (tiles == nullptr) {
    return;
  }
  if (page.layers.empty() && !page.tileUrl.empty()) {
    page.layers.push_back(TileLayer{"Map", page.tileUrl, page.tileAttribution, page.maxZoom, true});
  }
  page.layers.insert(page.layers.begin(),
                     TileLayer{"Tile file: " + tiles->Name(), std::string(kLocalTilePath) + "{z}/{x}/{y}",
                               tiles->Attribution(), tiles->MaxZoom(), false});
  page.tileUrl = page.layers.front().url;
  page.tileAttribution = page.layers.front().attribution;
  page.maxZoom = page.layers.front().maxZoom;
}

}  // namespace

SupportServer::SupportServer() = default;

SupportServer::~SupportServer() { Stop(); }

ServerStatus SupportServer::Start(const SupportServerOptions& options) {
  if (m_impl) {
    return ServerStatus::AlreadyRunning;
  }
  ConnectionLimits limits;
  limits.requestDeadline = std::chrono::milliseconds(std::max(1, options.requestDeadlineMs));
  limits.workers = std::max<std::size_t>(1, options.workers);
  limits.maxWaiting = kMaxWaitingConnections;
  limits.maxWaitingPerAddress = kMaxWaitingPerAddress;
  auto impl = std::make_unique<Impl>(limits);
  impl->assets = std::make_unique<AssetResolver>(options.assetFolder);
  if (impl->assets->Folder().empty()) {
    return ServerStatus::NoAssetFolder;
  }
  if (!impl->assets->Read(kPageTemplateName, impl->pageTemplate)) {
    return ServerStatus::NoPageTemplate;
  }
  impl->page = options.page;
  if (!options.tileFile.empty()) {
    impl->tiles = MbTiles::Open(options.tileFile, impl->tileProblem);
  }
  OfferLocalTiles(impl->page, impl->tiles.get(), impl->tileProblem);
  impl->securityPolicy = PageSecurityPolicy(options.page);
  impl->placeIndexFile =
      options.placeIndexFile.empty() ? impl->assets->Folder() / "places.tvp" : options.placeIndexFile;
  impl->address = options.bindAddress;
  impl->maxBodyBytes = options.maxBodyBytes;
  // The HTTP layer refuses a body whose length reaches its limit; the server's limit is the largest
  // body it still reads.
  impl->http.set_payload_max_length(options.maxBodyBytes + 1);
  // Without SO_REUSEPORT, which the HTTP layer would set: a taken port must fail to bind, so that
  // the fall-back can find a free one instead of sharing the port with another process.
  impl->http.set_socket_options([](int sock) {
    int yes = 1;
    static_cast<void>(setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes));
  });
  impl->Install();

  bool bound = false;
  if (options.port > 0 && options.port <= 65535) {
    bound = impl->http.bind_to_port(options.bindAddress, options.port);
    if (bound) {
      impl->port = options.port;
    }
  }
  if (!bound && (options.port == 0 || options.fallBackToFreePort)) {
    const int port = impl->http.bind_to_any_port(options.bindAddress);
    bound = port > 0;
    impl->port = port;
  }
  if (!bound) {
    return ServerStatus::BindFailed;
  }
  impl->http.WidenListenBacklog(static_cast<int>(kMaxWaitingConnections));

  Impl* raw = impl.get();
  impl->thread = std::thread([raw] { static_cast<void>(raw->http.listen_after_bind()); });
  // Answer only once the listening loop runs, so Stop can never miss it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!impl->http.is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!impl->http.is_running()) {
    impl->http.stop();
    impl->thread.join();
    return ServerStatus::ListenFailed;
  }
  m_impl = std::move(impl);
  return ServerStatus::Ok;
}

void SupportServer::Stop() {
  if (!m_impl) {
    return;
  }
  m_impl->http.stop();
  if (m_impl->thread.joinable()) {
    m_impl->thread.join();
  }
  m_impl.reset();
}

bool SupportServer::IsRunning() const noexcept { return m_impl != nullptr; }

int SupportServer::Port() const noexcept { return m_impl ? m_impl->port : 0; }

std::string SupportServer::BaseUrl() const {
  if (!m_impl) {
    return {};
  }
  const std::string& host = m_impl->address;
  const bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(m_impl->port);
}

std::string SupportServer::MapScriptUrl() const { return m_impl ? BaseUrl() + std::string(kMapScriptPath) : ""; }

std::string SupportServer::HelpUrlTemplate() const {
  return m_impl ? BaseUrl() + std::string(kHelpUrlPath) + "help_%s_%s.html" : "";
}

std::string SupportServer::TileFileProblem() const { return m_impl ? m_impl->tileProblem : std::string(); }

std::size_t SupportServer::WaitingConnections() const { return m_impl ? m_impl->http.WaitingConnections() : 0; }

}  // namespace terravue::server
