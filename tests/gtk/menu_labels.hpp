#pragma once

// The labels of the top level of the presets menu that bexo-gtk would
// build for a host now.

#include "gtk/presets_menu.hpp"

#include <gio/gio.h>
#include <string>
#include <vector>

inline std::vector<std::string> preset_menu_labels(Host* host) {
  GMenu* menu = g_menu_new();
  fill_presets_menu(host, menu);
  std::vector<std::string> labels;
  for (int i = 0; i < g_menu_model_get_n_items(G_MENU_MODEL(menu)); ++i) {
    gchar* label = nullptr;
    g_menu_model_get_item_attribute(G_MENU_MODEL(menu), i, G_MENU_ATTRIBUTE_LABEL, "s", &label);
    labels.emplace_back(label ? label : "");
    g_free(label);
  }
  g_object_unref(menu);
  return labels;
}
