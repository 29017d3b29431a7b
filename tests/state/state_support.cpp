#include "state/state_support.hpp"

#include "frontend/test_frontend.hpp"
#include "state/state.hpp"

#include <cstdlib>

std::string param(const char* name) {
  return std::string("urn:bexo:test:params#") + name;
}

TempHome::TempHome() {
  if (const char* home = std::getenv("HOME")) {
    saved = home;
  }
  setenv("HOME", dir.path().c_str(), 1);
}

TempHome::~TempHome() {
  if (saved) {
    setenv("HOME", saved->c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

LilvNodePtr uri_node(HostRig& rig, const std::string& uri) {
  return LilvNodePtr(lilv_new_uri(rig.host.world, uri.c_str()));
}

void load_bundle(HostRig& rig, const std::string& dir) {
  const LilvNodePtr bundle(lilv_new_file_uri(rig.host.world, nullptr, (dir + "/").c_str()));
  lilv_world_load_bundle(rig.host.world, bundle.get());
  scan_presets(&rig.host, nullptr, nullptr); // loads the presets themselves
}

LilvState* preset_state(HostRig& rig, const std::string& uri) {
  scan_presets(&rig.host, nullptr, nullptr);
  const LilvNodePtr node = uri_node(rig, uri);
  return lilv_state_new_from_world(rig.host.world, urid_mapper_get_map(rig.host.urid_mapper),
                                   node.get());
}

bool shown_from_plugin(const Control* control, double value) {
  for (const ShownControl& s : test_frontend().shown) {
    if (s.control == control && s.number == value && s.ui_updating) {
      return true;
    }
  }
  return false;
}
