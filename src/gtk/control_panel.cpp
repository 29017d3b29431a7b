#include "gtk/control_panel.hpp"

#include "base/log.hpp"
#include "base/nodes.hpp"
#include "gtk/control_widgets.hpp"
#include "host/host.hpp"
#include "state/control.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Ungrouped controls first, then the groups in the order of their URIs.
bool group_before(const Control* a, const Control* b) {
  if (!a->group || !b->group) {
    return !a->group && b->group;
  }
  return std::strcmp(lilv_node_as_string(a->group.get()), lilv_node_as_string(b->group.get())) < 0;
}

std::vector<Control*> controls_in_panel_order(const Host* host) {
  std::vector<Control*> controls;
  for (const ControlPtr& control : host->controls.controls) {
    controls.push_back(control.get());
  }
  std::stable_sort(controls.begin(), controls.end(), group_before);
  return controls;
}

GtkWidget* make_group_heading(const Host* host, const LilvNode* group) {
  LilvNode* name = lilv_world_get(host->world, group, host->nodes.lv2_name, nullptr);
  if (!name) {
    name = lilv_world_get(host->world, group, host->nodes.rdfs_label, nullptr);
  }
  GtkWidget* label = make_label(lilv_node_as_string(name ? name : group), true, GTK_ALIGN_START);
  lilv_node_free(name);
  return label;
}

void set_tooltip(const Host* host, const Control* control, GtkWidget* widget) {
  if (LilvNode* comment =
          lilv_world_get(host->world, control->node.get(), host->nodes.rdfs_comment, nullptr)) {
    gtk_widget_set_tooltip_text(widget, lilv_node_as_string(comment));
    lilv_node_free(comment);
  }
}

// One row: the label, then the spin button and its scale, or the widget.
void attach_control(Host* host, Control* control, GtkGrid* grid, int row) {
  ControlWidgets* record = make_control_widgets(host, control);
  if (control->type == PORT && control->index < host->num_ports) {
    host->ports[control->index].widget = record;
  }
  const LilvNode* text = control->label ? control->label.get() : control->node.get();
  GtkWidget* label = make_label(lilv_node_as_string(text), false, GTK_ALIGN_END);
  gtk_widget_set_margin_end(label, 8);
  gtk_grid_attach(grid, label, 0, row, 1, 1);
  if (record->spin) {
    gtk_grid_attach(grid, record->spin, 1, row, 1, 1);
    gtk_grid_attach(grid, record->widget, 2, row, 1, 1);
  } else {
    gtk_grid_attach(grid, record->widget, 1, row, 2, 1);
  }
  set_tooltip(host, control, record->widget);
}

// With nothing to show, the window offers only to close it.
GtkWidget* make_close_button(GtkWindow* window) {
  gtk_window_set_resizable(window, FALSE);
  GtkWidget* button = gtk_button_new_with_label("Close");
  g_signal_connect_swapped(button, "clicked", G_CALLBACK(gtk_widget_destroy), window);
  return button;
}

} // namespace

GtkWidget* make_label(const char* text, bool heading, GtkAlign align) {
  GtkWidget* label = gtk_label_new(nullptr);
  gchar* markup =
      g_markup_printf_escaped(heading ? "<span font_weight=\"bold\">%s</span>" : "%s:", text);
  gtk_label_set_markup(GTK_LABEL(label), markup);
  g_free(markup);
  gtk_widget_set_halign(label, align);
  gtk_widget_set_valign(label, GTK_ALIGN_BASELINE);
  return label;
}

GtkWidget* build_controls_panel(Host* host, GtkWindow* window) {
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
  int row = 0;
  const LilvNode* last_group = nullptr;
  for (Control* control : controls_in_panel_order(host)) {
    if (control->is_hidden && !host->options.show_hidden) {
      continue;
    }
    const LilvNode* group = control->group.get();
    if (group && !lilv_node_equals(group, last_group)) {
      gtk_grid_attach(GTK_GRID(grid), make_group_heading(host, group), 0, row++, 3, 1);
    }
    attach_control(host, control, GTK_GRID(grid), row++);
    last_group = group;
  }
  if (row == 0) {
    g_object_ref_sink(grid);
    g_object_unref(grid);
    return make_close_button(window);
  }
  gtk_window_set_resizable(window, TRUE);
  gtk_widget_set_margin_start(grid, 8);
  gtk_widget_set_margin_end(grid, 8);
  gtk_widget_set_hexpand(grid, TRUE);
  gtk_widget_set_halign(grid, GTK_ALIGN_FILL);
  gtk_widget_set_valign(grid, GTK_ALIGN_START);
  gtk_widget_set_vexpand(grid, FALSE);
  return grid;
}

void show_control_value(Host* host, Control* control) {
  const auto* record = static_cast<const ControlWidgets*>(control->widget);
  if (!record || !record->widget) {
    return;
  }
  GtkWidget* widget = record->widget;
  const uint32_t type = control->value.type;
  const auto* body = static_cast<const char*>(control_value_body(&control->value));
  if (type == host->forge.String && GTK_IS_ENTRY(widget) && !GTK_IS_SPIN_BUTTON(widget)) {
    gtk_entry_set_text(GTK_ENTRY(widget), body);
    return;
  }
  if (type == host->forge.Path && GTK_IS_FILE_CHOOSER(widget)) {
    gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(widget), body);
    return;
  }
  const double x = control_value_to_double(&control->value, &host->forge);
  if (GTK_IS_COMBO_BOX(widget)) {
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(widget));
    GtkTreeIter iter;
    for (bool valid = gtk_tree_model_get_iter_first(model, &iter); valid;
         valid = gtk_tree_model_iter_next(model, &iter)) {
      float value = 0.0f;
      gtk_tree_model_get(model, &iter, 0, &value, -1);
      if (std::fabs(value - static_cast<float>(x)) <= FLT_EPSILON) {
        gtk_combo_box_set_active_iter(GTK_COMBO_BOX(widget), &iter);
        break;
      }
    }
  } else if (GTK_IS_TOGGLE_BUTTON(widget)) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), x > 0.0);
  } else if (GTK_IS_SWITCH(widget)) {
    gtk_switch_set_active(GTK_SWITCH(widget), x > 0.0);
  } else if (GTK_IS_SCALE(widget)) {
    gtk_range_set_value(GTK_RANGE(widget),
                        record->logarithmic ? std::log(static_cast<float>(x)) : x);
    if (record->spin) {
      gtk_spin_button_set_value(GTK_SPIN_BUTTON(record->spin), x);
    }
  } else if (GTK_IS_SPIN_BUTTON(widget)) {
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(widget), x);
  } else {
    host_log(&host->log, LOG_LEVEL_WARNING, "Unknown widget type for value");
  }
}

void free_control_widgets(Host* host) {
  for (const ControlPtr& control : host->controls.controls) {
    delete static_cast<ControlWidgets*>(control->widget);
    control->widget = nullptr;
  }
  for (Port& port : host->ports) {
    port.widget = nullptr;
  }
}
