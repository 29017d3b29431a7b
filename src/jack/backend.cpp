#include "jack/backend.hpp"

#include "jack/process_callback.hpp"

#include <algorithm>
#include <cstdio>
#include <jack/metadata.h>
#include <string>
#include <zix/allocator.h>

namespace {

constexpr const char* xsd_integer = "http://www.w3.org/2001/XMLSchema#integer";

float* new_frames(uint32_t frames) {
  return static_cast<float*>(zix_calloc(nullptr, std::max<uint32_t>(frames, 1U), sizeof(float)));
}

// Audio and CV ports that got no JACK port.  Ports that are neither audio
// nor CV, or that JACK registered, never use a stand-in.
bool uses_stand_in(const ProcessPort& port) {
  return (port.type == TYPE_AUDIO || port.type == TYPE_CV) && port.flow != FLOW_UNKNOWN &&
         !port.jack_port;
}

void connect_stand_ins(Backend* backend, ProcessState* process) {
  for (uint32_t i = 0; i < process->num_ports; ++i) {
    const ProcessPort& port = process->ports[i];
    if (uses_stand_in(port)) {
      float* buffer = port.flow == FLOW_INPUT ? backend->silence : backend->scratch;
      lilv_instance_connect_port(process->instance, i, buffer);
    }
  }
}

// Makes both stand-ins `frames` long; the caller connects the ports.  When
// memory runs out the old buffers stay, and the process callback refuses to
// run the plugin in cycles longer than they are.
bool remake_stand_ins(Backend* backend, uint32_t frames) {
  float* silence = new_frames(frames);
  float* scratch = new_frames(frames);
  if (!silence || !scratch) {
    zix_free(nullptr, silence);
    zix_free(nullptr, scratch);
    return false;
  }
  std::swap(backend->silence, silence);
  std::swap(backend->scratch, scratch);
  backend->stand_in_frames = frames;
  zix_free(nullptr, silence);
  zix_free(nullptr, scratch);
  return true;
}

void set_port_property(jack_client_t* client, jack_port_t* port, const char* key, const char* value,
                       const char* type) {
  jack_set_property(client, jack_port_uuid(port), key, value, type);
}

} // namespace

int audio_open(Backend* backend, LogContext* log, const Urids* urids, HostSettings* settings,
               ProcessState* process, ZixSem* quit_sem, const char* name, bool exact_name) {
  std::string copy = name ? name : "";
  // jack_client_name_size() counts the terminating zero, and JACK 2 counts
  // one byte more than it accepts: the longest name it takes is two bytes
  // shorter, so that is where a longer name is cut.
  const auto limit = static_cast<size_t>(jack_client_name_size()) - 2;
  if (copy.size() >= limit) {
    copy.resize(limit);
  }

  jack_client_t* client =
      jack_client_open(copy.c_str(), exact_name ? JackUseExactName : JackNullOption, nullptr);
  if (!client) {
    return 1;
  }

  host_log(log, LOG_LEVEL_INFO, "JACK name: %s", jack_get_client_name(client));

  settings->sample_rate = static_cast<float>(jack_get_sample_rate(client));
  settings->min_block_length = settings->max_block_length = jack_get_buffer_size(client);
  settings->midi_buf_size = jack_port_type_get_buffer_size(client, JACK_DEFAULT_MIDI_TYPE);

  jack_set_process_callback(client, process_callback, backend);
  jack_set_buffer_size_callback(client, buffer_size_callback, backend);
  jack_on_shutdown(client, shutdown_callback, backend);
  jack_set_latency_callback(client, latency_callback, backend);

  backend->urids = urids;
  backend->settings = settings;
  backend->process = process;
  backend->quit_sem = quit_sem;
  backend->client = client;
  return 0;
}

