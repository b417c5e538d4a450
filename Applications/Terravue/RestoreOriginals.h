#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

class MapState;
class QWidget;

/// "Restore original positions...": the photos of a map that Terravue wrote go
/// back byte for byte to what they were before its first kept write, from the
/// journal of written photos. Only photos that are still exactly what Terravue
/// wrote are put back; the others are named with the reason and left alone.
namespace RestoreOriginals {

/// One photo that is not put back, and why, as the user reads it.
struct Refusal {
  std::string path;
  QString reason;
};

/// What a restore would do for the photos of a map.
struct Plan {
  std::vector<std::string> restorable;  ///< paths, in map order
  std::vector<std::string> positions;   ///< the position each would get back ("" for none)
  std::vector<Refusal> refused;         ///< written by Terravue, but not to be put back
  int notWritten = 0;                   ///< photos the journal knows nothing of
};

/// Asks the journal about each of `paths` without changing anything.
[[nodiscard]] Plan MakePlan(const std::vector<std::string>& paths);

/// What a restore did.
struct Outcome {
  std::vector<std::string> restored;
  std::vector<Refusal> refused;
};

/// Puts back the plan's restorable photos; those that fail now join the refusals.
[[nodiscard]] Outcome Carry(const Plan& plan);

/// The question asked before anything is changed (empty when nothing can be put back).
[[nodiscard]] QString QuestionText(const Plan& plan, qsizetype maxListed);
/// What is told when nothing can be put back.
[[nodiscard]] QString NothingText(const Plan& plan, qsizetype maxListed);
/// The report after the restore.
[[nodiscard]] QString ReportText(const Outcome& outcome, qsizetype maxListed);

/// The restored photos on `map` take their positions from their files again: no
/// longer moved nor kept on the map only, with their thumbnails' GPS tags in step.
void TakeRestored(const std::vector<std::string>& restored, MapState& map);

/// The whole command for `map`: the plan, the question, the restore and the
/// report, each in a box over `parent`. Answers the photos put back.
[[nodiscard]] std::vector<std::string> Run(QWidget* parent, MapState& map);

}  // namespace RestoreOriginals
