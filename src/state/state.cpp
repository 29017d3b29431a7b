#include "state/state.hpp"

#include "engine/message.hpp"
#include "state/state_host.hpp"
#include "state/ui_writes.hpp"

#include <filesystem>
#include <memory>
#include <system_error>
#include <zix/allocator.h>
#include <zix/filesystem.h>
#include <zix/path.h>
#include <zix/sem.h>
#include <zix/status.h>

namespace {

struct ZixStringDeleter {
  void operator()(char* string) const { zix_free(nullptr, string); }
};
using ZixStringPtr = std::unique_ptr<char, ZixStringDeleter>;

// Makes the directories between the scratch directory and a file in it.
void make_leading_directories(const char* file) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
}

// A cycle lasts one period, a third of a second at the very most, so a
// pause unanswered for this long means the audio server runs no cycles.
constexpr uint32_t pause_timeout_seconds = 3;

// Asks the audio thread to pause and waits, for a bounded time, until it
// has.  A pause given up on stays in ui_ring; it is settled once the server
// runs again (finish_abandoned_pause), or awaited by the next restore.
bool pause_for_restore(StateHost* host) {
  ProcessState* process = &host->process;
  if (!host->pause_pending) {
    // Without the pause message in the ring no cycle would ever post
    // `paused`: restoring would then either hang or race the plugin.
    if (const ZixStatus status = ring_write_run_state(process->ui_ring, PAUSED)) {
      host_log(&host->log, LOG_LEVEL_ERROR, "Failed to pause the plugin to restore state (%s)",
               zix_strerror(status));
      return false;
    }
  }
  host->pause_pending =
      zix_sem_timed_wait(&process->paused, pause_timeout_seconds, 0) != ZIX_STATUS_SUCCESS;
  if (host->pause_pending) {
    host_log(&host->log, LOG_LEVEL_ERROR,
             "Gave up restoring the state: the audio server ran no cycle for %u seconds",
             pause_timeout_seconds);
    return false;
  }
  return true;
}

} // namespace

const void* port_value_get(const char* port_symbol, void* data, uint32_t* size, uint32_t* type) {
  auto* host = static_cast<StateHost*>(data);
  const Port* port = find_port_by_symbol(host, port_symbol);
  if (port && port->type == TYPE_CONTROL && port->flow == FLOW_INPUT) {
    *size = sizeof(float);
    *type = host->forge.Float;
    return &host->process.control_values[port->index];
  }
  *size = 0;
  *type = 0;
  return nullptr;
}

void port_value_set(const char* port_symbol, void* data, const void* value, uint32_t size,
                    uint32_t type) {
  auto* host = static_cast<StateHost*>(data);
  const Port* port = find_port_by_symbol(host, port_symbol);
  if (!port) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Preset port `%s' is missing", port_symbol);
    return;
  }
  Control* control = find_control_by_symbol(&host->controls, port_symbol);
  if (!control) {
    host_log(&host->log, LOG_LEVEL_WARNING, "Ignoring preset value for `%s'", port_symbol);
    return;
  }

  const int stored = control_value_set(&control->value, size, type, value);
  ZixStatus status = ZIX_STATUS_SUCCESS;
  if (port->type != TYPE_CONTROL) {
    status = ZIX_STATUS_NOT_SUPPORTED;
  } else {
    ProcessState* process = &host->process;
    const auto v = static_cast<float>(control_value_to_double(&control->value, &host->forge));
    if (process->run_state.load() == PAUSED) {
      // No cycle runs the plugin or writes process_ring now: the value goes
      // straight into the port, and the UI side learns it from the ring.
      process->control_values[port->index] = v;
      forget_waiting_control(host, port->index); // older than this value
      status = stored ? ZIX_STATUS_NO_MEM : ZIX_STATUS_SUCCESS;
      if (!status) {
        status = ring_write_control(process->process_ring, port->index, v);
      }
    } else {
      status = send_control_change(host, port->index, v);
      if (!status) {
        // The audio thread is now the only writer of process_ring, so the
        // value cannot come back that way: the UI side is shown it at once.
        control_hook_call(host->control_restored, control);
      }
    }
  }
  if (status) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to apply preset port value (%s)",
             zix_strerror(status));
  }
}

char* make_path(LV2_State_Make_Path_Handle handle, const char* path) {
  auto* host = static_cast<StateHost*>(handle);
  if (!host->scratch_dir) {
    const ZixStringPtr temp(zix_temp_directory_path(nullptr));
    const ZixStringPtr pattern(temp ? zix_path_join(nullptr, temp.get(), "bexoXXXXXX") : nullptr);
    host->scratch_dir = pattern ? zix_create_temporary_directory(nullptr, pattern.get()) : nullptr;
    if (!host->scratch_dir) {
      host_log(&host->log, LOG_LEVEL_WARNING, "Failed to create scratch directory");
      return nullptr;
    }
  }
  char* full = zix_path_join(nullptr, host->scratch_dir, path);
  if (full) {
    // The plugin must be able to create the file at once, even in a
    // subdirectory that does not exist yet.
    make_leading_directories(full);
  }
  return full;
}

