#pragma once

// Engine tests run on a host that the one rig opened with its own backend,
// activated and running, at 48 kHz and 256 frames with updates at 25 Hz:
// ProcessTest on the ports fixture, AtomsTest on the atoms fixture with
// both its workers, the threaded one started.  rig.cycle() is the engine's real cycle; a test of
// one engine function calls that function alone.

#include "engine/cycle.hpp"
#include "engine/event_buffer.hpp"
#include "engine/message.hpp"
#include "engine/process.hpp"
#include "engine/worker.hpp"
#include "harness/host_rig.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

// Ports of the ports fixture (ports.ttl).
constexpr uint32_t control_port = 1;   // a control input without event buffer
constexpr uint32_t plain_event_in = 3; // takes no positions
constexpr uint32_t event_out = 4;
constexpr uint32_t control_in = 5; // designated lv2:control, 65536 bytes, takes positions
constexpr uint32_t twin_a = 6;     // control outputs
constexpr uint32_t twin_b = 7;
constexpr uint32_t latency_port = 8;
constexpr uint32_t tempo_port = 9;

// Ports of the atoms fixture (atoms.ttl).
constexpr uint32_t atoms_control = 0;
constexpr uint32_t atoms_notify = 1;
constexpr uint32_t atoms_midi_in = 2;
constexpr uint32_t atoms_midi_out = 3;

struct Event {
  uint32_t frames;
  uint32_t type;
  std::vector<uint8_t> body;
};

/// Every event in `buffer`, in order.
inline std::vector<Event> buffer_events(EventBuffer* buffer) {
  std::vector<Event> found;
  event_buffer_for_each(
      buffer, [&](uint32_t frames, uint32_t type, uint32_t size, const void* data) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        found.push_back({frames, type, std::vector<uint8_t>(bytes, bytes + size)});
      });
  return found;
}

class ProcessTest : public testing::Test {
protected:
  void SetUp() override { open("urn:bexo:test:ports", 4096); }

  void open(const char* plugin_uri, uint32_t ring_size) {
    rig.host.options.ring_size = ring_size;
    rig.host.options.update_rate = 25.0;
    ASSERT_EQ(rig.open_manual(plugin_uri), 0);
    ASSERT_EQ(rig.activate(), 0);
    rig.discard_ui_messages();
    rig.drain(); // the control values that the open restored, for the UI side
  }

  std::vector<Event> events(uint32_t port) { return buffer_events(state.ports[port].event_buffer); }

  // The strings that the plugin reported on an output event port.
  std::vector<std::string> strings(uint32_t port) {
    std::vector<std::string> found;
    for (const Event& e : events(port)) {
      if (e.type == urids.atom_String) {
        found.emplace_back(reinterpret_cast<const char*>(e.body.data()));
      }
    }
    return found;
  }

  HostRig rig;
  ProcessState& state = rig.host.process;
  const Urids& urids = rig.host.urids;
};

class AtomsTest : public ProcessTest {
protected:
  // The ring has room for a request larger than the worker's ring.  The
  // plugin may be restored while it runs, so the host gives it the
  // synchronous worker of a restore beside the threaded one.
  void SetUp() override { open("urn:bexo:test:atoms-tsr", 16384); }

  // Sends a string to the plugin's control input, which it takes as a
  // request for its worker.
  void send_request(const std::string& text) {
    ASSERT_EQ(ring_write_event(state.ui_ring, atoms_control, static_cast<uint32_t>(text.size() + 1),
                               urids.atom_String, text.c_str()),
              ZIX_STATUS_SUCCESS);
  }
};
