#pragma once

// The plugin's ports, each described twice: a Port for the host side and a
// ProcessPort, the runtime record that the audio thread and the backend use.

#include "host/nodes.hpp"

#include <cstdint>
#include <lilv/lilv.h>
#include <string>

struct EventBuffer;
struct Host;

enum PortType : uint32_t {
  TYPE_UNKNOWN = 0,
  TYPE_CONTROL = 1,
  TYPE_AUDIO = 2,
  TYPE_EVENT = 3,
  TYPE_CV = 4,
};

enum PortFlow : uint32_t {
  FLOW_UNKNOWN = 0,
  FLOW_INPUT = 1,
  FLOW_OUTPUT = 2,
};

struct Port {
  const LilvPort* lilv_port; ///< Owned by the plugin.
  PortType type;
  PortFlow flow;
  void* widget; ///< The front end's widget for this port, owned by it.
  uint32_t index;
};

struct ProcessPort {
  PortType type;
  PortFlow flow;
  void* jack_port;           ///< The backend's port, once registered.
  std::string symbol;        ///< Empty when the port has none.
  std::string label;         ///< Empty when the port has no name.
  EventBuffer* event_buffer; ///< Event ports only, once buffers are made.
  uint32_t buf_size;         ///< rsz:minimumSize in bytes, 0 when not given.
  bool reports_latency;
  bool is_control_designated;
  bool is_bpm;
  bool supports_midi;
  bool supports_pos;
};

/// Describe `port` in `record`.  Returns 1 when the port is of unknown kind
/// or direction and not lv2:connectionOptional: the plugin cannot run.
int process_port_init(ProcessPort* record, const Nodes* nodes, const LilvPlugin* plugin,
                      const LilvPort* port);

/// True when one of the port's lv2:designation values is `designation`.
bool port_has_designation(const Nodes* nodes, const LilvPlugin* plugin, const LilvPort* port,
                          const LilvNode* designation);

/// Free the port's event buffer, label and symbol.  Null is allowed.
void process_port_free(ProcessPort* record);

/// The port with this lv2:symbol, the lowest index first; null when none.
Port* find_port_by_symbol(Host* host, const char* symbol);

/// The index of the port with this symbol, or UINT32_MAX.  This is the
/// port-index function given to plugin UIs.
uint32_t port_index_by_symbol(void* host, const char* symbol);
