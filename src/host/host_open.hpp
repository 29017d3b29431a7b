#pragma once

// Opening the plugin: the one fixed sequence that turns a configured Host
// into an open one, ready to be activated.  host_open runs the steps below
// in their order; they are public so that a host can be opened with
// another audio backend in place of open_audio and connect_ports (the
// tests' own backend does so).  Each step returns 0 or a HostOpenStatus,
// after logging why; a step that fails leaves what it made in place, for
// host_close to release or for the process's end.

#include <lilv/lilv.h>

struct Host;

/// The results of host_open and its steps other than 0.
enum HostOpenStatus : int {
  HOST_OPEN_BAD_OPTION = -1,  ///< A size option is beyond any sane value
  HOST_OPEN_NO_PLUGIN = -2,   ///< State unreadable, nothing picked, plugin not installed
  HOST_OPEN_NO_MEMORY = -3,   ///< No memory for the port buffers, the rings or the UI's buffer
  HOST_OPEN_NO_UI = -5,       ///< The UI asked for is missing or cannot be hosted
  HOST_OPEN_NO_AUDIO = -6,    ///< The audio backend could not be opened
  HOST_OPEN_NO_FEATURES = -7, ///< No memory for the feature list
  HOST_OPEN_BAD_FEATURE = -8, ///< The plugin requires a feature that is not offered
  HOST_OPEN_NO_INSTANCE = -9, ///< The plugin could not be instantiated
  HOST_OPEN_BAD_PORT = -10,   ///< A mandatory port is of no known kind
  HOST_OPEN_NO_SESSION = -11, ///< The session manager refused the program or sent no open
  HOST_OPEN_QUIT = -12,       ///< A signal ended the program before the plugin was chosen
};

/// Open the plugin named by `arg` (a plugin, preset or state URI, or a state
/// file path; none lets the front end pick a plugin) with the JACK backend;
/// in a session (session.hpp), the session manager's open decides first.
/// Needs `frontend` and `backend` set.  Returns 0 or a HostOpenStatus.
/// A front end may let the process end after a failure without host_close.
int host_open(Host* host, const char* arg);

/// The world and vocabulary: settings from the options (refusing absurd
/// sizes), the lilv world with every installed bundle, the URID mapper, the
/// dumper, the hooks between the layers, the feature structures and the
/// main thread's forge.
int open_world(Host* host);

/// The plugin and the state it starts from (`*initial_state`, owned by the
/// caller), its UI, the process state, the workers and the ports.
int open_plugin(Host* host, const char* arg, LilvState** initial_state);

/// Connect to JACK, which fixes the sample rate, block length and MIDI
/// buffer size.
int open_audio(Host* host);

/// With the backend's numbers known: the controls, the ring size and update
/// rate, the options and feature list, the instance, its buffers and rings,
/// the initial state and the command line's control settings.
int open_instance(Host* host, LilvState* initial_state);

/// Connect every port the process state provides for, and register the
/// JACK ports of the rest.
void connect_ports(Host* host);
