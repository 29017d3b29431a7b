#include "engine/message.hpp"
#include "frontend/test_frontend.hpp"
#include "state/property.hpp"
#include "state/test_host.hpp"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/patch/patch.h>
#include <string>
#include <vector>

namespace {

constexpr const char* p_ns = "urn:bexo:test:params#";

std::string param(const char* name) {
  return std::string(p_ns) + name;
}

// The properties the world lists on the plugin under `predicate`, in lilv's order.
std::vector<std::string> listed(TestHost& t, const char* predicate) {
  LilvWorld* world = t.host.world;
  LilvNode* pred = lilv_new_uri(world, predicate);
  LilvNodes* found =
      lilv_world_find_nodes(world, lilv_plugin_get_uri(t.host.plugin), pred, nullptr);
  std::vector<std::string> uris;
  LILV_FOREACH(nodes, i, found) {
    uris.emplace_back(lilv_node_as_uri(lilv_nodes_get(found, i)));
  }
  lilv_nodes_free(found);
  lilv_node_free(pred);
  return uris;
}

std::vector<std::string> property_controls(const TestHost& t) {
  std::vector<std::string> uris;
  for (const ControlPtr& c : t.host.controls.controls) {
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
    ASSERT_EQ(t.open("urn:bexo:test:params"), 0);
  }
  TestHost t;
};

TEST_F(Properties, WritablesComeFirstThenReadablesOnlyWithoutTheRefusedOne) {
  std::vector<std::string> writable;
  for (const std::string& uri : listed(t, LV2_PATCH__writable)) {
    if (uri != param("urid")) {
      writable.push_back(uri);
    }
  }
  ASSERT_EQ(writable.size(), 8u);
  std::vector<std::string> made = property_controls(t);
  ASSERT_EQ(made.size(), 9u);
  // Float and urid are readable too, so only count comes after the writables.
  EXPECT_EQ(made.back(), param("count"));
  made.pop_back();
  std::sort(made.begin(), made.end());
  std::sort(writable.begin(), writable.end());
  EXPECT_EQ(made, writable);

  // Ports come first.
  EXPECT_EQ(t.host.controls.controls[0]->type, PORT);
  EXPECT_EQ(t.host.controls.controls.size(), 4u + 9u);

  struct Flags {
    const char* name;
    bool writable, readable;
  } const flags[] = {{"int", true, false},
                     {"float", true, true},
                     {"count", false, true},
                     {"string", true, false},
                     {"mixed", true, false}};
  for (const Flags& f : flags) {
    const Control* c = t.property(param(f.name).c_str());
    ASSERT_NE(c, nullptr) << f.name;
    EXPECT_EQ(c->is_writable, f.writable) << f.name;
    EXPECT_EQ(c->is_readable, f.readable) << f.name;
    EXPECT_EQ(c->index, t.map(param(f.name).c_str()));
    EXPECT_STREQ(lilv_node_as_string(c->symbol.get()), f.name);
    EXPECT_EQ(c->group, nullptr);
    EXPECT_EQ(c->n_points, 0u);
    EXPECT_FALSE(c->is_hidden || c->is_enumeration || c->is_logarithmic);
  }
}

TEST_F(Properties, TypesBoundsAndDefaultsComeFromTheDescription) {
  const LV2_Atom_Forge& forge = t.host.forge;
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
    const Control* c = t.property(param(e.name).c_str());
    ASSERT_NE(c, nullptr) << e.name;
    EXPECT_EQ(c->value_type, e.value_type) << e.name;
    EXPECT_EQ(c->min, e.min) << e.name;
    EXPECT_EQ(c->max, e.max) << e.name;
    EXPECT_EQ(c->is_toggle, e.toggle) << e.name;
    EXPECT_EQ(c->is_integer, e.integer) << e.name;
  }
  EXPECT_STREQ(lilv_node_as_string(t.property(param("int").c_str())->label.get()), "Int");

  const Control* path = t.property(param("path").c_str());
  EXPECT_EQ(path->value.type, forge.Path);
  const std::string default_path = static_cast<const char*>(control_value_body(&path->value));
  EXPECT_EQ(default_path.substr(default_path.rfind('/')), "/sample.txt");
  EXPECT_EQ(control_value_to_double(&t.property(param("float").c_str())->value, &forge), 0.5);
  // No default: an empty value.
  EXPECT_EQ(t.property(param("double").c_str())->value.size, 0u);
}

