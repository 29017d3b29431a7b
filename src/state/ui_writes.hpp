#pragma once

// What the UI side sends the plugin through ui_ring, with nothing lost
// silently when the ring is full: a control change then waits, only the
// latest value per port, until an update finds room for it, so the plugin
// always ends at the value set last; an event, which cannot be merged with
// the next, is refused and counted, and the count is logged.  Main thread
// only.

#include <cstdint>
#include <vector>
#include <zix/status.h>

struct StateHost;

struct UiWrites {
  // Counts since the host was opened.
  uint64_t sent;      ///< Control changes and events put into ui_ring.
  uint64_t coalesced; ///< Control changes that found no room and waited.
  uint64_t refused;   ///< Events that found no room and were dropped.

  uint32_t unreported;          ///< Refused events the log has not told of yet.
  uint32_t num_waiting;         ///< Ports with a value waiting.
  std::vector<uint8_t> waiting; ///< By port index: 1 while a value waits.
  std::vector<float> values;    ///< By port index: the value waiting.
};

/// Send a new value of a control port to the plugin, or keep it, in place
/// of any value still waiting for that port, until send_waiting_controls
/// finds room.  Returns ZIX_STATUS_SUCCESS in both cases,
/// ZIX_STATUS_BAD_ARG for a port that does not exist, or ZIX_STATUS_NO_MEM
/// when no memory to keep it could be had.
ZixStatus send_control_change(StateHost* host, uint32_t port_index, float value);

/// Send an event (an atom's size, type and body) to a port of the plugin.
/// Returns ZIX_STATUS_SUCCESS, or ZIX_STATUS_NO_SPACE when ui_ring had no
/// room: the event is then counted as refused, for report_lost_events.
ZixStatus send_event(StateHost* host, uint32_t port_index, uint32_t size, uint32_t type,
                     const void* body);

/// Whether an event with a body of `size` bytes fits into ui_ring at all,
/// when it is empty.
bool event_fits_ring(const StateHost* host, uint32_t size);

/// Drop the value waiting for a port, once the port was given a newer one
/// by another way (a restore while the plugin is paused).
void forget_waiting_control(StateHost* host, uint32_t port_index);

/// Send the waiting control values, in port order, as far as ui_ring has
/// room.  For the periodic update.
void send_waiting_controls(StateHost* host);

/// Log a warning with the number of events refused since the last report,
/// if any were.  For the periodic update, so that a flood is one line.
void report_lost_events(StateHost* host);
