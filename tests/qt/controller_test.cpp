// The generic panel of the controls fixture: how each kind of port maps to
// its dial and back, what the value text says, and the order of the panel.

#include "engine/message.hpp"
#include "harness/host_rig.hpp"
#include "harness/ring_messages.hpp"
#include "qt/control_panel.hpp"
#include "qt/controller.hpp"
#include "state/control.hpp"

#include <QApplication>
#include <QDial>
#include <QLabel>
#include <QLayout>
#include <cmath>
#include <gtest/gtest.h>

// fontconfig keeps some memory to the end of the process, which the leak
// checker of the sanitizer builds would otherwise count against the test.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace {

// Port indices of the controls fixture.
enum : uint32_t {
  gain = 4,
  mute = 5,
  enable = 6,
  steps = 7,
  shape = 8,
  cutoff = 9,
  hidden = 11,
  stepped = 12
};

class ControllerTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!QApplication::instance()) {
      new QApplication(argc, argv);
    }
  }

  virtual const char* plugin_uri() const { return "urn:bexo:test:controls"; }

  // A host opened as bexo-qt opens one, with the rig's own backend: the
  // panel reads the plugin and its ports, and a dial sets its control.
  void SetUp() override { ASSERT_EQ(rig.open_manual(plugin_uri()), 0); }

  void TearDown() override {
    owned.clear();
    for (Port& port : host.ports) {
      port.widget = nullptr;
    }
  }

  Controller* controller(uint32_t index) {
    owned.push_back(std::make_unique<Controller>(&host, &host.ports[index]));
    return owned.back().get();
  }

  // The control messages the dials wrote, as (port, value).
  std::vector<std::pair<uint32_t, float>> sent() {
    std::vector<std::pair<uint32_t, float>> messages;
    for (const RingMessage& message : read_ring_messages(host.process.ui_ring)) {
      messages.emplace_back(message.port_index(), message.value());
    }
    return messages;
  }

  HostRig rig;
  Host& host = rig.host;
  std::vector<std::unique_ptr<Controller>> owned;
};

struct Mapping {
  uint32_t port;
  int min, max; // the dial's range
  float shown;  // a value shown ...
  int position; // ... puts the dial here
  QString text; // ... and reads so
};

TEST_F(ControllerTest, EachKindOfPortMapsToItsDial) {
  const Mapping cases[] = {
      {gain, 0, 20000, 0.5f, 5000, "0.5"},          // linear, 10000 steps per unit
      {stepped, 0, 5, 0.6f, 3, "0.6"},              // rangeSteps 5
      {steps, -5, 5, 3.7f, 3, "3.7"},               // integer: truncated, text exact
      {mute, 0, 1, 1.0f, 1, "On"},                  // toggle without labels
      {enable, 0, 1, 0.0f, 0, "Off"},               // toggle with its own labels
      {shape, 0, 2, 3.0f, 2, "3"},                  // enumeration: an unknown value at the end
      {cutoff, 1, 10000, 20000.0f, 10000, "20000"}, // logarithmic
  };
  for (const Mapping& c : cases) {
    Controller* ctl = controller(c.port);
    ctl->showValue(c.shown);
    EXPECT_EQ(ctl->dialWidget()->minimum(), c.min) << c.port;
    EXPECT_EQ(ctl->dialWidget()->maximum(), c.max) << c.port;
    EXPECT_EQ(ctl->dialWidget()->value(), c.position) << c.port;
    EXPECT_EQ(ctl->valueLabelWidget()->text(), c.text) << c.port;
  }
  EXPECT_TRUE(sent().empty()); // showing a value never sends it
}

TEST_F(ControllerTest, TurningADialSendsTheValueItStandsFor) {
  struct Turn {
    uint32_t port;
    int position;
    float value;
    QString text;
  };
  const Turn turns[] = {
      {gain, 2500, 0.25f, "0.25"},
      {steps, -4, -4.0f, "-4"},
      {mute, 1, 1.0f, "On"},
      {stepped, 5, 1.0f, "1"},
  };
  for (const Turn& t : turns) {
    Controller* ctl = controller(t.port);
    sent();
    ctl->dialWidget()->setValue(t.position);
    EXPECT_EQ(ctl->valueLabelWidget()->text(), t.text) << t.port;
    EXPECT_EQ(sent(), (std::vector<std::pair<uint32_t, float>>{{t.port, t.value}})) << t.port;
    // What reads the controls (saving a state, printing) sees it too.
    const Control* control = find_port_control(&host.controls, t.port);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->value.type, host.urids.atom_Float) << t.port;
    EXPECT_EQ(control_value_to_double(&control->value, &host.forge), t.value) << t.port;
  }
}

