// MIDI both ways and the transport, through the backend on a real JACK
// server: the io fixture echoes every event it gets, so what JACK clients
// of the tests' own send comes back to them and to the UI side.

#include "engine/event_buffer.hpp"
#include "harness/wait_for.hpp"
#include "jack_suite.hpp"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <lv2/atom/util.h>

namespace {

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

  const std::vector<RingMessage> ui = midi_messages(w.rig.drain(), w.rig.host.urids);
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
  const uint32_t capacity =
      event_buffer_capacity(w.rig.host.process.ports[io_events_in].event_buffer);

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
  EXPECT_EQ(midi_messages(w.rig.drain(), w.rig.host.urids).size(), notes + 1);
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
  // The properties in their order: key, value type (0: any) and field.
  struct Field {
    LV2_URID key;
    LV2_URID type;
    void* value;
    size_t size;
  };
  *p = {};
  const Field fields[] = {
      {u.time_frame, 0, &p->frame, sizeof(p->frame)},
      {u.time_speed, u.atom_Float, &p->speed, sizeof(p->speed)},
      {u.time_barBeat, u.atom_Float, &p->bar_beat, sizeof(p->bar_beat)},
      {u.time_bar, 0, &p->bar, sizeof(p->bar)},
      {u.time_beatUnit, u.atom_Int, &p->beat_unit, sizeof(p->beat_unit)},
      {u.time_beatsPerBar, u.atom_Float, &p->beats_per_bar, sizeof(p->beats_per_bar)},
      {u.time_beatsPerMinute, u.atom_Float, &p->bpm, sizeof(p->bpm)},
  };
  size_t k = 0;
  LV2_ATOM_OBJECT_FOREACH(object, prop) {
    if (k >= 7 || prop->key != fields[k].key || prop->context != 0 ||
        (fields[k].type && prop->value.type != fields[k].type)) {
      return false;
    }
    std::memcpy(fields[k].value, LV2_ATOM_BODY_CONST(&prop->value), fields[k].size);
    ++k;
  }
  p->bbt = k == 7;
  return (k == 2 && size == 56) || (k == 7 && size == 176);
}

// What the last cycle left behind in the process state.
struct Stored {
  uint32_t position;
  bool rolling;
  float bpm;
};

// Roll, stop, locate and tempo changes, with and without BBT, each held
// for some cycles.
void play_transport_script(IoWorld& w) {
  jack_client_t* control = w.source.client;
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
}

// What the plugin must have received, cycle by cycle, from the transport
// the sink recorded: a position wherever the transport differs from what
// the last cycle left behind.  Counts those with BBT in `with_bbt`.
std::vector<Position> expected_positions(const std::vector<TransportRecord>& records, Stored stored,
                                         int* with_bbt) {
  std::vector<Position> expected;
  for (const TransportRecord& r : records) {
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
        ++*with_bbt;
        p.bar_beat = static_cast<float>((r.pos.beat - 1) + r.pos.tick / r.pos.ticks_per_beat);
        p.bar = r.pos.bar - 1;
        p.beat_unit = static_cast<int32_t>(r.pos.beat_type);
        p.beats_per_bar = r.pos.beats_per_bar;
        p.bpm = static_cast<float>(r.pos.beats_per_minute);
      }
      expected.push_back(p);
    }
  }
  return expected;
}

void expect_positions(const std::vector<Position>& received,
                      const std::vector<Position>& expected) {
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
}

// The sink records the transport of every cycle; the plugin must have
// received a position in exactly the cycles whose transport changed, and
// no other, and the tempo input every tempo that came with BBT.
TEST(Transport, PositionsArriveExactlyWhenTheTransportChanged) {
  IoWorld w;
  ASSERT_TRUE(w.open("bexo-transport"));
  jack_transport_stop(w.source.client);
  jack_transport_locate(w.source.client, 0);
  ASSERT_TRUE(w.wait_cycles(10));
  w.rig.drain();
  const ProcessState& process = w.rig.host.process;
  const Stored stored{process.position, process.rolling, process.bpm};
  w.sink.arm();
  ASSERT_NO_FATAL_FAILURE(play_transport_script(w));
  w.sink.disarm();
  jack_release_timebase(w.source.client);
  const std::vector<RingMessage> messages = w.rig.drain();

  int with_bbt = 0;
  const std::vector<Position> expected =
      expected_positions(w.sink.recorded_transport(), stored, &with_bbt);
  std::vector<Position> received;
  std::vector<float> tempo_messages;
  for (const RingMessage& m : messages) {
    Position p{};
    if (decode_position(m, w.rig.host.urids, &p)) {
      received.push_back(p);
    } else if (m.type == CONTROL_CHANGE && m.port_index() == io_bpm) {
      tempo_messages.push_back(m.value());
    } else {
      ADD_FAILURE() << "unexpected message of type " << m.type;
    }
  }
  expect_positions(received, expected);

  // The script must have shown every case: positions with and without BBT,
  // rolling and stopped, and both tempos on the tempo input.
  EXPECT_GE(expected.size(), 6u);
  EXPECT_GE(with_bbt, 3);
  EXPECT_LT(static_cast<size_t>(with_bbt), expected.size());
  ASSERT_EQ(tempo_messages.size(), static_cast<size_t>(with_bbt));
  EXPECT_NE(std::find(tempo_messages.begin(), tempo_messages.end(), 140.0f), tempo_messages.end());
  EXPECT_EQ(tempo_messages.back(), 90.0f);
  // Without BBT the tempo stays what it last was.
  EXPECT_EQ(process.control_values[io_bpm], 90.0f);
  EXPECT_EQ(process.bpm, 90.0f);
}

} // namespace
