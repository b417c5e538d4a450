#pragma once

#include <QByteArray>
#include <string>

class QWebEngineProfile;

/// The User-Agent the embedded browser sends: the engine's own, followed by
/// "Terravue/" and the program's version, so that map tile servers can tell
/// which program asks.
[[nodiscard]] QByteArray TerravueUserAgent(const QByteArray& engineAgent, const std::string& clientVersion);

/// Prepares the browser profile the map window uses: the User-Agent, the
/// Referer for map tiles and the thumbnail scheme. Safe to call again.
void ConfigureWebProfile(QWebEngineProfile& profile);
