#include "Applications/Terravue/UserMessages.h"

#include "Applications/Terravue/AppStrings.h"

namespace {

QString Text(const char* key) { return AppStrings::Instance().Text(QString::fromLatin1(key)); }

}  // namespace

QString StateOpenFailureText(const QString& path, StateOpenProblem problem) {
  const char* reason = "open/damaged";
  switch (problem) {
    case StateOpenProblem::NotInFolder:
      reason = "open/notInFolder";
      break;
    case StateOpenProblem::Missing:
      reason = "open/missing";
      break;
    case StateOpenProblem::NotReadable:
      reason = "open/notReadable";
      break;
    case StateOpenProblem::None:
    case StateOpenProblem::Damaged:
      break;
  }
  return FormatText(Text("open/failed"), {path, Text(reason)});
}

QString StateNameProblemText(StateNameProblem problem) {
  switch (problem) {
    case StateNameProblem::None:
      return {};
    case StateNameProblem::Empty:
      return Text("name/empty");
    case StateNameProblem::OnlyDots:
      return Text("name/onlyDots");
    case StateNameProblem::Separator:
      return Text("name/separator");
    case StateNameProblem::ControlCharacter:
      return Text("name/control");
    case StateNameProblem::TooLong:
      return Text("name/tooLong");
  }
  return {};
}

QString ConnectionFailureText(int code) {
  // The browser's network error numbers.
  const char* words = "connect/other";
  switch (code) {
    case -100:  // connection closed
    case -101:  // connection reset
    case -324:  // empty response
      words = "connect/closed";
      break;
    case -102:
      words = "connect/refused";
      break;
    case -105:
    case -137:  // name resolution failed
      words = "connect/notFound";
      break;
    case -106:
      words = "connect/offline";
      break;
    case -7:
    case -118:
      words = "connect/timedOut";
      break;
    case -109:
      words = "connect/unreachable";
      break;
    default:
      break;
  }
  return FormatText(Text("connect/failed"), {Text(words)});
}

QString ConnectionFailureDetails(int code) {
  return FormatText(Text("connect/code"),
                    {QStringLiteral("%1 (%2)").arg(code).arg(QString::number(static_cast<quint32>(code), 16))});
}

QString UnreadablePicturesText(const std::vector<UnreadablePicture>& pictures, int maxListed) {
  QStringList lines;
  for (const UnreadablePicture& picture : pictures) {
    if (lines.size() == maxListed) {
      lines.append(QStringLiteral("(+%1)").arg(static_cast<qsizetype>(pictures.size()) - maxListed));
      break;
    }
    const QString path = QString::fromStdString(picture.path);
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    lines.append(
        FormatText(Text(picture.reason == UnreadableReason::NotJpeg ? "load/notJpeg" : "load/undecodable"), {name}));
  }
  return FormatText(Text("load/unreadable"), {lines.join(QLatin1Char('\n'))});
}
