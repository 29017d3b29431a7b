#include "faults_rig.hpp"

#include "state/control.hpp"

#include <thread>

LilvState* controls_state(HostRig& rig, const std::vector<std::pair<std::string, float>>& values,
                          const std::string& plugin, const std::string& properties) {
  std::string ttl = "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                    "@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .\n"
                    "<urn:bexo:test:faults#state> a pset:Preset ;\n"
                    "  lv2:appliesTo <" +
                    plugin + ">";
  for (const auto& [symbol, value] : values) {
    ttl += " ;\n  lv2:port [ lv2:symbol \"" + symbol + "\" ; pset:value " + std::to_string(value) +
           " ]";
  }
  if (!properties.empty()) {
    ttl += " ;\n  state:state [ " + properties + " ]";
  }
  ttl += " .\n";
  LV2_URID_Map* map = urid_mapper_get_map(rig.host.urid_mapper);
  return lilv_state_new_from_string(rig.host.world, map, ttl.c_str());
}

double control_value(HostRig& rig, const char* symbol) {
  const Control* control = rig.control(symbol);
  return control ? control_value_to_double(&control->value, &rig.host.forge) : -1.0;
}

void run_updates(HostRig& rig, std::chrono::milliseconds length) {
  const auto end = std::chrono::steady_clock::now() + length;
  while (std::chrono::steady_clock::now() < end) {
    rig.update();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
