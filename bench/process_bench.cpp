// Host overhead of one process cycle: process_run against calling the
// plugin's run directly, for the controls fixture, at 64 and 256 frames,
// with no messages and with 100 control messages per cycle.  Prints the
// best of five runs of 20000 cycles each.

#include "engine/message.hpp"
#include "engine/process.hpp"
#include "host/nodes.hpp"
#include "host/urid_mapper.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int cycles = 20000;

struct Bench {
  LilvWorld* world = nullptr;
  Nodes nodes{};
  UridMapper* mapper = nullptr;
  Urids urids{};
  LilvInstance* instance = nullptr;
  ProcessState state{};
  std::vector<float> audio = std::vector<float>(4 * 256, 0.5f);
};

bool open(Bench& b) {
  b.world = lilv_world_new();
  lilv_world_load_all(b.world);
  make_nodes(b.world, &b.nodes);
  b.mapper = urid_mapper_new();
  map_urids(b.mapper, &b.urids);
  LilvNode* uri = lilv_new_uri(b.world, "urn:bexo:test:controls");
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(b.world), uri);
  lilv_node_free(uri);
  if (!plugin) {
    return false;
  }
  process_state_init(&b.state, &b.urids, b.mapper, false);
  b.state.num_ports = lilv_plugin_get_num_ports(plugin);
  b.state.ports.resize(b.state.num_ports);
  b.state.control_values.resize(b.state.num_ports);
  b.instance = lilv_plugin_instantiate(plugin, 48000.0, nullptr);
  for (uint32_t i = 0; i < b.state.num_ports; ++i) {
    process_port_init(&b.state.ports[i], &b.nodes, plugin,
                      lilv_plugin_get_port_by_index(plugin, i));
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
    LilvNode* def = nullptr;
    lilv_port_get_range(plugin, port, &def, nullptr, nullptr);
    b.state.control_values[i] = def ? lilv_node_as_float(def) : 0.0f;
    lilv_node_free(def);
    void* buffer = i < 4 ? static_cast<void*>(&b.audio[i * 256]) : &b.state.control_values[i];
    lilv_instance_connect_port(b.instance, i, buffer);
  }
  const HostSettings settings{48000.0f, 256, 256, 1024, 1 << 16, 25.0f, 1.0f};
  process_prepare(&b.state, &b.urids, b.instance, &settings);
  lilv_instance_activate(b.instance);
  b.state.run_state.store(RUNNING);
  return true;
}

template <typename Cycle>
double best_ns_per_cycle(Cycle cycle, bool controls, Bench& b) {
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    Clock::duration total{};
    for (int c = 0; c < cycles; ++c) {
      if (controls) {
        for (int m = 0; m < 100; ++m) {
          ring_write_control(b.state.ui_ring, 4, 1.0f);
        }
      }
      const Clock::time_point start = Clock::now();
      cycle();
      total += Clock::now() - start;
      if (controls) { // a bare run leaves the messages: drop them untimed
        zix_ring_skip(b.state.ui_ring, zix_ring_read_space(b.state.ui_ring));
      }
    }
    best = std::min(best, std::chrono::duration<double, std::nano>(total).count() / cycles);
  }
  return best;
}

} // namespace

int main() {
  setenv("LV2_PATH", BEXO_FIXTURE_LV2_DIR, 1);
  Bench b;
  if (!open(b)) {
    std::fprintf(stderr, "process_bench: the controls fixture was not found\n");
    return 1;
  }
  std::printf("%-22s %6s %10s %10s %10s %8s\n", "case", "frames", "bare ns", "host ns", "overhead",
              "percent");
  for (const uint32_t frames : {64u, 256u}) {
    for (const bool controls : {false, true}) {
      const double bare =
          best_ns_per_cycle([&] { lilv_instance_run(b.instance, frames); }, controls, b);
      const double host = best_ns_per_cycle([&] { process_run(&b.state, frames); }, controls, b);
      std::printf("%-22s %6u %10.1f %10.1f %10.1f %7.1f%%\n",
                  controls ? "100 control messages" : "no messages", frames, bare, host,
                  host - bare, 100.0 * (host - bare) / bare);
    }
  }
  lilv_instance_deactivate(b.instance);
  process_release_buffers(&b.state);
  lilv_instance_free(b.instance);
  process_free(&b.state);
  urid_mapper_free(b.mapper);
  free_nodes(&b.nodes);
  lilv_world_free(b.world);
  return 0;
}
