// Saving over the current preset and deleting it, as "win.save-preset" and
// "win.delete-preset" do, on a preset of the test's own in a temporary
// directory (HOME is a temporary one too, so nothing of the user's is
// touched).  The delete dialog is answered from the main loop, as a user
// would.

#include "base/log.hpp"
#include "dialog_driver.hpp"
#include "gtk/main_window.hpp"
#include "gtk/preset_dialogs.hpp"
#include "gtk/presets_menu.hpp"
#include "harness/files.hpp"
#include "harness/host_rig.hpp"
#include "harness/saved_values.hpp"
#include "menu_labels.hpp"
#include "state/state.hpp"
#include "test_home.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <lilv/lilv.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t gain_port = 2;

class PresetActions : public testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }

  void SetUp() override {
    test_home();
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
  float saved_gain() { return saved_port_value(bundle + "Mine.ttl"); }

  // Whether the presets menu lists a preset with this label.
  bool listed(const std::string& label) {
    const std::vector<std::string> labels = preset_menu_labels(&rig.host);
    return std::find(labels.begin(), labels.end(), label) != labels.end();
  }

  // Runs the delete dialog and answers it with `response` once it shows.
  void delete_answering(GtkResponseType response) {
    std::string text;
    const DialogDriver driver("Delete Preset?", [&](GtkDialog* dialog) {
      GtkWidget* label = find_widget(gtk_dialog_get_content_area(dialog), GTK_TYPE_LABEL);
      text = label ? gtk_label_get_text(GTK_LABEL(label)) : "";
      gtk_dialog_response(dialog, response);
      return true;
    });
    delete_preset_dialog(&rig.host);
    EXPECT_TRUE(driver.acted());
    EXPECT_EQ(text, "Delete preset \"Mine\" from disk?");
  }

  const TempDir dir;
  const std::string bundle = dir.file("Mine.preset.lv2/");
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

// What a system-wide bundle is to its users: readable, not writable.
TEST_F(PresetActions, APresetInAReadOnlyBundleStaysAsItWasAndLoadable) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can try the bundle as another user";
  }
  chmod(dir.path().c_str(), 0755);
  const std::string before = read_text(bundle + "Mine.ttl");
  ASSERT_FALSE(before.empty());
  const pid_t child = fork();
  if (child == 0) {
    if (setuid(65534) != 0) {
      _exit(2);
    }
    set_gain(1.9f);
    save_current_preset(&rig.host);
    const bool warned = rig.logged(LOG_LEVEL_WARNING) ==
                        std::vector<std::string>{"Error saving preset <" + uri + ">"};
    const LilvNodePtr mine{lilv_new_uri(rig.host.world, uri.c_str())};
    const bool loadable = restore_preset(&rig.host, mine.get()) == 0 &&
                          rig.host.process.control_values[gain_port] == 0.3f;
    _exit(!warned ? 1 : !loadable ? 3 : 0);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no warning, 2: setuid failed, 3: not loadable";
  EXPECT_EQ(read_text(bundle + "Mine.ttl"), before);
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
  EXPECT_TRUE(listed("Mine"));
  delete_answering(GTK_RESPONSE_CANCEL);
  EXPECT_EQ(rig.host.preset, nullptr);
  EXPECT_FALSE(preset_is_file(&rig.host)) << "nothing to save over";
  EXPECT_FALSE(preset_is_deletable(&rig.host));
  EXPECT_TRUE(std::filesystem::exists(bundle + "Mine.ttl"));
  EXPECT_TRUE(listed("Mine"));

  const LilvNodePtr mine{lilv_new_uri(rig.host.world, uri.c_str())};
  ASSERT_EQ(restore_preset(&rig.host, mine.get()), 0);
  delete_answering(GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(rig.host.preset, nullptr);
  EXPECT_FALSE(std::filesystem::exists(bundle + "Mine.ttl"));
  EXPECT_FALSE(listed("Mine"));
}

} // namespace
