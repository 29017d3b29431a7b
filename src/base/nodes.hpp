#pragma once

// The lilv URI nodes the host queries plugins with, made once when the plugin
// is opened and owned by the table.  Fields are named after their terms.

#include <lilv/lilv.h>
#include <memory>

/// Frees an owned lilv node.
struct LilvNodeDeleter {
  void operator()(LilvNode* node) const { lilv_node_free(node); }
};
using LilvNodePtr = std::unique_ptr<LilvNode, LilvNodeDeleter>;

struct Nodes {
  LilvNode* atom_AtomPort;
  LilvNode* atom_Chunk;
  LilvNode* atom_Float;
  LilvNode* atom_Path;
  LilvNode* atom_Sequence;
  LilvNode* lv2_AudioPort;
  LilvNode* lv2_CVPort;
  LilvNode* lv2_ControlPort;
  LilvNode* lv2_InputPort;
  LilvNode* lv2_OutputPort;
  LilvNode* lv2_connectionOptional;
  LilvNode* lv2_control;
  LilvNode* lv2_default;
  LilvNode* lv2_designation;
  LilvNode* lv2_enumeration;
  LilvNode* lv2_integer;
  LilvNode* lv2_latency;
  LilvNode* lv2_maximum;
  LilvNode* lv2_minimum;
  LilvNode* lv2_name;
  LilvNode* lv2_reportsLatency;
  LilvNode* lv2_sampleRate;
  LilvNode* lv2_symbol;
  LilvNode* lv2_toggled;
  LilvNode* midi_MidiEvent;
  LilvNode* pg_group;
  LilvNode* pprops_logarithmic;
  LilvNode* pprops_notOnGUI;
  LilvNode* pprops_rangeSteps;
  LilvNode* pset_Preset;
  LilvNode* pset_bank;
  LilvNode* rdfs_comment;
  LilvNode* rdfs_label;
  LilvNode* rdfs_range;
  LilvNode* rsz_minimumSize;
  LilvNode* state_threadSafeRestore;
  LilvNode* time_Position;
  LilvNode* time_beatsPerMinute;
  LilvNode* worker_interface;
};

/// Make every node of the table, in field order.
void make_nodes(LilvWorld* world, Nodes* nodes);

/// Free the nodes in field order, stopping at the first field that holds
/// none, and clear what was freed.  A table that was never made frees
/// nothing.
void free_nodes(Nodes* nodes);
