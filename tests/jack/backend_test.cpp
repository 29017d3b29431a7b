// The backend against a real JACK server: client names, ports and their
// metadata, audio, MIDI, transport, latency, buffer-size changes and the
// paused path, each seen from JACK clients of the tests' own.

#include "engine/event_buffer.hpp"
#include "world.hpp"

#include <cmath>
#include <cstdarg>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jack/metadata.h>
#include <limits>
#include <lv2/atom/util.h>

// Records the name that reaches JACK, to tell what the backend passed from
// what the server made of it.
std::string requested_name;

extern "C" jack_client_t* jack_client_open(const char* name, jack_options_t options,
                                           jack_status_t* status, ...) {
  using Open = jack_client_t* (*)(const char*, jack_options_t, jack_status_t*, ...);
  static const auto real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "jack_client_open"));
  requested_name = name;
  if (options & JackServerName) {
    va_list args;
    va_start(args, status);
    const char* server = va_arg(args, const char*);
    va_end(args);
    return real(name, options, status, server);
  }
  return real(name, options, status);
}

namespace {

// Ports of the io fixture.
constexpr uint32_t io_audio_in = 0;
constexpr uint32_t io_audio_out = 1;
constexpr uint32_t io_cv_in = 2;
constexpr uint32_t io_cv_out = 3;
constexpr uint32_t io_events_in = 4;
constexpr uint32_t io_events_out = 5;
constexpr uint32_t io_patch_in = 6;
constexpr uint32_t io_bpm = 7;
constexpr uint32_t io_latency_set = 8;
constexpr uint32_t io_latency = 9;

// Ports of the controls fixture.
constexpr uint32_t controls_in_l = 0;
constexpr uint32_t controls_in_r = 1;
constexpr uint32_t controls_out_l = 2;
constexpr uint32_t controls_out_r = 3;
constexpr uint32_t controls_gain = 4;
constexpr uint32_t controls_echo_in = 16;
constexpr uint32_t controls_echo_out = 17;

std::string property(jack_uuid_t subject, const char* key, std::string* type = nullptr) {
  char* value = nullptr;
  char* value_type = nullptr;
  if (jack_get_property(subject, key, &value, &value_type) != 0) {
    return "<none>";
  }
  std::string result = value ? value : "";
  if (type) {
    *type = value_type ? value_type : "";
  }
  jack_free(value);
  jack_free(value_type);
  return result;
}

int property_count(jack_uuid_t subject) {
  jack_description_t description{};
  const int count = jack_get_properties(subject, &description);
  jack_free_description(&description, 0);
  return count;
}

TEST(ClientName, NamesJackCanHoldPassAndLongerOnesAreCut) {
  const auto size = static_cast<size_t>(jack_client_name_size());
  struct Case {
    size_t length;
    size_t passed; // what reaches jack_client_open
  };
  const Case cases[] = {
      {size - 2, size - 2}, {size - 1, size - 1}, {size, size - 1}, {size + 40, size - 1}};
  for (const Case c : cases) {
    SCOPED_TRACE(c.length);
    std::string name(c.length, 'n');
    name.replace(0, 5, "bexo-");
    HostRig rig;
    const int status = rig.open_client(name);
    EXPECT_EQ(requested_name, name.substr(0, c.passed));
    // JACK 2 reports a size one larger than its longest name plus the
    // terminating zero, and refuses names of size - 1 bytes; a server that
    // takes the name must report it unchanged.
    if (c.length == size - 2) {
      ASSERT_EQ(status, 0);
    }
    if (status != 0) {
      EXPECT_EQ(rig.backend.client, nullptr);
      continue;
    }
    const std::string got = jack_get_client_name(rig.backend.client);
    EXPECT_EQ(got, name.substr(0, c.passed));
    ASSERT_EQ(rig.log_lines.size(), 1u);
    EXPECT_EQ(rig.log_lines[0], "JACK name: " + got);
  }
}

TEST(ClientName, TakenNameFailsWithTheExactFlagAndIsVariedWithout) {
  HostRig first;
  ASSERT_EQ(first.open_client("bexo-taken"), 0);
  EXPECT_EQ(first.settings.sample_rate, 48000.0f);
  EXPECT_EQ(first.settings.max_block_length, 256u);
  EXPECT_EQ(first.settings.min_block_length, 256u);
  EXPECT_EQ(first.settings.midi_buf_size,
            jack_port_type_get_buffer_size(first.backend.client, JACK_DEFAULT_MIDI_TYPE));
  EXPECT_GT(first.settings.midi_buf_size, 0u);

  HostRig exact;
  EXPECT_EQ(exact.open_client("bexo-taken", true), 1);
  EXPECT_EQ(exact.backend.client, nullptr);
  EXPECT_EQ(exact.backend.settings, nullptr);
  EXPECT_EQ(exact.settings.sample_rate, 0.0f);
  EXPECT_TRUE(exact.log_lines.empty());

  HostRig varied;
  ASSERT_EQ(varied.open_client("bexo-taken", false), 0);
  const std::string got = jack_get_client_name(varied.backend.client);
  EXPECT_NE(got, "bexo-taken");
  EXPECT_EQ(got.rfind("bexo-taken", 0), 0u) << got;
  ASSERT_EQ(varied.log_lines.size(), 1u);
  EXPECT_EQ(varied.log_lines[0], "JACK name: " + got);
}

TEST(Ports, RegisteredByKindAndDirectionWithTheirMetadata) {
  HostRig rig;
  ASSERT_TRUE(rig.load("urn:bexo:test:io"));
  ASSERT_EQ(rig.open_client("bexo-ports"), 0);
  ASSERT_TRUE(rig.prepare());
  rig.state.ports[io_audio_out].label.clear(); // as for a port without lv2:name
  rig.setup_ports();

  Sink observer(0, 0);
  ASSERT_TRUE(observer.ok());
  struct Case {
    uint32_t index;
    const char* type; // null: no JACK port
    unsigned long flags;
    const char* pretty; // null: none
    bool cv;
  };
  const Case cases[] = {
      {io_audio_in, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, "Audio In", false},
      {io_audio_out, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, nullptr, false},
      {io_cv_in, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, "CV In", true},
      {io_cv_out, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, "CV Out", true},
      {io_events_in, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, "Events In", false},
      {io_events_out, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, "Events Out", false},
      {io_patch_in, nullptr, 0, nullptr, false},
      {io_bpm, nullptr, 0, nullptr, false},
      {io_latency_set, nullptr, 0, nullptr, false},
      {io_latency, nullptr, 0, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rig.state.ports[c.index].symbol);
    jack_port_t* port = jack_port_by_name(observer.client, rig.port_name(c.index).c_str());
    if (!c.type) {
      EXPECT_EQ(port, nullptr);
      EXPECT_EQ(rig.state.ports[c.index].jack_port, nullptr);
      continue;
    }
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(rig.state.ports[c.index].jack_port,
              jack_port_by_name(rig.backend.client, rig.port_name(c.index).c_str()));
    EXPECT_STREQ(jack_port_type(port), c.type);
    EXPECT_EQ(jack_port_flags(port) & (JackPortIsInput | JackPortIsOutput), c.flags);

    const jack_uuid_t uuid = jack_port_uuid(port);
    std::string type;
    EXPECT_EQ(property(uuid, JACK_METADATA_ORDER, &type), std::to_string(c.index));
    EXPECT_EQ(type, "http://www.w3.org/2001/XMLSchema#integer");
    EXPECT_EQ(property(uuid, JACK_METADATA_PRETTY_NAME, &type), c.pretty ? c.pretty : "<none>");
    if (c.pretty) {
      EXPECT_EQ(type, "text/plain");
    }
    EXPECT_EQ(property(uuid, JACK_METADATA_SIGNAL_TYPE, &type), c.cv ? "CV" : "<none>");
    if (c.cv) {
      EXPECT_EQ(type, "text/plain");
    }
    EXPECT_EQ(property_count(uuid), 1 + (c.pretty ? 1 : 0) + (c.cv ? 1 : 0));
  }
  // Control ports are connected to their values, not to JACK.
  EXPECT_EQ(rig.state.control_values[io_bpm], 120.0f);
}

// The controls fixture between the source and the sink: both channels come
// back with the gain applied to every frame, and a new gain from the UI side
// takes effect exactly at a cycle boundary.
TEST(Audio, PassesThroughWithTheGainAppliedSampleExact) {
  Source source(2, 0);
  Sink sink(2, 0);
  HostRig rig;
  ASSERT_TRUE(rig.load("urn:bexo:test:controls"));
  rig.state.control_values[controls_gain] = 0.75f;
  ASSERT_EQ(rig.open_client("bexo-audio"), 0);
  ASSERT_TRUE(rig.prepare());
  rig.setup_ports();
  rig.start();
  ASSERT_TRUE(source.activate() && sink.activate());
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(0), rig.port_name(controls_in_l)));
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(1), rig.port_name(controls_in_r)));
  ASSERT_TRUE(connect_ports(sink.client, rig.port_name(controls_out_l), sink.audio_name(0)));
  ASSERT_TRUE(connect_ports(sink.client, rig.port_name(controls_out_r), sink.audio_name(1)));
  ASSERT_TRUE(wait_for([&] { return source.stream_frames.load() > 4096; }));

  sink.arm();
  ASSERT_TRUE(wait_for([&] { return sink.recorded_frames() >= 4096; }));
  ASSERT_EQ(ring_write_control(rig.state.ui_ring, controls_gain, 1.5f), 0);
  ASSERT_TRUE(wait_for([&] { return sink.recorded_frames() >= 16384; }));
  sink.disarm();

  const std::vector<float> left = sink.recorded_audio(0);
  const std::vector<float> right = sink.recorded_audio(1);
  ASSERT_EQ(left.size(), right.size());
  size_t switched = 0;
  int64_t expected = stream_frame(left[0], 0, 0.75f);
  ASSERT_GE(expected, 0) << "the stream does not arrive at once";
  for (size_t i = 0; i < left.size(); ++i, expected = (expected + 1) & 0xFFFFF) {
    const float before = stream_sample(static_cast<uint64_t>(expected), 0) * 0.75f;
    if (!switched && left[i] != before) {
      switched = i;
    }
    const float gain = switched ? 1.5f : 0.75f;
    ASSERT_EQ(left[i], stream_sample(static_cast<uint64_t>(expected), 0) * gain) << i;
    ASSERT_EQ(right[i], stream_sample(static_cast<uint64_t>(expected), 1) * gain) << i;
  }
  ASSERT_NE(switched, 0u) << "the new gain never arrived";
  EXPECT_EQ(switched % 256, 0u) << "a gain change must fall on a cycle boundary";
}

