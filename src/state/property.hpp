#pragma once

// Plugin properties: parameters that the plugin lists under patch:writable
// or patch:readable, kept as controls and in step with the patch messages
// that pass between plugin and UI.

#include "state/control.hpp"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/urid/urid.h>

struct StateHost;

/// What the inspection of a patch message calls for each (property, value)
/// pair it finds, with the data the inspection was given.  The result is
/// ignored by the inspection.
using PropertyValueSink = int (*)(LV2_URID property, const LV2_Atom* value, void* data);

/// A new property control.  Its value_type is 0 when the property's range
/// names none of the accepted atom types.
ControlPtr make_property_control(LilvWorld* world, const LilvNode* property, const Nodes* nodes,
                                 LV2_URID_Map* map, const LV2_Atom_Forge* forge);

/// Append a control for every property that the plugin lists as writable
/// (or, with `writable` false, as readable); a property in both lists gets
/// one control, made in the writable pass.  A property whose value type is
/// none of the accepted ones is left out, with a warning.
void discover_properties(StateHost* host, bool writable);

/// Store a value that is on its way to the plugin in the property's
/// control; `controls` is the ControlList.  Returns 0, also when no control
/// has that URID, or 1 when no memory could be had for the value.
int update_property_value(LV2_URID property, const LV2_Atom* value, void* controls);
