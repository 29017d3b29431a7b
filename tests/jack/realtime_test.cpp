// The process callback under the real-time guard: every JACK cycle of the
// host's client runs inside a real-time section, and no path through it may
// allocate, free, lock or wait.  The soak runs both the controls and the io
// fixture for over thirty seconds of audio, MIDI, transport and buffer-size
// traffic, and checks every frame that comes back.

#include "engine/realtime_guard.hpp"
#include "harness/wait_for.hpp"
#include "jack/process_callback.hpp"
#include "jack_suite.hpp"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>

namespace {

std::atomic<uint64_t> guarded_cycles{0};

// Runs the backend's process callback inside a section, in place of the
// registration that the open made.
int guarded_process(jack_nframes_t nframes, void* data) {
  RealtimeSection section;
  const int result = process_callback(nframes, data);
  guarded_cycles.fetch_add(1, std::memory_order_relaxed);
  return result;
}

// The controls fixture, with its left input and right output refused by
// JACK when asked, so that the stand-in buffers are in use, beside the io
// fixture; both run under the guard.
struct GuardedWorld {
  // Source: 0, 1 to controls; 2 to io audio, 3 to io CV; MIDI 0 to io.
  Source source{4, 1};
  // Sink: 0 from controls out_l; 1 from io audio; 2 from io CV; MIDI 0 from io.
  Sink sink{3, 1};
  HostRig controls;
  HostRig io;

  bool open(bool refuse_ports) {
    if (!open_controls(controls, "bexo-rt-controls", refuse_ports)) {
      return false;
    }
    ProcessState& process = controls.host.process;
    process.control_values[controls_gain] = 0.75f;
    process.control_values[controls_echo_in] = 3.0f;
    // MIDI takes its longest path: to JACK and to a reader on the UI side.
    io.host.process.ui_reads_midi.store(true);
    if (!start_rig(controls, guarded_process) ||
        !open_running(io, "urn:bexo:test:io", "bexo-rt-io", guarded_process) ||
        !source.activate() || !sink.activate()) {
      return false;
    }
    // A refused input's name belongs to the port that took it: the stream
    // reaches that port, never the plugin.
    return connect_ports(source.client, source.audio_name(0), controls.port_name(controls_in_l)) &&
           connect_ports(source.client, source.audio_name(1), controls.port_name(controls_in_r)) &&
           connect_ports(source.client, source.audio_name(2), io.port_name(io_audio_in)) &&
           connect_ports(source.client, source.audio_name(3), io.port_name(io_cv_in)) &&
           connect_ports(source.client, source.midi_name(0), io.port_name(io_events_in)) &&
           connect_ports(sink.client, controls.port_name(controls_out_l), sink.audio_name(0)) &&
           connect_ports(sink.client, io.port_name(io_audio_out), sink.audio_name(1)) &&
           connect_ports(sink.client, io.port_name(io_cv_out), sink.audio_name(2)) &&
           connect_ports(sink.client, io.port_name(io_events_out), sink.midi_name(0));
  }

  bool wait_cycles(uint64_t n) const { return ::wait_cycles(sink, n); }

  // What the UI side sends in a frame of its own: control values, a
  // non-MIDI event and an update request for the io fixture's control
  // input, and a control value for the controls fixture.
  void send_ui_traffic(float latency) {
    ZixRing* const io_ring = io.host.process.ui_ring;
    ring_write_control(controls.host.process.ui_ring, controls_gain, 0.75f);
    const int32_t value = 7;
    ring_write_event(io_ring, io_events_in, sizeof(value), io.host.urids.atom_Int, &value);
    ring_write_update_request(io_ring);
    ring_write_control(io_ring, io_latency_set, latency);
  }
};

struct Traffic {
  size_t midi = 0;
  size_t objects = 0;
  size_t latency = 0;
  size_t controls = 0;