// A port that JACK refuses (here: its name is taken) must still be backed
// by memory: refused inputs read silence that no output can pollute,
// refused outputs write somewhere harmless, at every buffer size.
TEST(Audio, PortsJackRefusedRunOnSilentStandIns) {
  Source source(2, 0);
  Sink sink(1, 0);
  HostRig rig;
  ASSERT_TRUE(rig.load("urn:bexo:test:controls"));
  rig.state.control_values[controls_gain] = 2.0f;
  rig.state.control_values[controls_echo_in] = 5.0f;
  ASSERT_EQ(rig.open_client("bexo-refused"), 0);
  ASSERT_TRUE(rig.prepare());
  // Names the plugin's ports want, taken before the backend asks for them.
  jack_port_t* taken_in =
      jack_port_register(rig.backend.client, "in_l", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  jack_port_t* taken_out =
      jack_port_register(rig.backend.client, "out_r", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  ASSERT_NE(taken_in, nullptr);
  ASSERT_NE(taken_out, nullptr);
  rig.setup_ports();
  EXPECT_EQ(rig.state.ports[controls_in_l].jack_port, nullptr);
  EXPECT_EQ(rig.state.ports[controls_out_r].jack_port, nullptr);
  ASSERT_NE(rig.state.ports[controls_in_r].jack_port, nullptr);
  EXPECT_TRUE(rig.backend.needs_stand_ins);
  EXPECT_EQ(rig.backend.stand_in_frames, 256u);
  EXPECT_NE(rig.backend.silence, rig.backend.scratch);

  rig.start();
  ASSERT_TRUE(source.activate() && sink.activate());
  // The stream reaches the port that holds the refused input's name and
  // the right input; the plugin must see neither on its left input.
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(0), rig.port_name(controls_in_l)));
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(1), rig.port_name(controls_in_r)));
  ASSERT_TRUE(connect_ports(sink.client, rig.port_name(controls_out_l), sink.audio_name(0)));

  for (const jack_nframes_t size : {256u, 512u, 128u}) {
    SCOPED_TRACE(size);
    ASSERT_EQ(jack_set_buffer_size(source.client, size), 0);
    ASSERT_TRUE(wait_for([&] { return rig.backend.stand_in_frames == size; }));
    rig.state.control_values[controls_echo_out] = 0.0f;
    sink.arm();
    ASSERT_TRUE(wait_for([&] { return sink.recorded_frames() >= 8 * size; }));
    sink.disarm();
    // The plugin ran, and its left output is silent.
    EXPECT_EQ(rig.state.control_values[controls_echo_out], 5.0f);
    for (const float sample : sink.recorded_audio(0)) {
      ASSERT_EQ(sample, 0.0f);
    }
  }
  ASSERT_EQ(jack_set_buffer_size(source.client, 256), 0);
}

} // namespace
