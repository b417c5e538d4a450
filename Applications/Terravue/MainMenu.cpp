#include "Applications/Terravue/MainMenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <array>

#include "Applications/Terravue/AppStrings.h"

namespace MainMenu {

void Fill(QMenu& menu) {
  const AppStrings& strings = AppStrings::Instance();
  for (int id : std::array{kSaveAsNew, kSaveOver, kDeleteState, kHelp, kLoadTrack, kPhotosAsTrack, kUndo, kRedo,
                           kRestoreOriginals, kExport, kOpenStateFile, kNamePlaces, kAbout}) {
    QAction* action = menu.addAction(strings.Text(QStringLiteral("151/%1").arg(id)));
    action->setData(id);
    if (id == kUndo) {
      action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    } else if (id == kRedo) {
      action->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    }
  }
  menu.addSeparator()->setData(0);
}

void AppendStates(QMenu& menu, const QStringList& names, int firstId) {
  int id = firstId;
  for (const QString& name : names) {
    // A name with "&" would otherwise turn a letter into a shortcut.
    QString text = name;
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    QAction* action = menu.addAction(text);
    action->setData(id++);
    action->setCheckable(true);
  }
}

int CommandOf(const QAction* action) { return action != nullptr ? action->data().toInt() : 0; }

}  // namespace MainMenu
