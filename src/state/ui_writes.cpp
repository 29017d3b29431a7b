#include "state/ui_writes.hpp"

#include "engine/message.hpp"
#include "state/state_host.hpp"

#include <new>
#include <zix/ring.h>

namespace {

// The waiting values are made on first need, on the main thread, so that
// a host whose ring never fills never makes them.
bool have_backlog(StateHost* host) {
  UiWrites& writes = host->ui_writes;
  if (writes.waiting.size() == host->num_ports) {
    return true;
  }
  try {
    writes.waiting.assign(host->num_ports, 0);
    writes.values.assign(host->num_ports, 0.0f);
  } catch (const std::bad_alloc&) {
    writes.waiting.clear();
    writes.values.clear();
    return false;
  }
  writes.num_waiting = 0;
  return true;
}

bool write_control(StateHost* host, uint32_t port_index, float value) {
  if (ring_write_control(host->process.ui_ring, port_index, value)) {
    return false;
  }
  ++host->ui_writes.sent;
  return true;
}

} // namespace

ZixStatus send_control_change(StateHost* host, uint32_t port_index, float value) {
  UiWrites& writes = host->ui_writes;
  if (port_index >= host->num_ports) {
    return ZIX_STATUS_BAD_ARG;
  }
  // The older values go first; while any still waits there is no room.
  if (writes.num_waiting) {
    send_waiting_controls(host);
  }
  if (!writes.num_waiting && write_control(host, port_index, value)) {
    return ZIX_STATUS_SUCCESS;
  }
  if (!have_backlog(host)) {
    return ZIX_STATUS_NO_MEM;
  }
  if (!writes.waiting[port_index]) {
    writes.waiting[port_index] = 1;
    ++writes.num_waiting;
  }
  writes.values[port_index] = value;
  ++writes.coalesced;
  return ZIX_STATUS_SUCCESS;
}

ZixStatus send_event(StateHost* host, uint32_t port_index, uint32_t size, uint32_t type,
                     const void* body) {
  if (const ZixStatus status =
          ring_write_event(host->process.ui_ring, port_index, size, type, body)) {
    ++host->ui_writes.refused;
    ++host->ui_writes.unreported;
    return status;
  }
  ++host->ui_writes.sent;
  return ZIX_STATUS_SUCCESS;
}

bool event_fits_ring(const StateHost* host, uint32_t size) {
  return uint64_t{event_message_prefix_size} + size <= zix_ring_capacity(host->process.ui_ring);
}

void forget_waiting_control(StateHost* host, uint32_t port_index) {
  UiWrites& writes = host->ui_writes;
  if (port_index < writes.waiting.size() && writes.waiting[port_index]) {
    writes.waiting[port_index] = 0;
    --writes.num_waiting;
  }
}

void send_waiting_controls(StateHost* host) {
  UiWrites& writes = host->ui_writes;
  for (uint32_t i = 0; writes.num_waiting && i < writes.waiting.size(); ++i) {
    if (writes.waiting[i]) {
      if (!write_control(host, i, writes.values[i])) {
        return; // no more room; the rest waits for the next update
      }
      writes.waiting[i] = 0;
      --writes.num_waiting;
    }
  }
}

void report_lost_events(StateHost* host) {
  UiWrites& writes = host->ui_writes;
  if (writes.unreported == 1) {
    host_log(&host->log, LOG_LEVEL_WARNING, "%s",
             "Lost 1 event from the UI to the plugin: no room in the ring");
  } else if (writes.unreported > 1) {
    host_log(&host->log, LOG_LEVEL_WARNING,
             "Lost %u events from the UI to the plugin: no room in the ring", writes.unreported);
  }
  writes.unreported = 0;
}
