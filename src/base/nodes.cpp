#include "base/nodes.hpp"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/port-groups/port-groups.h>
#include <lv2/port-props/port-props.h>
#include <lv2/presets/presets.h>
#include <lv2/resize-port/resize-port.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/worker/worker.h>

namespace {

struct NodeTerm {
  LilvNode* Nodes::*field;
  const char* uri;
};

constexpr NodeTerm node_terms[] = {
    {&Nodes::atom_AtomPort, LV2_ATOM__AtomPort},
    {&Nodes::atom_Chunk, LV2_ATOM__Chunk},
    {&Nodes::atom_Float, LV2_ATOM__Float},
    {&Nodes::atom_Path, LV2_ATOM__Path},
    {&Nodes::atom_Sequence, LV2_ATOM__Sequence},
    {&Nodes::lv2_AudioPort, LV2_CORE__AudioPort},
    {&Nodes::lv2_CVPort, LV2_CORE__CVPort},
    {&Nodes::lv2_ControlPort, LV2_CORE__ControlPort},
    {&Nodes::lv2_InputPort, LV2_CORE__InputPort},
    {&Nodes::lv2_OutputPort, LV2_CORE__OutputPort},
    {&Nodes::lv2_connectionOptional, LV2_CORE__connectionOptional},
    {&Nodes::lv2_control, LV2_CORE__control},
    {&Nodes::lv2_default, LV2_CORE__default},
    {&Nodes::lv2_designation, LV2_CORE__designation},
    {&Nodes::lv2_enumeration, LV2_CORE__enumeration},
    {&Nodes::lv2_integer, LV2_CORE__integer},
    {&Nodes::lv2_latency, LV2_CORE__latency},
    {&Nodes::lv2_maximum, LV2_CORE__maximum},
    {&Nodes::lv2_minimum, LV2_CORE__minimum},
    {&Nodes::lv2_name, LV2_CORE__name},
    {&Nodes::lv2_reportsLatency, LV2_CORE__reportsLatency},
    {&Nodes::lv2_sampleRate, LV2_CORE__sampleRate},
    {&Nodes::lv2_symbol, LV2_CORE__symbol},
    {&Nodes::lv2_toggled, LV2_CORE__toggled},
    {&Nodes::midi_MidiEvent, LV2_MIDI__MidiEvent},
    {&Nodes::pg_group, LV2_PORT_GROUPS__group},
    {&Nodes::pprops_logarithmic, LV2_PORT_PROPS__logarithmic},
    {&Nodes::pprops_notOnGUI, LV2_PORT_PROPS__notOnGUI},
    {&Nodes::pprops_rangeSteps, LV2_PORT_PROPS__rangeSteps},
    {&Nodes::pset_Preset, LV2_PRESETS__Preset},
    {&Nodes::pset_bank, LV2_PRESETS__bank},
    {&Nodes::rdfs_comment, LILV_NS_RDFS "comment"},
    {&Nodes::rdfs_label, LILV_NS_RDFS "label"},
    {&Nodes::rdfs_range, LILV_NS_RDFS "range"},
    {&Nodes::rsz_minimumSize, LV2_RESIZE_PORT__minimumSize},
    {&Nodes::state_threadSafeRestore, LV2_STATE__threadSafeRestore},
    {&Nodes::time_Position, LV2_TIME__Position},
    {&Nodes::time_beatsPerMinute, LV2_TIME__beatsPerMinute},
    {&Nodes::worker_interface, LV2_WORKER__interface},
};

static_assert(sizeof(node_terms) / sizeof(node_terms[0]) == sizeof(Nodes) / sizeof(LilvNode*),
              "every field of Nodes is made");

} // namespace

void make_nodes(LilvWorld* world, Nodes* nodes) {
  for (const NodeTerm& term : node_terms) {
    nodes->*term.field = lilv_new_uri(world, term.uri);
  }
}

void free_nodes(Nodes* nodes) {
  for (const NodeTerm& term : node_terms) {
    LilvNode*& node = nodes->*term.field;
    if (!node) {
      return;
    }
    lilv_node_free(node);
    node = nullptr;
  }
}
