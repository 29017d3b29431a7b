#include "ui/ui_update.hpp"

#include "engine/message.hpp"
#include "state/atom_dumper.hpp"
#include "state/control.hpp"
#include "state/property.hpp"
#include "state/ui_writes.hpp"
#include "ui/ui_host.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <suil/suil.h>

namespace {

// Dumper colours: cyan towards the plugin, magenta from it.
constexpr int to_plugin_colour = 36;
constexpr int from_plugin_colour = 35;

// Blank and Resource are the old spellings of Object, still sent by some
// plugins and UIs.
bool is_object_type(UiHost* host, uint32_t type) {
  return type == host->urids.atom_Object ||
         type == locked_map(host->urid_mapper, LV2_ATOM__Blank) ||
         type == locked_map(host->urid_mapper, LV2_ATOM__Resource);
}

// A plugin tells of a change to its state that no port shows with an
// object of type state:StateChanged.
bool reports_state_change(UiHost* host, const LV2_Atom* atom) {
  return is_object_type(host, atom->type) && atom->size >= sizeof(LV2_Atom_Object_Body) &&
         reinterpret_cast<const LV2_Atom_Object*>(atom)->body.otype ==
             locked_map(host->urid_mapper, LV2_STATE__StateChanged);
}

// Objects inside objects deeper than this are not followed; patch
// messages nest two deep.
constexpr int max_object_depth = 8;

// Whether every property of an object, and of the objects among its values,
// lies whole inside it.  The sizes come from the UI or the plugin, and the
// property walk trusts them, so one that claims more than the object holds
// would take what lies past the message for a value.
bool object_is_whole(UiHost* host, const uint8_t* body, uint32_t size, int depth) {
  if (size < sizeof(LV2_Atom_Object_Body) || depth > max_object_depth) {
    return false;
  }
  constexpr uint32_t property_head = sizeof(LV2_Atom_Property_Body);
  for (uint32_t offset = sizeof(LV2_Atom_Object_Body); offset < size;) {
    if (size - offset < property_head) {
      return false;
    }
    const auto* property = reinterpret_cast<const LV2_Atom_Property_Body*>(body + offset);
    const uint32_t value_size = property->value.size;
    if (value_size > size - offset - property_head ||
        (is_object_type(host, property->value.type) &&
         !object_is_whole(host, body + offset + property_head, value_size, depth + 1))) {
      return false;
    }
    offset += lv2_atom_pad_size(property_head + value_size);
  }
  return true;
}

bool is_whole_object(UiHost* host, const LV2_Atom* atom) {
  return object_is_whole(host, static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(atom)), atom->size,
                         0);
}

const char* uri_or_empty(const char* uri) {
  return uri ? uri : "";
}

void log_write_failure(UiHost* host, ZixStatus status) {
  host_log(&host->log, LOG_LEVEL_ERROR, "Failed to write to plugin from UI (%s)",
           zix_strerror(status));
}

void show_control(UiHost* host, Control* control) {
  control_hook_call(host->show_control, control);
}

// What the periodic update does with one message of process_ring; false
// when reading failed and the rest must wait for the next update.
bool deliver_message(UiHost* host, const MessageHeader& header, bool* latency_changed) {
  ZixRing* ring = host->process.process_ring;
  if (header.type != CONTROL_CHANGE && header.type != EVENT_TRANSFER &&
      header.type != LATENCY_CHANGE) {
    host_log(&host->log, LOG_LEVEL_ERROR, "%s", "Unknown message type in process ring");
    return false;
  }
  // A body that does not fit the receive buffer, or is too short for its
  // type, is skipped whole, so that the ring stays in step.
  const size_t min_size =
      header.type == EVENT_TRANSFER ? sizeof(uint32_t) + sizeof(LV2_Atom) : sizeof(float);
  if (header.size < min_size || header.size > host->ui_read_buf_size) {
    zix_ring_skip(ring, header.size);
    host_log(&host->log, LOG_LEVEL_ERROR, "%s", "Failed to read message from process ring");
    return false;
  }
  if (zix_ring_read(ring, host->ui_read_buf, header.size) != header.size) {
    host_log(&host->log, LOG_LEVEL_ERROR, "%s", "Failed to read message from process ring");
    return false;
  }

  auto* body = static_cast<uint8_t*>(host->ui_read_buf);
  switch (header.type) {
  case CONTROL_CHANGE: {
    ControlChange change{};
    std::memcpy(&change, body, sizeof(change));
    plugin_ui_deliver(host, change.port_index, 4, 0, body + offsetof(ControlChange, value));
    break;
  }
  case EVENT_TRANSFER: {
    uint32_t port_index = 0;
    std::memcpy(&port_index, body, sizeof(port_index));
    const auto* atom = reinterpret_cast<const LV2_Atom*>(body + sizeof(port_index));
    if (sizeof(port_index) + sizeof(LV2_Atom) + atom->size > header.size) {
      host_log(&host->log, LOG_LEVEL_ERROR, "%s", "Failed to read message from process ring");
      return true; // consumed whole; the ring is still in step
    }
    atom_dumper_dump(host->atom_dumper, stdout, "Plugin => UI", atom, from_plugin_colour);
    if (reports_state_change(host, atom)) {
      ++host->changes;
    }
    plugin_ui_deliver(host, port_index, static_cast<uint32_t>(sizeof(LV2_Atom) + atom->size),
                      host->urids.atom_eventTransfer, atom);
    break;
  }
  case LATENCY_CHANGE:
    *latency_changed = true;
    break;
  }
  return true;
}

