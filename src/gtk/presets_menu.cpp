#include "gtk/presets_menu.hpp"

#include "base/nodes.hpp"
#include "gtk/bexo_gtk.hpp"
#include "gtk/main_window.hpp"
#include "host/host.hpp"
#include "state/state.hpp"

#include <cstring>
#include <lilv/lilv.h>
#include <map>
#include <string>

namespace {

// Bank names to their submenus; std::map orders them byte-wise by name,
// and banks with equal names share one submenu.
using BankMenus = std::map<std::string, GMenu*>;

struct MenuFill {
  GMenu* menu;
  BankMenus banks;
};

std::string bank_name(const Host* host, const LilvNode* bank) {
  const LilvNodePtr label{lilv_world_get(host->world, bank, host->nodes.rdfs_label, nullptr)};
  return lilv_node_as_string(label ? label.get() : bank);
}

int add_preset_item(StateHost* state_host, const LilvNode* preset, const LilvNode* label,
                    void* data) {
  auto* host = static_cast<Host*>(state_host);
  auto* fill = static_cast<MenuFill*>(data);
  GMenuItem* item = g_menu_item_new(lilv_node_as_string(label), nullptr);
  g_menu_item_set_action_and_target(item, "win.load-preset", "s", lilv_node_as_uri(preset));

  const LilvNodePtr bank{lilv_world_get(host->world, preset, host->nodes.pset_bank, nullptr)};
  GMenu* menu = fill->menu;
  if (bank) {
    GMenu*& submenu = fill->banks[bank_name(host, bank.get())];
    if (!submenu) {
      submenu = g_menu_new();
    }
    menu = submenu;
  }
  g_menu_append_item(menu, item);
  g_object_unref(item);
  return 0;
}

void append_bank_menus(MenuFill* fill) {
  for (auto& [name, submenu] : fill->banks) {
    g_menu_append_submenu(fill->menu, name.c_str(), G_MENU_MODEL(submenu));
    g_object_unref(submenu);
  }
  fill->banks.clear();
}

} // namespace

void fill_presets_menu(Host* host, GMenu* menu) {
  MenuFill fill{menu, {}};
  scan_presets(host, add_preset_item, &fill);
  append_bank_menus(&fill);
}

void refill_presets_menu(Host* host) {
  const FrontendApp* app = frontend_app(host);
  if (!app || !app->presets_menu) {
    return;
  }
  g_menu_remove_all(app->presets_menu);
  fill_presets_menu(host, app->presets_menu);
}

void load_preset(GSimpleAction*, GVariant* parameter, gpointer data) {
  auto* host = static_cast<Host*>(data);
  const char* uri = g_variant_get_string(parameter, nullptr);
  if (host->preset) {
    const LilvNode* current = lilv_state_get_uri(host->preset);
    if (current && std::strcmp(lilv_node_as_string(current), uri) == 0) {
      return;
    }
  }
  const LilvNodePtr preset{lilv_new_uri(host->world, uri)};
  restore_preset(host, preset.get());
  update_window_title(host);
}
