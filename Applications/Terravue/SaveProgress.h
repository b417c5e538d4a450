#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <memory>
#include <string>

#include "Applications/Terravue/mapdata/OtherMakerQuestion.h"
#include "Applications/Terravue/mapdata/ProgressSink.h"

class CProgressDlg;
class CTerravueHtmlWnd;

/// Keeps the user informed while a save writes the moved positions into the
/// photos: the progress dialog with a Stop button over the main window from
/// the first photo to the last, the user-interface events handled between two
/// photos, and a stop asked for there. While it lives the map window counts
/// as saving, so photos handed over meanwhile wait. The other-maker question
/// goes through it, with the progress dialog out of the way while it is asked,
/// so that never two modal boxes are open together.
class SaveProgress final : public WriteProgress, public OtherMakerQuestion {
 public:
  /// `window` is the main window the dialog is placed over; `map` its map
  /// window; `question` the question asked before another maker's photo.
  SaveProgress(QWidget* window, CTerravueHtmlWnd* map, OtherMakerQuestion& question);
  ~SaveProgress() override;

  [[nodiscard]] bool Continue(std::size_t done, std::size_t total) override;
  [[nodiscard]] int ReadSetting() override;
  [[nodiscard]] bool Ask(const std::string& fileName) override;

  /// The text above the bar once `done` of `total` photos are dealt with.
  [[nodiscard]] static QString ProgressText(std::size_t done, std::size_t total);

 private:
  QPointer<QWidget> m_window;
  QPointer<CTerravueHtmlWnd> m_map;
  OtherMakerQuestion& m_question;
  std::unique_ptr<CProgressDlg> m_dialog;
  std::size_t m_total = 0;
  bool m_stopped = false;
};
