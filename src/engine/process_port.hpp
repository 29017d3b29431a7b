#pragma once

// The audio thread's record of one plugin port: what the cycle and the
// backend need to know about it, read from the plugin's data once at open.

#include "base/nodes.hpp"
#include "base/port.hpp"

#include <cstdint>
#include <lilv/lilv.h>
#include <string>

struct EventBuffer;

struct ProcessPort {
  PortType type;
  PortFlow flow;
  void* jack_port;           ///< The backend's port, once registered.
  void* backend_buffer;      ///< The backend's buffer of an event output, this cycle.
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

/// Describe `port` in `record`.  Returns 0, or 1 when the port is of
/// unknown kind or direction and not lv2:connectionOptional: the plugin
/// cannot run.
int process_port_init(ProcessPort* record, const Nodes* nodes, const LilvPlugin* plugin,
                      const LilvPort* port);

/// True when one of the port's lv2:designation values is `designation`.
bool port_has_designation(const Nodes* nodes, const LilvPlugin* plugin, const LilvPort* port,
                          const LilvNode* designation);

/// Free the port's event buffer, label and symbol.  Null is allowed.
void process_port_free(ProcessPort* record);
