// Time spent in the JACK process callback, measured on the server's own
// process thread: the io fixture (audio, CV, MIDI both ways) fed by a test
// client at 256 frames, idle and with 8 MIDI events per cycle plus a
// transport that keeps relocating, against the 5333 us a cycle lasts at
// 48 kHz.  Run it under the launcher, which gives it a private server:
//
//   build/release/tests/harness/bexo-test-env --jack -- build/release/bench/jack_bench

#include "jack/process_callback.hpp"
#include "jack_suite.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t samples = 4000;

std::vector<double> durations(samples);
std::atomic<size_t> taken{0};
std::atomic<bool> measuring{false};

int timed_process(jack_nframes_t nframes, void* data) {
  const Clock::time_point start = Clock::now();
  const int result = process_callback(nframes, data);
  const size_t n = taken.load(std::memory_order_relaxed);
  if (measuring.load(std::memory_order_relaxed) && n < samples) {
    durations[n] = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    taken.store(n + 1, std::memory_order_release);
  }
  return result;
}

void report(const char* what) {
  std::vector<double> d(durations.begin(),
                        durations.begin() + static_cast<std::ptrdiff_t>(taken.load()));
  std::sort(d.begin(), d.end());
  const auto at = [&](double q) { return d[static_cast<size_t>(q * (d.size() - 1))]; };
  std::printf("%-34s cycles %5zu  median %6.2f us  p99 %6.2f us  max %7.2f us\n", what, d.size(),
              at(0.5), at(0.99), d.back());
}

void measure(const char* what) {
  taken.store(0);
  measuring.store(true);
  while (taken.load() < samples) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  measuring.store(false);
  report(what);
}

} // namespace

int main() {
  const std::string lv2_path = std::string(BEXO_FIXTURE_LV2_DIR) + ":/usr/lib/lv2";
  setenv("LV2_PATH", lv2_path.c_str(), 1);
  if (!std::getenv("BEXO_PRIVATE_JACK_SERVER")) {
    std::fprintf(stderr, "jack_bench: run it under bexo-test-env --jack\n");
    return 1;
  }

  // The host's client runs the timed callback in place of its own; the
  // outside world is the suite's, as the backend tests see it.
  IoWorld world;
  if (!world.open("bexo-bench", timed_process)) {
    std::fprintf(stderr, "jack_bench: cannot open the io fixture on the server\n");
    return 1;
  }
  Source& source = world.source;
  HostRig& rig = world.rig;

  measure("audio and CV, no events");
  rig.drain(); // what the plugin answered to the open's request for its properties

  // Eight notes per cycle, and a position object in every cycle.
  std::atomic<bool> busy{true};
  size_t midi = 0;
  size_t positions = 0;
  std::thread feeder([&] {
    jack_nframes_t frame = 0;
    while (busy.load()) {
      const uint64_t cycle = source.cycles.load();
      for (uint32_t e = 0; e < 8; ++e) {
        source.queue_midi(0, e * 32, {0x90, static_cast<uint8_t>(e), 100});
      }
      jack_transport_locate(source.client, frame += 48000);
      while (busy.load() && source.cycles.load() == cycle) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      for (const RingMessage& m : rig.drain()) {
        if (m.type == EVENT_TRANSFER) {
          ++(m.atom_type() == rig.host.urids.midi_MidiEvent ? midi : positions);
        }
      }
    }
  });
  const uint64_t first_cycle = source.cycles.load();
  measure("8 MIDI events and a position each");
  const uint64_t cycles = source.cycles.load() - first_cycle;
  busy.store(false);
  feeder.join();
  std::printf("(%zu MIDI events and %zu positions reached the UI side in %llu cycles)\n", midi,
              positions, static_cast<unsigned long long>(cycles));
  return 0;
}
