// A plugin UI that writes what no honest UI would, through the host's port
// write function exactly as suil calls it on the main thread, while the
// plugin runs on the private server: each bad write is refused with its
// message or delivered harmlessly, the other controls keep their values,
// and the rings stay in step, so that what is written afterwards arrives
// and the plugin ends at the value written last.

#include "faults_rig.hpp"
#include "harness/played_gain.hpp"
#include "jack_suite.hpp"
#include "state/control.hpp"
#include "state/state.hpp"
#include "ui/ui_update.hpp"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <lv2/atom/forge.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <memory>
#include <numeric>
#include <regex>
#include <thread>
#include <vector>

namespace {

constexpr char client[] = "bexo-faults-ui";
constexpr uint32_t controls_num_ports = 18;

// A buffer of exactly `size` bytes on the heap, so that a read past what
// the UI handed over is a read past an allocation (which ASan reports).
struct Buffer {
  explicit Buffer(size_t n) : size(static_cast<uint32_t>(n)), bytes(new uint8_t[n ? n : 1]()) {}
  uint32_t size;
  std::unique_ptr<uint8_t[]> bytes;
  LV2_Atom* atom() { return reinterpret_cast<LV2_Atom*>(bytes.get()); }
};

Buffer float_buffer(float value) {
  Buffer b(sizeof(float));
  std::memcpy(b.bytes.get(), &value, sizeof(value));
  return b;
}

// An atom of `type` with `body_size` body bytes, all of it the UI's.
Buffer atom_buffer(uint32_t type, uint32_t body_size, uint32_t claimed_size) {
  Buffer b(sizeof(LV2_Atom) + body_size);
  b.atom()->size = claimed_size;
  b.atom()->type = type;
  return b;
}

Buffer midi_note(HostRig& rig, uint8_t key) {
  Buffer b = atom_buffer(rig.host.urids.midi_MidiEvent, 3, 3);
  const uint8_t note[3] = {0x90, key, 0x40};
  std::memcpy(b.bytes.get() + sizeof(LV2_Atom), note, sizeof(note));
  return b;
}

void write(HostRig& rig, uint32_t port, Buffer& b, uint32_t protocol) {
  plugin_ui_write(&rig.host, port, b.size, protocol, b.bytes.get());
}

void write_float(HostRig& rig, uint32_t port, float value) {
  Buffer b = float_buffer(value);
  write(rig, port, b, 0);
}

struct HostileCase {
  const char* what;
  uint32_t port;
  std::function<Buffer(HostRig&)> buffer;
  uint32_t (*protocol)(HostRig&);
  const char* error; ///< The error it is refused with; null when delivered.
};

uint32_t floats(HostRig&) {
  return 0;
}
uint32_t events(HostRig& rig) {
  return rig.host.urids.atom_eventTransfer;
}
uint32_t unknown(HostRig& rig) {
  return rig.map("urn:bexo:test:faults#no-such-protocol");
}

std::vector<HostileCase> hostile_cases() {
  return {
      {"a float to an output port", controls_echo_out, [](HostRig&) { return float_buffer(99.0f); },
       floats, nullptr},
      {"a float past the last port", controls_num_ports,
       [](HostRig&) { return float_buffer(0.0f); }, floats, "UI wrote to invalid port index 18"},
      {"a float to port UINT32_MAX", UINT32_MAX, [](HostRig&) { return float_buffer(0.0f); },
       floats, "UI wrote to invalid port index 4294967295"},
      {"a float of eight bytes", controls_gain, [](HostRig&) { return Buffer(8); }, floats,
       "Failed to write to plugin from UI"},
      {"a float of no bytes", controls_gain, [](HostRig&) { return Buffer(0); }, floats,
       "Failed to write to plugin from UI"},
      {"an unknown protocol", controls_gain, [](HostRig&) { return float_buffer(0.0f); }, unknown,
       "UI wrote with unsupported protocol"},
      {"an event shorter than an atom header", controls_gain, [](HostRig&) { return Buffer(6); },
       events, "Failed to write to plugin from UI"},
      {"an atom that claims more than it has", controls_gain,
       [](HostRig& r) { return atom_buffer(r.host.urids.midi_MidiEvent, 4, 1000); }, events,
       "Failed to write to plugin from UI"},
      {"an atom that claims less than it has", controls_gain,
       [](HostRig& r) { return atom_buffer(r.host.urids.midi_MidiEvent, 16, 3); }, events,
       "Failed to write to plugin from UI"},
      {"an atom that claims UINT32_MAX", controls_gain,
       [](HostRig& r) { return atom_buffer(r.host.urids.midi_MidiEvent, 8, UINT32_MAX); }, events,
       "Failed to write to plugin from UI"},
      // Too short for the object body every reader of an object reads.
      {"an object with no body", controls_gain,
       [](HostRig& r) { return atom_buffer(r.host.urids.atom_Object, 0, 0); }, events,
       "Failed to write to plugin from UI"},
      {"an event to a control port", controls_gain, [](HostRig& r) { return midi_note(r, 60); },
       events, nullptr},
      // No wait would ever make room for it.
      {"an event larger than the whole ring", controls_gain,
       [](HostRig& r) {
         const uint32_t size = r.host.settings.ring_size + 64;
         return atom_buffer(r.host.urids.midi_MidiEvent, size, size);
       },
       events, "is larger than the ring to the plugin"},
  };
}

TEST(HostileUi, BadWritesAreRefusedOrHarmlessAndTheRingsStayInStep) {
  HostRig rig;
  ASSERT_TRUE(open_running(rig, controls_uri, client));
  ASSERT_EQ(rig.host.num_ports, controls_num_ports);
  write_float(rig, controls_echo_in, 5.0f);
  ASSERT_TRUE(rig.update_until([&] { return control_value(rig, "echo_out") == 5.0; }));

  for (const HostileCase& c : hostile_cases()) {
    SCOPED_TRACE(c.what);
    const size_t errors_before = rig.logged(LOG_LEVEL_ERROR).size();
    Buffer b = c.buffer(rig);
    write(rig, c.port, b, c.protocol(rig));
    const std::vector<std::string> errors = rig.logged(LOG_LEVEL_ERROR);
    if (c.error) {
      // Each case goes on to the next, so that one fault hides no other.
      const bool told =
          errors.size() == errors_before + 1 && errors.back().find(c.error) != std::string::npos;
      EXPECT_TRUE(told) << "expected \"" << c.error << "\", the log has "
                        << (errors.size() > errors_before ? errors.back() : "nothing new");
    } else {
      EXPECT_EQ(errors.size(), errors_before) << (errors.empty() ? "" : errors.back());
    }
    run_updates(rig, 30ms);
  }

  // Nothing corrupted: the plugin still echoes what it was given and plays
  // at its gain, and what is written now arrives.
  run_updates(rig, 100ms);
  EXPECT_EQ(control_value(rig, "echo_out"), 5.0);
  EXPECT_EQ(control_value(rig, "gain"), 1.0);
  expect_plays_times(client, 1.0f);
  write_float(rig, controls_echo_in, -7.0f);
  write_float(rig, controls_gain, 0.5f);
  EXPECT_TRUE(rig.update_until([&] { return control_value(rig, "echo_out") == -7.0; }));
  expect_plays_times(client, 0.5f);
}

TEST(HostileUi, APatchSetWhoseValueClaimsMoreThanTheMessageHoldsIsRefused) {
  HostRig rig;
  ASSERT_TRUE(open_running(rig, "urn:bexo:test:params", client));
  Control* string = rig.property("urn:bexo:test:params#string");
  ASSERT_NE(string, nullptr);
  const std::string before(static_cast<const char*>(control_value_body(&string->value)),
                           string->value.size);

  // A well-formed patch:Set of the string, whose value atom then claims
  // 200 bytes where the message holds 6.
  alignas(8) uint8_t forged[256];
  LV2_Atom_Forge forge = rig.host.forge;
  lv2_atom_forge_set_buffer(&forge, forged, sizeof(forged));
  LV2_Atom_Forge_Frame frame;
  auto* set = reinterpret_cast<LV2_Atom*>(
      lv2_atom_forge_object(&forge, &frame, 0, rig.host.urids.patch_Set));
  lv2_atom_forge_key(&forge, rig.host.urids.patch_property);
  lv2_atom_forge_urid(&forge, rig.map("urn:bexo:test:params#string"));
  lv2_atom_forge_key(&forge, rig.host.urids.patch_value);
  auto* value = reinterpret_cast<LV2_Atom*>(lv2_atom_forge_string(&forge, "liar!", 5));
  lv2_atom_forge_pop(&forge, &frame);
  value->size = 200;
  Buffer b(sizeof(LV2_Atom) + set->size);
  std::memcpy(b.bytes.get(), set, b.size);
  write(rig, rig.host.process.control_input_index, b, events(rig));

  const std::string after(static_cast<const char*>(control_value_body(&string->value)),
                          string->value.size);
  EXPECT_EQ(after, before) << "the property took what lay past the message";
  EXPECT_TRUE(rig.logged(LOG_LEVEL_ERROR, "Failed to write to plugin from UI"))
      << "the malformed message was not refused";
  run_updates(rig, 100ms);
}

// Counts the events the "Lost N events" warnings told of.
uint64_t events_told_lost(const HostRig& rig) {
  const std::regex lost(R"(Lost (\d+) events? from the UI to the plugin: no room in the ring)");
  uint64_t n = 0;
  for (const std::string& line : rig.logged(LOG_LEVEL_WARNING)) {
    std::smatch m;
    if (std::regex_search(line, m, lost)) {
      n += std::stoull(m[1]);
    }
  }
  return n;
}

// 100,000 writes within a second, in bursts between periodic updates as a
// UI flooding its host from the main loop makes them; each burst must be
// more than the ring holds, or nothing is ever refused or kept waiting.
template <typename Write>
void flood(HostRig& rig, int bursts, Write write_one) {
  constexpr int total = 100000;
  for (int burst = 0; burst < bursts; ++burst) {
    for (int i = 0; i < total / bursts; ++i) {
      write_one(burst * (total / bursts) + i);
    }
    rig.update();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000 / bursts / 2));
  }
}

