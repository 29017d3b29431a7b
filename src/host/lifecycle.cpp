#include "host/lifecycle.hpp"

#include "engine/process.hpp"
#include "engine/worker.hpp"
#include "host/host.hpp"
#include "host/session.hpp"
#include "host/signals.hpp"
#include "state/atom_dumper.hpp"
#include "state/control.hpp"

#include <cstdlib>
#include <filesystem>
#include <suil/suil.h>
#include <system_error>
#include <zix/allocator.h>
#include <zix/filesystem.h>

void host_init_args(Host* host, int argc, char** argv) {
  host->argc = argc;
  host->argv = argv;
  host->executable = argc > 0 ? argv[0] : nullptr;
  suil_init(&host->argc, &host->argv, SUIL_ARG_NONE);
  zix_sem_init(&host->quit_sem, 0);
}

int host_activate(Host* host) {
  if (host->process.worker) {
    if (const int status = worker_start(host->process.worker)) {
      host_log(&host->log, LOG_LEVEL_ERROR, "Failed to start the worker thread (%s)",
               zix_strerror(static_cast<ZixStatus>(status)));
      return 1;
    }
  }
  lilv_instance_activate(host->process.instance);
  host->active = true;
  if (audio_backend_start(&host->audio)) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to activate the audio client");
    // Nothing stays started, so a later activation starts from scratch.
    host_deactivate(host);
    return 1;
  }
  host->process.run_state.store(RUNNING);
  return 0;
}

int host_deactivate(Host* host) {
  audio_backend_stop(&host->audio);
  // The plugin's deactivate must follow an activate, once.
  if (host->process.instance && host->active) {
    lilv_instance_deactivate(host->process.instance);
  }
  host->active = false;
  worker_stop(host->process.worker);
  host->process.run_state.store(PAUSED);
  return 0;
}

namespace {

// The plugin's files go first: zix_remove only removes an empty directory.
void remove_scratch_dir(Host* host) {
  if (!host->scratch_dir) {
    return;
  }
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(host->scratch_dir, ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
  if (const ZixStatus status = zix_remove(host->scratch_dir)) {
    host_log(&host->log, LOG_LEVEL_WARNING, "Failed to remove scratch directory %s (%s)",
             host->scratch_dir, zix_strerror(status));
  }
  zix_free(nullptr, host->scratch_dir);
  host->scratch_dir = nullptr;
}

// The plugin and what is connected to it, in the order it must go.
void release_plugin(Host* host) {
  process_release_buffers(&host->process);
  audio_backend_close(&host->audio);
  if (host->ui_instance) {
    suil_instance_free(host->ui_instance);
    host->ui_instance = nullptr;
  }
  if (host->process.instance) {
    lilv_instance_free(host->process.instance);
    host->process.instance = nullptr;
  }
  lilv_state_free(host->preset);
  host->preset = nullptr;
  lilv_node_free(host->plugin_name);
  host->plugin_name = nullptr;
  host->ports.clear();
}

void release_process_state(Host* host) {
  // The process state is made while the plugin is opened; an open that
  // failed before leaves nothing of it, not even its semaphore.
  if (host->process.urids) {
    process_free(&host->process);
  }
  host->process.ports.clear();
  zix_aligned_free(nullptr, host->ui_read_buf);
  host->ui_read_buf = nullptr;
  host->process.control_values.clear();
}

void release_world(Host* host) {
  free_nodes(&host->nodes);
  if (host->ui_host) {
    suil_host_free(host->ui_host);
    host->ui_host = nullptr;
  }
  free_controls(&host->controls);
  atom_dumper_free(host->atom_dumper);
  host->atom_dumper = nullptr;
  if (host->uis) {
    lilv_uis_free(host->uis);
    host->uis = nullptr;
  }
  urid_mapper_free(host->urid_mapper);
  host->urid_mapper = nullptr;
  if (host->world) {
    lilv_world_free(host->world);
    host->world = nullptr;
    zix_sem_destroy(&host->worker_lock);
  }
}

} // namespace

int host_close(Host* host) {
  host_deactivate(host);
  leave_session(host);
  release_plugin(host);
  release_process_state(host);
  release_world(host);

  // A signal arriving from now on must not post a destroyed semaphore.
  set_quit_semaphore(nullptr);
  zix_sem_destroy(&host->quit_sem);
  remove_scratch_dir(host);

  host->features.feature_list = {};
  std::free(host->options.jack_name);
  host->options.jack_name = nullptr;
  std::free(host->options.controls);
  host->options.controls = nullptr;
  return 0;
}
