#pragma once

#include <QByteArray>
#include <string>

class QString;
class QWebEngineProfile;

/// The User-Agent the embedded browser sends: the engine's own, followed by
/// "Terravue/" and the program's version, so that map tile servers can tell
/// which program asks.
[[nodiscard]] QByteArray TerravueUserAgent(const QByteArray& engineAgent, const std::string& clientVersion);

/// Prepares the browser profile the map window uses: the User-Agent, the
/// Referer for map tiles and the thumbnail scheme. Safe to call again.
void ConfigureWebProfile(QWebEngineProfile& profile);

/// The folder of the map's browser cache (tiles): "terravue/web" in the user's cache folder
/// ($XDG_CACHE_HOME, else ~/.cache), read at the moment of the call.
[[nodiscard]] QString WebCacheFolder();

/// The browser profile every map window uses. It is named, so its HTTP cache lives on disk in
/// WebCacheFolder() and map tiles seen once show again after a restart and offline; the cache
/// is capped by the "web_cache_mb" setting. Cookies last for the session only, as before. Made
/// on first use (after the QApplication), configured by ConfigureWebProfile on every use, and
/// owned by the application object, so it outlives every page.
[[nodiscard]] QWebEngineProfile& TerravueWebProfile();