TEST(HostileUi, AHundredThousandControlWritesInASecondEndAtTheLastValue) {
  HostRig rig;
  name_rig(rig, client);
  rig.host.options.ring_size = 4096; // as small as the ports allow
  ASSERT_EQ(rig.open(controls_uri), 0);
  ASSERT_TRUE(start_rig(rig));
  const uint64_t sent = rig.host.ui_writes.sent;
  const uint64_t coalesced = rig.host.ui_writes.coalesced;
  const uint64_t refused = rig.host.ui_writes.refused;
  write_float(rig, controls_echo_in, 3.0f);
  // In a slow build the audio thread may drain every burst as fast as it
  // comes, and the ring holds more than a burst when the server's MIDI
  // buffers are large; so writes first meet a frozen server until the
  // ring has certainly filled and a thousand more waited.
  uint64_t frozen_writes = 0;
  {
    ServerFreeze freeze(jack_server_pid());
    ASSERT_TRUE(freeze.frozen());
    for (int after_full = 0; frozen_writes < 1000000 && after_full < 1000; ++frozen_writes) {
      write_float(rig, controls_gain, frozen_writes % 2 ? 2.0f : 0.5f);
      after_full += rig.host.ui_writes.coalesced > coalesced;
    }
    ASSERT_GT(rig.host.ui_writes.coalesced, coalesced) << "the ring never filled";
  }
  flood(rig, 100, [&](int i) {
    write_float(rig, controls_gain, i == 99999 ? 0.25f : (i % 2 ? 2.0f : 0.5f));
  });
  const UiWrites& after = rig.host.ui_writes;
  // Each write went into the ring or waited there; waiting ones went later.
  EXPECT_GE((after.sent - sent) + (after.coalesced - coalesced), 100001u + frozen_writes);
  EXPECT_EQ(after.refused, refused);
  EXPECT_EQ(rig.logged(LOG_LEVEL_ERROR), std::vector<std::string>{});
  run_updates(rig, 100ms);
  expect_plays_times(client, 0.25f);
  EXPECT_EQ(control_value(rig, "echo_out"), 3.0) << "another control lost its value";
}

