#include "engine/process.hpp"

#include "base/urid_mapper.hpp"
#include "engine/event_buffer.hpp"
#include "engine/message.hpp"

#include <algorithm>
#include <new>

namespace {

// The prefix of an event message body: the port, then the atom header.
struct EventPrefix {
  uint32_t port_index;
  LV2_Atom atom;
};

ZixRing* make_ring(uint32_t size, bool* unlocked) {
  ZixRing* ring = zix_ring_new(nullptr, size);
  if (ring && zix_ring_mlock(ring)) {
    *unlocked = true;
  }
  return ring;
}

EventBuffer* port_buffer(ProcessState* state, uint32_t index) {
  return index < state->num_ports ? state->ports[index].event_buffer : nullptr;
}

BEXO_REALTIME void append_event(EventBuffer* buffer, uint32_t nframes, const LV2_Atom* atom) {
  if (buffer) {
    EventBufferIterator end = event_buffer_end(buffer);
    event_iter_write(&end, nframes, 0, atom->type, atom->size, atom + 1);
  }
}

// A message's header with as much of its body as any fixed type or an
// event's prefix needs, peeked in one copy: the body then goes straight to
// where it is used, and the ring only moves on.
struct PeekedMessage {
  MessageHeader header;
  union {
    ControlChange control;
    uint32_t run_state;
    EventPrefix event;
  };
};

// Moves past the whole message; `error` when the ring holds less than its
// header announced, and then only the header is gone, as a reader that
// cannot tell where the next message starts can do no better.
BEXO_REALTIME int skip_message(ZixRing* ring, const MessageHeader& header, int error) {
  const uint64_t whole = uint64_t{sizeof(MessageHeader)} + header.size;
  if (whole <= UINT32_MAX && zix_ring_skip(ring, static_cast<uint32_t>(whole)) == whole) {
    return PROCESS_SUCCESS;
  }
  zix_ring_skip(ring, sizeof(MessageHeader));
  return error;
}

// The fixed-size body of a peeked message, when its header gives that size
// and the peek holds it; any other size is skipped whole, so that the ring
// stays in step with what its headers say.
bool has_fixed_body(const PeekedMessage& m, uint32_t peeked, uint32_t size) {
  return m.header.size == size && peeked >= sizeof(MessageHeader) + size;
}

// Appends a peeked event message's atom to its port, reading the body from
// the ring straight into the event buffer.  An atom that claims more than
// the body holds, a port without a buffer or an event that does not fit
// there is skipped whole.
BEXO_REALTIME int apply_event(ProcessState* state, const PeekedMessage& m, uint32_t peeked,
                              uint32_t nframes) {
  constexpr uint32_t prefix_end = sizeof(MessageHeader) + sizeof(EventPrefix);
  const uint32_t size = m.header.size;
  const LV2_Atom atom = m.event.atom;
  if (zix_ring_read_space(state->ui_ring) - sizeof(MessageHeader) < size) {
    return skip_message(state->ui_ring, m.header, PROCESS_ERR_EVENT);
  }
  EventBuffer* buffer = nullptr;
  if (peeked >= prefix_end && size >= sizeof(EventPrefix) &&
      atom.size <= size - sizeof(EventPrefix)) {
    buffer = port_buffer(state, m.event.port_index);
  }
  EventBufferIterator end{};
  void* body = nullptr;
  if (buffer) {
    end = event_buffer_end(buffer);
    body = event_iter_reserve(&end, nframes, atom.type, atom.size);
  }
  if (!body) {
    return skip_message(state->ui_ring, m.header, PROCESS_ERR_EVENT);
  }
  zix_ring_skip(state->ui_ring, prefix_end);
  if (atom.size) {
    zix_ring_read(state->ui_ring, body, atom.size);
  }
  const uint32_t rest = size - sizeof(EventPrefix) - atom.size;
  if (rest) {
    zix_ring_skip(state->ui_ring, rest);
  }
  return PROCESS_SUCCESS;
}

BEXO_REALTIME int apply_message(ProcessState* state, const PeekedMessage& m, uint32_t peeked,
                                uint32_t nframes, bool paused_cycle) {
  ZixRing* ring = state->ui_ring;
  switch (m.header.type) {
  case CONTROL_CHANGE:
    if (has_fixed_body(m, peeked, sizeof(ControlChange)) &&
        m.control.port_index < state->num_ports) {
      state->control_values[m.control.port_index] = m.control.value;
    }
    return skip_message(ring, m.header, PROCESS_ERR_CONTROL);
  case EVENT_TRANSFER:
    return apply_event(state, m, peeked, nframes);
  case UPDATE_REQUEST:
    if (has_fixed_body(m, peeked, 0)) {
      append_event(port_buffer(state, state->control_input_index), nframes,
                   &state->get_request.atom);
    }
    return skip_message(ring, m.header, PROCESS_ERR_HEADER);
  case RUN_STATE_CHANGE:
    if (has_fixed_body(m, peeked, sizeof(uint32_t))) {
      state->run_state.store(m.run_state);
      // In a running cycle the backend acknowledges once the cycle is over.
      if (paused_cycle && m.run_state == PAUSED) {
        zix_sem_post(&state->paused);
      }
    }
    return skip_message(ring, m.header, PROCESS_ERR_RUN_STATE);
  default:
    // Its body's size may be a lie too: only the header is known to be one.
    zix_ring_skip(ring, sizeof(MessageHeader));
    return PROCESS_ERR_MESSAGE_TYPE;
  }
}

BEXO_REALTIME int apply_messages(ProcessState* state, uint32_t nframes, bool paused_cycle) {
  const uint32_t space = zix_ring_read_space(state->ui_ring);
  int status = PROCESS_SUCCESS;
  for (uint32_t consumed = 0; consumed < space && !status;) {
    // Not cleared: only what the peek filled is ever read (has_fixed_body,
    // the event's prefix check), and this runs for every message.
    PeekedMessage m;
    const uint32_t peeked = std::min<uint32_t>(space - consumed, sizeof(m));
    if (peeked < sizeof(MessageHeader) || zix_ring_peek(state->ui_ring, &m, peeked) != peeked) {
      return PROCESS_ERR_HEADER;
    }
    consumed += sizeof(MessageHeader) + m.header.size;
    status = apply_message(state, m, peeked, nframes, paused_cycle);
  }
  return status;
}

// The lists hold at most every port, so after the first call they never
// grow: a later prepare (in the backend's buffer-size callback) keeps them
// without allocating.  False when memory ran out.
bool index_cycle_ports(ProcessState* state) {
  try {
    state->begin_ports.reserve(state->num_ports);
    state->end_ports.reserve(state->num_ports);
    state->control_outputs.reserve(state->num_ports);
  } catch (const std::bad_alloc&) {
    return false;
  }
  state->begin_ports.clear();
  state->end_ports.clear();
  state->control_outputs.clear();
  state->latency_port = UINT32_MAX;
  for (uint32_t i = 0; i < state->num_ports; ++i) {
    const ProcessPort& port = state->ports[i];
    const bool event = port.type == TYPE_EVENT && port.event_buffer;
    if (event || port.is_bpm) {
      state->begin_ports.push_back(i);
    }
    if (event) {
      state->end_ports.push_back(i);
    } else if (port.reports_latency) {
      state->latency_port = i;
    } else if (port.type == TYPE_CONTROL && port.flow == FLOW_OUTPUT) {
      state->control_outputs.push_back(i);
    }
  }
  return true;
}

} // namespace

