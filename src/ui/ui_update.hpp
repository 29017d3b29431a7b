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
struct Host;

/// suil's port write function: validate what the UI wrote and queue it for
/// the plugin.  `controller` is the Host.
void plugin_ui_write(void* controller, uint32_t port_index, uint32_t buffer_size, uint32_t protocol,
                     const void* buffer);

/// Store a value in a control and, unless it came from the plugin (during
/// an update), send it to the plugin.  Returns 0, or nonzero when the value
/// could not be stored (nothing is sent then).
int apply_control_value(Host* host, Control* control, uint32_t size, uint32_t type,
                        const void* body);

/// Hand one output of the plugin to its UI, and to the host's controls.
void plugin_ui_deliver(Host* host, uint32_t port_index, uint32_t buffer_size, uint32_t protocol,
                       const void* buffer);

/// Show every port control's value and ask the plugin for its properties.
void plugin_ui_start(Host* host);

/// The periodic update: end the run when quitting was asked for, else
/// deliver everything the plugin sent since the last one.  Returns 0 when no
/// world is open, -1 after asking the front end to close, 1 otherwise.
int periodic_update(Host* host);

/// Call `callback` with `data` for each property that a patch:Set or
/// patch:Put sets; warn about malformed ones.
void inspect_patch_message(Host* host, const LV2_Atom_Object* object, PropertyValueSink callback,
                           void* data);