void audio_setup_port(Backend* backend, ProcessState* process, uint32_t index) {
  ProcessPort& port = process->ports[index];
  LilvInstance* instance = process->instance;
  if (port.flow == FLOW_UNKNOWN) {
    return;
  }

  const unsigned long flags = port.flow == FLOW_INPUT ? JackPortIsInput : JackPortIsOutput;
  jack_client_t* client = backend->client;
  jack_port_t* jack_port = nullptr;
  switch (port.type) {
  case TYPE_AUDIO:
    jack_port = jack_port_register(client, port.symbol.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
    break;
  case TYPE_CV:
    jack_port = jack_port_register(client, port.symbol.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
    if (jack_port) {
      set_port_property(client, jack_port, JACK_METADATA_SIGNAL_TYPE, "CV", "text/plain");
    }
    break;
  case TYPE_EVENT:
    if (port.supports_midi) {
      jack_port = jack_port_register(client, port.symbol.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0);
    }
    break;
  case TYPE_CONTROL:
  case TYPE_UNKNOWN:
    return; // the process state connects these itself
  }

  port.jack_port = jack_port;
  if (!jack_port) {
    if (uses_stand_in(port)) {
      backend->needs_stand_ins = true;
      if (!backend->silence) {
        remake_stand_ins(backend, backend->settings->max_block_length);
      }
      const bool input = port.flow == FLOW_INPUT;
      lilv_instance_connect_port(instance, index, input ? backend->silence : backend->scratch);
    }
    return;
  }

  char order[16];
  std::snprintf(order, sizeof(order), "%u", index);
  set_port_property(client, jack_port, JACK_METADATA_ORDER, order, xsd_integer);
  if (!port.label.empty()) {
    set_port_property(client, jack_port, JACK_METADATA_PRETTY_NAME, port.label.c_str(),
                      "text/plain");
  }
}

namespace {

void index_jack_ports(Backend* backend) {
  backend->audio_ports.clear();
  backend->midi_inputs.clear();
  backend->midi_outputs.clear();
  const ProcessState* process = backend->process;
  for (uint32_t i = 0; i < process->num_ports; ++i) {
    const ProcessPort& port = process->ports[i];
    if (!port.jack_port) {
      continue;
    }
    if (port.type == TYPE_AUDIO || port.type == TYPE_CV) {
      backend->audio_ports.push_back(i);
    } else if (port.type == TYPE_EVENT && port.flow == FLOW_INPUT) {
      backend->midi_inputs.push_back(i);
    } else if (port.type == TYPE_EVENT && port.flow == FLOW_OUTPUT) {
      backend->midi_outputs.push_back(i);
    }
  }
}

} // namespace

int audio_start(Backend* backend) {
  index_jack_ports(backend);
  return jack_activate(backend->client) ? 1 : 0;
}

void audio_stop(Backend* backend) {
  if (backend->client) {
    jack_deactivate(backend->client);
  }
}

void audio_update_latencies(Backend* backend) {
  jack_recompute_total_latencies(backend->client);
}

void audio_close(Backend* backend) {
  if (backend->client) {
    jack_client_close(backend->client);
    backend->client = nullptr;
  }
  zix_free(nullptr, backend->silence);
  zix_free(nullptr, backend->scratch);
  backend->silence = backend->scratch = nullptr;
  backend->stand_in_frames = 0;
  backend->needs_stand_ins = false;
  backend->buffers_missing = false;
}

int buffer_size_callback(jack_nframes_t nframes, void* data) {
  auto* backend = static_cast<Backend*>(data);
  HostSettings* settings = backend->settings;
  ProcessState* process = backend->process;
  settings->min_block_length = settings->max_block_length = nframes;
  settings->midi_buf_size = jack_port_type_get_buffer_size(backend->client, JACK_DEFAULT_MIDI_TYPE);
  // JACK runs no cycle during this call, and this thread may allocate.
  if (backend->needs_stand_ins && backend->stand_in_frames != nframes &&
      remake_stand_ins(backend, nframes)) {
    connect_stand_ins(backend, process);
  }
  if (process->run_state.load() == RUNNING) {
    backend->buffers_missing =
        process_prepare(process, backend->urids, process->instance, settings) != 0;
  }
  return 0;
}

void shutdown_callback(void* data) {
  zix_sem_post(static_cast<Backend*>(data)->quit_sem);
}

void latency_callback(jack_latency_callback_mode_t mode, void* data) {
  auto* backend = static_cast<Backend*>(data);
  ProcessState* process = backend->process;
  // The plugin is one block: every output depends on every input.
  const PortFlow read = mode == JackCaptureLatency ? FLOW_INPUT : FLOW_OUTPUT;
  const PortFlow written = mode == JackCaptureLatency ? FLOW_OUTPUT : FLOW_INPUT;

  jack_latency_range_t combined{UINT32_MAX, 0};
  bool any = false;
  for (uint32_t i = 0; i < process->num_ports; ++i) {
    const ProcessPort& port = process->ports[i];
    if (port.jack_port && port.flow == read) {
      jack_latency_range_t range{};
      jack_port_get_latency_range(static_cast<jack_port_t*>(port.jack_port), mode, &range);
      combined.min = std::min(combined.min, range.min);
      combined.max = std::max(combined.max, range.max);
      any = true;
    }
  }
  if (!any) {
    combined = {0, 0};
  }
  const uint32_t latency = process->plugin_latency.load();
  combined.min += latency;
  combined.max += latency;

  for (uint32_t i = 0; i < process->num_ports; ++i) {
    const ProcessPort& port = process->ports[i];
    if (port.jack_port && port.flow == written) {
      jack_port_set_latency_range(static_cast<jack_port_t*>(port.jack_port), mode, &combined);
    }
  }
}