void process_state_init(ProcessState* state, const Urids* urids, UridMapper* mapper, bool trace) {
  state->urids = urids;
  lv2_atom_forge_init(&state->forge, urid_mapper_get_map(mapper));
  state->get_request.atom = {sizeof(LV2_Atom_Object_Body), urids->atom_Object};
  state->get_request.body = {0, urids->patch_Get};
  zix_sem_init(&state->paused, 0);
  state->run_state.store(PAUSED);
  state->control_input_index = UINT32_MAX;
  state->latency_port = UINT32_MAX;
  state->bpm = 120.0f;
  state->trace = trace;
}

int process_prepare(ProcessState* state, const Urids* urids, LilvInstance* instance,
                    const HostSettings* settings) {
  int status = 0;
  state->instance = instance;

  for (uint32_t i = 0; i < state->num_ports; ++i) {
    ProcessPort& port = state->ports[i];
    if (port.type != TYPE_EVENT) {
      continue;
    }
    const auto size =
        port.buf_size ? port.buf_size : static_cast<uint32_t>(settings->midi_buf_size);
    if (!port.event_buffer || event_buffer_capacity(port.event_buffer) != size) {
      event_buffer_free(port.event_buffer);
      port.event_buffer = event_buffer_new(size, urids->atom_Chunk, urids->atom_Sequence);
    }
    if (!port.event_buffer) {
      lilv_instance_connect_port(instance, i, nullptr);
      status = 1;
      continue;
    }
    event_buffer_reset(port.event_buffer, port.flow == FLOW_INPUT);
    lilv_instance_connect_port(instance, i, event_buffer_atom(port.event_buffer));
  }

  if (!state->ui_ring) {
    state->ui_ring = make_ring(settings->ring_size, &state->memory_unlocked);
  }
  if (!state->process_ring) {
    state->process_ring = make_ring(settings->ring_size, &state->memory_unlocked);
  }

  state->update_frames = static_cast<uint32_t>(settings->sample_rate / settings->ui_rate_hz);
  // Indexed whatever failed above, so that no cycle walks a port whose
  // buffer could not be made.
  const bool indexed = index_cycle_ports(state);
  const bool complete = state->ui_ring && state->process_ring;
  return complete && indexed ? status : 1;
}

