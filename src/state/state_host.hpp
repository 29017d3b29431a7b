#pragma once

// The part of the host that controls, properties, presets and state work
// on: the LV2 world and vocabulary, the plugin with its ports and controls,
// the process side, and the feature structures the plugin is given.  The
// UI layer's UiHost extends it and the Host extends that, so a Host is
// passed wherever a StateHost is asked for.  Main thread only, except the
// process state, which the audio thread works on between activation and
// deactivation.

#include "base/host_settings.hpp"
#include "base/log.hpp"
#include "base/nodes.hpp"
#include "base/port.hpp"
#include "base/urid_mapper.hpp"
#include "base/urids.hpp"
#include "engine/process.hpp"
#include "state/control.hpp"
#include "state/features.hpp"
#include "state/ui_writes.hpp"

#include <cstdint>
#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <vector>

/// Receives a control whose value came from the plugin side.  `data` is
/// the hook's own.
struct ControlHook {
  void (*func)(void* data, Control* control);
  void* data;
};

/// Hand `control` to the hook; a hook without a function does nothing.
inline void control_hook_call(const ControlHook& hook, Control* control) {
  if (hook.func) {
    hook.func(hook.data, control);
  }
}

struct StateHost {
  // LV2 world and vocabulary.
  LilvWorld* world;
  UridMapper* urid_mapper;
  Urids urids;
  Nodes nodes;

  LogContext log;
  LV2_Atom_Forge forge; ///< For the main thread only.

  /// The numbers that plugin, backend and UI share.
  HostSettings settings;

  const LilvPlugin* plugin; ///< Owned by the world.
  LilvState* preset;        ///< The current preset, or none.
  char* scratch_dir;        ///< Made on first use; from zix's default allocator.

  // Ports, indexed by port index, and the controls.
  std::vector<Port> ports;
  uint32_t num_ports;
  ControlList controls;

  bool thread_safe_restore; ///< The plugin may be restored while it runs.
  /// A restore gave up waiting for the audio thread to pause: the pause is
  /// in ui_ring, not yet taken.  Until then nothing else may resume it.
  bool pause_pending;

  /// Counts what changed the plugin's state since it was opened: values
  /// the user sent, restored states and presets, and the plugin's own
  /// reports of a change.  Only its changing matters, to tell a saved
  /// setup from one with unsaved changes.
  uint64_t changes;

  /// What the UI side sent the plugin, and the control values waiting
  /// for room in ui_ring.
  UiWrites ui_writes;

  PluginFeatures features;

  /// Told when a restore gave a port control a new value while the audio
  /// thread runs, so that the UI side shows it at once: the audio thread
  /// is then the only writer of process_ring, and the value cannot come
  /// back that way.  Installed with the UI; none shows nothing.
  ControlHook control_restored;

  ProcessState process;
};

/// The port with this lv2:symbol, the lowest index first; null when none.
Port* find_port_by_symbol(StateHost* host, const char* symbol);
