// The process cycle with a plugin that uses events both ways and the
// worker: what the host delivers is exactly what the plugin reports back.

#include "harness/wait_for.hpp"
#include "process_fixture.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

using Bytes = std::array<uint8_t, 3>;

struct Midi {
  uint32_t frames;
  Bytes bytes;
  bool operator==(const Midi&) const = default;
};

class AtomsCycle : public AtomsTest {
protected:
  std::vector<Midi> midi_events(uint32_t port) {
    std::vector<Midi> found;
    for (const Event& e : events(port)) {
      if (e.type == urids.midi_MidiEvent && e.body.size() == 3) {
        found.push_back({e.frames, {e.body[0], e.body[1], e.body[2]}});
      }
    }
    return found;
  }

  // Runs cycles, as the audio thread keeps cycling, until the threaded
  // worker has answered and the plugin has reported `count` strings.
  std::vector<std::string> reports_after_work(size_t count) {
    std::vector<std::string> reported;
    wait_for([&] {
      rig.cycle();
      for (auto& text : strings(atoms_notify)) {
        reported.push_back(text);
      }
      return reported.size() >= count;
    });
    return reported;
  }
};

TEST_F(AtomsCycle, MidiReachesThePluginAndComesBackWithTheSameFramesAndBytes) {
  // Events from the backend are written into the input buffer, events from
  // the UI side arrive through ui_ring and are appended one past the
  // cycle's last frame.
  const std::vector<Midi> from_backend{
      {0, {0x90, 60, 100}}, {17, {0x80, 60, 0}}, {255, {0xB0, 7, 127}}};
  const Bytes from_ui{0x91, 64, 90};
  ASSERT_EQ(ring_write_event(state.ui_ring, atoms_midi_in, 3, urids.midi_MidiEvent, from_ui.data()),
            ZIX_STATUS_SUCCESS);
  state.ui_reads_midi.store(true); // as a plugin UI does

  rig.backend_input = [&] {
    EventBufferIterator end = event_buffer_end(state.ports[atoms_midi_in].event_buffer);
    for (const Midi& midi : from_backend) {
      ASSERT_TRUE(
          event_iter_write(&end, midi.frames, 0, urids.midi_MidiEvent, 3, midi.bytes.data()));
    }
  };
  rig.cycle();
  rig.backend_input = nullptr;
  std::vector<Midi> expected = from_backend;
  expected.push_back({256, from_ui});
  EXPECT_EQ(midi_events(atoms_midi_out), expected);

  // The end of the cycle hands every event the plugin wrote to the UI side.
  std::vector<Bytes> sent;
  for (const RingMessage& message : rig.drain()) {
    ASSERT_EQ(message.type, EVENT_TRANSFER);
    EXPECT_EQ(message.port_index(), atoms_midi_out);
    EXPECT_EQ(message.atom_type(), urids.midi_MidiEvent);
    ASSERT_EQ(message.atom_size(), 3u);
    sent.push_back({message.atom_body()[0], message.atom_body()[1], message.atom_body()[2]});
  }
  EXPECT_EQ(sent, (std::vector<Bytes>{expected[0].bytes, expected[1].bytes, expected[2].bytes,
                                      expected[3].bytes}));

  rig.cycle(); // the input was emptied after the cycle
  EXPECT_TRUE(midi_events(atoms_midi_out).empty());
  EXPECT_TRUE(rig.drain().empty());
}

