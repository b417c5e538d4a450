// terravue-tool dump FILE: the Exif tag tree of a JPEG file as text.
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/image/XpJpegExif.h"
#include "xp/tiff/XpTiffTagManager.h"

int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) {
    err << "usage: terravue-tool dump FILE\n";
    return 2;
  }
  TagTreePtr tree;
  if (const XpStatus st = XpJpegExif::ReadTagTree(args[0], &tree); st != XpStatus::Ok) {
    err << args[0] << ": no tag tree (" << XpStatusText(st) << ")\n";
    return 1;
  }
  out << tree->Dump();
  return 0;
}
