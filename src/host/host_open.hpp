#pragma once

// Opening the plugin: the one fixed sequence that turns a configured Host
// into an open one, ready to be activated.

struct Host;

/// The results of host_open other than 0.
enum HostOpenStatus : int {
  HOST_OPEN_BAD_OPTION = -1,  ///< A size option is beyond any sane value
  HOST_OPEN_NO_PLUGIN = -2,   ///< State unreadable, nothing picked, plugin not installed
  HOST_OPEN_NO_UI = -5,       ///< The UI asked for is missing or cannot be hosted
  HOST_OPEN_NO_AUDIO = -6,    ///< The audio backend could not be opened
  HOST_OPEN_NO_FEATURES = -7, ///< No memory for the feature list
  HOST_OPEN_BAD_FEATURE = -8, ///< The plugin requires a feature that is not offered
  HOST_OPEN_NO_INSTANCE = -9, ///< The plugin could not be instantiated
  HOST_OPEN_BAD_PORT = -10,   ///< A mandatory port is of no known kind
};

/// Open the plugin named by `arg` (a plugin, preset or state URI, or a state
/// file path; none lets the front end pick a plugin).  Returns 0, or a
/// HostOpenStatus after logging why.  A failed open leaves what it made in
/// place: the process then ends without host_close.
int host_open(Host* host, const char* arg);
