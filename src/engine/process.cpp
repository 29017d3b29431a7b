#include "engine/process.hpp"

#include "base/urid_mapper.hpp"
#include "engine/event_buffer.hpp"
#include "engine/message.hpp"

#include <new>
#include <zix/allocator.h>

namespace {

constexpr uint32_t min_read_size = 1024;

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

// Reads one event message body and appends its atom.  A body larger than
// the read buffer, or an atom that claims more than the body holds, is
// skipped whole.
BEXO_REALTIME int apply_event(ProcessState* state, uint32_t size, uint32_t nframes) {
  if (size > state->process_read_buf_size) {
    return zix_ring_skip(state->ui_ring, size) == size ? PROCESS_SUCCESS : PROCESS_ERR_EVENT;
  }
  if (zix_ring_read(state->ui_ring, state->process_read_buf, size) != size) {
    return PROCESS_ERR_EVENT;
  }
  const auto* prefix = static_cast<const EventPrefix*>(state->process_read_buf);
  if (size >= sizeof(EventPrefix) && prefix->atom.size <= size - sizeof(EventPrefix)) {
    append_event(port_buffer(state, prefix->port_index), nframes, &prefix->atom);
  }
  return PROCESS_SUCCESS;
}

// Reads the body of a message whose type has a fixed size; true when it was
// read.  A body of any other size is skipped whole rather than read in
// part, so that the ring stays in step with what its headers say.  `error`
// goes to `*status` when the ring holds less than the header announced.
BEXO_REALTIME bool read_fixed_body(ZixRing* ring, uint32_t header_size, void* body, uint32_t size,
                                   int error, int* status) {
  if (header_size != size) {
    if (header_size && zix_ring_skip(ring, header_size) != header_size) {
      *status = error;
    }
    return false;
  }
  if (size && zix_ring_read(ring, body, size) != size) {
    *status = error;
    return false;
  }
  return true;
}

BEXO_REALTIME int apply_messages(ProcessState* state, uint32_t nframes, bool paused_cycle) {
  const uint32_t space = zix_ring_read_space(state->ui_ring);
  ZixRing* ring = state->ui_ring;
  int status = PROCESS_SUCCESS;
  for (uint32_t consumed = 0; consumed < space && !status;) {
    MessageHeader header{};
    if (zix_ring_read(ring, &header, sizeof(header)) != sizeof(header)) {
      return PROCESS_ERR_HEADER;
    }
    consumed += sizeof(header) + header.size;

    switch (header.type) {
    case CONTROL_CHANGE: {
      ControlChange change{};
      if (read_fixed_body(ring, header.size, &change, sizeof(change), PROCESS_ERR_CONTROL,
                          &status) &&
          change.port_index < state->num_ports) {
        state->control_values[change.port_index] = change.value;
      }
      break;
    }
    case EVENT_TRANSFER:
      status = apply_event(state, header.size, nframes);
      break;
    case UPDATE_REQUEST:
      if (read_fixed_body(ring, header.size, nullptr, 0, PROCESS_ERR_HEADER, &status)) {
        append_event(port_buffer(state, state->control_input_index), nframes,
                     &state->get_request.atom);
      }
      break;
    case RUN_STATE_CHANGE: {
      uint32_t run_state = 0;
      if (!read_fixed_body(ring, header.size, &run_state, sizeof(run_state), PROCESS_ERR_RUN_STATE,
                           &status)) {
        break;
      }
      state->run_state.store(run_state);
      // In a running cycle the backend acknowledges once the cycle is over.
      if (paused_cycle && run_state == PAUSED) {
        zix_sem_post(&state->paused);
      }
      break;
    }
    default:
      return PROCESS_ERR_MESSAGE_TYPE;
    }
  }
  return status;
}

// Both lists hold at most every port, so after the first call they never
// grow: a later prepare (in the backend's buffer-size callback) keeps them
// without allocating.  False when memory ran out.
bool index_cycle_ports(ProcessState* state) {
  try {
    state->begin_ports.reserve(state->num_ports);
    state->end_ports.reserve(state->num_ports);
  } catch (const std::bad_alloc&) {
    return false;
  }
  state->begin_ports.clear();
  state->end_ports.clear();
  for (uint32_t i = 0; i < state->num_ports; ++i) {
    const ProcessPort& port = state->ports[i];
    const bool event = port.type == TYPE_EVENT && port.event_buffer;
    if (event || port.is_bpm) {
      state->begin_ports.push_back(i);
    }
    if (event || (port.type == TYPE_CONTROL && port.flow == FLOW_OUTPUT)) {
      state->end_ports.push_back(i);
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
  state->bpm = 120.0f;
  state->trace = trace;
}

int process_prepare(ProcessState* state, const Urids* urids, LilvInstance* instance,
                    const HostSettings* settings) {
  int status = 0;
  state->instance = instance;

  uint32_t read_size = min_read_size;
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
    if (port.flow == FLOW_INPUT && size > read_size) {
      read_size = size;
    }
  }

  if (!state->ui_ring) {
    state->ui_ring = make_ring(settings->ring_size, &state->memory_unlocked);
  }
  if (!state->process_ring) {
    state->process_ring = make_ring(settings->ring_size, &state->memory_unlocked);
  }

  if (!state->process_read_buf || state->process_read_buf_size != read_size) {
    zix_aligned_free(nullptr, state->process_read_buf);
    state->process_read_buf = zix_aligned_alloc(nullptr, 8, read_size);
    state->process_read_buf_size = state->process_read_buf ? read_size : 0;
  }

  state->update_frames = static_cast<uint32_t>(settings->sample_rate / settings->ui_rate_hz);
  // Indexed whatever failed above, so that no cycle walks a port whose
  // buffer could not be made.
  const bool indexed = index_cycle_ports(state);
  const bool complete = state->ui_ring && state->process_ring && state->process_read_buf;
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
  return apply_messages(state, nframes, false);
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
  zix_aligned_free(nullptr, state->process_read_buf);
  state->process_read_buf = nullptr;
  state->process_read_buf_size = 0;
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
  zix_aligned_free(nullptr, state->process_read_buf);
  state->process_read_buf = nullptr;
  for (ProcessPort& port : state->ports) {
    process_port_free(&port);
  }
}
