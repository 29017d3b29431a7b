// bexo-gtk's Log window: every message of the run, one row each, its level
// in red for errors and orange for warnings, kept when the window closes,
// gone when the user clears them, and new ones added while it shows.  The
// same messages still go to standard error, where the test counts them.

#include "gtk_run.hpp"
#include "harness/files.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

// GTK writes the foreground colour of the Level column, "Red" and "Orange",
// at full strength in the middle of each glyph's strokes.
bool red(const uint8_t* px) {
  return px[0] >= 200 && px[1] < 90 && px[2] < 90;
}
bool orange(const uint8_t* px) {
  return px[0] >= 200 && px[2] < 90 && px[1] >= 110 && px[1] <= 200;
}
bool dark(const uint8_t* px) {
  return px[0] < 100 && px[1] < 100 && px[2] < 100;
}

// The number of bands of rows, below the header bar, in which `row` holds:
// one band a line of the log, since its lines have more space between them
// than the few rows that part an "i" from its dot.
template <typename Row>
int bands(const Picture& p, Row row) {
  int count = 0;
  int last = -100;
  for (int y = 50; y < p.height; ++y) {
    if (row(y)) {
      count += y - last > 4;
      last = y;
    }
  }
  return count;
}

struct LogRows {
  int all = 0;
  int errors = 0;
  int warnings = 0;
};

// Every line shows its time in black in the first column, but the selected
// one, whose background is the accent blue; the column headers are grey.
LogRows log_rows(const Picture& p) {
  const auto any = [&](int y, int x0, int x1, bool (*accept)(const uint8_t*)) {
    for (int x = x0; x < std::min(x1, p.width); ++x) {
      if (accept(p.at(x, y))) {
        return true;
      }
    }
    return false;
  };
  LogRows rows;
  rows.all = bands(p, [&](int y) { return any(y, 8, 110, dark) || accent_blue(p.at(8, y)); });
  rows.errors = bands(p, [&](int y) { return any(y, 0, p.width, red); });
  rows.warnings = bands(p, [&](int y) { return any(y, 0, p.width, orange); });
  return rows;
}

// The centres of what the header bar shows, from its right end leftwards:
// each a group of columns with pixels that stand out from the bar's
// background in the same row, there being a gradient.
std::vector<int> header_marks(const Picture& p) {
  std::vector<int> marks;
  const int reference = p.width - 12; // inside the border, right of the close button
  int right = -1;
  for (int x = reference - 1; x >= 0; --x) {
    bool marked = false;
    for (int y = 12; y < 40 && !marked; ++y) {
      const uint8_t* px = p.at(x, y);
      const uint8_t* bg = p.at(reference, y);
      for (int c = 0; c < 3; ++c) {
        marked = marked || std::abs(px[c] - bg[c]) > 12;
      }
    }
    if (marked && right < 0) {
      right = x;
    } else if (!marked && right >= 0) {
      marks.push_back((x + 1 + right) / 2);
      right = -1;
    }
  }
  return marks;
}

int count_prefixed(const std::string& output, const std::string& prefix) {
  int count = 0;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    count += line.rfind(prefix, 0) == 0;
  }
  return count;
}

// The Log window, shown and on top, for its picture; "" when none showed.
std::string shown_log(const std::string& main_window) {
  focus(main_window);
  press_keys("ctrl+l");
  const std::string log = window_of("Log");
  if (!log.empty()) {
    shell("xdotool windowraise " + log);
    std::this_thread::sleep_for(500ms);
  }
  return log;
}

