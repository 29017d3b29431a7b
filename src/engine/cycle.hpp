#pragma once

// One running cycle around the plugin's run, for any audio backend.  The
// backend calls, in this order:
//
//   process_cycle_begin   events left by paused cycles, the transport, and
//                         empty outputs
//   (its own inputs)      audio and CV buffers connected, incoming events
//                         appended to the event inputs
//   process_run           messages from the UI side, the plugin, the worker
//   process_cycle_end     outputs to the UI side (and each output event to
//                         the backend too), inputs emptied, and the
//                         acknowledgement of a pause
//
// A paused cycle calls process_paused alone.  Everything here runs on the
// audio thread.

#include "engine/process.hpp"
#include "engine/realtime.hpp"

#include <cstdint>

/// The transport for one cycle, as the backend reads it.  The bar, beat
/// and tempo fields count only when has_bbt is set.
struct Transport {
  uint32_t frame;
  bool rolling;
  bool has_bbt;
  int32_t bar;  ///< Counted from 1.
  int32_t beat; ///< Counted from 1.
  int32_t tick;
  double ticks_per_beat;
  float beats_per_bar;
  float beat_type;
  double beats_per_minute;
};

/// Largest latency taken from the plugin's latency output; anything
/// outside 0 to this (NaN included) is taken as 0.
constexpr float max_plugin_latency = 16777216.0f;

/// Start a running cycle of `nframes` frames.  Events that paused cycles
/// left in an input move to frame 0.  When the transport differs from the
/// one the last cycle saw, a time:Position object goes at frame 0 into every
/// input that takes positions, and with BBT information the new tempo goes
/// into every tempo control and to the UI side.  Event outputs are reset
/// for the plugin to fill.
BEXO_REALTIME void process_cycle_begin(ProcessState* state, uint32_t nframes,
                                       const Transport* transport);

/// The backend's share of the plugin's output events: called for each event
/// of an event output, in order, in the one walk that also hands it to the
/// UI side.  `body` points into the port's event buffer.
struct OutputEventSink {
  void (*event)(void* data, const ProcessPort& port, uint32_t frames, uint32_t type, uint32_t size,
                const void* body);
  void* data;
};

/// Finish a running cycle whose process_run returned `status`: control
/// outputs go to the UI side when updates are due, a changed latency always,
/// and so does every event the plugin wrote (MIDI only while ui_reads_midi
/// is set); `sink` (when given) gets every event; event inputs are emptied
/// for the next cycle; a pause applied in this cycle is acknowledged last.
BEXO_REALTIME void process_cycle_end(ProcessState* state, int status,
                                     const OutputEventSink* sink = nullptr);

/// The plugin latency, in frames, that a latency output's value stands for.
BEXO_REALTIME uint32_t latency_frames(float value);
