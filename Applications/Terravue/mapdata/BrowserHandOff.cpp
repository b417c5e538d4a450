#include "Applications/Terravue/mapdata/BrowserHandOff.h"

void BrowserHandOff::HandOff(const std::vector<std::string>& paths) {
  m_last = CContentsGroupList::HandOffChangedFiles(paths, m_environment);
}
