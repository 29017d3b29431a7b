// The "Save Preset" dialog driven through its real widgets, in a home
// directory of the test program's own: a new preset in a bundle of its own
// under ~/.lv2, the overwrite box for a name that is taken, and a save that
// cannot be made.

#include "base/log.hpp"
#include "dialog_driver.hpp"
#include "gtk/presets_menu.hpp"
#include "gtk/save_preset_dialog.hpp"
#include "harness/files.hpp"
#include "harness/host_rig.hpp"
#include "host/host.hpp"
#include "menu_labels.hpp"
#include "state/state.hpp"
#include "test_home.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <lilv/lilv.h>
#include <string>

namespace {

constexpr uint32_t gain_port = 2;
// sanitize_name("Bexo Test GTK UI (Resizable)" + "_" + "Warm 1")
constexpr char warm_bundle[] = "/.lv2/Bexo_Test_GTK_UI__Resizable__Warm_1.preset.lv2";

// The dialog's widgets, found as a user finds them.
struct SaveWidgets {
  GtkWidget* entry;
  GtkWidget* ok;
  GtkWidget* overwrite;
  GtkWidget* link;
};

SaveWidgets widgets_of(GtkDialog* dialog) {
  GtkWidget* content = gtk_dialog_get_content_area(dialog);
  GtkWidget* overwrite = find_widget(content, GTK_TYPE_CHECK_BUTTON);
  // The link is the label beside the check button, the box's last child.
  GList* beside = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(overwrite)));
  GtkWidget* link = GTK_WIDGET(g_list_last(beside)->data);
  g_list_free(beside);
  return {find_widget(content, GTK_TYPE_ENTRY),
          gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_ACCEPT), overwrite, link};
}

class SavePresetDialog : public testing::Test {
protected:
  static void SetUpTestSuite() {
    test_home();
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
  }

  void SetUp() override {
    ASSERT_EQ(g_get_home_dir(), test_home()) << "presets would go into the user's home";
    std::filesystem::remove_all(test_home() + "/.lv2");
    ASSERT_EQ(rig.open_manual("urn:bexo:test:gtkui-resizable"), 0);
  }

  void TearDown() override { std::filesystem::remove_all(test_home() + "/.lv2"); }

  // Runs the dialog; `act` sees it once it shows and answers it.
  bool run_dialog(const std::function<void(GtkDialog*, const SaveWidgets&)>& act) {
    const DialogDriver driver("Save Preset", [&](GtkDialog* dialog) {
      act(dialog, widgets_of(dialog));
      return true;
    });
    save_preset_as_dialog(&rig.host);
    return driver.acted();
  }

  std::vector<std::string> listed() { return preset_menu_labels(&rig.host); }

  float& gain() { return rig.host.process.control_values[gain_port]; }

  const std::string file = test_home() + warm_bundle + "/Warm_1.ttl";
  HostRig rig;
};

TEST(SanitizeName, KeepsAsciiLettersAndDigitsAndReplacesEveryOtherByte) {
  struct Case {
    const char* name;
    const char* sane;
  };
  const Case cases[] = {
      {"Amp Plus_Warm 1", "Amp_Plus_Warm_1"},
      {"Abc019XYZ", "Abc019XYZ"},
      {"a/b\\c.d:e*f", "a_b_c_d_e_f"},
      {"W\xc3\xa4rme", "W__rme"},  // two bytes, two underscores
      {"\xe2\x82\xac 5", "____5"}, // a three-byte character and a space
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sanitize_name(c.name), c.sane) << c.name;
  }
}

TEST(PresetBundlePath, IsNamedAfterThePluginAndThePresetInsideDotLv2) {
  LilvWorld* world = lilv_world_new();
  Host host{};
  host.plugin_name = lilv_new_string(world, "Amp Plus");
  EXPECT_EQ(preset_bundle_path(&host, "Warm 1"), test_home() + "/.lv2/Amp_Plus_Warm_1.preset.lv2");
  lilv_node_free(host.plugin_name);
  lilv_world_free(world);
}

