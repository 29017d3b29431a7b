#pragma once

// A full set of values for the params fixtures, for tests that change every
// value, save, restore and compare.

#include "harness/host_rig.hpp"

#include <cstdint>
#include <string>

struct ParamsValues {
  float gain, mix, depth; // control input ports
  int32_t i;
  int64_t l;
  float f;
  double d;
  bool b;
  std::string s;
  std::string path; // a file of the params bundle, by name
  int32_t mixed;
};

/// The values the round trips save, and the ones they change to before
/// restoring.  Their gain times mix differ, so the plugin's level output
/// tells which ports it has.
extern const ParamsValues saved_values;
extern const ParamsValues changed_values;

/// The absolute path of a file in the bundle of the host's plugin.
std::string bundle_file(HostRig& rig, const std::string& name);

/// Send every value: the ports through ui_ring, the properties as patch:Set.
/// Returns 0 when every message was written.
int send_params_values(HostRig& rig, const ParamsValues& v);

/// What differs between the host's controls and `v`, or an empty string.
/// Ports are compared in control_values, so the audio thread must have
/// caught up (see wait_for_params_values).
std::string params_difference(HostRig& rig, const ParamsValues& v);

/// Run periodic updates until the controls hold `v` and the plugin's level output shows
/// that its ports do; true when that happened in time.
bool wait_for_params_values(HostRig& rig, const ParamsValues& v);
