#include "gtk/control_widgets.hpp"

#include "host/host.hpp"
#include "state/control.hpp"
#include "ui/ui_update.hpp"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

Host* host_of(gpointer widget) {
  return static_cast<Host*>(g_object_get_data(G_OBJECT(widget), "bexo"));
}

ControlWidgets* record_of(Control* control) {
  return static_cast<ControlWidgets*>(control->widget);
}

bool differ(double a, double b) {
  return std::fabs(static_cast<float>(a) - static_cast<float>(b)) >= FLT_EPSILON;
}

void set_text(Host* host, Control* control, const char* text, uint32_t type) {
  apply_control_value(host, control, static_cast<uint32_t>(std::strlen(text) + 1), type, text);
}

// Handlers; each gets the control, and the host from the widget.

void on_entry_activate(GtkEntry* entry, gpointer control) {
  Host* host = host_of(entry);
  set_text(host, static_cast<Control*>(control), gtk_entry_get_text(entry), host->forge.String);
}

gboolean on_entry_focus_out(GtkWidget* entry, GdkEvent*, gpointer control) {
  on_entry_activate(GTK_ENTRY(entry), control);
  return FALSE;
}

void on_file_set(GtkFileChooserButton* button, gpointer control) {
  Host* host = host_of(button);
  if (gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(button))) {
    set_text(host, static_cast<Control*>(control), file, host->forge.Path);
    g_free(file);
  }
}

gboolean on_switch_state_set(GtkSwitch* widget, gboolean state, gpointer control) {
  set_control_number(host_of(widget), static_cast<Control*>(control), state ? 1.0 : 0.0);
  return FALSE; // GTK completes the switch
}

void on_combo_changed(GtkComboBox* combo, gpointer control) {
  GtkTreeIter iter;
  if (gtk_combo_box_get_active_iter(combo, &iter)) {
    float value = 0.0f;
    gtk_tree_model_get(gtk_combo_box_get_model(combo), &iter, 0, &value, -1);
    set_control_number(host_of(combo), static_cast<Control*>(control), value);
  }
}

void on_spin_changed(GtkSpinButton* spin, gpointer control) {
  set_control_number(host_of(spin), static_cast<Control*>(control),
                     gtk_spin_button_get_value(spin));
}

void on_scale_changed(GtkRange* scale, gpointer control) {
  set_control_number(host_of(scale), static_cast<Control*>(control), gtk_range_get_value(scale));
}

// The spin button beside a scale moves the scale, whose handler sets the
// control; so each edit is sent once.
void on_scale_spin_changed(GtkSpinButton* spin, gpointer control) {
  GtkRange* scale = GTK_RANGE(record_of(static_cast<Control*>(control))->widget);
  const double value = gtk_spin_button_get_value(spin);
  if (differ(gtk_range_get_value(scale), value)) {
    gtk_range_set_value(scale, value);
  }
}

void on_log_scale_changed(GtkRange* scale, gpointer control) {
  set_control_number(host_of(scale), static_cast<Control*>(control),
                     std::exp(static_cast<float>(gtk_range_get_value(scale))));
}

void on_log_spin_changed(GtkSpinButton* spin, gpointer control) {
  GtkRange* scale = GTK_RANGE(record_of(static_cast<Control*>(control))->widget);
  const float position = std::log(static_cast<float>(gtk_spin_button_get_value(spin)));
  if (differ(gtk_range_get_value(scale), position)) {
    gtk_range_set_value(scale, position);
  }
}

// Connects a handler only to the widgets of a control that may be set.
void connect(Control* control, GtkWidget* widget, const char* signal, GCallback handler) {
  if (control->is_writable) {
    g_signal_connect(widget, signal, handler, control);
  }
}

GtkWidget* make_entry(Control* control) {
  GtkWidget* entry = gtk_entry_new();
  connect(control, entry, "activate", G_CALLBACK(on_entry_activate));
  connect(control, entry, "focus-out-event", G_CALLBACK(on_entry_focus_out));
  return entry;
}

GtkWidget* make_file_chooser(Control* control) {
  GtkWidget* button = gtk_file_chooser_button_new("Open File", GTK_FILE_CHOOSER_ACTION_OPEN);
  connect(control, button, "file-set", G_CALLBACK(on_file_set));
  return button;
}

GtkWidget* make_switch(Control* control, float value) {
  GtkWidget* widget = gtk_switch_new();
  gtk_widget_set_halign(widget, GTK_ALIGN_START);
  gtk_widget_set_hexpand(widget, FALSE);
  gtk_switch_set_active(GTK_SWITCH(widget), value != 0.0f); // NaN is on
  connect(control, widget, "state-set", G_CALLBACK(on_switch_state_set));
  return widget;
}

GtkWidget* make_combo(Control* control, float value) {
  GtkListStore* store = gtk_list_store_new(2, G_TYPE_FLOAT, G_TYPE_STRING);
  int active = -1;
  for (size_t i = 0; i < control->points.size(); ++i) {
    const ScalePoint& point = control->points[i];
    gtk_list_store_insert_with_values(store, nullptr, -1, 0, point.value, 1, point.label.c_str(),
                                      -1);
    if (std::fabs(point.value - value) <= FLT_EPSILON) {
      active = static_cast<int>(i);
    }
  }
  GtkWidget* combo = gtk_combo_box_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  GtkCellRenderer* cell = gtk_cell_renderer_text_new();
  gtk_cell_layout_pack_start(GTK_CELL_LAYOUT(combo), cell, TRUE);
  gtk_cell_layout_set_attributes(GTK_CELL_LAYOUT(combo), cell, "text", 1, nullptr);
  gtk_combo_box_set_active(GTK_COMBO_BOX(combo), active);
  gtk_widget_set_halign(combo, GTK_ALIGN_START);
  gtk_widget_set_hexpand(combo, FALSE);
  connect(control, combo, "changed", G_CALLBACK(on_combo_changed));
  return combo;
}

