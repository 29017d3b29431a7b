// Real plugins from Debian's packages, opened and run by the whole core
// against the private JACK server, with clients of the tests' own playing
// the world outside: audio, MIDI, the transport and latency.

#include "engine/message.hpp"
#include "harness/jack_world.hpp"
#include "harness/ring_messages.hpp"
#include "harness/wait_for.hpp"
#include "open_fixture.hpp"
#include "state/control.hpp"
#include "ui/ui_update.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <thread>

namespace {

class RealPlugin : public OpenHost {
protected:
  void start(const char* uri) {
    ASSERT_EQ(open(uri), 0);
    ASSERT_EQ(rig.activate(), 0);
  }

  // The UI side's part of a run: the periodic update, ticking until
  // `done` holds or five seconds passed.
  bool tick_until(const std::function<bool()>& done) {
    return wait_for([&] {
      periodic_update(&host);
      return done();
    });
  }

  std::string port_name(const char* symbol) {
    for (const ProcessPort& port : host.process.ports) {
      if (port.symbol == symbol && port.jack_port) {
        return jack_port_name(static_cast<jack_port_t*>(port.jack_port));
      }
    }
    return "";
  }

  Control* control(const char* symbol) { return find_control_by_symbol(&host.controls, symbol); }
};

bool all_zero(const std::vector<float>& audio) {
  return std::all_of(audio.begin(), audio.end(), [](float s) { return s == 0.0f; });
}

TEST_F(RealPlugin, AmpGainSetThroughTheUiPathChangesTheAudio) {
  start("http://lv2plug.in/plugins/eg-amp");
  Source source(1, 0);
  Sink sink(1, 0);
  ASSERT_TRUE(source.ok() && sink.ok() && source.activate() && sink.activate());
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(0), port_name("in")));
  ASSERT_TRUE(connect_ports(sink.client, port_name("out"), sink.audio_name(0)));

  // At 0 dB every frame passes unchanged.
  sink.check_stream(0, 0, 1.0f);
  ASSERT_TRUE(wait_for([&] { return sink.checked_frames(0) > 4800; }));
  EXPECT_EQ(sink.bad_frames(0), 0u);

  // At -90 dB the amplifier is silent.
  const float minus_90 = -90.0f;
  ASSERT_EQ(apply_control_value(&host, control("gain"), 4, host.urids.atom_Float, &minus_90), 0);
  std::this_thread::sleep_for(50ms);
  sink.arm();
  ASSERT_TRUE(wait_for([&] { return sink.recorded_frames() > 4800; }));
  EXPECT_TRUE(all_zero(sink.recorded_audio(0)));
}

TEST_F(RealPlugin, ParamsAnswerTheStartRequestForEveryProperty) {
  start("http://lv2plug.in/plugins/eg-params");
  std::set<std::string> properties;
  for (const ControlPtr& c : host.controls.controls) {
    if (c->type == PROPERTY) {
      properties.insert(lilv_node_as_string(c->symbol.get()));
    }
  }
  ASSERT_GE(properties.size(), 5u);

  plugin_ui_start(&host);
  std::set<std::string> shown;
  EXPECT_TRUE(tick_until([&] {
    for (const ShownControl& s : test_frontend().shown) {
      if (s.ui_updating) { // from the plugin, not from the start itself
        shown.insert(s.symbol);
      }
    }
    return std::includes(shown.begin(), shown.end(), properties.begin(), properties.end());
  }));
  for (const ControlPtr& c : host.controls.controls) {
    if (c->type == PROPERTY) {
      EXPECT_NE(c->value.type, 0u) << lilv_node_as_string(c->symbol.get());
    }
  }
}

// Opened by its URI, a plugin starts from the default state in its data
// file: eg-sampler's names the sample it plays.
TEST_F(RealPlugin, SamplerStartsFromItsDefaultState) {
  start("http://lv2plug.in/plugins/eg-sampler");
  plugin_ui_start(&host);
  EXPECT_TRUE(tick_until([&] {
    for (const ShownControl& s : test_frontend().shown) {
      if (s.symbol == "sample" && s.text.size() > 9 &&
          s.text.compare(s.text.size() - 9, 9, "click.wav") == 0) {
        return true;
      }
    }
    return false;
  }));
}

TEST_F(RealPlugin, FifthsAddsAFifthToEachNoteAtTheSameTime) {
  start("http://lv2plug.in/plugins/eg-fifths");
  Source source(0, 1);
  Sink sink(0, 1);
  ASSERT_TRUE(source.ok() && sink.ok() && source.activate() && sink.activate());
  ASSERT_TRUE(connect_ports(source.client, source.midi_name(0), port_name("in")));
  ASSERT_TRUE(connect_ports(sink.client, port_name("out"), sink.midi_name(0)));
  std::this_thread::sleep_for(50ms);
  sink.arm();
  ASSERT_TRUE(source.queue_midi(0, 17, {0x90, 60, 100}));
  ASSERT_TRUE(wait_for([&] { return sink.recorded_midi().size() >= 2; }));
  const std::vector<MidiRecord> notes = sink.recorded_midi();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].time, notes[1].time);
  EXPECT_EQ(std::vector<int>({notes[0].bytes[1], notes[1].bytes[1]}), std::vector<int>({60, 67}));
  EXPECT_EQ(notes[0].time, source.sent_midi().at(0).time);
}

