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

  SupportServer server;
  if (const ServerStatus st = server.Start(command.options); st != ServerStatus::Ok) {
    std::cerr << "terravue-server: " << ServerStatusText(st) << "\n";
    return 1;
  }
  std::cout << "Terravue server listening on " << server.BaseUrl() << "/" << std::endl;
  int received = 0;
  sigwait(&stopSignals, &received);
  server.Stop();
  return 0;
}
