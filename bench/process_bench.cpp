// Host overhead of one process cycle: process_run against calling the
// plugin's run directly, at 64 and 256 frames, with no messages and with
// 100 control messages per cycle (controls fixture), and with 8 MIDI events
// per cycle (atoms fixture, which echoes them to its MIDI output); and, at
// 256 frames, the whole cycle of the engine around the run (the rows
// marked "cycle"), which a backend adds its own buffers to.  Prints the
// best of five runs of 20000 cycles each.  The plugins are opened through
// the tests' rig with its own backend, as the host opens them.

#include "engine/event_buffer.hpp"
#include "engine/message.hpp"
#include "engine/process.hpp"
#include "harness/host_rig.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int cycles = 20000;
constexpr uint32_t max_frames = 256;

// Opens the plugin, activated and running, with every audio buffer at 0.5
// and nothing waiting in either ring.
void open(HostRig& rig, const char* plugin_uri) {
  rig.host.options.ring_size = 1 << 16;
  rig.host.options.update_rate = 25.0;
  if (const int status = rig.open_manual(plugin_uri, ManualAudio{48000.0f, max_frames, 1024})) {
    std::fprintf(stderr, "process_bench: the fixture %s did not open (%d)\n", plugin_uri, status);
    std::exit(1);
  }
  if (rig.activate()) {
    std::fprintf(stderr, "process_bench: the fixture %s did not activate\n", plugin_uri);
    std::exit(1);
  }
  for (uint32_t i = 0; i < rig.host.num_ports; ++i) {
    std::fill(rig.audio(i).begin(), rig.audio(i).end(), 0.5f);
  }
  rig.discard_ui_messages();
  rig.drain();
}

// Best time of `cycle` over five runs; `prepare` runs untimed before each
// cycle and `clean_up` untimed after it.
double best_ns_per_cycle(const std::function<void()>& prepare, const std::function<void()>& cycle,
                         const std::function<void()>& clean_up) {
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    Clock::duration total{};
    for (int c = 0; c < cycles; ++c) {
      prepare();
      const Clock::time_point start = Clock::now();
      cycle();
      total += Clock::now() - start;
      clean_up();
    }
    best = std::min(best, std::chrono::duration<double, std::nano>(total).count() / cycles);
  }
  return best;
}

void print_row(const char* name, uint32_t frames, double bare, double host) {
  std::printf("%-22s %6u %10.1f %10.1f %10.1f %7.1f%%\n", name, frames, bare, host, host - bare,
              100.0 * (host - bare) / bare);
}

void bench_controls(uint32_t frames) {
  constexpr uint32_t gain = 4;
  HostRig rig;
  open(rig, "urn:bexo:test:controls");
  ProcessState* state = &rig.host.process;
  const auto nothing = [] {};
  const auto run = [&] { lilv_instance_run(state->instance, frames); };
  const auto host = [&] { process_run(state, frames); };
  print_row("no messages", frames, best_ns_per_cycle(nothing, run, nothing),
            best_ns_per_cycle(nothing, host, nothing));

  const auto send = [&] {
    for (int m = 0; m < 100; ++m) {
      ring_write_control(state->ui_ring, gain, 1.0f);
    }
  };
  // A bare run leaves the messages: drop them untimed.
  const auto drop = [&] { rig.discard_ui_messages(); };
  print_row("100 control messages", frames, best_ns_per_cycle(send, run, drop),
            best_ns_per_cycle(send, host, drop));
  if (frames == max_frames) {
    const auto whole = [&] { rig.cycle(); };
    const auto take_outputs = [&] { rig.drain(); };
    print_row("cycle, no messages", frames, best_ns_per_cycle(nothing, run, nothing),
              best_ns_per_cycle(nothing, whole, take_outputs));
  }
}

void bench_midi(uint32_t frames) {
  constexpr uint32_t midi_in = 2;
  constexpr uint32_t midi_out = 3;
  constexpr uint8_t note[3] = {0x90, 60, 100};
  HostRig rig;
  open(rig, "urn:bexo:test:atoms");
  ProcessState* state = &rig.host.process;
  const uint32_t midi_type = rig.host.urids.midi_MidiEvent;
  EventBuffer* in = state->ports[midi_in].event_buffer;
  EventBuffer* out = state->ports[midi_out].event_buffer;
  // The bare run finds the events in its input already; through the host
  // they come from the UI side's ring.  Both echo them to the output.
  const auto fill_input = [&] {
    event_buffer_reset(out, false);
    EventBufferIterator end = event_buffer_end(in);
    for (uint32_t e = 0; e < 8; ++e) {
      event_iter_write(&end, e * (frames / 8), 0, midi_type, 3, note);
    }
  };
  const auto send = [&] {
    event_buffer_reset(out, false);
    for (uint32_t e = 0; e < 8; ++e) {
      ring_write_event(state->ui_ring, midi_in, 3, midi_type, note);
    }
  };
  const auto empty_input = [&] { event_buffer_reset(in, true); };
  const auto bare = [&] { lilv_instance_run(state->instance, frames); };
  const double bare_ns = best_ns_per_cycle(fill_input, bare, empty_input);
  print_row("8 MIDI events", frames, bare_ns,
            best_ns_per_cycle(
                send, [&] { process_run(state, frames); }, empty_input));
  if (frames == max_frames) {
    // The cycle empties the input itself and hands the echoes to the UI
    // side, which takes them untimed.
    print_row("cycle, 8 MIDI events", frames, bare_ns,
              best_ns_per_cycle(
                  send, [&] { rig.cycle(); }, [&] { rig.drain(); }));
  }
}

} // namespace

int main() {
  setenv("LV2_PATH", BEXO_FIXTURE_LV2_DIR, 1);
  std::printf("%-22s %6s %10s %10s %10s %8s\n", "case", "frames", "bare ns", "host ns", "overhead",
              "percent");
  for (const uint32_t frames : {64u, max_frames}) {
    bench_controls(frames);
    bench_midi(frames);
  }
  return 0;
}
