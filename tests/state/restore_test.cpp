// Restoring a state beside the audio thread: when the plugin is paused, which
// ring each value takes, what a full ring does, and port values a state
// names that do not fit the plugin.

#include "engine/message.hpp"
#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"
#include "harness/wait_for.hpp"
#include "state/state.hpp"
#include "state/state_support.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A ring message as the tests compare it: its type, the first word of its
// body (port index or run state) and the value of a control message.
struct Message {
  uint32_t type;
  uint32_t word;
  float value;
  bool operator==(const Message&) const = default;
};

Message message_of(const RingMessage& m) {
  Message message{m.type, 0, 0.0f};
  if (m.body.size() >= sizeof(uint32_t)) {
    message.word = m.port_index();
  }
  if (m.type == CONTROL_CHANGE) {
    message.value = m.value();
  }
  return message;
}

std::vector<Message> messages_of(const std::vector<RingMessage>& ring_messages) {
  std::vector<Message> messages;
  for (const RingMessage& m : ring_messages) {
    messages.push_back(message_of(m));
  }
  return messages;
}

void sort_by_word(std::vector<Message>& messages) {
  std::sort(messages.begin(), messages.end(),
            [](const Message& a, const Message& b) { return a.word < b.word; });
}

// Stands in for the audio thread while it runs: reads ui_ring, records
// every message, applies run-state changes and acknowledges a pause at the
// end of its cycle, without running the plugin, so that the test sees what
// the restore wrote and in which order.
class RecordingAudio {
public:
  explicit RecordingAudio(ProcessState* process) : process(process) {
    process->run_state.store(RUNNING);
    thread = std::thread([this] { loop(); });
  }
  ~RecordingAudio() {
    stop = true;
    thread.join();
  }
  std::vector<Message> seen() {
    const std::lock_guard<std::mutex> guard(lock);
    return messages;
  }
  std::vector<Message> wait_for(size_t count) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (seen().size() < count && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(1ms);
    }
    // Anything more would come at once.
    std::this_thread::sleep_for(20ms);
    return seen();
  }

private:
  void loop() {
    while (!stop) {
      bool pause = false;
      for (const RingMessage& m : read_ring_messages(process->ui_ring)) {
        const Message message = message_of(m);
        if (message.type == RUN_STATE_CHANGE) {
          process->run_state.store(message.word);
          pause |= message.word == PAUSED;
        }
        const std::lock_guard<std::mutex> guard(lock);
        messages.push_back(message);
      }
      if (pause) {
        zix_sem_post(&process->paused);
      }
      std::this_thread::sleep_for(200us);
    }
  }

  ProcessState* process;
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::vector<Message> messages;
  std::thread thread;
};

// The port values a state sets, as control messages sorted by port index.
std::vector<Message> port_values(HostRig& rig, LilvState* state) {
  std::pair<StateHost*, std::vector<Message>> collect{&rig.host, {}};
  lilv_state_emit_port_values(
      state,
      [](const char* symbol, void* data, const void* value, uint32_t, uint32_t) {
        auto* self = static_cast<std::pair<StateHost*, std::vector<Message>>*>(data);
        const Port* port = find_port_by_symbol(self->first, symbol);
        self->second.push_back({CONTROL_CHANGE, port->index, *static_cast<const float*>(value)});
      },
      &collect);
  sort_by_word(collect.second);
  return collect.second;
}

// ---------------------------------------------------------------------------
// The pause protocol of a restore while the audio thread runs.

struct ProtocolCase {
  const char* name;
  const char* plugin;
  const char* preset;
  bool thread_safe;
  bool control_input;
};

void PrintTo(const ProtocolCase& c, std::ostream* os) {
  *os << c.plugin;
}

class PauseProtocol : public testing::TestWithParam<ProtocolCase> {
protected:
  void SetUp() override { test_frontend_reset(); }
};

