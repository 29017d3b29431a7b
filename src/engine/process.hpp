#pragma once

// The part of the host that the audio thread works on, and the steps it
// runs once per cycle: apply what the UI side sent, run the plugin, hand
// worker responses back, and pace the updates sent to the UI side.  The
// cycle around these steps, with the ports' buffers, is in cycle.hpp.

#include "base/host_settings.hpp"
#include "base/urids.hpp"
#include "engine/process_port.hpp"
#include "engine/realtime.hpp"
#include "engine/worker.hpp"

#include <atomic>
#include <cstdint>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <vector>
#include <zix/ring.h>
#include <zix/sem.h>

struct UridMapper;

enum RunState : uint32_t {
  RUNNING = 0,
  PAUSED = 1,
};

struct ProcessState {
  const Urids* urids; ///< The host's table; set by process_state_init, none before
  LilvInstance* instance;
  ZixRing* ui_ring;      ///< UI side to audio thread
  ZixRing* process_ring; ///< Audio thread to UI side
  Worker* worker;        ///< Serves the plugin's worker:schedule
  Worker* state_worker;  ///< Serves scheduling during a state restore
  std::vector<ProcessPort> ports;
  LV2_Atom_Forge forge;
  LV2_Atom_Object get_request;       ///< A ready patch:Get for the control input
  std::vector<float> control_values; ///< What control ports are connected to
  /// The ports process_cycle_begin and process_cycle_end have work for, in
  /// index order, so that a cycle walks only those, however many controls
  /// a plugin has: event ports with a buffer and tempo controls; event
  /// ports with a buffer; and the control outputs other than the latency,
  /// which only an update cycle publishes.  Made by process_prepare.
  std::vector<uint32_t> begin_ports;
  std::vector<uint32_t> end_ports;
  std::vector<uint32_t> control_outputs;
  uint32_t latency_port; ///< The control output reporting latency; UINT32_MAX: none
  ZixSem paused;         ///< Posted when a requested pause has taken effect
  std::atomic<uint32_t> run_state;
  /// Whether anything on the UI side reads the plugin's MIDI output (its
  /// own UI, the dump): otherwise MIDI stays off process_ring.
  std::atomic<bool> ui_reads_midi;
  uint32_t control_input_index; ///< UINT32_MAX when there is none
  uint32_t num_ports;
  uint32_t pending_frames; ///< Frames since control values were last sent
  uint32_t update_frames;  ///< Frames between two sendings; 0: never
  std::atomic<uint32_t> plugin_latency;
  uint32_t position;
  float bpm;
  bool rolling;
  bool trace;
  bool memory_unlocked; ///< A ring could not be locked into RAM
  /// The audio thread never prints: it counts the cycles whose pass over
  /// ui_ring failed and keeps the last failure, and the main thread reports
  /// them (with the trace option) through take_ui_pass_failures().
  std::atomic<uint32_t> ui_pass_failures;
  std::atomic<int> ui_pass_error;
};

/// Give a value-initialised state its starting values: paused, no control
/// input, a forge and the patch:Get request.
void process_state_init(ProcessState* state, const Urids* urids, UridMapper* mapper, bool trace);

/// Make or remake the event buffers and the rings (once) for the present
/// settings, and connect the event ports.  Runs before
/// activation or in the backend's buffer-size callback.  Returns 0, or 1
/// when memory ran out; nothing is then written through a missing buffer.
int process_prepare(ProcessState* state, const Urids* urids, LilvInstance* instance,
                    const HostSettings* settings);

/// Connect a port whose buffer the process state itself provides without
/// an event buffer: a control port to its element of control_values, and a
/// port of unknown kind or direction to nothing.  Returns true when the port
/// was one of these; audio and CV ports are the backend's, event ports are
/// connected by process_prepare.
bool process_connect_port(ProcessState* state, uint32_t index);

/// Apply every message that was in ui_ring when the pass began.
BEXO_REALTIME int apply_ui_messages(ProcessState* state, uint32_t nframes);

/// One running cycle.  Returns a ProcessStatus: 0, 1 when control values
/// are due for the UI side, or the error of the UI pass, which is also
/// recorded for the main thread.
BEXO_REALTIME int process_run(ProcessState* state, uint32_t nframes);

/// One paused cycle: only the UI pass, so that a resume can arrive.
BEXO_REALTIME void process_paused(ProcessState* state, uint32_t nframes);

/// The number of cycles whose UI pass failed since the last call, and in
/// `last_error` the ProcessStatus of the latest failure.  Main thread.
uint32_t take_ui_pass_failures(ProcessState* state, int* last_error);

/// Free the event buffers, disconnecting event ports.
void process_release_buffers(ProcessState* state);

/// Free everything the state owns.
void process_free(ProcessState* state);
