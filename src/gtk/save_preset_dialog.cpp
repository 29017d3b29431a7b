#include "gtk/save_preset_dialog.hpp"

#include "base/log.hpp"
#include "gtk/bexo_gtk.hpp"
#include "gtk/main_window.hpp"
#include "gtk/presets_menu.hpp"
#include "host/host.hpp"
#include "state/state.hpp"

#include <cctype>
#include <gtk/gtk.h>
#include <lilv/lilv.h>
#include <zix/filesystem.h>

namespace {

// What the dialog's handlers share while it runs.
struct SaveDialog {
  Host* host;
  std::string bundle; ///< For the name typed so far; empty while there is none.
  GtkWidget* ok;
  GtkWidget* entry;
  GtkWidget* overwrite_box;
  GtkWidget* overwrite;
  GtkWidget* link;
};

const char* plugin_name_of(const Host* host) {
  return host->plugin_name ? lilv_node_as_string(host->plugin_name) : "";
}

void update_save_dialog(SaveDialog* dialog) {
  const std::string name = gtk_entry_get_text(GTK_ENTRY(dialog->entry));
  if (name.empty()) {
    dialog->bundle.clear();
    gtk_widget_set_sensitive(dialog->ok, FALSE);
    return;
  }
  dialog->bundle = preset_bundle_path(dialog->host, name);
  const bool exists = zix_file_type(dialog->bundle.c_str()) != ZIX_FILE_TYPE_NONE;
  if (exists) {
    gchar* uri = g_filename_to_uri(dialog->bundle.c_str(), nullptr, nullptr);
    const std::string text = sanitize_name(std::string(plugin_name_of(dialog->host)) + "_" + name);
    gchar* markup = g_markup_printf_escaped("<a href=\"%s\">%s</a>", uri ? uri : "", text.c_str());
    gtk_label_set_markup(GTK_LABEL(dialog->link), markup);
    g_free(markup);
    g_free(uri);
  } else {
    gtk_label_set_text(GTK_LABEL(dialog->link), "");
  }
  gtk_widget_set_sensitive(
      dialog->ok, !exists || gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(dialog->overwrite)));
  gtk_widget_set_visible(dialog->overwrite_box, exists);
}

void on_changed(GtkWidget*, gpointer dialog) {
  update_save_dialog(static_cast<SaveDialog*>(dialog));
}

GtkWidget* make_dialog(Host* host, SaveDialog* record) {
  FrontendApp* app = frontend_app(host);
  const auto flags = static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_USE_HEADER_BAR);
  GtkWidget* dialog =
      gtk_dialog_new_with_buttons("Save Preset", app ? app->window : nullptr, flags, "_Cancel",
                                  GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_ACCEPT, nullptr);
  record->ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  record->entry = gtk_entry_new();
  record->overwrite_box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
  record->overwrite = gtk_check_button_new_with_mnemonic("_Overwrite");
  record->link = gtk_label_new(nullptr);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
  g_object_set(grid, "margin", 16, "hexpand", TRUE, "vexpand", FALSE, "halign", GTK_ALIGN_FILL,
               "valign", GTK_ALIGN_START, nullptr);
  GtkWidget* label = gtk_label_new("Name: ");
  gtk_widget_set_halign(label, GTK_ALIGN_END);
  gtk_widget_set_hexpand(record->entry, TRUE);
  gtk_grid_attach(GTK_GRID(grid), label, 0, 0, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), record->entry, 1, 0, 1, 1);
  gtk_widget_set_halign(record->overwrite, GTK_ALIGN_END);
  gtk_widget_set_halign(record->link, GTK_ALIGN_START);
  gtk_box_pack_start(GTK_BOX(record->overwrite_box), record->overwrite, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(record->overwrite_box), record->link, TRUE, TRUE, 0);
  gtk_grid_attach(GTK_GRID(grid), record->overwrite_box, 0, 1, 2, 1);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_box_pack_start(GTK_BOX(content), grid, FALSE, TRUE, 8);

  gtk_widget_set_sensitive(record->ok, FALSE);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  gtk_entry_set_activates_default(GTK_ENTRY(record->entry), TRUE);
  g_signal_connect(record->entry, "changed", G_CALLBACK(on_changed), record);
  g_signal_connect(record->overwrite, "toggled", G_CALLBACK(on_changed), record);
  gtk_widget_show_all(dialog);
  gtk_widget_hide(record->overwrite_box);
  return dialog;
}

} // namespace

std::string sanitize_name(const std::string& name) {
  std::string sane = name;
  for (char& c : sane) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || !std::isalnum(byte)) {
      c = '_';
    }
  }
  return sane;
}

std::string preset_bundle_path(const Host* host, const std::string& preset_name) {
  const std::string bundle =
      sanitize_name(std::string(plugin_name_of(host)) + "_" + preset_name) + ".preset.lv2";
  gchar* path = g_build_filename(g_get_home_dir(), ".lv2", bundle.c_str(), nullptr);
  std::string result = path;
  g_free(path);
  return result;
}

int save_preset_as(Host* host, const std::string& name) {
  const std::string bundle = preset_bundle_path(host, name);
  const std::string file = sanitize_name(name) + ".ttl";
  if (const int status =
          store_preset(host, (bundle + "/").c_str(), nullptr, name.c_str(), file.c_str())) {
    host_log(&host->log, LOG_LEVEL_WARNING, "Error saving preset \"%s\" to %s", name.c_str(),
             bundle.c_str());
    update_window_title(host); // the captured state, unsaved, is the current one
    return status;
  }
  // lilv reads a bundle's manifest once: reload it to list the new preset.
  gchar* uri = g_filename_to_uri((bundle + "/").c_str(), nullptr, nullptr);
  const LilvNodePtr bundle_node{lilv_new_uri(host->world, uri)};
  g_free(uri);
  lilv_world_unload_bundle(host->world, bundle_node.get());
  lilv_world_load_bundle(host->world, bundle_node.get());
  refill_presets_menu(host);
  update_window_title(host);
  return 0;
}

void save_preset_as_dialog(Host* host) {
  SaveDialog record{host, {}, nullptr, nullptr, nullptr, nullptr, nullptr};
  GtkWidget* dialog = make_dialog(host, &record);
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT && !record.bundle.empty()) {
    save_preset_as(host, gtk_entry_get_text(GTK_ENTRY(record.entry)));
  }
  gtk_widget_destroy(dialog);
}
