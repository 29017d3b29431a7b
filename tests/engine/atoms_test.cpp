// The process cycle with a plugin that uses events both ways and the
// worker: what the host delivers is exactly what the plugin reports back.

#include "process_fixture.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct Midi {
  uint32_t frames;
  std::array<uint8_t, 3> bytes;
  bool operator==(const Midi&) const = default;
};

std::vector<Midi> midi_events(EventBuffer* buffer, uint32_t midi_type) {
  std::vector<Midi> found;
  for (EventBufferIterator i = event_buffer_first(buffer); event_iter_valid(i);
       i = event_iter_next(i)) {
    uint32_t frames = 0, subframes = 0, type = 0, size = 0;
    const void* data = nullptr;
    event_iter_get(i, &frames, &subframes, &type, &size, &data);
    if (type == midi_type && size == 3) {
      Midi midi{frames, {}};
      std::memcpy(midi.bytes.data(), data, 3);
      found.push_back(midi);
    }
  }
  return found;
}

class AtomsCycle : public AtomsTest {
protected:
  // Runs cycles, as the audio thread keeps cycling, until the threaded
  // worker has answered and the plugin has reported `count` strings.
  std::vector<std::string> reports_after_work(size_t count) {
    std::vector<std::string> reported;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (reported.size() < count && std::chrono::steady_clock::now() < deadline) {
      cycle(256);
      for (auto& text : strings(atoms_notify)) {
        reported.push_back(text);
      }
      std::this_thread::sleep_for(1ms);
    }
    return reported;
  }
};

TEST_F(AtomsCycle, MidiReachesThePluginAndComesBackWithTheSameFramesAndBytes) {
  // Events from the backend are written into the input buffer, events from
  // the UI side arrive through ui_ring and are appended one past the
  // cycle's last frame.
  const std::vector<Midi> from_backend{
      {0, {0x90, 60, 100}}, {17, {0x80, 60, 0}}, {255, {0xB0, 7, 127}}};
  EventBufferIterator end = event_buffer_end(state.ports[atoms_midi_in].event_buffer);
  for (const Midi& midi : from_backend) {
    ASSERT_TRUE(event_iter_write(&end, midi.frames, 0, urids.midi_MidiEvent, 3, midi.bytes.data()));
  }
  const uint8_t from_ui[3] = {0x91, 64, 90};
  ASSERT_EQ(ring_write_event(state.ui_ring, atoms_midi_in, 3, urids.midi_MidiEvent, from_ui), 0);

  cycle(256);
  std::vector<Midi> expected = from_backend;
  expected.push_back({256, {0x91, 64, 90}});
  EXPECT_EQ(midi_events(state.ports[atoms_midi_out].event_buffer, urids.midi_MidiEvent), expected);

  cycle(256); // the input was emptied after the cycle
  EXPECT_TRUE(midi_events(state.ports[atoms_midi_out].event_buffer, urids.midi_MidiEvent).empty());
}

TEST_F(AtomsCycle, UpdateRequestDeliversOnePatchGetToTheControlInput) {
  const MessageHeader request{UPDATE_REQUEST, 0};
  ASSERT_EQ(ring_write_message(state.ui_ring, &request, sizeof(request), nullptr, 0), 0);
  cycle(256);

  const auto echoed = events(atoms_notify);
  ASSERT_EQ(echoed.size(), 1u);
  EXPECT_EQ(echoed[0].type, urids.atom_Object);
  EXPECT_EQ(echoed[0].size, 8u);
  EXPECT_EQ(echoed[0].frames, 256u);
  EventBufferIterator first = event_buffer_first(state.ports[atoms_notify].event_buffer);
  uint32_t frames = 0, subframes = 0, type = 0, size = 0;
  const void* data = nullptr;
  ASSERT_TRUE(event_iter_get(first, &frames, &subframes, &type, &size, &data));
  EXPECT_EQ(static_cast<const LV2_Atom_Object_Body*>(data)->otype, urids.patch_Get);
}

TEST_F(AtomsCycle, ThreadedWorkerAnswersTwoRequestsOfOneCycleInOrder) {
  ASSERT_EQ(worker_start(state.worker), 0);
  send_request("first");
  send_request("second");
  EXPECT_EQ(reports_after_work(2), (std::vector<std::string>{"done:first", "done:second"}));
}

TEST_F(AtomsCycle, RequestsBeforeActivationAndAfterStopAreRefusedUntilTheWorkerRuns) {
  send_request("early"); // the worker thread has not been started
  cycle(256);
  cycle(256);
  EXPECT_EQ(strings(atoms_notify), (std::vector<std::string>{"refused:early"}));

  ASSERT_EQ(worker_start(state.worker), 0);
  send_request("running");
  EXPECT_EQ(reports_after_work(1), (std::vector<std::string>{"done:running"}));

  worker_stop(state.worker);
  send_request("stopped");
  cycle(256);
  cycle(256);
  EXPECT_EQ(strings(atoms_notify), (std::vector<std::string>{"refused:stopped"}));

  ASSERT_EQ(worker_start(state.worker), 0);
  send_request("restarted");
  EXPECT_EQ(reports_after_work(1), (std::vector<std::string>{"done:restarted"}));
}

TEST_F(AtomsCycle, OversizedRequestIsRefusedAndTheNextOneServed) {
  ASSERT_EQ(worker_start(state.worker), 0);
  const std::string huge(worker_ring_size, 'x'); // with its header, more than the ring holds
  send_request(huge);
  send_request("small");
  const auto reported = reports_after_work(2);
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0].rfind("refused:xxx", 0), 0u);
  EXPECT_EQ(reported[1], "done:small");
}

// While state is restored the plugin schedules through the synchronous
// worker: the work is done at once, the response delivered by the cycle.
TEST_F(AtomsCycle, SynchronousWorkerAnswersWithinTheCycle) {
  schedule.handle = state.state_worker;
  send_request("now");
  cycle(256);
  EXPECT_TRUE(strings(atoms_notify).empty()); // responded after the plugin ran
  cycle(256);
  EXPECT_EQ(strings(atoms_notify), (std::vector<std::string>{"done:now"}));
}

} // namespace
