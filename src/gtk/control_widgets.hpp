#pragma once

// The editing widget of one control of the generic panel, and what its
// handlers do.  Main thread only.

#include <gtk/gtk.h>

struct Control;
struct Host;

/// What the panel keeps for a shown control, in the control's `widget`
/// field (and in its port's, for a port control).
struct ControlWidgets {
  GtkWidget* spin;   ///< The spin button beside a scale, or null.
  GtkWidget* widget; ///< The main widget: entry, file chooser, switch, combo, scale or spin.
  bool logarithmic;  ///< The scale runs over the logarithms of the values.
};

/// Make the widgets for `control`, with handlers when it is writable, set
/// to its present value.  The main widget carries the host as its "bexo"
/// data.  The caller owns the record.
ControlWidgets* make_control_widgets(Host* host, Control* control);

/// Set a numeric control to `value`, converted to its value type (rounded
/// to the nearest integer for atom:Int and atom:Long, truncated for
/// atom:Bool), then move its spin button there.  A control of any other
/// type is left alone.
void set_control_number(Host* host, Control* control, double value);
