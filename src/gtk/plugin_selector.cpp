#include "gtk/plugin_selector.hpp"

#include <array>

namespace {

void on_row_activated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer dialog) {
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
}

GtkWidget* make_plugin_view(GtkListStore* store) {
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  static const std::array<const char*, 4> titles{"Name", "Type", "Author", "URI"};
  for (int column = 0; column < static_cast<int>(titles.size()); ++column) {
    GtkTreeViewColumn* view_column = gtk_tree_view_column_new_with_attributes(
        titles[column], gtk_cell_renderer_text_new(), "text", column, nullptr);
    gtk_tree_view_column_set_sort_column_id(view_column, column);
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), view_column);
  }
  return view;
}

LilvNode* selected_uri(LilvWorld* world, GtkTreeView* view) {
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(view), &model, &iter)) {
    return nullptr;
  }
  gchar* uri = nullptr;
  gtk_tree_model_get(model, &iter, PLUGIN_URI_COLUMN, &uri, -1);
  LilvNode* node = uri ? lilv_new_uri(world, uri) : nullptr;
  g_free(uri);
  return node;
}

} // namespace

GtkListStore* make_plugin_store(LilvWorld* world) {
  GtkListStore* store =
      gtk_list_store_new(4, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
  const LilvPlugins* plugins = lilv_world_get_all_plugins(world);
  LILV_FOREACH(plugins, i, plugins) {
    const LilvPlugin* plugin = lilv_plugins_get(plugins, i);
    LilvNode* name = lilv_plugin_get_name(plugin);
    LilvNode* author = lilv_plugin_get_author_name(plugin);
    const LilvNode* type = lilv_plugin_class_get_label(lilv_plugin_get_class(plugin));
    const LilvNode* uri = lilv_plugin_get_uri(plugin);
    if (name && type && uri) {
      gtk_list_store_insert_with_values(
          store, nullptr, -1, PLUGIN_NAME_COLUMN, lilv_node_as_string(name), PLUGIN_TYPE_COLUMN,
          lilv_node_as_string(type), PLUGIN_AUTHOR_COLUMN,
          author ? lilv_node_as_string(author) : "", PLUGIN_URI_COLUMN, lilv_node_as_uri(uri), -1);
    }
    lilv_node_free(name);
    lilv_node_free(author);
  }
  return store;
}

LilvNode* choose_plugin_dialog(LilvWorld* world) {
  const auto flags = static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT |
                                                 GTK_DIALOG_USE_HEADER_BAR);
  GtkWidget* dialog =
      gtk_dialog_new_with_buttons("Select Plugin", nullptr, flags, "_Cancel", GTK_RESPONSE_CANCEL,
                                  "_Load", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_role(GTK_WINDOW(dialog), "plugin_selector");
  gtk_window_set_default_size(GTK_WINDOW(dialog), 800, 600);

  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  GtkListStore* store = make_plugin_store(world);
  GtkWidget* view = make_plugin_view(store);
  g_object_unref(store); // the view holds it
  gtk_container_add(GTK_CONTAINER(scrolled), view);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_box_pack_start(GTK_BOX(content), scrolled, TRUE, TRUE, 2);
  gtk_widget_show(scrolled);
  gtk_widget_show(view);
  g_signal_connect(view, "row-activated", G_CALLBACK(on_row_activated), dialog);

  LilvNode* chosen = nullptr;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    chosen = selected_uri(world, GTK_TREE_VIEW(view));
  }
  gtk_widget_destroy(dialog);
  return chosen;
}
