#include "engine/process_port.hpp"

#include "engine/event_buffer.hpp"

#include <cstring>
#include <memory>
#include <utility>

namespace {

PortFlow port_flow(const Nodes* nodes, const LilvPlugin* plugin, const LilvPort* port,
                   PortFlow unchanged) {
  if (lilv_port_is_a(plugin, port, nodes->lv2_InputPort)) {
    return FLOW_INPUT;
  }
  if (lilv_port_is_a(plugin, port, nodes->lv2_OutputPort)) {
    return FLOW_OUTPUT;
  }
  return unchanged;
}

// Tested in this order, so a port of two kinds takes the first.
PortType port_type(const Nodes* nodes, const LilvPlugin* plugin, const LilvPort* port,
                   PortType unchanged) {
  const std::pair<const LilvNode*, PortType> kinds[] = {
      {nodes->lv2_ControlPort, TYPE_CONTROL},
      {nodes->lv2_AudioPort, TYPE_AUDIO},
      {nodes->lv2_CVPort, TYPE_CV},
      {nodes->atom_AtomPort, TYPE_EVENT},
  };
  for (const auto& [node, type] : kinds) {
    if (lilv_port_is_a(plugin, port, node)) {
      return type;
    }
  }
  return unchanged;
}

uint32_t minimum_size(const Nodes* nodes, const LilvPlugin* plugin, const LilvPort* port) {
  const LilvNodePtr value(lilv_port_get(plugin, port, nodes->rsz_minimumSize));
  if (!value || !lilv_node_is_int(value.get())) {
    return 0;
  }
  const int size = lilv_node_as_int(value.get());
  return size < 1 ? 0U : static_cast<uint32_t>(size);
}

} // namespace

int process_port_init(ProcessPort* record, const Nodes* nodes, const LilvPlugin* plugin,
                      const LilvPort* port) {
  const LilvNode* symbol = lilv_port_get_symbol(plugin, port);
  const LilvNodePtr name(lilv_port_get_name(plugin, port));
  record->jack_port = nullptr;
  record->backend_buffer = nullptr;
  record->event_buffer = nullptr;
  record->buf_size = 0;
  record->symbol = symbol ? lilv_node_as_string(symbol) : "";
  record->label = name ? lilv_node_as_string(name.get()) : "";

  record->flow = port_flow(nodes, plugin, port, record->flow);
  record->type = port_type(nodes, plugin, port, record->type);
  if ((record->type == TYPE_UNKNOWN || record->flow == FLOW_UNKNOWN) &&
      !lilv_port_has_property(plugin, port, nodes->lv2_connectionOptional)) {
    return 1;
  }

  record->buf_size = minimum_size(nodes, plugin, port);
  record->is_control_designated =
      record->type == TYPE_EVENT && port_has_designation(nodes, plugin, port, nodes->lv2_control);
  record->reports_latency = record->type == TYPE_CONTROL && record->flow == FLOW_OUTPUT &&
                            (lilv_port_has_property(plugin, port, nodes->lv2_reportsLatency) ||
                             port_has_designation(nodes, plugin, port, nodes->lv2_latency));
  record->supports_midi = lilv_port_supports_event(plugin, port, nodes->midi_MidiEvent);
  record->supports_pos = lilv_port_supports_event(plugin, port, nodes->time_Position);
  record->is_bpm = record->type == TYPE_CONTROL && record->flow == FLOW_INPUT &&
                   port_has_designation(nodes, plugin, port, nodes->time_beatsPerMinute);
  return 0;
}

bool port_has_designation(const Nodes* nodes, const LilvPlugin* plugin, const LilvPort* port,
                          const LilvNode* designation) {
  LilvNodes* values = lilv_port_get_value(plugin, port, nodes->lv2_designation);
  bool found = false;
  LILV_FOREACH(nodes, i, values) {
    if (lilv_node_equals(lilv_nodes_get(values, i), designation)) {
      found = true;
      break;
    }
  }
  lilv_nodes_free(values);
  return found;
}

void process_port_free(ProcessPort* record) {
  if (!record) {
    return;
  }
  event_buffer_free(record->event_buffer);
  record->event_buffer = nullptr;
  record->label.clear();
  record->symbol.clear();
}
