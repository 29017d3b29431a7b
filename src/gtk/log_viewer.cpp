#include "gtk/log_viewer.hpp"

#include "base/log.hpp"
#include "gtk/bexo_gtk.hpp"
#include "host/host.hpp"

#include <thread>

namespace {

// An entry made off the main thread, on its way to the store.
struct PendingEntry {
  GtkListStore* store; ///< A reference of its own.
  int level;
  gchar* message;
  GDateTime* time;
};

const char* colour_of(int level) {
  switch (level) {
  case LOG_LEVEL_ERROR:
    return "Red";
  case LOG_LEVEL_WARNING:
    return "Orange";
  default:
    return nullptr;
  }
}

const char* name_of(int level) {
  switch (level) {
  case LOG_LEVEL_ERROR:
    return "error";
  case LOG_LEVEL_WARNING:
    return "warning";
  case LOG_LEVEL_INFO:
    return "info";
  case LOG_LEVEL_TRACE:
    return "debug";
  default:
    return nullptr;
  }
}

void append_entry(GtkListStore* store, int level, const char* message, GDateTime* time) {
  gchar* iso = g_date_time_format_iso8601(time);
  gchar* shown = g_date_time_format(time, "%b %d %H:%M:%S");
  gtk_list_store_insert_with_values(store, nullptr, -1, LOG_TIME_ISO_COLUMN, iso, LOG_COLOUR_COLUMN,
                                    colour_of(level), LOG_TIME_COLUMN, shown, LOG_LEVEL_COLUMN,
                                    name_of(level), LOG_MESSAGE_COLUMN, message, -1);
  g_free(shown);
  g_free(iso);
}

gboolean deliver_pending(gpointer data) {
  auto* entry = static_cast<PendingEntry*>(data);
  append_entry(entry->store, entry->level, entry->message, entry->time);
  g_date_time_unref(entry->time);
  g_free(entry->message);
  g_object_unref(entry->store);
  delete entry;
  return G_SOURCE_REMOVE;
}

// Adwaita, GTK's own theme, has no "edit-clear-history": a button showing
// the theme's missing-image mark would tell the user nothing.
const char* clear_icon_name() {
  GtkIconTheme* theme = gtk_icon_theme_get_default();
  for (const char* name : {"edit-clear-history", "edit-clear-all-symbolic", "edit-clear"}) {
    if (gtk_icon_theme_has_icon(theme, name)) {
      return name;
    }
  }
  return "edit-clear-history";
}

GtkWidget* make_clear_button(GtkListStore* store) {
  GtkWidget* button = gtk_button_new_from_icon_name(clear_icon_name(), GTK_ICON_SIZE_SMALL_TOOLBAR);
  gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
  gtk_widget_set_tooltip_text(button, "Clear all log entries");
  g_signal_connect_swapped(button, "clicked", G_CALLBACK(gtk_list_store_clear), store);
  return button;
}

GtkWidget* make_log_view(GtkListStore* store) {
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  struct Column {
    const char* title;
    int text;
    int sort;
  };
  static const Column columns[] = {
      {"Time", LOG_TIME_COLUMN, LOG_TIME_ISO_COLUMN},
      {"Level", LOG_LEVEL_COLUMN, LOG_LEVEL_COLUMN},
      {"Message", LOG_MESSAGE_COLUMN, LOG_MESSAGE_COLUMN},
  };
  for (const Column& c : columns) {
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    GtkTreeViewColumn* column =
        gtk_tree_view_column_new_with_attributes(c.title, cell, "text", c.text, nullptr);
    if (c.text == LOG_LEVEL_COLUMN) {
      gtk_tree_view_column_add_attribute(column, cell, "foreground", LOG_COLOUR_COLUMN);
    }
    gtk_tree_view_column_set_sort_column_id(column, c.sort);
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), column);
  }
  return view;
}

void make_log_window(GtkWindow** slot, GtkListStore* store, GtkApplication* application,
                     GtkWindow* main_window) {
  GtkWindow* window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  if (application) {
    gtk_window_set_application(window, application);
  }
  gtk_window_set_default_size(window, 800, 600);
  gtk_window_set_role(window, "log_viewer");
  gtk_window_set_title(window, "Log");
  gtk_window_set_destroy_with_parent(window, TRUE);
  gtk_window_set_transient_for(window, main_window);

  GtkWidget* bar = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(bar), "Log");
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(bar), ":close");
  GtkToolItem* item = gtk_tool_item_new();
  gtk_container_add(GTK_CONTAINER(item), make_clear_button(store));
  gtk_header_bar_pack_end(GTK_HEADER_BAR(bar), GTK_WIDGET(item));
  gtk_window_set_titlebar(window, bar);

  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_container_add(GTK_CONTAINER(scrolled), make_log_view(store));
  gtk_container_add(GTK_CONTAINER(window), scrolled);
  g_signal_connect_swapped(window, "destroy",
                           G_CALLBACK(+[](GtkWindow** closed) { *closed = nullptr; }), slot);
  gtk_widget_show_all(GTK_WIDGET(window));
  *slot = window;
}

} // namespace

GtkListStore* make_log_store() {
  return gtk_list_store_new(5, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                            G_TYPE_STRING);
}

int log_sink(void* data, int level, const char* format, va_list args) {
  auto* app = static_cast<FrontendApp*>(data);
  va_list copy;
  va_copy(copy, args);
  gchar* message = g_strdup_vprintf(format, copy);
  va_end(copy);
  console_vlog(level, format, args);
  if (std::this_thread::get_id() == app->main_thread) {
    add_log_entry(app->log_store, level, message);
    g_free(message);
  } else {
    // GTK objects belong to the main thread; the main loop adds it there.
    auto* entry = new PendingEntry{GTK_LIST_STORE(g_object_ref(app->log_store)), level, message,
                                   g_date_time_new_now_local()};
    g_idle_add(deliver_pending, entry);
  }
  return 0;
}

void add_log_entry(GtkListStore* store, int level, const char* message) {
  GDateTime* now = g_date_time_new_now_local();
  append_entry(store, level, message, now);
  g_date_time_unref(now);
}

void show_log_window(Host* host) {
  FrontendApp* app = frontend_app(host);
  if (!app->log_window) {
    make_log_window(&app->log_window, app->log_store, app->app, app->window);
  }
  gtk_window_present(app->log_window);
}
