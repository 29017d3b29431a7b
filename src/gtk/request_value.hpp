#pragma once

// The ui:requestValue feature as bexo-gtk serves it: a plugin UI asks the
// host to let the user choose a value for one of the plugin's parameters,
// which bexo-gtk does for file paths with a file chooser.

#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

struct Host;

/// Serve the feature from `host` to the plugin UI it instantiates next.
void install_request_value(Host* host);

/// The feature's function; `handle` is the Host.  Returns 0 once the
/// chooser was closed, whether a file was chosen (and sent to the plugin)
/// or not; 2 when the plugin has no such parameter, 3 when it is not a
/// path, 1 while the host is busy applying values from the plugin.
LV2UI_Request_Value_Status request_value(LV2UI_Feature_Handle handle, LV2_URID key, LV2_URID type,
                                         const LV2_Feature* const* features);
