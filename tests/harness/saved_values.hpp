#pragma once

// What a saved state or preset file holds, read with lilv as another host
// would read it, for tests that check what a program saved.

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>
#include <map>
#include <string>

/// The float port values of the state file at `path` by symbol; empty when
/// lilv cannot read it as a state.
inline std::map<std::string, float> saved_port_values(const std::string& path) {
  struct Map {
    std::map<std::string, LV2_URID> ids;
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri) {
      auto& ids = static_cast<Map*>(handle)->ids;
      return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
    }
  } urids;
  LV2_URID_Map map{&urids, Map::map};
  struct Values {
    std::map<std::string, float> by_symbol;
    LV2_URID atom_float;
  } values{{}, Map::map(&urids, LV2_ATOM__Float)};
  LilvWorld* world = lilv_world_new();
  if (LilvState* state = lilv_state_new_from_file(world, &map, nullptr, path.c_str())) {
    lilv_state_emit_port_values(
        state,
        [](const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
          auto* v = static_cast<Values*>(data);
          if (type == v->atom_float && size == sizeof(float)) {
            v->by_symbol[symbol] = *static_cast<const float*>(value);
          }
        },
        &values);
    lilv_state_free(state);
  }
  lilv_world_free(world);
  return values.by_symbol;
}

/// The value of the port `symbol` in the state file at `path`; -1 when the
/// file is no state or has no float value for it.
inline float saved_port_value(const std::string& path, const std::string& symbol = "gain") {
  const std::map<std::string, float> values = saved_port_values(path);
  const auto found = values.find(symbol);
  return found == values.end() ? -1.0f : found->second;
}
