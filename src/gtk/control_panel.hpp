#pragma once

// bexo-gtk's generic panel: a grid with one row per control, ports and
// properties alike, grouped by port group, each with a label and a widget
// chosen by the control's kind (control_widgets.hpp).  Edits go to the
// plugin through apply_control_value; values from the plugin come back
// through show_control_value.  Main thread only.

#include <gtk/gtk.h>

struct Control;
struct Host;

/// The panel for every shown control of `host`, or a "Close" button that
/// closes `window` when no control is shown.  Sets `window` resizable
/// exactly when there is a control to show.
GtkWidget* build_controls_panel(Host* host, GtkWindow* window);

/// Show the control's present value in its widgets.  Setting a widget runs
/// its handler, which sends nothing back while the host applies values from
/// the plugin.
void show_control_value(Host* host, Control* control);

/// A label with the text as markup: bold for a heading, else followed by a
/// colon; aligned as `align` says, on the baseline.
GtkWidget* make_label(const char* text, bool heading, GtkAlign align);

/// Free every control's widget record (the widgets go with the window).
void free_control_widgets(Host* host);
