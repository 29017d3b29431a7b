#include "engine/message.hpp"

namespace {

// The part of an event message that precedes the atom body.
struct EventPrefix {
  MessageHeader header;
  uint32_t port_index;
  uint32_t atom_size;
  uint32_t atom_type;
};

struct ControlMessage {
  MessageHeader header;
  ControlChange body;
};

static_assert(sizeof(EventPrefix) == 20);
static_assert(sizeof(ControlMessage) == 16);

} // namespace

ZixStatus ring_write_message(ZixRing* ring, const void* first, uint32_t first_size,
                             const void* second, uint32_t second_size) {
  ZixRingTransaction tx = zix_ring_begin_write(ring);
  if (const ZixStatus st = zix_ring_amend_write(ring, &tx, first, first_size)) {
    return st;
  }
  if (const ZixStatus st = zix_ring_amend_write(ring, &tx, second, second_size)) {
    return st;
  }
  return zix_ring_commit_write(ring, &tx);
}

ZixStatus ring_write_event(ZixRing* ring, uint32_t port_index, uint32_t atom_size,
                           uint32_t atom_type, const void* body) {
  const EventPrefix prefix{{EVENT_TRANSFER, 12U + atom_size}, port_index, atom_size, atom_type};
  return ring_write_message(ring, &prefix, sizeof(prefix), body, atom_size);
}

int ring_write_control(ZixRing* ring, uint32_t port_index, float value) {
  const ControlMessage message{{CONTROL_CHANGE, sizeof(ControlChange)}, {port_index, value}};
  return zix_ring_write(ring, &message, sizeof(message)) == sizeof(message) ? 0 : 1;
}

const char* process_status_string(int status) {
  switch (status) {
  case PROCESS_SUCCESS:
    return "Success";
  case PROCESS_SEND_UPDATES:
    return "Send updates";
  case PROCESS_ERR_HEADER:
    return "Failed to read header from UI ring";
  case PROCESS_ERR_CONTROL:
    return "Failed to read control value from UI ring";
  case PROCESS_ERR_EVENT:
    return "Failed to read event from UI ring";
  case PROCESS_ERR_RUN_STATE:
    return "Failed to read run state change from UI ring";
  case PROCESS_ERR_MESSAGE_TYPE:
    return "Unknown message type received from UI ring";
  default:
    return "Unknown error";
  }
}
