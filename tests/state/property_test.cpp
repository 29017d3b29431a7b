#include "engine/message.hpp"
#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"
#include "state/property.hpp"
#include "state/state_support.hpp"
#include "ui/ui_update.hpp"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/patch/patch.h>
#include <string>
#include <vector>

namespace {

// The properties the world lists on the plugin under `predicate`, in lilv's order.
std::vector<std::string> listed(HostRig& rig, const char* predicate) {
  LilvWorld* world = rig.host.world;
  LilvNode* pred = lilv_new_uri(world, predicate);
  LilvNodes* found =
      lilv_world_find_nodes(world, lilv_plugin_get_uri(rig.host.plugin), pred, nullptr);
  std::vector<std::string> uris;
  LILV_FOREACH(nodes, i, found) {
    uris.emplace_back(lilv_node_as_uri(lilv_nodes_get(found, i)));
  }
  lilv_nodes_free(found);
  lilv_node_free(pred);
  return uris;
}

std::vector<std::string> property_controls(const HostRig& rig) {
  std::vector<std::string> uris;
  for (const ControlPtr& c : rig.host.controls.controls) {
    if (c->type == PROPERTY) {
      uris.emplace_back(lilv_node_as_uri(c->node.get()));
    }
  }
  return uris;
}

class Properties : public testing::Test {
protected:
  void SetUp() override {
    test_frontend_reset();
    ASSERT_EQ(rig.open_manual("urn:bexo:test:params"), 0);
  }
  HostRig rig;
};

TEST_F(Properties, WritablesComeFirstThenReadablesOnlyWithoutTheRefusedOne) {
  std::vector<std::string> writable;
  for (const std::string& uri : listed(rig, LV2_PATCH__writable)) {
    if (uri != param("urid")) {
      writable.push_back(uri);
    }
  }
  ASSERT_EQ(writable.size(), 8u);
  std::vector<std::string> made = property_controls(rig);
  ASSERT_EQ(made.size(), 9u);
  // Float and urid are readable too, so only count comes after the writables.
  EXPECT_EQ(made.back(), param("count"));
  made.pop_back();
  std::sort(made.begin(), made.end());
  std::sort(writable.begin(), writable.end());
  EXPECT_EQ(made, writable);

  // Ports come first.
  EXPECT_EQ(rig.host.controls.controls[0]->type, PORT);
  EXPECT_EQ(rig.host.controls.controls.size(), 4u + 9u);

  struct Flags {
    const char* name;
    bool writable, readable;
  } const flags[] = {{"int", true, false},
                     {"float", true, true},
                     {"count", false, true},
                     {"string", true, false},
                     {"mixed", true, false}};
  for (const Flags& f : flags) {
    const Control* c = rig.property(param(f.name).c_str());
    ASSERT_NE(c, nullptr) << f.name;
    EXPECT_EQ(c->is_writable, f.writable) << f.name;
    EXPECT_EQ(c->is_readable, f.readable) << f.name;
    EXPECT_EQ(c->index, rig.map(param(f.name).c_str()));
    EXPECT_STREQ(lilv_node_as_string(c->symbol.get()), f.name);
    EXPECT_EQ(c->group, nullptr);
    EXPECT_EQ(c->n_points, 0u);
    EXPECT_FALSE(c->is_hidden || c->is_enumeration || c->is_logarithmic);
  }
}

TEST_F(Properties, TypesBoundsAndDefaultsComeFromTheDescription) {
  const LV2_Atom_Forge& forge = rig.host.forge;
  struct Expected {
    const char* name;
    uint32_t value_type;
    float min, max;
    bool toggle, integer;
  } const cases[] = {
      {"int", forge.Int, -100.0f, 100.0f, false, true},
      {"long", forge.Long, 0.0f, 1.0f, false, true}, // no bounds given
      {"float", forge.Float, 0.0f, 10.0f, false, false},
      {"double", forge.Double, -1.0f, 1.0f, false, false},
      {"bool", forge.Bool, 0.0f, 1.0f, true, false},
      {"string", forge.String, 0.0f, 1.0f, false, false},
      {"path", forge.Path, 0.0f, 1.0f, false, false},
      {"mixed", forge.Int, 0.0f, 16.0f, false, true}, // Float and Int: Int comes first
  };
  for (const Expected& e : cases) {
    const Control* c = rig.property(param(e.name).c_str());
    ASSERT_NE(c, nullptr) << e.name;
    EXPECT_EQ(c->value_type, e.value_type) << e.name;
    EXPECT_EQ(c->min, e.min) << e.name;
    EXPECT_EQ(c->max, e.max) << e.name;
    EXPECT_EQ(c->is_toggle, e.toggle) << e.name;
    EXPECT_EQ(c->is_integer, e.integer) << e.name;
  }
  EXPECT_STREQ(lilv_node_as_string(rig.property(param("int").c_str())->label.get()), "Int");

  const Control* path = rig.property(param("path").c_str());
  EXPECT_EQ(path->value.type, forge.Path);
  const std::string default_path = static_cast<const char*>(control_value_body(&path->value));
  EXPECT_EQ(default_path.substr(default_path.rfind('/')), "/sample.txt");
  EXPECT_EQ(control_value_to_double(&rig.property(param("float").c_str())->value, &forge), 0.5);
  // No default: an empty value.
  EXPECT_EQ(rig.property(param("double").c_str())->value.size, 0u);
}

TEST_F(Properties, ARefusedRangeIsWarnedAboutOnceInEachPassThatListsIt) {
  const std::string uri = param("urid");
  EXPECT_EQ(rig.property(uri.c_str()), nullptr);
  // Every warning of the open is this one, but that rings may not be
  // locked in memory, which depends on the machine.
  std::vector<std::string> warnings;
  for (const std::string& text : rig.logged(LOG_LEVEL_WARNING)) {
    if (text.rfind("Failed to lock ring memory", 0) != 0) {
      warnings.push_back(text);
    }
  }
  const std::string ignored = "Parameter <" + uri + "> has unknown value type, ignored";
  EXPECT_EQ(warnings, (std::vector<std::string>{ignored, ignored}));
}

TEST_F(Properties, PatchValuesAreStoredAndOnlyPluginReportsAreShown) {
  const std::string string_uri = param("string");
  const LV2_URID string_urid = rig.map(string_uri.c_str());
  const LV2_Atom_Forge& forge = rig.host.forge;
  struct {
    LV2_Atom atom;
    char body[16];
  } text{{12, forge.String}, "from the UI"};

  ControlList* controls = &rig.host.controls;
  UiHost* ui = &rig.host;
  EXPECT_EQ(update_property_value(string_urid, &text.atom, controls), 0);
  const Control* control = rig.property(string_uri.c_str());
  EXPECT_STREQ(static_cast<const char*>(control_value_body(&control->value)), "from the UI");
  EXPECT_TRUE(test_frontend().shown.empty());

  std::strcpy(text.body, "from plugin");
  EXPECT_EQ(update_property_value_and_widget(string_urid, &text.atom, ui), 0);
  EXPECT_STREQ(static_cast<const char*>(control_value_body(&control->value)), "from plugin");
  ASSERT_EQ(test_frontend().shown.size(), 1u);
  EXPECT_EQ(test_frontend().shown[0].control, control);
  EXPECT_EQ(test_frontend().shown[0].text, "from plugin");

  // Stored as it arrives, whatever the declared type.
  const struct {
    LV2_Atom atom;
    float body;
  } number{{4, forge.Float}, 3.0f};
  EXPECT_EQ(update_property_value_and_widget(string_urid, &number.atom, ui), 0);
  EXPECT_EQ(control->value.type, forge.Float);

  // Unknown properties change nothing and show nothing.
  const LV2_URID unknown = rig.map("urn:bexo:test:no-such-property");
  EXPECT_EQ(update_property_value(unknown, &number.atom, controls), 0);
  EXPECT_EQ(update_property_value_and_widget(unknown, &number.atom, ui), 0);
  EXPECT_EQ(test_frontend().shown.size(), 2u);
}

TEST_F(Properties, ThePluginsPatchMessagesKeepControlsInStep) {
  ASSERT_EQ(rig.activate(), 0);
  rig.start_cycles();
  const int32_t value = 42;
  const std::string int_uri = param("int");
  ASSERT_EQ(rig.send_property(int_uri.c_str(), 4, rig.host.forge.Int, &value), ZIX_STATUS_SUCCESS);
  const Control* control = rig.property(int_uri.c_str());
  const Control* count = rig.property(param("count").c_str());
  ASSERT_TRUE(rig.update_until([&] {
    return control_value_to_double(&control->value, &rig.host.forge) == 42.0 &&
           control_value_to_double(&count->value, &rig.host.forge) == 1.0;
  }));
  EXPECT_TRUE(shown_from_plugin(control, 42.0));
}

TEST(RealPlugin, ExampleParamsListsWritableAndReadableProperties) {
  test_frontend_reset();
  HostRig rig;
  ASSERT_EQ(rig.open_manual("http://lv2plug.in/plugins/eg-params"), 0);
  const std::string ns = "http://lv2plug.in/plugins/eg-params#";
  const LV2_Atom_Forge& forge = rig.host.forge;
  struct Expected {
    const char* name;
    uint32_t type;
    bool writable, readable;
  } const cases[] = {
      {"int", forge.Int, true, false},     {"long", forge.Long, true, false},
      {"float", forge.Float, true, false}, {"double", forge.Double, true, false},
      {"bool", forge.Bool, true, false},   {"string", forge.String, true, false},
      {"path", forge.Path, true, false},   {"spring", forge.Float, true, true},
      {"lfo", forge.Float, false, true},
  };
  for (const Expected& e : cases) {
    const Control* c = rig.property((ns + e.name).c_str());
    ASSERT_NE(c, nullptr) << e.name;
    EXPECT_EQ(c->value_type, e.type) << e.name;
    EXPECT_EQ(c->is_writable, e.writable) << e.name;
    EXPECT_EQ(c->is_readable, e.readable) << e.name;
  }
  EXPECT_EQ(rig.property((ns + "lfo").c_str())->min, -1.0f);
  EXPECT_EQ(property_controls(rig).size(), 9u);
  EXPECT_EQ(property_controls(rig).back(), ns + "lfo");

  // The plugin answers a request with all its values; the request that the
  // restore at open left goes first, so that only this one can be answered.
  rig.discard_ui_messages();
  ASSERT_EQ(rig.activate(), 0);
  rig.start_cycles();
  ASSERT_EQ(ring_write_update_request(rig.host.process.ui_ring), ZIX_STATUS_SUCCESS);
  const Control* string = rig.property((ns + "string").c_str());
  ASSERT_TRUE(rig.update_until([&] {
    return string->value.size &&
           !std::strcmp(static_cast<const char*>(control_value_body(&string->value)),
                        "Hello, world");
  }));
}

} // namespace
