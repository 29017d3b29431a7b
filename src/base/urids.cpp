#include "base/urids.hpp"

#include "base/urid_mapper.hpp"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>
#include <lv2/parameters/parameters.h>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>
#include <lv2/ui/ui.h>

namespace {

struct UridTerm {
  LV2_URID Urids::*field;
  const char* uri;
};

// The order is the order of mapping, so it fixes the ids of a fresh map.
constexpr UridTerm urid_terms[] = {
    {&Urids::atom_Chunk, LV2_ATOM__Chunk},
    {&Urids::atom_Float, LV2_ATOM__Float},
    {&Urids::atom_Int, LV2_ATOM__Int},
    {&Urids::atom_Object, LV2_ATOM__Object},
    {&Urids::atom_Path, LV2_ATOM__Path},
    {&Urids::atom_Sequence, LV2_ATOM__Sequence},
    {&Urids::atom_String, LV2_ATOM__String},
    {&Urids::atom_eventTransfer, LV2_ATOM__eventTransfer},
    {&Urids::bufsz_maxBlockLength, LV2_BUF_SIZE__maxBlockLength},
    {&Urids::bufsz_minBlockLength, LV2_BUF_SIZE__minBlockLength},
    {&Urids::bufsz_sequenceSize, LV2_BUF_SIZE__sequenceSize},
    {&Urids::log_Error, LV2_LOG__Error},
    {&Urids::log_Trace, LV2_LOG__Trace},
    {&Urids::log_Warning, LV2_LOG__Warning},
    {&Urids::midi_MidiEvent, LV2_MIDI__MidiEvent},
    {&Urids::param_sampleRate, LV2_PARAMETERS__sampleRate},
    {&Urids::patch_Get, LV2_PATCH__Get},
    {&Urids::patch_Put, LV2_PATCH__Put},
    {&Urids::patch_Set, LV2_PATCH__Set},
    {&Urids::patch_body, LV2_PATCH__body},
    {&Urids::patch_property, LV2_PATCH__property},
    {&Urids::patch_value, LV2_PATCH__value},
    {&Urids::time_Position, LV2_TIME__Position},
    {&Urids::time_bar, LV2_TIME__bar},
    {&Urids::time_barBeat, LV2_TIME__barBeat},
    {&Urids::time_beatUnit, LV2_TIME__beatUnit},
    {&Urids::time_beatsPerBar, LV2_TIME__beatsPerBar},
    {&Urids::time_beatsPerMinute, LV2_TIME__beatsPerMinute},
    {&Urids::time_frame, LV2_TIME__frame},
    {&Urids::time_speed, LV2_TIME__speed},
    {&Urids::ui_scaleFactor, LV2_UI__scaleFactor},
    {&Urids::ui_updateRate, LV2_UI__updateRate},
    {&Urids::bufsz_nominalBlockLength, LV2_BUF_SIZE__nominalBlockLength},
};

static_assert(sizeof(urid_terms) / sizeof(urid_terms[0]) == sizeof(Urids) / sizeof(LV2_URID),
              "every field of Urids is mapped");

} // namespace

void map_urids(UridMapper* mapper, Urids* urids) {
  for (const UridTerm& term : urid_terms) {
    urids->*term.field = urid_mapper_map_uri(mapper, term.uri);
  }
}
