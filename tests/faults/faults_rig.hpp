#pragma once

// What the fault tests that open a rig on the private server share: the
// controls fixture running under a name of the test's own, states made from
// Turtle with the port values a case needs, and the value of a control as
// the UI side holds it.

#include "harness/host_rig.hpp"
#include "jack_server.hpp"

#include <lilv/lilv.h>
#include <string>
#include <utility>
#include <vector>

inline constexpr char controls_uri[] = "urn:bexo:test:controls";

/// A state of the plugin (the controls fixture unless told) with these port
/// values, and `properties` (Turtle: "<uri> value ; ...") as the plugin's
/// own state, as a preset file would hold it; the caller frees it.  Null
/// when lilv could not read it.
LilvState* controls_state(HostRig& rig, const std::vector<std::pair<std::string, float>>& values,
                          const std::string& plugin = controls_uri,
                          const std::string& properties = "");

/// The float value the UI side holds for a control; -1 without the control.
double control_value(HostRig& rig, const char* symbol);

/// Periodic updates for `length`, as the main loop would run them.
void run_updates(HostRig& rig, std::chrono::milliseconds length);
