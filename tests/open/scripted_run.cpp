// A program made of the real main and the tests' own front end, scripted
// through its environment: BEXO_TEST_ARG is the plugin or state to open,
// BEXO_TEST_RAISE a list of signals ("INT", "TERM") that it raises itself
// right after activation, before its event loop runs, BEXO_TEST_RAISE_EARLY
// signals raised before the host is even opened, BEXO_TEST_SWEEP the symbol
// of a control that it keeps changing.  It reports each
// step of its life on its standard output, one word per line, for the
// test that started it.

#include "frontend/test_frontend.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "host/periodic_update.hpp"
#include "state/control.hpp"
#include "ui/ui_update.hpp"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void report(const char* step) {
  std::printf("%s\n", step);
  std::fflush(stdout);
}

void raise_requested_signals(const char* variable) {
  const char* list = std::getenv(variable);
  std::string signals = list ? list : "";
  for (char* name = std::strtok(signals.data(), ","); name; name = std::strtok(nullptr, ",")) {
    std::raise(std::strcmp(name, "INT") == 0 ? SIGINT : SIGTERM);
  }
}

// Every 100 ms, sets the control `symbol` through the UI path, switching
// between its minimum and maximum.
void sweep(Host* host, const char* symbol) {
  using Clock = std::chrono::steady_clock;
  static Clock::time_point last;
  static bool high = false;
  Control* control = find_control_by_symbol(&host->controls, symbol);
  if (!control || Clock::now() - last < std::chrono::milliseconds(100)) {
    return;
  }
  last = Clock::now();
  high = !high;
  const float value = high ? control->max : control->min;
  apply_control_value(host, control, sizeof(value), host->urids.atom_Float, &value);
  report("changed");
}

const bool scripted = [] {
  TestFrontend& frontend = test_frontend();
  // After main installed the signal handler, before the host is opened.
  frontend.init = [](Host*) {
    raise_requested_signals("BEXO_TEST_RAISE_EARLY");
    return 0;
  };
  frontend.open = [](Host* host) {
    if (const int status = host_open(host, std::getenv("BEXO_TEST_ARG"))) {
      report("failed");
      return -status;
    }
    if (host_activate(host)) {
      report("failed");
      host_close(host);
      return 1;
    }
    report("active");
    raise_requested_signals("BEXO_TEST_RAISE");
    return 0;
  };
  frontend.tick = [](Host* host) {
    report(periodic_update(host) < 0 ? "quit" : "tick");
    if (const char* symbol = std::getenv("BEXO_TEST_SWEEP")) {
      sweep(host, symbol);
    }
  };
  frontend.close = [](Host* host) {
    host_deactivate(host);
    report("deactivated");
    host_close(host);
    report("closed");
  };
  return true;
}();

} // namespace
