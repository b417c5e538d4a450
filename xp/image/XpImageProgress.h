#pragma once

/// Receives the progress of a long image operation and may cancel it.
class XpImageProgress {
 public:
  XpImageProgress() = default;
  XpImageProgress(const XpImageProgress&) = delete;
  XpImageProgress& operator=(const XpImageProgress&) = delete;
  virtual ~XpImageProgress() = default;

  /// Called with a percentage from 0 to 100; a non-zero answer cancels the
  /// operation, which then reports 0x8607.
  [[nodiscard]] virtual int OnProgress(int percent) = 0;
};
