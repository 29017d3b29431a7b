#include "jack/process_callback.hpp"

#include "engine/event_buffer.hpp"
#include "engine/message.hpp"
#include "engine/process.hpp"
#include "jack/backend.hpp"

#include <cstring>
#include <jack/midiport.h>
#include <jack/transport.h>
#include <lv2/atom/forge.h>

namespace {

// Largest latency taken from the plugin as it stands; anything outside is 0.
constexpr float max_latency = 16777216.0f;

BEXO_REALTIME float* audio_buffer(const ProcessPort& port, jack_nframes_t nframes) {
  return static_cast<float*>(
      jack_port_get_buffer(static_cast<jack_port_t*>(port.jack_port), nframes));
}

// Outputs silence and lets only ui_ring through, so that a resume arrives.
BEXO_REALTIME void silent_cycle(ProcessState* process, jack_nframes_t nframes) {
  for (uint32_t i = 0; i < process->num_ports; ++i) {
    const ProcessPort& port = process->ports[i];
    if (!port.jack_port || port.flow != FLOW_OUTPUT) {
      continue;
    }
    void* buffer = jack_port_get_buffer(static_cast<jack_port_t*>(port.jack_port), nframes);
    if (port.type == TYPE_EVENT) {
      jack_midi_clear_buffer(buffer);
    } else {
      std::memset(buffer, 0, nframes * sizeof(float));
    }
  }
  process_paused(process, nframes);
}

struct Transport {
  jack_position_t pos;
  bool rolling;
  bool has_bbt;
  bool changed;
};

// Queries the transport and compares it with what the last cycle stored.
BEXO_REALTIME Transport query_transport(Backend* backend, ProcessState* process,
                                        jack_nframes_t nframes) {
  Transport t{};
  const jack_transport_state_t state = jack_transport_query(backend->client, &t.pos);
  t.rolling = state == JackTransportRolling;
  t.has_bbt = (t.pos.valid & JackPositionBBT) != 0;
  // A NaN tempo compares unequal, so it counts as a change.
  t.changed = t.rolling != process->rolling || t.pos.frame != process->position ||
              (t.has_bbt && t.pos.beats_per_minute != static_cast<double>(process->bpm));

  process->position = t.rolling ? t.pos.frame + nframes : t.pos.frame;
  process->rolling = t.rolling;
  if (t.has_bbt) {
    process->bpm = static_cast<float>(t.pos.beats_per_minute);
  }
  return t;
}

BEXO_REALTIME const LV2_Atom* forge_position(LV2_Atom_Forge* forge, const Urids* urids,
                                             const Transport& t, void* buffer, uint32_t size) {
  const jack_position_t& pos = t.pos;
  lv2_atom_forge_set_buffer(forge, static_cast<uint8_t*>(buffer), size);
  LV2_Atom_Forge_Frame frame;
  auto* atom = reinterpret_cast<LV2_Atom*>(buffer);
  lv2_atom_forge_object(forge, &frame, 0, urids->time_Position);
  lv2_atom_forge_key(forge, urids->time_frame);
  lv2_atom_forge_long(forge, static_cast<int64_t>(static_cast<uint64_t>(pos.frame)));
  lv2_atom_forge_key(forge, urids->time_speed);
  lv2_atom_forge_float(forge, t.rolling ? 1.0f : 0.0f);
  if (t.has_bbt) {
    const double bar_beat = (pos.beat - 1) + pos.tick / pos.ticks_per_beat;
    lv2_atom_forge_key(forge, urids->time_barBeat);
    lv2_atom_forge_float(forge, static_cast<float>(bar_beat));
    lv2_atom_forge_key(forge, urids->time_bar);
    lv2_atom_forge_long(forge, pos.bar - 1);
    lv2_atom_forge_key(forge, urids->time_beatUnit);
    lv2_atom_forge_int(forge, static_cast<int32_t>(pos.beat_type));
    lv2_atom_forge_key(forge, urids->time_beatsPerBar);
    lv2_atom_forge_float(forge, pos.beats_per_bar);
    lv2_atom_forge_key(forge, urids->time_beatsPerMinute);
    lv2_atom_forge_float(forge, static_cast<float>(pos.beats_per_minute));
  }
  lv2_atom_forge_pop(forge, &frame);
  return atom;
}

BEXO_REALTIME void fill_event_input(Backend* backend, const ProcessPort& port,
                                    const LV2_Atom* position, jack_nframes_t nframes) {
  // Events left by paused cycles (a request sent during a restore, say)
  // stay, moved to the start; this cycle's events follow them.
  event_buffer_retime_to_start(port.event_buffer);
  EventBufferIterator iter = event_buffer_end(port.event_buffer);
  if (position && port.supports_pos) {
    event_iter_write(&iter, 0, 0, position->type, position->size, position + 1);
  }
  if (!port.jack_port) {
    return;
  }
  void* midi = jack_port_get_buffer(static_cast<jack_port_t*>(port.jack_port), nframes);
  const uint32_t count = jack_midi_get_event_count(midi);
  for (uint32_t e = 0; e < count; ++e) {
    jack_midi_event_t event{};
    if (jack_midi_event_get(&event, midi, e) == 0) {
      // A refused event leaves the iterator where it was: later, smaller
      // events are still tried.
      event_iter_write(&iter, event.time, 0, backend->urids->midi_MidiEvent,
                       static_cast<uint32_t>(event.size), event.buffer);
    }
  }
}

BEXO_REALTIME uint32_t latency_frames(float value) {
  return value >= 0.0f && value <= max_latency ? static_cast<uint32_t>(value) : 0U;
}

BEXO_REALTIME void send_event_output(Backend* backend, ProcessState* process, uint32_t index,
                                     jack_nframes_t nframes) {
  const ProcessPort& port = process->ports[index];
  void* midi = nullptr;
  if (port.jack_port) {
    midi = jack_port_get_buffer(static_cast<jack_port_t*>(port.jack_port), nframes);
    jack_midi_clear_buffer(midi);
  }
  if (!port.event_buffer) {
    return;
  }
  for (EventBufferIterator i = event_buffer_first(port.event_buffer); event_iter_valid(i);
       i = event_iter_next(i)) {
    uint32_t frames = 0;
    uint32_t subframes = 0;
    uint32_t type = 0;
    uint32_t size = 0;
    const void* data = nullptr;
    event_iter_get(i, &frames, &subframes, &type, &size, &data);
    if (midi && type == backend->urids->midi_MidiEvent) {
      jack_midi_event_write(midi, frames, static_cast<const jack_midi_data_t*>(data), size);
    }
    ring_write_event(process->process_ring, index, size, type, data);
  }
}

} // namespace

