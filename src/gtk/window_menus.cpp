#include "gtk/window_menus.hpp"

#include "gtk/bexo_gtk.hpp"
#include "gtk/presets_menu.hpp"
#include "host/host.hpp"
#include "host/session.hpp"

namespace {

// "_Save Preset", "Save Preset _As..." and "_Delete Preset..."; both menus
// start with them.
void append_preset_actions(GMenu* menu) {
  g_menu_append(menu, "_Save Preset", "win.save-preset");
  g_menu_append(menu, "Save Preset _As...", "win.save-preset-as");
  g_menu_append(menu, "_Delete Preset...", "win.delete-preset");
}

// A submenu with the plugin's presets: the front end's one presets menu,
// made on first use and shared by both menus, so that the presets are
// listed once and a refill after a save or delete shows in each.
void append_presets_submenu(Host* host, GMenu* menu, const char* label) {
  FrontendApp* app = frontend_app(host);
  const bool made = !app->presets_menu;
  if (made) {
    app->presets_menu = g_menu_new();
    fill_presets_menu(host, app->presets_menu);
  }
  g_menu_append_submenu(menu, label, G_MENU_MODEL(app->presets_menu));
  if (made) {
    g_object_unref(app->presets_menu); // the menus hold it
  }
}

} // namespace

GMenuModel* make_menubar(Host* host) {
  GMenu* menubar = g_menu_new();

  GMenu* file = g_menu_new();
  if (in_session(host)) {
    g_menu_append(file, "_Save", "win.save-session");
  }
  g_menu_append(file, "_Save As...", "win.save-as");
  g_menu_append(file, "_Quit", "app.quit");
  g_menu_append_submenu(menubar, "_File", G_MENU_MODEL(file));
  g_object_unref(file);

  GMenu* presets = g_menu_new();
  GMenu* actions = g_menu_new();
  append_preset_actions(actions);
  g_menu_append_section(presets, nullptr, G_MENU_MODEL(actions));
  g_object_unref(actions);
  append_presets_submenu(host, presets, "_Load Preset");
  g_menu_append_submenu(menubar, "_Presets", G_MENU_MODEL(presets));
  g_object_unref(presets);
  return G_MENU_MODEL(menubar);
}

GMenuModel* make_header_menu(Host* host) {
  GMenu* menu = g_menu_new();

  GMenu* presets = g_menu_new();
  append_preset_actions(presets);
  append_presets_submenu(host, presets, "Load _Preset");
  g_menu_append_section(menu, nullptr, G_MENU_MODEL(presets));
  g_object_unref(presets);

  // The header bar has no File menu: saving the whole state goes here.
  GMenu* application = g_menu_new();
  if (in_session(host)) {
    // "_Save Preset" above has the S.
    g_menu_append(application, "Sa_ve Session", "win.save-session");
  }
  g_menu_append(application, "Save S_tate As...", "win.save-as");
  g_menu_append(application, "Show _Log", "app.show-log");
  g_menu_append(application, "About _Bexo", "app.about");
  g_menu_append(application, "_Quit", "app.quit");
  g_menu_append_section(menu, nullptr, G_MENU_MODEL(application));
  g_object_unref(application);
  return G_MENU_MODEL(menu);
}

GtkHeaderBar* make_header_bar(Host* host) {
  auto* bar = GTK_HEADER_BAR(gtk_header_bar_new());
  gtk_header_bar_set_title(bar, lilv_node_as_string(host->plugin_name));
  gtk_header_bar_set_show_close_button(bar, TRUE);

  GtkWidget* button = gtk_menu_button_new();
  gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
  gtk_menu_button_set_direction(GTK_MENU_BUTTON(button), GTK_ARROW_NONE);
  GMenuModel* menu = make_header_menu(host);
  gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(button), menu);
  g_object_unref(menu);
  gtk_widget_set_tooltip_text(button, "Show menu");

  GtkToolItem* item = gtk_tool_item_new();
  gtk_container_add(GTK_CONTAINER(item), button);
  gtk_header_bar_pack_end(bar, GTK_WIDGET(item));
  return bar;
}
