// Saving over the current preset and deleting it, as "win.save-preset" and
// "win.delete-preset" do, on a preset of the test's own in a temporary
// directory (HOME points there too, so nothing of the user's is touched).
// The delete dialog is answered from the main loop, as a user would.

#include "base/log.hpp"
#include "gtk/preset_dialogs.hpp"
#include "gtk/presets_menu.hpp"
#include "harness/files.hpp"
#include "harness/host_rig.hpp"
#include "state/state.hpp"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <lilv/lilv.h>
#include <string>

namespace {

constexpr uint32_t gain_port = 2;

class PresetActions : public testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }

  void SetUp() override {
    setenv("HOME", home.path().c_str(), 1);
    ASSERT_EQ(rig.open_manual("urn:bexo:test:gtkui-resizable"), 0);
    set_gain(0.3f);
    ASSERT_EQ(store_preset(&rig.host, bundle.c_str(), nullptr, "Mine", "Mine.ttl"), 0);
    uri = lilv_node_as_string(lilv_state_get_uri(rig.host.preset));
    // As the save dialog does, so that the preset can be found again: the
    // bundle loaded, and the presets menu rebuilt, which loads each preset.
    const std::string bundle_uri = "file://" + bundle;
    const LilvNodePtr node{lilv_new_uri(rig.host.world, bundle_uri.c_str())};
    lilv_world_load_bundle(rig.host.world, node.get());
    scan_presets(&rig.host, nullptr, nullptr);
  }

  void set_gain(float value) { rig.host.process.control_values[gain_port] = value; }

  // The gain saved in the preset's file, read back through lilv.
  float saved_gain() {
    LilvState* state = lilv_state_new_from_file(rig.host.world, &map_feature(), nullptr,
                                                (bundle + "Mine.ttl").c_str());
    if (!state) {
      return -1.0f;
    }
    float gain = -1.0f;
    lilv_state_emit_port_values(
        state,
        [](const char* symbol, void* data, const void* value, uint32_t size, uint32_t) {
          if (std::string(symbol) == "gain" && size == sizeof(float)) {
            *static_cast<float*>(data) = *static_cast<const float*>(value);
          }
        },
        &gain);
    lilv_state_free(state);
    return gain;
  }

  LV2_URID_Map& map_feature() {
    return *static_cast<LV2_URID_Map*>(rig.host.features.map_feature.data);
  }

  // Runs the delete dialog and answers it with `response` once it shows.
  void delete_answering(GtkResponseType response) {
    struct Answer {
      GtkResponseType response;
      std::string text;
    } answer{response, ""};
    const guint source = g_timeout_add(
        20,
        [](gpointer data) -> gboolean {
          auto* a = static_cast<Answer*>(data);
          GList* windows = gtk_window_list_toplevels();
          for (GList* w = windows; w; w = w->next) {
            if (GTK_IS_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)) &&
                g_strcmp0(gtk_window_get_title(GTK_WINDOW(w->data)), "Delete Preset?") == 0) {
              GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(w->data));
              GList* children = gtk_container_get_children(GTK_CONTAINER(content));
              for (GList* c = children; c; c = c->next) {
                if (GTK_IS_LABEL(c->data)) {
                  a->text = gtk_label_get_text(GTK_LABEL(c->data));
                }
              }
              g_list_free(children);
              gtk_dialog_response(GTK_DIALOG(w->data), a->response);
            }
          }
          g_list_free(windows);
          return G_SOURCE_CONTINUE;
        },
        &answer);
    delete_preset_dialog(&rig.host);
    g_source_remove(source);
    EXPECT_EQ(answer.text, "Delete preset \"Mine\" from disk?");
  }

  TempDir home;
  const std::string bundle = home.file(".lv2/Mine.preset.lv2/");
  HostRig rig;
  std::string uri;
};

TEST_F(PresetActions, SavingOverThePresetKeepsItsFileLabelAndUri) {
  set_gain(1.7f);
  save_current_preset(&rig.host);
  EXPECT_TRUE(rig.logged(LOG_LEVEL_WARNING).empty());
  ASSERT_NE(rig.host.preset, nullptr);
  EXPECT_STREQ(lilv_state_get_label(rig.host.preset), "Mine");
  EXPECT_EQ(lilv_node_as_string(lilv_state_get_uri(rig.host.preset)), uri);
  EXPECT_FLOAT_EQ(saved_gain(), 1.7f);
}

TEST_F(PresetActions, APresetThatIsNotAFileIsNotSavedOver) {
  const LilvNodePtr elsewhere{lilv_new_uri(rig.host.world, "urn:bexo:test:banks#elsewhere")};
  ASSERT_EQ(restore_preset(&rig.host, elsewhere.get()), 0);
  save_current_preset(&rig.host);
  EXPECT_EQ(rig.logged(LOG_LEVEL_WARNING),
            std::vector<std::string>{
                "Unable to determine filename for preset <urn:bexo:test:banks#elsewhere>"});
}

TEST_F(PresetActions, DeletingAsksAndEitherWayLeavesNoCurrentPreset) {
  delete_answering(GTK_RESPONSE_CANCEL);
  EXPECT_EQ(rig.host.preset, nullptr);
  EXPECT_TRUE(std::filesystem::exists(bundle + "Mine.ttl"));

  const LilvNodePtr mine{lilv_new_uri(rig.host.world, uri.c_str())};
  ASSERT_EQ(restore_preset(&rig.host, mine.get()), 0);
  delete_answering(GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(rig.host.preset, nullptr);
  EXPECT_FALSE(std::filesystem::exists(bundle + "Mine.ttl"));
}

} // namespace
