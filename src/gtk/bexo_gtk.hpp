#pragma once

// bexo-gtk: the GTK 3 front end.  A GtkApplication whose "startup" opens
// the host and whose "shutdown" closes it; its "activate" builds the one
// main window (main_window.hpp) around the plugin's own UI or the generic
// panel (control_panel.hpp).  bexo_gtk.cpp defines bexo_frontend.

#include <gtk/gtk.h>
#include <thread>

struct Host;

/// The front end's own record, the Host's gui_data from gui_init on.  Main
/// thread only.
struct FrontendApp {
  GtkApplication* app;
  /// The one command-line argument (a plugin, preset or state), or null;
  /// it points into args_variant.
  const char* plugin_arg;
  GtkWindow* window;           ///< Null before activation and once the window is gone.
  GtkHeaderBar* header_bar;    ///< Null when the window has none.
  GMenu* presets_menu;         ///< Both menus' presets, held by them; null without menus.
  GtkWindow* log_window;       ///< The log viewer while it exists.
  GtkListStore* log_store;     ///< Every host message of the run (log_viewer.hpp).
  GVariant* args_variant;      ///< The remaining arguments, owned.
  guint timer_id;              ///< The periodic update's source, 0 when none.
  bool opened;                 ///< host_open succeeded.
  bool running;                ///< g_application_run has not returned yet.
  bool quit_during_open;       ///< A signal came while the host was opening.
  int print_version;           ///< "--version" was given.
  int failure_status;          ///< Nonzero once opening or activation failed.
  int open_status;             ///< What host_open returned.
  std::thread::id main_thread; ///< GTK's; other threads' log entries wait for it.
};

/// The front end's record of `host`; null before gui_init.
FrontendApp* frontend_app(Host* host);
