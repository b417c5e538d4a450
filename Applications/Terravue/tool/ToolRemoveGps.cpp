// terravue-tool remove-gps [--preserve-mtime] FILE...: removes the GPS directory from
// pictures.
#include "Applications/Terravue/mapdata/PhotoJournal.h"
#include "Applications/Terravue/tool/ToolCommands.h"
#include "xp/formats/XpPhotoWrite.h"
#include "xp/image/XpExifRewrite.h"

int RunRemoveGps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  XpExifRewrite::Hooks options;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--preserve-mtime") {
      options.preserveModificationTime = true;
    } else if (args[i] == "--") {
      files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (args[i].rfind("--", 0) == 0) {
      err << "terravue-tool remove-gps: unknown option \"" << args[i] << "\"\n";
      return 2;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty()) {
    err << "usage: terravue-tool remove-gps [--preserve-mtime] [--raw-in-file] FILE...\n";
    return 2;
  }
  int exitCode = 0;
  for (const std::string& file : files) {
    XpPhotoWrite::Where where;
    if (const XpStatus st = XpPhotoWrite::RemoveGPS(file, options, &where); st != XpStatus::Ok) {
      err << ToolRefusalLine(file, st) << '\n';
      exitCode = 1;
    } else {
      // The journal would otherwise keep the positions just removed.
      static_cast<void>(PhotoJournal::Purge(file));
      {
        ToolJsonObject json(out);
        json.Text("path", file);
        ToolWrittenTo(json, where);
      }
      out << '\n';
    }
  }
  return exitCode;
}
