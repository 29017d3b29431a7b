#pragma once

// The menus of bexo-gtk's window: the application menubar model and the
// header bar with its menu button.  Both hold a presets submenu.

#include <gtk/gtk.h>

struct Host;

/// The menubar model: "_File" and "_Presets".  Its presets submenu is the
/// front end's presets_menu, made here unless the other menu made it.
GMenuModel* make_menubar(Host* host);

/// The menu of the header bar's menu button, with the same presets submenu.
GMenuModel* make_header_menu(Host* host);

/// The header bar: the plugin's name, the close button and the menu button.
GtkHeaderBar* make_header_bar(Host* host);
