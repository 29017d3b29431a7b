#pragma once

// Quitting on SIGINT and SIGTERM.  The handler only posts the host's quit
// semaphore; the periodic UI update notices it and ends the run in order.

#include <zix/sem.h>

/// Point the process-wide quit pointer at `quit_sem`.  Call this before the
/// handler is installed; it is read from the handler and never changed later.
void set_quit_semaphore(ZixSem* quit_sem);

/// Install signal_handler() for SIGINT and SIGTERM (empty mask, no flags).
/// Returns 0, or 1 when the system refused.
int install_signal_handler();

/// Post the quit semaphore, if one is set and `sig` is SIGINT or SIGTERM.
/// Async-signal-safe: it touches nothing else.
void signal_handler(int sig);
