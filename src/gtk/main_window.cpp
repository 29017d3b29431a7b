#include "gtk/main_window.hpp"

#include "gtk/bexo_gtk.hpp"
#include "gtk/control_panel.hpp"
#include "gtk/log_viewer.hpp"
#include "gtk/preset_dialogs.hpp"
#include "gtk/presets_menu.hpp"
#include "gtk/request_value.hpp"
#include "gtk/save_preset_dialog.hpp"
#include "gtk/save_state_dialog.hpp"
#include "gtk/window_menus.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "host/session.hpp"
#include "ui/plugin_ui.hpp"
#include "ui/ui_update.hpp"

#include <algorithm>
#include <cstring>
#include <gdk/gdkx.h>
#include <lilv/lilv.h>
#include <string>
#include <suil/suil.h>
#include <unistd.h>

namespace {

constexpr char gtk3_ui_type[] = "http://lv2plug.in/ns/extensions/ui#Gtk3UI";

// A plugin without a name is still told apart by its URI.
const char* plugin_title(const Host* host) {
  return host->plugin_name ? lilv_node_as_string(host->plugin_name)
                           : lilv_node_as_uri(lilv_plugin_get_uri(host->plugin));
}

// In a session the session manager ends the program; the user's quitting
// or closing the window only hides it, and the server hears of it.
void hide_in_session(Host* host) {
  set_main_window_visible(host, false);
  session_gui_changed(host, false);
}

void quit_action(GSimpleAction*, GVariant*, gpointer data) {
  auto* host = static_cast<Host*>(data);
  FrontendApp* app = frontend_app(host);
  if (in_session(host)) {
    hide_in_session(host);
    return;
  }
  if (app->window) {
    gtk_widget_destroy(GTK_WIDGET(app->window));
    app->window = nullptr;
  }
}

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
  auto* host = static_cast<Host*>(data);
  if (!in_session(host)) {
    return FALSE;
  }
  hide_in_session(host);
  return TRUE;
}

void save_session_action(GSimpleAction*, GVariant*, gpointer host) {
  session_save(static_cast<Host*>(host)); // a failure says why in the log
}

void about_action(GSimpleAction*, GVariant*, gpointer) {
  show_about();
}

void show_log_action(GSimpleAction*, GVariant*, gpointer host) {
  show_log_window(static_cast<Host*>(host));
}

void save_state_action(GSimpleAction*, GVariant*, gpointer host) {
  save_state_dialog(static_cast<Host*>(host));
}

void save_preset_as_action(GSimpleAction*, GVariant*, gpointer host) {
  save_preset_as_dialog(static_cast<Host*>(host));
}

void save_preset_action(GSimpleAction*, GVariant*, gpointer host) {
  save_current_preset(static_cast<Host*>(host));
}

void delete_preset_action(GSimpleAction*, GVariant*, gpointer host) {
  delete_preset_dialog(static_cast<Host*>(host));
}

void add_actions(Host* host, GtkApplication* application, GtkWindow* window) {
  static const GActionEntry app_entries[] = {
      {"show-log", show_log_action, nullptr, nullptr, nullptr, {}},
      {"about", about_action, nullptr, nullptr, nullptr, {}},
      {"quit", quit_action, nullptr, nullptr, nullptr, {}},
  };
  static const GActionEntry window_entries[] = {
      {"load-preset", load_preset, "s", nullptr, nullptr, {}},
      {"save-as", save_state_action, nullptr, nullptr, nullptr, {}},
      {"save-session", save_session_action, nullptr, nullptr, nullptr, {}},
      {"save-preset", save_preset_action, nullptr, nullptr, nullptr, {}},
      {"save-preset-as", save_preset_as_action, nullptr, nullptr, nullptr, {}},
      {"delete-preset", delete_preset_action, nullptr, nullptr, nullptr, {}},
  };
  g_action_map_add_action_entries(G_ACTION_MAP(application), app_entries, G_N_ELEMENTS(app_entries),
                                  host);
  g_action_map_add_action_entries(G_ACTION_MAP(window), window_entries,
                                  G_N_ELEMENTS(window_entries), host);
  // A session keeps its setup where the session manager says, so there is
  // nowhere else to save it to; outside one there is no session to save.
  const bool session = in_session(host);
  GActionMap* actions = G_ACTION_MAP(window);
  g_simple_action_set_enabled(G_SIMPLE_ACTION(g_action_map_lookup_action(actions, "save-as")),
                              !session);
  g_simple_action_set_enabled(G_SIMPLE_ACTION(g_action_map_lookup_action(actions, "save-session")),
                              session);
}