// Prints "symbol = value" when an output control's value changes; the
// plugin sends outputs at every update, changed or not.
void print_output_change(UiHost* host, const Control* control, uint32_t size, const void* body) {
  if (!control->is_readable || size != sizeof(float)) {
    return;
  }
  float value = 0.0f;
  std::memcpy(&value, body, sizeof(value));
  const bool had_value = control->value.type == host->urids.atom_Float;
  if (had_value && control_value_to_double(&control->value, &host->forge) == value) {
    return;
  }
  std::printf("%s = %f\n", lilv_node_as_string(control->symbol.get()), value);
  std::fflush(stdout);
}

} // namespace

namespace {

void write_float(UiHost* host, uint32_t port_index, uint32_t buffer_size, const void* buffer) {
  if (buffer_size != sizeof(float)) {
    log_write_failure(host, ZIX_STATUS_BAD_ARG);
    return;
  }
  float value = 0.0f;
  std::memcpy(&value, buffer, sizeof(value));
  if (const ZixStatus status = send_control_change(host, port_index, value)) {
    log_write_failure(host, status);
  }
  ++host->changes;
}

void write_atom(UiHost* host, uint32_t port_index, uint32_t buffer_size, const void* buffer) {
  const auto* atom = static_cast<const LV2_Atom*>(buffer);
  if (buffer_size < sizeof(LV2_Atom) || sizeof(LV2_Atom) + uint64_t{atom->size} != buffer_size) {
    log_write_failure(host, ZIX_STATUS_BAD_ARG);
    return;
  }
  if (is_object_type(host, atom->type)) {
    if (!is_whole_object(host, atom)) {
      log_write_failure(host, ZIX_STATUS_BAD_ARG);
      return;
    }
    const auto* object = reinterpret_cast<const LV2_Atom_Object*>(atom);
    inspect_patch_message(host, object, update_property_value, &host->controls);
    // Setting a property changes the state; a MIDI note or a UI's
    // request for news does not.
    if (object->body.otype == host->urids.patch_Set ||
        object->body.otype == host->urids.patch_Put) {
      ++host->changes;
    }
  }
  atom_dumper_dump(host->atom_dumper, stdout, "UI => Plugin", atom, to_plugin_colour);
  if (!event_fits_ring(host, atom->size)) {
    // No wait would make room for it: the ring is too small, which the
    // user can change.
    host_log(&host->log, LOG_LEVEL_ERROR,
             "UI event of %u bytes is larger than the ring to the plugin (%u bytes)", buffer_size,
             zix_ring_capacity(host->process.ui_ring));
    return;
  }
  // An event that finds no room is counted, and told of once per update.
  send_event(host, port_index, atom->size, atom->type, LV2_ATOM_BODY_CONST(atom));
}

} // namespace

