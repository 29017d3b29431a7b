#include "host/host_open.hpp"

#include "engine/process.hpp"
#include "engine/worker.hpp"
#include "host/control_settings.hpp"
#include "host/features.hpp"
#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/nodes.hpp"
#include "jack/backend.hpp"
#include "state/atom_dumper.hpp"
#include "state/control.hpp"
#include "state/property.hpp"
#include "state/state.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <lilv/lilv.h>
#include <lv2/worker/worker.h>
#include <memory>
#include <serd/serd.h>
#include <string>
#include <suil/suil.h>
#include <vector>
#include <zix/allocator.h>

namespace {

struct StateFree {
  void operator()(LilvState* state) const { lilv_state_free(state); }
};
using State = std::unique_ptr<LilvState, StateFree>;

// Beyond these, an option is a mistake (a negative number read unsigned,
// say), not a wish for gigabytes of locked memory.
constexpr uint32_t max_ring_size = 64u << 20;
constexpr uint32_t max_block_length = 1u << 16;

// The JACK client's name when none was asked for: the plugin's name, or
// for a plugin without one the last segment of its URI.
char* default_jack_name(const LilvPlugin* plugin, const LilvNode* name) {
  if (name && *lilv_node_as_string(name)) {
    return strdup(lilv_node_as_string(name));
  }
  const std::string uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
  const size_t cut = uri.find_last_of("/:");
  const std::string segment = cut == std::string::npos ? uri : uri.substr(cut + 1);
  return strdup(segment.empty() ? uri.c_str() : segment.c_str());
}

// Refuses sizes that no real setup asks for, before anything is made.
int check_option_sizes(Host* host) {
  const HostOptions& options = host->options;
  if (options.ring_size > max_ring_size) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Ring size of %u bytes is too large (at most %u)",
             options.ring_size, max_ring_size);
    return HOST_OPEN_BAD_OPTION;
  }
  if (options.block_length > max_block_length) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Block length of %u frames is too large (at most %u)",
             options.block_length, max_block_length);
    return HOST_OPEN_BAD_OPTION;
  }
  return 0;
}

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

