// The engine's cycle around process_run, on the ports fixture, whose run
// does nothing: what reaches the plugin's inputs and the UI side is the
// host's alone.

#include "process_fixture.hpp"

#include <cmath>
#include <lv2/atom/util.h>
#include <optional>
#include <utility>

namespace {

// The keys of a time:Position object that every position carries, and
// the tempo when it has one.
struct Position {
  int64_t frame;
  float speed;
  std::optional<float> bpm;
};

std::optional<Position> read_position(const Event& e, const Urids& urids) {
  const auto* body = reinterpret_cast<const LV2_Atom_Object_Body*>(e.body.data());
  if (e.type != urids.atom_Object || e.body.size() < sizeof(*body) ||
      body->otype != urids.time_Position) {
    return std::nullopt;
  }
  const LV2_Atom* frame = nullptr;
  const LV2_Atom* speed = nullptr;
  const LV2_Atom* bpm = nullptr;
  lv2_atom_object_body_get(static_cast<uint32_t>(e.body.size()), body, urids.time_frame, &frame,
                           urids.time_speed, &speed, urids.time_beatsPerMinute, &bpm, 0);
  if (!frame || !speed) {
    return std::nullopt;
  }
  Position position{reinterpret_cast<const LV2_Atom_Long*>(frame)->body,
                    reinterpret_cast<const LV2_Atom_Float*>(speed)->body, std::nullopt};
  if (bpm) {
    position.bpm = reinterpret_cast<const LV2_Atom_Float*>(bpm)->body;
  }
  return position;
}

std::vector<std::pair<uint32_t, float>> controls_sent(const std::vector<RingMessage>& messages,
                                                      uint32_t type = CONTROL_CHANGE) {
  std::vector<std::pair<uint32_t, float>> sent;
  for (const RingMessage& message : messages) {
    if (message.type == type) {
      sent.emplace_back(type == CONTROL_CHANGE ? message.port_index() : 0, message.value());
    }
  }
  return sent;
}

Transport plain(uint32_t frame, bool rolling) {
  Transport transport{};
  transport.frame = frame;
  transport.rolling = rolling;
  return transport;
}

Transport bbt(uint32_t frame, double bpm) {
  return Transport{frame, true, true, 3, 2, 480, 1920.0, 4.0f, 4.0f, bpm};
}

TEST_F(ProcessTest, EventsLeftByPausedCyclesMoveToFrameZeroAheadOfThePosition) {
  rig.send_run_state(PAUSED);
  rig.cycle(); // running: applies the pause, acknowledged at its end
  ASSERT_EQ(zix_sem_try_wait(&state.paused), ZIX_STATUS_SUCCESS);
  const uint8_t note[3] = {0x90, 60, 100};
  ASSERT_EQ(ring_write_event(state.ui_ring, control_in, 3, urids.midi_MidiEvent, note),
            ZIX_STATUS_SUCCESS);
  rig.send_run_state(RUNNING);
  rig.cycle(); // paused: leaves the note at its last frame, then resumes
  ASSERT_EQ(state.run_state.load(), RUNNING);
  ASSERT_EQ(events(control_in).size(), 1u);
  EXPECT_EQ(events(control_in)[0].frames, 256u);

  rig.transport.rolling = true;
  process_cycle_begin(&state, 256, &rig.transport);
  const std::vector<Event> got = events(control_in);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].frames, 0u);
  EXPECT_EQ(got[0].type, urids.midi_MidiEvent);
  EXPECT_EQ(got[0].body, std::vector<uint8_t>(note, note + 3));
  EXPECT_EQ(got[1].frames, 0u);
  EXPECT_TRUE(read_position(got[1], urids).has_value());
}

