#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"
#include "state/control.hpp"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <string>
#include <vector>

namespace {

// A forge whose atom type URIDs are distinct small numbers, for tests that
// need no world.
LV2_Atom_Forge test_forge() {
  LV2_Atom_Forge forge{};
  forge.Bool = 1;
  forge.Double = 2;
  forge.Float = 3;
  forge.Int = 4;
  forge.Long = 5;
  forge.Path = 6;
  forge.String = 7;
  forge.URI = 8;
  return forge;
}

TEST(ControlValue, BodiesUpToEightBytesStayInlineLargerOnesGetABlockOfTheirOwn) {
  const LV2_Atom_Forge forge = test_forge();
  ControlValue value{};
  EXPECT_EQ(value.size, 0u);
  EXPECT_EQ(value.type, 0u);

  ASSERT_EQ(control_value_set(&value, 8, forge.String, "1234567"), 0);
  EXPECT_EQ(control_value_body(&value), static_cast<const void*>(value.body.bytes));
  EXPECT_STREQ(static_cast<const char*>(control_value_body(&value)), "1234567");

  // From inline to the heap: the inline bytes must not be taken for a block.
  ASSERT_EQ(control_value_set(&value, 9, forge.String, "12345678"), 0);
  EXPECT_NE(control_value_body(&value), static_cast<const void*>(value.body.bytes));
  EXPECT_STREQ(static_cast<const char*>(control_value_body(&value)), "12345678");

  const std::string long_text(100, 'x');
  ASSERT_EQ(control_value_set(&value, 101, forge.String, long_text.c_str()), 0);
  EXPECT_EQ(static_cast<const char*>(control_value_body(&value)), long_text);
  // A smaller body reuses the block.
  const void* block = control_value_body(&value);
  ASSERT_EQ(control_value_set(&value, 10, forge.Path, "/tmp/a.wa"), 0);
  EXPECT_EQ(control_value_body(&value), block);
  EXPECT_EQ(value.type, forge.Path);

  // Back to inline frees the block (the leak checker sees it otherwise).
  const float number = 2.5f;
  ASSERT_EQ(control_value_set(&value, 4, forge.Float, &number), 0);
  EXPECT_EQ(control_value_body(&value), static_cast<const void*>(value.body.bytes));
  EXPECT_EQ(control_value_to_double(&value, &forge), 2.5);

  control_value_clear(&value);
  EXPECT_EQ(value.size, 0u);
  EXPECT_EQ(value.type, 0u);
  EXPECT_EQ(control_value_to_double(&value, &forge), 0.0);
}

TEST(ControlValue, ReadsAsANumberByItsType) {
  const LV2_Atom_Forge forge = test_forge();
  const double d = -1.25;
  const float f = 0.5f;
  const int32_t i = -7;
  const int32_t b = 1;
  const int64_t l = 1LL << 40;
  struct Case {
    uint32_t type;
    uint32_t size;
    const void* body;
    double expected;
  } const cases[] = {
      {forge.Double, 8, &d, -1.25},
      {forge.Float, 4, &f, 0.5},
      {forge.Int, 4, &i, -7.0},
      {forge.Bool, 4, &b, 1.0},
      {forge.Long, 8, &l, 1099511627776.0},
      {forge.String, 4, "abc", 0.0},
      {forge.Path, 3, "/a", 0.0},
      // A body too short for its type reads as nothing, not as stale bytes.
      {forge.Double, 4, &f, 0.0},
      {forge.Long, 4, &i, 0.0},
  };
  for (const Case& c : cases) {
    ControlValue value{};
    ASSERT_EQ(control_value_set(&value, c.size, c.type, c.body), 0);
    EXPECT_EQ(control_value_to_double(&value, &forge), c.expected) << "type " << c.type;
  }
}

class NodeConversion : public testing::Test {
protected:
  void SetUp() override {
    world = lilv_world_new();
    mapper = urid_mapper_new();
    lv2_atom_forge_init(&forge, urid_mapper_get_map(mapper));
  }
  void TearDown() override {
    urid_mapper_free(mapper);
    lilv_world_free(world);
  }
  LilvWorld* world = nullptr;
  UridMapper* mapper = nullptr;
  LV2_Atom_Forge forge{};
};

TEST_F(NodeConversion, EachAcceptedKindOfNodeBecomesItsAtom) {
  const LilvNodePtr file(lilv_new_file_uri(world, nullptr, "/tmp/a.wav"));
  const LilvNodePtr uri(lilv_new_uri(world, "http://example.org/x"));
  const LilvNodePtr string(lilv_new_string(world, "text"));
  const LilvNodePtr real(lilv_new_float(world, 1.5f));
  const LilvNodePtr integer(lilv_new_int(world, 42));
  const LilvNodePtr boolean(lilv_new_bool(world, true));

  ControlValue value{};
  ASSERT_EQ(control_value_from_node(&value, file.get(), &forge), 0);
  EXPECT_EQ(value.type, forge.Path);
  EXPECT_EQ(value.size, 11u);
  EXPECT_STREQ(static_cast<const char*>(control_value_body(&value)), "/tmp/a.wav");

  ASSERT_EQ(control_value_from_node(&value, uri.get(), &forge), 0);
  EXPECT_EQ(value.type, forge.URI);
  EXPECT_STREQ(static_cast<const char*>(control_value_body(&value)), "http://example.org/x");

  ASSERT_EQ(control_value_from_node(&value, string.get(), &forge), 0);
  EXPECT_EQ(value.type, forge.String);
  EXPECT_EQ(value.size, 5u);

  ASSERT_EQ(control_value_from_node(&value, real.get(), &forge), 0);
  EXPECT_EQ(value.type, forge.Float);
  EXPECT_EQ(control_value_to_double(&value, &forge), 1.5);

  ASSERT_EQ(control_value_from_node(&value, integer.get(), &forge), 0);
  EXPECT_EQ(value.type, forge.Int);
  EXPECT_EQ(control_value_to_double(&value, &forge), 42.0);

  ASSERT_EQ(control_value_from_node(&value, boolean.get(), &forge), 0);
  EXPECT_EQ(value.type, forge.Bool);
  EXPECT_EQ(control_value_to_double(&value, &forge), 1.0);
}

// Port controls of the controls and params fixtures, as the host makes them.
class PortControls : public testing::Test {
protected:
  void SetUp() override { test_frontend_reset(); }
  HostRig rig;
};

TEST_F(PortControls, RangesScalePointsAndFlagsFollowThePortDescription) {
  ASSERT_EQ(rig.open_manual("urn:bexo:test:controls", ManualAudio{44100.0f}), 0);
  const LV2_Atom_Forge& forge = rig.host.forge;

  // Only control ports have controls, in port order.
  std::vector<std::string> symbols;
  for (const ControlPtr& c : rig.host.controls.controls) {
    symbols.push_back(lilv_node_as_string(c->symbol.get()));
    EXPECT_EQ(c->type, PORT);
    EXPECT_EQ(c->value_type, forge.Float);
  }
  EXPECT_EQ(symbols, (std::vector<std::string>{"gain", "mute", "enable", "steps", "shape", "cutoff",
                                               "rate", "hidden", "stepped", "latency_set",
                                               "latency", "bpm", "echo_in", "echo_out"}));

  // Bounds of an lv2:sampleRate port are scaled, its default is not.
  const Control* rate = rig.control("rate");
  EXPECT_FLOAT_EQ(rate->min, 0.0001f * 44100.0f);
  EXPECT_FLOAT_EQ(rate->max, 22050.0f);
  EXPECT_EQ(control_value_to_double(&rate->value, &forge), 440.0);
  EXPECT_EQ(rate->value.type, forge.Float);

  const Control* gain = rig.control("gain");
  EXPECT_EQ(gain->min, 0.0f);
  EXPECT_EQ(gain->max, 2.0f);
  EXPECT_STREQ(lilv_node_as_string(gain->label.get()), "Gain");
  EXPECT_EQ(gain->group, nullptr);
  EXPECT_TRUE(gain->is_writable);
  EXPECT_FALSE(gain->is_readable);

  const Control* shape = rig.control("shape");
  ASSERT_EQ(shape->n_points, 3u);
  ASSERT_EQ(shape->points.size(), 3u);
  EXPECT_EQ(shape->points[0].value, 1.0f);
  EXPECT_EQ(shape->points[0].label, "Sine");
  EXPECT_EQ(shape->points[1].value, 2.0f);
  EXPECT_EQ(shape->points[2].value, 5.0f);
  EXPECT_EQ(shape->points[2].label, "Square");
  EXPECT_TRUE(shape->is_enumeration);
  EXPECT_TRUE(shape->is_integer);
  EXPECT_STREQ(lilv_node_as_uri(shape->group.get()), "urn:bexo:test:controls#groupA");
  EXPECT_EQ(rig.control("cutoff")->n_points, 0u);

  EXPECT_TRUE(rig.control("mute")->is_toggle);
  EXPECT_TRUE(rig.control("cutoff")->is_logarithmic);
  EXPECT_TRUE(rig.control("hidden")->is_hidden);
  EXPECT_FALSE(rig.control("stepped")->is_hidden);
  const Control* latency = rig.control("latency");
  EXPECT_TRUE(latency->is_readable);
  EXPECT_FALSE(latency->is_writable);
  // An output without a default has an empty value.
  EXPECT_EQ(latency->value.size, 0u);
}

TEST_F(PortControls, ANodeOfNoAcceptedKindLeavesTheValueAsItWas) {
  ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
  Host& host = rig.host;
  // A port of a plugin description is a blank node.
  const LilvNodePtr port_uri(lilv_new_uri(host.world, LV2_CORE__port));
  const LilvNodePtr blank(
      lilv_world_get(host.world, lilv_plugin_get_uri(host.plugin), port_uri.get(), nullptr));
  ASSERT_NE(blank, nullptr);
  ASSERT_TRUE(lilv_node_is_blank(blank.get()));

  ControlValue value{};
  ASSERT_EQ(control_value_set(&value, 5, host.forge.String, "keep"), 0);
  EXPECT_EQ(control_value_from_node(&value, blank.get(), &host.forge), 1);
  EXPECT_EQ(value.type, host.forge.String);
  EXPECT_STREQ(static_cast<const char*>(control_value_body(&value)), "keep");
}

TEST_F(PortControls, OnlyNumericScalePointsAreKeptInValueOrder) {
  ASSERT_EQ(rig.open_manual("urn:bexo:test:params"), 0);
  const Control* depth = rig.control("depth");
  ASSERT_NE(depth, nullptr);
  ASSERT_EQ(depth->n_points, 3u);
  EXPECT_EQ(depth->points[0].label, "One");
  EXPECT_EQ(depth->points[1].label, "Two");
  EXPECT_EQ(depth->points[2].label, "Three");
  EXPECT_EQ(depth->points[2].value, 3.0f);
}

TEST_F(PortControls, LookupsGoByPortIndexSymbolAndUrid) {
  ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
  const ControlList* list = &rig.host.controls;
  EXPECT_EQ(find_port_control(list, 0), nullptr); // an audio port
  EXPECT_EQ(find_port_control(list, 4), list->controls[0].get());
  EXPECT_EQ(find_port_control(list, 17), list->controls.back().get());
  EXPECT_EQ(find_port_control(list, 18), nullptr);
  EXPECT_EQ(find_control_by_symbol(list, "cutoff"), find_port_control(list, 9));
  EXPECT_EQ(find_control_by_symbol(list, "cutof"), nullptr);
  // Port controls are never found as properties, even with a matching index.
  EXPECT_EQ(find_property_control(list, 4), nullptr);
}

TEST(ControlList, SymbolsFindTheEarlierControlAndPropertiesIgnorePorts) {
  LilvWorld* world = lilv_world_new();
  {
    ControlList list;
    auto add = [&](ControlType type, uint32_t index, const char* symbol) {
      ControlPtr control(new Control{});
      control->type = type;
      control->index = index;
      control->symbol.reset(lilv_new_string(world, symbol));
      Control* raw = control.get();
      append_control(&list, std::move(control));
      return raw;
    };
    Control* port = add(PORT, 7, "gain");
    Control* property = add(PROPERTY, 9, "gain");
    Control* other = add(PROPERTY, 7, "level");
    EXPECT_EQ(find_control_by_symbol(&list, "gain"), port);
    EXPECT_EQ(find_property_control(&list, 9), property);
    EXPECT_EQ(find_property_control(&list, 7), other);
    EXPECT_EQ(find_port_control(&list, 7), port);
    EXPECT_EQ(find_port_control(&list, 9), nullptr);
    free_controls(&list);
    EXPECT_TRUE(list.controls.empty());
  }
  lilv_world_free(world);
}

} // namespace
