#pragma once

// The kinds of plugin port the host tells apart, and the host side's record
// of one port.  The audio thread's record of a port is the engine's
// ProcessPort; both are indexed by the port index.

#include <cstdint>
#include <lilv/lilv.h>

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