void plugin_ui_write(UiHost* host, uint32_t port_index, uint32_t buffer_size, uint32_t protocol,
                     const void* buffer) {
  if (port_index >= host->num_ports) {
    host_log(&host->log, LOG_LEVEL_ERROR, "UI wrote to invalid port index %u", port_index);
  } else if (protocol == 0) {
    write_float(host, port_index, buffer_size, buffer);
  } else if (protocol == host->urids.atom_eventTransfer) {
    write_atom(host, port_index, buffer_size, buffer);
  } else {
    // Locked: the plugin and its worker may be mapping new URIs meanwhile.
    host_log(&host->log, LOG_LEVEL_ERROR, "UI wrote with unsupported protocol %u (%s)", protocol,
             uri_or_empty(locked_unmap(host->urid_mapper, protocol)));
  }
}

// Builds in ui_read_buf the patch:Set of a property to a value; null when
// the value does not fit, since an object cut short must never be sent.
static const LV2_Atom* forge_patch_set(UiHost* host, uint32_t property, uint32_t size,
                                       uint32_t type, const void* body) {
  const Urids& urids = host->urids;
  LV2_Atom_Forge* forge = &host->forge;
  lv2_atom_forge_set_buffer(forge, static_cast<uint8_t*>(host->ui_read_buf),
                            host->ui_read_buf_size);
  LV2_Atom_Forge_Frame frame;
  auto* set = reinterpret_cast<LV2_Atom*>(lv2_atom_forge_object(forge, &frame, 0, urids.patch_Set));
  lv2_atom_forge_key(forge, urids.patch_property);
  lv2_atom_forge_urid(forge, property);
  lv2_atom_forge_key(forge, urids.patch_value);
  lv2_atom_forge_atom(forge, size, type);
  const bool complete = lv2_atom_forge_write(forge, body, size) != 0;
  lv2_atom_forge_pop(forge, &frame);
  return set && complete ? set : nullptr;
}

int apply_control_value(UiHost* host, Control* control, uint32_t size, uint32_t type,
                        const void* body) {
  const uint32_t control_input = host->process.control_input_index;
  const bool send_property =
      !host->ui_updating && control->type == PROPERTY && control_input != UINT32_MAX;
  // A property value is sent as a whole message or not at all; one that
  // cannot be sent is refused before the control takes it.
  const LV2_Atom* set =
      send_property ? forge_patch_set(host, control->index, size, type, body) : nullptr;
  if (send_property && !set) {
    host_log(&host->log, LOG_LEVEL_WARNING, "Value of %s is too large to send (%u bytes)",
             lilv_node_as_string(control->symbol.get()), size);
    return 1;
  }

  if (const int status = control_value_set(&control->value, size, type, body)) {
    return status;
  }
  if (host->ui_updating) {
    return 0; // the value came from the plugin
  }
  if (control->type == PORT) {
    if (type == host->urids.atom_Float) {
      const auto value = static_cast<float>(control_value_to_double(&control->value, &host->forge));
      if (const ZixStatus status = send_control_change(host, control->index, value)) {
        log_write_failure(host, status);
        return status;
      }
      ++host->changes;
    }
    return 0;
  }
  if (set) {
    plugin_ui_write(host, control_input, static_cast<uint32_t>(sizeof(LV2_Atom) + set->size),
                    host->urids.atom_eventTransfer, set);
  }
  return 0; // without a control input the value is only kept
}

void plugin_ui_deliver(UiHost* host, uint32_t port_index, uint32_t buffer_size, uint32_t protocol,
                       const void* buffer) {
  if (host->ui_instance) {
    suil_instance_port_event(host->ui_instance, port_index, buffer_size, protocol, buffer);
  }
  if (protocol == 0) {
    if (Control* control = find_port_control(&host->controls, port_index)) {
      if (host->print_controls) {
        print_output_change(host, control, buffer_size, buffer);
      }
      control_value_set(&control->value, buffer_size, host->urids.atom_Float, buffer);
      show_control(host, control);
    }
    return;
  }
  const auto* atom = static_cast<const LV2_Atom*>(buffer);
  if (!is_object_type(host, atom->type)) {
    return;
  }
  if (!is_whole_object(host, atom)) {
    // The plugin UI, if any, has it as the plugin sent it; the controls
    // take nothing from it.
    host_log(&host->log, LOG_LEVEL_ERROR, "%s", "Ignoring a malformed object from the plugin");
    return;
  }
  inspect_patch_message(host, reinterpret_cast<const LV2_Atom_Object*>(atom),
                        update_property_value_and_widget, host);
}