TEST_F(Properties, ARefusedRangeIsWarnedAboutInEachPassThatListsIt) {
  const std::string uri = param("urid");
  EXPECT_EQ(t.property(uri.c_str()), nullptr);
  std::vector<std::string> warnings;
  for (const LogLine& line : t.log) {
    if (line.level == LOG_LEVEL_WARNING) {
      warnings.push_back(line.text);
    }
  }
  const std::string unknown = "Unknown value type for property <" + uri + ">";
  const std::string ignored = "Parameter <" + uri + "> has unknown value type, ignored";
  EXPECT_EQ(warnings, (std::vector<std::string>{unknown, ignored, unknown, ignored}));
}

TEST_F(Properties, PatchValuesAreStoredAndOnlyPluginReportsAreShown) {
  const std::string string_uri = param("string");
  const LV2_URID string_urid = t.map(string_uri.c_str());
  const LV2_Atom_Forge& forge = t.host.forge;
  struct {
    LV2_Atom atom;
    char body[16];
  } text{{12, forge.String}, "from the UI"};

  EXPECT_EQ(update_property_value(string_urid, &text.atom, &t.host), 0);
  const Control* control = t.property(string_uri.c_str());
  EXPECT_STREQ(static_cast<const char*>(control_value_body(&control->value)), "from the UI");
  EXPECT_TRUE(test_frontend().shown.empty());

  std::strcpy(text.body, "from plugin");
  EXPECT_EQ(update_property_value_and_widget(string_urid, &text.atom, &t.host), 0);
  EXPECT_STREQ(static_cast<const char*>(control_value_body(&control->value)), "from plugin");
  ASSERT_EQ(test_frontend().shown.size(), 1u);
  EXPECT_EQ(test_frontend().shown[0].control, control);
  EXPECT_EQ(test_frontend().shown[0].text, "from plugin");

  // Stored as it arrives, whatever the declared type.
  const struct {
    LV2_Atom atom;
    float body;
  } number{{4, forge.Float}, 3.0f};
  EXPECT_EQ(update_property_value_and_widget(string_urid, &number.atom, &t.host), 0);
  EXPECT_EQ(control->value.type, forge.Float);

  // Unknown properties change nothing and show nothing.
  const LV2_URID unknown = t.map("urn:bexo:test:no-such-property");
  EXPECT_EQ(update_property_value(unknown, &number.atom, &t.host), 0);
  EXPECT_EQ(update_property_value_and_widget(unknown, &number.atom, &t.host), 0);
  EXPECT_EQ(test_frontend().shown.size(), 2u);
}

TEST_F(Properties, ThePluginsPatchMessagesKeepControlsInStep) {
  t.start();
  const int32_t value = 42;
  const std::string int_uri = param("int");
  ASSERT_EQ(t.set_property(int_uri.c_str(), 4, t.host.forge.Int, &value), 0);
  const Control* control = t.property(int_uri.c_str());
  const Control* count = t.property(param("count").c_str());
  ASSERT_TRUE(t.wait_until([&] {
    return control_value_to_double(&control->value, &t.host.forge) == 42.0 &&
           control_value_to_double(&count->value, &t.host.forge) == 1.0;
  }));
  bool shown = false;
  for (const ShownControl& s : test_frontend().shown) {
    shown |= s.control == control && s.number == 42.0 && s.ui_updating;
  }
  EXPECT_TRUE(shown);
}

TEST(RealPlugin, ExampleParamsListsWritableAndReadableProperties) {
  test_frontend_reset();
  TestHost t;
  ASSERT_EQ(t.open("http://lv2plug.in/plugins/eg-params"), 0);
  const std::string ns = "http://lv2plug.in/plugins/eg-params#";
  const LV2_Atom_Forge& forge = t.host.forge;
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
    const Control* c = t.property((ns + e.name).c_str());
    ASSERT_NE(c, nullptr) << e.name;
    EXPECT_EQ(c->value_type, e.type) << e.name;
    EXPECT_EQ(c->is_writable, e.writable) << e.name;
    EXPECT_EQ(c->is_readable, e.readable) << e.name;
  }
  EXPECT_EQ(t.property((ns + "lfo").c_str())->min, -1.0f);
  EXPECT_EQ(property_controls(t).size(), 9u);
  EXPECT_EQ(property_controls(t).back(), ns + "lfo");

  // The plugin answers a request with all its values.
  t.start();
  const MessageHeader request{UPDATE_REQUEST, 0};
  ASSERT_EQ(ring_write_message(t.host.process.ui_ring, &request, sizeof(request), nullptr, 0), 0);
  const Control* string = t.property((ns + "string").c_str());
  ASSERT_TRUE(t.wait_until([&] {
    return string->value.size &&
           !std::strcmp(static_cast<const char*>(control_value_body(&string->value)),
                        "Hello, world");
  }));
}

} // namespace
