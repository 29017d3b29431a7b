#include "process_fixture.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

TEST_F(ProcessTest, PrepareSizesBuffersAndKeepsThemWhenNothingChanged) {
  EXPECT_EQ(state.control_input_index, control_in);
  EXPECT_EQ(event_buffer_capacity(state.ports[plain_event_in].event_buffer), 1024u);
  EXPECT_EQ(event_buffer_capacity(state.ports[event_out].event_buffer), 1024u);
  EXPECT_EQ(event_buffer_capacity(state.ports[control_in].event_buffer), 65536u);
  EXPECT_EQ(state.ports[control_port].event_buffer, nullptr);
  EXPECT_EQ(state.update_frames, 1920u);
  EXPECT_EQ(event_buffer_atom(state.ports[event_out].event_buffer)->atom.type, urids.atom_Chunk);

  const EventBuffer* before = state.ports[control_in].event_buffer;
  ZixRing* ring = state.ui_ring;
  HostSettings settings = rig.host.settings;
  settings.ring_size = 2 * zix_ring_capacity(ring);
  ASSERT_EQ(process_prepare(&state, &urids, state.instance, &settings), 0);
  EXPECT_EQ(state.ports[control_in].event_buffer, before);
  EXPECT_EQ(state.ui_ring, ring);

  settings.midi_buf_size = 2048;
  ASSERT_EQ(process_prepare(&state, &urids, state.instance, &settings), 0);
  EXPECT_EQ(event_buffer_capacity(state.ports[plain_event_in].event_buffer), 2048u);
  EXPECT_EQ(event_buffer_capacity(state.ports[control_in].event_buffer), 65536u);
}

TEST_F(ProcessTest, UpdatesAreDueOnceThePendingFramesPassTheInterval) {
  std::vector<uint32_t> pending;
  for (int cycle = 1; cycle <= 16; ++cycle) {
    const int status = process_run(&state, 256);
    EXPECT_EQ(status, cycle % 8 == 0 ? PROCESS_SEND_UPDATES : PROCESS_SUCCESS) << cycle;
    pending.push_back(state.pending_frames);
  }
  EXPECT_EQ(std::vector<uint32_t>(pending.begin(), pending.begin() + 8),
            (std::vector<uint32_t>{256, 512, 768, 1024, 1280, 1536, 1792, 0}));

  state.update_frames = 0;
  for (int cycle = 0; cycle < 20; ++cycle) {
    EXPECT_EQ(process_run(&state, 256), PROCESS_SUCCESS);
  }
}

TEST_F(ProcessTest, MessagesOfOnePassTakeEffectBeforeThePluginRuns) {
  const uint8_t note[3] = {0x90, 60, 100};
  ASSERT_EQ(ring_write_control(state.ui_ring, tempo_port, 140.0f), ZIX_STATUS_SUCCESS);
  ASSERT_EQ(ring_write_event(state.ui_ring, control_in, 3, urids.midi_MidiEvent, note),
            ZIX_STATUS_SUCCESS);
  ASSERT_EQ(ring_write_update_request(state.ui_ring), ZIX_STATUS_SUCCESS);

  EXPECT_EQ(process_run(&state, 128), PROCESS_SUCCESS);
  EXPECT_EQ(state.control_values[tempo_port], 140.0f);
  const std::vector<Event> got = events(control_in);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].frames, 128u);
  EXPECT_EQ(got[0].type, urids.midi_MidiEvent);
  EXPECT_EQ(got[0].body.size(), 3u);
  EXPECT_EQ(got[1].frames, 128u);
  EXPECT_EQ(got[1].type, urids.atom_Object);
  EXPECT_EQ(got[1].body.size(), 8u);
  EXPECT_EQ(zix_ring_read_space(state.ui_ring), 0u);
}

TEST_F(ProcessTest, UndeliverableEventsAreSkippedWhole) {
  const uint8_t note[3] = {0x90, 60, 100};
  const std::vector<uint8_t> huge(70000); // more than the read buffer holds
  ASSERT_GT(zix_ring_capacity(state.ui_ring), 2 * huge.size());
  ASSERT_EQ(ring_write_event(state.ui_ring, control_port, 3, urids.midi_MidiEvent, note),
            ZIX_STATUS_SUCCESS); // a port without event buffer
  ASSERT_EQ(ring_write_event(state.ui_ring, control_in, 70000, urids.midi_MidiEvent, huge.data()),
            ZIX_STATUS_SUCCESS);
  ASSERT_EQ(ring_write_control(state.ui_ring, tempo_port, 90.0f), ZIX_STATUS_SUCCESS);

  EXPECT_EQ(apply_ui_messages(&state, 64), PROCESS_SUCCESS);
  EXPECT_EQ(state.control_values[tempo_port], 90.0f);
  EXPECT_TRUE(events(control_in).empty());
  EXPECT_EQ(zix_ring_read_space(state.ui_ring), 0u);
}

