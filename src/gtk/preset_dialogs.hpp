#pragma once

// The window actions that touch presets on disk, and the about dialog.
// Main thread only; a dialog runs a nested main loop.

struct Host;

/// "win.save-preset": save the plugin's state over the current preset,
/// keeping its file, label and URI.  A preset that is not a file, or a
/// save that fails, is logged as a warning.
void save_current_preset(Host* host);

/// "win.delete-preset": ask, then delete the current preset from disk.
/// Either way there is no current preset afterwards.
void delete_preset_dialog(Host* host);

/// "app.about".
void show_about();
