#pragma once

// The list of the plugin's presets in bexo-gtk's menus: presets without a
// bank first, in lilv's order, then one submenu per bank, sorted by name.
// Choosing one runs "win.load-preset" with its URI.

#include <gio/gio.h>

struct Host;

/// Append the plugin's presets to `menu`.
void fill_presets_menu(Host* host, GMenu* menu);

/// Empty the front end's presets menu and fill it again; nothing without one.
void refill_presets_menu(Host* host);

/// The "win.load-preset" handler (data: the Host): restore the preset whose
/// URI is `parameter`, unless it is the current one already.
void load_preset(GSimpleAction* action, GVariant* parameter, gpointer host);
