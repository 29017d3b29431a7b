// The main thread's end of the plugin conversation: what a UI writes is
// checked and queued, values set by the host go out unless they came from
// the plugin, and the periodic update hands the plugin's output to the UI
// and the controls.  The host is open but not active, so the test reads
// ui_ring and writes process_ring in place of the audio thread.

#include "engine/message.hpp"
#include "harness/ring_messages.hpp"
#include "open_fixture.hpp"
#include "state/control.hpp"
#include "ui/plugin_ui.hpp"
#include "ui/ui_update.hpp"

#include <cstring>
#include <fixtures/uis/test_ui_probe.h>
#include <functional>
#include <lv2/atom/forge.h>
#include <lv2/data-access/data-access.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <suil/suil.h>
#include <tuple>

namespace {

// Ports of the uis fixture.
constexpr uint32_t level = 0;
constexpr uint32_t meter = 1;
constexpr uint32_t control = 2;
constexpr uint32_t notify = 3;

class UiPath : public OpenHost {
protected:
  void open_plugin(const char* uri) {
    ASSERT_EQ(open(uri), 0);
    // The open's own traffic is not under test: the initial state's values
    // wait in process_ring, and the control settings in ui_ring.
    periodic_update(&host);
    drain_ui_ring();
    lines.clear();
    test_frontend().shown.clear();
  }

  std::vector<RingMessage> drain_ui_ring() { return read_ring_messages(host.process.ui_ring); }

  uint32_t map(const char* uri) { return locked_map(host.urid_mapper, uri); }

  // Builds an object with the forge into `buffer` and returns its atom.
  template <typename Build>
  const LV2_Atom* object(uint32_t otype, Build build) {
    lv2_atom_forge_set_buffer(&host.forge, buffer, sizeof(buffer));
    LV2_Atom_Forge_Frame frame;
    auto* atom = reinterpret_cast<LV2_Atom*>(lv2_atom_forge_object(&host.forge, &frame, 0, otype));
    build(&host.forge);
    lv2_atom_forge_pop(&host.forge, &frame);
    return atom;
  }

  void write_atom(uint32_t port, const LV2_Atom* atom) {
    plugin_ui_write(&host, port, sizeof(LV2_Atom) + atom->size, host.urids.atom_eventTransfer,
                    atom);
  }

