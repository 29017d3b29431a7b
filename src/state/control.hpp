#pragma once

// Controls: the values of a plugin that a person can see or set apart from
// its audio and event streams, made from control ports and from plugin
// properties.  All of this runs on the main thread.

#include "base/nodes.hpp"

#include <cstddef>
#include <cstdint>
#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <memory>
#include <string>
#include <vector>

/// An owned atom value: a body of up to 8 bytes lives inline, a larger one
/// in a heap block of its own.  A value-initialised one is empty.
struct ControlValue {
  ControlValue() = default;
  ControlValue(const ControlValue&) = delete;
  ControlValue& operator=(const ControlValue&) = delete;
  ~ControlValue();

  uint32_t size = 0; ///< Body bytes; 0 when empty.
  uint32_t type = 0; ///< Atom type URID of the body; 0 when empty.
  union {
    unsigned char bytes[8];
    void* block;
  } body{};
};

/// Set the value to a copy of `size` bytes of type `type`.  Returns 0, or 1
/// when no memory could be had; the value is then empty.
int control_value_set(ControlValue* value, uint32_t size, uint32_t type, const void* body);

/// Release the body; the value becomes empty.
void control_value_clear(ControlValue* value);

/// The body bytes, inline or on the heap.
const void* control_value_body(const ControlValue* value);

/// The value as a number for the numeric atom types of `forge`; 0 for any
/// other type, an empty value, or a body too short for its type.
double control_value_to_double(const ControlValue* value, const LV2_Atom_Forge* forge);

/// Convert a lilv node: a file URI becomes an atom:Path, any other URI an
/// atom:URI, then strings, floats, integers and booleans.  Returns 0, or 1
/// when the node is of no accepted kind (the value is left as it was).
int control_value_from_node(ControlValue* value, const LilvNode* node, const LV2_Atom_Forge* forge);

struct ScalePoint {
  float value;
  std::string label;
};

enum ControlType : uint32_t {
  PORT = 0,
  PROPERTY = 1,
};

struct Control {
  ControlType type;
  uint32_t index;                 ///< Port index, or the URID of the property.
  LilvNodePtr node;               ///< The port's node, or the property URI.
  LilvNodePtr symbol;             ///< Never null for a port.
  LilvNodePtr label;              ///< May be null.
  LilvNodePtr group;              ///< The port's pg:group; null for properties.
  void* widget;                   ///< The front end's record for this control, owned by it.
  size_t n_points;                ///< Always points.size().
  std::vector<ScalePoint> points; ///< Numeric scale points, ascending by value.
  uint32_t value_type;            ///< Atom type URID of the values; 0 when unknown.
  ControlValue value;
  float min;
  float max;
  bool is_toggle;
  bool is_integer;
  bool is_enumeration;
  bool is_logarithmic;
  bool is_writable;
  bool is_readable;
  bool is_hidden;
};

/// Frees a control and everything it owns.
void destroy_control(Control* control);

struct ControlDeleter {
  void operator()(Control* control) const { destroy_control(control); }
};
using ControlPtr = std::unique_ptr<Control, ControlDeleter>;

/// Every control of the host, in the order they were made.  Positions are
/// stable: nothing is removed before the whole list is freed.
struct ControlList {
  std::vector<ControlPtr> controls;
};

/// A new control for a control port.  Bounds of an lv2:sampleRate port are
/// multiplied by `sample_rate`, its default is not.
ControlPtr make_port_control(const LilvPlugin* plugin, const LilvPort* port, uint32_t index,
                             const Nodes* nodes, const LV2_Atom_Forge* forge, float sample_rate);

/// Add `control` at the end.  When the list cannot grow, it stays as it
/// was and the control is freed.
void append_control(ControlList* list, ControlPtr control);

/// Free every control in list order, then the array.
void free_controls(ControlList* list);

/// The control of the port with this index, or null.
Control* find_port_control(const ControlList* list, uint32_t port_index);

/// The first control, of either kind, with exactly this symbol, or null.
Control* find_control_by_symbol(const ControlList* list, const char* symbol);

/// The property control with this URID, or null; never a port control.
Control* find_property_control(const ControlList* list, uint32_t property);
