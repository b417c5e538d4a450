#include "Applications/Terravue/WindowPlacement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "Applications/Terravue/AppSettings.h"

namespace {

// The edges are tested the way a 32-bit unsigned comparison sees them: an edge
// more than 50 pixels left of (or above) the screen wraps to a huge number and
// fails like one beyond the right (or bottom) edge.
bool EdgeIsUsable(int edge, int limit) {
  const auto shifted = static_cast<std::uint32_t>(static_cast<std::int64_t>(edge) + 50);
  return shifted < static_cast<std::uint32_t>(limit);
}

}  // namespace

StoredPlacement ReadStoredPlacement(const AppSettings& settings) {
  // A sentinel outside any real screen tells "missing" from a stored value.
  constexpr int kMissing = std::numeric_limits<int>::min();
  StoredPlacement stored;
  const auto read = [&](const char* name) -> std::optional<int> {
    const int value = settings.ReadNumber(QString::fromLatin1(name), kMissing);
    return value == kMissing ? std::nullopt : std::optional<int>(value);
  };
  stored.x = read("x");
  stored.y = read("y");
  stored.cx = read("cx");
  stored.cy = read("cy");
  return stored;
}

QRect PlaceMainWindow(const QRect& workArea, const QSize& windowSize, const StoredPlacement& stored) {
  // Window-system rectangles: right and bottom are one past the last pixel.
  const int workRight = workArea.x() + workArea.width();
  const int workBottom = workArea.y() + workArea.height();
  const int defaultLeft = (workArea.width() - windowSize.width()) / 2;
  const int defaultTop = (workArea.height() - windowSize.height()) / 2;

  int x = stored.x.value_or(defaultLeft);
  int y = stored.y.value_or(defaultTop);
  const int cx = stored.cx.value_or(kMainWindowWidth);
  const int cy = stored.cy.value_or(kMainWindowHeight);
  if (!EdgeIsUsable(x, workRight)) {
    x = defaultLeft;
  }
  if (!EdgeIsUsable(y, workBottom)) {
    y = defaultTop;
  }
  return {x, y, cx, cy};
}

QPoint PlaceNoticeOverParent(const QRect& parentFrame, const QSize& dialogSize) {
  const int bottom = parentFrame.y() + parentFrame.height() - kNoticeBottomInset - dialogSize.height();
  return {parentFrame.x() + kNoticeLeftInset, std::max(parentFrame.y(), bottom)};
}

QPoint CentreOverParent(const QRect& parentFrame, const QSize& dialogSize) {
  return {parentFrame.x() + (parentFrame.width() - dialogSize.width()) / 2,
          parentFrame.y() + (parentFrame.height() - dialogSize.height()) / 2};
}
