#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Applications/Terravue/mapdata/CContentsGroupList.h"
#include "Applications/Terravue/mapdata/HandOffLauncher.h"

/// Hands the pictures whose positions were written to the suite's browser
/// program: a content-information list in a new hand-off file, and the browser
/// started with it (CContentsGroupList::HandOffChangedFiles). The settings
/// reader and the starter must outlive this object.
class BrowserHandOff final : public HandOffLauncher {
 public:
  explicit BrowserHandOff(CContentsGroupList::Environment environment) : m_environment(std::move(environment)) {}

  void HandOff(const std::vector<std::string>& paths) override;

  /// What the last hand-off did.
  [[nodiscard]] const CContentsGroupList::HandOffResult& LastResult() const { return m_last; }

 private:
  CContentsGroupList::Environment m_environment;
  CContentsGroupList::HandOffResult m_last;
};