int process_callback(jack_nframes_t nframes, void* data) {
  auto* backend = static_cast<Backend*>(data);
  ProcessState* process = backend->process;

  // A stand-in that could not be made as long as this cycle would leave a
  // plugin port pointing at too short a buffer: the plugin does not run.
  const bool stand_ins_short = backend->needs_stand_ins && nframes > backend->stand_in_frames;
  if (process->run_state.load() == PAUSED || stand_ins_short) {
    silent_cycle(process, nframes);
    return 0;
  }
  if (backend->needs_stand_ins) {
    // Inputs must read silence whatever a plugin may have written there.
    std::memset(backend->silence, 0, nframes * sizeof(float));
  }

  const Transport transport = query_transport(backend, process, nframes);
  alignas(8) uint8_t position_buffer[512];
  const LV2_Atom* position = nullptr;
  if (transport.changed) {
    position = forge_position(&process->forge, backend->urids, transport, position_buffer,
                              sizeof(position_buffer));
  }

  LilvInstance* instance = process->instance;
  for (uint32_t i = 0; i < process->num_ports; ++i) {
    ProcessPort& port = process->ports[i];
    if ((port.type == TYPE_AUDIO || port.type == TYPE_CV) && port.jack_port) {
      lilv_instance_connect_port(instance, i, audio_buffer(port, nframes));
    } else if (port.type == TYPE_EVENT && port.flow == FLOW_INPUT && port.event_buffer) {
      fill_event_input(backend, port, position, nframes);
    } else if (port.type == TYPE_EVENT && port.flow == FLOW_OUTPUT && port.event_buffer) {
      event_buffer_reset(port.event_buffer, false);
    } else if (port.is_bpm && transport.changed && transport.has_bbt) {
      process->control_values[i] = process->bpm;
      ring_write_control(process->process_ring, i, process->bpm);
    }
  }

  const int status = process_run(process, nframes);

  for (uint32_t i = 0; i < process->num_ports; ++i) {
    ProcessPort& port = process->ports[i];
    if (port.type == TYPE_EVENT && port.flow == FLOW_INPUT && port.event_buffer) {
      event_buffer_reset(port.event_buffer, true);
    } else if (port.type == TYPE_CONTROL && port.flow == FLOW_OUTPUT && port.reports_latency) {
      const uint32_t latency = latency_frames(process->control_values[i]);
      if (latency != process->plugin_latency.load()) {
        process->plugin_latency.store(latency);
        const MessageHeader header{LATENCY_CHANGE, sizeof(float)};
        const auto value = static_cast<float>(latency);
        ring_write_message(process->process_ring, &header, sizeof(header), &value, sizeof(value));
      }
    } else if (port.type == TYPE_CONTROL && port.flow == FLOW_OUTPUT) {
      if (status == PROCESS_SEND_UPDATES) {
        ring_write_control(process->process_ring, i, process->control_values[i]);
      }
    } else if (port.type == TYPE_EVENT && port.flow == FLOW_OUTPUT) {
      send_event_output(backend, process, i, nframes);
    }
  }

  if (process->run_state.load() == PAUSED) {
    zix_sem_post(&process->paused);
  }
  return 0;
}
