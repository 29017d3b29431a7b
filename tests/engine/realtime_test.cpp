// Every path of the process cycle, run inside a real-time section: no call
// may allocate, free, lock a mutex or wait.

#include "process_fixture.hpp"
#include "realtime_guard.hpp"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

TEST(RealtimeGuard, CountsAllocationAndLockingInsideASectionOnly) {
  reset_realtime_violations();
  void* outside = std::malloc(16);
  std::free(outside);
  EXPECT_EQ(realtime_violations(), 0);
  {
    RealtimeSection section;
    void* volatile inside = std::malloc(16); // volatile: kept however it is optimised
    std::free(inside);
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&mutex);
    pthread_mutex_unlock(&mutex);
  }
  EXPECT_EQ(realtime_violations(), 3);
  EXPECT_EQ(first_realtime_violation(), "malloc");
  reset_realtime_violations();
}

class RealtimeCycle : public ProcessTest {
protected:
  void run_cycle() {
    RealtimeSection section;
    process_run(&state, 256);
  }
  void run_paused_cycle() {
    RealtimeSection section;
    process_paused(&state, 256);
  }
};

TEST_F(RealtimeCycle, EveryMessageTypeIsAppliedWithoutAllocatingOrLocking) {
  const uint8_t note[3] = {0x90, 60, 100};
  const MessageHeader request{UPDATE_REQUEST, 0};
  const MessageHeader odd{99, 0};
  reset_realtime_violations();
  for (int round = 0; round < 50; ++round) {
    ASSERT_EQ(ring_write_control(state.ui_ring, tempo_port, 100.0f + round), 0);
    ASSERT_EQ(ring_write_event(state.ui_ring, control_in, 3, urids.midi_MidiEvent, note), 0);
    ASSERT_EQ(ring_write_event(state.ui_ring, control_port, 3, urids.midi_MidiEvent, note), 0);
    ASSERT_EQ(ring_write_message(state.ui_ring, &request, sizeof(request), nullptr, 0), 0);
    run_cycle();
    event_buffer_reset(state.ports[control_in].event_buffer, true);
  }
  ASSERT_EQ(ring_write_message(state.ui_ring, &odd, sizeof(odd), nullptr, 0), 0);
  run_cycle();
  EXPECT_EQ(state.control_values[tempo_port], 149.0f);
  EXPECT_EQ(realtime_violations(), 0) << first_realtime_violation();
}

TEST_F(RealtimeCycle, PauseAndResumeWithoutAllocatingOrLocking) {
  reset_realtime_violations();
  send_run_state(PAUSED);
  run_cycle();
  ASSERT_EQ(state.run_state.load(), PAUSED);
  run_paused_cycle();
  send_run_state(PAUSED);
  run_paused_cycle();
  send_run_state(RUNNING);
  run_paused_cycle();
  ASSERT_EQ(state.run_state.load(), RUNNING);
  run_cycle();
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(realtime_violations(), 0) << first_realtime_violation();
}

// The atoms fixture schedules work from its run, and the cycle delivers the
// responses; MIDI passes through at the same time.
class RealtimeAtoms : public AtomsTest {};

TEST_F(RealtimeAtoms, WorkerAndMidiTrafficWithoutAllocatingOrLocking) {
  ASSERT_EQ(worker_start(state.worker), 0);
  const uint8_t note[3] = {0x90, 60, 100};
  size_t reported = 0;
  reset_realtime_violations();
  for (int round = 0; round < 100; ++round) {
    send_request("work");
    ASSERT_EQ(ring_write_event(state.ui_ring, atoms_midi_in, 3, urids.midi_MidiEvent, note), 0);
    {
      RealtimeSection section;
      cycle(256);
    }
    reported += strings(atoms_notify).size();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  // A restore on the main thread schedules through the synchronous worker,
  // which works at once there; the cycles deliver its responses.
  for (int round = 0; round < 10; ++round) {
    ASSERT_EQ(worker_request(state.state_worker, 8, "restore"), LV2_WORKER_SUCCESS);
    RealtimeSection section;
    cycle(256);
  }
  EXPECT_EQ(realtime_violations(), 0) << first_realtime_violation();
  EXPECT_GT(reported, 50u);
}

} // namespace
