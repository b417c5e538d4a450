#include "Applications/Terravue/RestoreOriginals.h"

#include <QFileInfo>
#include <algorithm>

#include "Applications/Terravue/AppMessageBox.h"
#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/WriteBackMessage.h"
#include "Applications/Terravue/mapdata/MapState.h"
#include "Applications/Terravue/mapdata/PhotoJournal.h"

namespace RestoreOriginals {

namespace {

QString Text(const char* key) { return AppStrings::Instance().Text(QString::fromLatin1(key)); }

QString NameOf(const std::string& path) { return QFileInfo(QString::fromStdString(path)).fileName(); }

QString ReasonOf(const PhotoJournal::RestoreOutcome& outcome, const std::string& path) {
  if (outcome.kind == PhotoJournal::RestoreKind::ChangedSince) {
    return Text("restore/changed");
  }
  WriteFailure failure;
  failure.path = path;
  failure.status = outcome.status;
  failure.reason = WriteFailureReasonOf(outcome.status);
  failure.systemText = SystemTextOf(outcome.status);
  return WriteFailureText(failure);
}

// At most `maxListed` lines, then one that counts the rest.
QString Listed(const QStringList& lines, qsizetype maxListed) {
  QStringList shown = lines.mid(0, maxListed);
  if (lines.size() > maxListed) {
    shown.append(FormatText(Text("restore/more"), {QString::number(lines.size() - maxListed)}));
  }
  return shown.join(QLatin1Char('\n'));
}

QString RefusalLines(const std::vector<Refusal>& refused, qsizetype maxListed) {
  QStringList lines;
  for (const Refusal& refusal : refused) {
    lines.append(NameOf(refusal.path) + QStringLiteral(": ") + refusal.reason);
  }
  return Listed(lines, maxListed);
}

}  // namespace

Plan MakePlan(const std::vector<std::string>& paths) {
  Plan plan;
  for (const std::string& path : paths) {
    const PhotoJournal::RestoreOutcome outcome = PhotoJournal::Restore(path, /*dryRun=*/true);
    switch (outcome.kind) {
      case PhotoJournal::RestoreKind::Restored:
        plan.restorable.push_back(path);
        plan.positions.push_back(outcome.position);
        break;
      case PhotoJournal::RestoreKind::NothingKept:
        ++plan.notWritten;
        break;
      case PhotoJournal::RestoreKind::ChangedSince:
      case PhotoJournal::RestoreKind::Failed:
        plan.refused.push_back(Refusal{path, ReasonOf(outcome, path)});
        break;
    }
  }
  return plan;
}

Outcome Carry(const Plan& plan) {
  Outcome outcome;
  outcome.refused = plan.refused;
  for (const std::string& path : plan.restorable) {
    // The journal checks the photo again: it may have changed since the plan.
    const PhotoJournal::RestoreOutcome done = PhotoJournal::Restore(path, /*dryRun=*/false);
    if (done.kind == PhotoJournal::RestoreKind::Restored) {
      outcome.restored.push_back(path);
    } else if (done.kind == PhotoJournal::RestoreKind::NothingKept) {
      outcome.refused.push_back(Refusal{path, Text("restore/nothingkept")});
    } else {
      outcome.refused.push_back(Refusal{path, ReasonOf(done, path)});
    }
  }
  return outcome;
}

QString QuestionText(const Plan& plan, qsizetype maxListed) {
  if (plan.restorable.empty()) {
    return {};
  }
  QStringList lines;
  for (std::size_t i = 0; i < plan.restorable.size(); ++i) {
    const QString position =
        plan.positions[i].empty() ? Text("restore/noposition") : QString::fromStdString(plan.positions[i]);
    lines.append(NameOf(plan.restorable[i]) + QStringLiteral(": ") + position);
  }
  QString text =
      FormatText(Text("restore/question"), {QString::number(plan.restorable.size()), Listed(lines, maxListed)});
  if (!plan.refused.empty()) {
    text += QStringLiteral("\n\n") + FormatText(Text("restore/left"), {RefusalLines(plan.refused, maxListed)});
  }
  return text;
}

QString NothingText(const Plan& plan, qsizetype maxListed) {
  if (plan.refused.empty()) {
    return Text("restore/nothing");
  }
  return FormatText(Text("restore/none"), {RefusalLines(plan.refused, maxListed)});
}

QString ReportText(const Outcome& outcome, qsizetype maxListed) {
  QString text = FormatText(Text("restore/done"), {QString::number(outcome.restored.size())});
  if (!outcome.refused.empty()) {
    text += QStringLiteral("\n\n") + FormatText(Text("restore/left"), {RefusalLines(outcome.refused, maxListed)});
  }
  return text;
}

void TakeRestored(const std::vector<std::string>& restored, MapState& map) {
  for (PictureRecord& record : map.m_pictures.Records()) {
    if (std::find(restored.cbegin(), restored.cend(), record.m_path) == restored.cend()) {
      continue;
    }
    record.m_modified = 0;
    record.m_mapOnly = 0;
    static_cast<void>(record.ReadPositionAndTime());
    static_cast<void>(record.WritePosition(map.m_rootFolder, PictureRecord::WriteMode::ThumbnailOnly, nullptr));
  }
}

std::vector<std::string> Run(QWidget* parent, MapState& map) {
  constexpr qsizetype kMaxListed = 15;
  const Plan plan = MakePlan(map.m_pictures.Paths());
  if (plan.restorable.empty()) {
    ShowAppMessage(parent, QMessageBox::Information, NothingText(plan, kMaxListed));
    return {};
  }
  if (ShowAppMessage(parent, QMessageBox::Question, QuestionText(plan, kMaxListed),
                     QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return {};
  }
  const Outcome outcome = Carry(plan);
  TakeRestored(outcome.restored, map);
  ShowAppMessage(parent, outcome.refused.empty() ? QMessageBox::Information : QMessageBox::Warning,
                 ReportText(outcome, kMaxListed));
  return outcome.restored;
}

}  // namespace RestoreOriginals