TEST_P(PauseProtocol, RestoringWhileRunningPausesExactlyWhenThePluginNeedsIt) {
  const ProtocolCase& c = GetParam();
  HostRig rig;
  ASSERT_EQ(rig.open_manual(c.plugin), 0);
  ASSERT_EQ(rig.host.thread_safe_restore, c.thread_safe);
  ProcessState& p = rig.host.process;
  rig.discard_ui_messages(); // what the restore at open left
  rig.drain();
  LilvState* state = preset_state(rig, c.preset);
  ASSERT_NE(state, nullptr);
  const std::vector<Message> values = port_values(rig, state);
  ASSERT_EQ(values.size(), 3u);

  std::vector<Message> seen;
  int restored = -1;
  {
    RecordingAudio audio(&p);
    restored = restore_state(&rig.host, state);
    seen = audio.wait_for(c.thread_safe ? 4 : c.control_input ? 3 : 2);
    // Stops the recorder before the test reads what the main thread wrote.
  }
  lilv_state_free(state);
  EXPECT_EQ(restored, 0);

  std::vector<Message> announced = messages_of(rig.drain());
  sort_by_word(announced);
  const Message update{UPDATE_REQUEST, 0, 0.0f};
  if (c.thread_safe) {
    // Values travel through ui_ring; nothing but the audio thread writes
    // process_ring, and the UI side was told at once.
    ASSERT_FALSE(seen.empty());
    std::vector<Message> controls(seen.begin(), seen.end() - 1);
    sort_by_word(controls);
    EXPECT_EQ(controls, values);
    EXPECT_EQ(seen.back(), update);
    EXPECT_TRUE(announced.empty());
    for (const Message& v : values) {
      const Control* control = find_port_control(&rig.host.controls, v.word);
      EXPECT_EQ(control_value_to_double(&control->value, &rig.host.forge), v.value);
      EXPECT_TRUE(shown_from_plugin(control, v.value)) << v.word;
    }
  } else {
    std::vector<Message> expected{{RUN_STATE_CHANGE, PAUSED, 0.0f}};
    if (c.control_input) {
      expected.push_back(update);
    }
    expected.push_back({RUN_STATE_CHANGE, RUNNING, 0.0f});
    EXPECT_EQ(seen, expected);
    // Written straight into the ports, and announced on process_ring only.
    for (const Message& v : values) {
      EXPECT_EQ(p.control_values[v.word], v.value) << v.word;
    }
    EXPECT_EQ(announced, values);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plugins, PauseProtocol,
    testing::Values(ProtocolCase{"Controls", "urn:bexo:test:controls",
                                 "urn:bexo:test:controls#preset-soft", false, false},
                    ProtocolCase{"Params", "urn:bexo:test:params",
                                 "urn:bexo:test:params#preset-alpha", false, true},
                    ProtocolCase{"ParamsThreadSafe", "urn:bexo:test:params-tsr",
                                 "urn:bexo:test:params#preset-alpha", true, true}),
    [](const testing::TestParamInfo<ProtocolCase>& info) { return info.param.name; });

TEST(Restore, WhilePausedWritesValuesDirectlyAndSendsNoRunStateMessage) {
  test_frontend_reset();
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
  ProcessState& p = rig.host.process;
  rig.discard_ui_messages();
  rig.drain();
  scan_presets(&rig.host, nullptr, nullptr);
  ASSERT_EQ(restore_preset(&rig.host, uri_node(rig, "urn:bexo:test:controls#preset-loud").get()),
            0);
  EXPECT_TRUE(read_ring_messages(p.ui_ring).empty());
  const std::vector<Message> expected{
      {CONTROL_CHANGE, 4, 1.8f}, {CONTROL_CHANGE, 7, 4.0f}, {CONTROL_CHANGE, 9, 5000.0f}};
  std::vector<Message> announced = messages_of(rig.drain());
  sort_by_word(announced);
  EXPECT_EQ(announced, expected);
  EXPECT_EQ(p.control_values[4], 1.8f);
  EXPECT_EQ(p.control_values[9], 5000.0f);
  EXPECT_EQ(control_value_to_double(&rig.control("steps")->value, &rig.host.forge), 4.0);
  EXPECT_STREQ(lilv_node_as_uri(lilv_state_get_uri(rig.host.preset)),
               "urn:bexo:test:controls#preset-loud");
}

// Fills a ring that nobody reads until not even the smallest message fits.
void fill(ZixRing* ring) {
  while (ring_write_control(ring, 2, 0.0f) == ZIX_STATUS_SUCCESS) {
  }
  while (ring_write_update_request(ring) == ZIX_STATUS_SUCCESS) {
  }
}

// What `restore` returned, or nothing when it waited for a pause that no
// cycle will acknowledge (it is then released, to end the test).
std::optional<int> without_waiting(ProcessState& p, const std::function<int()>& restore) {
  auto restoring = std::async(std::launch::async, restore);
  if (restoring.wait_for(5s) != std::future_status::ready) {
    zix_sem_post(&p.paused);
    restoring.wait();
    return std::nullopt;
  }
  return restoring.get();
}

TEST(Restore, AFailedPauseRequestIsReportedInsteadOfWaitingForever) {
  test_frontend_reset();
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:params"), 0);
  ProcessState& p = rig.host.process;
  LilvState* state = preset_state(rig, "urn:bexo:test:params#preset-alpha");
  ASSERT_NE(state, nullptr);
  // An audio thread that has stopped reading: the ring fills up.
  fill(p.ui_ring);
  p.run_state.store(RUNNING);
  const std::optional<int> restored =
      without_waiting(p, [&] { return restore_state(&rig.host, state); });
  lilv_state_free(state);
  ASSERT_TRUE(restored) << "restore_state waited for a pause it never asked for";
  EXPECT_EQ(*restored, 1);
  EXPECT_TRUE(rig.logged(LOG_LEVEL_ERROR,
                         "Failed to pause the plugin to restore state (Out of storage space)"));
  // The plugin was not restored behind the audio thread's back.
  EXPECT_EQ(p.control_values[2], 1.0f);

  // A preset that cannot be restored is still the current one.
  const LilvNodePtr preset = uri_node(rig, "urn:bexo:test:params#preset-alpha");
  EXPECT_EQ(without_waiting(p, [&] { return restore_preset(&rig.host, preset.get()); }), 1);
  ASSERT_NE(rig.host.preset, nullptr);
  EXPECT_STREQ(lilv_node_as_uri(lilv_state_get_uri(rig.host.preset)),
               "urn:bexo:test:params#preset-alpha");
  EXPECT_EQ(p.control_values[2], 1.0f);
}

TEST(Restore, PortValuesForUnknownOrUnfitPortsAreReported) {
  test_frontend_reset();
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:params"), 0);
  StateHost* state = &rig.host;
  ProcessState& p = state->process;
  rig.drain();
  const float value = 0.75f;
  const uint32_t f = state->forge.Float;

  port_value_set("missing", state, &value, 4, f);
  EXPECT_TRUE(rig.logged(LOG_LEVEL_ERROR, "Preset port `missing' is missing"));
  // An event port has no control.
  port_value_set("notify", state, &value, 4, f);
  EXPECT_TRUE(rig.logged(LOG_LEVEL_WARNING, "Ignoring preset value for `notify'"));

  // A control with the symbol of a port that is not a control port.
  ControlPtr odd(new Control{});
  odd->type = PROPERTY;
  odd->symbol.reset(lilv_new_string(state->world, "control"));
  Control* odd_control = odd.get();
  append_control(&state->controls, std::move(odd));
  port_value_set("control", state, &value, 4, f);
  EXPECT_TRUE(rig.logged(LOG_LEVEL_ERROR, "Failed to apply preset port value (Not supported)"));
  EXPECT_EQ(odd_control->value.size, 4u);

  // An output control port takes a value like any other control port.
  port_value_set("level", state, &value, 4, f);
  EXPECT_EQ(p.control_values[5], 0.75f);
  EXPECT_EQ(messages_of(rig.drain()), (std::vector<Message>{{CONTROL_CHANGE, 5, 0.75f}}));

  // A value that the UI side cannot be told of, for a full process_ring.
  fill(p.process_ring);
  port_value_set("gain", state, &value, 4, f);
  EXPECT_TRUE(
      rig.logged(LOG_LEVEL_ERROR, "Failed to apply preset port value (Out of storage space)"));
  rig.drain();

  // Only control inputs are saved.
  uint32_t size = 99;
  uint32_t type = 99;
  EXPECT_EQ(port_value_get("gain", state, &size, &type), &p.control_values[2]);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, f);
  for (const char* symbol : {"level", "notify", "missing"}) {
    EXPECT_EQ(port_value_get(symbol, state, &size, &type), nullptr) << symbol;
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, 0u);
  }
}