TEST_F(SavePresetDialog, ANewNameIsSavedInABundleOfItsOwnAndBecomesTheCurrentPreset) {
  gain() = 1.5f;
  EXPECT_TRUE(run_dialog([](GtkDialog*, const SaveWidgets& w) {
    EXPECT_FALSE(gtk_widget_get_sensitive(w.ok)) << "no name yet";
    gtk_entry_set_text(GTK_ENTRY(w.entry), "Warm 1");
    EXPECT_TRUE(gtk_widget_get_sensitive(w.ok));
    EXPECT_FALSE(gtk_widget_get_visible(gtk_widget_get_parent(w.overwrite)));
    gtk_widget_activate(w.entry); // Enter
  }));
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_TRUE(std::filesystem::exists(test_home() + warm_bundle + "/manifest.ttl"));
  ASSERT_NE(rig.host.preset, nullptr);
  EXPECT_STREQ(lilv_state_get_label(rig.host.preset), "Warm 1");
  const std::vector<std::string> labels = listed();
  EXPECT_EQ(std::count(labels.begin(), labels.end(), "Warm 1"), 1);

  // It loads back with the values it was saved with.
  gain() = 0.1f;
  const LilvNodePtr uri{
      lilv_new_uri(rig.host.world, lilv_node_as_uri(lilv_state_get_uri(rig.host.preset)))};
  ASSERT_EQ(restore_preset(&rig.host, uri.get()), 0);
  EXPECT_FLOAT_EQ(gain(), 1.5f);
}

TEST_F(SavePresetDialog, ANameThatIsTakenIsSavedOnlyWhenOverwriteIsTicked) {
  gain() = 0.5f;
  ASSERT_EQ(save_preset_as(&rig.host, "Warm 1"), 0);
  const std::string saved = read_text(file);

  gain() = 1.25f;
  EXPECT_TRUE(run_dialog([](GtkDialog* dialog, const SaveWidgets& w) {
    gtk_entry_set_text(GTK_ENTRY(w.entry), "Warm 1");
    EXPECT_TRUE(gtk_widget_get_visible(gtk_widget_get_parent(w.overwrite)));
    EXPECT_FALSE(gtk_widget_get_sensitive(w.ok));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(w.link)), "Bexo_Test_GTK_UI__Resizable__Warm_1");
    EXPECT_NE(std::string(gtk_label_get_label(GTK_LABEL(w.link))).find("href=\"file://"),
              std::string::npos);
    gtk_widget_activate(w.entry); // Enter does nothing while OK is insensitive
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w.overwrite), TRUE);
    EXPECT_TRUE(gtk_widget_get_sensitive(w.ok));
    gtk_entry_set_text(GTK_ENTRY(w.entry), "");
    EXPECT_FALSE(gtk_widget_get_sensitive(w.ok));
    gtk_dialog_response(dialog, GTK_RESPONSE_CANCEL);
  }));
  EXPECT_EQ(read_text(file), saved) << "cancelled: nothing written";

  EXPECT_TRUE(run_dialog([](GtkDialog*, const SaveWidgets& w) {
    gtk_entry_set_text(GTK_ENTRY(w.entry), "Warm 1");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w.overwrite), TRUE);
    gtk_widget_activate(w.entry);
  }));
  EXPECT_NE(read_text(file), saved);
  const std::vector<std::string> labels = listed();
  EXPECT_EQ(std::count(labels.begin(), labels.end(), "Warm 1"), 1) << "replaced, not added";
  const LilvNodePtr uri{
      lilv_new_uri(rig.host.world, lilv_node_as_uri(lilv_state_get_uri(rig.host.preset)))};
  gain() = 0.0f;
  ASSERT_EQ(restore_preset(&rig.host, uri.get()), 0);
  EXPECT_FLOAT_EQ(gain(), 1.25f);
}

TEST_F(SavePresetDialog, ASaveThatCannotBeMadeIsReportedAndTouchesNothing) {
  // ~/.lv2 is a file, so no bundle can be made in it, for root as for anyone.
  std::ofstream(test_home() + "/.lv2") << "not a directory\n";
  EXPECT_NE(save_preset_as(&rig.host, "Warm 1"), 0);
  EXPECT_EQ(
      rig.logged(LOG_LEVEL_WARNING),
      std::vector<std::string>{"Error saving preset \"Warm 1\" to " + test_home() + warm_bundle});
  EXPECT_EQ(read_text(test_home() + "/.lv2"), "not a directory\n");
}

} // namespace