void answer_failed_open(Host* host, FrontendApp* app, GtkApplication* application) {
  answer_session_open(host, app->open_status ? app->open_status : 1);
  // A signal while the program waited for the session manager, or for the
  // user to pick a plugin, asked it to end: that is no failure.
  app->failure_status = app->open_status == HOST_OPEN_QUIT || app->quit_during_open ? 0 : 1;
  g_application_quit(G_APPLICATION(application));
}

void set_accelerators(GtkApplication* application, GtkWindow* window) {
  GtkAccelGroup* group = gtk_accel_group_new();
  gtk_window_add_accel_group(window, group);
  g_object_unref(group); // the window holds it
  struct Accel {
    const char* action;
    const char* accel;
  };
  // "<Ctrl>L" shows the log; loading a preset needs its URI and so has no
  // accelerator of its own.
  static const Accel accels[] = {
      {"app.quit", "<Ctrl>Q"},
      {"app.show-log", "<Ctrl>L"},
      {"win.delete-preset", "<Ctrl>Delete"},
      {"win.save-preset", "<Ctrl>S"},
      {"win.save-preset-as", "<Ctrl><Shift>S"},
      {"win.save-as", "<Ctrl><Shift>A"},
  };
  for (const Accel& a : accels) {
    const char* const list[] = {a.accel, nullptr};
    gtk_application_set_accels_for_action(application, a.action, list);
  }
}

// The plugin's own UI in `box`, when one was chosen and suil can make it.
bool embed_plugin_ui(Host* host, GtkWindow* window, GtkWidget* box) {
  if (host->ui && !host->options.generic_ui) {
    // A UI may make its window through an X connection of its own and not
    // flush it before it returns (x42's balance does): suil's first look at
    // the window through GDK's connection then fails with BadWindow, and an
    // X error that nobody trapped ends the program.
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    const bool x11 = GDK_IS_X11_DISPLAY(display);
    if (x11) {
      gdk_x11_display_error_trap_push(display);
    }
    plugin_ui_create(host, gtk3_ui_type, box);
    if (x11) {
      gdk_x11_display_error_trap_pop_ignored(display);
    }
  }
  if (!host->ui_instance) {
    return false;
  }
  auto* widget = static_cast<GtkWidget*>(suil_instance_get_widget(host->ui_instance));
  gtk_container_add(GTK_CONTAINER(box), widget);
  gtk_window_set_resizable(window, plugin_ui_resizable(host->world, host->ui));
  // The window itself maps only when it is presented: in a session it may
  // start hidden.
  gtk_widget_show_all(gtk_bin_get_child(GTK_BIN(window)));
  gtk_widget_grab_focus(widget);
  return true;
}

void show_generic_panel(Host* host, GtkWindow* window, GtkWidget* vbox, GtkWidget* box) {
  GtkWidget* panel = build_controls_panel(host, window);
  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_container_add(GTK_CONTAINER(scrolled), panel);
  gtk_container_add(GTK_CONTAINER(box), scrolled);
  gtk_widget_set_margin_top(panel, 8);
  gtk_widget_set_margin_bottom(panel, 8);
  // The window itself stays hidden until it is presented: a default size
  // set once it is shown would wait for the next time it is shown.
  gtk_widget_show_all(vbox);

  GtkRequisition panel_size{};
  GtkRequisition box_size{};
  gtk_widget_get_preferred_size(panel, nullptr, &panel_size);
  gtk_widget_get_preferred_size(vbox, nullptr, &box_size);
  GdkRectangle work_area{0, 0, G_MAXINT / 2, G_MAXINT / 2};
  if (GdkMonitor* monitor = gdk_display_get_monitor(gdk_display_get_default(), 0)) {
    gdk_monitor_get_workarea(monitor, &work_area);
  }
  const GtkRequisition size = generic_panel_window_size(panel_size, box_size, work_area);
  gtk_window_set_default_size(window, size.width, size.height);
}

} // namespace