// Cycles of 256 frames one after the other: a position goes to the input
// that takes positions exactly when the transport differs from what the
// last cycle left, and a tempo with it when the transport has BBT.
TEST_F(ProcessTest, AChangedTransportReachesPositionInputsAndTempoControls) {
  struct Step {
    const char* what;
    Transport transport;
    bool position;
    std::optional<float> tempo;
  };
  const Step steps[] = {
      {"as the last cycle left it", Transport{}, false, std::nullopt},
      {"located", plain(48000, false), true, std::nullopt},
      {"started", plain(48000, true), true, std::nullopt},
      {"rolled on", plain(48256, true), false, std::nullopt},
      {"with BBT", bbt(48512, 90.0), true, 90.0f},
      {"rolled on at the same tempo", bbt(48768, 90.0), false, std::nullopt},
      {"tempo changed", bbt(49024, 140.0), true, 140.0f},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const float tempo_before = state.control_values[tempo_port];
    event_buffer_reset(state.ports[event_out].event_buffer, true); // as if the plugin wrote it
    process_cycle_begin(&state, 256, &step.transport);

    const std::vector<Event> got = events(control_in);
    ASSERT_EQ(got.size(), step.position ? 1u : 0u);
    if (step.position) {
      const std::optional<Position> position = read_position(got[0], urids);
      ASSERT_TRUE(position.has_value());
      EXPECT_EQ(got[0].frames, 0u);
      EXPECT_EQ(position->frame, step.transport.frame);
      EXPECT_EQ(position->speed, step.transport.rolling ? 1.0f : 0.0f);
      const std::optional<float> bpm =
          step.transport.has_bbt
              ? std::optional<float>(static_cast<float>(step.transport.beats_per_minute))
              : std::nullopt;
      EXPECT_EQ(position->bpm, bpm);
    }
    EXPECT_TRUE(events(plain_event_in).empty());
    EXPECT_EQ(event_buffer_atom(state.ports[event_out].event_buffer)->atom.type, urids.atom_Chunk);
    EXPECT_EQ(state.control_values[tempo_port], step.tempo.value_or(tempo_before));

    process_cycle_end(&state, PROCESS_SUCCESS);
    EXPECT_TRUE(events(control_in).empty());
    const auto sent = controls_sent(rig.drain());
    if (step.tempo) {
      EXPECT_EQ(sent, (std::vector<std::pair<uint32_t, float>>{{tempo_port, *step.tempo}}));
    } else {
      EXPECT_TRUE(sent.empty());
    }
  }
}

TEST_F(ProcessTest, ControlOutputsGoToTheUiSideOnlyWhenUpdatesAreDue) {
  state.control_values[twin_a] = 0.5f; // as the plugin would write them
  state.control_values[twin_b] = 0.75f;
  for (int cycle = 1; cycle <= 16; ++cycle) {
    rig.cycle(); // 1920 frames between updates: every eighth cycle
    const auto sent = controls_sent(rig.drain());
    if (cycle % 8 == 0) {
      EXPECT_EQ(sent, (std::vector<std::pair<uint32_t, float>>{{twin_a, 0.5f}, {twin_b, 0.75f}}))
          << cycle;
    } else {
      EXPECT_TRUE(sent.empty()) << cycle;
    }
  }
}

// The latency output's value as the plugin writes it, cycle after cycle:
// a change of the latency in frames is sent once, and a value out of range
// stands for 0.
TEST_F(ProcessTest, ALatencyChangeIsSentOnce) {
  struct Step {
    float output;
    uint32_t latency;
    bool sent;
  };
  const Step steps[] = {
      {64.0f, 64, true},
      {64.0f, 64, false},
      {64.5f, 64, false},
      {NAN, 0, true},
      {-3.0f, 0, false},
      {2e7f, 0, false},
      {16777216.0f, 16777216, true},
      {0.0f, 0, true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.output);
    state.control_values[latency_port] = step.output;
    rig.cycle();
    EXPECT_EQ(state.plugin_latency.load(), step.latency);
    const auto sent = controls_sent(rig.drain(), LATENCY_CHANGE);
    if (step.sent) {
      EXPECT_EQ(sent,
                (std::vector<std::pair<uint32_t, float>>{{0, static_cast<float>(step.latency)}}));
    } else {
      EXPECT_TRUE(sent.empty());
    }
  }
}

} // namespace
