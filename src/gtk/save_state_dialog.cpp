#include "gtk/save_state_dialog.hpp"

#include "gtk/bexo_gtk.hpp"
#include "host/host.hpp"
#include "state/saved_state.hpp"

#include <gtk/gtk.h>

namespace {

// A folder with other things in it is the user's: ask before adding to it.
bool may_write_into(GtkWindow* parent, const char* folder) {
  GtkWidget* question = gtk_message_dialog_new(
      parent, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
      "The folder \"%s\" holds other files. Save the state into it as well?", folder);
  gtk_window_set_title(GTK_WINDOW(question), "Save State");
  gtk_dialog_add_buttons(GTK_DIALOG(question), "_Cancel", GTK_RESPONSE_CANCEL, "_Save",
                         GTK_RESPONSE_ACCEPT, nullptr);
  const bool agreed = gtk_dialog_run(GTK_DIALOG(question)) == GTK_RESPONSE_ACCEPT;
  gtk_widget_destroy(question);
  return agreed;
}

} // namespace

void save_state_dialog(Host* host) {
  const FrontendApp* app = frontend_app(host);
  GtkWindow* parent = app ? app->window : nullptr;
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      "Save State", parent, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel", GTK_RESPONSE_CANCEL,
      "_Save", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_file_chooser_set_create_folders(GTK_FILE_CHOOSER(chooser), TRUE);
  gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), g_get_home_dir());
  gchar* folder = nullptr;
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
  }
  gtk_widget_destroy(chooser);
  if (folder &&
      (saved_state_dir_kind(folder) != STATE_DIR_OTHER || may_write_into(parent, folder))) {
    save_state(host, folder); // a failure says why in the log
  }
  g_free(folder);
}