// With nothing on the UI side that reads MIDI, the plugin's MIDI still
// reaches the backend but stays off process_ring; its other events, which
// may carry state, still go there.
TEST_F(AtomsCycle, MidiGoesToTheUiSideOnlyWhileSomethingReadsIt) {
  const Bytes note{0x90, 60, 100};
  std::vector<uint32_t> backend_types;
  const OutputEventSink sink{
      [](void* data, const ProcessPort&, uint32_t, uint32_t type, uint32_t, const void*) {
        static_cast<std::vector<uint32_t>*>(data)->push_back(type);
      },
      &backend_types};
  for (const bool reader : {false, true, false}) {
    state.ui_reads_midi.store(reader);
    backend_types.clear();
    ASSERT_EQ(ring_write_event(state.ui_ring, atoms_midi_in, 3, urids.midi_MidiEvent, note.data()),
              ZIX_STATUS_SUCCESS);
    const int32_t number = 7; // echoed on the notify output
    ASSERT_EQ(
        ring_write_event(state.ui_ring, atoms_control, sizeof(number), urids.atom_Int, &number),
        ZIX_STATUS_SUCCESS);
    rig.output_sink = &sink;
    rig.cycle();
    rig.output_sink = nullptr;
    std::set<uint32_t> to_ui;
    for (const RingMessage& message : rig.drain()) {
      if (message.type == EVENT_TRANSFER) {
        to_ui.insert(message.port_index());
      }
    }
    EXPECT_EQ(to_ui.count(atoms_midi_out), reader ? 1u : 0u) << "reader: " << reader;
    EXPECT_EQ(to_ui.count(atoms_notify), 1u) << "reader: " << reader;
    EXPECT_EQ(std::count(backend_types.begin(), backend_types.end(), urids.midi_MidiEvent), 1)
        << "reader: " << reader;
  }
}

TEST_F(AtomsCycle, UpdateRequestDeliversOnePatchGetToTheControlInput) {
  ASSERT_EQ(ring_write_update_request(state.ui_ring), ZIX_STATUS_SUCCESS);
  rig.cycle();

  const std::vector<Event> echoed = events(atoms_notify);
  ASSERT_EQ(echoed.size(), 1u);
  EXPECT_EQ(echoed[0].type, urids.atom_Object);
  ASSERT_EQ(echoed[0].body.size(), 8u);
  EXPECT_EQ(echoed[0].frames, 256u);
  LV2_Atom_Object_Body body{};
  std::memcpy(&body, echoed[0].body.data(), sizeof(body));
  EXPECT_EQ(body.otype, urids.patch_Get);
}

TEST_F(AtomsCycle, ThreadedWorkerAnswersTwoRequestsOfOneCycleInOrder) {
  send_request("first");
  send_request("second");
  EXPECT_EQ(reports_after_work(2), (std::vector<std::string>{"done:first", "done:second"}));
}

// The host starts the worker on activation and stops it on deactivation;
// what the plugin schedules while it is stopped is refused.
TEST_F(AtomsCycle, RequestsWhileTheWorkerIsStoppedAreRefusedUntilItRunsAgain) {
  send_request("running");
  EXPECT_EQ(reports_after_work(1), (std::vector<std::string>{"done:running"}));

  worker_stop(state.worker);
  send_request("stopped");
  rig.cycle();
  rig.cycle();
  EXPECT_EQ(strings(atoms_notify), (std::vector<std::string>{"refused:stopped"}));

  rig.deactivate();
  ASSERT_EQ(rig.activate(), 0);
  send_request("restarted");
  EXPECT_EQ(reports_after_work(1), (std::vector<std::string>{"done:restarted"}));
}

TEST_F(AtomsCycle, OversizedRequestIsRefusedAndTheNextOneServed) {
  const std::string huge(worker_ring_size, 'x'); // with its header, more than the ring holds
  send_request(huge);
  send_request("small");
  const auto reported = reports_after_work(2);
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0].rfind("refused:xxx", 0), 0u);
  EXPECT_EQ(reported[1], "done:small");
}

// While state is restored the plugin schedules, on the main thread, through
// the synchronous worker of the restore's features: the work is done at
// once, the response delivered by the cycle.  The schedule of run() refuses
// that worker.
TEST_F(AtomsCycle, SynchronousWorkerServesARestoreAndRefusesTheAudioThread) {
  const LV2_Worker_Schedule& restore_schedule = rig.host.features.state_schedule;
  ASSERT_EQ(restore_schedule.schedule_work(restore_schedule.handle, 4, "now"), LV2_WORKER_SUCCESS);
  rig.cycle();
  EXPECT_TRUE(strings(atoms_notify).empty()); // responded after the plugin ran
  rig.cycle();
  EXPECT_EQ(strings(atoms_notify), (std::vector<std::string>{"done:now"}));

  rig.host.features.schedule.handle = state.state_worker;
  send_request("in run");
  rig.cycle();
  rig.cycle();
  EXPECT_EQ(strings(atoms_notify), (std::vector<std::string>{"refused:in run"}));
}

} // namespace
