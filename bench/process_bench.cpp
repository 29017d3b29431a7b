// Host overhead of one process cycle: process_run against calling the
// plugin's run directly, at 64 and 256 frames, with no messages and with
// 100 control messages per cycle (controls fixture), and with 8 MIDI events
// per cycle (atoms fixture, which echoes them to its MIDI output).  Prints
// the best of five runs of 20000 cycles each.

#include "engine/event_buffer.hpp"
#include "engine/message.hpp"
#include "engine/process.hpp"
#include "engine/worker.hpp"
#include "host/nodes.hpp"
#include "host/urid_mapper.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <lv2/worker/worker.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int cycles = 20000;
constexpr uint32_t max_frames = 256;

struct Bench {
  LilvWorld* world = nullptr;
  Nodes nodes{};
  UridMapper* mapper = nullptr;
  Urids urids{};
  LilvInstance* instance = nullptr;
  ProcessState state{};
  std::vector<float> audio;
  // Requests are refused: the benchmark's plugins do not schedule work.
  LV2_Worker_Schedule schedule{nullptr, worker_request};
  LV2_Feature map_feature{LV2_URID__map, nullptr};
  LV2_Feature schedule_feature{LV2_WORKER__schedule, &schedule};
  const LV2_Feature* features[3]{&map_feature, &schedule_feature, nullptr};
};

// Opens the plugin with every port connected: audio to buffers of its own,
// controls to their defaults, event ports by process_prepare.
bool open(Bench& b, const char* plugin_uri) {
  b.world = lilv_world_new();
  lilv_world_load_all(b.world);
  make_nodes(b.world, &b.nodes);
  b.mapper = urid_mapper_new();
  map_urids(b.mapper, &b.urids);
  b.map_feature.data = urid_mapper_get_map(b.mapper);
  LilvNode* uri = lilv_new_uri(b.world, plugin_uri);
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(b.world), uri);
  lilv_node_free(uri);
  if (!plugin) {
    std::fprintf(stderr, "process_bench: the fixture %s was not found\n", plugin_uri);
    return false;
  }
  process_state_init(&b.state, &b.urids, b.mapper, false);
  b.state.num_ports = lilv_plugin_get_num_ports(plugin);
  b.state.ports.resize(b.state.num_ports);
  b.state.control_values.resize(b.state.num_ports);
  b.audio.assign(b.state.num_ports * max_frames, 0.5f);
  b.instance = lilv_plugin_instantiate(plugin, 48000.0, b.features);
  if (!b.instance) {
    return false;
  }
  for (uint32_t i = 0; i < b.state.num_ports; ++i) {
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
    process_port_init(&b.state.ports[i], &b.nodes, plugin, port);
    LilvNode* def = nullptr;
    lilv_port_get_range(plugin, port, &def, nullptr, nullptr);
    b.state.control_values[i] = def ? lilv_node_as_float(def) : 0.0f;
    lilv_node_free(def);
    void* buffer = b.state.ports[i].type == TYPE_AUDIO
                       ? static_cast<void*>(&b.audio[i * max_frames])
                       : &b.state.control_values[i];
    lilv_instance_connect_port(b.instance, i, buffer);
  }
  const HostSettings settings{48000.0f, max_frames, max_frames, 1024, 1 << 16, 25.0f, 1.0f};
  process_prepare(&b.state, &b.urids, b.instance, &settings);
  lilv_instance_activate(b.instance);
  b.state.run_state.store(RUNNING);
  return true;
}

void close(Bench& b) {
  lilv_instance_deactivate(b.instance);
  process_release_buffers(&b.state);
  lilv_instance_free(b.instance);
  process_free(&b.state);
  urid_mapper_free(b.mapper);
  free_nodes(&b.nodes);
  lilv_world_free(b.world);
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
  Bench b;
  if (!open(b, "urn:bexo:test:controls")) {
    std::exit(1);
  }
  const auto nothing = [] {};
  const auto run = [&] { lilv_instance_run(b.instance, frames); };
  const auto host = [&] { process_run(&b.state, frames); };
  print_row("no messages", frames, best_ns_per_cycle(nothing, run, nothing),
            best_ns_per_cycle(nothing, host, nothing));

  const auto send = [&] {
    for (int m = 0; m < 100; ++m) {
      ring_write_control(b.state.ui_ring, 4, 1.0f);
    }
  };
  // A bare run leaves the messages: drop them untimed.
  const auto drop = [&] { zix_ring_skip(b.state.ui_ring, zix_ring_read_space(b.state.ui_ring)); };
  print_row("100 control messages", frames, best_ns_per_cycle(send, run, drop),
            best_ns_per_cycle(send, host, drop));
  close(b);
}

void bench_midi(uint32_t frames) {
  constexpr uint32_t midi_in = 2;
  constexpr uint32_t midi_out = 3;
  constexpr uint8_t note[3] = {0x90, 60, 100};
  Bench b;
  if (!open(b, "urn:bexo:test:atoms")) {
    std::exit(1);
  }
  EventBuffer* in = b.state.ports[midi_in].event_buffer;
  EventBuffer* out = b.state.ports[midi_out].event_buffer;
  // The bare run finds the events in its input already; through the host
  // they come from the UI side's ring.  Both echo them to the output.
  const auto fill_input = [&] {
    event_buffer_reset(out, false);
    EventBufferIterator end = event_buffer_end(in);
    for (uint32_t e = 0; e < 8; ++e) {
      event_iter_write(&end, e * (frames / 8), 0, b.urids.midi_MidiEvent, 3, note);
    }
  };
  const auto send = [&] {
    event_buffer_reset(out, false);
    for (uint32_t e = 0; e < 8; ++e) {
      ring_write_event(b.state.ui_ring, midi_in, 3, b.urids.midi_MidiEvent, note);
    }
  };
  const auto empty_input = [&] { event_buffer_reset(in, true); };
  print_row("8 MIDI events", frames,
            best_ns_per_cycle(
                fill_input, [&] { lilv_instance_run(b.instance, frames); }, empty_input),
            best_ns_per_cycle(
                send, [&] { process_run(&b.state, frames); }, empty_input));
  close(b);
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
