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

static_assert(sizeof(EventPrefix) == event_message_prefix_size);
static_assert(sizeof(ControlMessage) == 16);

} // namespace

ZixStatus ring_write_message(ZixRing* ring, const void* first, uint32_t first_size,
                             const void* second, uint32_t second_size) {
  ZixRingTransaction tx = zix_ring_begin_write(ring);
  // zix says ZIX_STATUS_NO_MEM for a ring without room; every writer here
  // says ZIX_STATUS_NO_SPACE, whose text tells the user what happened.
  if (zix_ring_amend_write(ring, &tx, first, first_size) ||
      zix_ring_amend_write(ring, &tx, second, second_size)) {
    return ZIX_STATUS_NO_SPACE;
  }
  return zix_ring_commit_write(ring, &tx);
}

ZixStatus ring_write_event(ZixRing* ring, uint32_t port_index, uint32_t atom_size,
                           uint32_t atom_type, const void* body) {
  const EventPrefix prefix{{EVENT_TRANSFER, 12U + atom_size}, port_index, atom_size, atom_type};
  return ring_write_message(ring, &prefix, sizeof(prefix), body, atom_size);
}

ZixStatus ring_write_control(ZixRing* ring, uint32_t port_index, float value) {
  const ControlMessage message{{CONTROL_CHANGE, sizeof(ControlChange)}, {port_index, value}};
  // zix_ring_write writes all of the message or nothing.
  return zix_ring_write(ring, &message, sizeof(message)) == sizeof(message) ? ZIX_STATUS_SUCCESS
                                                                            : ZIX_STATUS_NO_SPACE;
}

ZixStatus ring_write_run_state(ZixRing* ring, uint32_t run_state) {
  const MessageHeader header{RUN_STATE_CHANGE, sizeof(run_state)};
  return ring_write_message(ring, &header, sizeof(header), &run_state, sizeof(run_state));
}

ZixStatus ring_write_update_request(ZixRing* ring) {
  const MessageHeader header{UPDATE_REQUEST, 0};
  return ring_write_message(ring, &header, sizeof(header), nullptr, 0);
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