void make_log_scale(Control* control, float value, ControlWidgets* record) {
  record->logarithmic = true;
  record->widget = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, std::log(control->min),
                                            std::log(control->max), 0.001);
  gtk_scale_set_draw_value(GTK_SCALE(record->widget), FALSE);
  gtk_range_set_value(GTK_RANGE(record->widget), std::log(value));
  record->spin = gtk_spin_button_new_with_range(control->min, control->max, 0.000001);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(record->spin), value);
  connect(control, record->widget, "value-changed", G_CALLBACK(on_log_scale_changed));
  connect(control, record->spin, "value-changed", G_CALLBACK(on_log_spin_changed));
}

// A control without a bound may take any finite number.
GtkWidget* make_unbounded_spin(Control* control, float value) {
  GtkAdjustment* adjustment = gtk_adjustment_new(value, -FLT_MAX, FLT_MAX, 1.0, 10.0, 0.0);
  GtkWidget* spin = gtk_spin_button_new(adjustment, 1.0, control->is_integer ? 0 : 7);
  connect(control, spin, "value-changed", G_CALLBACK(on_spin_changed));
  return spin;
}

void make_linear_scale(Control* control, float value, ControlWidgets* record) {
  const double step = control->is_integer ? 1.0 : (control->max - control->min) / 100.0;
  GtkWidget* scale =
      gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, control->min, control->max, step);
  gtk_scale_set_draw_value(GTK_SCALE(scale), FALSE);
  gtk_widget_set_hexpand(scale, TRUE);
  gtk_widget_set_halign(scale, GTK_ALIGN_FILL);
  for (const ScalePoint& point : control->points) {
    gchar* markup =
        g_markup_printf_escaped("<span font_size=\"small\">%s</span>", point.label.c_str());
    gtk_scale_add_mark(GTK_SCALE(scale), point.value, GTK_POS_TOP, markup);
    g_free(markup);
  }
  record->widget = scale;
  record->spin = gtk_spin_button_new_with_range(control->min, control->max, step);
  gtk_spin_button_set_digits(GTK_SPIN_BUTTON(record->spin), control->is_integer ? 0 : 7);
  gtk_range_set_value(GTK_RANGE(scale), value);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(record->spin), value);
  connect(control, scale, "value-changed", G_CALLBACK(on_scale_changed));
  connect(control, record->spin, "value-changed", G_CALLBACK(on_scale_spin_changed));
}

// A logarithmic scale needs a range of positive numbers; a control that
// claims to be logarithmic from zero or below gets a linear one instead of
// a scale from minus infinity.
bool has_log_range(const Control* control) {
  return control->is_logarithmic && control->min > 0.0f && control->max > control->min;
}

} // namespace

ControlWidgets* make_control_widgets(Host* host, Control* control) {
  const LV2_Atom_Forge& forge = host->forge;
  const auto value = static_cast<float>(control_value_to_double(&control->value, &forge));
  auto* record = new ControlWidgets{};
  control->widget = record; // the scale handlers find their spin button here
  if (control->value_type == forge.String) {
    record->widget = make_entry(control);
  } else if (control->value_type == forge.Path) {
    record->widget = make_file_chooser(control);
  } else if (control->is_toggle) {
    record->widget = make_switch(control, value);
  } else if (control->is_enumeration) {
    record->widget = make_combo(control, value);
  } else if (has_log_range(control)) {
    make_log_scale(control, value, record);
  } else if (std::isnan(control->min) || std::isnan(control->max)) {
    record->widget = make_unbounded_spin(control, value);
  } else {
    make_linear_scale(control, value, record);
  }
  if (!control->is_writable) {
    gtk_widget_set_sensitive(record->widget, FALSE);
    if (record->spin) {
      gtk_widget_set_sensitive(record->spin, FALSE);
    }
  }
  g_object_set_data(G_OBJECT(record->widget), "bexo", host);
  if (record->spin) {
    g_object_set_data(G_OBJECT(record->spin), "bexo", host);
  }
  return record;
}

void set_control_number(Host* host, Control* control, double value) {
  const LV2_Atom_Forge& forge = host->forge;
  const uint32_t type = control->value_type;
  if (type == forge.Int) {
    const auto body = static_cast<int32_t>(std::lrint(value));
    apply_control_value(host, control, sizeof(body), type, &body);
  } else if (type == forge.Long) {
    const auto body = static_cast<int64_t>(std::llrint(value));
    apply_control_value(host, control, sizeof(body), type, &body);
  } else if (type == forge.Float) {
    const auto body = static_cast<float>(value);
    apply_control_value(host, control, sizeof(body), type, &body);
  } else if (type == forge.Double) {
    apply_control_value(host, control, sizeof(value), type, &value);
  } else if (type == forge.Bool) {
    const auto body = static_cast<int32_t>(value);
    apply_control_value(host, control, sizeof(body), type, &body);
  } else {
    return;
  }
  const ControlWidgets* record = record_of(control);
  if (record && record->spin &&
      differ(gtk_spin_button_get_value(GTK_SPIN_BUTTON(record->spin)), value)) {
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(record->spin), value);
  }
}