  alignas(8) uint8_t buffer[512]{};
};

TEST_F(UiPath, WritesAreCheckedBeforeTheyAreQueued) {
  open_plugin("urn:bexo:test:uis");
  const float value = 0.75f;
  const uint32_t event = host.urids.atom_eventTransfer;
  alignas(8) uint8_t atom_buffer[12]{};
  auto* atom = reinterpret_cast<LV2_Atom*>(atom_buffer);
  const uint32_t protocol = map("urn:bexo:test:made-up-protocol");

  struct Case {
    const char* name;
    uint32_t port, size, protocol, atom_size;
    const char* error; ///< null: queued
  };
  const Case cases[] = {
      {"float", level, 4, 0, 0, nullptr},
      {"index past the ports", 4, 4, 0, 0, "UI wrote to invalid port index 4"},
      {"float of 8 bytes", level, 8, 0, 0, "Failed to write to plugin from UI (Bad argument)"},
      {"atom that fills its buffer", control, 12, event, 4, nullptr},
      {"atom larger than its buffer", control, 12, event, 8,
       "Failed to write to plugin from UI (Bad argument)"},
      {"buffer shorter than an atom", control, 4, event, 0,
       "Failed to write to plugin from UI (Bad argument)"},
      {"other protocol", control, 4, protocol, 0,
       "UI wrote with unsupported protocol 0 (urn:bexo:test:made-up-protocol)"},
  };
  for (const Case& c : cases) {
    lines.clear();
    atom->size = c.atom_size;
    atom->type = host.urids.atom_Float;
    const void* data = c.protocol == 0 ? static_cast<const void*>(&value) : atom_buffer;
    plugin_ui_write(&host, c.port, c.size, c.protocol, data);
    const std::vector<RingMessage> queued = drain_ui_ring();
    std::string expected_error = c.error ? c.error : "";
    if (c.protocol == protocol) {
      expected_error.replace(expected_error.find(" 0 "), 3, " " + std::to_string(protocol) + " ");
    }
    EXPECT_EQ(logged(LOG_LEVEL_ERROR),
              c.error ? std::vector<std::string>{expected_error} : std::vector<std::string>{})
        << c.name;
    EXPECT_EQ(queued.size(), c.error ? 0u : 1u) << c.name;
  }
}

TEST_F(UiPath, MalformedPatchMessagesAreWarnedAboutAndStillSent) {
  open_plugin("urn:bexo:test:uis");
  const Urids& u = host.urids;
  using Build = std::function<void(LV2_Atom_Forge*)>;
  const std::tuple<uint32_t, Build, const char*> cases[] = {
      {u.patch_Set,
       [&](LV2_Atom_Forge* f) {
         lv2_atom_forge_key(f, u.patch_value);
         lv2_atom_forge_float(f, 1.0f);
       },
       "patch:Set message with no property"},
      {u.patch_Set,
       [&](LV2_Atom_Forge* f) {
         lv2_atom_forge_key(f, u.patch_property);
         lv2_atom_forge_int(f, 7);
       },
       "patch:Set property is not a URID"},
      {u.patch_Put, [&](LV2_Atom_Forge*) {}, "patch:Put message with no body"},
      {u.patch_Put,
       [&](LV2_Atom_Forge* f) {
         lv2_atom_forge_key(f, u.patch_body);
         lv2_atom_forge_int(f, 7);
       },
       "patch:Put body is not an object"},
  };
  for (const auto& [otype, build, warning] : cases) {
    lines.clear();
    write_atom(control, object(otype, build));
    EXPECT_EQ(logged(LOG_LEVEL_WARNING), std::vector<std::string>{warning});
    EXPECT_EQ(drain_ui_ring().size(), 1u) << warning;
  }
}

TEST_F(UiPath, ControlValuesGoOutUnlessTheyCameFromThePlugin) {
  open_plugin("urn:bexo:test:uis");
  Control* level_control = find_port_control(&host.controls, level);
  ASSERT_NE(level_control, nullptr);

  const float value = 0.25f;
  ASSERT_EQ(apply_control_value(&host, level_control, 4, host.urids.atom_Float, &value), 0);
  std::vector<RingMessage> sent = drain_ui_ring();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].type, CONTROL_CHANGE);
  EXPECT_EQ(sent[0].port_index(), level);

  const int32_t integer = 1; // stored, but only floats reach a port
  ASSERT_EQ(apply_control_value(&host, level_control, 4, host.urids.atom_Int, &integer), 0);
  EXPECT_TRUE(drain_ui_ring().empty());
  EXPECT_EQ(level_control->value.type, host.urids.atom_Int);

  host.ui_updating = true;
  ASSERT_EQ(apply_control_value(&host, level_control, 4, host.urids.atom_Float, &value), 0);
  host.ui_updating = false;
  EXPECT_TRUE(drain_ui_ring().empty());
  EXPECT_EQ(control_value_to_double(&level_control->value, &host.forge), 0.25);
}

