#include "gtk/bexo_gtk.hpp"

#include "gtk/command_line.hpp"
#include "gtk/control_panel.hpp"
#include "gtk/log_viewer.hpp"
#include "gtk/main_window.hpp"
#include "gtk/plugin_selector.hpp"
#include "host/frontend.hpp"
#include "host/host.hpp"
#include "host/host_open.hpp"
#include "host/lifecycle.hpp"
#include "host/periodic_update.hpp"

#include <algorithm>
#include <zix/sem.h>

namespace {

constexpr char application_id[] = "org.bexo.Bexo";

gboolean on_timer(gpointer host) {
  return periodic_update(static_cast<Host*>(host)) != 0;
}

// A modal dialog runs a main loop of its own, which quitting the
// application does not end: cancel each one, so that a signal ends the run
// at once, also while the user is asked something.
void cancel_open_dialogs() {
  GList* windows = gtk_window_list_toplevels();
  for (GList* w = windows; w; w = w->next) {
    if (GTK_IS_DIALOG(w->data)) {
      gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_CANCEL);
    }
  }
  g_list_free(windows);
}

// While the host opens, the periodic update does not run yet, but the
// plugin selector may wait for the user.
gboolean cancel_dialogs_on_quit(gpointer data) {
  auto* host = static_cast<Host*>(data);
  if (zix_sem_try_wait(&host->quit_sem) != ZIX_STATUS_SUCCESS) {
    return G_SOURCE_CONTINUE;
  }
  frontend_app(host)->quit_during_open = true;
  cancel_open_dialogs();
  return G_SOURCE_CONTINUE;
}

void on_startup(GApplication*, gpointer data) {
  auto* host = static_cast<Host*>(data);
  FrontendApp* app = frontend_app(host);
  gtk_window_set_default_icon_name("bexo");
  const guint watch = g_timeout_add(100, cancel_dialogs_on_quit, host);
  const int status = host_open(host, app->plugin_arg);
  g_source_remove(watch);
  app->open_status = status;
  if (app->quit_during_open) {
    zix_sem_post(&host->quit_sem); // for the first tick of the update
  }
  if (status) {
    return; // activation then quits with status 1
  }
  app->opened = true;
  app->timer_id =
      g_timeout_add(static_cast<guint>(1000.0f / host->settings.ui_rate_hz), on_timer, host);
}

void on_shutdown(GApplication*, gpointer data) {
  auto* host = static_cast<Host*>(data);
  FrontendApp* app = frontend_app(host);
  if (app->timer_id) {
    g_source_remove(app->timer_id);
    app->timer_id = 0;
  }
  free_control_widgets(host);
  if (app->opened) {
    host_close(host);
  }
  if (app->args_variant) {
    g_variant_unref(app->args_variant);
    app->args_variant = nullptr;
    app->plugin_arg = nullptr;
  }
}

int gui_init(Host* host) {
  auto* app = new FrontendApp{};
  app->app = gtk_application_new(application_id, G_APPLICATION_NON_UNIQUE);
  app->log_store = make_log_store();
  app->main_thread = std::this_thread::get_id();
  host->gui_data = app;
  host->log.sink = log_sink;
  host->log.sink_data = app;
  return 0;
}

int gui_run(Host* host) {
  FrontendApp* app = frontend_app(host);
  g_set_application_name("Bexo");
  command_line_install(G_APPLICATION(app->app), host);
  g_signal_connect(app->app, "startup", G_CALLBACK(on_startup), host);
  g_signal_connect(app->app, "shutdown", G_CALLBACK(on_shutdown), host);
  g_signal_connect(app->app, "activate", G_CALLBACK(build_main_window), host);
  app->running = true;
  const int status = g_application_run(G_APPLICATION(app->app), host->argc, host->argv);
  app->running = false;
  // A run that could not open or start the plugin failed, although its
  // event loop ended normally.
  return status ? status : app->failure_status;
}

int gui_close(Host* host) {
  FrontendApp* app = frontend_app(host);
  if (!app) {
    return 0;
  }
  g_application_quit(G_APPLICATION(app->app));
  if (app->running) {
    cancel_open_dialogs();
  } else {
    host->log.sink = nullptr;
    host->log.sink_data = nullptr;
    g_object_unref(app->log_store);
    g_object_unref(app->app);
    delete app;
    host->gui_data = nullptr;
  }
  return 0;
}

const char* gui_native_ui_type() {
  return "http://lv2plug.in/ns/extensions/ui#Gtk3UI";
}

GdkMonitor* primary_monitor() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) {
    return nullptr;
  }
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  return monitor ? monitor : gdk_display_get_monitor(display, 0);
}

float gui_refresh_rate(Host*) {
  GdkMonitor* monitor = primary_monitor();
  const int millihertz = monitor ? gdk_monitor_get_refresh_rate(monitor) : 0;
  return std::max(30.0f, static_cast<float>(millihertz) / 1000.0f);
}

float gui_scale_factor(Host*) {
  GdkMonitor* monitor = primary_monitor();
  return monitor ? static_cast<float>(gdk_monitor_get_scale_factor(monitor)) : 1.0f;
}

LilvNode* gui_choose_plugin(LilvWorld* world) {
  return choose_plugin_dialog(world);
}

void gui_show_control(Host* host, Control* control) {
  show_control_value(host, control);
}

void gui_set_visible(Host* host, bool visible) {
  set_main_window_visible(host, visible);
}

} // namespace

FrontendApp* frontend_app(Host* host) {
  return static_cast<FrontendApp*>(host->gui_data);
}

const Frontend bexo_frontend = {
    gui_init,         gui_run,           gui_close,        gui_native_ui_type, gui_refresh_rate,
    gui_scale_factor, gui_choose_plugin, gui_show_control, gui_set_visible,
};
