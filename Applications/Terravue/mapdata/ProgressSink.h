#pragma once

#include <cstddef>

/// Receives one step for every picture that adding pictures has finished. The
/// window layer forwards the steps to its progress dialog; it is called on the
/// loading thread, so an implementation only queues the step.
class ProgressSink {
 public:
  ProgressSink() = default;
  ProgressSink(const ProgressSink&) = delete;
  ProgressSink& operator=(const ProgressSink&) = delete;
  virtual ~ProgressSink() = default;

  /// One more picture has been added.
  virtual void Step() = 0;
};

/// A sink that drops every step, for callers without a progress display.
class NullProgressSink final : public ProgressSink {
 public:
  void Step() override {}
};

/// Told before each moved picture a save writes into its file, and once at the
/// end; called on the thread that saves. Answering false stops the save there,
/// between two pictures: those written stay written, the rest stay untouched
/// and pending.
class WriteProgress {
 public:
  WriteProgress() = default;
  WriteProgress(const WriteProgress&) = delete;
  WriteProgress& operator=(const WriteProgress&) = delete;
  virtual ~WriteProgress() = default;

  /// `done` of the `total` moved pictures have been dealt with; true to go on.
  [[nodiscard]] virtual bool Continue(std::size_t done, std::size_t total) = 0;
};
