#include "state/control.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

bool holds_block(const ControlValue* value) {
  return value->size > sizeof(value->body.bytes);
}

template <typename T>
T read_body(const ControlValue* value) {
  T number{};
  std::memcpy(&number, control_value_body(value), sizeof(T));
  return number;
}

// Ascending; a value that compares with nothing (NaN) goes after all others,
// which keeps the order strict for the sort.
bool point_less(const ScalePoint& a, const ScalePoint& b) {
  if (std::isnan(a.value)) {
    return false;
  }
  return std::isnan(b.value) || a.value < b.value;
}

} // namespace

ControlValue::~ControlValue() {
  control_value_clear(this);
}

int control_value_set(ControlValue* value, uint32_t size, uint32_t type, const void* body) {
  if (size <= sizeof(value->body.bytes)) {
    if (holds_block(value)) {
      std::free(value->body.block);
    }
    value->body.block = nullptr;
    if (size) {
      std::memcpy(value->body.bytes, body, size);
    }
  } else {
    if (!holds_block(value) || value->size < size) {
      // An inline body is never a pointer, so it gets a fresh block.
      void* old = holds_block(value) ? value->body.block : nullptr;
      void* block = std::realloc(old, size);
      if (!block) {
        control_value_clear(value);
        return 1;
      }
      value->body.block = block;
    }
    std::memcpy(value->body.block, body, size);
  }
  value->size = size;
  value->type = type;
  return 0;
}

void control_value_clear(ControlValue* value) {
  if (holds_block(value)) {
    std::free(value->body.block);
  }
  value->body.block = nullptr;
  std::memset(value->body.bytes, 0, sizeof(value->body.bytes));
  value->size = 0;
  value->type = 0;
}

const void* control_value_body(const ControlValue* value) {
  return holds_block(value) ? value->body.block : value->body.bytes;
}

double control_value_to_double(const ControlValue* value, const LV2_Atom_Forge* forge) {
  const uint32_t type = value->type;
  // The size is checked as well: a value stored from a plugin's message may
  // claim a type its body is too short for.
  if (type == forge->Double && value->size >= sizeof(double)) {
    return read_body<double>(value);
  }
  if (type == forge->Float && value->size >= sizeof(float)) {
    return read_body<float>(value);
  }
  if ((type == forge->Int || type == forge->Bool) && value->size >= sizeof(int32_t)) {
    return read_body<int32_t>(value);
  }
  if (type == forge->Long && value->size >= sizeof(int64_t)) {
    return static_cast<double>(read_body<int64_t>(value));
  }
  return 0.0;
}

int control_value_from_node(ControlValue* value, const LilvNode* node,
                            const LV2_Atom_Forge* forge) {
  auto set_string = [value](uint32_t type, const char* string) {
    return control_value_set(value, static_cast<uint32_t>(std::strlen(string) + 1), type, string);
  };
  if (lilv_node_is_uri(node)) {
    const char* uri = lilv_node_as_uri(node);
    if (!std::strncmp(uri, "file:", 5)) {
      char* path = lilv_node_get_path(node, nullptr);
      if (!path) {
        return 1;
      }
      const int status = set_string(forge->Path, path);
      lilv_free(path);
      return status;
    }
    return set_string(forge->URI, uri);
  }
  if (lilv_node_is_string(node)) {
    return set_string(forge->String, lilv_node_as_string(node));
  }
  if (lilv_node_is_float(node)) {
    const float number = lilv_node_as_float(node);
    return control_value_set(value, sizeof(number), forge->Float, &number);
  }
  if (lilv_node_is_int(node)) {
    const int32_t number = lilv_node_as_int(node);
    return control_value_set(value, sizeof(number), forge->Int, &number);
  }
  if (lilv_node_is_bool(node)) {
    const int32_t number = lilv_node_as_bool(node) ? 1 : 0;
    return control_value_set(value, sizeof(number), forge->Bool, &number);
  }
  return 1;
}

void destroy_control(Control* control) {
  delete control;
}

