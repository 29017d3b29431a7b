// The running cycle through the backend on a real JACK server while things
// change around it: the plugin's latency, the server's buffer size, and
// the run state.

#include "engine/event_buffer.hpp"
#include "harness/wait_for.hpp"
#include "jack_suite.hpp"
#include "state/control.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace {

// What the test client reads from JACK after the plugin's latency changed
// and the UI side asked JACK to recompute.  Outputs carry the widest range
// over all inputs plus the plugin's latency, inputs the same over outputs.
TEST(Latency, ThePluginsLatencyReachesJackInBothDirections) {
  IoWorld w;
  w.source.capture_latency = {{10, 20}, {15, 30}};
  w.sink.playback_latency = {{5, 7}, {3, 9}};
  ASSERT_TRUE(w.open("bexo-latency"));
  ASSERT_TRUE(w.wait_cycles(4));
  w.rig.drain();

  const auto range = [&](uint32_t index,
                         jack_latency_callback_mode_t mode) -> std::pair<uint32_t, uint32_t> {
    jack_port_t* port = jack_port_by_name(w.sink.client, w.rig.port_name(index).c_str());
    jack_latency_range_t r{};
    jack_port_get_latency_range(port, mode, &r);
    return std::pair<uint32_t, uint32_t>(uint32_t{r.min}, uint32_t{r.max});
  };

  struct Case {
    float set;
    uint32_t reported;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {{64.7f, 64}, {-3.0f, 0}, {100.0f, 100}, {nan, 0}, {300.0f, 300}, {2e7f, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    ASSERT_EQ(ring_write_control(w.rig.host.process.ui_ring, io_latency_set, c.set),
              ZIX_STATUS_SUCCESS);
    std::vector<RingMessage> latency;
    ASSERT_TRUE(wait_for([&] {
      for (RingMessage& m : w.rig.drain()) {
        if (m.type == LATENCY_CHANGE) {
          latency.push_back(std::move(m));
        }
      }
      return !latency.empty();
    }));
    ASSERT_TRUE(w.wait_cycles(4));
    for (RingMessage& m : w.rig.drain()) {
      EXPECT_NE(m.type, LATENCY_CHANGE) << "latency reported twice";
    }
    ASSERT_EQ(latency.size(), 1u);
    EXPECT_EQ(latency[0].value(), static_cast<float>(c.reported));
    EXPECT_EQ(w.rig.host.process.plugin_latency.load(), c.reported);

    audio_update_latencies(&w.rig.backend);
    const uint32_t l = c.reported;
    // The MIDI ports are connected too, with no latency of their own.
    const std::pair<uint32_t, uint32_t> capture{0 + l, 30 + l};
    const std::pair<uint32_t, uint32_t> playback{0 + l, 9 + l};
    ASSERT_TRUE(wait_for([&] { return range(io_audio_out, JackCaptureLatency) == capture; }));
    EXPECT_EQ(range(io_cv_out, JackCaptureLatency), capture);
    EXPECT_EQ(range(io_events_out, JackCaptureLatency), capture);
    ASSERT_TRUE(wait_for([&] { return range(io_audio_in, JackPlaybackLatency) == playback; }));
    EXPECT_EQ(range(io_cv_in, JackPlaybackLatency), playback);
    EXPECT_EQ(range(io_events_in, JackPlaybackLatency), playback);
  }
}

// Without any port of the direction read, the plugin's latency is the
// whole range.
TEST(Latency, APluginWithoutInputsReportsItsOwnLatencyAlone) {
  HostRig rig;
  name_rig(rig, "bexo-latency-alone");
  ASSERT_EQ(rig.load("urn:bexo:test:io"), 0);
  // Inputs of unknown direction get no JACK port and are connected to
  // nothing, so the plugin must never run: the client is started alone,
  // without host_activate.
  std::vector<ProcessPort>& ports = rig.host.process.ports;
  ports[io_audio_in].flow = FLOW_UNKNOWN;
  ports[io_cv_in].flow = FLOW_UNKNOWN;
  ports[io_events_in].supports_midi = false;
  ASSERT_EQ(rig.attach_jack(), 0);
  rig.host.process.plugin_latency.store(48);
  ASSERT_EQ(audio_start(&rig.backend), 0);
  audio_update_latencies(&rig.backend);
  Sink observer(0, 0);
  jack_port_t* out = jack_port_by_name(observer.client, rig.port_name(io_audio_out).c_str());
  ASSERT_NE(out, nullptr);
  jack_latency_range_t r{};
  ASSERT_TRUE(wait_for([&] {
    jack_port_get_latency_range(out, JackCaptureLatency, &r);
    return r.min == 48;
  }));
  EXPECT_EQ(r.max, 48u);
  EXPECT_EQ(rig.host.process.run_state.load(), PAUSED);
}

// Buffer-size changes reach the settings and the plugin; event buffers are
// re-prepared only while running, and the audio stream goes on without a
// lost frame at every new size.
TEST(BufferSize, ChangesWhileRunningAndWhilePaused) {
  IoWorld w;
  ASSERT_TRUE(w.open("bexo-buffer-size"));
  w.sink.check_stream(0, 0, 1.0f);
  ASSERT_TRUE(wait_for([&] { return w.sink.checked_frames(0) > 2048; }));
  const auto capacity = [&](uint32_t index) {
    return event_buffer_capacity(w.rig.host.process.ports[index].event_buffer);
  };

  // Running: the settings follow, the process state is prepared again
  // (JACK 2 keeps its MIDI buffer size, so the update pacing, recomputed
  // from the settings, shows it), and the stream never breaks.
  w.rig.host.settings.ui_rate_hz = 50.0f;
  ASSERT_EQ(jack_set_buffer_size(w.source.client, 512), 0);
  ASSERT_TRUE(wait_for([&] { return w.rig.host.settings.max_block_length == 512; }));
  EXPECT_EQ(w.rig.host.settings.min_block_length, 512u);
  const size_t midi_512 = jack_port_type_get_buffer_size(w.source.client, JACK_DEFAULT_MIDI_TYPE);
  EXPECT_EQ(w.rig.host.settings.midi_buf_size, midi_512);
  EXPECT_EQ(capacity(io_events_in), midi_512);
  EXPECT_EQ(capacity(io_events_out), midi_512);
  EXPECT_EQ(w.rig.host.process.update_frames, 960u);
  const uint64_t before = w.sink.checked_frames(0);
  ASSERT_TRUE(wait_for([&] { return w.sink.checked_frames(0) > before + 8192; }));
  EXPECT_EQ(w.sink.bad_frames(0), 0u);
  EXPECT_LE(w.sink.breaks(0), w.sink.xruns.load());

  // Paused: the settings follow, the event buffers stay as they were.
  ASSERT_TRUE(w.rig.pause());
  EventBuffer* const paused_events = w.rig.host.process.ports[io_events_in].event_buffer;
  const uint32_t paused_capacity = capacity(io_events_in);
  w.rig.host.settings.ui_rate_hz = 10.0f;
  ASSERT_EQ(jack_set_buffer_size(w.source.client, 1024), 0);
  ASSERT_TRUE(wait_for([&] { return w.rig.host.settings.max_block_length == 1024; }));
  EXPECT_EQ(w.rig.host.settings.midi_buf_size,
            jack_port_type_get_buffer_size(w.source.client, JACK_DEFAULT_MIDI_TYPE));
  EXPECT_EQ(w.rig.host.process.ports[io_events_in].event_buffer, paused_events);
  EXPECT_EQ(capacity(io_events_in), paused_capacity);
  EXPECT_EQ(w.rig.host.process.update_frames, 960u);

  // Resumed at the new size, the stream flows again in whole.
  w.rig.send_run_state(RUNNING);
  ASSERT_TRUE(wait_for([&] { return w.rig.host.process.run_state.load() == RUNNING; }));
  ASSERT_TRUE(w.wait_cycles(2));
  w.sink.check_stream(0, 0, 1.0f);
  ASSERT_TRUE(wait_for([&] { return w.sink.checked_frames(0) > 8192; }));
  EXPECT_EQ(w.sink.bad_frames(0), 0u);
  EXPECT_LE(w.sink.breaks(0), w.sink.xruns.load());

  ASSERT_EQ(jack_set_buffer_size(w.source.client, 256), 0);
  ASSERT_TRUE(wait_for([&] { return w.rig.host.settings.max_block_length == 256; }));
}

// The options a plugin was given stay live: after a buffer-size change it
// reads the new period as the nominal and the maximum block length.
TEST(BufferSize, ThePluginReadsTheNewBlockLengthsFromItsOptions) {
  HostRig rig;
  ASSERT_EQ(rig.open("urn:bexo:test:blocks"), 0);
  ASSERT_EQ(rig.activate(), 0);
  const auto value = [&](const char* symbol) {
    const Control* control = rig.control(symbol);
    return control ? control_value_to_double(&control->value, &rig.host.forge) : -2.0;
  };
  const auto plugin_reads = [&](double frames) {
    return rig.update_until([&] {
      return value("nominal") == frames && value("maximum") == frames && value("frames") == frames;
    });
  };
  EXPECT_TRUE(plugin_reads(256)) << value("nominal");
  ASSERT_EQ(jack_set_buffer_size(rig.backend.client, 128), 0);
  EXPECT_TRUE(plugin_reads(128)) << value("nominal");
  ASSERT_EQ(jack_set_buffer_size(rig.backend.client, 256), 0);
  EXPECT_TRUE(plugin_reads(256)) << value("nominal");
}

// While paused, every output is silent or empty whatever arrives, and a
// resume message still gets through.
TEST(Paused, OutputsSilenceAndStillReadsTheResume) {
  IoWorld w;
  ASSERT_TRUE(w.open("bexo-paused"));
  w.source.midi_every_cycle.store(true);
  ASSERT_TRUE(wait_for([&] { return w.source.notes_sent.load() > 8; }));
  w.sink.arm();
  ASSERT_TRUE(w.wait_cycles(4));
  w.sink.disarm();
  ASSERT_FALSE(w.sink.recorded_midi().empty()) << "the world does not reach the plugin";

  ASSERT_TRUE(w.rig.pause());
  ASSERT_TRUE(w.wait_cycles(1));
  w.sink.arm();
  ASSERT_TRUE(w.wait_cycles(16));
  w.sink.disarm();
  ASSERT_GE(w.sink.recorded_frames(), 16u * 256);
  for (const int port : {0, 1}) {
    for (const float sample : w.sink.recorded_audio(port)) {
      ASSERT_EQ(sample, 0.0f) << "port " << port;
    }
  }
  EXPECT_TRUE(w.sink.recorded_midi().empty());
  EXPECT_EQ(w.rig.host.process.run_state.load(), PAUSED);

  w.rig.send_run_state(RUNNING);
  ASSERT_TRUE(wait_for([&] { return w.rig.host.process.run_state.load() == RUNNING; }));
  ASSERT_TRUE(w.wait_cycles(1));
  w.sink.arm();
  ASSERT_TRUE(w.wait_cycles(4));
  w.sink.disarm();
  EXPECT_FALSE(w.sink.recorded_midi().empty());
  const std::vector<float> audio = w.sink.recorded_audio(0);
  EXPECT_GE(stream_frame(audio.back(), 0, 1.0f), 0);
}

} // namespace
