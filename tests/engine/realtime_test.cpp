// Every path of the engine's cycle, run through the rig inside a real-time
// section: no call may allocate, free, lock a mutex or wait.  The guard's
// own test below shows that a call of any of these inside a section counts.

#include "process_fixture.hpp"
#include "realtime_guard.hpp"

#include <chrono>
#include <cstdlib>
#include <set>
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
    rig.cycle();
  }
};

// Messages of every type in, and out: positions, tempo, latency and
// control outputs.
TEST_F(RealtimeCycle, EveryMessageAndTransportChangeWithoutAllocatingOrLocking) {
  const uint8_t note[3] = {0x90, 60, 100};
  const MessageHeader odd{99, 0};
  std::set<uint32_t> sent;
  reset_realtime_violations();
  for (uint32_t round = 0; round < 50; ++round) {
    ASSERT_EQ(ring_write_control(state.ui_ring, tempo_port, 100.0f + round), ZIX_STATUS_SUCCESS);
    ASSERT_EQ(ring_write_event(state.ui_ring, control_in, 3, urids.midi_MidiEvent, note),
              ZIX_STATUS_SUCCESS);
    ASSERT_EQ(ring_write_event(state.ui_ring, control_port, 3, urids.midi_MidiEvent, note),
              ZIX_STATUS_SUCCESS);
    ASSERT_EQ(ring_write_update_request(state.ui_ring), ZIX_STATUS_SUCCESS);
    rig.transport = {round / 2 * 1000, round % 3 == 0, round % 4 == 0, 1,           1, 0,
                     1920.0,           4.0f,           4.0f,           60.0 + round};
    state.control_values[latency_port] = static_cast<float>(round % 3);
    run_cycle();
    for (const RingMessage& message : rig.drain()) {
      sent.insert(message.type);
    }
  }
  ASSERT_EQ(ring_write_message(state.ui_ring, &odd, sizeof(odd), nullptr, 0), ZIX_STATUS_SUCCESS);
  run_cycle();
  EXPECT_EQ(state.control_values[tempo_port], 149.0f);
  EXPECT_EQ(sent, (std::set<uint32_t>{CONTROL_CHANGE, LATENCY_CHANGE}));
  EXPECT_EQ(realtime_violations(), 0) << first_realtime_violation();
}

TEST_F(RealtimeCycle, PauseAndResumeWithoutAllocatingOrLocking) {
  reset_realtime_violations();
  rig.send_run_state(PAUSED);
  run_cycle(); // running: the pause is acknowledged at its end
  ASSERT_EQ(state.run_state.load(), PAUSED);
  run_cycle();
  rig.send_run_state(PAUSED);
  run_cycle(); // paused: acknowledged at once
  rig.send_run_state(RUNNING);
  run_cycle();
  ASSERT_EQ(state.run_state.load(), RUNNING);
  run_cycle();
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_UNAVAILABLE);
  EXPECT_EQ(realtime_violations(), 0) << first_realtime_violation();
}

// The atoms fixture schedules work from its run, and the cycle delivers the
// responses; MIDI and positions pass through and come back at the same time.
class RealtimeAtoms : public AtomsTest {};

TEST_F(RealtimeAtoms, WorkerAndEventTrafficWithoutAllocatingOrLocking) {
  const uint8_t note[3] = {0x90, 60, 100};
  const std::string too_large(worker_ring_size, 'x');
  size_t reported = 0;
  std::set<uint32_t> sent;
  state.ui_reads_midi.store(true); // as a plugin UI does: MIDI goes to the UI side too
  reset_realtime_violations();
  for (uint32_t round = 0; round < 100; ++round) {
    send_request(round == 50 ? too_large : "work");
    ASSERT_EQ(ring_write_event(state.ui_ring, atoms_midi_in, 3, urids.midi_MidiEvent, note),
              ZIX_STATUS_SUCCESS);
    rig.transport.rolling = round % 2 == 0;
    {
      RealtimeSection section;
      rig.cycle();
    }
    reported += strings(atoms_notify).size();
    for (const RingMessage& message : rig.drain()) {
      sent.insert(message.port_index());
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  // A restore on the main thread schedules through the synchronous worker,
  // which works at once there; the cycles deliver its responses.
  const LV2_Worker_Schedule& restore_schedule = rig.host.features.state_schedule;
  for (int round = 0; round < 10; ++round) {
    ASSERT_EQ(restore_schedule.schedule_work(restore_schedule.handle, 8, "restore"),
              LV2_WORKER_SUCCESS);
    RealtimeSection section;
    rig.cycle();
  }
  EXPECT_EQ(realtime_violations(), 0) << first_realtime_violation();
  EXPECT_GT(reported, 50u);
  EXPECT_EQ(sent, (std::set<uint32_t>{atoms_notify, atoms_midi_out}));
}

} // namespace
