#pragma once

// The part of the host that hosts the plugin's own UI and carries values
// between the UI side and the plugin: the StateHost with the chosen UI, its
// suil instance and features, and the buffer the plugin's output is read
// into.  The Host extends it.  Main thread only.

#include "state/atom_dumper.hpp"
#include "state/state_host.hpp"

#include <array>
#include <cstddef>
#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <suil/suil.h>

/// The features made for the plugin UI alone, and the list it is given.
/// They live as long as the host, since a UI may read its features later.
struct PluginUiFeatures {
  LV2_Feature parent;
  LV2_Feature instance_access;
  LV2_Feature data_access;
  LV2_Feature idle_interface;
  std::array<const LV2_Feature*, 10> list; ///< Null-terminated.
};

struct UiHost : StateHost {
  void* ui_read_buf; ///< 8-byte aligned, from zix's default allocator.
  size_t ui_read_buf_size;

  LilvUIs* uis;
  const LilvUI* ui;        ///< The chosen UI, or none for the generic panel.
  const LilvNode* ui_type; ///< The chosen UI's widget type.
  SuilHost* ui_host;
  SuilInstance* ui_instance;
  PluginUiFeatures ui_features;

  AtomDumper* atom_dumper; ///< Only with the dump option.
  bool print_controls;     ///< Print each change of an output control.
  bool ui_updating;        ///< Plugin output is being handed to the UI side.

  /// Shows a control's present value in the front end without sending it
  /// back (the front end's gui_show_control); installed by the top of the
  /// core, none shows nothing.
  ControlHook show_control;
};
