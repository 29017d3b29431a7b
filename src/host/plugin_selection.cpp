#include "host/plugin_selection.hpp"

#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "state/saved_state.hpp"

#include <filesystem>
#include <serd/serd.h>
#include <string>
#include <suil/suil.h>
#include <system_error>

namespace {

LV2_URID_Map* urid_map(Host* host) {
  return urid_mapper_get_map(host->urid_mapper);
}

const LilvPlugin* plugin_by_uri(Host* host, const char* uri) {
  const LilvNodePtr node{lilv_new_uri(host->world, uri)};
  return lilv_plugins_get_by_uri(lilv_world_get_all_plugins(host->world), node.get());
}

// lilv reads the data file of a plugin or preset only when asked to; a
// state made before that would miss the plugin's default state.
void load_data_of(Host* host, const LilvNode* uri) {
  lilv_world_load_resource(host->world, uri);
}

// The state that `arg` names: by URI (a preset, a saved state, or a
// plugin's default state), by file, or by the directory it was saved in.
// Null after logging why.
LilvState* state_of(Host* host, const char* arg) {
  if (!serd_uri_string_has_scheme(reinterpret_cast<const uint8_t*>(arg))) {
    std::string file = arg;
    std::error_code error;
    if (std::filesystem::is_directory(arg, error)) {
      file = saved_state_file(arg);
      if (file.empty()) {
        host_log(&host->log, LOG_LEVEL_ERROR, "No saved state in \"%s\"", arg);
        return nullptr;
      }
    }
    LilvState* state = lilv_state_new_from_file(host->world, urid_map(host), nullptr, file.c_str());
    if (!state) {
      host_log(&host->log, LOG_LEVEL_ERROR, "Failed to load state \"%s\"", arg);
    }
    return state;
  }
  const LilvNodePtr uri{lilv_new_uri(host->world, arg)};
  load_data_of(host, uri.get());
  LilvState* state = lilv_state_new_from_world(host->world, urid_map(host), uri.get());
  if (!state) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to load state \"%s\"", arg);
  }
  return state;
}

// Whether the front end can embed `ui`; stores its widget type in ui_type.
bool ui_is_native(Host* host, const LilvUI* ui) {
  const char* native = host->frontend->gui_native_ui_type();
  if (!native) {
    return true; // nothing to test against
  }
  const LilvNodePtr native_type{lilv_new_uri(host->world, native)};
  return lilv_ui_is_supported(ui, suil_ui_supported, native_type.get(), &host->ui_type) != 0;
}

void log_ignored_ui(Host* host, const LilvUI* ui) {
  host_log(&host->log, LOG_LEVEL_INFO, "Ignoring incompatible UI <%s>",
           lilv_node_as_uri(lilv_ui_get_uri(ui)));
  const LilvNodes* classes = lilv_ui_get_classes(ui);
  LILV_FOREACH(nodes, c, classes) {
    host_log(&host->log, LOG_LEVEL_INFO, "Ignored UI type <%s>",
             lilv_node_as_uri(lilv_nodes_get(classes, c)));
  }
}

} // namespace

int choose_plugin(Host* host, const char* arg, LilvState** initial_state) {
  if (arg) {
    *initial_state = state_of(host, arg);
    if (!*initial_state) {
      return HOST_OPEN_NO_PLUGIN;
    }
    const char* plugin_uri = lilv_node_as_uri(lilv_state_get_plugin_uri(*initial_state));
    host->plugin = plugin_by_uri(host, plugin_uri);
    if (!host->plugin) {
      // A saved state or preset outlives the plugin it was made with.
      host_log(&host->log, LOG_LEVEL_ERROR, "Plugin <%s> is not installed", plugin_uri);
      return HOST_OPEN_NO_PLUGIN;
    }
  } else {
    const LilvNodePtr picked{host->frontend->gui_choose_plugin(host->world)};
    if (!picked) {
      host_log(&host->log, LOG_LEVEL_ERROR, "No plugin to open: none was named or chosen");
      return HOST_OPEN_NO_PLUGIN;
    }
    load_data_of(host, picked.get());
    *initial_state = lilv_state_new_from_world(host->world, urid_map(host), picked.get());
    if (!*initial_state) {
      return HOST_OPEN_NO_PLUGIN;
    }
    host->plugin = plugin_by_uri(host, lilv_node_as_uri(picked.get()));
  }
  if (!host->plugin) {
    return HOST_OPEN_NO_PLUGIN;
  }
  host_log(&host->log, LOG_LEVEL_INFO, "Plugin: %s",
           lilv_node_as_uri(lilv_plugin_get_uri(host->plugin)));
  return 0;
}

int choose_ui(Host* host) {
  const HostOptions& options = host->options;
  if (options.generic_ui) {
    return 0;
  }
  if (options.ui_uri) {
    const LilvNodePtr uri{lilv_new_uri(host->world, options.ui_uri)};
    const LilvUI* ui = lilv_uis_get_by_uri(host->uis, uri.get());
    if (ui && !ui_is_native(host, ui)) {
      ui = nullptr;
    }
    if (!ui) {
      host_log(&host->log, LOG_LEVEL_ERROR, "Failed to find UI <%s>", options.ui_uri);
      return HOST_OPEN_NO_UI;
    }
    host->ui = ui;
    host_log(&host->log, LOG_LEVEL_INFO, "UI: %s", lilv_node_as_uri(lilv_ui_get_uri(ui)));
    return 0;
  }

  const char* native = host->frontend->gui_native_ui_type();
  if (!native) {
    return 0;
  }
  const LilvNodePtr native_type{lilv_new_uri(host->world, native)};
  LILV_FOREACH(uis, u, host->uis) {
    const LilvUI* ui = lilv_uis_get(host->uis, u);
    const LilvNode* type = nullptr;
    if (lilv_ui_is_supported(ui, suil_ui_supported, native_type.get(), &type)) {
      ui_is_native(host, ui); // fills ui_type
      host->ui = ui;
      host_log(&host->log, LOG_LEVEL_INFO, "UI: %s", lilv_node_as_uri(lilv_ui_get_uri(ui)));
      return 0;
    }
    log_ignored_ui(host, ui);
  }
  return 0;
}
