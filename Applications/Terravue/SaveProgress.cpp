#include "Applications/Terravue/SaveProgress.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <cstdint>

#include "Applications/Terravue/AppStrings.h"
#include "Applications/Terravue/CProgressDlg.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"

namespace {

// The bar's range is 16-bit; a longer save moves it in proportion.
constexpr std::size_t kMaxBarSteps = 0xFFFF;

std::uint16_t BarSteps(std::size_t done, std::size_t total) {
  if (total <= kMaxBarSteps) {
    return static_cast<std::uint16_t>(std::min(done, total));
  }
  return static_cast<std::uint16_t>(std::min(done, total) * kMaxBarSteps / total);
}

}  // namespace

SaveProgress::SaveProgress(QWidget* window, CTerravueHtmlWnd* map, OtherMakerQuestion& question)
    : m_window(window), m_map(map), m_question(question) {
  if (m_map != nullptr) {
    m_map->SetSaving(true);
  }
}

SaveProgress::~SaveProgress() {
  m_dialog.reset();
  if (m_map != nullptr) {
    m_map->SetSaving(false);
  }
}

QString SaveProgress::ProgressText(std::size_t done, std::size_t total) {
  return FormatText(AppStrings::Instance().Text(QStringLiteral("save/progress")),
                    {QString::number(done), QString::number(total)});
}

bool SaveProgress::Continue(std::size_t done, std::size_t total) {
  if (m_stopped) {
    return false;
  }
  if (total == 0 || done >= total) {
    // Every photo is dealt with: the bar goes before the report comes.
    m_dialog.reset();
    return true;
  }
  if (m_dialog == nullptr) {
    m_total = total;
    m_dialog = std::make_unique<CProgressDlg>(m_window, BarSteps(total, total), ProgressText(done, total),
                                              AppStrings::Instance().Text(QStringLiteral("save/stop")));
  }
  m_dialog->SetProgress(BarSteps(done, m_total), ProgressText(done, m_total));
  // The dialog is window-modal: only it takes the user's input meanwhile, and
  // the map window refuses everything else that would change the map.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (m_dialog != nullptr && m_dialog->StopRequested()) {
    m_stopped = true;
    m_dialog.reset();
    return false;
  }
  return true;
}

int SaveProgress::ReadSetting() { return m_question.ReadSetting(); }

bool SaveProgress::Ask(const std::string& fileName) {
  // The question stands alone; the bar comes back after the answer.
  if (m_dialog != nullptr) {
    m_dialog->hide();
  }
  const bool answer = m_question.Ask(fileName);
  if (m_dialog != nullptr) {
    m_dialog->show();
  }
  return answer;
}
