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
  EXPECT_EQ(state.process_read_buf_size, 65536u);
  EXPECT_EQ(state.update_frames, 1920u);
  EXPECT_EQ(event_buffer_atom(state.ports[event_out].event_buffer)->atom.type, urids.atom_Chunk);

  const EventBuffer* before = state.ports[control_in].event_buffer;
  const void* read_buf = state.process_read_buf;
  ZixRing* ring = state.ui_ring;
  settings.ring_size = 65536;
  ASSERT_EQ(process_prepare(&state, &urids, instance, &settings), 0);
  EXPECT_EQ(state.ports[control_in].event_buffer, before);
  EXPECT_EQ(state.process_read_buf, read_buf);
  EXPECT_EQ(state.ui_ring, ring);

  settings.midi_buf_size = 2048;
  ASSERT_EQ(process_prepare(&state, &urids, instance, &settings), 0);
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
  ASSERT_EQ(ring_write_control(state.ui_ring, tempo_port, 140.0f), 0);
  ASSERT_EQ(ring_write_event(state.ui_ring, control_in, 3, urids.midi_MidiEvent, note), 0);
  const MessageHeader request{UPDATE_REQUEST, 0};
  ASSERT_EQ(ring_write_message(state.ui_ring, &request, sizeof(request), nullptr, 0), 0);

  EXPECT_EQ(process_run(&state, 128), PROCESS_SUCCESS);
  EXPECT_EQ(state.control_values[tempo_port], 140.0f);
  const std::vector<Event> got = events(control_in);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].frames, 128u);
  EXPECT_EQ(got[0].type, urids.midi_MidiEvent);
  EXPECT_EQ(got[0].size, 3u);
  EXPECT_EQ(got[1].frames, 128u);
  EXPECT_EQ(got[1].type, urids.atom_Object);
  EXPECT_EQ(got[1].size, 8u);
  EXPECT_EQ(zix_ring_read_space(state.ui_ring), 0u);
}

TEST_F(ProcessTest, UndeliverableEventsAreSkippedWhole) {
  const uint8_t note[3] = {0x90, 60, 100};
  // To a port without event buffer, and larger than the read buffer.
  ASSERT_EQ(ring_write_event(state.ui_ring, control_port, 3, urids.midi_MidiEvent, note), 0);
  settings.ring_size = 1 << 17;
  ZixRing* big = zix_ring_new(nullptr, 1 << 18);
  std::swap(big, state.ui_ring);
  ASSERT_EQ(ring_write_event(state.ui_ring, control_port, 3, urids.midi_MidiEvent, note), 0);
  std::vector<uint8_t> huge(70000);
  ASSERT_EQ(ring_write_event(state.ui_ring, control_in, 70000, urids.midi_MidiEvent, huge.data()),
            0);
  ASSERT_EQ(ring_write_control(state.ui_ring, tempo_port, 90.0f), 0);

  EXPECT_EQ(apply_ui_messages(&state, 64), PROCESS_SUCCESS);
  EXPECT_EQ(state.control_values[tempo_port], 90.0f);
  EXPECT_TRUE(events(control_in).empty());
  EXPECT_EQ(zix_ring_read_space(state.ui_ring), 0u);
  std::swap(big, state.ui_ring);
  zix_ring_free(big);
}

TEST_F(ProcessTest, UnknownTypeStopsThePassAndLaterMessagesWait) {
  const MessageHeader odd{99, 0};
  ASSERT_EQ(ring_write_message(state.ui_ring, &odd, sizeof(odd), nullptr, 0), 0);
  ASSERT_EQ(ring_write_control(state.ui_ring, tempo_port, 60.0f), 0);
  EXPECT_EQ(process_run(&state, 64), PROCESS_ERR_MESSAGE_TYPE);
  EXPECT_EQ(state.control_values[tempo_port], 0.0f);
  EXPECT_EQ(process_run(&state, 64), PROCESS_SUCCESS);
  EXPECT_EQ(state.control_values[tempo_port], 60.0f);
}

TEST_F(ProcessTest, PauseReadWhileRunningIsLeftForTheBackendToAcknowledge) {
  send_run_state(PAUSED);
  EXPECT_EQ(process_run(&state, 64), PROCESS_SUCCESS);
  EXPECT_EQ(state.run_state.load(), PAUSED);
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_UNAVAILABLE);

  // Read by a paused cycle, a pause is acknowledged at once.
  send_run_state(PAUSED);
  process_paused(&state, 64);
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_SUCCESS);

  send_run_state(RUNNING);
  process_paused(&state, 64);
  EXPECT_EQ(state.run_state.load(), RUNNING);
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_UNAVAILABLE);
}

// The main thread pauses a running audio thread and resumes it, as a state
// restore does; the audio thread acknowledges after its cycle, as a backend.
TEST_F(ProcessTest, PauseAndResumeAcrossThreads) {
  std::atomic<bool> stop{false};
  std::atomic<uint32_t> running_cycles{0};
  std::atomic<uint32_t> paused_cycles{0};
  std::thread audio([&] {
    while (!stop.load()) {
      if (state.run_state.load() == RUNNING) {
        process_run(&state, 256);
        ++running_cycles;
        if (state.run_state.load() == PAUSED) {
          zix_sem_post(&state.paused);
        }
      } else {
        process_paused(&state, 256);
        ++paused_cycles;
      }
      std::this_thread::yield();
    }
  });

  for (int round = 0; round < 20; ++round) {
    send_run_state(PAUSED);
    ASSERT_EQ(zix_sem_timed_wait(&state.paused, 5, 0), ZIX_STATUS_SUCCESS);
    const uint32_t ran = running_cycles.load();
    EXPECT_EQ(state.run_state.load(), PAUSED);
    while (paused_cycles.load() < static_cast<uint32_t>(round + 1) * 2) {
      std::this_thread::yield();
    }
    EXPECT_EQ(running_cycles.load(), ran); // the plugin stays still while paused
    send_run_state(RUNNING);
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
  constexpr int total = 20000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 1; i <= total;) {
      if (ring_write_control(state.ui_ring, control_port, static_cast<float>(i)) == 0) {
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
