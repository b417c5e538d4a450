#pragma once

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
