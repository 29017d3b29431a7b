#include "base/nodes.hpp"
#include "base/urid_mapper.hpp"
#include "base/urids.hpp"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(Urids, FreshMapGivesTheTableItsIdsInOrder) {
  UridMapper* mapper = urid_mapper_new();
  ASSERT_NE(mapper, nullptr);
  Urids urids{};
  map_urids(mapper, &urids);

  EXPECT_EQ(urids.atom_Chunk, 1u);
  EXPECT_EQ(urids.log_Error, 12u);
  EXPECT_EQ(urids.ui_updateRate, 32u);
  EXPECT_EQ(mapper->symbol_map.size, 33u);

  std::array<LV2_URID, 33> fields{};
  static_assert(sizeof(fields) == sizeof(Urids));
  std::memcpy(fields.data(), &urids, sizeof(urids));
  for (LV2_URID i = 0; i < 33; ++i) {
    EXPECT_EQ(fields[i], i + 1) << "field " << i;
  }

  struct Case {
    LV2_URID id;
    const char* uri;
  };
  for (const Case& c : {
           Case{urids.atom_Chunk, "http://lv2plug.in/ns/ext/atom#Chunk"},
           Case{urids.atom_eventTransfer, "http://lv2plug.in/ns/ext/atom#eventTransfer"},
           Case{urids.bufsz_sequenceSize, "http://lv2plug.in/ns/ext/buf-size#sequenceSize"},
           Case{urids.log_Warning, "http://lv2plug.in/ns/ext/log#Warning"},
           Case{urids.midi_MidiEvent, "http://lv2plug.in/ns/ext/midi#MidiEvent"},
           Case{urids.param_sampleRate, "http://lv2plug.in/ns/ext/parameters#sampleRate"},
           Case{urids.patch_value, "http://lv2plug.in/ns/ext/patch#value"},
           Case{urids.time_speed, "http://lv2plug.in/ns/ext/time#speed"},
           Case{urids.ui_scaleFactor, "http://lv2plug.in/ns/extensions/ui#scaleFactor"},
           Case{urids.ui_updateRate, "http://lv2plug.in/ns/extensions/ui#updateRate"},
           Case{urids.bufsz_nominalBlockLength,
                "http://lv2plug.in/ns/ext/buf-size#nominalBlockLength"},
       }) {
    EXPECT_STREQ(urid_mapper_unmap_urid(mapper, c.id), c.uri);
  }

  // Mapping the table again changes nothing.
  Urids again{};
  map_urids(mapper, &again);
  EXPECT_EQ(again.time_frame, urids.time_frame);
  EXPECT_EQ(mapper->symbol_map.size, 33u);
  urid_mapper_free(mapper);
}

TEST(Urids, TermsMappedEarlierKeepTheirIds) {
  UridMapper* mapper = urid_mapper_new();
  ASSERT_NE(mapper, nullptr);
  ASSERT_EQ(urid_mapper_map_uri(mapper, "http://lv2plug.in/ns/ext/patch#Set"), 1u);
  Urids urids{};
  map_urids(mapper, &urids);
  EXPECT_EQ(urids.patch_Set, 1u);
  EXPECT_EQ(urids.atom_Chunk, 2u);
  EXPECT_EQ(urids.ui_updateRate, 32u);
  urid_mapper_free(mapper);
}

class NodesTest : public testing::Test {
protected:
  void SetUp() override { world = lilv_world_new(); }
  void TearDown() override { lilv_world_free(world); }
  LilvWorld* world = nullptr;
};

TEST_F(NodesTest, MakesEveryTermAsAUriNodeAndFreesThemAll) {
  Nodes nodes{};
  make_nodes(world, &nodes);

  std::array<LilvNode*, sizeof(Nodes) / sizeof(LilvNode*)> entries{};
  std::memcpy(entries.data(), &nodes, sizeof(nodes));
  for (size_t i = 0; i < entries.size(); ++i) {
    ASSERT_NE(entries[i], nullptr) << "entry " << i;
    EXPECT_TRUE(lilv_node_is_uri(entries[i])) << "entry " << i;
  }

  struct Case {
    const LilvNode* node;
    const char* uri;
  };
  for (const Case& c : {
           Case{nodes.atom_AtomPort, "http://lv2plug.in/ns/ext/atom#AtomPort"},
           Case{nodes.lv2_ControlPort, "http://lv2plug.in/ns/lv2core#ControlPort"},
           Case{nodes.lv2_connectionOptional, "http://lv2plug.in/ns/lv2core#connectionOptional"},
           Case{nodes.pg_group, "http://lv2plug.in/ns/ext/port-groups#group"},
           Case{nodes.pprops_notOnGUI, "http://lv2plug.in/ns/ext/port-props#notOnGUI"},
           Case{nodes.pset_bank, "http://lv2plug.in/ns/ext/presets#bank"},
           Case{nodes.rdfs_comment, "http://www.w3.org/2000/01/rdf-schema#comment"},
           Case{nodes.rdfs_range, "http://www.w3.org/2000/01/rdf-schema#range"},
           Case{nodes.rsz_minimumSize, "http://lv2plug.in/ns/ext/resize-port#minimumSize"},
           Case{nodes.state_threadSafeRestore, "http://lv2plug.in/ns/ext/state#threadSafeRestore"},
           Case{nodes.time_beatsPerMinute, "http://lv2plug.in/ns/ext/time#beatsPerMinute"},
           Case{nodes.worker_interface, "http://lv2plug.in/ns/ext/worker#interface"},
       }) {
    EXPECT_STREQ(lilv_node_as_uri(c.node), c.uri);
  }

  free_nodes(&nodes);
  std::memcpy(entries.data(), &nodes, sizeof(nodes));
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i], nullptr) << "entry " << i;
  }
}

// The table ends at its first empty entry: nothing after it is touched.
TEST_F(NodesTest, FreeStopsAtTheFirstEmptyEntry) {
  Nodes never_made{};
  free_nodes(&never_made);

  Nodes nodes{};
  LilvNode* after_gap = lilv_new_uri(world, "urn:bexo:test:after-gap");
  nodes.atom_Chunk = after_gap;
  free_nodes(&nodes);
  EXPECT_EQ(nodes.atom_Chunk, after_gap);
  EXPECT_STREQ(lilv_node_as_uri(nodes.atom_Chunk), "urn:bexo:test:after-gap");
  lilv_node_free(after_gap);
}

} // namespace
