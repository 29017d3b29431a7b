// Patch inspection and the atom dumper on one atom from a hostile side.
// The outer atom's size always agrees with the input's length, as the host
// checks that before either runs; everything inside it (nested objects,
// vectors, tuples, their sizes and types) comes from the input.  Both
// property sinks the host uses run: the one for values on their way to the
// plugin and the one for values the plugin reports.

#include "fuzz_host.hpp"
#include "fuzz_targets.hpp"
#include "state/atom_dumper.hpp"
#include "state/control.hpp"
#include "ui/ui_update.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <lv2/atom/atom.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <memory>

namespace {

// The outer types worth steering towards; byte 0 of the input picks one,
// or past the table any type from the next four bytes.
constexpr std::array<const char*, 20> outer_types{
    LV2_ATOM__Object, LV2_ATOM__Blank,    LV2_ATOM__Resource, LV2_ATOM__Tuple,
    LV2_ATOM__Vector, LV2_ATOM__Sequence, LV2_ATOM__Property, LV2_ATOM__Int,
    LV2_ATOM__Long,   LV2_ATOM__Float,    LV2_ATOM__Double,   LV2_ATOM__Bool,
    LV2_ATOM__String, LV2_ATOM__Literal,  LV2_ATOM__Path,     LV2_ATOM__URI,
    LV2_ATOM__URID,   LV2_ATOM__Chunk,    LV2_ATOM__Event,    LV2_MIDI__MidiEvent};

bool is_object_type(HostRig* rig, uint32_t type) {
  return type == rig->map(LV2_ATOM__Object) || type == rig->map(LV2_ATOM__Blank) ||
         type == rig->map(LV2_ATOM__Resource);
}

} // namespace

int fuzz_atoms(const uint8_t* data, size_t size) {
  static HostRig* rig = fuzz_open_rig("urn:bexo:test:params", true);
  fuzz_reset(rig);
  UiHost* host = &rig->host;

  FuzzInput input(data, size);
  const uint8_t pick = input.byte();
  const uint32_t type = pick < outer_types.size() ? rig->map(outer_types[pick]) : input.u32();
  const std::vector<uint8_t> body = input.take(UINT32_MAX - sizeof(LV2_Atom));

  // One block of exactly header and body, so that a read past it is caught.
  const size_t length = sizeof(LV2_Atom) + body.size();
  const std::unique_ptr<uint64_t[]> block(new uint64_t[(length + 7) / 8]);
  auto* atom = reinterpret_cast<LV2_Atom*>(block.get());
  atom->size = static_cast<uint32_t>(body.size());
  atom->type = type;
  if (!body.empty()) {
    std::memcpy(atom + 1, body.data(), body.size());
  }

  if (is_object_type(rig, type)) {
    const auto* object = reinterpret_cast<const LV2_Atom_Object*>(atom);
    inspect_patch_message(host, object, update_property_value, &host->controls);
    inspect_patch_message(host, object, update_property_value_and_widget, host);
  }
  atom_dumper_dump(host->atom_dumper, stdout, "fuzz", atom, 0);

  // Whatever the atom held, each property control keeps a value whose body
  // is as large as its size says (a stored value is read back whole).
  for (const ControlPtr& control : host->controls.controls) {
    const ControlValue& value = control->value;
    if (value.size) {
      FUZZ_CHECK(control_value_body(&value) != nullptr, "a stored value has a body");
      volatile uint8_t last =
          static_cast<const uint8_t*>(control_value_body(&value))[value.size - 1];
      (void)last;
    }
  }
  return 0;
}