int scan_presets(StateHost* host, PresetSink sink, void* data) {
  LilvNodes* presets = lilv_plugin_get_related(host->plugin, host->nodes.pset_Preset);
  LILV_FOREACH(nodes, i, presets) {
    const LilvNode* preset = lilv_nodes_get(presets, i);
    lilv_world_load_resource(host->world, preset);
    if (!sink) {
      continue;
    }
    LilvNodes* labels = lilv_world_find_nodes(host->world, preset, host->nodes.rdfs_label, nullptr);
    if (labels && lilv_nodes_size(labels) > 0) {
      sink(host, preset, lilv_nodes_get_first(labels), data);
    } else {
      host_log(&host->log, LOG_LEVEL_WARNING, "Preset <%s> has no rdfs:label",
               lilv_node_as_string(preset));
    }
    lilv_nodes_free(labels);
  }
  lilv_nodes_free(presets);
  return 0;
}

int restore_state(StateHost* host, LilvState* state) {
  ProcessState* process = &host->process;
  const bool pause =
      !host->thread_safe_restore && (host->pause_pending || process->run_state.load() == RUNNING);
  if (pause && !pause_for_restore(host)) {
    return 1;
  }

  const PluginFeatures& f = host->features;
  const LV2_Feature* const features[] = {
      &f.map_feature,
      &f.unmap_feature,
      &f.make_path_feature,
      &f.state_schedule_feature,
      &f.thread_safe_restore_feature,
      &f.log_feature,
      &f.options_feature,
      nullptr,
  };
  lilv_state_restore(state, process->instance, port_value_set, host, 0, features);
  ++host->changes;

  int result = 0;
  if (process->control_input_index != UINT32_MAX) {
    if (const ZixStatus status = ring_write_update_request(process->ui_ring)) {
      host_log(&host->log, LOG_LEVEL_WARNING, "Failed to ask the plugin for its properties (%s)",
               zix_strerror(status));
      result = 1;
    }
  }
  if (pause) {
    // The ring was emptied by the pause, so only a fault leaves no room;
    // the plugin would then stay silent, which the caller must hear of.
    if (const ZixStatus status = ring_write_run_state(process->ui_ring, RUNNING)) {
      host_log(&host->log, LOG_LEVEL_ERROR,
               "Failed to resume the plugin after restoring state (%s)", zix_strerror(status));
      result = 1;
    }
  }
  return result;
}

void finish_abandoned_pause(StateHost* host) {
  ProcessState* process = &host->process;
  if (!host->pause_pending || zix_sem_try_wait(&process->paused) != ZIX_STATUS_SUCCESS) {
    return;
  }
  host->pause_pending = false;
  // Paused now, the ring is empty: only a fault leaves no room.
  if (const ZixStatus status = ring_write_run_state(process->ui_ring, RUNNING)) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to resume the plugin after restoring state (%s)",
             zix_strerror(status));
  }
}

int restore_preset(StateHost* host, const LilvNode* preset) {
  // The node may belong to the current preset, which goes first.
  const LilvNodePtr uri(lilv_node_duplicate(preset));
  lilv_state_free(host->preset);
  host->preset = nullptr;

  host->preset =
      lilv_state_new_from_world(host->world, urid_mapper_get_map(host->urid_mapper), uri.get());
  if (!host->preset) {
    return -1;
  }
  return restore_state(host, host->preset);
}

LilvState* capture_state(StateHost* host, const char* dir) {
  return lilv_state_new_from_instance(host->plugin, host->process.instance,
                                      urid_mapper_get_map(host->urid_mapper), host->scratch_dir,
                                      dir, dir, dir, port_value_get, host,
                                      LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
}

int store_preset(StateHost* host, const char* dir, const char* uri, const char* label,
                 const char* filename) {
  LV2_URID_Map* map = urid_mapper_get_map(host->urid_mapper);
  LilvState* state = capture_state(host, dir);
  if (!state) {
    return 1;
  }
  if (label) {
    lilv_state_set_label(state, label);
  }
  const int status = lilv_state_save(host->world, map, urid_mapper_get_unmap(host->urid_mapper),
                                     state, uri, dir, filename);
  lilv_state_free(host->preset);
  host->preset = state;
  return status;
}

int erase_current_preset(StateHost* host) {
  if (!host->preset) {
    return 1;
  }
  // A state that was never saved has no URI and nothing on disk.
  if (const LilvNode* uri = lilv_state_get_uri(host->preset)) {
    lilv_world_unload_resource(host->world, uri);
    lilv_state_delete(host->world, host->preset);
  }
  lilv_state_free(host->preset);
  host->preset = nullptr;
  return 0;
}
