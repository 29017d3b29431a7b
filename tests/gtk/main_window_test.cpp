// The rule for the default size of a window that shows the generic panel.

#include "gtk/main_window.hpp"

#include <gtest/gtest.h>

namespace {

TEST(GenericPanelWindow, DefaultSizeIsAtLeast640WideAnd24InsideTheWorkArea) {
  struct Case {
    GtkRequisition panel;
    GtkRequisition box;
    GdkRectangle work_area;
    GtkRequisition size;
  };
  const Case cases[] = {
      {{300, 200}, {300, 250}, {0, 0, 1280, 1024}, {640, 450}},
      {{700, 200}, {650, 250}, {0, 0, 1280, 1024}, {724, 450}},
      {{300, 2000}, {300, 2050}, {0, 0, 1280, 1024}, {640, 1000}},
      {{2000, 100}, {2000, 150}, {0, 0, 1280, 1024}, {1256, 250}},
  };
  for (const Case& c : cases) {
    const GtkRequisition size = generic_panel_window_size(c.panel, c.box, c.work_area);
    EXPECT_EQ(size.width, c.size.width) << c.panel.width;
    EXPECT_EQ(size.height, c.size.height) << c.panel.height;
  }
}

} // namespace