TEST_F(RealPlugin, MetronomeClicksOnlyWhileTheTransportRolls) {
  start("http://lv2plug.in/plugins/eg-metro");
  Source source(0, 0);
  Sink sink(1, 0);
  ASSERT_TRUE(source.ok() && sink.ok() && source.activate() && sink.activate());
  ASSERT_TRUE(source.become_master());
  ASSERT_TRUE(connect_ports(sink.client, port_name("out"), sink.audio_name(0)));
  jack_transport_stop(source.client);
  jack_transport_locate(source.client, 0);
  std::this_thread::sleep_for(100ms);

  sink.arm();
  ASSERT_TRUE(wait_for([&] { return sink.recorded_frames() > 48000 / 2; }));
  EXPECT_TRUE(all_zero(sink.recorded_audio(0)));

  jack_transport_start(source.client);
  sink.arm();
  ASSERT_TRUE(wait_for([&] { return sink.recorded_frames() > 48000 * 1.2; }, 10s));
  EXPECT_FALSE(all_zero(sink.recorded_audio(0))); // 120 bpm: two beats a second
  jack_transport_stop(source.client);
}

TEST_F(RealPlugin, ReportedLatencyReachesJack) {
  start("http://gareus.org/oss/lv2/dpl#mono");
  Sink sink(1, 0);
  ASSERT_TRUE(sink.ok() && sink.activate());
  const std::string out = port_name("out");
  ASSERT_FALSE(out.empty());
  ASSERT_TRUE(connect_ports(sink.client, out, sink.audio_name(0)));
  ASSERT_TRUE(tick_until([&] { return host.process.plugin_latency.load() > 0; }));
  jack_latency_range_t range{};
  ASSERT_TRUE(wait_for([&] {
    periodic_update(&host);
    jack_port_get_latency_range(jack_port_by_name(sink.client, out.c_str()), JackCaptureLatency,
                                &range);
    return range.min == host.process.plugin_latency.load();
  })) << range.min
      << " " << host.process.plugin_latency.load();
  EXPECT_EQ(range.max, range.min);
}

// Objects the atoms fixture echoed on its notify port, by object type, read
// from process_ring as the periodic update would.
std::vector<uint32_t> echoed_object_types(Host* host) {
  std::vector<uint32_t> types;
  for (const RingMessage& message : read_ring_messages(host->process.process_ring)) {
    if (message.type == EVENT_TRANSFER && message.atom_type() == host->urids.atom_Object) {
      types.push_back(reinterpret_cast<const LV2_Atom_Object*>(message.atom())->body.otype);
    }
  }
  return types;
}

// A request sent while the plugin is paused (as a state restore sends one)
// waits in the control input and reaches the plugin with the first running
// cycle, beside the transport position that cycle brings.
TEST_F(RealPlugin, EventsSentWhilePausedArriveBesideTheTransportOnResume) {
  start("urn:bexo:test:atoms");
  Source source(0, 0);
  ASSERT_TRUE(source.ok() && source.activate() && source.become_master());
  jack_transport_start(source.client);
  std::this_thread::sleep_for(100ms);

  const auto send_run_state = [&](RunState run_state) {
    const MessageHeader header{RUN_STATE_CHANGE, 4};
    ASSERT_EQ(ring_write_message(host.process.ui_ring, &header, sizeof(header), &run_state, 4), 0);
  };
  send_run_state(PAUSED);
  ASSERT_EQ(zix_sem_timed_wait(&host.process.paused, 5, 0), ZIX_STATUS_SUCCESS);
  const MessageHeader request{UPDATE_REQUEST, 0};
  ASSERT_EQ(ring_write_message(host.process.ui_ring, &request, sizeof(request), nullptr, 0), 0);
  std::this_thread::sleep_for(50ms); // paused cycles take the request
  echoed_object_types(&host);        // what came before the pause is not under test
  send_run_state(RUNNING);

  std::vector<uint32_t> types;
  ASSERT_TRUE(wait_for([&] {
    for (uint32_t type : echoed_object_types(&host)) {
      types.push_back(type);
    }
    return std::count(types.begin(), types.end(), host.urids.patch_Get) > 0 &&
           std::count(types.begin(), types.end(), host.urids.time_Position) > 0;
  })) << types.size();
  jack_transport_stop(source.client);
}

} // namespace
