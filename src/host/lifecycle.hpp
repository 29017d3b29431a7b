#pragma once

// The life of an open host: arguments, activation, deactivation and the
// release of everything host_open made, in one fixed order.

struct Host;

/// Keep the program's arguments and let suil take its toolkit options out
/// of them; make the quit semaphore, so a signal can be taken from now on.
void host_init_args(Host* host, int argc, char** argv);

/// Start the worker, activate the plugin and the audio backend, and run.
/// Returns 0, or 1 after logging which of them failed; nothing stays
/// started then.
int host_activate(Host* host);

/// Stop the audio backend, deactivate the plugin and stop the worker.  Safe
/// to call again: only what is active is stopped.  Returns 0.
int host_deactivate(Host* host);

/// Deactivate and release everything host_open made, in one fixed order.
/// After a failed host_open it releases what the open made before it
/// failed (a front end may also just let the process end).  Returns 0; a
/// scratch directory that cannot be removed is logged as a warning.
int host_close(Host* host);
