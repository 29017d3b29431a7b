#pragma once

// The operations that the core calls on a front end, as one table.  Each
// front end fills one, and the program that links it hands it to
// host_main; the core calls a front end through nothing else (besides the
// hooks a front end installs itself: the log sink and the request-value
// feature).

#include <lilv/lilv.h>

struct Control;
struct Host;

struct Frontend {
  /// Once, after the arguments are stored; nonzero ends the process with it.
  int (*gui_init)(Host* host);

  /// Opens and activates the host, runs the event loop with the periodic
  /// UI update, then deactivates and closes the host.  Returns the exit
  /// status.
  int (*gui_run)(Host* host);

  /// Makes the event loop return.  May be called twice in one run; a
  /// second call must do no harm.  The result is ignored.
  int (*gui_close)(Host* host);

  /// URI of the front end's native plugin-UI widget type, or null.
  const char* (*gui_native_ui_type)();

  /// The display's refresh rate in Hz.
  float (*gui_refresh_rate)(Host* host);

  /// The display's UI scale factor.
  float (*gui_scale_factor)(Host* host);

  /// A plugin URI node picked by the user (the caller frees it), or null.
  LilvNode* (*gui_choose_plugin)(LilvWorld* world);

  /// Show the present value of `control` without sending it back.
  void (*gui_show_control)(Host* host, Control* control);

  /// Show or hide the main window (hidden: no window mapped), as a
  /// session manager asks; before the window exists, nothing.
  void (*gui_set_visible)(Host* host, bool visible);
};

/// The front end of this program.  Every front end defines it, so a
/// program that links two fails to link, and one that links none too.
extern const Frontend bexo_frontend;
