#pragma once

class QWidget;

/// What the program's own windows (the main window and the menu button) share:
/// whether the window has been created, whether a close is under way, and
/// whether a close asked for by the window system is let through. The widget
/// itself is the derived class's; this part only keeps the flags and posts the
/// close request.
class CBaseWnd {
 public:
  CBaseWnd(const CBaseWnd&) = delete;
  CBaseWnd& operator=(const CBaseWnd&) = delete;
  virtual ~CBaseWnd() = default;

  /// True once the window has been created.
  [[nodiscard]] bool IsCreated() const { return m_selfOwned; }
  /// True once a close has been requested or is being handled.
  [[nodiscard]] bool IsClosing() const { return m_closing; }
  /// True when a close from the window system (title bar, window menu) is let through.
  [[nodiscard]] bool IsSystemCloseAllowed() const { return m_systemCloseAllowed; }
  void SetSystemCloseAllowed(bool allowed) { m_systemCloseAllowed = allowed; }

  /// Posts a close to the window, at most once: later requests, and requests
  /// made while a close is handled, do nothing.
  void RequestClose();

 protected:
  /// `self` is the widget this part belongs to (the derived object itself).
  explicit CBaseWnd(QWidget* self) : m_self(self) {}

  /// Marks the window created (its creation handler ran).
  void MarkCreated() { m_selfOwned = true; }
  /// Marks a close as being handled.
  void MarkClosing() { m_closing = true; }
  /// Ends a close that the user called off, so a later request goes through.
  void CancelClosing() { m_closing = false; }

 private:
  QWidget* m_self;
  bool m_selfOwned = false;
  bool m_closing = false;
  bool m_systemCloseAllowed = false;
};
