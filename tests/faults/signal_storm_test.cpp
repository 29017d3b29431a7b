// Storms of SIGINT and SIGTERM, a hundred mixed as fast as kill() sends
// them, while a program opens its plugin, while it runs, and while it
// closes: whichever comes first ends the run, and the rest change nothing.
// Each run must exit once, with status 0, after an orderly end (the uis
// fixture aborts should it be deactivated twice or without an activation),
// and leave no JACK port behind.

#include "harness/wait_for.hpp"
#include "jack_server.hpp"
#include "programs.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <thread>

namespace {

// The uis fixture aborts on a deactivation out of turn, which the tests'
// own front end shows no UI of; the real programs show the controls
// fixture's panel.
const char* plugin_for(const Program& program) {
  return program.scripted ? "urn:bexo:test:uis" : "urn:bexo:test:controls";
}

// Until the plugin runs: the first tick of the event loop, or the ports
// of a program's client.
bool wait_until_running(const Program& program, const ProgramRun& run,
                        const std::vector<std::string>& before) {
  if (program.scripted) {
    return soon([&] { return count_lines(run, "tick") > 0; }, 15s);
  }
  return !new_client_with(before, "out_l").empty();
}

// Sends `count` signals, SIGINT and SIGTERM in turn; returns how many
// kill() took (it refuses only once the process is gone).
int storm(pid_t pid, int count) {
  int sent = 0;
  for (int i = 0; i < count; ++i) {
    sent += kill(pid, i % 2 ? SIGTERM : SIGINT) == 0;
  }
  return sent;
}

enum class Phase { Opening, Running, Closing };

struct StormCase {
  const char* what;
  Phase phase;
};

void run_storm(const Program& program, const StormCase& c) {
  SCOPED_TRACE(std::string(program.name) + ", " + c.what);
  const std::vector<std::string> before = jack_ports();
  const std::unique_ptr<ProgramRun> run = start(program, plugin_for(program));
  const pid_t pid = run->pid;
  ASSERT_GT(pid, 0);
  switch (c.phase) {
  case Phase::Opening:
    // From the moment the handler is in place, before the plugin is open.
    ASSERT_TRUE(wait_for(
        [&] { return catches_signal(pid, SIGINT) && catches_signal(pid, SIGTERM); }, 10s, 0ms));
    EXPECT_EQ(storm(pid, 100), 100);
    break;
  case Phase::Running:
    ASSERT_TRUE(wait_until_running(program, *run, before)) << "the plugin never ran";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(storm(pid, 100), 100);
    break;
  case Phase::Closing:
    ASSERT_TRUE(wait_until_running(program, *run, before)) << "the plugin never ran";
    std::this_thread::sleep_for(300ms);
    kill(pid, SIGTERM);
    if (program.scripted) {
      // Until the close has begun.
      ASSERT_TRUE(soon([&] { return count_lines(*run, "quit") > 0; }));
    }
    for (int i = 0; i < 99; ++i) {
      kill(pid, i % 2 ? SIGINT : SIGTERM);
      std::this_thread::sleep_for(1ms); // spread over the close
    }
    break;
  }
  EXPECT_EQ(run->exit_status(), 0) << run->output();
  if (program.scripted) {
    for (const char* step : {"quit", "deactivated", "closed"}) {
      EXPECT_EQ(count_lines(*run, step), 1u) << step << "\n" << run->output();
    }
  }
  EXPECT_TRUE(ports_back_to(before)) << "the run left JACK ports behind";
}

TEST(SignalStorm, AHundredSignalsEndEachProgramOnceAndInOrder) {
  const StormCase cases[] = {
      {"while it opens", Phase::Opening},
      {"while it runs", Phase::Running},
      {"while it closes", Phase::Closing},
  };
  for (const Program& program : all_programs) {
    for (const StormCase& c : cases) {
      run_storm(program, c);
    }
  }
}

} // namespace