bool process_connect_port(ProcessState* state, uint32_t index) {
  const ProcessPort& port = state->ports[index];
  if (port.flow == FLOW_UNKNOWN || port.type == TYPE_UNKNOWN) {
    lilv_instance_connect_port(state->instance, index, nullptr);
    return true;
  }
  if (port.type == TYPE_CONTROL) {
    lilv_instance_connect_port(state->instance, index, &state->control_values[index]);
    return true;
  }
  return false;
}

int apply_ui_messages(ProcessState* state, uint32_t nframes) {
  // Most cycles find nothing: they pay for one look at the ring.
  return zix_ring_read_space(state->ui_ring) ? apply_messages(state, nframes, false)
                                             : PROCESS_SUCCESS;
}

int process_run(ProcessState* state, uint32_t nframes) {
  int status = apply_ui_messages(state, nframes);
  if (status) {
    state->ui_pass_error.store(status, std::memory_order_relaxed);
    state->ui_pass_failures.fetch_add(1, std::memory_order_release);
  }

  lilv_instance_run(state->instance, nframes);

  LV2_Handle handle = lilv_instance_get_handle(state->instance);
  worker_deliver_replies(state->state_worker, handle);
  worker_deliver_replies(state->worker, handle);
  worker_cycle_end(state->worker);

  if (state->update_frames) {
    if (state->pending_frames + nframes > state->update_frames) {
      state->pending_frames = 0;
      if (status == PROCESS_SUCCESS) {
        status = PROCESS_SEND_UPDATES;
      }
    } else {
      state->pending_frames += nframes;
    }
  }
  return status;
}

void process_paused(ProcessState* state, uint32_t nframes) {
  apply_messages(state, nframes, true);
}

uint32_t take_ui_pass_failures(ProcessState* state, int* last_error) {
  const uint32_t failures = state->ui_pass_failures.exchange(0, std::memory_order_acquire);
  *last_error = state->ui_pass_error.load(std::memory_order_relaxed);
  return failures;
}

void process_release_buffers(ProcessState* state) {
  for (uint32_t i = 0; i < state->num_ports; ++i) {
    event_buffer_free(state->ports[i].event_buffer);
    state->ports[i].event_buffer = nullptr;
    if (state->instance) {
      lilv_instance_connect_port(state->instance, i, nullptr);
    }
  }
}

void process_free(ProcessState* state) {
  zix_sem_destroy(&state->paused);
  worker_destroy(state->worker);
  worker_destroy(state->state_worker);
  state->worker = state->state_worker = nullptr;
  zix_ring_free(state->ui_ring);
  zix_ring_free(state->process_ring);
  state->ui_ring = state->process_ring = nullptr;
  for (ProcessPort& port : state->ports) {
    process_port_free(&port);
  }
}
