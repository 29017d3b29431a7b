// The JACK server going away under a running host ends the run like a
// signal does: at the next tick, with deactivation and close, exit 0.  This
// program starts a server of its own through the test launcher, so it runs
// outside one.

#include "scripted_run.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

namespace {

TEST(QuitShutdown, ServerGoingAwayEndsTheRunInOrder) {
  // The launcher keeps its server while the command runs; the command ends
  // when its standard input closes.
  int to_command[2];
  int from_command[2];
  // Close-on-exec, so that the host started later holds no end of them.
  ASSERT_EQ(pipe2(to_command, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(from_command, O_CLOEXEC), 0);
  const pid_t launcher = fork();
  ASSERT_GE(launcher, 0);
  if (launcher == 0) {
    dup2(to_command[0], STDIN_FILENO);
    dup2(from_command[1], STDOUT_FILENO);
    close(to_command[1]);
    close(from_command[0]);
    execl(BEXO_TEST_ENV_PATH, BEXO_TEST_ENV_PATH, "--jack", "--", "sh", "-c",
          "echo \"$JACK_DEFAULT_SERVER\"; read line || true", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(to_command[0]);
  close(from_command[1]);
  std::string server;
  char c = 0;
  while (read(from_command[0], &c, 1) == 1 && c != '\n') {
    server += c;
  }
  close(from_command[0]);
  ASSERT_FALSE(server.empty()) << "the launcher started no server";

  {
    ScriptedRun run({"BEXO_TEST_ARG=urn:bexo:test:controls", "JACK_DEFAULT_SERVER=" + server});
    ASSERT_GT(run.pid, 0);
    ASSERT_TRUE(run.read_until("tick"));
    close(to_command[1]); // the command ends, the launcher stops the server
    std::vector<std::string> after = run.rest();
    while (!after.empty() && after.front() == "tick") {
      after.erase(after.begin());
    }
    EXPECT_EQ(after, (std::vector<std::string>{"quit", "deactivated", "closed"}));
    EXPECT_EQ(run.exit_status(), 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(launcher, &status, 0), launcher);
}

} // namespace