  void count(const std::vector<RingMessage>& messages, const Urids& urids) {
    for (const RingMessage& m : messages) {
      if (m.type == EVENT_TRANSFER && m.atom_type() == urids.midi_MidiEvent) {
        ++midi;
      } else if (m.type == EVENT_TRANSFER && m.atom_type() == urids.atom_Object) {
        ++objects;
      } else if (m.type == LATENCY_CHANGE) {
        ++latency;
      } else if (m.type == CONTROL_CHANGE) {
        ++controls;
      }
    }
  }
};

// Checks that the keys of the notes the source sent came back in order,
// none lost; returns the number of gaps.
size_t note_gaps(const std::vector<MidiRecord>& notes) {
  size_t gaps = 0;
  for (size_t i = 1; i < notes.size(); ++i) {
    if (notes[i].bytes[1] != (notes[i - 1].bytes[1] + 1) % 128 || notes[i].bytes[0] != 0x90) {
      ++gaps;
    }
  }
  return gaps;
}

TEST(ProcessCallbackRealtime, EveryPathWithoutAllocatingOrLocking) {
  GuardedWorld w;
  ASSERT_TRUE(w.source.ok() && w.sink.ok());
  ASSERT_TRUE(w.open(true));
  EXPECT_TRUE(w.controls.backend.needs_stand_ins);
  w.source.midi_every_cycle.store(true);
  ASSERT_TRUE(w.wait_cycles(8));
  reset_realtime_violations();
  const uint64_t cycles_before = guarded_cycles.load();

  Traffic traffic;
  jack_client_t* control = w.source.client;
  const auto step = [&](float latency) {
    w.send_ui_traffic(latency);
    ASSERT_TRUE(w.wait_cycles(6));
    traffic.count(w.io.drain(), w.io.host.urids);
    traffic.count(w.controls.drain(), w.controls.host.urids);
  };
  jack_transport_locate(control, 4800);
  step(10.0f);
  jack_transport_start(control);
  step(20.0f);
  ASSERT_TRUE(w.source.become_master());
  w.source.bpm.store(132.0);
  jack_transport_locate(control, 96000);
  step(30.0f);
  jack_transport_stop(control);
  w.source.bpm.store(66.0);
  jack_transport_locate(control, 96000);
  step(40.0f);
  jack_release_timebase(control);

  // The paused path and its acknowledgement, then the resume.
  ASSERT_TRUE(w.io.pause());
  ASSERT_TRUE(w.controls.pause());
  step(50.0f);
  w.io.send_run_state(RUNNING);
  w.controls.send_run_state(RUNNING);
  step(60.0f);
  EXPECT_EQ(w.io.host.process.run_state.load(), RUNNING);
  EXPECT_EQ(w.controls.host.process.run_state.load(), RUNNING);

  EXPECT_EQ(realtime_violations(), 0) << first_realtime_violation();
  EXPECT_GT(guarded_cycles.load(), cycles_before + 50);
  // Every path was taken: MIDI and position objects out of the io fixture,
  // latency changes, control values (tempo, and the controls fixture's
  // outputs at the update rate).
  EXPECT_GT(traffic.midi, 10u);
  EXPECT_GE(traffic.objects, 4u);
  EXPECT_GE(traffic.latency, 5u);
  EXPECT_GT(traffic.controls, 2u);
}

// One round of the soak's transport script, every 100 ms: rolling,
// relocating, stopping and new tempos, with and without BBT, and two
// buffer-size changes.
void soak_round(GuardedWorld& w, int tick) {
  jack_client_t* control = w.source.client;
  switch (tick % 40) {
  case 0:
    jack_transport_start(control);
    break;
  case 10:
    jack_transport_locate(control, static_cast<jack_nframes_t>(tick) * 1000);
    break;
  case 20:
    w.source.bpm.store(60.0 + tick % 120);
    w.source.bbt.store(tick % 80 != 20);
    jack_transport_stop(control);
    break;
  case 30:
    w.source.bpm.store(100.0 + tick % 50);
    jack_transport_locate(control, 5000);
    break;
  default:
    break;
  }
  if (tick == 100) {
    ASSERT_EQ(jack_set_buffer_size(control, 512), 0);
  } else if (tick == 200) {
    ASSERT_EQ(jack_set_buffer_size(control, 256), 0);
  }
}

// Every frame that came back is the stream after the gain.  The stream may
// break only where the server itself dropped a cycle and said so (an xrun:
// on a loaded machine a server without real-time scheduling misses
// deadlines); without xruns not one frame or note may be missing.
void expect_nothing_lost(const GuardedWorld& w, const Traffic& traffic, int rounds) {
  const uint64_t thirty_seconds = 30 * 48000;
  const uint64_t xruns = w.sink.xruns.load();
  for (const int port : {0, 1, 2}) {
    SCOPED_TRACE(port);
    EXPECT_GE(w.sink.checked_frames(port), thirty_seconds);
    EXPECT_EQ(w.sink.bad_frames(port), 0u);
    EXPECT_LE(w.sink.breaks(port), xruns);
  }
  const std::vector<MidiRecord> notes = w.sink.recorded_midi();
  EXPECT_GE(notes.size(), thirty_seconds / 512);
  EXPECT_LE(note_gaps(notes), xruns);
  EXPECT_GE(traffic.midi, notes.size());
  EXPECT_GE(traffic.objects, 20u);

  std::printf("soak: %llu frames checked per port, %llu bad, %llu breaks, %zu notes, %zu gaps, "
              "%zu positions, %d UI rounds, %llu xruns\n",
              static_cast<unsigned long long>(w.sink.checked_frames(0)),
              static_cast<unsigned long long>(w.sink.bad_frames(0)),
              static_cast<unsigned long long>(w.sink.breaks(0)), notes.size(), note_gaps(notes),
              traffic.objects, rounds, static_cast<unsigned long long>(xruns));
}

TEST(Soak, ThirtySecondsOfTrafficLoseNoFrame) {
  GuardedWorld w;
  ASSERT_TRUE(w.source.ok() && w.sink.ok());
  ASSERT_TRUE(w.open(false));
  w.source.midi_every_cycle.store(true);
  ASSERT_TRUE(w.wait_cycles(8));
  w.sink.check_stream(0, 0, 0.75f);
  w.sink.check_stream(1, 2, 1.0f);
  w.sink.check_stream(2, 3, 1.0f);
  ASSERT_TRUE(w.wait_cycles(8));
  w.sink.arm();
  reset_realtime_violations();

  Traffic traffic;
  ASSERT_TRUE(w.source.become_master());
  const auto start = std::chrono::steady_clock::now();
  int tick = 0;
  for (; std::chrono::steady_clock::now() - start < 32s; ++tick) {
    std::this_thread::sleep_for(100ms);
    w.send_ui_traffic(static_cast<float>(tick % 50));
    traffic.count(w.io.drain(), w.io.host.urids);
    traffic.count(w.controls.drain(), w.controls.host.urids);
    ASSERT_NO_FATAL_FAILURE(soak_round(w, tick));
  }
  jack_transport_stop(w.source.client);
  jack_release_timebase(w.source.client);
  w.sink.disarm();
  ASSERT_TRUE(w.wait_cycles(4));
  traffic.count(w.io.drain(), w.io.host.urids);

  EXPECT_EQ(realtime_violations(), 0) << first_realtime_violation();
  expect_nothing_lost(w, traffic, tick);
  EXPECT_EQ(w.controls.host.settings.max_block_length, 256u);
}

} // namespace
