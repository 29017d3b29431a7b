#include "host/periodic_update.hpp"

#include "engine/message.hpp"
#include "engine/process.hpp"
#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/session.hpp"
#include "state/state.hpp"
#include "state/ui_writes.hpp"
#include "ui/ui_update.hpp"

#include <zix/sem.h>

namespace {

// The audio thread only counts failed passes over ui_ring; with the trace
// option they are reported here, once per update.
void report_ui_pass_failures(Host* host) {
  int last_error = 0;
  const uint32_t failures = take_ui_pass_failures(&host->process, &last_error);
  if (!failures || !host->process.trace) {
    return;
  }
  if (failures == 1) {
    host_log(&host->log, LOG_LEVEL_ERROR, "%s", process_status_string(last_error));
  } else {
    host_log(&host->log, LOG_LEVEL_ERROR, "%s (in %u cycles)", process_status_string(last_error),
             failures);
  }
}

} // namespace

int periodic_update(Host* host) {
  if (!host->world) {
    return 0;
  }
  if (zix_sem_try_wait(&host->quit_sem) == ZIX_STATUS_SUCCESS) {
    host->frontend->gui_close(host);
    return -1;
  }
  session_update(host);
  finish_abandoned_pause(host);
  send_waiting_controls(host);
  report_lost_events(host);
  report_ui_pass_failures(host);
  if (deliver_plugin_output(host)) {
    audio_backend_update_latencies(&host->audio);
  }
  return 1;
}
