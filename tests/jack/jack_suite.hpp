#pragma once

// What the programs of the JACK suite (and the JACK benchmark) share: the
// fixtures' port numbers, the ways a rig opens on the server (whole, with a
// process callback of the program's own, or with port names taken before
// the backend asks for them) and the io fixture wired to the outside world.

#include "harness/host_rig.hpp"
#include "harness/jack_world.hpp"

#include <cstdint>
#include <jack/jack.h>
#include <string>

// Ports of the io fixture.
constexpr uint32_t io_audio_in = 0;
constexpr uint32_t io_audio_out = 1;
constexpr uint32_t io_cv_in = 2;
constexpr uint32_t io_cv_out = 3;
constexpr uint32_t io_events_in = 4;
constexpr uint32_t io_events_out = 5;
constexpr uint32_t io_patch_in = 6;
constexpr uint32_t io_bpm = 7;
constexpr uint32_t io_latency_set = 8;
constexpr uint32_t io_latency = 9;

// Ports of the controls fixture.
constexpr uint32_t controls_in_l = 0;
constexpr uint32_t controls_in_r = 1;
constexpr uint32_t controls_out_l = 2;
constexpr uint32_t controls_out_r = 3;
constexpr uint32_t controls_gain = 4;
constexpr uint32_t controls_echo_in = 16;
constexpr uint32_t controls_echo_out = 17;

/// Before an open: the client's name (with `exact` the open fails when the
/// name is taken), and the ring size and update rate of the suite's rigs.
void name_rig(HostRig& rig, const std::string& name, bool exact = false);

/// host_activate, after `callback` (when given) took the place of the
/// backend's process callback, with the Backend as its argument, while the
/// client is still inactive.  False when the activation failed.
bool start_rig(HostRig& rig, JackProcessCallback callback = nullptr);

/// name_rig, the whole open with JACK, and start_rig; false on a failure.
bool open_running(HostRig& rig, const char* uri, const std::string& name,
                  JackProcessCallback callback = nullptr);

/// The controls fixture, opened but not started.  With `refuse_ports` the
/// names of its left input and right output are taken on its client before
/// the backend registers its ports, so that JACK refuses both.
bool open_controls(HostRig& rig, const std::string& name, bool refuse_ports);

/// Waits until `client` ran `n` more cycles.
bool wait_cycles(const TestClient& client, uint64_t n);

/// The io fixture, running, between a source and a sink: the stream goes
/// to its audio and CV inputs, MIDI to its event input, and every output
/// back to the sink; the UI side reads the plugin's MIDI, as a plugin UI
/// would.
struct IoWorld {
  Source source{2, 1};
  Sink sink{2, 1};
  HostRig rig;

  /// Opens and connects all three; `callback` as for start_rig.
  bool open(const std::string& name, JackProcessCallback callback = nullptr);
  bool wait_cycles(uint64_t n) const { return ::wait_cycles(sink, n); }
};
