#pragma once

// What the state tests share: the params fixtures' property URIs, a home
// directory of the test's own for everything that saves, and the lookups
// that restoring and saving presets need.

#include "harness/files.hpp"
#include "harness/host_rig.hpp"

#include <optional>
#include <string>

struct Control;

/// The URI of a property of the params fixtures.
std::string param(const char* name);

/// Points HOME at a fresh temporary directory while it lives, so that
/// nothing a test saves, nor a process it starts, can reach the user's home.
class TempHome {
public:
  TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;
  ~TempHome();
  const std::string& path() const { return dir.path(); }

private:
  TempDir dir;
  std::optional<std::string> saved;
};

LilvNodePtr uri_node(HostRig& rig, const std::string& uri);

/// Load a saved bundle into the world, and the presets in it.
void load_bundle(HostRig& rig, const std::string& dir);

/// The state of a preset of the rig's plugin, or null.  The caller frees it.
LilvState* preset_state(HostRig& rig, const std::string& uri);

/// Whether the front end was shown `control` holding `value` as a value
/// that came from the plugin side (ui_updating set, so not sent back).
bool shown_from_plugin(const Control* control, double value);
