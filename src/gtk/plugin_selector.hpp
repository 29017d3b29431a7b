#pragma once

// The plugin selector: when bexo-gtk is started without a plugin, a modal
// "Select Plugin" dialog lists every installed plugin in a sortable table.
// Main thread only; it runs a nested main loop.

#include <gtk/gtk.h>
#include <lilv/lilv.h>

/// Store columns of the table.
enum PluginColumn : int {
  PLUGIN_NAME_COLUMN = 0,
  PLUGIN_TYPE_COLUMN = 1,
  PLUGIN_AUTHOR_COLUMN = 2,
  PLUGIN_URI_COLUMN = 3,
};

/// One row per plugin of `world` that has a name and a class label, in
/// lilv's order.  The caller owns the store.
GtkListStore* make_plugin_store(LilvWorld* world);

/// Let the user pick a plugin: a new URI node of `world` (the caller frees
/// it), or null when the dialog was cancelled or nothing was selected.
LilvNode* choose_plugin_dialog(LilvWorld* world);
