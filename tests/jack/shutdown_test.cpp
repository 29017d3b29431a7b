// When the server goes away under a running client, the backend must ask
// the host to quit.  This program starts and stops a server of its own, so
// it runs outside the launcher and never beside another server.

#include "harness/wait_for.hpp"
#include "jack_suite.hpp"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

bool server_answers(const std::string& name) {
  jack_client_t* client = jack_client_open(
      "bexo-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), nullptr,
      name.c_str());
  if (!client) {
    return false;
  }
  jack_client_close(client);
  return true;
}

bool stop_server(pid_t pid) {
  int status = 0;
  kill(pid, SIGTERM);
  return waitpid(pid, &status, 0) == pid;
}

TEST(Shutdown, StoppingTheServerPostsQuit) {
  const std::string name = "bexo-shutdown-" + std::to_string(getpid());
  const pid_t server = start_jack_server(name);
  ASSERT_GT(server, 0);
  ASSERT_TRUE(wait_for([&] { return server_answers(name); }, 15s));
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);

  {
    HostRig rig;
    ASSERT_TRUE(open_running(rig, "urn:bexo:test:io", "bexo-shutdown"));
    ASSERT_TRUE(wait_for([&] { return rig.host.process.pending_frames > 0; }));
    EXPECT_EQ(zix_sem_try_wait(&rig.host.quit_sem), ZIX_STATUS_UNAVAILABLE);

    ASSERT_TRUE(stop_server(server));
    EXPECT_EQ(zix_sem_timed_wait(&rig.host.quit_sem, 15, 0), ZIX_STATUS_SUCCESS);
  }

  // A JACK 2 server stopped while a client is attached leaves its entry in
  // the registry that all servers share, and only a server of the same
  // name frees it; the registry has room for eight.  So a server of this
  // name runs once more, without clients, and takes its entry away.
  const pid_t again = start_jack_server(name);
  ASSERT_GT(again, 0);
  EXPECT_TRUE(wait_for([&] { return server_answers(name); }, 15s));
  EXPECT_TRUE(stop_server(again));
}

} // namespace
