// Restores while another client keeps changing the server's buffer size:
// each change stops the cycles for a moment and makes the backend prepare
// the plugin's buffers again, between or during the pauses that restores
// take.  Nothing may crash, every restore must go through, and at the end
// the plugin holds the values restored last and plays them.

#include "faults_rig.hpp"
#include "harness/played_gain.hpp"
#include "jack_suite.hpp"
#include "state/state.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr char client[] = "bexo-faults-resize";

// The launcher's server runs at 256 frames; the rest of the program
// expects it to again.
constexpr jack_nframes_t launcher_block = 256;

class Resizer {
public:
  Resizer() {
    jack = jack_client_open("bexo-faults-resizer", JackNoStartServer, nullptr);
    if (jack) {
      jack_set_buffer_size_callback(jack, counted, this);
      jack_activate(jack);
    }
  }
  ~Resizer() {
    stop();
    if (jack) {
      jack_set_buffer_size(jack, launcher_block);
      jack_client_close(jack);
    }
  }
  bool ok() const { return jack != nullptr; }
  void start() {
    running = true;
    thread = std::thread([this] {
      const jack_nframes_t sizes[] = {64, 1024, 256, 128, 512};
      for (size_t i = 0; running; ++i) {
        jack_set_buffer_size(jack, sizes[i % std::size(sizes)]);
        std::this_thread::sleep_for(15ms);
      }
    });
  }
  void stop() {
    if (running.exchange(false)) {
      thread.join();
    }
  }
  std::atomic<int> changes{0};

private:
  static int counted(jack_nframes_t, void* data) {
    ++static_cast<Resizer*>(data)->changes;
    return 0;
  }
  jack_client_t* jack = nullptr;
  std::atomic<bool> running{false};
  std::thread thread;
};

TEST(BufferSize, RestoresDuringBufferSizeChangesLeaveTheLastValuesRestored) {
  HostRig rig;
  ASSERT_TRUE(open_running(rig, controls_uri, client));
  Resizer resizer;
  ASSERT_TRUE(resizer.ok());
  scan_presets(&rig.host, nullptr, nullptr);
  LilvNode* round = lilv_new_uri(rig.host.world, "urn:bexo:test:controls#preset-round");

  resizer.start();
  const float gains[] = {0.25f, 2.0f, 0.75f, 0.5f};
  int failed = 0;
  // At least 60 restores, and on until the size changed 20 times.
  const auto end = std::chrono::steady_clock::now() + 20s;
  for (int i = 0; (i < 60 || resizer.changes.load() < 20) && std::chrono::steady_clock::now() < end;
       ++i) {
    // Presets and states in turn, each with values of its own.
    if (i % 3 == 2) {
      failed += restore_preset(&rig.host, round) != 0;
    } else {
      LilvState* state = controls_state(
          rig,
          {{"gain", gains[i % 4]}, {"echo_in", static_cast<float>(i)}, {"cutoff", 100.0f + i}});
      ASSERT_NE(state, nullptr);
      failed += restore_state(&rig.host, state) != 0;
      lilv_state_free(state);
    }
    rig.update();
    std::this_thread::sleep_for(5ms);
  }
  resizer.stop();
  lilv_node_free(round);
  EXPECT_EQ(failed, 0) << "restores that did not go through";
  EXPECT_GE(resizer.changes.load(), 20) << "the server hardly changed its buffer size";

  // The last restore, once the size is back where the sink checks it.
  LilvState* last = controls_state(rig, {{"gain", 0.5f}, {"echo_in", 42.0f}, {"cutoff", 333.0f}});
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(restore_state(&rig.host, last), 0);
  lilv_state_free(last);
  EXPECT_EQ(control_value(rig, "gain"), 0.5);
  EXPECT_EQ(control_value(rig, "cutoff"), 333.0);
  // The plugin copies echo_in to echo_out: what it reports is what it holds.
  EXPECT_TRUE(rig.update_until([&] { return control_value(rig, "echo_out") == 42.0; }))
      << "the plugin reports echo_out " << control_value(rig, "echo_out");
  expect_plays_times(client, 0.5f);
}

} // namespace
