#pragma once

// The main thread's end of the conversation with the plugin: what a plugin
// UI or the host's own controls set goes to the audio thread through
// ui_ring, and what the plugin outputs comes back through process_ring at
// the UI update rate.  Patch messages passing either way keep the property
// controls current.  Main thread only.

#include "state/property.hpp"

#include <cstdint>
#include <lv2/atom/atom.h>

struct Control;
struct UiHost;

/// What the plugin UI wrote (suil's port write function calls this):
/// validate it and queue it for the plugin.  A write to a port that does
/// not exist, of the wrong size or with an unsupported protocol is logged as
/// an error and dropped.  When ui_ring is full a control value waits for
/// room (see send_control_change) and an event is refused and counted (see
/// send_event).
void plugin_ui_write(UiHost* host, uint32_t port_index, uint32_t buffer_size, uint32_t protocol,
                     const void* buffer);

/// Store a value in a control and, unless it came from the plugin (during
/// an update), send it to the plugin.  Returns 0, or nonzero when the value
/// could not be stored or, for a property, is too large to send (a warning
/// says so; nothing is sent then), or when a port's value could not be
/// sent nor kept for later (logged as an error; the control keeps it).
int apply_control_value(UiHost* host, Control* control, uint32_t size, uint32_t type,
                        const void* body);

/// Hand one output of the plugin to its UI, and to the host's controls.
void plugin_ui_deliver(UiHost* host, uint32_t port_index, uint32_t buffer_size, uint32_t protocol,
                       const void* buffer);

/// Show every port control's value and ask the plugin for its properties.
void plugin_ui_start(UiHost* host);

/// Deliver everything the plugin sent through process_ring since the last
/// call.  A message that cannot be read is logged as an error and ends the
/// pass.  Returns true when the plugin reported a new latency, which the
/// audio backend must then be told of.
bool deliver_plugin_output(UiHost* host);

/// Call `callback` with `data` for each property that a patch:Set or
/// patch:Put sets; warn about malformed ones.
void inspect_patch_message(UiHost* host, const LV2_Atom_Object* object, PropertyValueSink callback,
                           void* data);

/// The property sink for what the plugin reports; `host` is the UiHost.
/// Stores the value in the property's control and shows it.  Returns 0,
/// also when no control has that URID, or 1 when no memory could be had
/// (the control is shown all the same).
int update_property_value_and_widget(LV2_URID property, const LV2_Atom* value, void* host);

/// The StateHost's control_restored hook; `host` is the UiHost.  Hands a
/// restored port value to the plugin UI and shows the control, without
/// sending it back.
void show_restored_control(void* host, Control* control);
