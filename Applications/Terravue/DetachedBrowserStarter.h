#pragma once

#include "Applications/Terravue/mapdata/BrowserStarter.h"

/// Starts the suite's browser program as a detached process: no shell, each
/// argument passed as it is, and the program does not wait for it.
class DetachedBrowserStarter final : public BrowserStarter {
 public:
  bool Start(const std::string& program, const std::vector<std::string>& arguments) override;
};
