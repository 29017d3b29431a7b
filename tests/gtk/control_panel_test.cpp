// bexo-gtk's generic panel with real widgets under the test display, on a
// host opened through the rig with the program's own front end: which
// widget each kind of control gets, how edits are converted and sent, and
// how values from the plugin move the widgets without going back.

#include "engine/message.hpp"
#include "gtk/control_panel.hpp"
#include "gtk/control_widgets.hpp"
#include "harness/host_rig.hpp"
#include "harness/ring_messages.hpp"
#include "state/control.hpp"
#include "ui/ui_update.hpp"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <lv2/atom/forge.h>
#include <optional>
#include <string>

namespace {

constexpr char params[] = "http://lv2plug.in/plugins/eg-params";
std::string param(const char* name) {
  return std::string(params) + "#" + name;
}

class GtkPanel : public testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    // A GTK warning means the panel misused a widget: fail loudly.
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
  }

  void TearDown() override { close(); }

  void close() {
    if (window) {
      gtk_widget_destroy(GTK_WIDGET(window));
      window = nullptr;
    }
    if (rig) {
      free_control_widgets(&rig->host);
      rig.reset();
    }
  }

  // Opens the plugin through the rig, with the rig's own backend.
  void open(const char* plugin, bool show_hidden = false) {
    close();
    rig.emplace();
    rig->host.options.show_hidden = show_hidden;
    ASSERT_EQ(rig->open_manual(plugin), 0);
  }

  // Opens the plugin and builds its panel in a window of the test's own.
  void build(const char* plugin, bool show_hidden = false) {
    open(plugin, show_hidden);
    window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_signal_connect(window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer closed) {
                       *static_cast<bool*>(closed) = true;
                     }),
                     &window_closed);
    panel = build_controls_panel(&rig->host, window);
    gtk_container_add(GTK_CONTAINER(window), panel);
    rig->discard_ui_messages(); // the open's request for the properties
  }

  Control* control(const std::string& key) {
    Control* found =
        key.find(':') == std::string::npos ? rig->control(key.c_str()) : rig->property(key.c_str());
    EXPECT_NE(found, nullptr) << key;
    return found;
  }

  static ControlWidgets* widgets(Control* control) {
    return control ? static_cast<ControlWidgets*>(control->widget) : nullptr;
  }

  std::vector<RingMessage> sent() { return read_ring_messages(rig->host.process.ui_ring); }

  float value_of(Control* c) {
    return static_cast<float>(control_value_to_double(&c->value, &rig->host.forge));
  }

  std::optional<HostRig> rig;
  GtkWindow* window = nullptr;
  GtkWidget* panel = nullptr;
  bool window_closed = false;
};

struct Kind {
  const char* plugin;
  std::string key; ///< Port symbol or property URI.
  GType widget;
  bool spin;   ///< A spin button beside a scale.
  double step; ///< Of the scale, or of a lone spin button; 0: none.
  int digits;  ///< Of the spin button; -1: none.
  bool sensitive;
};

