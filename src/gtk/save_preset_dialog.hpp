#pragma once

// "win.save-preset-as": the "Save Preset" dialog, which saves the plugin's
// state as a new preset in a bundle of its own under ~/.lv2, named after
// the plugin and the preset.  Main thread only; it runs a nested main loop.

#include <string>

struct Host;

/// A copy of `name` that keeps ASCII letters and digits and has "_" for
/// every other byte (so also for each byte of a non-ASCII character).
std::string sanitize_name(const std::string& name);

/// The bundle directory a preset of this name is saved in: the home
/// directory, ".lv2", then sanitize_name(plugin name + "_" + preset name)
/// with ".preset.lv2".
std::string preset_bundle_path(const Host* host, const std::string& preset_name);

/// Save the plugin's state as the preset `name` into its bundle, which is
/// made when missing; it becomes the current preset and is listed in the
/// presets menu.  Returns 0, or nonzero after a warning saying why it
/// could not be saved.
int save_preset_as(Host* host, const std::string& name);

/// Ask for a name and save the preset under it.
void save_preset_as_dialog(Host* host);
