#include "gtk/request_value.hpp"

#include "gtk/bexo_gtk.hpp"
#include "host/host.hpp"
#include "state/control.hpp"
#include "ui/ui_update.hpp"

#include <cstring>
#include <gtk/gtk.h>

void install_request_value(Host* host) {
  host->features.request_value.handle = host;
  host->features.request_value.request = request_value;
}

LV2UI_Request_Value_Status request_value(LV2UI_Feature_Handle handle, LV2_URID key, LV2_URID,
                                         const LV2_Feature* const*) {
  auto* host = static_cast<Host*>(handle);
  Control* control = find_property_control(&host->controls, key);
  if (!control) {
    return LV2UI_REQUEST_VALUE_ERR_UNKNOWN;
  }
  if (control->value_type != host->forge.Path) {
    return LV2UI_REQUEST_VALUE_ERR_UNSUPPORTED;
  }
  if (host->ui_updating) {
    return LV2UI_REQUEST_VALUE_BUSY;
  }
  const FrontendApp* app = frontend_app(host);
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      "Choose file", app ? app->window : nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
      GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
    if (gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
      apply_control_value(host, control, static_cast<uint32_t>(std::strlen(file) + 1),
                          host->forge.Path, file);
      g_free(file);
    }
  }
  gtk_widget_destroy(dialog);
  return LV2UI_REQUEST_VALUE_SUCCESS;
}
