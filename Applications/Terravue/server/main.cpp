// terravue-server: runs the map server alone, for an installation whose server address points at
// it, and for tests. The program itself embeds the same server.
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>
#include <vector>

#include "Applications/Terravue/server/AssetFolder.h"
#include "Applications/Terravue/server/ServerCommandLine.h"
#include "Applications/Terravue/server/SupportServer.h"
#include "Applications/Terravue/server/TileLayers.h"

int main(int argc, char** argv) {
  using namespace terravue::server;
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  ServerCommandLine command = ParseServerCommandLine(args);
  if (!command.error.empty()) {
    std::cerr << "terravue-server: " << command.error << "\n" << ServerUsage();
    return 2;
  }
  if (command.showHelp) {
    std::cout << ServerUsage();
    return 0;
  }
  if (!command.assetFolderGiven) {
    command.options.assetFolder = FindAssetFolder(RunningExecutableFolder());
  }

  // Block the stop signals before any thread starts, so that only sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  if (!command.tileLayersFile.empty()) {
    TileLayerList layers = LoadTileLayers(command.tileLayersFile);
    if (!layers.problem.empty()) {
      std::cerr << "terravue-server: " << layers.problem << "\n";
      return 1;
    }
    command.options.page.layers = std::move(layers.layers);
    command.options.page.tileUrl = command.options.page.layers.front().url;
    command.options.page.tileAttribution = command.options.page.layers.front().attribution;
    command.options.page.maxZoom = command.options.page.layers.front().maxZoom;
  }

  SupportServer server;
  if (const ServerStatus st = server.Start(command.options); st != ServerStatus::Ok) {
    std::cerr << "terravue-server: " << ServerStatusText(st) << "\n";
    return 1;
  }
  if (const std::string problem = server.TileFileProblem(); !problem.empty()) {
    std::cerr << "terravue-server: " << problem << "\n";
    server.Stop();
    return 1;
  }
  std::cout << "Terravue server listening on " << server.BaseUrl() << "/" << std::endl;
  int received = 0;
  sigwait(&stopSignals, &received);
  server.Stop();
  return 0;
}
