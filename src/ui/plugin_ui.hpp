#pragma once

// The plugin's own UI, hosted through suil inside a parent widget that the
// front end provides.  Main thread only.

#include <cstdint>
#include <lilv/lilv.h>

struct UiHost;

/// Make the suil host and instantiate the chosen UI (`host->ui`) for the
/// front end's widget type `container_type`, inside `parent`.  Sets
/// `ui_host`, and `ui_instance` when suil could instantiate the UI (nothing
/// is logged when it could not: the front end shows the generic panel).
void plugin_ui_create(UiHost* host, const char* container_type, void* parent);

/// Whether the UI lets the user resize it: false without a UI, and for a
/// UI that lists `ui:fixedSize` or `ui:noUserResize` as optional features.
bool plugin_ui_resizable(LilvWorld* world, const LilvUI* ui);

/// The index of the port with this symbol, or UINT32_MAX: the port-index
/// function that suil hands to plugin UIs.
uint32_t port_index_by_symbol(UiHost* host, const char* symbol);
