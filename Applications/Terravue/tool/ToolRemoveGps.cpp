// terravue-tool remove-gps FILE...: removes the GPS pointer from pictures.
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/image/XpExifRewrite.h"

int RunRemoveGps(const std::vector<std::string>& args, std::ostream& /*out*/, std::ostream& err) {
  if (args.empty()) {
    err << "usage: terravue-tool remove-gps FILE...\n";
    return 2;
  }
  int exitCode = 0;
  for (const std::string& file : args) {
    if (const XpStatus st = XpExifRewrite::RemoveGPS(file); st != XpStatus::Ok) {
      err << file << ": " << ToolStatusReason(st) << '\n';
      exitCode = 1;
    }
  }
  return exitCode;
}
