// Time from starting a program to its main window being mapped, for
// bexo-gtk and bexo-qt side by side in one run: the controls fixture,
// eg-amp (a panel of one dial, so mostly the cost of starting at all) and
// synthv1 (a plugin with about 150 controls, whose generic panel is the
// largest a user is likely to open).  Each program is started ten times;
// the figures are the median and the fastest start.  Run it under the
// launcher, which gives it a private JACK server and a display:
//
//   build/release/tests/harness/bexo-test-env --jack --display -- build/release/bench/window_bench

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int runs = 10;

struct Case {
  const char* program;
  const char* option; ///< One option before the plugin, or null.
  const char* plugin;
  const char* title; ///< Of the main window.
};

bool has_title(Display* display, Window window, const std::string& title) {
  char* name = nullptr;
  const bool match = XFetchName(display, window, &name) && name && title == name;
  XFree(name);
  return match;
}

// Milliseconds until a window with the title is mapped; -1 after 30 s.
double time_to_window(Display* display, const Case& c) {
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, True);
  std::vector<char*> argv{const_cast<char*>(c.program)};
  if (c.option) {
    argv.push_back(const_cast<char*>(c.option));
  }
  argv.push_back(const_cast<char*>(c.plugin));
  argv.push_back(nullptr);
  const Clock::time_point start = Clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, c.program, nullptr, nullptr, argv.data(), environ) != 0) {
    return -1;
  }
  double elapsed = -1;
  while (Clock::now() - start < std::chrono::seconds(30)) {
    if (!XPending(display)) {
      struct timespec pause {
        0, 200000
      };
      nanosleep(&pause, nullptr);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MapNotify && has_title(display, event.xmap.window, c.title)) {
      elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      break;
    }
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return elapsed;
}

// The middle of the sorted times, or the mean of the two middle ones for an
// even count.
double median(const std::vector<double>& sorted) {
  const size_t middle = sorted.size() / 2;
  return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

} // namespace

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "window_bench: no display; run it under bexo-test-env --display\n");
    return 1;
  }
  setenv("LV2_PATH", BEXO_FIXTURE_LV2_DIR ":/usr/lib/lv2", 1);
  setenv("HOME", "/nonexistent", 1); // no user's presets or settings
  const Case cases[] = {
      {BEXO_GTK_PATH, nullptr, "urn:bexo:test:controls", "Bexo Test Controls"},
      {BEXO_QT_PATH, nullptr, "urn:bexo:test:controls", "Bexo Test Controls"},
      {BEXO_QT_PATH, nullptr, "http://lv2plug.in/plugins/eg-amp", "Simple Amplifier"},
      // bexo-gtk embeds synthv1's own X11 UI; with -g it shows the panel,
      // as bexo-qt does.
      {BEXO_GTK_PATH, nullptr, "http://synthv1.sourceforge.net/lv2", "synthv1"},
      {BEXO_GTK_PATH, "-g", "http://synthv1.sourceforge.net/lv2", "synthv1"},
      {BEXO_QT_PATH, nullptr, "http://synthv1.sourceforge.net/lv2", "synthv1"},
  };
  std::printf("%-13s %-36s %10s %10s\n", "program", "plugin", "median ms", "best ms");
  int status = 0;
  for (const Case& c : cases) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
      times.push_back(time_to_window(display, c));
    }
    std::sort(times.begin(), times.end());
    const std::string path = c.program;
    const std::string name =
        path.substr(path.rfind('/') + 1) + (c.option ? std::string(" ") + c.option : "");
    // A start whose window never came would pass for the fastest.
    if (times.front() < 0) {
      std::printf("%-13s %-36s %21s\n", name.c_str(), c.plugin, "no window");
      status = 1;
      continue;
    }
    std::printf("%-13s %-36s %10.0f %10.0f\n", name.c_str(), c.plugin, median(times),
                times.front());
  }
  XCloseDisplay(display);
  return status;
}
