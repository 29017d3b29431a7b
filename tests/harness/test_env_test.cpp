// The launcher must give a command a private JACK server and a display, and
// must never leave a server behind: not after success, failure, an interrupt,
// nor when it is killed outright.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Launched {
  pid_t pid = -1;
  int out = -1; // read end of the command's standard output
};

Launched launch(const std::vector<std::string>& args) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(BEXO_TEST_ENV_PATH));
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  return {pid, fds[0]};
}

std::string read_line(int fd) {
  std::string line;
  char c = 0;
  while (read(fd, &c, 1) == 1 && c != '\n') {
    line += c;
  }
  return line;
}

int wait_status(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

bool server_answers(const std::string& name) {
  jack_status_t status{};
  jack_client_t* client = jack_client_open(
      "bexo-test-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
      name.c_str());
  if (!client) {
    return false;
  }
  jack_client_close(client);
  return true;
}

// The server may take a moment to go once its owner is gone.
bool server_gone_within(const std::string& name, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (server_answers(name)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

// Prints the server name, proves the server answers, then runs `tail`.
std::vector<std::string> jack_command(const std::string& tail) {
  return {"--jack", "--", "sh", "-c",
          "echo \"$JACK_DEFAULT_SERVER\"; jack_lsp >/dev/null 2>&1 && echo up || echo down; " +
              tail};
}

TEST(TestEnv, PrivateServerServesTheCommandAndIsStoppedAfterwards) {
  for (const int code : {0, 3}) {
    Launched run = launch(jack_command("exit " + std::to_string(code)));
    const std::string name = read_line(run.out);
    EXPECT_EQ(read_line(run.out), "up");
    close(run.out);

    const int status = wait_status(run.pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), code);
    EXPECT_EQ(name.rfind("bexo-test-", 0), 0u) << name;
    EXPECT_NE(name, "default");
    EXPECT_FALSE(server_answers(name));
  }
}

TEST(TestEnv, InterruptReachesTheCommandAndStopsTheServer) {
  Launched run = launch(jack_command("exec sleep 60"));
  const std::string name = read_line(run.out);
  ASSERT_EQ(read_line(run.out), "up");
  close(run.out);

  const auto start = std::chrono::steady_clock::now();
  kill(run.pid, SIGINT);
  const int status = wait_status(run.pid);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
  EXPECT_FALSE(server_answers(name));
}

TEST(TestEnv, KilledLauncherTakesTheServerWithIt) {
  Launched run = launch(jack_command("exec sleep 60"));
  const std::string name = read_line(run.out);
  ASSERT_EQ(read_line(run.out), "up");
  close(run.out);

  kill(run.pid, SIGKILL);
  wait_status(run.pid);
  EXPECT_TRUE(server_gone_within(name, 10s));
}

// The user's display, when there is one, is never the one a test gets.
TEST(TestEnv, DisplayIsAPrivateOneWhetherOrNotOneIsSet) {
  for (const char* users : {"", ":4711"}) {
    setenv("DISPLAY", users, 1);
    Launched run = launch({"--display", "--", "sh", "-c",
                           "echo \"$DISPLAY\"; xdpyinfo >/dev/null 2>&1 && echo up || echo down"});
    const std::string display = read_line(run.out);
    EXPECT_EQ(read_line(run.out), "up") << users;
    close(run.out);
    const int status = wait_status(run.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << users;
    EXPECT_EQ(display.rfind(':', 0), 0u) << display;
    EXPECT_NE(display, users);
  }
  unsetenv("DISPLAY");
}

TEST(TestEnv, MissingCommandIsAUsageError) {
  Launched run = launch({"--jack"});
  close(run.out);
  const int status = wait_status(run.pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

} // namespace
