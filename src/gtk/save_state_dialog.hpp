#pragma once

// "win.save-as": save the plugin's whole state into a folder the user
// chooses, which bexo-gtk opens again when given that folder.  Main thread
// only; the dialogs run nested main loops.

struct Host;

/// Ask for a folder and save the state there; a folder that holds other
/// files is written into only after the user agreed.
void save_state_dialog(Host* host);
