#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QSize>

/// Converts dialog-template units into pixels for a font: a horizontal unit is
/// a quarter of the font's average character width and a vertical unit an
/// eighth of its height, so a layout written in these units grows with the
/// font the user has chosen.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int sampleWidth =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (sampleWidth / 26 + 1) / 2;
    m_baseY = metrics.height();
    if (m_baseX <= 0) {
      m_baseX = 6;
    }
    if (m_baseY <= 0) {
      m_baseY = 13;
    }
  }

  int X(int units) const { return units * m_baseX / 4; }
  int Y(int units) const { return units * m_baseY / 8; }
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }
  QRect Rect(int x, int y, int width, int height) const { return {X(x), Y(y), X(width), Y(height)}; }

 private:
  int m_baseX = 6;
  int m_baseY = 13;
};
