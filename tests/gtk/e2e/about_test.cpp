// The menu behind bexo-gtk's header bar button, as a user opens it with the
// mouse: it shows the About dialog, which closes again without taking the
// program with it, and the log.

#include "gtk_run.hpp"

#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct Point {
  int x = -1;
  int y = -1;
};

// The menu button's "open-menu" icon in the header bar: three dark bars of
// equal length, one above the other at equal distances.  The window buttons
// beside it and the title's glyphs have no such shape.
Point menu_button(const Picture& p) {
  const auto dark = [](const uint8_t* px) { return px[0] < 100 && px[1] < 100 && px[2] < 100; };
  struct Bar {
    int x, y, length;
  };
  std::vector<Bar> bars;
  for (int y = 1; y < std::min(p.height, 60); ++y) {
    for (int x = 0; x < p.width;) {
      int end = x;
      while (end < p.width && dark(p.at(end, y))) {
        ++end;
      }
      // The top row of a bar only: a bar may be two pixels thick.
      if (end - x >= 10 && end - x <= 24 && !dark(p.at(x + (end - x) / 2, y - 1))) {
        bars.push_back({x, y, end - x});
      }
      x = end + 1;
    }
  }
  const auto same = [](const Bar& a, const Bar& b) {
    return std::abs(a.x - b.x) <= 1 && std::abs(a.length - b.length) <= 2;
  };
  for (const Bar& top : bars) {
    for (const Bar& middle : bars) {
      const int gap = middle.y - top.y;
      if (gap < 3 || gap > 8 || !same(top, middle)) {
        continue;
      }
      for (const Bar& bottom : bars) {
        if (same(top, bottom) && std::abs(bottom.y - middle.y - gap) <= 1) {
          return {top.x + top.length / 2, middle.y};
        }
      }
    }
  }
  return {};
}

// Opens the header bar's menu and picks the item of `mnemonic`.
void pick_from_menu(const std::string& window, const Point& button, const std::string& mnemonic) {
  focus(window);
  click(window, button.x, button.y);
  std::this_thread::sleep_for(500ms); // the popover slides in
  press_keys(mnemonic);
}

TEST(BexoGtkMenu, TheHeaderBarMenuShowsAboutWhichClosesAndTheLog) {
  GtkRun run({"urn:bexo:test:controls"});
  ASSERT_GT(run.pid, 0);
  const std::string window = plugin_window("Bexo Test Controls");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(500ms);
  const Point button = menu_button(capture(window));
  ASSERT_GE(button.x, 0) << "no menu button in the header bar";

  // The dialog is made once and hidden when closed, so the second case
  // also shows that it opens again.
  struct Case {
    const char* how;
    const char* keys;
  };
  const Case cases[] = {
      {"Escape", "Escape"},
      {"its Close button", "alt+c"},
  };
  bool first = true;
  for (const Case& c : cases) {
    pick_from_menu(window, button, "alt+b"); // "About _Bexo"
    const std::string about = window_of("About Bexo");
    ASSERT_FALSE(about.empty()) << c.how << ": no About dialog";
    if (first) {
      std::this_thread::sleep_for(300ms);
      screenshot(about, "bexo-gtk-about", BEXO_ARTIFACTS_DIR);
      first = false;
    }
    focus(about);
    press_keys(c.keys);
    EXPECT_TRUE(window_closes("About Bexo")) << c.how << " did not close it";
    EXPECT_EQ(waitpid(run.pid, nullptr, WNOHANG), 0) << c.how << " ended the program";
    EXPECT_EQ(plugin_window("Bexo Test Controls"), window) << c.how;
  }

  pick_from_menu(window, button, "alt+l"); // "Show _Log"
  const std::string log = window_of("Log");
  ASSERT_FALSE(log.empty()) << "Show Log showed no log";
  EXPECT_EQ(text_property(log, "WM_WINDOW_ROLE"), "log_viewer");

  EXPECT_EQ(run.terminate(), 0);
}

} // namespace
