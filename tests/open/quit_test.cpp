// Quitting, end to end through the real main: a signal before the host is
// opened, before the event loop or during it ends the run at the next
// update tick with deactivation and close, and a second signal before that
// tick changes nothing.  The plugin aborts should it be deactivated twice.

#include "scripted_run.hpp"

#include <cstring>
#include <gtest/gtest.h>

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

TEST(Quit, FailedOpenEndsWithoutClosing) {
  ScriptedRun run({"BEXO_TEST_ARG=urn:bexo:test:not-installed"});
  ASSERT_GT(run.pid, 0);
  EXPECT_EQ(run.rest(), std::vector<std::string>{"failed"});
  EXPECT_EQ(run.exit_status(), 2); // the open's status, negated by the script
}

} // namespace
