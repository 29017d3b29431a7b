#pragma once

// Plugin state and presets through lilv: the port-value callbacks, the
// make-path feature and its scratch directory, listing presets, restoring a
// state without racing the audio thread, saving and deleting presets.  Main
// thread only.

#include <cstdint>
#include <lilv/lilv.h>
#include <lv2/state/state.h>

struct Host;

/// lilv's port-value getter: the value of a control input port, or null
/// (with size and type 0) for any other port, which then is not saved.
const void* port_value_get(const char* port_symbol, void* host, uint32_t* size, uint32_t* type);

/// lilv's port-value setter: store the value in the port's control and get
/// it to the plugin and to the UI side.
void port_value_set(const char* port_symbol, void* host, const void* value, uint32_t size,
                    uint32_t type);

/// The state:makePath function: a path inside the scratch directory, which
/// is made on first use.  The caller frees the result; null on failure.
char* make_path(LV2_State_Make_Path_Handle host, const char* path);

/// Receives each labelled preset while presets are listed.  Both nodes
/// belong to lilv and live only during the call; the result is ignored.
using PresetSink = int (*)(Host* host, const LilvNode* preset, const LilvNode* label, void* data);

/// Load every preset of the plugin into the world and hand the labelled
/// ones to `sink` (which may be null).  Returns 0.
int scan_presets(Host* host, PresetSink sink, void* data);

/// Restore `state` into the plugin, pausing the audio thread around it
/// when the plugin cannot be restored while it runs.
void restore_state(Host* host, LilvState* state);

/// Make the preset the current one and restore it.  Returns 0, or -1 when
/// lilv cannot make a state of it (there is then no current preset).
int restore_preset(Host* host, const LilvNode* preset);

/// Capture the plugin's state and save it into the bundle `dir` as
/// `filename`; it becomes the current preset.  Returns lilv_state_save's
/// result.
int store_preset(Host* host, const char* dir, const char* uri, const char* label,
                 const char* filename);

/// Unload and delete the current preset.  Returns 0, or 1 without one.
int erase_current_preset(Host* host);
