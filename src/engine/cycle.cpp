#include "engine/cycle.hpp"

#include "engine/event_buffer.hpp"
#include "engine/message.hpp"

#include <lv2/atom/forge.h>

namespace {

// Compares the transport with what the last cycle stored, and stores it.
BEXO_REALTIME bool transport_changed(ProcessState* state, const Transport& t, uint32_t nframes) {
  // A NaN tempo compares unequal, so it counts as a change.
  const bool changed = t.rolling != state->rolling || t.frame != state->position ||
                       (t.has_bbt && t.beats_per_minute != static_cast<double>(state->bpm));
  state->position = t.rolling ? t.frame + nframes : t.frame;
  state->rolling = t.rolling;
  if (t.has_bbt) {
    state->bpm = static_cast<float>(t.beats_per_minute);
  }
  return changed;
}

BEXO_REALTIME const LV2_Atom* forge_position(LV2_Atom_Forge* forge, const Urids* urids,
                                             const Transport& t, void* buffer, uint32_t size) {
  lv2_atom_forge_set_buffer(forge, static_cast<uint8_t*>(buffer), size);
  LV2_Atom_Forge_Frame frame;
  lv2_atom_forge_object(forge, &frame, 0, urids->time_Position);
  lv2_atom_forge_key(forge, urids->time_frame);
  lv2_atom_forge_long(forge, static_cast<int64_t>(uint64_t{t.frame}));
  lv2_atom_forge_key(forge, urids->time_speed);
  lv2_atom_forge_float(forge, t.rolling ? 1.0f : 0.0f);
  if (t.has_bbt) {
    const double bar_beat = (t.beat - 1) + t.tick / t.ticks_per_beat;
    lv2_atom_forge_key(forge, urids->time_barBeat);
    lv2_atom_forge_float(forge, static_cast<float>(bar_beat));
    lv2_atom_forge_key(forge, urids->time_bar);
    lv2_atom_forge_long(forge, t.bar - 1);
    lv2_atom_forge_key(forge, urids->time_beatUnit);
    lv2_atom_forge_int(forge, static_cast<int32_t>(t.beat_type));
    lv2_atom_forge_key(forge, urids->time_beatsPerBar);
    lv2_atom_forge_float(forge, t.beats_per_bar);
    lv2_atom_forge_key(forge, urids->time_beatsPerMinute);
    lv2_atom_forge_float(forge, static_cast<float>(t.beats_per_minute));
  }
  lv2_atom_forge_pop(forge, &frame);
  return static_cast<const LV2_Atom*>(buffer);
}

// Events left by paused cycles (a request sent during a restore, say)
// stay, moved to the start; the position and the backend's events follow.
BEXO_REALTIME void begin_event_input(const ProcessPort& port, const LV2_Atom* position) {
  event_buffer_retime_to_start(port.event_buffer);
  if (position && port.supports_pos) {
    EventBufferIterator end = event_buffer_end(port.event_buffer);
    event_iter_write(&end, 0, 0, position->type, position->size, position + 1);
  }
}

BEXO_REALTIME void send_latency(ProcessState* state, float value) {
  const uint32_t latency = latency_frames(value);
  if (latency != state->plugin_latency.load()) {
    // Stored first: a message lost to a full ring is not repeated until
    // the latency changes again.
    state->plugin_latency.store(latency);
    const MessageHeader header{LATENCY_CHANGE, sizeof(float)};
    const auto frames = static_cast<float>(latency);
    ring_write_message(state->process_ring, &header, sizeof(header), &frames, sizeof(frames));
  }
}

BEXO_REALTIME void send_output_events(ProcessState* state, uint32_t index,
                                      const OutputEventSink* sink) {
  const ProcessPort& port = state->ports[index];
  // MIDI is the bulk of most output, and only a plugin UI or the dump
  // looks at it; everything else may carry state the UI side keeps.
  const bool midi_to_ui = state->ui_reads_midi.load(std::memory_order_relaxed);
  const uint32_t midi = state->urids->midi_MidiEvent;
  event_buffer_for_each(port.event_buffer,
                        [state, index, &port, sink, midi_to_ui,
                         midi](uint32_t frames, uint32_t type, uint32_t size, const void* data) {
                          if (sink) {
                            sink->event(sink->data, port, frames, type, size, data);
                          }
                          if (midi_to_ui || type != midi) {
                            ring_write_event(state->process_ring, index, size, type, data);
                          }
                        });
}

} // namespace

void process_cycle_begin(ProcessState* state, uint32_t nframes, const Transport* transport) {
  const bool changed = transport_changed(state, *transport, nframes);
  alignas(8) uint8_t position_buffer[512];
  const LV2_Atom* position = changed ? forge_position(&state->forge, state->urids, *transport,
                                                      position_buffer, sizeof(position_buffer))
                                     : nullptr;

  for (const uint32_t i : state->begin_ports) {
    const ProcessPort& port = state->ports[i];
    if (port.type == TYPE_EVENT) {
      if (port.flow == FLOW_INPUT) {
        begin_event_input(port, position);
      } else if (port.flow == FLOW_OUTPUT) {
        event_buffer_reset(port.event_buffer, false);
      }
    } else if (changed && transport->has_bbt) { // a tempo control
      state->control_values[i] = state->bpm;
      ring_write_control(state->process_ring, i, state->bpm);
    }
  }
}

void process_cycle_end(ProcessState* state, int status, const OutputEventSink* sink) {
  for (const uint32_t i : state->end_ports) {
    const ProcessPort& port = state->ports[i];
    if (port.flow == FLOW_INPUT) {
      event_buffer_reset(port.event_buffer, true);
    } else if (port.flow == FLOW_OUTPUT) {
      send_output_events(state, i, sink);
    }
  }
  if (state->latency_port != UINT32_MAX) {
    send_latency(state, state->control_values[state->latency_port]);
  }
  if (status == PROCESS_SEND_UPDATES) {
    for (const uint32_t i : state->control_outputs) {
      ring_write_control(state->process_ring, i, state->control_values[i]);
    }
  }
  // Last: once `paused` is posted the main thread may touch the plugin,
  // its buffers and process_ring.
  if (state->run_state.load() == PAUSED) {
    zix_sem_post(&state->paused);
  }
}

uint32_t latency_frames(float value) {
  return value >= 0.0f && value <= max_plugin_latency ? static_cast<uint32_t>(value) : 0U;
}