void inspect_patch_message(UiHost* host, const LV2_Atom_Object* object, PropertyValueSink callback,
                           void* data) {
  const Urids& urids = host->urids;
  // Its callers check the object already, but one cut short has no type to
  // read, and a property that claims more than the object holds would be
  // taken for a value; so the inspection checks for itself.
  if (!is_whole_object(host, &object->atom)) {
    host_log(&host->log, LOG_LEVEL_WARNING, "%s", "Ignoring a malformed patch message");
    return;
  }
  if (object->body.otype == urids.patch_Set) {
    const LV2_Atom* property = nullptr;
    const LV2_Atom* value = nullptr;
    lv2_atom_object_get(object, urids.patch_property, &property, urids.patch_value, &value, 0);
    if (!property) {
      host_log(&host->log, LOG_LEVEL_WARNING, "patch:Set message with no property");
    } else if (property->type != host->forge.URID || property->size < sizeof(LV2_URID)) {
      host_log(&host->log, LOG_LEVEL_WARNING, "patch:Set property is not a URID");
    } else if (value) { // a Set without a value sets nothing
      callback(reinterpret_cast<const LV2_Atom_URID*>(property)->body, value, data);
    }
  } else if (object->body.otype == urids.patch_Put) {
    const LV2_Atom* body = nullptr;
    lv2_atom_object_get(object, urids.patch_body, &body, 0);
    if (!body) {
      host_log(&host->log, LOG_LEVEL_WARNING, "patch:Put message with no body");
    } else if (!is_object_type(host, body->type)) {
      host_log(&host->log, LOG_LEVEL_WARNING, "patch:Put body is not an object");
    } else {
      LV2_ATOM_OBJECT_FOREACH(reinterpret_cast<const LV2_Atom_Object*>(body), property) {
        callback(property->key, &property->value, data);
      }
    }
  }
}

void plugin_ui_start(UiHost* host) {
  for (uint32_t i = 0; i < host->num_ports; ++i) {
    if (host->ports[i].type == TYPE_CONTROL) {
      if (Control* control = find_port_control(&host->controls, i)) {
        show_control(host, control);
      }
    }
  }

  const uint32_t control_input = host->process.control_input_index;
  if (control_input == UINT32_MAX) {
    return;
  }
  alignas(LV2_Atom) std::array<uint8_t, 32> buffer{};
  LV2_Atom_Forge* forge = &host->forge;
  lv2_atom_forge_set_buffer(forge, buffer.data(), buffer.size());
  LV2_Atom_Forge_Frame frame;
  auto* get =
      reinterpret_cast<LV2_Atom*>(lv2_atom_forge_object(forge, &frame, 0, host->urids.patch_Get));
  lv2_atom_forge_pop(forge, &frame);
  plugin_ui_write(host, control_input, static_cast<uint32_t>(sizeof(LV2_Atom) + get->size),
                  host->urids.atom_eventTransfer, get);
}

bool deliver_plugin_output(UiHost* host) {
  bool latency_changed = false;
  host->ui_updating = true;
  ZixRing* ring = host->process.process_ring;
  const uint32_t readable = zix_ring_read_space(ring);
  for (uint32_t consumed = 0; consumed < readable;) {
    MessageHeader header{};
    if (zix_ring_read(ring, &header, sizeof(header)) != sizeof(header)) {
      host_log(&host->log, LOG_LEVEL_ERROR, "%s", "Failed to read header from process ring");
      break;
    }
    consumed += sizeof(header) + header.size;
    if (!deliver_message(host, header, &latency_changed)) {
      break;
    }
  }
  host->ui_updating = false;
  return latency_changed;
}

int update_property_value_and_widget(LV2_URID property, const LV2_Atom* value, void* data) {
  auto* host = static_cast<UiHost*>(data);
  Control* control = find_property_control(&host->controls, property);
  if (!control) {
    return 0;
  }
  const int status = control_value_set(&control->value, value->size, value->type, value + 1);
  show_control(host, control);
  return status;
}

void show_restored_control(void* data, Control* control) {
  auto* host = static_cast<UiHost*>(data);
  if (host->ui_instance && control->type == PORT) {
    const auto value = static_cast<float>(control_value_to_double(&control->value, &host->forge));
    suil_instance_port_event(host->ui_instance, control->index, sizeof(value), 0, &value);
  }
  const bool updating = host->ui_updating;
  host->ui_updating = true; // a widget moved now must not send the value back
  show_control(host, control);
  host->ui_updating = updating;
}
