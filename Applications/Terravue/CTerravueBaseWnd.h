#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>

#include "Applications/Terravue/CommandLine.h"

class AppSettings;
class CTerravueHtmlWnd;
class MapStateStore;
class QMenu;

/// The program's only top-level window. Its client area is the map window;
/// its commands live in a popup menu (menu 151 and the saved states). Create()
/// is its creation handler: it loads the menu and the saved states, creates the
/// map window, places itself from the stored placement and acts on the
/// command line.
class CTerravueBaseWnd : public QMainWindow, public StartTarget {
  Q_OBJECT

 public:
  /// `arguments` are the program's arguments without its own name.
  CTerravueBaseWnd(QStringList arguments, CommandLineServices services);
  ~CTerravueBaseWnd() override;

  /// The creation handler; the window is shown by it.
  void Create();

  CTerravueHtmlWnd* HtmlWnd() const { return m_htmlWnd; }
  QMenu* Menu() const { return m_menu.get(); }
  MapStateStore* Store() const { return m_store.get(); }
  int CurrentStateIndex() const { return m_currentStateIndex; }
  void SetCurrentStateIndex(int index) { m_currentStateIndex = index; }

  /// Places the window from the stored placement on the screen's work area.
  void PlaceFromSettings(const AppSettings& settings);
  /// Stores the window's placement ("x", "y", "cx", "cy").
  void StorePlacement(AppSettings& settings) const;

  // What the command line asks for.
  void ShowPictures(const QStringList* paths) override;
  [[nodiscard]] bool OpenStateFile(const QString& path) override;
  void RequestStartPage() override;
  void SetCaption(const QString& caption) override;
  void ShowNotice(int messageId, const QString& noticeName) override;
  void ShowPrivacyNotice() override;
  void ShowInformation(int messageId) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QStringList m_arguments;
  CommandLineServices m_services;
  CTerravueHtmlWnd* m_htmlWnd = nullptr;
  std::unique_ptr<QMenu> m_menu;
  std::unique_ptr<MapStateStore> m_store;
  int m_currentStateIndex = -1;
};