TEST_F(UiPath, PropertyValuesGoOutAsPatchSetToTheControlInput) {
  open_plugin("urn:bexo:test:params");
  const uint32_t property = map("urn:bexo:test:params#float");
  Control* control_of_float = find_property_control(&host.controls, property);
  ASSERT_NE(control_of_float, nullptr);

  const float value = 2.5f;
  ASSERT_EQ(apply_control_value(&host, control_of_float, 4, host.urids.atom_Float, &value), 0);
  const std::vector<RingMessage> sent = drain_ui_ring();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].type, EVENT_TRANSFER);
  EXPECT_EQ(sent[0].port_index(), host.process.control_input_index);
  const auto* set = reinterpret_cast<const LV2_Atom_Object*>(sent[0].atom());
  ASSERT_EQ(set->atom.type, host.urids.atom_Object);
  EXPECT_EQ(set->body.otype, host.urids.patch_Set);
  const LV2_Atom* key = nullptr;
  const LV2_Atom* sent_value = nullptr;
  lv2_atom_object_get(set, host.urids.patch_property, &key, host.urids.patch_value, &sent_value, 0);
  ASSERT_NE(key, nullptr);
  ASSERT_NE(sent_value, nullptr);
  EXPECT_EQ(reinterpret_cast<const LV2_Atom_URID*>(key)->body, property);
  EXPECT_EQ(reinterpret_cast<const LV2_Atom_Float*>(sent_value)->body, 2.5f);

  host.ui_updating = true; // a value from the plugin is only stored
  const float other = 3.5f;
  ASSERT_EQ(apply_control_value(&host, control_of_float, 4, host.urids.atom_Float, &other), 0);
  host.ui_updating = false;
  EXPECT_TRUE(drain_ui_ring().empty());
  EXPECT_EQ(control_value_to_double(&control_of_float->value, &host.forge), 3.5);
}

TEST_F(UiPath, PropertyValueTooLargeToSendIsRefused) {
  open_plugin("urn:bexo:test:params");
  Control* text = find_property_control(&host.controls, map("urn:bexo:test:params#string"));
  ASSERT_NE(text, nullptr);
  const std::string before(static_cast<const char*>(control_value_body(&text->value)),
                           text->value.size);
  const std::string huge(host.ui_read_buf_size, 'x');
  EXPECT_NE(apply_control_value(&host, text, static_cast<uint32_t>(huge.size() + 1),
                                host.forge.String, huge.c_str()),
            0);
  EXPECT_EQ(logged(LOG_LEVEL_WARNING),
            std::vector<std::string>{"Value of string is too large to send (" +
                                     std::to_string(huge.size() + 1) + " bytes)"});
  EXPECT_TRUE(drain_ui_ring().empty());
  EXPECT_EQ(
      std::string(static_cast<const char*>(control_value_body(&text->value)), text->value.size),
      before);
}

TEST_F(UiPath, PeriodicUpdateDeliversControlsEventsAndStopsAtAnUnknownType) {
  open_plugin("urn:bexo:test:params");
  ZixRing* ring = host.process.process_ring;
  const uint32_t float_property = map("urn:bexo:test:params#float");
  const uint32_t int_property = map("urn:bexo:test:params#int");
  const Control* output = find_control_by_symbol(&host.controls, "level");
  ASSERT_NE(output, nullptr);
  const uint32_t meter_port = output->index;

  // What the plugin would send: an output value, a patch:Put of two
  // properties (one of them unknown to the host), a latency, then a message
  // of no known type and a value that must wait for the next update.
  ASSERT_EQ(ring_write_control(ring, meter_port, 0.5f), 0);
  const Urids& u = host.urids;
  const LV2_Atom* put = object(u.patch_Put, [&](LV2_Atom_Forge* f) {
    lv2_atom_forge_key(f, u.patch_body);
    LV2_Atom_Forge_Frame body;
    lv2_atom_forge_object(f, &body, 0, 0);
    lv2_atom_forge_key(f, float_property);
    lv2_atom_forge_float(f, 7.5f);
    lv2_atom_forge_key(f, int_property);
    lv2_atom_forge_int(f, 42);
    lv2_atom_forge_key(f, map("urn:bexo:test:params#nothing"));
    lv2_atom_forge_int(f, 1);
    lv2_atom_forge_pop(f, &body);
  });
  ASSERT_EQ(ring_write_event(ring, 1, put->size, put->type, put + 1), 0);
  const MessageHeader latency{LATENCY_CHANGE, 4};
  const float frames = 64.0f;
  ASSERT_EQ(ring_write_message(ring, &latency, sizeof(latency), &frames, 4), 0);
  const MessageHeader odd{42, 0};
  ASSERT_EQ(ring_write_message(ring, &odd, sizeof(odd), nullptr, 0), 0);
  ASSERT_EQ(ring_write_control(ring, meter_port, 0.75f), 0);

  test_frontend().shown.clear();
  EXPECT_EQ(periodic_update(&host), 1);
  EXPECT_FALSE(host.ui_updating);
  std::vector<std::pair<std::string, double>> shown;
  for (const ShownControl& s : test_frontend().shown) {
    EXPECT_TRUE(s.ui_updating) << s.symbol;
    shown.emplace_back(s.symbol, s.number);
  }
  EXPECT_EQ(shown, (std::vector<std::pair<std::string, double>>{
                       {"level", 0.5}, {"float", 7.5}, {"int", 42}}));
  EXPECT_EQ(logged(LOG_LEVEL_ERROR),
            std::vector<std::string>{"Unknown message type in process ring"});
  EXPECT_TRUE(drain_ui_ring().empty()); // nothing went back to the plugin

  test_frontend().shown.clear();
  EXPECT_EQ(periodic_update(&host), 1); // the value that waited
  ASSERT_EQ(test_frontend().shown.size(), 1u);
  EXPECT_EQ(test_frontend().shown[0].number, 0.75);
}

