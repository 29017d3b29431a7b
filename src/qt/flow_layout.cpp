#include "qt/flow_layout.hpp"

#include <QWidget>
#include <algorithm>

FlowLayout::FlowLayout(QWidget* parent, int margin, int hSpacing, int vSpacing)
    : QLayout(parent), horizontalSpace(hSpacing), verticalSpace(vSpacing) {
  setContentsMargins(margin, margin, margin, margin);
}

FlowLayout::~FlowLayout() {
  while (QLayoutItem* item = takeAt(0)) {
    delete item;
  }
}

void FlowLayout::addItem(QLayoutItem* item) {
  items.append(item);
}

int FlowLayout::horizontalSpacing() const {
  return horizontalSpace >= 0 ? horizontalSpace : parentSpacing(QStyle::PM_LayoutHorizontalSpacing);
}

int FlowLayout::verticalSpacing() const {
  return verticalSpace >= 0 ? verticalSpace : parentSpacing(QStyle::PM_LayoutVerticalSpacing);
}

Qt::Orientations FlowLayout::expandingDirections() const {
  return {};
}

bool FlowLayout::hasHeightForWidth() const {
  return true;
}

int FlowLayout::heightForWidth(int width) const {
  return arrange(QRect(0, 0, width, 0), true);
}

int FlowLayout::count() const {
  return static_cast<int>(items.size());
}

QLayoutItem* FlowLayout::itemAt(int index) const {
  return index >= 0 && index < items.size() ? items.at(index) : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index) {
  return index >= 0 && index < items.size() ? items.takeAt(index) : nullptr;
}

QSize FlowLayout::minimumSize() const {
  QSize size(-1, -1);
  for (const QLayoutItem* item : items) {
    size = size.expandedTo(item->minimumSize());
  }
  const QMargins margins = contentsMargins();
  return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

void FlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  arrange(rect, false);
}

QSize FlowLayout::sizeHint() const {
  return minimumSize();
}

int FlowLayout::arrange(const QRect& rect, bool measureOnly) const {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  getContentsMargins(&left, &top, &right, &bottom);
  const QRect effective = rect.adjusted(+left, +top, -right, -bottom);
  int x = effective.x();
  int y = effective.y();
  int lineHeight = 0;

  for (QLayoutItem* item : items) {
    const QWidget* widget = item->widget();
    int spaceX = horizontalSpacing();
    if (spaceX == -1 && widget) {
      spaceX = widget->style()->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton,
                                              Qt::Horizontal);
    }
    int spaceY = verticalSpacing();
    if (spaceY == -1 && widget) {
      spaceY = widget->style()->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton,
                                              Qt::Vertical);
    }
    // Items without a widget have no style to ask: they get no gap.
    spaceX = std::max(spaceX, 0);
    spaceY = std::max(spaceY, 0);

    const QSize hint = item->sizeHint();
    int nextX = x + hint.width() + spaceX;
    if (x + hint.width() > effective.right() && lineHeight > 0) {
      x = effective.x();
      y = y + lineHeight + spaceY;
      nextX = x + hint.width() + spaceX;
      lineHeight = 0;
    }
    if (!measureOnly) {
      item->setGeometry(QRect(QPoint(x, y), hint));
    }
    x = nextX;
    lineHeight = std::max(lineHeight, hint.height());
  }
  return y + lineHeight - rect.y() + bottom;
}

int FlowLayout::parentSpacing(QStyle::PixelMetric metric) const {
  QObject* parentObject = parent();
  if (!parentObject) {
    return -1;
  }
  if (parentObject->isWidgetType()) {
    auto* widget = static_cast<QWidget*>(parentObject);
    return widget->style()->pixelMetric(metric, nullptr, widget);
  }
  return static_cast<QLayout*>(parentObject)->spacing();
}
