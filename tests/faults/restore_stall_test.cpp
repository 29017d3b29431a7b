// A restore asked for while the JACK server runs no cycle: the server is
// frozen with SIGSTOP under a running host, so the audio thread can never
// take the pause that a restore of a plugin without thread-safe restore
// needs.  The restore must give up after three seconds with nothing
// restored, the main loop must go on, and once the server runs again the
// plugin plays as before and the next restore works; a server killed while
// frozen ends the run as any server loss does.

#include "faults_rig.hpp"
#include "harness/played_gain.hpp"
#include "jack_server.hpp"
#include "jack_suite.hpp"
#include "state/state.hpp"
#include "ui/ui_update.hpp"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

constexpr char client[] = "bexo-faults-restore";

size_t times_logged(const HostRig& rig, const std::string& text) {
  size_t n = 0;
  for (const std::string& line : rig.logged(LOG_LEVEL_ERROR)) {
    n += line.find(text) != std::string::npos;
  }
  return n;
}

// A preset of the fixture's own bundle, or a state as a file would hold it.
int restore_soft_preset(HostRig& rig) {
  scan_presets(&rig.host, nullptr, nullptr);
  LilvNode* soft = lilv_new_uri(rig.host.world, "urn:bexo:test:controls#preset-soft");
  const int status = restore_preset(&rig.host, soft);
  lilv_node_free(soft);
  return status;
}

int restore_quarter_state(HostRig& rig) {
  LilvState* state = controls_state(rig, {{"gain", 0.25f}});
  if (!state) {
    return -1;
  }
  const int status = restore_state(&rig.host, state);
  lilv_state_free(state);
  return status;
}

struct StallCase {
  const char* what;
  std::function<int(HostRig&)> restore;
  float gain; ///< What the restore sets.
  /// Whether the main loop ran updates between SIGCONT and the restore
  /// that works; without, that restore is the first to see the pause.
  bool updates_first;
  bool second_try_while_frozen;
  /// A gain the user sets through the host's controls while the server is
  /// frozen (0: none); it waits behind the pause in ui_ring.
  float set_while_frozen;
};

TEST(RestoreStall, AFrozenServerMakesARestoreGiveUpAndTheHostGoesOnOnceItRuns) {
  const StallCase cases[] = {
      {"preset", restore_soft_preset, 0.5f, true, true, 0.0f},
      {"state, and a gain set meanwhile", restore_quarter_state, 0.25f, true, false, 2.0f},
      {"preset, restored again at once", restore_soft_preset, 0.5f, false, false, 0.0f},
  };
  const pid_t server = jack_server_pid();
  ASSERT_GT(server, 0) << "no private server to freeze";
  for (const StallCase& c : cases) {
    SCOPED_TRACE(c.what);
    HostRig rig;
    ASSERT_TRUE(open_running(rig, controls_uri, client));
    expect_plays_times(client, 1.0f);
    {
      ServerFreeze freeze(server);
      ASSERT_TRUE(freeze.frozen());
      auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(c.restore(rig), 1);
      const double waited = seconds_since(start);
      EXPECT_GE(waited, 2.9);
      EXPECT_LT(waited, 4.5) << "the restore did not give up in time";
      EXPECT_EQ(times_logged(rig, gave_up_restoring), 1u);
      EXPECT_EQ(control_value(rig, "gain"), 1.0) << "a restore that gave up changed the control";

      // The main loop answers while the server stays frozen.
      start = std::chrono::steady_clock::now();
      for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(rig.update(), 1);
      }
      EXPECT_LT(seconds_since(start), 0.5) << "periodic updates blocked on the frozen server";
      if (c.set_while_frozen != 0.0f) {
        EXPECT_EQ(apply_control_value(&rig.host, rig.control("gain"), sizeof(float),
                                      rig.host.urids.atom_Float, &c.set_while_frozen),
                  0);
      }
      if (c.second_try_while_frozen) {
        EXPECT_EQ(c.restore(rig), 1);
        EXPECT_EQ(times_logged(rig, gave_up_restoring), 2u);
      }
    }
    if (c.updates_first) {
      // The plugin plays again, without any restore asked for, at the gain
      // it had or was given meanwhile.
      run_updates(rig, 300ms);
      expect_plays_times(client, c.set_while_frozen != 0.0f ? c.set_while_frozen : 1.0f);
    }
    EXPECT_EQ(c.restore(rig), 0);
    expect_plays_times(client, c.gain);
    EXPECT_EQ(control_value(rig, "gain"), c.gain);
    run_updates(rig, 100ms);
    expect_plays_times(client, c.gain);
  }
}

bool server_answers(const std::string& name) {
  jack_client_t* probe = jack_client_open(
      "bexo-faults-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), nullptr,
      name.c_str());
  if (probe) {
    jack_client_close(probe);
  }
  return probe != nullptr;
}

// The host's client is on a server of the test's own, which may be killed;
// JACK_DEFAULT_SERVER points at it for the object's life.
class OwnServer {
public:
  OwnServer() : name("bexo-faults-kill-" + std::to_string(getpid())) {
    const char* before = std::getenv("JACK_DEFAULT_SERVER");
    previous = before ? before : "";
    pid = start_jack_server(name);
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  }
  ~OwnServer() {
    kill_now();
    // A JACK 2 server that died under a client leaves its entry in the
    // registry all servers share; a server of the same name takes it away.
    const pid_t again = start_jack_server(name);
    if (again > 0) {
      wait_for([&] { return server_answers(name); }, 15s);
      kill(again, SIGTERM);
      waitpid(again, nullptr, 0);
    }
    setenv("JACK_DEFAULT_SERVER", previous.c_str(), 1);
  }
  void kill_now() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      pid = -1;
    }
  }

  const std::string name;
  pid_t pid = -1;

private:
  std::string previous;
};

TEST(RestoreStall, AServerKilledWhileARestoreWaitedEndsTheRunAsAServerLoss) {
  OwnServer server;
  ASSERT_GT(server.pid, 0);
  ASSERT_TRUE(wait_for([&] { return server_answers(server.name); }, 15s));
  HostRig rig;
  ASSERT_TRUE(open_running(rig, controls_uri, client));
  ASSERT_TRUE(wait_for([&] { return rig.host.process.pending_frames > 0; }));
  {
    ServerFreeze freeze(server.pid);
    ASSERT_TRUE(freeze.frozen());
    EXPECT_EQ(restore_quarter_state(rig), 1);
    EXPECT_TRUE(rig.logged(LOG_LEVEL_ERROR, gave_up_restoring));
    EXPECT_EQ(zix_sem_try_wait(&rig.host.quit_sem), ZIX_STATUS_UNAVAILABLE);
    freeze.forget();
    server.kill_now(); // SIGKILL ends a stopped process too
  }
  EXPECT_EQ(zix_sem_timed_wait(&rig.host.quit_sem, 15, 0), ZIX_STATUS_SUCCESS)
      << "the loss of the server was not turned into a quit";
  // The updates that follow until the front end ends the run do no harm.
  run_updates(rig, 100ms);
}

} // namespace