ControlPtr make_port_control(const LilvPlugin* plugin, const LilvPort* port, uint32_t index,
                             const Nodes* nodes, const LV2_Atom_Forge* forge, float sample_rate) {
  ControlPtr control(new Control{});
  control->type = PORT;
  control->index = index;
  control->node.reset(lilv_node_duplicate(lilv_port_get_node(plugin, port)));
  control->symbol.reset(lilv_node_duplicate(lilv_port_get_symbol(plugin, port)));
  control->label.reset(lilv_port_get_name(plugin, port));
  control->group.reset(lilv_port_get(plugin, port, nodes->pg_group));
  control->value_type = forge->Float;

  control->is_writable = lilv_port_is_a(plugin, port, nodes->lv2_InputPort);
  control->is_readable = lilv_port_is_a(plugin, port, nodes->lv2_OutputPort);
  control->is_toggle = lilv_port_has_property(plugin, port, nodes->lv2_toggled);
  control->is_integer = lilv_port_has_property(plugin, port, nodes->lv2_integer);
  control->is_hidden = lilv_port_has_property(plugin, port, nodes->pprops_notOnGUI);
  control->is_enumeration = lilv_port_has_property(plugin, port, nodes->lv2_enumeration);
  control->is_logarithmic = lilv_port_has_property(plugin, port, nodes->pprops_logarithmic);

  LilvNode* def = nullptr;
  LilvNode* min = nullptr;
  LilvNode* max = nullptr;
  lilv_port_get_range(plugin, port, &def, &min, &max);
  const LilvNodePtr def_node(def);
  const LilvNodePtr min_node(min);
  const LilvNodePtr max_node(max);
  // lilv_node_as_float of a missing bound is NaN: an open bound.
  control->min = lilv_node_as_float(min);
  control->max = lilv_node_as_float(max);
  if (lilv_port_has_property(plugin, port, nodes->lv2_sampleRate)) {
    control->min *= sample_rate;
    control->max *= sample_rate;
  }
  if (def) {
    control_value_from_node(&control->value, def, forge);
  }

  if (LilvScalePoints* points = lilv_port_get_scale_points(plugin, port)) {
    control->points.reserve(lilv_scale_points_size(points));
    LILV_FOREACH(scale_points, i, points) {
      const LilvScalePoint* point = lilv_scale_points_get(points, i);
      const LilvNode* value = lilv_scale_point_get_value(point);
      const LilvNode* label = lilv_scale_point_get_label(point);
      if (lilv_node_is_float(value) || lilv_node_is_int(value)) {
        control->points.push_back(
            {lilv_node_as_float(value), label ? lilv_node_as_string(label) : ""});
      }
    }
    std::stable_sort(control->points.begin(), control->points.end(), point_less);
    lilv_scale_points_free(points);
  }
  control->n_points = control->points.size();
  return control;
}

void append_control(ControlList* list, ControlPtr control) {
  try {
    list->controls.push_back(std::move(control));
  } catch (const std::bad_alloc&) {
    // The list stays as it was; the control goes with the argument.
  }
}

void free_controls(ControlList* list) {
  for (ControlPtr& control : list->controls) {
    control.reset();
  }
  list->controls.clear();
}

Control* find_port_control(const ControlList* list, uint32_t port_index) {
  for (const ControlPtr& control : list->controls) {
    if (control->type == PORT && control->index == port_index) {
      return control.get();
    }
  }
  return nullptr;
}

Control* find_control_by_symbol(const ControlList* list, const char* symbol) {
  for (const ControlPtr& control : list->controls) {
    if (control->symbol && !std::strcmp(lilv_node_as_string(control->symbol.get()), symbol)) {
      return control.get();
    }
  }
  return nullptr;
}

Control* find_property_control(const ControlList* list, uint32_t property) {
  for (const ControlPtr& control : list->controls) {
    if (control->type == PROPERTY && control->index == property) {
      return control.get();
    }
  }
  return nullptr;
}
