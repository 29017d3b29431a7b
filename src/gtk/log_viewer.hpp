#pragma once

// bexo-gtk's log: every message the host logs during the run, kept in a
// store from gui_init on and shown on demand in the "Log" window.  The
// messages also still go to the standard error stream, so that a run that
// ends before any window opens says why in the terminal.

#include <cstdarg>
#include <gtk/gtk.h>

struct FrontendApp;
struct Host;

/// Store columns.
enum LogColumn : int {
  LOG_TIME_ISO_COLUMN = 0, ///< The sort key of the "Time" column.
  LOG_COLOUR_COLUMN = 1,   ///< "Red", "Orange", or none.
  LOG_TIME_COLUMN = 2,     ///< As shown: "%b %d %H:%M:%S".
  LOG_LEVEL_COLUMN = 3,    ///< "error", "warning", "info", "debug", or none.
  LOG_MESSAGE_COLUMN = 4,
};

/// The empty store of the run's log entries; the caller owns it.
GtkListStore* make_log_store();

/// The host's log sink; `app` is the FrontendApp, whose store it fills.
/// Safe on any thread: off the main thread the entry reaches the store
/// through the main loop.  Returns 0.
int log_sink(void* app, int level, const char* format, va_list args);

/// Append an entry stamped with the present time.  Main thread only.
void add_log_entry(GtkListStore* store, int level, const char* message);

/// "app.show-log": present the log window, made first when there is none.
void show_log_window(Host* host);