// A stalled audio server: the audio thread runs no cycle to take a pause.
class StalledServer : public testing::Test {
protected:
  void SetUp() override {
    test_frontend_reset();
    ASSERT_EQ(rig.open_manual("urn:bexo:test:params"), 0);
    rig.discard_ui_messages();
    rig.host.process.run_state.store(RUNNING);
    state = preset_state(rig, "urn:bexo:test:params#preset-alpha");
    ASSERT_NE(state, nullptr);
  }
  void TearDown() override { lilv_state_free(state); }

  // Restores and expects the restore to give up after its bounded wait.
  void expect_gives_up() {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(restore_state(&rig.host, state), 1);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 2900ms);
    EXPECT_LT(waited, 4500ms);
    EXPECT_TRUE(rig.logged(LOG_LEVEL_ERROR, "Gave up restoring the state: the audio server ran "
                                            "no cycle for 3 seconds"));
    EXPECT_EQ(rig.host.process.control_values[2], 1.0f) << "restored behind the plugin's back";
  }

  HostRig rig;
  LilvState* state = nullptr;
};

TEST_F(StalledServer, TheRestoreGivesUpAndThePluginPlaysOnOnceCyclesRunAgain) {
  ProcessState& p = rig.host.process;
  expect_gives_up();
  rig.update(); // still stalled: nothing to settle
  rig.cycle();  // the server is back; its first cycle takes the pause
  EXPECT_EQ(p.run_state.load(), PAUSED);
  rig.update(); // and the next update lets the plugin play again
  rig.cycle();
  EXPECT_EQ(p.run_state.load(), RUNNING);

  rig.start_cycles();
  EXPECT_EQ(restore_state(&rig.host, state), 0);
  rig.stop_cycles();
  EXPECT_EQ(p.control_values[2], 1.5f);
}

TEST_F(StalledServer, ARestoreAfterOneThatGaveUpWaitsForTheSamePause) {
  ProcessState& p = rig.host.process;
  expect_gives_up();
  expect_gives_up(); // no second pause is asked for meanwhile
  rig.start_cycles();
  EXPECT_EQ(restore_state(&rig.host, state), 0);
  EXPECT_TRUE(wait_for([&] { return p.run_state.load() == RUNNING; }));
  rig.stop_cycles();
  EXPECT_EQ(p.control_values[2], 1.5f);
  rig.update(); // nothing left to settle: the plugin stays running
  rig.cycle();
  EXPECT_EQ(p.run_state.load(), RUNNING);
}

} // namespace
