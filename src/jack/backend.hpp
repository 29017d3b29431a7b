#pragma once

// The JACK backend: one client for the loaded plugin, a JACK port for each
// audio, CV and MIDI-capable event port, port metadata, and the callbacks
// that drive the process cycle.  Every call into JACK goes through the
// operations and callbacks declared here and in process_callback.hpp.

#include "base/host_settings.hpp"
#include "base/log.hpp"
#include "base/urids.hpp"
#include "engine/process.hpp"

#include <cstdint>
#include <jack/jack.h>
#include <vector>
#include <zix/sem.h>

struct Backend {
  const Urids* urids;
  HostSettings* settings; ///< Sample rate, block lengths and MIDI buffer size land here.
  ProcessState* process;
  ZixSem* quit_sem; ///< Posted when JACK shuts the client down.
  jack_client_t* client;

  // Stand-ins for audio and CV ports that JACK refused to register, so that
  // the plugin never runs with such a port unconnected.  Inputs read
  // `silence`; outputs write `scratch`, kept apart so that what a plugin
  // writes can never reach an input.  Both hold `stand_in_frames` floats.
  float* silence;
  float* scratch;
  uint32_t stand_in_frames;
  bool needs_stand_ins; ///< Some plugin port is connected to a stand-in.

  /// The last re-preparation for a new buffer size ran out of memory: some
  /// event port has no buffer, and the plugin must not run until one works.
  bool buffers_missing;

  /// The plugin ports with a JACK port, by what a cycle does with them,
  /// made by audio_start before the first cycle so that a cycle never
  /// looks at a control port: audio and CV ports (buffers to connect),
  /// event inputs (MIDI to read) and event outputs (MIDI to write).
  std::vector<uint32_t> audio_ports;
  std::vector<uint32_t> midi_inputs;
  std::vector<uint32_t> midi_outputs;
};

/// Open the client `name` (cut to what JACK can hold), read the server's
/// numbers into `settings` and register the callbacks.  Returns 0, or 1 when
/// no client could be opened; then nothing is stored.
int audio_open(Backend* backend, LogContext* log, const Urids* urids, HostSettings* settings,
               ProcessState* process, ZixSem* quit_sem, const char* name, bool exact_name);

/// Register the JACK port of plugin port `index`, if it gets one, and
/// describe it with metadata.  An audio or CV port that JACK refuses is
/// connected to a stand-in buffer.  Control ports and ports of unknown kind
/// get no JACK port (see process_connect_port).
void audio_setup_port(Backend* backend, ProcessState* process, uint32_t index);

/// Activate the open client: JACK starts calling the process callback.
/// Returns 0, or 1 when JACK refused.
int audio_start(Backend* backend);

/// Deactivate the client, if one is open.
void audio_stop(Backend* backend);

/// Ask JACK to recompute the latencies, after the plugin reported a new one.
void audio_update_latencies(Backend* backend);

/// Close the client and free the stand-in buffers.
void audio_close(Backend* backend);

// The notification callbacks, registered by audio_open with the backend as
// their argument.  They run on a JACK thread that is not the process thread.
int buffer_size_callback(jack_nframes_t nframes, void* data);
void shutdown_callback(void* data);
void latency_callback(jack_latency_callback_mode_t mode, void* data);
