#pragma once

// The URIDs the host needs on the audio path and in messages, mapped once
// when the plugin is opened.  Fields are named after their terms.

#include <lv2/urid/urid.h>

struct UridMapper;

struct Urids {
  LV2_URID atom_Chunk;
  LV2_URID atom_Float;
  LV2_URID atom_Int;
  LV2_URID atom_Object;
  LV2_URID atom_Path;
  LV2_URID atom_Sequence;
  LV2_URID atom_String;
  LV2_URID atom_eventTransfer;
  LV2_URID bufsz_maxBlockLength;
  LV2_URID bufsz_minBlockLength;
  LV2_URID bufsz_sequenceSize;
  LV2_URID log_Error;
  LV2_URID log_Trace;
  LV2_URID log_Warning;
  LV2_URID midi_MidiEvent;
  LV2_URID param_sampleRate;
  LV2_URID patch_Get;
  LV2_URID patch_Put;
  LV2_URID patch_Set;
  LV2_URID patch_body;
  LV2_URID patch_property;
  LV2_URID patch_value;
  LV2_URID time_Position;
  LV2_URID time_bar;
  LV2_URID time_barBeat;
  LV2_URID time_beatUnit;
  LV2_URID time_beatsPerBar;
  LV2_URID time_beatsPerMinute;
  LV2_URID time_frame;
  LV2_URID time_speed;
  LV2_URID ui_scaleFactor;
  LV2_URID ui_updateRate;
  // Added after the table above was fixed; last, so that the ids of the
  // terms before it stay as they were.
  LV2_URID bufsz_nominalBlockLength;
};

/// Map every URI of the table, in field order, with the unlocked map: with a
/// fresh map the fields get the ids 1 to 33 in order.
void map_urids(UridMapper* mapper, Urids* urids);
