#pragma once

#include <string>
#include <vector>

/// Tells the suite's browser program which pictures got new positions. The
/// window layer implements it by writing the content-information list and
/// starting the browser; tests record the paths.
class HandOffLauncher {
 public:
  HandOffLauncher() = default;
  HandOffLauncher(const HandOffLauncher&) = delete;
  HandOffLauncher& operator=(const HandOffLauncher&) = delete;
  virtual ~HandOffLauncher() = default;

  /// Hands over the paths of the pictures whose positions were written, in map
  /// order. Never called with an empty list.
  virtual void HandOff(const std::vector<std::string>& paths) = 0;
};
