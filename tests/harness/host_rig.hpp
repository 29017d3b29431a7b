#pragma once

// The one rig through which tests and benchmarks open a host.  It opens a
// plugin through the real steps of host_open, as main and a front end open
// it: the Host value-initialised, its arguments taken, the program's front
// end (the tests' own, or bexo-qt's in the Qt tests), a backend record, and
// every log line kept.  The audio backend is either JACK (the private
// server of bexo-test-env) or the rig's own, which runs the engine's real
// cycle when the test asks for it, by hand or on a thread of the rig.  The
// UI side runs the real periodic update.

#include "base/log.hpp"
#include "engine/cycle.hpp"
#include "harness/log_capture.hpp"
#include "harness/ring_messages.hpp"
#include "host/host.hpp"
#include "jack/backend.hpp"

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

/// The numbers the rig's own backend reports in place of JACK's.
struct ManualAudio {
  float sample_rate = 48000.0f;
  uint32_t block_length = 256;
  size_t midi_buf_size = 1024;
};

class HostRig {
public:
  /// A host as main leaves it for the front end, with `args` as its
  /// arguments (the program's name first).
  explicit HostRig(std::initializer_list<const char*> args = {"bexo"});
  HostRig(const HostRig&) = delete;
  HostRig& operator=(const HostRig&) = delete;
  /// Stops the rig's cycles and closes the host, also after a failed open.
  ~HostRig();

  // Opening.  Each returns 0 or the HostOpenStatus of the step that failed.

  /// host_open, with JACK.
  int open(const char* arg);
  /// The steps before the audio backend: the world, the plugin and its
  /// state, the UI choice, the process state and the ports.
  int load(const char* arg);
  /// After load: open_audio, open_instance and connect_ports, as host_open.
  /// `on_client`, when given, runs once the client is open and before the
  /// instance and its ports are made; its failure fails the attach with
  /// HOST_OPEN_NO_AUDIO.
  int attach_jack(const std::function<bool()>& on_client = {});
  /// After load: the rig's own backend in place of open_audio (its start
  /// does nothing, its stop ends the rig's cycle thread), then
  /// open_instance, and the audio and CV ports connected to the rig's
  /// buffers (see audio()).
  int attach_manual(const ManualAudio& audio = {});
  /// load and attach_manual.
  int open_manual(const char* arg, const ManualAudio& audio = {});

  // Life cycle.

  /// host_activate.
  int activate();
  /// host_deactivate, which stops the rig's cycles through its backend.
  void deactivate();
  /// Stop the rig's cycles, then host_close.
  void close();

  // The rig's own backend.

  /// One cycle of the rig's block length, as a backend runs it: the paused
  /// path, or the engine's cycle around process_run with `transport` and
  /// `backend_input`, handing output events to `output_sink` when set.
  void cycle();
  /// Run cycles on a thread of the rig, one every half millisecond, until
  /// stop_cycles.
  void start_cycles();
  void stop_cycles();
  /// The buffer an audio or CV port is connected to (block length frames).
  std::vector<float>& audio(uint32_t port) { return audio_buffers[port]; }
  /// What cycle() passes as the transport: stopped at frame 0 at first.
  Transport transport{};
  /// The backend's own part of a running cycle, if any: called after
  /// process_cycle_begin, where a backend appends its input events.
  std::function<void()> backend_input;
  const OutputEventSink* output_sink = nullptr;

  // The UI side.

  /// One periodic update; returns what periodic_update returned.
  int update();
  /// Periodic updates until `done` holds or `limit` passed; true when it held.
  bool update_until(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(5));
  /// Take every message now waiting in process_ring, without delivering it.
  std::vector<RingMessage> drain();
  /// Write a run-state message to ui_ring.
  void send_run_state(RunState run_state);
  /// Pause through ui_ring and wait until the audio thread acknowledged.
  bool pause();
  /// Drop every message waiting in ui_ring (the request for the plugin's
  /// properties that the open left there, say).
  void discard_ui_messages();
  /// Send the plugin a patch:Set of the property `uri` to an atom, through
  /// ui_ring to its control input.  Returns the ring's status.
  int send_property(const char* uri, uint32_t size, uint32_t type, const void* body);

  // Lookups.

  Control* control(const char* symbol);
  Control* property(const char* uri);
  uint32_t map(const char* uri);
  /// The JACK client's full name of a plugin port, "client:symbol".
  std::string port_name(uint32_t index) const;
  /// The texts logged at `level`, in order.
  std::vector<std::string> logged(int level) const { return lines_at(lines, level); }
  /// Whether a line at `level` contains `text`.
  bool logged(int level, const std::string& text) const { return ::logged(lines, level, text); }

  Host host{};
  Backend backend{};
  std::vector<LogLine> lines; ///< Everything the host logged.

private:
  void connect_manual_ports();

  std::vector<std::string> arg_strings;
  std::vector<char*> argv;
  LilvState* initial_state = nullptr;
  bool loaded = false;
  std::vector<std::vector<float>> audio_buffers;
  std::atomic<bool> cycling{false};
  std::thread cycles;
};
