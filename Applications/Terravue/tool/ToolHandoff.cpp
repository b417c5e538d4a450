// terravue-tool handoff FILE: the pictures a hand-off list selects, one path per line.
#include <string>

#include "Applications/Terravue/mapdata/CContentsGroupList.h"
#include "Applications/Terravue/tool/ToolCommands.h"

int RunHandoff(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) {
    err << "usage: terravue-tool handoff FILE\n";
    return 2;
  }
  CContentsGroupList list;
  const XpStatus status = list.LoadFile(args[0]);
  // A list that loads only in part still selects what was read, as at start-up.
  for (const std::string& path : list.GetSelectedFiles()) {
    out << path << '\n';
  }
  if (status != XpStatus::Ok) {
    err << "terravue-tool: " << args[0] << ": the list did not load completely (" << XpStatusText(status) << ")\n";
    return 1;
  }
  return 0;
}
