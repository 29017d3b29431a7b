// FlowLayout under Qt's offscreen platform: sizes of an empty layout,
// wrapping at the inclusive right edge, over-wide items, the spacing taken
// from the style, and the bounds of takeAt.

#include "qt/flow_layout.hpp"

#include <QApplication>
#include <QProxyStyle>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A widget of a fixed size hint.
class Box : public QWidget {
public:
  Box(int width, int height) : hint(width, height) {}
  QSize sizeHint() const override { return hint; }
  QSize minimumSizeHint() const override { return hint; }

private:
  QSize hint;
};

// A style without layout spacing metrics, whose push-button spacing is 7
// across and 5 down.
class NoSpacingStyle : public QProxyStyle {
public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_LayoutHorizontalSpacing || metric == PM_LayoutVerticalSpacing) {
      return -1;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
  int layoutSpacing(QSizePolicy::ControlType, QSizePolicy::ControlType, Qt::Orientation orientation,
                    const QStyleOption*, const QWidget*) const override {
    return orientation == Qt::Horizontal ? 7 : 5;
  }
};

class FlowLayoutTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "flow_layout_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application = new QApplication(argc, argv);
  }

  // Lays `boxes` out in a panel `width` wide; returns their positions.
  std::vector<QPoint> place(FlowLayout* layout, const std::vector<Box*>& boxes, int width) {
    layout->setGeometry(QRect(0, 0, width, 1000));
    std::vector<QPoint> at;
    for (const Box* box : boxes) {
      at.push_back(box->geometry().topLeft());
    }
    return at;
  }

  static inline QApplication* application = nullptr;
};

TEST_F(FlowLayoutTest, EmptyLayoutIsItsMargins) {
  QWidget panel;
  auto* layout = new FlowLayout(&panel, 0, 0, 0);
  layout->setContentsMargins(3, 4, 5, 6);
  EXPECT_EQ(layout->minimumSize(), QSize(3 + 5 - 1, 4 + 6 - 1));
  EXPECT_EQ(layout->sizeHint(), layout->minimumSize());
  EXPECT_EQ(layout->heightForWidth(500), 4 + 6);
  EXPECT_TRUE(layout->hasHeightForWidth());
  EXPECT_EQ(layout->expandingDirections(), Qt::Orientations());
}

TEST_F(FlowLayoutTest, ItemsWrapAtTheInclusiveRightEdge) {
  struct Case {
    int first, second;
    QPoint second_at;
  };
  const Case cases[] = {
      {150, 150, QPoint(0, 20)}, // 150 + 150 > 299: the second wraps
      {149, 149, QPoint(149, 0)},
      {400, 10, QPoint(0, 20)}, // wider than the panel: alone, not shrunk
  };
  for (const Case& c : cases) {
    QWidget panel;
    auto* layout = new FlowLayout(&panel, 0, 0, 0);
    auto* a = new Box(c.first, 20);
    auto* b = new Box(c.second, 10);
    layout->addWidget(a);
    layout->addWidget(b);
    const std::vector<QPoint> at = place(layout, {a, b}, 300);
    EXPECT_EQ(at[0], QPoint(0, 0)) << c.first;
    EXPECT_EQ(at[1], c.second_at) << c.first;
    EXPECT_EQ(a->size(), QSize(c.first, 20));
    EXPECT_EQ(layout->heightForWidth(300), c.second_at.y() ? 30 : 20);
  }
}

TEST_F(FlowLayoutTest, MinimumSizeIsTheLargestItemInEachDirection) {
  QWidget panel;
  auto* layout = new FlowLayout(&panel, 2, 0, 0);
  layout->addWidget(new Box(100, 10));
  layout->addWidget(new Box(30, 50));
  EXPECT_EQ(layout->minimumSize(), QSize(100 + 4, 50 + 4));
}

TEST_F(FlowLayoutTest, SpacingFallsBackToTheItemsStyle) {
  NoSpacingStyle style;
  QWidget panel;
  panel.setStyle(&style);
  auto* layout = new FlowLayout(&panel, 0, -1, -1);
  EXPECT_EQ(layout->horizontalSpacing(), -1);
  auto* a = new Box(100, 10);
  auto* b = new Box(100, 10);
  auto* c = new Box(100, 10);
  for (Box* box : {a, b, c}) {
    box->setStyle(&style);
    layout->addWidget(box);
  }
  const std::vector<QPoint> at = place(layout, {a, b, c}, 250);
  EXPECT_EQ(at[1], QPoint(107, 0));
  EXPECT_EQ(at[2], QPoint(0, 15));

  auto* fixed = new FlowLayout(nullptr, 0, 3, 4); // explicit spacings win
  EXPECT_EQ(fixed->horizontalSpacing(), 3);
  EXPECT_EQ(fixed->verticalSpacing(), 4);
  delete fixed;
}

TEST_F(FlowLayoutTest, TakeAtOutsideTheListChangesNothing) {
  FlowLayout layout(nullptr, 0, 0, 0);
  auto box = std::make_unique<Box>(10, 10);
  layout.addWidget(box.get());
  EXPECT_EQ(layout.takeAt(-1), nullptr);
  EXPECT_EQ(layout.takeAt(1), nullptr);
  EXPECT_EQ(layout.itemAt(1), nullptr);
  EXPECT_EQ(layout.count(), 1);
  QLayoutItem* item = layout.takeAt(0);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->widget(), box.get());
  EXPECT_EQ(layout.count(), 0);
  delete item;
}

} // namespace