TEST_F(UiPath, QuitRequestClosesTheFrontEndBeforeReadingAnything) {
  open_plugin("urn:bexo:test:uis");
  ASSERT_EQ(ring_write_control(host.process.process_ring, meter, 0.5f), 0);
  zix_sem_post(&host.quit_sem);
  EXPECT_EQ(periodic_update(&host), -1);
  EXPECT_EQ(test_frontend().close_calls.load(), 1);
  EXPECT_TRUE(test_frontend().shown.empty());
  EXPECT_EQ(zix_ring_read_space(host.process.process_ring), 16u);
  EXPECT_EQ(periodic_update(&host), 1); // posted once, taken once
}

TEST_F(UiPath, StartShowsEveryPortControlAndAsksForProperties) {
  open_plugin("urn:bexo:test:uis");
  test_frontend().shown.clear();
  plugin_ui_start(&host);
  std::vector<std::string> shown;
  for (const ShownControl& s : test_frontend().shown) {
    shown.push_back(s.symbol);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"level", "meter"}));
  const std::vector<RingMessage> sent = drain_ui_ring();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].type, EVENT_TRANSFER);
  EXPECT_EQ(sent[0].port_index(), control);
  ASSERT_EQ(sent[0].body.size(), 4u + 16u);
  const auto* get = reinterpret_cast<const LV2_Atom_Object*>(sent[0].atom());
  EXPECT_EQ(get->atom.size, 8u);
  EXPECT_EQ(get->body.otype, host.urids.patch_Get);
}

