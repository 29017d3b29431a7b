// The presets menu of bexo-gtk and what choosing from it does, on the
// banks-presets fixture bundle for the gtkui-resizable plugin: presets
// without a bank first, then one submenu per bank in name order.  lilv
// lists presets in no fixed order, so the order within a level is not
// checked.

#include "base/log.hpp"
#include "gtk/bexo_gtk.hpp"
#include "gtk/main_window.hpp"
#include "gtk/presets_menu.hpp"
#include "gtk/window_menus.hpp"
#include "harness/host_rig.hpp"
#include "state/control.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t gain_port = 2;

struct MenuEntry {
  std::string label;
  std::string target;             ///< The preset URI of "win.load-preset", or "".
  std::vector<MenuEntry> submenu; ///< A bank's presets.
};

std::string string_attribute(GMenuModel* menu, int item, const char* name) {
  gchar* value = nullptr;
  if (!g_menu_model_get_item_attribute(menu, item, name, "s", &value)) {
    return "";
  }
  std::string result = value;
  g_free(value);
  return result;
}

std::vector<MenuEntry> entries_of(GMenuModel* menu) {
  std::vector<MenuEntry> entries;
  for (int i = 0; i < g_menu_model_get_n_items(menu); ++i) {
    MenuEntry entry{string_attribute(menu, i, G_MENU_ATTRIBUTE_LABEL), "", {}};
    if (string_attribute(menu, i, G_MENU_ATTRIBUTE_ACTION) == "win.load-preset") {
      entry.target = string_attribute(menu, i, G_MENU_ATTRIBUTE_TARGET);
    }
    if (GMenuModel* submenu = g_menu_model_get_item_link(menu, i, G_MENU_LINK_SUBMENU)) {
      entry.submenu = entries_of(submenu);
      g_object_unref(submenu);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::set<std::string> labels_of(const std::vector<MenuEntry>& entries) {
  std::set<std::string> labels;
  for (const MenuEntry& entry : entries) {
    labels.insert(entry.label);
  }
  return labels;
}

class PresetsMenu : public testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(rig.open_manual("urn:bexo:test:gtkui-resizable"), 0); }

  std::vector<MenuEntry> menu() {
    GMenu* menu = g_menu_new();
    fill_presets_menu(&rig.host, menu);
    std::vector<MenuEntry> entries = entries_of(G_MENU_MODEL(menu));
    g_object_unref(menu);
    return entries;
  }

  std::string uri_of(const std::string& label) {
    for (const MenuEntry& top : menu()) {
      if (top.label == label) {
        return top.target;
      }
      for (const MenuEntry& entry : top.submenu) {
        if (entry.label == label) {
          return entry.target;
        }
      }
    }
    return "";
  }

  void load(const std::string& uri) {
    GVariant* parameter = g_variant_ref_sink(g_variant_new_string(uri.c_str()));
    load_preset(nullptr, parameter, &rig.host);
    g_variant_unref(parameter);
  }

  float gain() { return rig.host.process.control_values[gain_port]; }

  HostRig rig;
};

TEST_F(PresetsMenu, UnbankedPresetsComeFirstThenOneSubmenuPerBankInNameOrder) {
  const std::vector<MenuEntry> entries = menu();
  ASSERT_EQ(entries.size(), 5u);
  const std::vector<MenuEntry> unbanked(entries.begin(), entries.begin() + 2);
  EXPECT_EQ(labels_of(unbanked), (std::set<std::string>{"Plain", "Elsewhere"}));
  for (const MenuEntry& entry : unbanked) {
    EXPECT_TRUE(entry.submenu.empty());
    EXPECT_FALSE(entry.target.empty()) << entry.label;
  }
  // A bank without a label is named by its URI, which sorts after "B".
  const char* const banks[] = {"A", "B", "urn:bexo:test:banks#nolabel"};
  const std::set<std::string> bank_presets[] = {
      {"Bank A One"}, {"Bank B One", "Bank B Two"}, {"Unnamed Bank"}};
  for (size_t i = 0; i < std::size(banks); ++i) {
    const MenuEntry& bank = entries[2 + i];
    EXPECT_EQ(bank.label, banks[i]);
    EXPECT_TRUE(bank.target.empty()) << "a bank entry loads nothing";
    EXPECT_EQ(labels_of(bank.submenu), bank_presets[i]) << bank.label;
  }
  EXPECT_EQ(uri_of("Elsewhere"), "urn:bexo:test:banks#elsewhere");
  EXPECT_EQ(uri_of("Plain").rfind("file://", 0), 0u);
}

TEST_F(PresetsMenu, ChoosingAPresetRestoresItButTheCurrentOneIsNotRestoredAgain) {
  load(uri_of("Bank A One"));
  ASSERT_NE(rig.host.preset, nullptr);
  EXPECT_STREQ(lilv_state_get_label(rig.host.preset), "Bank A One");
  EXPECT_FLOAT_EQ(gain(), 0.75f);

  rig.host.process.control_values[gain_port] = 1.0f; // as if the user had turned it
  load(uri_of("Bank A One"));
  EXPECT_FLOAT_EQ(gain(), 1.0f);

  load(uri_of("Plain"));
  EXPECT_FLOAT_EQ(gain(), 0.5f);
  EXPECT_STREQ(lilv_state_get_label(rig.host.preset), "Plain");

  load("urn:bexo:test:banks#not-a-preset");
  EXPECT_EQ(rig.host.preset, nullptr);
}

TEST_F(PresetsMenu, OnlyAFilePresetMayBeSavedOverAndOnlyAWritableBundleDeleted) {
  EXPECT_FALSE(preset_is_file(&rig.host));
  EXPECT_FALSE(preset_is_deletable(&rig.host));

  load(uri_of("Elsewhere"));
  ASSERT_NE(rig.host.preset, nullptr);
  EXPECT_FALSE(preset_is_file(&rig.host));
  EXPECT_FALSE(preset_is_deletable(&rig.host));

  load(uri_of("Plain"));
  EXPECT_TRUE(preset_is_file(&rig.host));
  EXPECT_EQ(preset_is_deletable(&rig.host), access(BEXO_BANKS_MANIFEST, W_OK) == 0);

  // The fixture bundle is the build's (mode 644): for any other user it is
  // read-only, which is what a system-wide bundle is to its users.
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can look at the bundle as another user";
  }
  const pid_t child = fork();
  if (child == 0) {
    _exit(setuid(65534) == 0 ? (preset_is_deletable(&rig.host) ? 1 : 0) : 2);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: deletable for another user; 2: setuid failed";
}

// The submenu that a menu entry with this label links to, or null.
GMenuModel* submenu_labelled(GMenuModel* menu, const std::string& label) {
  for (int i = 0; i < g_menu_model_get_n_items(menu); ++i) {
    GMenuModel* section = g_menu_model_get_item_link(menu, i, G_MENU_LINK_SECTION);
    GMenuModel* found = section ? submenu_labelled(section, label) : nullptr;
    if (section) {
      g_object_unref(section);
    }
    if (!found && string_attribute(menu, i, G_MENU_ATTRIBUTE_LABEL) == label) {
      found = g_menu_model_get_item_link(menu, i, G_MENU_LINK_SUBMENU);
    }
    if (found) {
      return found;
    }
    GMenuModel* submenu = g_menu_model_get_item_link(menu, i, G_MENU_LINK_SUBMENU);
    found = submenu ? submenu_labelled(submenu, label) : nullptr;
    if (submenu) {
      g_object_unref(submenu);
    }
    if (found) {
      return found;
    }
  }
  return nullptr;
}

// Both menus list the presets from one menu of them: scanned once, so a
// preset without a label is reported once, and refilled once for both.
TEST(PresetsMenus, TheMenubarAndTheHeaderMenuShareOneListOfPresets) {
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
  FrontendApp app{};
  rig.host.gui_data = &app;
  GMenuModel* menubar = make_menubar(&rig.host);
  GMenuModel* header = make_header_menu(&rig.host);
  GMenuModel* from_menubar = submenu_labelled(menubar, "_Load Preset");
  GMenuModel* from_header = submenu_labelled(header, "Load _Preset");
  ASSERT_NE(from_menubar, nullptr);
  EXPECT_EQ(from_menubar, from_header);
  EXPECT_EQ(from_header, G_MENU_MODEL(app.presets_menu));
  EXPECT_EQ(rig.logged(LOG_LEVEL_WARNING).size(), 1u) << "one warning for the unlabelled preset";
  GMenu* alone = g_menu_new();
  fill_presets_menu(&rig.host, alone);
  EXPECT_EQ(g_menu_model_get_n_items(from_header), g_menu_model_get_n_items(G_MENU_MODEL(alone)));
  EXPECT_GT(g_menu_model_get_n_items(from_header), 0);
  g_object_unref(alone);
  for (GMenuModel* model : {from_menubar, from_header, menubar, header}) {
    if (model) {
      g_object_unref(model);
    }
  }
  rig.host.gui_data = nullptr;
}

} // namespace
