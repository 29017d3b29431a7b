#pragma once

// The audio backend a host runs with, as operations on the backend's own
// record, so that the life cycle does not care which one it is: JACK's,
// which open_audio installs, or another (the tests' rig brings its own).
// None installed means there is no backend: nothing can be started, and
// stopping, closing and latency updates do nothing.

struct Backend;

struct AudioBackend {
  void* data; ///< The backend's record, handed to every operation.
  /// Start running cycles.  Returns 0, or nonzero when the backend refused.
  int (*start)(void* data);
  /// Stop running cycles; when it returns, no cycle runs any more.
  void (*stop)(void* data);
  /// The plugin reported a new latency.
  void (*update_latencies)(void* data);
  /// Release the backend: no cycle runs afterwards.
  void (*close)(void* data);
};

/// The operations of the JACK backend on `backend`.
AudioBackend jack_audio_backend(Backend* backend);

/// Each operation of the installed backend, or nothing without one;
/// audio_backend_start returns 1 without a backend.
int audio_backend_start(const AudioBackend* audio);
void audio_backend_stop(const AudioBackend* audio);
void audio_backend_update_latencies(const AudioBackend* audio);
void audio_backend_close(const AudioBackend* audio);
