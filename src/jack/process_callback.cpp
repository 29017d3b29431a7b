#include "jack/process_callback.hpp"

#include "engine/cycle.hpp"
#include "engine/event_buffer.hpp"
#include "jack/backend.hpp"

#include <algorithm>
#include <cstring>
#include <jack/midiport.h>
#include <jack/transport.h>

namespace {

BEXO_REALTIME void* port_buffer(const ProcessPort& port, jack_nframes_t nframes) {
  return jack_port_get_buffer(static_cast<jack_port_t*>(port.jack_port), nframes);
}

// Outputs silence and lets only ui_ring through, so that a resume arrives.
BEXO_REALTIME void silent_cycle(Backend* backend, jack_nframes_t nframes) {
  const ProcessState* process = backend->process;
  for (const uint32_t i : backend->audio_ports) {
    const ProcessPort& port = process->ports[i];
    if (port.flow == FLOW_OUTPUT) {
      std::memset(port_buffer(port, nframes), 0, nframes * sizeof(float));
    }
  }
  for (const uint32_t i : backend->midi_outputs) {
    jack_midi_clear_buffer(port_buffer(process->ports[i], nframes));
  }
  process_paused(backend->process, nframes);
}

BEXO_REALTIME Transport query_transport(jack_client_t* client) {
  // Not cleared first: JACK copies the whole position in, every cycle.
  jack_position_t pos;
  const jack_transport_state_t state = jack_transport_query(client, &pos);
  Transport t{};
  t.frame = pos.frame;
  t.rolling = state == JackTransportRolling;
  t.has_bbt = (pos.valid & JackPositionBBT) != 0;
  t.bar = pos.bar;
  t.beat = pos.beat;
  t.tick = pos.tick;
  t.ticks_per_beat = pos.ticks_per_beat;
  t.beats_per_bar = pos.beats_per_bar;
  t.beat_type = pos.beat_type;
  t.beats_per_minute = pos.beats_per_minute;
  return t;
}

BEXO_REALTIME void read_midi(Backend* backend, const ProcessPort& port, jack_nframes_t nframes) {
  void* midi = port_buffer(port, nframes);
  EventBufferIterator end = event_buffer_end(port.event_buffer);
  const uint32_t count = jack_midi_get_event_count(midi);
  for (uint32_t e = 0; e < count; ++e) {
    jack_midi_event_t event{};
    if (jack_midi_event_get(&event, midi, e) == 0) {
      // A refused event leaves the iterator where it was: later, smaller
      // events are still tried.
      event_iter_write(&end, event.time, 0, backend->urids->midi_MidiEvent,
                       static_cast<uint32_t>(event.size), event.buffer);
    }
  }
}

// What the output event sink needs: the backend, and the cycle's length.
struct MidiOut {
  const Backend* backend;
  jack_nframes_t nframes;
};

// The output event sink: MIDI goes to the port's JACK buffer of this cycle.
// JACK takes only times inside the cycle, while the engine puts what the UI
// sent at the cycle's end (nframes), where a plugin that echoes it keeps it:
// such an event goes out at the cycle's last frame.
BEXO_REALTIME void write_midi(void* data, const ProcessPort& port, uint32_t frames, uint32_t type,
                              uint32_t size, const void* body) {
  const auto* out = static_cast<const MidiOut*>(data);
  if (port.backend_buffer && type == out->backend->urids->midi_MidiEvent && out->nframes) {
    jack_midi_event_write(port.backend_buffer, std::min(frames, out->nframes - 1),
                          static_cast<const jack_midi_data_t*>(body), size);
  }
}

// This cycle's JACK buffers, which may differ from the last cycle's: audio
// and CV connected, MIDI read into the event inputs (after what the engine
// put there), MIDI outputs emptied for what the plugin will write.
BEXO_REALTIME void take_buffers(Backend* backend, ProcessState* process, jack_nframes_t nframes) {
  for (const uint32_t i : backend->audio_ports) {
    lilv_instance_connect_port(process->instance, i, port_buffer(process->ports[i], nframes));
  }
  for (const uint32_t i : backend->midi_inputs) {
    const ProcessPort& port = process->ports[i];
    if (port.event_buffer) {
      read_midi(backend, port, nframes);
    }
  }
  for (const uint32_t i : backend->midi_outputs) {
    ProcessPort& port = process->ports[i];
    port.backend_buffer = port_buffer(port, nframes);
    jack_midi_clear_buffer(port.backend_buffer);
  }
}

} // namespace

int process_callback(jack_nframes_t nframes, void* data) {
  auto* backend = static_cast<Backend*>(data);
  ProcessState* process = backend->process;

  // A stand-in that could not be made as long as this cycle, or an event
  // buffer that could not be made, would leave a plugin port pointing at too
  // short a buffer or at none: the plugin does not run.
  const bool stand_ins_short = backend->needs_stand_ins && nframes > backend->stand_in_frames;
  if (process->run_state.load() == PAUSED || stand_ins_short || backend->buffers_missing) {
    silent_cycle(backend, nframes);
    return 0;
  }
  if (backend->needs_stand_ins) {
    // Inputs must read silence whatever a plugin may have written there.
    std::memset(backend->silence, 0, nframes * sizeof(float));
  }

  const Transport transport = query_transport(backend->client);
  process_cycle_begin(process, nframes, &transport);
  take_buffers(backend, process, nframes);
  const int status = process_run(process, nframes);
  MidiOut out{backend, nframes};
  const OutputEventSink midi_out{write_midi, &out};
  process_cycle_end(process, status, &midi_out);
  return 0;
}
