// A large real instrument, synthv1 from Debian's synthv1-lv2: its UIs
// cannot be embedded in Qt 6, so the generic panel shows its controls with
// one box per port group, and a note from outside makes it sound.

#include "harness/jack_world.hpp"
#include "harness/wait_for.hpp"
#include "qt_host.hpp"

#include <QApplication>
#include <QGroupBox>
#include <QLayout>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <thread>

namespace {

constexpr char synthv1[] = "http://synthv1.sourceforge.net/lv2";

using Synthv1 = QtHostTest;

TEST_F(Synthv1, GenericPanelHasABoxPerGroupAndANoteSounds) {
  ASSERT_EQ(open(synthv1), 0);
  EXPECT_EQ(host().ui, nullptr);
  EXPECT_NE(std::find_if(
                rig->lines.begin(), rig->lines.end(),
                [](const LogLine& l) { return l.text.rfind("Ignoring incompatible UI", 0) == 0; }),
            rig->lines.end());

  std::set<std::string> groups;
  for (const Port& port : host().ports) {
    if (port.type == TYPE_CONTROL) {
      if (LilvNode* group = lilv_port_get(host().plugin, port.lilv_port, host().nodes.pg_group)) {
        groups.insert(lilv_node_as_string(group));
        lilv_node_free(group);
      }
    }
  }
  ASSERT_GT(groups.size(), 5u);
  panel.reset(makeControlPanel(&host()));
  int boxes = 0;
  for (int i = 0; i < panel->layout()->count(); ++i) {
    QWidget* item = panel->layout()->itemAt(i)->widget();
    boxes += qobject_cast<Controller*>(item) == nullptr; // a group box, not a Controller
  }
  EXPECT_EQ(boxes, static_cast<int>(groups.size()));

  ASSERT_EQ(rig->activate(), 0);
  Source source(0, 1);
  Sink sink(2, 0);
  ASSERT_TRUE(source.ok() && sink.ok() && source.activate() && sink.activate());
  const auto port_name = [&](const char* symbol) {
    for (const ProcessPort& port : host().process.ports) {
      if (port.symbol == symbol && port.jack_port) {
        return std::string(jack_port_name(static_cast<jack_port_t*>(port.jack_port)));
      }
    }
    return std::string();
  };
  ASSERT_TRUE(connect_ports(source.client, source.midi_name(0), port_name("in")));
  ASSERT_TRUE(connect_ports(sink.client, port_name("Out_L"), sink.audio_name(0)));
  ASSERT_TRUE(connect_ports(sink.client, port_name("Out_R"), sink.audio_name(1)));
  std::this_thread::sleep_for(100ms);
  sink.arm();
  ASSERT_TRUE(source.queue_midi(0, 0, {0x90, 60, 100}));
  ASSERT_TRUE(wait_for([&] {
    periodic_update(&host()); // the panel follows the outputs meanwhile
    return sink.recorded_frames() > 48000 / 2;
  }));
  const std::vector<float> left = sink.recorded_audio(0);
  EXPECT_TRUE(std::any_of(left.begin(), left.end(), [](float s) { return std::fabs(s) > 1e-4f; }));
}

} // namespace
