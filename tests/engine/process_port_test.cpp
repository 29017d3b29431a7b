#include "base/nodes.hpp"
#include "engine/process_port.hpp"

#include <gtest/gtest.h>
#include <string>

namespace {

class PortTest : public testing::Test {
protected:
  void SetUp() override {
    world = lilv_world_new();
    lilv_world_load_all(world);
    make_nodes(world, &nodes);
  }
  void TearDown() override {
    free_nodes(&nodes);
    lilv_world_free(world);
  }

  const LilvPlugin* plugin(const char* uri) {
    LilvNode* node = lilv_new_uri(world, uri);
    const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
    lilv_node_free(node);
    EXPECT_NE(found, nullptr) << uri;
    return found;
  }

  LilvWorld* world = nullptr;
  Nodes nodes{};
};

TEST_F(PortTest, ClassifiesUnusualDeclarations) {
  const LilvPlugin* ports = plugin("urn:bexo:test:ports");
  ASSERT_NE(ports, nullptr);

  struct Expected {
    const char* symbol;
    PortType type;
    PortFlow flow;
    uint32_t buf_size;
    bool control_designated, reports_latency, bpm, midi, pos;
  };
  const Expected expected[] = {
      {"both_kinds", TYPE_CONTROL, FLOW_INPUT, 0, false, false, false, false, false},
      {"both_ways", TYPE_CONTROL, FLOW_INPUT, 0, false, false, false, false, false},
      {"optional_unknown", TYPE_UNKNOWN, FLOW_INPUT, 0, false, false, false, false, false},
      {"size_zero", TYPE_EVENT, FLOW_INPUT, 0, false, false, false, false, false},
      {"size_negative", TYPE_EVENT, FLOW_OUTPUT, 0, false, false, false, false, false},
      {"control_in", TYPE_EVENT, FLOW_INPUT, 65536, true, false, false, true, true},
      {"twin", TYPE_CONTROL, FLOW_OUTPUT, 0, false, false, false, false, false},
      {"twin", TYPE_CONTROL, FLOW_OUTPUT, 0, false, false, false, false, false},
      {"latency", TYPE_CONTROL, FLOW_OUTPUT, 0, false, true, false, false, false},
      {"tempo", TYPE_CONTROL, FLOW_INPUT, 0, false, false, true, false, false},
  };
  ASSERT_EQ(lilv_plugin_get_num_ports(ports), std::size(expected));

  for (uint32_t i = 0; i < std::size(expected); ++i) {
    const Expected& e = expected[i];
    SCOPED_TRACE(e.symbol);
    ProcessPort record{};
    ASSERT_EQ(process_port_init(&record, &nodes, ports, lilv_plugin_get_port_by_index(ports, i)),
              0);
    EXPECT_EQ(record.symbol, e.symbol);
    EXPECT_FALSE(record.label.empty());
    EXPECT_EQ(record.type, e.type);
    EXPECT_EQ(record.flow, e.flow);
    EXPECT_EQ(record.buf_size, e.buf_size);
    EXPECT_EQ(record.is_control_designated, e.control_designated);
    EXPECT_EQ(record.reports_latency, e.reports_latency);
    EXPECT_EQ(record.is_bpm, e.bpm);
    EXPECT_EQ(record.supports_midi, e.midi);
    EXPECT_EQ(record.supports_pos, e.pos);
    EXPECT_EQ(record.jack_port, nullptr);
    EXPECT_EQ(record.event_buffer, nullptr);
    process_port_free(&record);
    EXPECT_TRUE(record.symbol.empty());
  }
}

TEST_F(PortTest, RefusesAMandatoryPortOfUnknownKind) {
  const LilvPlugin* mandatory = plugin("urn:bexo:test:ports-mandatory");
  ASSERT_NE(mandatory, nullptr);
  ProcessPort known{};
  ProcessPort unknown{};
  EXPECT_EQ(
      process_port_init(&known, &nodes, mandatory, lilv_plugin_get_port_by_index(mandatory, 0)), 0);
  EXPECT_EQ(
      process_port_init(&unknown, &nodes, mandatory, lilv_plugin_get_port_by_index(mandatory, 1)),
      1);
  EXPECT_EQ(unknown.symbol, "unknown");
  EXPECT_EQ(unknown.type, TYPE_UNKNOWN);
}

TEST_F(PortTest, ControlsFixtureDesignations) {
  const LilvPlugin* controls = plugin("urn:bexo:test:controls");
  ASSERT_NE(controls, nullptr);
  ProcessPort latency{};
  ProcessPort bpm{};
  ASSERT_EQ(
      process_port_init(&latency, &nodes, controls, lilv_plugin_get_port_by_index(controls, 14)),
      0);
  ASSERT_EQ(process_port_init(&bpm, &nodes, controls, lilv_plugin_get_port_by_index(controls, 15)),
            0);
  EXPECT_TRUE(latency.reports_latency);
  EXPECT_TRUE(bpm.is_bpm);
  EXPECT_TRUE(port_has_designation(&nodes, controls, lilv_plugin_get_port_by_index(controls, 15),
                                   nodes.time_beatsPerMinute));
  EXPECT_FALSE(port_has_designation(&nodes, controls, lilv_plugin_get_port_by_index(controls, 15),
                                    nodes.lv2_latency));
}

} // namespace