TEST_F(GtkPanel, EachKindOfControlGetsItsWidget) {
  const Kind kinds[] = {
      {"urn:bexo:test:controls", "gain", GTK_TYPE_SCALE, true, 0.02, 7, true},
      {"urn:bexo:test:controls", "mute", GTK_TYPE_SWITCH, false, 0, -1, true},
      {"urn:bexo:test:controls", "enable", GTK_TYPE_SWITCH, false, 0, -1, true}, // toggle first
      {"urn:bexo:test:controls", "steps", GTK_TYPE_SCALE, true, 1.0, 0, true},
      {"urn:bexo:test:controls", "shape", GTK_TYPE_COMBO_BOX, false, 0, -1, true},
      {"urn:bexo:test:controls", "cutoff", GTK_TYPE_SCALE, true, 0.001, 6, true},
      {"urn:bexo:test:controls", "latency", GTK_TYPE_SCALE, true, 1.0, 0, false},
      {"urn:bexo:test:odd-controls", "rangeless", GTK_TYPE_SPIN_BUTTON, false, 1.0, 7, true},
      // Logarithmic from zero: a linear scale, not one from minus infinity.
      {"urn:bexo:test:odd-controls", "zero_log", GTK_TYPE_SCALE, true, 0.1, 7, true},
      {params, param("int"), GTK_TYPE_SCALE, true, 1.0, 0, true},
      {params, param("long"), GTK_TYPE_SCALE, true, 1.0, 0, true},
      {params, param("float"), GTK_TYPE_SCALE, true, 0.01, 7, true},
      {params, param("double"), GTK_TYPE_SCALE, true, 0.01, 7, true},
      {params, param("bool"), GTK_TYPE_SWITCH, false, 0, -1, true},
      {params, param("string"), GTK_TYPE_ENTRY, false, 0, -1, true},
      {params, param("path"), GTK_TYPE_FILE_CHOOSER_BUTTON, false, 0, -1, true},
      {params, param("lfo"), GTK_TYPE_SCALE, true, 0.02, 7, false}, // readable only
  };
  const char* opened = nullptr;
  for (const Kind& kind : kinds) {
    if (!opened || std::strcmp(opened, kind.plugin) != 0) {
      build(kind.plugin);
      opened = kind.plugin;
    }
    ControlWidgets* w = widgets(control(kind.key));
    ASSERT_NE(w, nullptr) << kind.key;
    EXPECT_EQ(G_OBJECT_TYPE(w->widget), kind.widget) << kind.key;
    EXPECT_EQ(w->spin != nullptr, kind.spin) << kind.key;
    EXPECT_EQ(gtk_widget_get_sensitive(w->widget), kind.sensitive) << kind.key;
    if (kind.step > 0 && GTK_IS_RANGE(w->widget)) {
      EXPECT_NEAR(gtk_adjustment_get_step_increment(gtk_range_get_adjustment(GTK_RANGE(w->widget))),
                  kind.step, 1e-6)
          << kind.key;
    }
    GtkWidget* spin = w->spin ? w->spin : GTK_IS_SPIN_BUTTON(w->widget) ? w->widget : nullptr;
    if (kind.digits >= 0) {
      ASSERT_NE(spin, nullptr) << kind.key;
      EXPECT_EQ(static_cast<int>(gtk_spin_button_get_digits(GTK_SPIN_BUTTON(spin))), kind.digits)
          << kind.key;
    }
  }
}

// What the user types into a spin button is converted by the value type
// of the property and sent once: the project's params fixture has an
// atom:Int from -100 to 100, an atom:Double from -1 to 1 and an atom:Long
// without bounds, which the host gives the range 0 to 1.
TEST_F(GtkPanel, NumbersAreConvertedByValueTypeAndSentOnce) {
  build("urn:bexo:test:params");
  const LV2_Atom_Forge& forge = rig->host.forge;
  const std::string p = "urn:bexo:test:params#";
  struct Case {
    std::string property;
    double typed;
    uint32_t type;
    double stored;
  };
  const Case cases[] = {
      {p + "int", 3.4, forge.Int, 3},           {p + "int", 3.5, forge.Int, 4},
      {p + "int", 2.5, forge.Int, 2},           {p + "int", -3.6, forge.Int, -4},
      {p + "long", 0.6, forge.Long, 1},         {p + "long", 0.4, forge.Long, 0},
      {p + "double", -0.1, forge.Double, -0.1},
  };
  for (const Case& c : cases) {
    Control* ctl = control(c.property);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(widgets(ctl)->spin), c.typed);
    EXPECT_EQ(ctl->value.type, c.type) << c.property << " " << c.typed;
    EXPECT_DOUBLE_EQ(control_value_to_double(&ctl->value, &forge), c.stored)
        << c.property << " " << c.typed;
    EXPECT_EQ(sent().size(), 1u) << c.property << " " << c.typed;
  }

  // A switch sets an atom:Bool; a value that reaches it from elsewhere is
  // truncated towards zero.
  Control* flag = control(p + "bool");
  gtk_switch_set_active(GTK_SWITCH(widgets(flag)->widget), TRUE);
  EXPECT_EQ(flag->value.type, forge.Bool);
  EXPECT_EQ(control_value_to_double(&flag->value, &forge), 1.0);
  set_control_number(&rig->host, flag, 0.9);
  EXPECT_EQ(control_value_to_double(&flag->value, &forge), 0.0);
  EXPECT_EQ(sent().size(), 2u);

  // A value type that is not a number: nothing is stored or sent.
  Control* text = control(p + "string");
  const uint32_t before = text->value.type;
  set_control_number(&rig->host, text, 1.0);
  EXPECT_EQ(text->value.type, before);
  EXPECT_TRUE(sent().empty());
}