// A restore of a plugin that may be restored while it runs sends its port
// values through ui_ring like the UI's: with the ring full of the UI's
// changes they wait too, and the restored values, set last, win.
TEST(HostileUi, ARestoreWhileTheRingIsFullEndsAtTheRestoredValues) {
  constexpr char params[] = "urn:bexo:test:params-tsr";
  HostRig rig;
  ASSERT_TRUE(open_running(rig, params, client));
  ASSERT_TRUE(rig.host.thread_safe_restore);
  ASSERT_TRUE(rig.control("gain") && rig.control("mix"));
  const uint32_t params_gain = rig.control("gain")->index;
  const uint32_t params_mix = rig.control("mix")->index;
  const uint64_t coalesced = rig.host.ui_writes.coalesced;
  // With the server frozen nothing empties the ring, which the UI's changes
  // then fill; the restore comes on top.
  ServerFreeze freeze(jack_server_pid());
  ASSERT_TRUE(freeze.frozen());
  for (int i = 0, after_full = 0; i < 1000000 && after_full < 1000; ++i) {
    write_float(rig, i % 2 ? params_gain : params_mix, i % 4 < 2 ? 0.1f : 0.9f);
    after_full += rig.host.ui_writes.coalesced > coalesced;
  }
  ASSERT_GT(rig.host.ui_writes.coalesced, coalesced) << "the ring never filled: nothing was tested";
  // The plugin's own state too, which it tells the UI side of when asked
  // after the restore: the question must not be lost to the full ring.
  LilvState* state = controls_state(rig, {{"gain", 1.5f}, {"mix", 0.25f}}, params,
                                    "<urn:bexo:test:params#float> \"7.5\"^^xsd:float");
  ASSERT_NE(state, nullptr);
  restore_state(&rig.host, state);
  lilv_state_free(state);
  run_updates(rig, 50ms); // no room yet: the values wait
  freeze.resume();
  EXPECT_TRUE(rig.update_until([&] {
    const Control* f = rig.property("urn:bexo:test:params#float");
    return f && control_value_to_double(&f->value, &rig.host.forge) == 7.5;
  })) << "the UI side never heard of the restored property";
  ASSERT_TRUE(rig.pause()); // the plugin's ports may be read while it waits
  EXPECT_EQ(rig.host.process.control_values[params_gain], 1.5f);
  EXPECT_EQ(rig.host.process.control_values[params_mix], 0.25f);
  rig.send_run_state(RUNNING);
  EXPECT_EQ(rig.logged(LOG_LEVEL_ERROR), std::vector<std::string>{});
}

