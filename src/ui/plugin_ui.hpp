#pragma once

// The plugin's own UI, hosted through suil inside a parent widget that the
// front end provides.  Main thread only.

#include <lilv/lilv.h>

struct Host;

/// Make the suil host and instantiate the chosen UI (`host->ui`) for the
/// front end's widget type `container_type`, inside `parent`.  Sets
/// `ui_host`, and `ui_instance` when suil could instantiate the UI (nothing
/// is logged when it could not: the front end shows the generic panel).
void plugin_ui_create(Host* host, const char* container_type, void* parent);

/// Whether the UI lets the user resize it: false without a UI, and for a
/// UI that lists `ui:fixedSize` or `ui:noUserResize` as optional features.
bool plugin_ui_resizable(LilvWorld* world, const LilvUI* ui);
