#pragma once

#include <QPointer>
#include <QWidget>

#include "Applications/Terravue/mapdata/OtherMakerQuestion.h"

/// Asks before a position is written into a picture from another maker's
/// camera: the modal notice with message 120, OK and Cancel, and the
/// do-not-show-again box bound to "warn_noardo". Runs on the user-interface
/// thread, where saving happens.
class OtherMakerNotice final : public OtherMakerQuestion {
 public:
  /// `parent` is the window the notice is placed over (may be null).
  explicit OtherMakerNotice(QWidget* parent) : m_parent(parent) {}

  [[nodiscard]] int ReadSetting() override;
  [[nodiscard]] bool Ask(const std::string& fileName) override;

 private:
  QPointer<QWidget> m_parent;
};