TEST(BexoGtkLog, TheLogWindowListsTheRunsMessagesByLevelAndKeepsThemUntilCleared) {
  // A preset that sets a port the plugin does not have is an error, and a
  // value for an unknown control a warning; the run goes on after both.
  const TempDir dir;
  const std::string preset = dir.file("missing-port.ttl");
  std::ofstream(preset) << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                           "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                           "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                           "<> a pset:Preset ;\n"
                           "  lv2:appliesTo <urn:bexo:test:controls> ;\n"
                           "  rdfs:label \"Missing Port\" ;\n"
                           "  lv2:port [ lv2:symbol \"nosuch\" ; pset:value 1.0 ] .\n";
  GtkRun run({"-n", "bexo-gtk-log", "-c", "nosuch=1", preset}, {}, true);
  ASSERT_GT(run.pid, 0);
  const std::string window = plugin_window("Bexo Test Controls");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(500ms);

  const std::string log = shown_log(window);
  ASSERT_FALSE(log.empty()) << "Ctrl+L showed no Log window";
  EXPECT_EQ(text_property(log, "WM_WINDOW_ROLE"), "log_viewer");
  const Geometry size = geometry_of(log);
  EXPECT_GE(size.width, 800);
  EXPECT_GE(size.height, 600);
  screenshot(log, "bexo-gtk-log", BEXO_ARTIFACTS_DIR);

  const std::string output = run.output();
  EXPECT_NE(output.find("Plugin: urn:bexo:test:controls\n"), std::string::npos) << output;
  EXPECT_NE(output.find("error: Preset port `nosuch' is missing\n"), std::string::npos) << output;
  EXPECT_NE(output.find("warning: Ignoring value for unknown control `nosuch'\n"),
            std::string::npos)
      << output;
  const int errors = count_prefixed(output, "error: ");
  const int warnings = count_prefixed(output, "warning: ");
  const Picture picture = capture(log);
  ASSERT_FALSE(picture.empty());
  const LogRows rows = log_rows(picture);
  EXPECT_EQ(rows.errors, errors) << "red rows";
  EXPECT_EQ(rows.warnings, warnings) << "orange rows";
  EXPECT_GE(rows.all, errors + warnings + 8) << "the eight info lines of the start are missing";

  // Its own close button, at the right end of its header bar, with the
  // clear button next to it.
  const std::vector<int> marks = header_marks(picture);
  ASSERT_GE(marks.size(), 2u) << "no close and clear buttons in the header bar";
  click(log, marks[0], 26);
  EXPECT_TRUE(window_closes("Log")) << "the close button did not close it";
  EXPECT_EQ(waitpid(run.pid, nullptr, WNOHANG), 0) << "closing the log ended the program";

  const std::string again = shown_log(window);
  ASSERT_FALSE(again.empty()) << "Ctrl+L after closing showed no Log window";
  const LogRows kept = log_rows(capture(again));
  EXPECT_EQ(kept.errors, errors) << "red rows after reopening";
  EXPECT_EQ(kept.warnings, warnings) << "orange rows after reopening";
  EXPECT_EQ(kept.all, rows.all) << "rows after reopening";

  click(again, marks[1], 26);
  std::this_thread::sleep_for(500ms);
  const LogRows cleared = log_rows(capture(again));
  EXPECT_EQ(cleared.all, 0) << "rows left after clearing";

  // Saving a preset rescans the plugin's presets, which warns again of the
  // fixture's one without a label: a new message while the log shows.
  focus(window);
  press_keys("ctrl+shift+s");
  const std::string dialog = window_of("Save Preset");
  ASSERT_FALSE(dialog.empty());
  focus(dialog);
  shell("xdotool type --delay 40 'Logged'");
  std::this_thread::sleep_for(300ms);
  press_keys("Return");
  ASSERT_TRUE(window_closes("Save Preset"));
  shell("xdotool windowraise " + again);
  std::this_thread::sleep_for(500ms);
  const int new_warnings = count_prefixed(run.output(), "warning: ") - warnings;
  EXPECT_GE(new_warnings, 1) << run.output();
  const LogRows added = log_rows(capture(again));
  EXPECT_EQ(added.warnings, new_warnings) << "orange rows after the save";
  EXPECT_EQ(added.all, new_warnings) << "rows after the save";

  EXPECT_EQ(run.terminate(), 0);
}

} // namespace
