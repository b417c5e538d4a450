#pragma once

#include <string>
#include <vector>

/// Starts the suite's browser program without waiting for it and without a
/// shell. The window layer implements it with a detached process; tests record
/// the calls.
class BrowserStarter {
 public:
  BrowserStarter() = default;
  BrowserStarter(const BrowserStarter&) = delete;
  BrowserStarter& operator=(const BrowserStarter&) = delete;
  virtual ~BrowserStarter() = default;

  /// Starts `program` with `arguments` (each one argument, unquoted); false when
  /// it could not be started.
  virtual bool Start(const std::string& program, const std::vector<std::string>& arguments) = 0;
};
