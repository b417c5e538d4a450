#include "Applications/Terravue/CTerravueBaseWnd.h"

#include <QCloseEvent>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>

#include "Applications/Terravue/AppGlobals.h"
#include "Applications/Terravue/AppSettings.h"
#include "Applications/Terravue/CPimDlg.h"
#include "Applications/Terravue/CTerravueHtmlWnd.h"
#include "Applications/Terravue/CWarnningDlg.h"
#include "Applications/Terravue/MainMenu.h"
#include "Applications/Terravue/WindowPlacement.h"
#include "Applications/Terravue/mapdata/MapStateStore.h"

CTerravueBaseWnd::CTerravueBaseWnd(QStringList arguments, CommandLineServices services)
    : m_arguments(std::move(arguments)), m_services(std::move(services)) {
  setObjectName(QStringLiteral("Terravue Window"));
  resize(kMainWindowWidth, kMainWindowHeight);
}

CTerravueBaseWnd::~CTerravueBaseWnd() = default;

void CTerravueBaseWnd::Create() {
  const AppGlobals& globals = AppGlobals::Get();
  setWindowIcon(QIcon(QStringLiteral(":/terravue/icon128.png")));
  setWindowTitle(globals.appTitle);

  m_menu = std::make_unique<QMenu>();
  MainMenu::Fill(*m_menu);

  AppSettings settings;
  if (settings.ReadNumber(QStringLiteral("initialize")) != 0) {
    settings.WriteNumber(QStringLiteral("initialize"), 0);
  }

  // The saved states: a listing that fails is reported, and start-up goes on
  // with whatever the store holds.
  m_store = std::make_unique<MapStateStore>(globals.workFolder.toStdString());
  if (m_store->List(globals.appDataFilePath.toStdString()) != PictureResult::Success) {
    QMessageBox::warning(this, globals.appTitle, globals.Message(102));
  }
  QStringList names;
  for (std::size_t i = 0; i < m_store->Count(); ++i) {
    names.append(QString::fromStdString(m_store->At(i).m_name));
  }
  MainMenu::AppendStates(*m_menu, names);

  m_htmlWnd = new CTerravueHtmlWnd(this);
  setCentralWidget(m_htmlWnd);

  PlaceFromSettings(settings);
  show();

  StartFromCommandLine(ParseCommandLine(m_arguments, m_services), settings, *this);
}

void CTerravueBaseWnd::PlaceFromSettings(const AppSettings& settings) {
  const QScreen* where = screen();
  const QRect workArea = where != nullptr ? where->availableGeometry() : QRect(0, 0, 1024, 768);
  const QRect placed = PlaceMainWindow(workArea, frameGeometry().size(), ReadStoredPlacement(settings));
  move(placed.topLeft());
  resize(placed.size());
}

void CTerravueBaseWnd::StorePlacement(AppSettings& settings) const {
  // The position is the frame's, as move() takes it; the size is the client
  // area's, as resize() takes it, so a stored placement comes back unchanged.
  settings.WriteNumber(QStringLiteral("x"), frameGeometry().x());
  settings.WriteNumber(QStringLiteral("y"), frameGeometry().y());
  settings.WriteNumber(QStringLiteral("cx"), width());
  settings.WriteNumber(QStringLiteral("cy"), height());
}

void CTerravueBaseWnd::closeEvent(QCloseEvent* event) {
  AppSettings settings;
  StorePlacement(settings);
  QMainWindow::closeEvent(event);
}

void CTerravueBaseWnd::ShowPictures(const QStringList* paths) { m_htmlWnd->ShowPictures(paths); }

bool CTerravueBaseWnd::OpenStateFile(const QString& path) { return m_htmlWnd->OpenStateFile(path); }

void CTerravueBaseWnd::RequestStartPage() { m_htmlWnd->RequestStartPage(); }

void CTerravueBaseWnd::SetCaption(const QString& caption) { setWindowTitle(caption); }

void CTerravueBaseWnd::ShowNotice(int messageId, const QString& noticeName) {
  // Modeless: the notice deletes itself when closed.
  new CWarnningDlg(this, AppGlobals::Get().Message(messageId), noticeName, /*modal=*/false, /*showCancel=*/false);
}

void CTerravueBaseWnd::ShowPrivacyNotice() { new CPimDlg(this, /*modal=*/false); }

void CTerravueBaseWnd::ShowInformation(int messageId) {
  QMessageBox::information(this, AppGlobals::Get().appTitle, AppGlobals::Get().Message(messageId));
}