std::string current_preset_file(const Host* host) {
  const LilvNode* uri = host->preset ? lilv_state_get_uri(host->preset) : nullptr;
  if (!uri || std::strncmp(lilv_node_as_string(uri), "file:", 5) != 0) {
    return {};
  }
  char* path = lilv_file_uri_parse(lilv_node_as_string(uri), nullptr);
  std::string result = path ? path : "";
  lilv_free(path);
  return result;
}

bool preset_is_file(const Host* host) {
  return !current_preset_file(host).empty();
}

bool preset_is_deletable(const Host* host) {
  const std::string path = current_preset_file(host);
  if (path.empty()) {
    return false;
  }
  const std::string manifest = path.substr(0, path.find_last_of('/') + 1) + "manifest.ttl";
  return access(manifest.c_str(), W_OK) == 0;
}

void update_window_title(Host* host) {
  FrontendApp* app = frontend_app(host);
  if (!app || !app->window) {
    return;
  }
  const char* label = host->preset ? lilv_state_get_label(host->preset) : nullptr;
  if (label) {
    gchar* title = g_strdup_printf("%s - %s", plugin_title(host), label);
    gtk_window_set_title(app->window, title);
    g_free(title);
  } else {
    gtk_window_set_title(app->window, plugin_title(host));
  }
  if (app->header_bar) {
    gtk_header_bar_set_subtitle(app->header_bar, label ? label : "");
  }
  GActionMap* actions = G_ACTION_MAP(app->window);
  g_simple_action_set_enabled(G_SIMPLE_ACTION(g_action_map_lookup_action(actions, "save-preset")),
                              preset_is_file(host));
  g_simple_action_set_enabled(G_SIMPLE_ACTION(g_action_map_lookup_action(actions, "delete-preset")),
                              preset_is_deletable(host));
}

GtkRequisition generic_panel_window_size(GtkRequisition panel, GtkRequisition box,
                                         GdkRectangle work_area) {
  GtkRequisition size{std::max({panel.width, box.width, 616}) + 24, panel.height + box.height};
  if (size.width > work_area.width - 24) {
    size.width = work_area.width - 24;
  }
  if (size.height > work_area.height - 24) {
    size.height = work_area.height - 24;
  }
  return size;
}

void build_main_window(GtkApplication* application, gpointer data) {
  auto* host = static_cast<Host*>(data);
  FrontendApp* app = frontend_app(host);
  if (!host->plugin || !app->opened) {
    answer_failed_open(host, app, application);
    return;
  }
  auto* window = GTK_WINDOW(gtk_application_window_new(application));
  GtkWidget* vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  app->window = window;
  add_actions(host, application, window);
  gtk_window_set_role(window, "plugin_ui");
  gtk_container_add(GTK_CONTAINER(window), vbox);

  if (!host->options.minimal_ui) {
    GMenuModel* menubar = make_menubar(host);
    gtk_application_set_menubar(application, menubar);
    g_object_unref(menubar);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window), FALSE);
    app->header_bar = make_header_bar(host);
    gtk_window_set_titlebar(window, GTK_WIDGET(app->header_bar));
    gtk_widget_show_all(GTK_WIDGET(app->header_bar));
  }
  set_accelerators(application, window);
  update_window_title(host); // once the header bar is there for the subtitle

  GtkWidget* box = gtk_event_box_new();
  gtk_widget_set_hexpand(box, TRUE);
  gtk_widget_set_vexpand(box, TRUE);
  gtk_box_pack_start(GTK_BOX(vbox), box, TRUE, TRUE, 0);
  gtk_widget_show(vbox);
  gtk_widget_show(box);

  // Before the UI is made: its features are fixed when it is instantiated.
  install_request_value(host);
  if (!embed_plugin_ui(host, window, box)) {
    show_generic_panel(host, window, vbox, box);
  }
  if (host_activate(host)) {
    answer_session_open(host, 1);
    app->failure_status = 1;
    gtk_widget_destroy(GTK_WIDGET(window));
    app->window = nullptr;
    return;
  }
  plugin_ui_start(host);
  g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), host);
  answer_session_open(host, 0);
  if (session_gui_visible(host)) {
    gtk_window_present(window);
  }
}

void set_main_window_visible(Host* host, bool visible) {
  FrontendApp* app = frontend_app(host);
  if (!app || !app->window) {
    return;
  }
  if (visible) {
    gtk_window_present(app->window);
  } else {
    gtk_widget_hide(GTK_WIDGET(app->window));
  }
}
