// The backend against a real JACK server: client names, ports and their
// metadata, and audio, each seen from JACK clients of the tests' own.  The
// other files of this program see MIDI, transport, latency, buffer-size
// changes and the paused path.

#include "harness/wait_for.hpp"
#include "host/host_open.hpp"
#include "jack_suite.hpp"

#include <cstdarg>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jack/metadata.h>

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

constexpr const char* io_uri = "urn:bexo:test:io";

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

// The lines, at any level, that tell the client's name.  The open logs
// more (the plugin, the server's numbers, the ring sizes), but the name
// must be told once.
std::vector<std::string> name_lines(const HostRig& rig) {
  std::vector<std::string> found;
  for (const LogLine& line : rig.lines) {
    if (line.text.rfind("JACK name:", 0) == 0) {
      found.push_back(line.text);
    }
  }
  return found;
}

TEST(ClientName, NamesJackCanHoldPassAndLongerOnesAreCut) {
  const auto size = static_cast<size_t>(jack_client_name_size());
  struct Case {
    size_t length;
    size_t passed; // what reaches jack_client_open
  };
  const Case cases[] = {
      {size - 3, size - 3}, {size - 2, size - 2}, {size - 1, size - 2}, {size + 40, size - 2}};
  for (const Case c : cases) {
    SCOPED_TRACE(c.length);
    std::string name(c.length, 'n');
    name.replace(0, 5, "bexo-");
    HostRig rig;
    name_rig(rig, name);
    const int status = rig.open(io_uri);
    EXPECT_EQ(requested_name, name.substr(0, c.passed));
    // JACK 2 reports a size one larger than its longest name plus the
    // terminating zero; every name cut to that length must open unchanged.
    ASSERT_EQ(status, 0);
    const std::string got = jack_get_client_name(rig.backend.client);
    EXPECT_EQ(got, name.substr(0, c.passed));
    EXPECT_EQ(name_lines(rig), std::vector<std::string>{"JACK name: " + got});
    EXPECT_TRUE(rig.logged(LOG_LEVEL_INFO, "JACK name: " + got));
  }
}

TEST(ClientName, TakenNameFailsWithTheExactFlagAndIsVariedWithout) {
  HostRig first;
  name_rig(first, "bexo-taken");
  ASSERT_EQ(first.open(io_uri), 0);
  const HostSettings& settings = first.host.settings;
  EXPECT_EQ(settings.sample_rate, 48000.0f);
  EXPECT_EQ(settings.max_block_length, 256u);
  EXPECT_EQ(settings.min_block_length, 256u);
  EXPECT_EQ(settings.midi_buf_size,
            jack_port_type_get_buffer_size(first.backend.client, JACK_DEFAULT_MIDI_TYPE));
  EXPECT_GT(settings.midi_buf_size, 0u);

  HostRig exact;
  name_rig(exact, "bexo-taken", true);
  EXPECT_EQ(exact.open(io_uri), HOST_OPEN_NO_AUDIO);
  EXPECT_EQ(requested_name, "bexo-taken");
  EXPECT_EQ(exact.backend.client, nullptr);
  EXPECT_EQ(exact.backend.settings, nullptr);
  EXPECT_EQ(exact.host.settings.sample_rate, 0.0f);
  EXPECT_TRUE(name_lines(exact).empty());
  EXPECT_TRUE(exact.logged(LOG_LEVEL_ERROR, "Failed to connect to audio system"));

  HostRig varied;
  name_rig(varied, "bexo-taken", false);
  ASSERT_EQ(varied.open(io_uri), 0);
  const std::string got = jack_get_client_name(varied.backend.client);
  EXPECT_NE(got, "bexo-taken");
  EXPECT_EQ(got.rfind("bexo-taken", 0), 0u) << got;
  EXPECT_EQ(name_lines(varied), std::vector<std::string>{"JACK name: " + got});
}

TEST(Ports, RegisteredByKindAndDirectionWithTheirMetadata) {
  HostRig rig;
  name_rig(rig, "bexo-ports");
  ASSERT_EQ(rig.load(io_uri), 0);
  const std::vector<ProcessPort>& ports = rig.host.process.ports;
  rig.host.process.ports[io_audio_out].label.clear(); // as for a port without lv2:name
  ASSERT_EQ(rig.attach_jack(), 0);

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
    SCOPED_TRACE(ports[c.index].symbol);
    jack_port_t* port = jack_port_by_name(observer.client, rig.port_name(c.index).c_str());
    if (!c.type) {
      EXPECT_EQ(port, nullptr);
      EXPECT_EQ(ports[c.index].jack_port, nullptr);
      continue;
    }
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(ports[c.index].jack_port,
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
}

// The controls fixture between the source and the sink: both channels come
// back with the gain applied to every frame, and a new gain from the UI side
// takes effect exactly at a cycle boundary.
TEST(Audio, PassesThroughWithTheGainAppliedSampleExact) {
  Source source(2, 0);
  Sink sink(2, 0);
  HostRig rig;
  ASSERT_TRUE(open_controls(rig, "bexo-audio", false));
  ProcessState& process = rig.host.process;
  process.control_values[controls_gain] = 0.75f;
  ASSERT_TRUE(start_rig(rig));
  ASSERT_TRUE(source.activate() && sink.activate());
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(0), rig.port_name(controls_in_l)));
  ASSERT_TRUE(connect_ports(source.client, source.audio_name(1), rig.port_name(controls_in_r)));
  ASSERT_TRUE(connect_ports(sink.client, rig.port_name(controls_out_l), sink.audio_name(0)));
  ASSERT_TRUE(connect_ports(sink.client, rig.port_name(controls_out_r), sink.audio_name(1)));
  ASSERT_TRUE(wait_for([&] { return source.stream_frames.load() > 4096; }));

  sink.arm();
  ASSERT_TRUE(wait_for([&] { return sink.recorded_frames() >= 4096; }));
  ASSERT_EQ(ring_write_control(process.ui_ring, controls_gain, 1.5f), ZIX_STATUS_SUCCESS);
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
  ASSERT_TRUE(open_controls(rig, "bexo-refused", true));
  ProcessState& process = rig.host.process;
  process.control_values[controls_gain] = 2.0f;
  process.control_values[controls_echo_in] = 5.0f;
  EXPECT_EQ(process.ports[controls_in_l].jack_port, nullptr);
  EXPECT_EQ(process.ports[controls_out_r].jack_port, nullptr);
  ASSERT_NE(process.ports[controls_in_r].jack_port, nullptr);
  EXPECT_TRUE(rig.backend.needs_stand_ins);
  EXPECT_EQ(rig.backend.stand_in_frames, 256u);
  EXPECT_NE(rig.backend.silence, rig.backend.scratch);

  ASSERT_TRUE(start_rig(rig));
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
    process.control_values[controls_echo_out] = 0.0f;
    sink.arm();
    ASSERT_TRUE(wait_for([&] { return sink.recorded_frames() >= 8 * size; }));
    sink.disarm();
    // The plugin ran, and its left output is silent.
    EXPECT_EQ(process.control_values[controls_echo_out], 5.0f);
    for (const float sample : sink.recorded_audio(0)) {
      ASSERT_EQ(sample, 0.0f);
    }
  }
  ASSERT_EQ(jack_set_buffer_size(source.client, 256), 0);
}

} // namespace
