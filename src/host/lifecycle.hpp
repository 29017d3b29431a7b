#pragma once

// The life of an open host: arguments, activation, deactivation and the
// release of everything host_open made, in one fixed order.

struct Host;

/// Keep the program's arguments and let suil take its toolkit options out
/// of them; make the quit semaphore, so a signal can be taken from now on.
void host_init_args(Host* host, int argc, char** argv);

/// Start the worker, activate the plugin and the audio backend, and run.
int host_activate(Host* host);

/// Stop the audio backend, deactivate the plugin and stop the worker.  Safe
/// to call again: only what is active is stopped.
int host_deactivate(Host* host);

/// Deactivate and release everything host_open made.  Only after a
/// successful host_open.
int host_close(Host* host);