TEST_F(GtkPanel, LogarithmicScaleRunsOverTheLogarithmsAndSendsTheExponential) {
  build("urn:bexo:test:controls");
  ControlWidgets* cutoff = widgets(control("cutoff"));
  GtkAdjustment* range = gtk_range_get_adjustment(GTK_RANGE(cutoff->widget));
  EXPECT_NEAR(gtk_adjustment_get_lower(range), std::log(20.0), 1e-5);
  EXPECT_NEAR(gtk_adjustment_get_upper(range), std::log(20000.0), 1e-5);
  EXPECT_NEAR(gtk_range_get_value(GTK_RANGE(cutoff->widget)), std::log(1000.0), 1e-5);
  EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(GTK_SPIN_BUTTON(cutoff->spin)), 1000.0);

  gtk_range_set_value(GTK_RANGE(cutoff->widget), std::log(500.0f)); // as a drag would
  const std::vector<RingMessage> messages = sent();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].type, CONTROL_CHANGE);
  EXPECT_NEAR(messages[0].value(), 500.0f, 0.01f);
  EXPECT_NEAR(gtk_spin_button_get_value(GTK_SPIN_BUTTON(cutoff->spin)), 500.0, 0.01);

  // Typing into the spin button moves the scale, which sends the value.
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(cutoff->spin), 2000.0);
  EXPECT_NEAR(gtk_range_get_value(GTK_RANGE(cutoff->widget)), std::log(2000.0), 1e-4);
  const std::vector<RingMessage> typed = sent();
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_NEAR(typed[0].value(), 2000.0f, 0.1f);
}

TEST_F(GtkPanel, ControlWithoutBoundsTakesNegativeValues) {
  build("urn:bexo:test:odd-controls");
  ControlWidgets* rangeless = widgets(control("rangeless"));
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(rangeless->widget), -1234.5);
  const std::vector<RingMessage> messages = sent();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_FLOAT_EQ(messages[0].value(), -1234.5f);
}

TEST_F(GtkPanel, EnumerationWhoseValueMatchesNoPointShowsNoSelection) {
  open("urn:bexo:test:controls");
  Control* shape = control("shape");
  const float between = 2.5f;
  control_value_set(&shape->value, sizeof(between), rig->host.forge.Float, &between);
  window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_container_add(GTK_CONTAINER(window), build_controls_panel(&rig->host, window));
  GtkComboBox* combo = GTK_COMBO_BOX(widgets(shape)->widget);
  EXPECT_EQ(gtk_combo_box_get_active(combo), -1);

  // A value from the plugin that matches no point leaves the selection.
  gtk_combo_box_set_active(combo, 0);
  rig->discard_ui_messages();
  rig->host.ui_updating = true;
  show_control_value(&rig->host, shape);
  rig->host.ui_updating = false;
  EXPECT_EQ(gtk_combo_box_get_active(combo), 0);
}

TEST_F(GtkPanel, ValueFromThePluginMovesScaleAndSpinWithoutAnEcho) {
  build("urn:bexo:test:controls");
  Control* gain = control("gain");
  ControlWidgets* w = widgets(gain);
  rig->host.ui_updating = true; // as the periodic update sets it
  const float value = 1.5f;
  control_value_set(&gain->value, sizeof(value), rig->host.forge.Float, &value);
  show_control_value(&rig->host, gain);
  rig->host.ui_updating = false;
  EXPECT_DOUBLE_EQ(gtk_range_get_value(GTK_RANGE(w->widget)), 1.5);
  EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(GTK_SPIN_BUTTON(w->spin)), 1.5);
  EXPECT_TRUE(sent().empty());

  // The same widgets moved by the user send the value, once.
  gtk_range_set_value(GTK_RANGE(w->widget), 0.5);
  const std::vector<RingMessage> messages = sent();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].port_index(), 4u);
  EXPECT_FLOAT_EQ(messages[0].value(), 0.5f);
  EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(GTK_SPIN_BUTTON(w->spin)), 0.5);
}