TEST_F(UiPath, PluginUiGetsItsFeaturesAndTalksThroughTheHost) {
  test_frontend().native_ui_type = BEXO_TEST_UI_TYPE;
  open_plugin("urn:bexo:test:uis");
  int parent = 0;
  plugin_ui_create(&host, BEXO_TEST_UI_TYPE, &parent);
  ASSERT_NE(host.ui_instance, nullptr);
  const auto* probe = static_cast<const BexoTestUiProbe*>(
      suil_instance_extension_data(host.ui_instance, BEXO_TEST_UI_PROBE));
  ASSERT_NE(probe, nullptr);
  LV2UI_Handle ui = suil_instance_get_handle(host.ui_instance);
  EXPECT_STREQ(probe->ui_uri(ui), "urn:bexo:test:uis#b-native");

  // The features in their order, without request-value when no function
  // was installed; suil appends its own port map after them.
  std::vector<std::string> uris;
  for (uint32_t i = 0; i < probe->num_features(ui) && i < 8; ++i) {
    uris.emplace_back(probe->feature_uri(ui, i));
  }
  EXPECT_EQ(uris, (std::vector<std::string>{LV2_URID__map, LV2_URID__unmap, LV2_INSTANCE_ACCESS_URI,
                                            LV2_DATA_ACCESS_URI, LV2_LOG__log, LV2_UI__parent,
                                            LV2_OPTIONS__options, LV2_UI__idleInterface}));
  bool present = false;
  EXPECT_EQ(probe->feature(ui, LV2_UI__parent, &present), &parent);
  EXPECT_EQ(probe->feature(ui, LV2_INSTANCE_ACCESS_URI, &present),
            lilv_instance_get_handle(host.process.instance));
  const auto* access = static_cast<const LV2_Extension_Data_Feature*>(
      probe->feature(ui, LV2_DATA_ACCESS_URI, &present));
  ASSERT_NE(access, nullptr);
  EXPECT_EQ(access->data_access,
            lilv_instance_get_descriptor(host.process.instance)->extension_data);

  // The UI writes through the host's checks into ui_ring ...
  const float value = 0.125f;
  probe->write(ui, level, 4, 0, &value);
  std::vector<RingMessage> sent = drain_ui_ring();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].port_index(), level);
  probe->write(ui, 9, 4, 0, &value);
  EXPECT_EQ(logged(LOG_LEVEL_ERROR), std::vector<std::string>{"UI wrote to invalid port index 9"});

  // ... and sees what the plugin sent, unchanged.
  ASSERT_EQ(ring_write_control(host.process.process_ring, meter, 0.5f), 0);
  periodic_update(&host);
  ASSERT_EQ(probe->num_events(ui), 1u);
  const BexoTestUiEvent* event = probe->event(ui, 0);
  EXPECT_EQ(event->port, meter);
  EXPECT_EQ(event->protocol, 0u);
  float received = 0.0f;
  std::memcpy(&received, event->data, 4);
  EXPECT_EQ(received, 0.5f);
}

TEST_F(UiPath, PrintsEachChangeOfAnOutputControlWhenAsked) {
  host.options.print_controls = 1;
  open_plugin("urn:bexo:test:uis");
  ZixRing* ring = host.process.process_ring;
  testing::internal::CaptureStdout();
  for (const float value : {0.5f, 0.5f, 0.75f}) {
    ASSERT_EQ(ring_write_control(ring, meter, value), 0);
    ASSERT_EQ(ring_write_control(ring, level, value), 0); // an input: never printed
    periodic_update(&host);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "meter = 0.500000\nmeter = 0.750000\n");
}

TEST(PluginUiResizable, OnlyUisThatSayNothingAboutSizeAreResizable) {
  LilvWorld* world = lilv_world_new();
  lilv_world_load_all(world);
  LilvNode* plugin_uri = lilv_new_uri(world, "urn:bexo:test:uis");
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), plugin_uri);
  ASSERT_NE(plugin, nullptr);
  LilvUIs* uis = lilv_plugin_get_uis(plugin);
  const std::pair<const char*, bool> cases[] = {{"urn:bexo:test:uis#b-native", false},
                                                {"urn:bexo:test:uis#c-fixed", false},
                                                {"urn:bexo:test:uis#d-resizable", true}};
  for (const auto& [uri, resizable] : cases) {
    LilvNode* node = lilv_new_uri(world, uri);
    EXPECT_EQ(plugin_ui_resizable(world, lilv_uis_get_by_uri(uis, node)), resizable) << uri;
    lilv_node_free(node);
  }
  EXPECT_FALSE(plugin_ui_resizable(world, nullptr));
  lilv_uis_free(uis);
  lilv_node_free(plugin_uri);
  lilv_world_free(world);
}

} // namespace
