// Turning a dial of the generic panel, by a key press as a user would,
// changes what the plugin plays: the controls fixture's gain, from 1 to its
// maximum of 2, checked on every frame that comes back.  And the dial of an
// output follows what the plugin reports.

#include "harness/jack_world.hpp"
#include "harness/wait_for.hpp"
#include "qt_host.hpp"

#include <QApplication>
#include <QDial>
#include <QKeyEvent>
#include <QLabel>
#include <gtest/gtest.h>
#include <thread>

namespace {

using DialAudio = QtHostTest;

TEST_F(DialAudio, TurningTheGainDialChangesTheOutput) {
  ASSERT_EQ(open("urn:bexo:test:controls"), 0);
  panel.reset(makeControlPanel(&host()));
  ASSERT_EQ(rig->activate(), 0);

  Source source(1, 0);
  Sink sink(1, 0);
  ASSERT_TRUE(source.ok() && sink.ok() && source.activate() && sink.activate());
  const auto port_name = [&](uint32_t index) {
    return std::string(
        jack_port_name(static_cast<jack_port_t*>(host().process.ports[index].jack_port)));
  };
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(0), port_name(0)));
  ASSERT_TRUE(connect_ports(sink.client, port_name(2), sink.audio_name(0)));
  sink.check_stream(0, 0, 1.0f);
  ASSERT_TRUE(wait_for([&] { return sink.checked_frames(0) > 4800; }));
  EXPECT_EQ(sink.bad_frames(0), 0u);

  auto* gain = static_cast<Controller*>(host().ports[4].widget);
  ASSERT_NE(gain, nullptr);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
  QCoreApplication::sendEvent(gain->dialWidget(), &press);
  EXPECT_EQ(gain->dialValue(), 2.0f);
  std::this_thread::sleep_for(50ms);
  sink.check_stream(0, 0, 2.0f);
  ASSERT_TRUE(wait_for([&] { return sink.checked_frames(0) > 4800; }));
  EXPECT_EQ(sink.bad_frames(0), 0u);

  // An output's dial follows what the plugin reports: the fixture copies
  // Echo In to Echo Out.
  auto* echo_in = static_cast<Controller*>(host().ports[16].widget);
  auto* echo_out = static_cast<Controller*>(host().ports[17].widget);
  ASSERT_NE(echo_out, nullptr);
  echo_in->dialWidget()->setValue(425000); // 42.5 at 10000 steps per unit
  EXPECT_TRUE(wait_for([&] {
    periodic_update(&host());
    return echo_out->dialValue() == 42.5f;
  }));
  EXPECT_EQ(echo_out->valueLabelWidget()->text(), "42.5");
}

} // namespace
