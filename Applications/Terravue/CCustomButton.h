#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include "Applications/Terravue/CBaseWnd.h"

/// A small bitmap button with three images: normal, hover and pressed. A
/// click (press and release inside the button) sends customButtonMessage to
/// the owner with the button's identifier and the state 2; in toggle mode
/// every release sends the current state. The button sizes itself to the
/// normal image.
class CCustomButton : public QWidget, public CBaseWnd {
  Q_OBJECT

 public:
  enum State { Normal = 0, Hover = 1, Pressed = 2 };

  /// The three images by resource path (normal, hover, pressed).
  CCustomButton(QString normalImage, QString hoverImage, QString pressedImage);

  /// Creates the button as a visible child of `owner` at (x, y). `buttonId`
  /// is sent with every notification; `spare` is kept as given.
  void Create(QWidget* owner, int x, int y, int buttonId, bool toggle, int spare);

  [[nodiscard]] int VisualState() const { return m_state; }
  [[nodiscard]] int ButtonId() const { return m_buttonId; }
  [[nodiscard]] bool IsToggle() const { return m_toggle; }
  /// The image shown for `state`.
  [[nodiscard]] const QPixmap& Image(int state) const;

 signals:
  /// The button was clicked (state 2) or, in toggle mode, released with `state`.
  /// Delivered queued, as a posted message would be.
  void customButtonMessage(int buttonId, int state);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void SetState(int state);
  void Post(int state);

  int m_state = Normal;
  bool m_toggle = false;
  QString m_normalId;
  QPixmap m_normal;
  QString m_hoverId;
  QPixmap m_hover;
  QString m_pressedId;
  QPixmap m_pressed;
  int m_buttonId = 0;
  int m_spare = 0;
  QPointer<QWidget> m_owner;
};
