#include "gtk/preset_dialogs.hpp"

#include "base/log.hpp"
#include "gtk/bexo_gtk.hpp"
#include "gtk/main_window.hpp"
#include "gtk/presets_menu.hpp"
#include "host/host.hpp"
#include "state/state.hpp"

#include <cstring>
#include <gtk/gtk.h>
#include <lilv/lilv.h>
#include <string>

namespace {

const char* label_of(const LilvState* state) {
  const char* label = lilv_state_get_label(state);
  return label ? label : "";
}

} // namespace

void save_current_preset(Host* host) {
  if (!host->preset || !lilv_state_get_uri(host->preset)) {
    return;
  }
  // Both die with the old state, which the save replaces.
  const std::string label = label_of(host->preset);
  const std::string uri = lilv_node_as_string(lilv_state_get_uri(host->preset));
  const std::string file = current_preset_file(host);
  if (file.empty()) {
    host_log(&host->log, LOG_LEVEL_WARNING, "Unable to determine filename for preset <%s>",
             uri.c_str());
    return;
  }
  const size_t slash = file.find_last_of('/');
  const std::string dir = file.substr(0, slash + 1);
  const std::string name = file.substr(slash + 1);

  const LilvNodePtr old_uri{lilv_new_uri(host->world, uri.c_str())};
  lilv_world_unload_resource(host->world, old_uri.get());
  if (store_preset(host, dir.c_str(), nullptr, label.empty() ? nullptr : label.c_str(),
                   name.c_str())) {
    host_log(&host->log, LOG_LEVEL_WARNING, "Error saving preset <%s>", uri.c_str());
    // Its file was not replaced: it stays listed, and must stay loadable.
    lilv_world_load_resource(host->world, old_uri.get());
    update_window_title(host);
    return;
  }
  lilv_world_load_resource(host->world, lilv_state_get_uri(host->preset));
}

void delete_preset_dialog(Host* host) {
  if (!host->preset) {
    return;
  }
  FrontendApp* app = frontend_app(host);
  const auto flags = static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT);
  GtkWidget* dialog =
      gtk_dialog_new_with_buttons("Delete Preset?", app ? app->window : nullptr, flags, "_Cancel",
                                  GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_ACCEPT, nullptr);
  gchar* text = g_strdup_printf("Delete preset \"%s\" from disk?", label_of(host->preset));
  GtkWidget* label = gtk_label_new(text);
  g_free(text);
  gtk_widget_set_margin_start(label, 12);
  gtk_widget_set_margin_end(label, 12);
  gtk_widget_set_margin_top(label, 12);
  gtk_widget_set_margin_bottom(label, 12);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_box_pack_start(GTK_BOX(content), label, TRUE, TRUE, 4);
  gtk_widget_show(label);

  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    erase_current_preset(host);
    refill_presets_menu(host);
  }
  // Cancelling too leaves no current preset: the title drops its name and
  // saving and deleting wait for the next preset.
  lilv_state_free(host->preset);
  host->preset = nullptr;
  update_window_title(host);
  gtk_widget_destroy(dialog);
}

void show_about() {
  static const char* const authors[] = {"The Bexo developers", nullptr};
  gtk_show_about_dialog(nullptr, "program-name", "Bexo", "logo-icon-name", "bexo", "title",
                        "About Bexo", "version", BEXO_VERSION, "comments", "Run an LV2 plugin",
                        "authors", authors, nullptr);
}
