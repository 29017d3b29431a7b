// The UI side under load: 10,000 control changes a second to the counter
// fixture's four controls for ten seconds, plus a burst of 1 KiB events
// larger than the ring every half second, at 64 frames on the private
// server, with the periodic update at 30 Hz.  Prints what was sent, what
// waited and what was refused, what the plugin counted, and whether each
// control ended at the value set last.  Run it under the launcher:
//
//   build/release/tests/harness/bexo-test-env --jack -- build/release/bench/load_bench

#include "harness/host_rig.hpp"
#include "host/lifecycle.hpp"
#include "ui/ui_update.hpp"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jack/jack.h>
#include <lv2/atom/atom.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t num_controls = 4;
constexpr uint32_t events_port = 8;
constexpr int changes_per_ms = 10;
constexpr auto duration = 10s;
constexpr auto burst_every = 500ms;
constexpr auto update_every = 33ms;

bool set_server_period(jack_nframes_t frames) {
  jack_client_t* client = jack_client_open("bexo-load-period", JackNoStartServer, nullptr);
  if (!client) {
    return false;
  }
  const bool done = jack_set_buffer_size(client, frames) == 0;
  jack_client_close(client);
  return done;
}

struct Event {
  LV2_Atom atom;
  std::array<uint8_t, 1024> body;
};

struct Load {
  uint64_t changes = 0;
  uint64_t events = 0;
  std::array<float, num_controls> last{};
};

// One burst: more 1 KiB events than the ring holds.
void burst(HostRig& rig, Event& event, Load& load) {
  const uint32_t count = zix_ring_capacity(rig.host.process.ui_ring) / sizeof(Event) + 8;
  for (uint32_t i = 0; i < count; ++i) {
    plugin_ui_write(&rig.host, events_port, sizeof(Event), rig.host.urids.atom_eventTransfer,
                    &event);
    ++load.events;
  }
}

Load drive(HostRig& rig) {
  Load load;
  Event event{{sizeof(Event::body), rig.map(LV2_ATOM__Chunk)}, {}};
  const Clock::time_point start = Clock::now();
  Clock::time_point next_change = start;
  Clock::time_point next_burst = start;
  Clock::time_point next_update = start;
  while (Clock::now() - start < duration) {
    const Clock::time_point now = Clock::now();
    if (now >= next_change) {
      for (int i = 0; i < changes_per_ms; ++i, ++load.changes) {
        const auto port = static_cast<uint32_t>(load.changes % num_controls);
        const float value = static_cast<float>(load.changes % 1000) / 1000.0f;
        plugin_ui_write(&rig.host, port, sizeof(value), 0, &value);
        load.last[port] = value;
      }
      next_change += 1ms;
    }
    if (now >= next_burst) {
      burst(rig, event, load);
      next_burst += burst_every;
    }
    if (now >= next_update) {
      rig.update();
      next_update += update_every;
    }
    std::this_thread::sleep_until(std::min({next_change, next_burst, next_update}));
  }
  return load;
}

float output(HostRig& rig, const char* symbol) {
  return static_cast<float>(control_value_to_double(&rig.control(symbol)->value, &rig.host.forge));
}

} // namespace

int main() {
  const std::string lv2_path = std::string(BEXO_FIXTURE_LV2_DIR) + ":/usr/lib/lv2";
  setenv("LV2_PATH", lv2_path.c_str(), 1);
  if (!std::getenv("BEXO_PRIVATE_JACK_SERVER") || !set_server_period(64)) {
    std::fprintf(stderr, "load_bench: run it under bexo-test-env --jack\n");
    return 1;
  }
  HostRig rig;
  if (rig.open("urn:bexo:test:counter") || rig.activate()) {
    std::fprintf(stderr, "load_bench: cannot open the counter fixture\n");
    return 1;
  }
  const Load load = drive(rig);
  // Let the waiting values and the plugin's last report come through.
  for (int i = 0; i < 30; ++i) {
    rig.update();
    std::this_thread::sleep_for(update_every);
  }

  const UiWrites& writes = rig.host.ui_writes;
  std::printf(
      "period 64 frames, ring %u bytes, updates at 30 Hz, %lld s\n",
      zix_ring_capacity(rig.host.process.ui_ring),
      static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(duration).count()));
  std::printf("control changes set        %10llu\n", static_cast<unsigned long long>(load.changes));
  std::printf("1 KiB events written       %10llu\n", static_cast<unsigned long long>(load.events));
  std::printf("messages sent to the ring  %10llu\n", static_cast<unsigned long long>(writes.sent));
  std::printf("changes that waited (kept) %10llu\n",
              static_cast<unsigned long long>(writes.coalesced));
  std::printf("events refused             %10llu\n",
              static_cast<unsigned long long>(writes.refused));
  std::printf("events the plugin received %10.0f\n", output(rig, "received"));
  std::printf("runs with a changed input  %10.0f\n", output(rig, "changes"));
  bool all_last = true;
  for (uint32_t i = 0; i < num_controls; ++i) {
    const std::string echo = std::string(1, static_cast<char>('a' + i)) + "_echo";
    const float final_value = output(rig, echo.c_str());
    const bool same = final_value == load.last[i];
    all_last = all_last && same;
    std::printf("control %c: last set %.3f, plugin ends at %.3f%s\n", 'a' + i, load.last[i],
                final_value, same ? "" : "  MISMATCH");
  }
  std::printf("every control ends at the value set last: %s\n", all_last ? "yes" : "NO");
  rig.deactivate();
  return all_last ? 0 : 1;
}
