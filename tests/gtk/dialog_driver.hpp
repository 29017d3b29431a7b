#pragma once

// Answering a modal dialog from the main loop while the code under test
// waits in it, as a user would: every few milliseconds, the visible dialog
// with the given title is handed to a function, which may look at it and
// answer it.  Main thread only.

#include <functional>
#include <gtk/gtk.h>
#include <string>

class DialogDriver {
public:
  /// `act` gets the dialog each time it is found until it returns true.
  DialogDriver(std::string title, std::function<bool(GtkDialog*)> act)
      : title(std::move(title)), act(std::move(act)) {
    source = g_timeout_add(10, poll, this);
  }
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;
  ~DialogDriver() {
    if (source) {
      g_source_remove(source);
    }
  }

  bool acted() const { return source == 0; }

private:
  static gboolean poll(gpointer data) {
    auto* self = static_cast<DialogDriver*>(data);
    GList* windows = gtk_window_list_toplevels();
    GtkDialog* found = nullptr;
    for (GList* w = windows; w; w = w->next) {
      if (GTK_IS_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)) &&
          g_strcmp0(self->title.c_str(), gtk_window_get_title(GTK_WINDOW(w->data))) == 0) {
        found = GTK_DIALOG(w->data);
      }
    }
    g_list_free(windows);
    if (found && self->act(found)) {
      self->source = 0;
      return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
  }

  std::string title;
  std::function<bool(GtkDialog*)> act;
  guint source = 0;
};

/// The first widget of `type` inside `widget`, depth first, or null.
inline GtkWidget* find_widget(GtkWidget* widget, GType type) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) {
    return widget;
  }
  GtkWidget* found = nullptr;
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c && !found; c = c->next) {
      found = find_widget(GTK_WIDGET(c->data), type);
    }
    g_list_free(children);
  }
  return found;
}
