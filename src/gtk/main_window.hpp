#pragma once

// The main window of bexo-gtk: built when the application is activated,
// around the plugin's own UI or the generic panel, with the actions and
// accelerators of the window and the application.  Main thread only.

#include <gtk/gtk.h>
#include <string>

struct Host;

/// The "activate" handler (data: the Host): build the window, activate the
/// host, start the UI and present the window.  When the host is not open,
/// or cannot be activated, the application quits with status 1.
void build_main_window(GtkApplication* application, gpointer host);

/// Show (present) or hide the main window, if there is one.
void set_main_window_visible(Host* host, bool visible);

/// Title and subtitle after the current preset, and whether it may be
/// saved over or deleted.
void update_window_title(Host* host);

/// The local path of the current preset's file, or "" when there is no
/// current preset or it is not a file.
std::string current_preset_file(const Host* host);

/// Whether the current preset is a file that can be saved over.
bool preset_is_file(const Host* host);

/// Whether the current preset's bundle manifest may be written by us.
bool preset_is_deletable(const Host* host);

/// The default size of a window showing a generic panel whose natural size
/// is `panel` inside a box of natural size `box`, on a monitor whose work
/// area is `work_area`: at least 640 wide, and 24 inside the work area.
GtkRequisition generic_panel_window_size(GtkRequisition panel, GtkRequisition box,
                                         GdkRectangle work_area);
