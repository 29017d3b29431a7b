#include "state/property.hpp"

#include "state/state_host.hpp"

#include <lv2/atom/atom.h>
#include <lv2/patch/patch.h>

namespace {

float bound(LilvWorld* world, const LilvNode* property, const LilvNode* predicate, float absent) {
  const LilvNodePtr node(lilv_world_get(world, property, predicate, nullptr));
  return node ? lilv_node_as_float(node.get()) : absent;
}

// The accepted value types, in the order a range is tried against them.
uint32_t find_value_type(LilvWorld* world, const LilvNode* property, const Nodes* nodes,
                         LV2_URID_Map* map) {
  static constexpr const char* types[] = {
      LV2_ATOM__Int,  LV2_ATOM__Long,   LV2_ATOM__Float, LV2_ATOM__Double,
      LV2_ATOM__Bool, LV2_ATOM__String, LV2_ATOM__Path,
  };
  for (const char* type : types) {
    const LilvNodePtr node(lilv_new_uri(world, type));
    if (lilv_world_ask(world, property, nodes->rdfs_range, node.get())) {
      return map->map(map->handle, type);
    }
  }
  return 0;
}

Control* find_control_by_node(const ControlList* list, const LilvNode* node) {
  for (const ControlPtr& control : list->controls) {
    if (lilv_node_equals(control->node.get(), node)) {
      return control.get();
    }
  }
  return nullptr;
}

} // namespace

ControlPtr make_property_control(LilvWorld* world, const LilvNode* property, const Nodes* nodes,
                                 LV2_URID_Map* map, const LV2_Atom_Forge* forge) {
  ControlPtr control(new Control{});
  control->type = PROPERTY;
  control->index = map->map(map->handle, lilv_node_as_uri(property));
  control->node.reset(lilv_node_duplicate(property));
  control->symbol.reset(lilv_world_get_symbol(world, property));
  control->label.reset(lilv_world_get(world, property, nodes->rdfs_label, nullptr));

  control->min = bound(world, property, nodes->lv2_minimum, 0.0f);
  control->max = bound(world, property, nodes->lv2_maximum, 1.0f);
  if (const LilvNodePtr def{lilv_world_get(world, property, nodes->lv2_default, nullptr)}) {
    control_value_from_node(&control->value, def.get(), forge);
  }

  control->value_type = find_value_type(world, property, nodes, map);
  control->is_toggle = control->value_type == forge->Bool;
  control->is_integer = control->value_type == forge->Int || control->value_type == forge->Long;
  return control;
}

void discover_properties(StateHost* host, bool writable) {
  const LilvNodePtr writable_node(lilv_new_uri(host->world, LV2_PATCH__writable));
  const LilvNodePtr readable_node(lilv_new_uri(host->world, LV2_PATCH__readable));
  const LilvNode* plugin_uri = lilv_plugin_get_uri(host->plugin);
  LilvNodes* properties = lilv_world_find_nodes(
      host->world, plugin_uri, writable ? writable_node.get() : readable_node.get(), nullptr);
  LV2_URID_Map* map = urid_mapper_get_map(host->urid_mapper);

  LILV_FOREACH(nodes, i, properties) {
    const LilvNode* property = lilv_nodes_get(properties, i);
    if (!writable && lilv_world_ask(host->world, plugin_uri, writable_node.get(), property)) {
      if (Control* made = find_control_by_node(&host->controls, property)) {
        made->is_readable = true;
        continue;
      }
    }

    ControlPtr control =
        make_property_control(host->world, property, &host->nodes, map, &host->forge);
    if (!control->value_type) {
      host_log(&host->log, LOG_LEVEL_WARNING, "Parameter <%s> has unknown value type, ignored",
               lilv_node_as_uri(property));
      continue;
    }
    (writable ? control->is_writable : control->is_readable) = true;
    append_control(&host->controls, std::move(control));
  }
  lilv_nodes_free(properties);
}

int update_property_value(LV2_URID property, const LV2_Atom* value, void* data) {
  auto* controls = static_cast<ControlList*>(data);
  Control* control = find_property_control(controls, property);
  return control ? control_value_set(&control->value, value->size, value->type, value + 1) : 0;
}