TEST_F(ControllerTest, EnumerationReadsAndWritesThroughOneOrderOfItsValues) {
  // The port is an enumeration and an integer: one precedence serves the
  // range, the reading and the writing alike.
  Controller* ctl = controller(shape);
  for (const float value : {1.0f, 2.0f, 5.0f}) {
    ctl->showValue(value);
    EXPECT_EQ(ctl->dialValue(), value);
  }
  for (int position = -3; position < 6; ++position) { // the dial clamps; the reading too
    ctl->dialWidget()->setValue(position);
    const float value = ctl->dialValue();
    EXPECT_TRUE(value == 1.0f || value == 2.0f || value == 5.0f) << position;
  }
}

TEST_F(ControllerTest, LogarithmicReadingInvertsTheWriting) {
  Controller* ctl = controller(cutoff);
  for (int position : {1, 2, 5000, 9999, 10000}) {
    ctl->dialWidget()->setValue(position);
    const float value = ctl->dialValue();
    EXPECT_GE(value, 20.0f);
    EXPECT_LE(value, 20000.0f * 1.0001f);
    ctl->showValue(value);
    EXPECT_NEAR(ctl->dialWidget()->value(), position, 1) << position;
  }
  ctl->dialWidget()->setValue(10000);
  EXPECT_NEAR(ctl->dialValue(), 20000.0f, 0.5f);
}

TEST_F(ControllerTest, PanelShowsUngroupedPortsFirstThenOneBoxPerGroup) {
  std::unique_ptr<QWidget> panel(makeControlPanel(&host));
  QLayout* flow = panel->layout();
  ASSERT_NE(flow, nullptr);
  std::vector<QString> titles;
  for (int i = 0; i < flow->count(); ++i) {
    titles.push_back(static_cast<QGroupBox*>(flow->itemAt(i)->widget())->title());
  }
  EXPECT_EQ(titles, (std::vector<QString>{"Gain", "Mute", "Latency Set", "Latency", "BPM",
                                          "Echo In", "Echo Out", "Mode", "Tone"}));
  EXPECT_EQ(host.ports[hidden].widget, nullptr); // not for a GUI
  EXPECT_NE(host.ports[shape].widget, nullptr);
  EXPECT_EQ(host.ports[0].widget, nullptr); // audio
  auto* mode = static_cast<QGroupBox*>(flow->itemAt(7)->widget());
  EXPECT_EQ(mode->layout()->count(), 3);
}

// Ports of the odd-controls fixture.
enum : uint32_t { long_texts = 0, rangeless = 1, zero_log = 2, wordy = 3 };

class OddControllerTest : public ControllerTest {
protected:
  const char* plugin_uri() const override { return "urn:bexo:test:odd-controls"; }
};

TEST_F(OddControllerTest, TextsWiderThanADialAreElided) {
  Controller* ctl = controller(long_texts);
  EXPECT_TRUE(ctl->title().endsWith(QChar(0x2026))); // the ellipsis
  EXPECT_LE(ctl->textWidth(ctl->title()), 150);
  EXPECT_TRUE(ctl->toolTip().isEmpty()); // titles get none

  const QString label = "A scale point label far too long to fit under one dial";
  ctl->showValue(0.0f);
  EXPECT_TRUE(ctl->valueLabelWidget()->text().endsWith(QChar(0x2026)));
  EXPECT_EQ(ctl->valueLabelWidget()->toolTip(), label);
  ctl->showValue(0.5f); // a short text leaves the tooltip as it was
  EXPECT_EQ(ctl->valueLabelWidget()->text(), "0.5");
  EXPECT_EQ(ctl->valueLabelWidget()->toolTip(), label);
}

TEST_F(OddControllerTest, OddRangesStillGiveAUsableDial) {
  // No range at all: 0 to 1.
  Controller* none = controller(rangeless);
  EXPECT_EQ(none->dialWidget()->minimum(), 0);
  EXPECT_EQ(none->dialWidget()->maximum(), 10000);

  // A logarithmic range from 0 has no logarithm: the dial is linear.
  Controller* log = controller(zero_log);
  log->showValue(2.5f);
  EXPECT_EQ(log->dialWidget()->value(), 25000);
  EXPECT_EQ(log->dialValue(), 2.5f);

  // An enumeration without a numeric value reads nothing from its empty
  // list of values.
  Controller* words = controller(wordy);
  for (int position : {-1, 0, 1, 10000}) {
    words->dialWidget()->setValue(position);
    EXPECT_TRUE(std::isfinite(words->dialValue())) << position;
  }
}

} // namespace
