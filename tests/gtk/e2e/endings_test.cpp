// Every way a run of bexo-gtk ends: by a signal, by its quit key, when the
// JACK server goes away, and when there is nothing to open.  A run that was
// ended exits with 0 and takes its JACK client with it.

#include "gtk_run.hpp"
#include "harness/jack_world.hpp"
#include "harness/wait_for.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

// A JACK server of the test's own, for the case that stops it; stopping the
// one the launcher started would leave the rest of the program without.
class PrivateServer {
public:
  explicit PrivateServer(std::string server_name) : name(std::move(server_name)) { start(); }
  ~PrivateServer() {
    stop();
    // A JACK 2 server stopped under a client leaves its entry in the
    // registry all servers share, which has room for eight; only a server
    // of the same name takes it away again.
    start();
    stop();
  }

  bool running() const { return pid > 0; }
  void stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      pid = -1;
    }
  }

  const std::string name;

private:
  void start() {
    pid = start_jack_server(name);
    if (!wait_for([&] { return !jack_ports(name).empty(); }, 15s)) {
      stop();
    }
  }

  pid_t pid = -1;
};

enum class Ending { Sigint, Sigterm, SigtermInADialog, QuitKey, ServerStops };

TEST(BexoGtkEndings, EachWayOfEndingExitsWithZeroAndLeavesNoClient) {
  struct Case {
    const char* how;
    Ending ending;
  };
  const Case cases[] = {
      {"SIGINT", Ending::Sigint},
      {"SIGTERM", Ending::Sigterm},
      // A modal dialog runs a main loop of its own, which must not keep
      // the run alive.
      {"SIGTERM while Save Preset asks for a name", Ending::SigtermInADialog},
      {"Ctrl+Q", Ending::QuitKey},
      {"the server stopping", Ending::ServerStops},
  };
  for (const Case& c : cases) {
    std::unique_ptr<PrivateServer> own;
    std::vector<std::string> env;
    if (c.ending == Ending::ServerStops) {
      own = std::make_unique<PrivateServer>("bexo-gtk-e2e-" + std::to_string(getpid()));
      ASSERT_TRUE(own->running()) << "the test's own JACK server did not start";
      env.push_back("JACK_DEFAULT_SERVER=" + own->name);
    }
    const std::string server = own ? own->name : "";
    const std::string client = "bexo-gtk-ending";

    GtkRun run({"-n", client, "urn:bexo:test:controls"}, env);
    ASSERT_GT(run.pid, 0);
    const std::string window = plugin_window("Bexo Test Controls");
    ASSERT_FALSE(window.empty()) << c.how;
    ASSERT_TRUE(wait_for([&] { return has_jack_ports(client, server); }, 10s)) << c.how;

    switch (c.ending) {
    case Ending::Sigint:
      kill(run.pid, SIGINT);
      break;
    case Ending::Sigterm:
      kill(run.pid, SIGTERM);
      break;
    case Ending::SigtermInADialog:
      std::this_thread::sleep_for(300ms);
      focus(window);
      press_keys("ctrl+shift+s");
      ASSERT_FALSE(window_of("Save Preset").empty()) << c.how;
      kill(run.pid, SIGTERM);
      break;
    case Ending::QuitKey:
      std::this_thread::sleep_for(300ms);
      focus(window);
      press_keys("ctrl+q");
      break;
    case Ending::ServerStops:
      own->stop();
      break;
    }
    EXPECT_EQ(run.exit_status(), 0) << c.how;
    if (!own) {
      EXPECT_FALSE(has_jack_ports(client)) << c.how << " left the JACK client behind";
    }
  }
}

TEST(BexoGtkEndings, APluginThatIsNotInstalledEndsTheRunWithOneAndSaysWhy) {
  GtkRun run({"urn:bexo:test:not-installed"}, {}, true);
  ASSERT_GT(run.pid, 0);
  EXPECT_EQ(run.exit_status(), 1);
  const std::string output = run.output();
  bool error_line = false;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    error_line = error_line || (line.rfind("error: ", 0) == 0 && line.size() > 7);
  }
  EXPECT_TRUE(error_line) << output;
}

} // namespace
