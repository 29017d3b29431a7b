#pragma once

// Messages between the UI side and the audio thread.  Each is a header and
// a body of exactly `size` bytes, in native byte order without gaps, written
// to a zix ring so that the reader sees a whole message or nothing.
//
// Every writer returns a ZixStatus: ZIX_STATUS_SUCCESS when the whole
// message is in the ring, ZIX_STATUS_NO_SPACE (with nothing written) when
// the ring had too little room.

#include "engine/realtime.hpp"

#include <cstdint>
#include <zix/ring.h>
#include <zix/status.h>

enum MessageType : uint32_t {
  CONTROL_CHANGE = 1,   ///< port_index u32, value f32
  EVENT_TRANSFER = 2,   ///< port_index u32, then a whole atom (header and body)
  LATENCY_CHANGE = 3,   ///< latency f32, in frames
  UPDATE_REQUEST = 4,   ///< no body
  RUN_STATE_CHANGE = 5, ///< state u32 (a RunState)
};

struct MessageHeader {
  uint32_t type;
  uint32_t size; ///< Bytes of body that follow.
};

/// What an event message holds before the atom's body: the header, the
/// port index and the atom's size and type.
inline constexpr uint32_t event_message_prefix_size = sizeof(MessageHeader) + 3 * sizeof(uint32_t);

struct ControlChange {
  uint32_t port_index;
  float value;
};

/// What the audio thread's pass over the UI ring, and its run step, report.
enum ProcessStatus : int {
  PROCESS_SUCCESS = 0,
  PROCESS_SEND_UPDATES = 1,
  PROCESS_ERR_HEADER = 2,
  PROCESS_ERR_CONTROL = 3,
  PROCESS_ERR_EVENT = 4,
  PROCESS_ERR_RUN_STATE = 5,
  PROCESS_ERR_MESSAGE_TYPE = 6,
};

/// Write a message whose two parts lie in different places, in one ring
/// transaction: all of it becomes visible at once, or nothing does.
BEXO_REALTIME ZixStatus ring_write_message(ZixRing* ring, const void* first, uint32_t first_size,
                                           const void* second, uint32_t second_size);

/// Write an event message carrying the atom {atom_size, atom_type, body}.
BEXO_REALTIME ZixStatus ring_write_event(ZixRing* ring, uint32_t port_index, uint32_t atom_size,
                                         uint32_t atom_type, const void* body);

/// Write a 16-byte control message.
BEXO_REALTIME ZixStatus ring_write_control(ZixRing* ring, uint32_t port_index, float value);

/// Write a run-state message asking the audio thread to run or pause
/// (`run_state` is a RunState).
ZixStatus ring_write_run_state(ZixRing* ring, uint32_t run_state);

/// Write a request-update message: the plugin is to be asked for its
/// properties through its control input.
ZixStatus ring_write_update_request(ZixRing* ring);

/// The text of a process status ("Unknown error" for any other value).
const char* process_status_string(int status);
