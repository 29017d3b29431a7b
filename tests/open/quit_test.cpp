// Quitting, end to end through the real main: a signal before the host is
// opened, before the event loop or during it ends the run at the next
// update tick with deactivation and close, and a second signal before that
// tick changes nothing.  The plugin aborts should it be deactivated twice.

#include "scripted_run.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <set>

namespace {

const std::vector<std::string> orderly_end{"quit", "deactivated", "closed"};

TEST(Quit, SignalsBeforeTheLoopTakeEffectAtTheFirstTick) {
  for (const char* signals : {"INT", "TERM", "INT,INT", "TERM,INT"}) {
    ScriptedRun run({"BEXO_TEST_ARG=urn:bexo:test:uis", std::string("BEXO_TEST_RAISE=") + signals});
    ASSERT_GT(run.pid, 0);
    ASSERT_TRUE(run.read_until("active")) << signals;
    EXPECT_EQ(run.rest(), orderly_end) << signals;
    EXPECT_EQ(run.exit_status(), 0) << signals;
  }
}

TEST(Quit, SignalBeforeTheHostIsOpenedIsKeptForTheFirstTick) {
  ScriptedRun run({"BEXO_TEST_ARG=urn:bexo:test:uis", "BEXO_TEST_RAISE_EARLY=INT"});
  ASSERT_GT(run.pid, 0);
  ASSERT_TRUE(run.read_until("active"));
  EXPECT_EQ(run.rest(), orderly_end);
  EXPECT_EQ(run.exit_status(), 0);
}

TEST(Quit, SignalsDuringTheLoopEndItAtTheNextTick) {
  for (const int sig : {SIGINT, SIGTERM}) {
    ScriptedRun run({"BEXO_TEST_ARG=urn:bexo:test:uis"});
    ASSERT_GT(run.pid, 0);
    ASSERT_TRUE(run.read_until("tick"));
    ASSERT_TRUE(run.read_until("tick"));
    kill(run.pid, sig);
    kill(run.pid, sig); // before the tick that acts on the first one
    std::vector<std::string> after = run.rest();
    // A tick already under way when the signals came may still report.
    while (!after.empty() && after.front() == "tick") {
      after.erase(after.begin());
    }
    EXPECT_EQ(after, orderly_end) << strsignal(sig);
    EXPECT_EQ(run.exit_status(), 0) << strsignal(sig);
  }
}

// The scratch directories in the temporary directory ("bexo" and six
// random characters).
std::set<std::string> scratch_dirs() {
  std::set<std::string> found;
  const char* tmp = std::getenv("TMPDIR");
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(tmp ? tmp : "/tmp", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == 10 && name.rfind("bexo", 0) == 0 && name.find('-') == std::string::npos) {
      found.insert(entry.path().string());
    }
  }
  return found;
}

TEST(Quit, TenSecondsOfControlChangesEndCleanlyOnSigterm) {
  const std::set<std::string> before = scratch_dirs();
  ScriptedRun run({"BEXO_TEST_ARG=http://lv2plug.in/plugins/eg-amp", "BEXO_TEST_SWEEP=gain"});
  ASSERT_GT(run.pid, 0);
  ASSERT_TRUE(run.read_until("active"));
  int changes = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    const std::string line = run.next();
    ASSERT_FALSE(line.empty()) << "the run ended early";
    changes += line == "changed";
  }
  kill(run.pid, SIGTERM);
  std::vector<std::string> after = run.rest();
  after.erase(std::remove_if(after.begin(), after.end(),
                             [](const std::string& s) { return s == "tick" || s == "changed"; }),
              after.end());
  EXPECT_EQ(after, orderly_end);
  EXPECT_EQ(run.exit_status(), 0);
  EXPECT_GE(changes, 80); // one every 100 ms, as the ticks allow

  // Nothing is left behind: no JACK client of the run, no scratch directory.
  jack_client_t* check = jack_client_open("bexo-check", JackNoStartServer, nullptr);
  ASSERT_NE(check, nullptr);
  const char** ports = jack_get_ports(check, "Simple Amplifier:.*", nullptr, 0);
  EXPECT_EQ(ports, nullptr);
  jack_free(ports);
  jack_client_close(check);
  EXPECT_EQ(scratch_dirs(), before);
}

TEST(Quit, FailedOpenEndsWithoutClosing) {
  // A failed open leaves what it made for the process's end to take, which
  // a leak checker would report.
  ScriptedRun run({"BEXO_TEST_ARG=urn:bexo:test:not-installed", "ASAN_OPTIONS=detect_leaks=0"});
  ASSERT_GT(run.pid, 0);
  EXPECT_EQ(run.rest(), std::vector<std::string>{"failed"});
  EXPECT_EQ(run.exit_status(), 2); // the open's status, negated by the script
}

} // namespace
