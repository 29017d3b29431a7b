// When the server goes away under a running client, the backend must ask
// the host to quit.  This program starts a server of its own through the
// test launcher, so it runs outside one and never shares a server.

#include "world.hpp"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(Shutdown, StoppingTheServerPostsQuit) {
  // The launcher keeps its server while the command runs; the command ends
  // when its standard input closes.
  int to_command[2];
  int from_command[2];
  ASSERT_EQ(pipe(to_command), 0);
  ASSERT_EQ(pipe(from_command), 0);
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
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);

  {
    HostRig rig;
    ASSERT_TRUE(rig.open_and_start("urn:bexo:test:io", "bexo-shutdown"));
    EXPECT_EQ(zix_sem_try_wait(&rig.quit_sem), ZIX_STATUS_UNAVAILABLE);

    close(to_command[1]); // the command ends, the launcher stops the server
    EXPECT_EQ(zix_sem_timed_wait(&rig.quit_sem, 15, 0), ZIX_STATUS_SUCCESS);
  }

  int status = 0;
  ASSERT_EQ(waitpid(launcher, &status, 0), launcher);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
