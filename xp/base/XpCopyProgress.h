#pragma once

#include <atomic>

/// Progress and cancellation of one file copy. The copying thread reports the
/// percent of bytes copied; any thread may read it or ask for cancellation.
/// Derive from it to react to every step (a progress bar, a test that cancels
/// half-way).
class XpCopyProgress {
 public:
  XpCopyProgress() = default;
  XpCopyProgress(const XpCopyProgress&) = delete;
  XpCopyProgress& operator=(const XpCopyProgress&) = delete;
  virtual ~XpCopyProgress() = default;

  /// Called by the copy after each block with the percent copied, 0 to 100.
  virtual void OnProgress(double percent) { m_percent.store(percent, std::memory_order_relaxed); }

  /// Asks the copy to stop; it stops after the block in progress.
  void Cancel() { m_cancelled.store(true, std::memory_order_relaxed); }
  [[nodiscard]] bool IsCancelled() const { return m_cancelled.load(std::memory_order_relaxed); }
  /// The last percent reported.
  [[nodiscard]] double GetPercent() const { return m_percent.load(std::memory_order_relaxed); }

 private:
  std::atomic<double> m_percent{0.0};
  std::atomic<bool> m_cancelled{false};
};
