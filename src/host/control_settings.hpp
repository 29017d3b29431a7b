#pragma once

// Initial control values from the command line ("symbol=value"), applied
// once the plugin is in its initial state and before it runs.

struct Host;

/// Apply every setting of the `controls` option in order, warning about
/// those that are malformed or name no control.
void apply_control_settings(Host* host);