TEST_F(GtkPanel, ReadOnlyAndTextPropertiesFollowThePlugin) {
  build(params);
  ControlWidgets* lfo = widgets(control(param("lfo")));
  ControlWidgets* text = widgets(control(param("string")));
  EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(text->widget)), "");

  uint8_t buffer[64];
  LV2_Atom_Forge forge = rig->host.forge;
  lv2_atom_forge_set_buffer(&forge, buffer, sizeof(buffer));
  lv2_atom_forge_float(&forge, 0.75f);
  rig->host.ui_updating = true;
  update_property_value_and_widget(rig->map(param("lfo").c_str()),
                                   reinterpret_cast<const LV2_Atom*>(buffer), &rig->host);
  lv2_atom_forge_set_buffer(&forge, buffer, sizeof(buffer));
  lv2_atom_forge_string(&forge, "Hi", 2);
  update_property_value_and_widget(rig->map(param("string").c_str()),
                                   reinterpret_cast<const LV2_Atom*>(buffer), &rig->host);
  rig->host.ui_updating = false;
  EXPECT_FLOAT_EQ(static_cast<float>(gtk_range_get_value(GTK_RANGE(lfo->widget))), 0.75f);
  EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(text->widget)), "Hi");
  EXPECT_TRUE(sent().empty());
}

int top_of(GtkWidget* grid, GtkWidget* child) {
  int top = -1;
  gtk_container_child_get(GTK_CONTAINER(grid), child, "top-attach", &top, nullptr);
  return top;
}

GtkWidget* label_in_row(GtkWidget* grid, int row) {
  GtkWidget* child = gtk_grid_get_child_at(GTK_GRID(grid), 0, row);
  return child && GTK_IS_LABEL(child) ? child : nullptr;
}

TEST_F(GtkPanel, UngroupedRowsFirstThenEachGroupUnderItsHeading) {
  build("urn:bexo:test:controls");
  ASSERT_TRUE(GTK_IS_GRID(panel));
  EXPECT_TRUE(gtk_window_get_resizable(window));
  std::vector<std::string> labels;
  for (int row = 0; GtkWidget* label = label_in_row(panel, row); ++row) {
    labels.emplace_back(gtk_label_get_text(GTK_LABEL(label)));
  }
  const std::vector<std::string> expected{
      "Gain:",   "Mute:",  "Latency Set:", "Latency:", "BPM:",    "Echo In:", "Echo Out:", "Mode",
      "Enable:", "Steps:", "Shape:",       "Tone",     "Cutoff:", "Rate:",    "Stepped:"};
  EXPECT_EQ(labels, expected);
  EXPECT_EQ(widgets(control("hidden")), nullptr) << "notOnGUI without show-hidden";
  EXPECT_EQ(top_of(panel, widgets(control("gain"))->widget), 0);
  EXPECT_STREQ(gtk_widget_get_tooltip_text(widgets(control("gain"))->widget),
               "Factor applied to both channels");
}

TEST_F(GtkPanel, ShowHiddenShowsPortsNotMeantForAGui) {
  build("urn:bexo:test:controls", true);
  EXPECT_NE(widgets(control("hidden")), nullptr);
}

TEST_F(GtkPanel, PluginWithNothingToShowShowsACloseButtonThatClosesTheWindow) {
  for (const char* plugin : {"urn:bexo:test:atoms", "urn:bexo:test:hidden-controls"}) {
    build(plugin);
    ASSERT_TRUE(GTK_IS_BUTTON(panel)) << plugin;
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(panel)), "Close");
    EXPECT_FALSE(gtk_window_get_resizable(window)) << plugin;
    window_closed = false;
    gtk_button_clicked(GTK_BUTTON(panel));
    EXPECT_TRUE(window_closed) << plugin;
    window = nullptr;
  }
  build("urn:bexo:test:hidden-controls", true);
  EXPECT_TRUE(GTK_IS_GRID(panel)) << "with show-hidden";
  EXPECT_TRUE(gtk_window_get_resizable(window));
}

} // namespace
