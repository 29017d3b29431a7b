#pragma once

// The Host: the one record a run hangs off.  It lives on the stack of main,
// value-initialised, and owns everything it points to except the lilv
// plugin and UI objects (owned by the world) and the front end's record.

#include "host/host_options.hpp"
#include "host/log.hpp"
#include "host/nodes.hpp"
#include "host/port.hpp"
#include "host/urid_mapper.hpp"
#include "host/urids.hpp"

#include <lilv/lilv.h>
#include <vector>
#include <zix/sem.h>

struct Host {
  // Front-end arguments.  suil and the front end may remove arguments they
  // recognise; the core itself never reads them.
  int argc;
  char** argv;

  HostOptions options;

  // LV2 world and vocabulary.
  LilvWorld* world;
  UridMapper* urid_mapper;
  Urids urids;
  Nodes nodes;

  LogContext log;

  /// Posting it asks the run to end; see signals.hpp.
  ZixSem quit_sem;

  const LilvPlugin* plugin; ///< Owned by the world.

  // Ports, indexed by port index.
  std::vector<Port> ports;
  uint32_t num_ports;
};
