#pragma once

// Plugin state and presets through lilv: the port-value callbacks, the
// make-path feature and its scratch directory, listing presets, restoring a
// state without racing the audio thread, saving and deleting presets.  Main
// thread only.

#include <cstdint>
#include <lilv/lilv.h>
#include <lv2/state/state.h>

struct StateHost;

/// lilv's port-value getter; `host` is the StateHost.  The value of a
/// control input port, or null (with size and type 0) for any other port,
/// which then is not saved.
const void* port_value_get(const char* port_symbol, void* host, uint32_t* size, uint32_t* type);

/// lilv's port-value setter; `host` is the StateHost.  Stores the value in
/// the port's control and gets it to the plugin and to the UI side; a value
/// that cannot be applied is logged as an error.
void port_value_set(const char* port_symbol, void* host, const void* value, uint32_t size,
                    uint32_t type);

/// The state:makePath function; `host` is the StateHost.  A path inside
/// the scratch directory, which is made on first use, with the directories
/// leading to it.  The caller frees the result; null (after a warning) when
/// no scratch directory could be made.
char* make_path(LV2_State_Make_Path_Handle host, const char* path);

/// Receives each labelled preset while presets are listed.  Both nodes
/// belong to lilv and live only during the call; the result is ignored.
using PresetSink = int (*)(StateHost* host, const LilvNode* preset, const LilvNode* label,
                           void* data);

/// Load every preset of the plugin into the world and hand the labelled
/// ones to `sink` (which may be null); a preset without a label is logged
/// as a warning.  Returns 0.
int scan_presets(StateHost* host, PresetSink sink, void* data);

/// Restore `state` into the plugin, pausing the audio thread around it
/// when the plugin cannot be restored while it runs.  Returns 0, or 1
/// after logging why: the audio thread could not be asked to pause, or did
/// not pause within three seconds because the audio server ran no cycle
/// (nothing is restored then), or, after the restore, it could not be
/// asked to resume or to report the plugin's properties.
int restore_state(StateHost* host, LilvState* state);

/// Resume the plugin once the audio thread took a pause that a restore gave
/// up waiting for; nothing otherwise.  For the periodic update, so that the
/// plugin plays again as soon as the server runs cycles again.
void finish_abandoned_pause(StateHost* host);

/// Make the preset the current one and restore it.  Returns 0; -1 when
/// lilv cannot make a state of it (there is then no current preset); or 1
/// when it could not be restored (see restore_state).
int restore_preset(StateHost* host, const LilvNode* preset);

/// The plugin's state now: its control inputs and what it stores through
/// the state interface, with the files it made in the scratch directory
/// copied, and others it refers to linked, into `dir` (which ends in a
/// separator).  The caller frees it; null when lilv could not capture it.
LilvState* capture_state(StateHost* host, const char* dir);

/// Capture the plugin's state and save it into the bundle `dir` as
/// `filename`; it becomes the current preset.  Returns lilv_state_save's
/// result (0 on success), or 1 when the state could not be captured.
int store_preset(StateHost* host, const char* dir, const char* uri, const char* label,
                 const char* filename);

/// Unload and delete the current preset.  Returns 0, or 1 without one.
int erase_current_preset(StateHost* host);
