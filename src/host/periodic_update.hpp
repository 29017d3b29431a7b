#pragma once

// The periodic update that a front end runs on its main loop at the UI
// update rate: it ends the run when quitting was asked for, reports what
// the audio thread could only record, and hands the plugin's output to the
// UI side.

struct Host;

/// One tick.  Returns 0 when no world is open, -1 after asking the front
/// end to close (quit_sem was posted), 1 otherwise.
int periodic_update(Host* host);