// Whether the plugin's echo of a note with `key` comes back through
// process_ring within a few seconds; what else waits there is taken too.
bool echo_comes_back(HostRig& rig, uint8_t key) {
  return wait_for([&] {
    for (const RingMessage& m : rig.drain()) {
      if (m.type == EVENT_TRANSFER && m.port_index() == io_events_out && m.atom_size() == 3 &&
          m.atom_body()[0] == 0x90 && m.atom_body()[1] == key) {
        return true;
      }
    }
    return false;
  });
}

TEST(HostileUi, AHundredThousandEventsInASecondAreSentOrToldLostAndLaterOnesArrive) {
  HostRig rig;
  name_rig(rig, client);
  rig.host.options.ring_size = 4096;
  rig.host.process.ui_reads_midi.store(true); // the echoes are looked for on the UI side
  ASSERT_EQ(rig.open("urn:bexo:test:io"), 0);
  ASSERT_TRUE(start_rig(rig));
  // Notes until the first finds no room: the next update tells of one.
  uint64_t refused = rig.host.ui_writes.refused;
  for (int i = 0; i < 1000000 && rig.host.ui_writes.refused == refused; ++i) {
    Buffer note = midi_note(rig, 1);
    write(rig, io_events_in, note, events(rig));
  }
  ASSERT_EQ(rig.host.ui_writes.refused, refused + 1);
  rig.update();
  EXPECT_TRUE(
      rig.logged(LOG_LEVEL_WARNING, "Lost 1 event from the UI to the plugin: no room in the ring"));
  run_updates(rig, 100ms);

  const uint64_t lost_before = events_told_lost(rig);
  const uint64_t sent = rig.host.ui_writes.sent;
  refused = rig.host.ui_writes.refused;
  // Its ring is sixteen MIDI buffers, about 20,000 notes; each burst is 25,000.
  flood(rig, 4, [&](int i) {
    Buffer note = midi_note(rig, static_cast<uint8_t>(i % 100));
    write(rig, io_events_in, note, events(rig));
  });
  rig.update();
  const uint64_t now_sent = rig.host.ui_writes.sent - sent;
  const uint64_t now_refused = rig.host.ui_writes.refused - refused;
  EXPECT_EQ(now_sent + now_refused, 100000u);
  EXPECT_GT(now_refused, 0u) << "the ring never filled: nothing was tested";
  EXPECT_EQ(events_told_lost(rig) - lost_before, now_refused)
      << "lost events the log did not tell of";

  // In step: a note written after the flood reaches the plugin, which
  // echoes it back to the UI side.
  run_updates(rig, 200ms);
  Buffer last = midi_note(rig, 0x7f);
  write(rig, io_events_in, last, events(rig));
  EXPECT_TRUE(echo_comes_back(rig, 0x7f)) << "the note written after the flood was lost";
}

// What a UI sends to a MIDI input is played like what comes from JACK: the
// io fixture echoes it to its MIDI output, where another client hears it.
TEST(HostileUi, ANoteFromTheUiComesOutOfThePluginsJackMidiOutput) {
  Sink sink(0, 1);
  ASSERT_TRUE(sink.ok() && sink.activate());
  HostRig rig;
  rig.host.process.ui_reads_midi.store(true); // the echo is looked for on the UI side too
  ASSERT_TRUE(open_running(rig, "urn:bexo:test:io", client));
  ASSERT_TRUE(connect_ports(sink.client, rig.port_name(io_events_out), sink.midi_name(0)));
  ASSERT_TRUE(wait_cycles(sink, 4));
  sink.arm();
  Buffer note = midi_note(rig, 0x7f);
  write(rig, io_events_in, note, events(rig));
  EXPECT_TRUE(echo_comes_back(rig, 0x7f)) << "the plugin never got the note";
  ASSERT_TRUE(wait_cycles(sink, 4));
  const std::vector<MidiRecord> heard = sink.recorded_midi();
  ASSERT_EQ(heard.size(), 1u) << "the plugin's echo of the note never reached JACK";
  EXPECT_EQ(heard[0].bytes[1], 0x7f);
}

} // namespace
