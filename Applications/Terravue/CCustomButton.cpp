#include "Applications/Terravue/CCustomButton.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>

CCustomButton::CCustomButton(QString normalImage, QString hoverImage, QString pressedImage)
    : CBaseWnd(this),
      m_normalId(std::move(normalImage)),
      m_hoverId(std::move(hoverImage)),
      m_pressedId(std::move(pressedImage)) {
  setObjectName(QStringLiteral("CustomButton"));
}

void CCustomButton::Create(QWidget* owner, int x, int y, int buttonId, bool toggle, int spare) {
  m_owner = owner;
  m_buttonId = buttonId;
  m_toggle = toggle;
  m_spare = spare;
  setParent(owner);
  m_normal = QPixmap(m_normalId);
  m_hover = QPixmap(m_hoverId);
  m_pressed = QPixmap(m_pressedId);
  setGeometry(x, y, 1, 1);
  if (!m_normal.isNull()) {
    resize(m_normal.deviceIndependentSize().toSize());
  }
  setCursor(Qt::ArrowCursor);
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover, false);
  MarkCreated();
  show();
}

const QPixmap& CCustomButton::Image(int state) const {
  switch (state) {
    case Hover:
      return m_hover;
    case Pressed:
      return m_pressed;
    default:
      return m_normal;
  }
}

void CCustomButton::SetState(int state) {
  if (state == m_state) {
    return;
  }
  m_state = state;
  // Drawn at once, so the user sees the press before the menu opens.
  repaint();
}

void CCustomButton::Post(int state) {
  // Queued, so the owner handles the click after the button's own handling
  // has finished, as a posted message would be handled.
  QMetaObject::invokeMethod(
      this, [this, state] { emit customButtonMessage(m_buttonId, state); }, Qt::QueuedConnection);
}

void CCustomButton::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, Image(m_state));
}

void CCustomButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (!(m_toggle && m_state == Pressed) && (QGuiApplication::mouseButtons() & Qt::LeftButton) == 0) {
    SetState(Hover);
  }
}

void CCustomButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (!m_toggle) {
    SetState(Normal);
  }
}

void CCustomButton::mouseMoveEvent(QMouseEvent* event) {
  const bool inside = rect().contains(event->position().toPoint());
  if ((event->buttons() & Qt::LeftButton) != 0) {
    // The widget that took the press keeps the mouse until the release.
    if (inside) {
      SetState(Pressed);
    } else if (!m_toggle) {
      SetState(Normal);
    }
    return;
  }
  if (inside) {
    if (!(m_toggle && m_state == Pressed)) {
      SetState(Hover);
    }
  } else if (!m_toggle) {
    SetState(Normal);
  }
}

void CCustomButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    return;
  }
  if (m_toggle && m_state == Pressed) {
    SetState(Normal);
  } else {
    SetState(Pressed);
  }
}

void CCustomButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    return;
  }
  if (m_toggle) {
    Post(m_state);
    return;
  }
  if (m_state == Pressed && rect().contains(event->position().toPoint())) {
    Post(Pressed);
  }
  SetState(Normal);
}
