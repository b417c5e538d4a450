// terravue-tool restore [--dry-run] PHOTO...: puts photos back as they were before Terravue
// wrote them, from the journal of written photos.
#include "Applications/Terravue/mapdata/PhotoJournal.h"
#include "Applications/Terravue/tool/ToolCommands.h"

int RunRestore(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool dryRun = false;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--dry-run") {
      dryRun = true;
    } else if (args[i] == "--") {
      files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (args[i].rfind("--", 0) == 0) {
      err << "terravue-tool restore: unknown option \"" << args[i] << "\"\n";
      return 2;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty()) {
    err << "usage: terravue-tool restore [--dry-run] PHOTO...\n";
    return 2;
  }
  if (PhotoJournal::Folder().empty()) {
    err << "terravue-tool restore: no journal folder (set HOME or XDG_DATA_HOME)\n";
    return 2;
  }
  int exitCode = 0;
  for (const std::string& file : files) {
    const PhotoJournal::RestoreOutcome outcome = PhotoJournal::Restore(file, dryRun);
    {
      ToolJsonObject line(out);
      line.Text("path", file);
      switch (outcome.kind) {
        case PhotoJournal::RestoreKind::Restored:
          line.Text("status", dryRun ? "would restore" : "restored");
          line.Number("steps", outcome.steps);
          if (outcome.position.empty()) {
            line.Null("position");
          } else {
            line.Text("position", outcome.position);
          }
          break;
        case PhotoJournal::RestoreKind::NothingKept:
          line.Text("status", "nothing kept");
          break;
        case PhotoJournal::RestoreKind::ChangedSince:
          line.Text("status", "changed since");
          break;
        case PhotoJournal::RestoreKind::Failed:
          line.Text("status", "failed");
          line.Text("reason", ToolStatusReason(outcome.status));
          break;
      }
    }
    out << '\n';
    if (outcome.kind != PhotoJournal::RestoreKind::Restored) {
      exitCode = 1;
    }
  }
  return exitCode;
}