TEST_F(ProcessTest, UnknownTypeStopsThePassAndLaterMessagesWait) {
  const MessageHeader odd{99, 0};
  ASSERT_EQ(ring_write_message(state.ui_ring, &odd, sizeof(odd), nullptr, 0), ZIX_STATUS_SUCCESS);
  ASSERT_EQ(ring_write_control(state.ui_ring, tempo_port, 60.0f), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(process_run(&state, 64), PROCESS_ERR_MESSAGE_TYPE);
  EXPECT_EQ(state.control_values[tempo_port], 120.0f); // still the port's default
  EXPECT_EQ(process_run(&state, 64), PROCESS_SUCCESS);
  EXPECT_EQ(state.control_values[tempo_port], 60.0f);
}

class TracedProcessTest : public ProcessTest {
protected:
  void SetUp() override {
    rig.host.options.trace = 1;
    ProcessTest::SetUp();
  }
};

// The audio thread only counts a failed pass and keeps its status; the
// main thread takes both, and nothing is printed on the way.
TEST_F(TracedProcessTest, FailedPassesAreCountedForTheMainThreadAndNothingIsPrinted) {
  ASSERT_TRUE(state.trace);
  const MessageHeader odd{99, 0};
  const MessageHeader control_without_body{CONTROL_CHANGE, sizeof(ControlChange)};
  struct Case {
    std::vector<MessageHeader> failing; // one per cycle
    uint32_t failures;
    int last_error;
  };
  for (const Case& c : {Case{{odd}, 1, PROCESS_ERR_MESSAGE_TYPE},
                        Case{{odd, control_without_body}, 2, PROCESS_ERR_CONTROL}}) {
    testing::internal::CaptureStderr();
    for (const MessageHeader& header : c.failing) {
      ASSERT_EQ(ring_write_message(state.ui_ring, &header, sizeof(header), nullptr, 0),
                ZIX_STATUS_SUCCESS);
      rig.cycle();
    }
    rig.cycle(); // a clean pass counts nothing
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    int last_error = 0;
    EXPECT_EQ(take_ui_pass_failures(&state, &last_error), c.failures);
    EXPECT_EQ(last_error, c.last_error);
    EXPECT_EQ(take_ui_pass_failures(&state, &last_error), 0u);
  }
}

TEST_F(ProcessTest, PauseReadWhileRunningIsAcknowledgedAtTheEndOfTheCycle) {
  rig.send_run_state(PAUSED);
  const int status = process_run(&state, 64);
  EXPECT_EQ(status, PROCESS_SUCCESS);
  EXPECT_EQ(state.run_state.load(), PAUSED);
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_UNAVAILABLE);
  process_cycle_end(&state, status);
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_SUCCESS);

  // Read by a paused cycle, a pause is acknowledged at once.
  rig.send_run_state(PAUSED);
  process_paused(&state, 64);
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_SUCCESS);

  rig.send_run_state(RUNNING);
  process_paused(&state, 64);
  EXPECT_EQ(state.run_state.load(), RUNNING);
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_UNAVAILABLE);
}

// The main thread pauses a running audio thread and resumes it, as a state
// restore does; the audio thread runs the engine's cycles.
TEST_F(ProcessTest, PauseAndResumeAcrossThreads) {
  std::atomic<bool> stop{false};
  std::atomic<uint32_t> running_cycles{0};
  std::atomic<uint32_t> paused_cycles{0};
  std::thread audio([&] {
    while (!stop.load()) {
      // Only this thread changes the run state while the host is active.
      // Counted before the cycle: a running one acknowledges a pause last.
      ++(state.run_state.load() == RUNNING ? running_cycles : paused_cycles);
      rig.cycle();
      std::this_thread::yield();
    }
  });

  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(rig.pause());
    const uint32_t ran = running_cycles.load();
    EXPECT_EQ(state.run_state.load(), PAUSED);
    const uint32_t paused_before = paused_cycles.load();
    while (paused_cycles.load() < paused_before + 2) {
      std::this_thread::yield();
    }
    EXPECT_EQ(running_cycles.load(), ran); // the plugin stays still while paused
    rig.send_run_state(RUNNING);
    while (running_cycles.load() == ran) {
      std::this_thread::yield();
    }
  }
  stop.store(true);
  audio.join();
}

// A writer keeps adding messages while passes run: every pass ends on a
// message boundary, and what a pass did not count waits for the next.
TEST_F(ProcessTest, MessagesWrittenDuringAPassWaitForTheNextOne) {
  // Enough for the ring to fill and wrap around several times.
  const int total = static_cast<int>(4 * zix_ring_capacity(state.ui_ring) / 16);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 1; i <= total;) {
      if (ring_write_control(state.ui_ring, control_port, static_cast<float>(i)) ==
          ZIX_STATUS_SUCCESS) {
        ++i;
      }
    }
    done = true;
  });
  float last = 0.0f;
  bool ordered = true;
  int failures = 0;
  while (!done || zix_ring_read_space(state.ui_ring) > 0) {
    failures += apply_ui_messages(&state, 256) != PROCESS_SUCCESS;
    ordered = ordered && state.control_values[control_port] >= last;
    last = state.control_values[control_port];
  }
  writer.join();
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(ordered);
  EXPECT_EQ(last, static_cast<float>(total));
}

} // namespace
