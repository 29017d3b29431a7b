#pragma once

// Which plugin runs, from which state, and which of its UIs the front end
// embeds.  Part of opening the host.

#include <lilv/lilv.h>

struct Host;

/// Find the plugin and the state it starts from.  `arg` names a preset, a
/// saved state or a plugin (its default state) by URI, or a state file by
/// path; without one the front end lets the user pick a plugin.  Sets
/// `plugin` and `*initial_state` (owned by the caller) and logs the plugin.
/// Returns 0, or HOST_OPEN_NO_PLUGIN: a state argument that cannot be read
/// (logged as an error), nothing picked, or a plugin that is not installed.
int choose_plugin(Host* host, const char* arg, LilvState** initial_state);

/// Choose the plugin's own UI: the one the options name, or the first the
/// front end can embed; with the generic-UI option, or when none fits,
/// there is none and the generic panel shows.  Returns 0, or
/// HOST_OPEN_NO_UI after logging that the UI asked for cannot be had.
int choose_ui(Host* host);