// The plugin and the state it starts from: the argument names a state (a
// preset, a saved state, or a plugin's default state) by URI or by file,
// or the front end lets the user pick a plugin.
int choose_plugin(Host* host, const char* arg, State* initial_state) {
  if (arg) {
    if (serd_uri_string_has_scheme(reinterpret_cast<const uint8_t*>(arg))) {
      const LilvNodePtr uri{lilv_new_uri(host->world, arg)};
      load_data_of(host, uri.get());
      initial_state->reset(lilv_state_new_from_world(host->world, urid_map(host), uri.get()));
    } else {
      initial_state->reset(lilv_state_new_from_file(host->world, urid_map(host), nullptr, arg));
    }
    if (!*initial_state) {
      host_log(&host->log, LOG_LEVEL_ERROR, "Failed to load state \"%s\"", arg);
      return HOST_OPEN_NO_PLUGIN;
    }
    host->plugin =
        plugin_by_uri(host, lilv_node_as_uri(lilv_state_get_plugin_uri(initial_state->get())));
  } else {
    const LilvNodePtr picked{gui_choose_plugin(host->world)};
    if (!picked) {
      return HOST_OPEN_NO_PLUGIN;
    }
    load_data_of(host, picked.get());
    initial_state->reset(lilv_state_new_from_world(host->world, urid_map(host), picked.get()));
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

// Whether the front end can embed `ui`; stores its widget type in ui_type.
bool ui_is_native(Host* host, const LilvUI* ui) {
  const char* native = gui_native_ui_type();
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

// The plugin's own UI: the one asked for, or the first that the front end
// can embed.  Having none is not an error: the generic panel shows instead.
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

  const char* native = gui_native_ui_type();
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

// Worker for the plugin's work, and one for the work scheduled while state
// is restored, when the plugin offers the worker interface.
void make_workers(Host* host) {
  if (!lilv_plugin_has_extension_data(host->plugin, host->nodes.worker_interface)) {
    return;
  }
  ProcessState& process = host->process;
  process.worker = worker_create(&host->worker_lock, true, &process.memory_unlocked);
  host->features.schedule.handle = process.worker;
  if (host->thread_safe_restore) {
    process.state_worker = worker_create(&host->worker_lock, false, &process.memory_unlocked);
    host->features.state_schedule.handle = process.state_worker;
  }
}

// Port records on both sides, control values at their defaults, and the
// sizes the rings and the UI's receive buffer need for the port buffers.
int make_ports(Host* host, uint32_t* ring_floor) {
  ProcessState& process = host->process;
  host->num_ports = lilv_plugin_get_num_ports(host->plugin);
  process.num_ports = host->num_ports;
  host->ports.assign(host->num_ports, Port{});
  process.ports.resize(host->num_ports);
  process.control_values.assign(host->num_ports, 0.0f);
  std::vector<float> minimums(host->num_ports);
  lilv_plugin_get_port_ranges_float(host->plugin, minimums.data(), nullptr,
                                    process.control_values.data());
  // lilv gives NaN where a port declares no default; a plugin must never
  // read NaN from a control, so such a port starts at its minimum, or 0.
  for (uint32_t i = 0; i < host->num_ports; ++i) {
    float& value = process.control_values[i];
    if (std::isnan(value)) {
      value = std::isnan(minimums[i]) ? 0.0f : minimums[i];
    }
  }

  for (uint32_t i = 0; i < host->num_ports; ++i) {
    Port& port = host->ports[i];
    ProcessPort& record = process.ports[i];
    port.lilv_port = lilv_plugin_get_port_by_index(host->plugin, i);
    port.index = i;
    if (process_port_init(&record, &host->nodes, host->plugin, port.lilv_port)) {
      host_log(&host->log, LOG_LEVEL_ERROR, "Mandatory port \"%s\" has unknown type",
               lilv_node_as_string(lilv_port_get_symbol(host->plugin, port.lilv_port)));
      return HOST_OPEN_BAD_PORT;
    }
    port.type = record.type;
    port.flow = record.flow;
    if (process.control_input_index == UINT32_MAX && record.type == TYPE_EVENT &&
        record.flow == FLOW_INPUT && record.is_control_designated) {
      process.control_input_index = i;
    }
    const size_t size = record.buf_size ? record.buf_size : host->settings.midi_buf_size;
    *ring_floor = std::max(*ring_floor, static_cast<uint32_t>(16 * size));
    if (record.flow == FLOW_OUTPUT) {
      host->ui_read_buf_size = std::max(host->ui_read_buf_size, size);
    }
  }
  return 0;
}

void make_controls(Host* host) {
  for (uint32_t i = 0; i < host->num_ports; ++i) {
    const LilvPort* port = host->ports[i].lilv_port;
    if (lilv_port_is_a(host->plugin, port, host->nodes.lv2_ControlPort)) {
      append_control(&host->controls, make_port_control(host->plugin, port, i, &host->nodes,
                                                        &host->forge, host->settings.sample_rate));
    }
  }
  discover_properties(host, true);
  discover_properties(host, false);
}

float clamp_update_rate(float rate) {
  return rate > 60.0f ? 60.0f : rate < 1.0f ? 1.0f : rate;
}

void settle_ring_and_rates(Host* host, uint32_t ring_floor) {
  HostSettings& settings = host->settings;
  settings.ring_size = ring_floor ? ring_floor : static_cast<uint32_t>(16 * settings.midi_buf_size);
  if (host->options.update_rate <= 0.0) {
    settings.ui_rate_hz = gui_refresh_rate(host);
  }
  if (host->options.scale_factor <= 0.0) {
    settings.ui_scale = gui_scale_factor(host);
  }
  settings.ui_rate_hz = clamp_update_rate(settings.ui_rate_hz);
  settings.ring_size = std::max(settings.ring_size, 4096u);
  host_log(&host->log, LOG_LEVEL_INFO, "Comm buffers: %u bytes", settings.ring_size);
  host_log(&host->log, LOG_LEVEL_INFO, "Update rate: %.01f Hz", settings.ui_rate_hz);
  host_log(&host->log, LOG_LEVEL_INFO, "Scale factor: %.01f", settings.ui_scale);
}

void bind_workers(Host* host) {
  const LV2_Descriptor* descriptor = lilv_instance_get_descriptor(host->process.instance);
  host->features.data_access.data_access = descriptor->extension_data;
  if (!descriptor->extension_data) {
    return;
  }
  const auto* iface =
      static_cast<const LV2_Worker_Interface*>(descriptor->extension_data(LV2_WORKER__interface));
  LV2_Handle handle = lilv_instance_get_handle(host->process.instance);
  if (host->process.worker) {
    worker_bind(host->process.worker, iface, handle);
  }
  if (host->process.state_worker) {
    worker_bind(host->process.state_worker, iface, handle);
  }
}

} // namespace

int host_open(Host* host, const char* arg) {
  HostSettings& settings = host->settings;
  const HostOptions& options = host->options;
  if (const int status = check_option_sizes(host)) {
    return status;
  }
  settings.max_block_length = options.block_length;
  settings.midi_buf_size = 1024;
  settings.ui_rate_hz = static_cast<float>(options.update_rate);
  settings.ui_scale = static_cast<float>(options.scale_factor);
  settings.ring_size = options.ring_size;

  host->world = lilv_world_new();
#ifdef LILV_OPTION_OBJECT_INDEX // newer lilv only; older ones warn about unknown options
  lilv_world_set_option(host->world, LILV_OPTION_OBJECT_INDEX, nullptr);
#endif
  lilv_world_load_all(host->world);
  host->urid_mapper = urid_mapper_new();
  host->log.urids = &host->urids;
  host->log.tracing = options.trace != 0;
  if (options.dump) {
    host->atom_dumper = atom_dumper_new(urid_mapper_get_map(host->urid_mapper),
                                        urid_mapper_get_unmap(host->urid_mapper));
  }
  // quit_sem was made before the signal handler was installed, so a signal
  // that came early is still waiting in it.
  zix_sem_init(&host->worker_lock, 1);
  map_urids(host->urid_mapper, &host->urids);
  make_nodes(host->world, &host->nodes);
  features_init(&host->features, host);
  lv2_atom_forge_init(&host->forge, urid_map(host));

  State initial_state;
  if (const int status = choose_plugin(host, arg, &initial_state)) {
    return status;
  }

  host->plugin_name = lilv_plugin_get_name(host->plugin);
  if (!host->options.jack_name) {
    host->options.jack_name = default_jack_name(host->plugin, host->plugin_name);
  }
  host->thread_safe_restore =
      lilv_plugin_has_feature(host->plugin, host->nodes.state_threadSafeRestore);
  host->uis = lilv_plugin_get_uis(host->plugin);
  if (const int status = choose_ui(host)) {
    return status;
  }

  process_state_init(&host->process, &host->urids, host->urid_mapper, options.trace != 0);
  make_workers(host);
  uint32_t ring_floor = options.ring_size;
  if (const int status = make_ports(host, &ring_floor)) {
    return status;
  }

  if (audio_open(host->backend, &host->log, &host->urids, &settings, &host->process,
                 &host->quit_sem, host->options.jack_name, options.exact_jack_name != 0)) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to connect to audio system");
    return HOST_OPEN_NO_AUDIO;
  }
  host_log(&host->log, LOG_LEVEL_INFO, "Sample rate: %.0f Hz", settings.sample_rate);
  host_log(&host->log, LOG_LEVEL_INFO, "Block length: %u frames", settings.max_block_length);
  host_log(&host->log, LOG_LEVEL_INFO, "MIDI buffers: %zu bytes", settings.midi_buf_size);

  make_controls(host);
  settle_ring_and_rates(host, ring_floor);
  options_init(&host->features, &host->urids, &settings);

  host->ui_read_buf_size = std::max(host->ui_read_buf_size, settings.midi_buf_size);
  host->ui_read_buf = zix_aligned_alloc(nullptr, 8, host->ui_read_buf_size);

  if (build_feature_list(&host->features, &settings)) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to allocate feature list");
    return HOST_OPEN_NO_FEATURES;
  }
  const std::string missing =
      check_required_features(host->plugin, host->features.feature_list.data());
  if (!missing.empty()) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Feature %s is not supported", missing.c_str());
    return HOST_OPEN_BAD_FEATURE;
  }

  host->process.instance = lilv_plugin_instantiate(host->plugin, settings.sample_rate,
                                                   host->features.feature_list.data());
  if (!host->process.instance) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to instantiate plugin");
    return HOST_OPEN_NO_INSTANCE;
  }
  bind_workers(host);
  process_prepare(&host->process, &host->urids, host->process.instance, &settings);
  if (host->process.memory_unlocked) {
    host_log(&host->log, LOG_LEVEL_WARNING,
             "Failed to lock ring memory; audio may drop out when memory is short");
  }

  restore_state(host, initial_state.get());
  initial_state.reset();
  apply_control_settings(host);
  for (uint32_t i = 0; i < host->num_ports; ++i) {
    audio_setup_port(host->backend, &host->process, i);
  }
  return 0;
}
