#include "Applications/Terravue/CBaseWnd.h"

#include <QMetaObject>
#include <QPointer>
#include <QWidget>

void CBaseWnd::RequestClose() {
  if (m_closing) {
    return;
  }
  m_closing = true;
  QPointer<QWidget> self(m_self);
  QMetaObject::invokeMethod(
      m_self,
      [self] {
        if (self != nullptr) {
          self->close();
        }
      },
      Qt::QueuedConnection);
}
