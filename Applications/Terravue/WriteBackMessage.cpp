#include "Applications/Terravue/WriteBackMessage.h"

#include <QStringList>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/mapdata/MapState.h"

QString WriteFailureText(const WriteFailure& failure) {
  const AppStrings& strings = AppStrings::Instance();
  switch (failure.reason) {
    case WriteFailureReason::ReadOnly:
      return strings.Text(QStringLiteral("writeback/readonly"));
    case WriteFailureReason::Missing:
      return strings.Text(QStringLiteral("writeback/missing"));
    case WriteFailureReason::ChangedOnDisk:
      return strings.Text(QStringLiteral("writeback/changed"));
    case WriteFailureReason::ExifDamaged:
      return strings.Text(QStringLiteral("writeback/damaged"));
    case WriteFailureReason::DiskFull:
      return strings.Text(QStringLiteral("writeback/diskfull"));
    case WriteFailureReason::Declined:
      return strings.Text(QStringLiteral("writeback/declined"));
    case WriteFailureReason::BadCoordinate:
      return strings.Text(QStringLiteral("writeback/badcoordinate"));
    case WriteFailureReason::TooManySegments:
      return strings.Text(QStringLiteral("writeback/toomanysegments"));
    case WriteFailureReason::NotWritable:
      return strings.Text(QStringLiteral("writeback/notwritable"));
    case WriteFailureReason::PositionInPhoto:
      return strings.Text(QStringLiteral("writeback/positioninphoto"));
    case WriteFailureReason::SidecarDamaged:
      return strings.Text(QStringLiteral("writeback/sidecardamaged"));
    case WriteFailureReason::Other:
      break;
  }
  // The system's own words when they are known, the status number otherwise.
  if (!failure.systemText.empty()) {
    return QString::fromStdString(failure.systemText);
  }
  return FormatText(strings.Text(QStringLiteral("writeback/other")),
                    {QString::fromStdString(XpStatusText(failure.status))});
}

namespace {

// What helps against `reason`.
const char* AdviceKey(WriteFailureReason reason) {
  switch (reason) {
    case WriteFailureReason::ReadOnly:
      return "advice/readonly";
    case WriteFailureReason::Missing:
      return "advice/missing";
    case WriteFailureReason::ChangedOnDisk:
      return "advice/changed";
    case WriteFailureReason::ExifDamaged:
    case WriteFailureReason::TooManySegments:  // saving again meets the same file
      return "advice/damaged";
    case WriteFailureReason::DiskFull:
      return "advice/diskfull";
    case WriteFailureReason::Declined:
      return "advice/declined";
    case WriteFailureReason::BadCoordinate:
      return "advice/badcoordinate";
    case WriteFailureReason::NotWritable:
      return "advice/notwritable";
    case WriteFailureReason::PositionInPhoto:
      return "advice/positioninphoto";
    case WriteFailureReason::SidecarDamaged:
      return "advice/sidecardamaged";
    case WriteFailureReason::Other:
      break;
  }
  return "advice/other";
}

QString FileNameOf(const std::string& path) {
  const QString text = QString::fromStdString(path);
  return text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
}

}  // namespace

QString WriteBackMessage(const WriteBackReport& report, qsizetype maxListed) {
  if (report.problems.empty()) {
    return {};
  }
  QStringList lines;
  // Each reason's advice once, in the order the reasons first occur.
  QStringList advice;
  for (const WriteFailure& failure : report.problems) {
    const QString text = AppStrings::Instance().Text(QString::fromLatin1(AdviceKey(failure.reason)));
    if (!advice.contains(text)) {
      advice.append(text);
    }
  }
  const auto total = static_cast<qsizetype>(report.problems.size());
  for (const WriteFailure& failure : report.problems) {
    if (lines.size() == maxListed) {
      lines.append(QStringLiteral("(+%1)").arg(total - maxListed));
      break;
    }
    lines.append(FileNameOf(failure.file.empty() ? failure.path : failure.file) + QStringLiteral(": ") +
                 WriteFailureText(failure));
  }
  return FormatText(AppStrings::Instance().Text(QStringLiteral("writeback/failed")),
                    {lines.join(QLatin1Char('\n')), advice.join(QLatin1Char('\n'))});
}

QString RawChangedInPlaceMessage(const WriteBackReport& report, qsizetype maxListed) {
  if (report.rawChangedInPlace.empty()) {
    return {};
  }
  QStringList lines;
  const auto total = static_cast<qsizetype>(report.rawChangedInPlace.size());
  for (const std::string& path : report.rawChangedInPlace) {
    if (lines.size() == maxListed) {
      lines.append(QStringLiteral("(+%1)").arg(total - maxListed));
      break;
    }
    lines.append(FileNameOf(path));
  }
  return FormatText(AppStrings::Instance().Text(QStringLiteral("writeback/rawinplace")),
                    {lines.join(QLatin1Char('\n'))});
}
