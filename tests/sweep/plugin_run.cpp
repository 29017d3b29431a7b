#include "plugin_run.hpp"

#include "backtrace.hpp"
#include "harness/desktop.hpp"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Every check of the window asks the X server through a process of its own;
// this pace keeps the time to ready exact to a few tens of milliseconds
// without loading the machine that runs the plugin.
constexpr auto poll_pace = 25ms;

class Child {
public:
  explicit Child(pid_t id) : pid(id) {}

  /// Whether it has ended (reaped now or before).
  bool ended() {
    if (!done && waitpid(pid, &status, WNOHANG) == pid) {
      done = true;
    }
    return done;
  }

  /// Waits until it ends or `limit` passes; whether it ended.
  bool ends_within(std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!ended() && Clock::now() < end) {
      std::this_thread::sleep_for(poll_pace);
    }
    return ended();
  }

  void kill_now() {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    done = true;
  }

  Ending ending(bool by_itself, bool killed) const {
    Ending e;
    e.exited = WIFEXITED(status);
    e.code = e.exited ? WEXITSTATUS(status) : 0;
    e.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    e.by_itself = by_itself;
    e.killed = killed;
    return e;
  }

  const pid_t pid;

private:
  bool done = false;
  int status = 0;
};

// What the run still lacks to be ready; "" once it is.  `window` keeps a
// window once seen, as a plugin's UI may remap it while it settles.
std::string not_ready(pid_t pid, JackWatch& watch, bool* window) {
  if (!*window) {
    *window = !windows_of_pid(pid, 0ms).empty();
  }
  const JackWatch::Seen* own = nullptr;
  const std::vector<JackWatch::Seen> clients = watch.run_clients();
  for (const JackWatch::Seen& c : clients) {
    if (c.present) {
      own = &c;
    }
  }
  if (!*window) {
    return own ? "no window mapped" : "no window mapped, no JACK client";
  }
  if (!own) {
    return "no JACK client";
  }
  if (own->has_ports && !own->announced) {
    return "JACK client \"" + own->name + "\" not active";
  }
  return "";
}

// The clients of the run that the server still has once `limit` has
// passed: a client whose process is gone is dropped by the server when it
// notices, which takes it a moment after a crash or a kill.
std::vector<std::string> left_clients(JackWatch& watch, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  for (;;) {
    std::vector<std::string> left;
    for (const JackWatch::Seen& c : watch.run_clients()) {
      if (c.present) {
        left.push_back(c.name + " (" + std::to_string(watch.ports_of(c.name).size()) + " ports)");
      }
    }
    if (left.empty() || Clock::now() >= end) {
      return left;
    }
    std::this_thread::sleep_for(poll_pace);
  }
}

// Watches the run until it is ready, ends or runs out of time.
void wait_until_ready(Child& child, Clock::time_point start, const PluginRun& run, JackWatch& watch,
                      Observation* seen) {
  bool window = false;
  std::string lacking = not_ready(child.pid, watch, &window);
  while (!lacking.empty() && !child.ended() && Clock::now() - start < run.limits.ready) {
    std::this_thread::sleep_for(poll_pace);
    lacking = not_ready(child.pid, watch, &window);
  }
  if (lacking.empty()) {
    seen->ready_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  seen->not_ready_because = lacking;
}

// Lets a ready run go on for its time, then ends it with SIGTERM; a run
// that never got ready, or does not end, is killed, with its backtrace
// taken first.
void end_run(Child& child, const PluginRun& run, Observation* seen) {
  const auto kill_hung = [&] {
    if (run.backtraces) {
      seen->backtrace = backtrace_of_process(child.pid);
    }
    child.kill_now();
  };
  if (child.ended() || (seen->ready_seconds && child.ends_within(run.limits.run))) {
    seen->ending = child.ending(true, false);
  } else if (!seen->ready_seconds) {
    kill_hung();
    seen->ending = child.ending(false, true);
  } else {
    kill(child.pid, SIGTERM);
    const bool ended = child.ends_within(run.limits.end);
    if (!ended) {
      kill_hung();
    }
    seen->ending = child.ending(false, !ended);
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

Observation run_plugin(const PluginRun& run, JackWatch& watch) {
  Observation seen;
  seen.ready_limit = std::chrono::duration<double>(run.limits.ready).count();
  seen.end_limit = std::chrono::duration<double>(run.limits.end).count();

  const TempHome home;
  std::vector<std::string> env = home.env();
  env.push_back("LV2_PATH=" + run.lv2_path);
  const std::string output_path = home.path() + "/output.txt";

  // The program works in its home, where a crash leaves its core.
  const std::string sweep_dir = std::filesystem::current_path();
  std::filesystem::current_path(home.path());
  watch.begin_run();
  const auto start = Clock::now();
  Child child(start_program(run.program, {run.uri}, env, output_path));
  std::filesystem::current_path(sweep_dir);
  if (child.pid <= 0) {
    seen.started = false;
    return seen;
  }

  wait_until_ready(child, start, run, watch, &seen);
  end_run(child, run, &seen);
  if (run.backtraces && !seen.ending.exited && !seen.ending.killed) {
    seen.backtrace = backtrace_of_core(run.program, home.path(), child.pid);
  }
  seen.left_clients = left_clients(watch, run.limits.gone);
  seen.output = read_file(output_path);
  return seen;
}
