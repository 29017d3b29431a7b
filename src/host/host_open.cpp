#include "host/host_open.hpp"

#include "engine/process.hpp"
#include "engine/worker.hpp"
#include "host/control_settings.hpp"
#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/lv2_path.hpp"
#include "host/plugin_selection.hpp"
#include "host/session.hpp"
#include "jack/backend.hpp"
#include "state/atom_dumper.hpp"
#include "state/control.hpp"
#include "state/features.hpp"
#include "state/property.hpp"
#include "state/state.hpp"
#include "ui/ui_update.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <lilv/lilv.h>
#include <lv2/worker/worker.h>
#include <memory>
#include <string>
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

// The UI layer's hook for showing a control, served by the front end.
void show_in_frontend(void* data, Control* control) {
  auto* host = static_cast<Host*>(data);
  host->frontend->gui_show_control(host, control);
}

void settings_from_options(Host* host) {
  HostSettings& settings = host->settings;
  const HostOptions& options = host->options;
  settings.max_block_length = options.block_length;
  settings.midi_buf_size = 1024;
  settings.ui_rate_hz = static_cast<float>(options.update_rate);
  settings.ui_scale = static_cast<float>(options.scale_factor);
  settings.ring_size = options.ring_size;
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

// lilv gives NaN where a port declares no default; a plugin must never
// read NaN from a control, so such a port starts at its minimum, or 0.
void set_default_values(Host* host) {
  std::vector<float>& values = host->process.control_values;
  values.assign(host->num_ports, 0.0f);
  std::vector<float> minimums(host->num_ports);
  lilv_plugin_get_port_ranges_float(host->plugin, minimums.data(), nullptr, values.data());
  for (uint32_t i = 0; i < host->num_ports; ++i) {
    if (std::isnan(values[i])) {
      values[i] = std::isnan(minimums[i]) ? 0.0f : minimums[i];
    }
  }
}

// Port records on both sides, control values at their defaults, and the
// sizes the rings and the UI's receive buffer need for the port buffers.
// The ring size floor is kept in settings.ring_size (the option at first)
// until the ring size is settled.
int make_ports(Host* host) {
  ProcessState& process = host->process;
  host->num_ports = lilv_plugin_get_num_ports(host->plugin);
  process.num_ports = host->num_ports;
  host->ports.assign(host->num_ports, Port{});
  process.ports.resize(host->num_ports);
  set_default_values(host);
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
    host->settings.ring_size = std::max(host->settings.ring_size, static_cast<uint32_t>(16 * size));
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

void settle_ring_and_rates(Host* host) {
  HostSettings& settings = host->settings;
  if (!settings.ring_size) {
    settings.ring_size = static_cast<uint32_t>(16 * settings.midi_buf_size);
  }
  if (host->options.update_rate <= 0.0) {
    settings.ui_rate_hz = host->frontend->gui_refresh_rate(host);
  }
  if (host->options.scale_factor <= 0.0) {
    settings.ui_scale = host->frontend->gui_scale_factor(host);
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

int instantiate(Host* host) {
  PluginFeatures& features = host->features;
  if (build_feature_list(&features, &host->settings)) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to allocate feature list");
    return HOST_OPEN_NO_FEATURES;
  }
  if (!check_required_features(host->plugin, features.feature_list.data(), &host->log).empty()) {
    return HOST_OPEN_BAD_FEATURE;
  }
  host->process.instance = lilv_plugin_instantiate(host->plugin, host->settings.sample_rate,
                                                   features.feature_list.data());
  if (!host->process.instance) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to instantiate plugin");
    return HOST_OPEN_NO_INSTANCE;
  }
  bind_workers(host);
  return 0;
}

} // namespace

int open_world(Host* host) {
  if (const int status = check_option_sizes(host)) {
    return status;
  }
  settings_from_options(host);
  host->world = lilv_world_new();
  set_world_lv2_path(host->world);
#ifdef LILV_OPTION_OBJECT_INDEX // newer lilv only; older ones warn about unknown options
  lilv_world_set_option(host->world, LILV_OPTION_OBJECT_INDEX, nullptr);
#endif
  lilv_world_load_all(host->world);
  host->urid_mapper = urid_mapper_new();
  host->log.urids = &host->urids;
  host->log.tracing = host->options.trace != 0;
  if (host->options.dump) {
    host->atom_dumper = atom_dumper_new(urid_mapper_get_map(host->urid_mapper),
                                        urid_mapper_get_unmap(host->urid_mapper));
    host->process.ui_reads_midi.store(true);
  }
  host->print_controls = host->options.print_controls != 0;
  host->show_control = {show_in_frontend, host};
  host->control_restored = {show_restored_control, static_cast<UiHost*>(host)};
  // quit_sem was made before the signal handler was installed, so a signal
  // that came early is still waiting in it.
  zix_sem_init(&host->worker_lock, 1);
  map_urids(host->urid_mapper, &host->urids);
  make_nodes(host->world, &host->nodes);
  features_init(&host->features, host);
  lv2_atom_forge_init(&host->forge, urid_mapper_get_map(host->urid_mapper));
  return 0;
}

int open_plugin(Host* host, const char* arg, LilvState** initial_state) {
  if (const int status = choose_plugin(host, arg, initial_state)) {
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
  process_state_init(&host->process, &host->urids, host->urid_mapper, host->options.trace != 0);
  make_workers(host);
  return make_ports(host);
}

int open_audio(Host* host) {
  HostSettings& settings = host->settings;
  if (audio_open(host->backend, &host->log, &host->urids, &settings, &host->process,
                 &host->quit_sem, host->options.jack_name, host->options.exact_jack_name != 0)) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to connect to audio system");
    return HOST_OPEN_NO_AUDIO;
  }
  host->audio = jack_audio_backend(host->backend);
  host_log(&host->log, LOG_LEVEL_INFO, "Sample rate: %.0f Hz", settings.sample_rate);
  host_log(&host->log, LOG_LEVEL_INFO, "Block length: %u frames", settings.max_block_length);
  host_log(&host->log, LOG_LEVEL_INFO, "MIDI buffers: %zu bytes", settings.midi_buf_size);
  return 0;
}

int open_instance(Host* host, LilvState* initial_state) {
  HostSettings& settings = host->settings;
  make_controls(host);
  settle_ring_and_rates(host);
  options_init(&host->features, &host->urids, &settings);
  host->ui_read_buf_size = std::max(host->ui_read_buf_size, settings.midi_buf_size);
  host->ui_read_buf = zix_aligned_alloc(nullptr, 8, host->ui_read_buf_size);

  if (const int status = instantiate(host)) {
    return status;
  }
  // Running a plugin with an event port connected to nothing, or reading
  // its output into no buffer, would crash it or the host.
  if (!host->ui_read_buf ||
      process_prepare(&host->process, &host->urids, host->process.instance, &settings)) {
    host_log(&host->log, LOG_LEVEL_ERROR, "Failed to allocate port buffers");
    return HOST_OPEN_NO_MEMORY;
  }
  if (host->process.memory_unlocked) {
    host_log(&host->log, LOG_LEVEL_WARNING,
             "Failed to lock ring memory; audio may drop out when memory is short");
  }
  restore_state(host, initial_state);
  apply_control_settings(host);
  return 0;
}

void connect_ports(Host* host) {
  for (uint32_t i = 0; i < host->num_ports; ++i) {
    if (!process_connect_port(&host->process, i)) {
      audio_setup_port(host->backend, &host->process, i);
    }
  }
}

int host_open(Host* host, const char* arg) {
  if (const int status = open_world(host)) {
    return status;
  }
  if (const int status = join_session(host, &arg)) {
    return status;
  }
  State initial_state;
  LilvState* state = nullptr;
  int status = open_plugin(host, arg, &state);
  initial_state.reset(state);
  if (!status) {
    status = open_audio(host);
  }
  if (!status) {
    status = open_instance(host, initial_state.get());
  }
  if (status) {
    return status;
  }
  initial_state.reset();
  connect_ports(host);
  return 0;
}
