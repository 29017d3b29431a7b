#pragma once

// The tests' own front end: every Frontend operation (its table is
// bexo_frontend, so a test program links this or a real front end, not
// both), with what a real front end takes from the display settable by the
// test, and a record of every control it was asked to show.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Control;
struct Host;

/// One gui_show_control call, with the value as it was at that moment.
struct ShownControl {
  Control* control;
  std::string symbol;
  uint32_t type;    ///< Atom type of the value.
  double number;    ///< The value as a number (0 for strings and paths).
  std::string text; ///< The value of a string, path or URI.
  bool ui_updating; ///< Whether the host had ui_updating set.
};

struct TestFrontend {
  // What the display would say.
  float refresh_rate = 60.0f;
  float scale_factor = 1.0f;
  std::string plugin_choice;  ///< Empty: the user picks nothing.
  std::string native_ui_type; ///< Empty: no native UI type.
  int init_status = 0;        ///< What gui_init returns.

  // What gui_run does: open (nonzero ends it with that status), then a
  // loop calling tick every 1000 / ui_rate_hz milliseconds until
  // gui_close, then close.
  std::function<int(Host*)> init; ///< Also run by gui_init, before it returns.
  std::function<int(Host*)> open;
  std::function<void(Host*)> tick;
  std::function<void(Host*)> close;

  std::atomic<bool> quit{false};
  std::atomic<int> close_calls{0};
  std::atomic<int> ticks{0};
  int init_calls = 0;
  std::vector<ShownControl> shown;
};

/// The front end's one record.
TestFrontend& test_frontend();

/// Back to the starting values, forgetting every recorded call and hook.
void test_frontend_reset();
