// The backend against a real JACK server: client names, ports and their
// metadata, audio, MIDI, transport, latency, buffer-size changes and the
// paused path, each seen from JACK clients of the tests' own.

#include "engine/event_buffer.hpp"
#include "world.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
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
      {size - 3, size - 3}, {size - 2, size - 2}, {size - 1, size - 2}, {size + 40, size - 2}};
  for (const Case c : cases) {
    SCOPED_TRACE(c.length);
    std::string name(c.length, 'n');
    name.replace(0, 5, "bexo-");
    HostRig rig;
    const int status = rig.open_client(name);
    EXPECT_EQ(requested_name, name.substr(0, c.passed));
    // JACK 2 reports a size one larger than its longest name plus the
    // terminating zero; every name cut to that length must open unchanged.
    ASSERT_EQ(status, 0);
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

// Connects a source and a sink to the io fixture: stream to audio and CV,
// MIDI to the event input, and every output back to the sink.
struct IoWorld {
  Source source{2, 1};
  Sink sink{2, 1};
  HostRig rig;

  bool open(const char* name) {
    if (!source.ok() || !sink.ok() || !rig.open_and_start("urn:bexo:test:io", name) ||
        !source.activate() || !sink.activate()) {
      return false;
    }
    return connect_ports(source.client, source.audio_name(0), rig.port_name(io_audio_in)) &&
           connect_ports(source.client, source.audio_name(1), rig.port_name(io_cv_in)) &&
           connect_ports(source.client, source.midi_name(0), rig.port_name(io_events_in)) &&
           connect_ports(sink.client, rig.port_name(io_audio_out), sink.audio_name(0)) &&
           connect_ports(sink.client, rig.port_name(io_cv_out), sink.audio_name(1)) &&
           connect_ports(sink.client, rig.port_name(io_events_out), sink.midi_name(0));
  }

  bool wait_cycles(uint64_t n) {
    const uint64_t until = sink.cycles.load() + n;
    return wait_for([&] { return sink.cycles.load() >= until; });
  }
};

std::vector<RingMessage> midi_messages(const std::vector<RingMessage>& messages,
                                       const Urids& urids) {
  std::vector<RingMessage> found;
  for (const RingMessage& m : messages) {
    if (m.type == EVENT_TRANSFER && m.port_index() == io_events_out &&
        m.atom_type() == urids.midi_MidiEvent) {
      found.push_back(m);
    }
  }
  return found;
}

TEST(Midi, ComesBackWithTheSameBytesAndTimesAndReachesTheUiSide) {
  IoWorld w;
  ASSERT_TRUE(w.open("bexo-midi"));
  ASSERT_TRUE(w.wait_cycles(4));
  w.rig.drain();
  w.sink.arm();

  const std::vector<std::vector<uint8_t>> first = {{0x90, 60, 100}, {0xC0, 5}, {0xF8}};
  const uint32_t offsets[] = {0, 17, 255};
  for (size_t i = 0; i < first.size(); ++i) {
    ASSERT_TRUE(w.source.queue_midi(0, offsets[i], first[i]));
  }
  ASSERT_TRUE(wait_for([&] { return w.source.sent_midi().size() == 3; }));
  ASSERT_TRUE(w.source.queue_midi(0, 100, {0x80, 60, 0}));
  ASSERT_TRUE(wait_for([&] { return w.sink.recorded_midi().size() >= 4; }));
  ASSERT_TRUE(w.wait_cycles(4));
  w.sink.disarm();

  const std::vector<MidiRecord> sent = w.source.sent_midi();
  const std::vector<MidiRecord> received = w.sink.recorded_midi();
  ASSERT_EQ(sent.size(), 4u);
  ASSERT_EQ(received.size(), sent.size());
  EXPECT_GT(sent[3].time, sent[0].time);
  for (size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(received[i].time, sent[i].time);
    ASSERT_EQ(received[i].size, sent[i].size);
    EXPECT_EQ(std::memcmp(received[i].bytes, sent[i].bytes, sent[i].size), 0);
  }

  const std::vector<RingMessage> ui = midi_messages(w.rig.drain(), w.rig.urids);
  ASSERT_EQ(ui.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    ASSERT_EQ(ui[i].atom_size(), sent[i].size);
    EXPECT_EQ(std::memcmp(ui[i].atom_body(), sent[i].bytes, sent[i].size), 0);
  }
}

// A cycle with more MIDI than the plugin's event buffer holds: what does
// not fit is dropped, and a later event that is small enough still goes in.
TEST(Midi, EventsThatDoNotFitAreSkippedAndSmallerOnesStillGoIn) {
  IoWorld w;
  ASSERT_TRUE(w.open("bexo-midi-full"));
  jack_transport_stop(w.source.client);
  ASSERT_TRUE(w.wait_cycles(4));
  const uint32_t capacity = event_buffer_capacity(w.rig.state.ports[io_events_in].event_buffer);

  // Each 3-byte event takes 24 bytes of the sequence.  Fill all but the
  // room for one more, then send one that is too large for that room, one
  // that fits it, and one for which nothing is left.
  const uint32_t notes = (capacity - 35) / 24;
  std::vector<std::vector<uint8_t>> burst;
  for (uint32_t i = 0; i < notes; ++i) {
    burst.push_back({0x90, static_cast<uint8_t>(i % 128), static_cast<uint8_t>(i / 128 % 128)});
  }
  std::vector<uint8_t> sysex(32, 0x11);
  sysex.front() = 0xF0;
  sysex.back() = 0xF7;
  burst.push_back(sysex);
  burst.push_back({0xB0, 1, 2});
  burst.push_back({0xB0, 3, 4});
  w.source.burst = burst;
  w.sink.arm();
  w.source.burst_ready.store(true);
  ASSERT_TRUE(wait_for([&] { return !w.source.burst_ready.load(); }));
  ASSERT_TRUE(w.wait_cycles(4));
  w.sink.disarm();

  const std::vector<MidiRecord> received = w.sink.recorded_midi();
  ASSERT_EQ(received.size(), notes + 1);
  for (uint32_t i = 0; i < notes; ++i) {
    ASSERT_EQ(received[i].size, 3u);
    ASSERT_EQ(std::memcmp(received[i].bytes, burst[i].data(), 3), 0) << i;
  }
  EXPECT_EQ(received[notes].size, 3u);
  EXPECT_EQ(std::memcmp(received[notes].bytes, burst[notes + 1].data(), 3), 0);
  EXPECT_EQ(midi_messages(w.rig.drain(), w.rig.urids).size(), notes + 1);
}

struct Position {
  uint64_t frame;
  float speed;
  bool bbt;
  float bar_beat;
  int64_t bar;
  int32_t beat_unit;
  float beats_per_bar;
  float bpm;
};

// Reads a position object echoed by the plugin; false when the message is
// not one or its properties are not the expected ones in their order.
bool decode_position(const RingMessage& m, const Urids& u, Position* p) {
  if (m.type != EVENT_TRANSFER || m.port_index() != io_events_out ||
      m.atom_type() != u.atom_Object) {
    return false;
  }
  const uint32_t size = m.atom_size();
  std::vector<uint64_t> aligned((size + 8 + 7) / 8);
  auto* object = reinterpret_cast<LV2_Atom_Object*>(aligned.data());
  object->atom = {size, u.atom_Object};
  std::memcpy(&object->body, m.atom_body(), size);
  if (object->body.otype != u.time_Position || object->body.id != 0) {
    return false;
  }
  const LV2_URID keys[] = {u.time_frame,    u.time_speed,       u.time_barBeat,       u.time_bar,
                           u.time_beatUnit, u.time_beatsPerBar, u.time_beatsPerMinute};
  const LV2_URID types[] = {0,          u.atom_Float, u.atom_Float, 0,
                            u.atom_Int, u.atom_Float, u.atom_Float};
  *p = {};
  size_t k = 0;
  LV2_ATOM_OBJECT_FOREACH(object, prop) {
    if (k >= 7 || prop->key != keys[k] || prop->context != 0 ||
        (types[k] && prop->value.type != types[k])) {
      return false;
    }
    const void* body = LV2_ATOM_BODY_CONST(&prop->value);
    switch (k) {
    case 0:
      p->frame = *static_cast<const uint64_t*>(body);
      break;
    case 1:
      p->speed = *static_cast<const float*>(body);
      break;
    case 2:
      p->bar_beat = *static_cast<const float*>(body);
      break;
    case 3:
      p->bar = *static_cast<const int64_t*>(body);
      break;
    case 4:
      p->beat_unit = *static_cast<const int32_t*>(body);
      break;
    case 5:
      p->beats_per_bar = *static_cast<const float*>(body);
      break;
    default:
      p->bpm = *static_cast<const float*>(body);
    }
    ++k;
  }
  p->bbt = k == 7;
  return (k == 2 && size == 56) || (k == 7 && size == 176);
}

// Roll, stop, locate and tempo changes, with and without BBT.  The sink
// records the transport of every cycle; the plugin must have received a
// position in exactly the cycles whose transport differs from what the
// last cycle left behind, and no other.
TEST(Transport, PositionsArriveExactlyWhenTheTransportChanged) {
  IoWorld w;
  ASSERT_TRUE(w.open("bexo-transport"));
  jack_client_t* control = w.source.client;
  jack_transport_stop(control);
  jack_transport_locate(control, 0);
  ASSERT_TRUE(w.wait_cycles(10));
  w.rig.drain();
  struct Stored {
    uint32_t position;
    bool rolling;
    float bpm;
  } stored{w.rig.state.position, w.rig.state.rolling, w.rig.state.bpm};
  w.sink.arm();

  const auto settle = [&] { ASSERT_TRUE(w.wait_cycles(8)); };
  jack_transport_locate(control, 1000);
  settle();
  settle(); // stopped and unchanged: nothing more
  jack_transport_start(control);
  settle();
  settle(); // rolling steadily: nothing more
  jack_transport_locate(control, 50000);
  settle();
  jack_transport_stop(control);
  settle();
  w.source.bpm.store(140.0);
  ASSERT_TRUE(w.source.become_master());
  jack_transport_locate(control, 96000);
  settle();
  w.source.bpm.store(90.0); // a new tempo at the same frame
  jack_transport_locate(control, 96000);
  settle();
  jack_transport_start(control);
  settle();
  settle();
  w.source.bbt.store(false);
  jack_transport_locate(control, 200000);
  settle();
  jack_transport_stop(control);
  settle();
  w.sink.disarm();
  jack_release_timebase(control);
  const std::vector<RingMessage> messages = w.rig.drain();

  // What the plugin must have received, cycle by cycle.
  std::vector<Position> expected;
  int with_bbt = 0;
  for (const TransportRecord& r : w.sink.recorded_transport()) {
    const bool rolling = r.state == JackTransportRolling;
    const bool bbt = (r.pos.valid & JackPositionBBT) != 0;
    const bool changed = rolling != stored.rolling || r.pos.frame != stored.position ||
                         (bbt && r.pos.beats_per_minute != static_cast<double>(stored.bpm));
    stored.position = rolling ? r.pos.frame + r.nframes : r.pos.frame;
    stored.rolling = rolling;
    if (bbt) {
      stored.bpm = static_cast<float>(r.pos.beats_per_minute);
    }
    if (changed) {
      Position p{r.pos.frame, rolling ? 1.0f : 0.0f, bbt, 0, 0, 0, 0, 0};
      if (bbt) {
        ++with_bbt;
        p.bar_beat = static_cast<float>((r.pos.beat - 1) + r.pos.tick / r.pos.ticks_per_beat);
        p.bar = r.pos.bar - 1;
        p.beat_unit = static_cast<int32_t>(r.pos.beat_type);
        p.beats_per_bar = r.pos.beats_per_bar;
        p.bpm = static_cast<float>(r.pos.beats_per_minute);
      }
      expected.push_back(p);
    }
  }

  std::vector<Position> received;
  std::vector<float> tempo_messages;
  for (const RingMessage& m : messages) {
    Position p{};
    if (decode_position(m, w.rig.urids, &p)) {
      received.push_back(p);
    } else if (m.type == CONTROL_CHANGE && m.port_index() == io_bpm) {
      tempo_messages.push_back(m.value());
    } else {
      ADD_FAILURE() << "unexpected message of type " << m.type;
    }
  }

  ASSERT_EQ(received.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(received[i].frame, expected[i].frame);
    EXPECT_EQ(received[i].speed, expected[i].speed);
    ASSERT_EQ(received[i].bbt, expected[i].bbt);
    EXPECT_EQ(received[i].bar_beat, expected[i].bar_beat);
    EXPECT_EQ(received[i].bar, expected[i].bar);
    EXPECT_EQ(received[i].beat_unit, expected[i].beat_unit);
    EXPECT_EQ(received[i].beats_per_bar, expected[i].beats_per_bar);
    EXPECT_EQ(received[i].bpm, expected[i].bpm);
  }

  // The script must have shown every case: positions with and without BBT,
  // rolling and stopped, and both tempos on the tempo input.
  EXPECT_GE(expected.size(), 6u);
  EXPECT_GE(with_bbt, 3);
  EXPECT_LT(static_cast<size_t>(with_bbt), expected.size());
  ASSERT_EQ(tempo_messages.size(), static_cast<size_t>(with_bbt));
  EXPECT_NE(std::find(tempo_messages.begin(), tempo_messages.end(), 140.0f), tempo_messages.end());
  EXPECT_EQ(tempo_messages.back(), 90.0f);
  // Without BBT the tempo stays what it last was.
  EXPECT_EQ(w.rig.state.control_values[io_bpm], 90.0f);
  EXPECT_EQ(w.rig.state.bpm, 90.0f);
}

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
    ASSERT_EQ(ring_write_control(w.rig.state.ui_ring, io_latency_set, c.set), 0);
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
    EXPECT_EQ(w.rig.state.plugin_latency.load(), c.reported);

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
  ASSERT_TRUE(rig.load("urn:bexo:test:io"));
  ASSERT_EQ(rig.open_client("bexo-latency-alone"), 0);
  ASSERT_TRUE(rig.prepare());
  // Inputs of unknown direction get no JACK port (and a null buffer, so
  // the plugin stays paused and never runs).
  rig.state.ports[io_audio_in].flow = FLOW_UNKNOWN;
  rig.state.ports[io_cv_in].flow = FLOW_UNKNOWN;
  rig.state.ports[io_events_in].supports_midi = false;
  rig.setup_ports();
  rig.state.plugin_latency.store(48);
  audio_start(&rig.backend);
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
    return event_buffer_capacity(w.rig.state.ports[index].event_buffer);
  };

  // Running: the settings follow, the process state is prepared again
  // (JACK 2 keeps its MIDI buffer size, so the update pacing, recomputed
  // from the settings, shows it), and the stream never breaks.
  w.rig.settings.ui_rate_hz = 50.0f;
  ASSERT_EQ(jack_set_buffer_size(w.source.client, 512), 0);
  ASSERT_TRUE(wait_for([&] { return w.rig.settings.max_block_length == 512; }));
  EXPECT_EQ(w.rig.settings.min_block_length, 512u);
  const size_t midi_512 = jack_port_type_get_buffer_size(w.source.client, JACK_DEFAULT_MIDI_TYPE);
  EXPECT_EQ(w.rig.settings.midi_buf_size, midi_512);
  EXPECT_EQ(capacity(io_events_in), midi_512);
  EXPECT_EQ(capacity(io_events_out), midi_512);
  EXPECT_EQ(w.rig.state.update_frames, 960u);
  const uint64_t before = w.sink.checked_frames(0);
  ASSERT_TRUE(wait_for([&] { return w.sink.checked_frames(0) > before + 8192; }));
  EXPECT_EQ(w.sink.bad_frames(0), 0u);
  EXPECT_LE(w.sink.breaks(0), w.sink.xruns.load());

  // Paused: the settings follow, the event buffers stay as they were.
  ASSERT_TRUE(w.rig.pause());
  EventBuffer* const paused_events = w.rig.state.ports[io_events_in].event_buffer;
  const uint32_t paused_capacity = capacity(io_events_in);
  w.rig.settings.ui_rate_hz = 10.0f;
  ASSERT_EQ(jack_set_buffer_size(w.source.client, 1024), 0);
  ASSERT_TRUE(wait_for([&] { return w.rig.settings.max_block_length == 1024; }));
  EXPECT_EQ(w.rig.settings.midi_buf_size,
            jack_port_type_get_buffer_size(w.source.client, JACK_DEFAULT_MIDI_TYPE));
  EXPECT_EQ(w.rig.state.ports[io_events_in].event_buffer, paused_events);
  EXPECT_EQ(capacity(io_events_in), paused_capacity);
  EXPECT_EQ(w.rig.state.update_frames, 960u);

  // Resumed at the new size, the stream flows again in whole.
  w.rig.send_run_state(RUNNING);
  ASSERT_TRUE(wait_for([&] { return w.rig.state.run_state.load() == RUNNING; }));
  ASSERT_TRUE(w.wait_cycles(2));
  w.sink.check_stream(0, 0, 1.0f);
  ASSERT_TRUE(wait_for([&] { return w.sink.checked_frames(0) > 8192; }));
  EXPECT_EQ(w.sink.bad_frames(0), 0u);
  EXPECT_LE(w.sink.breaks(0), w.sink.xruns.load());

  ASSERT_EQ(jack_set_buffer_size(w.source.client, 256), 0);
  ASSERT_TRUE(wait_for([&] { return w.rig.settings.max_block_length == 256; }));
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
  EXPECT_EQ(w.rig.state.run_state.load(), PAUSED);

  w.rig.send_run_state(RUNNING);
  ASSERT_TRUE(wait_for([&] { return w.rig.state.run_state.load() == RUNNING; }));
  ASSERT_TRUE(w.wait_cycles(1));
  w.sink.arm();
  ASSERT_TRUE(w.wait_cycles(4));
  w.sink.disarm();
  EXPECT_FALSE(w.sink.recorded_midi().empty());
  const std::vector<float> audio = w.sink.recorded_audio(0);
  EXPECT_GE(stream_frame(audio.back(), 0, 1.0f), 0);
}

} // namespace
