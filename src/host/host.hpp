#pragma once

// The Host: the one record a run hangs off.  It lives on the stack of main,
// value-initialised, and owns everything it points to except the lilv
// plugin and UI objects (owned by the world), the backend record (owned by
// main) and the front end's record.  Feature structures point into it, so
// it never moves.

#include "engine/process.hpp"
#include "host/features.hpp"
#include "host/host_options.hpp"
#include "host/host_settings.hpp"
#include "host/log.hpp"
#include "host/nodes.hpp"
#include "host/port.hpp"
#include "host/urid_mapper.hpp"
#include "host/urids.hpp"
#include "state/control.hpp"

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <suil/suil.h>
#include <vector>
#include <zix/sem.h>

struct AtomDumper;
struct Backend;

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

  // Logging and atoms.
  LogContext log;
  LV2_Atom_Forge forge;    ///< For the main thread only.
  AtomDumper* atom_dumper; ///< Only with the dump option.

  // Audio backend and the numbers that plugin, backend and UI share.
  Backend* backend; ///< Allocated and freed by main.
  HostSettings settings;

  // Buffers and semaphores.
  void* ui_read_buf; ///< 8-byte aligned, from zix's default allocator.
  size_t ui_read_buf_size;
  ZixSem worker_lock; ///< Value 1: the lock both workers share.
  ZixSem quit_sem;    ///< Posting it asks the run to end; see signals.hpp.
  char* scratch_dir;  ///< Made on first use; from zix's default allocator.

  // Plugin and UI.
  const LilvPlugin* plugin; ///< Owned by the world.
  LilvNode* plugin_name;
  LilvState* preset; ///< The current preset, or none.
  LilvUIs* uis;
  const LilvUI* ui;
  const LilvNode* ui_type;
  SuilHost* ui_host;
  SuilInstance* ui_instance;
  void* gui_data; ///< The front end's private record, owned by it.

  // Ports, indexed by port index, and the controls.
  std::vector<Port> ports;
  uint32_t num_ports;
  ControlList controls;

  bool thread_safe_restore; ///< The plugin may be restored while it runs.
  bool ui_updating;         ///< Plugin output is being handed to the UI side.

  PluginFeatures features;
  PluginUiFeatures ui_features;

  /// The plugin has been activated and not yet deactivated.
  bool active;

  ProcessState process;
};
