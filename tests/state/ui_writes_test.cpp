// What the UI side sends when ui_ring is full: control changes wait, the
// latest per port, until an update finds room; events are refused, counted
// and told of once per update; a value that a paused restore superseded is
// not sent after it.

#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"
#include "state/state.hpp"
#include "state/state_support.hpp"
#include "state/ui_writes.hpp"
#include "ui/ui_update.hpp"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using Sent = std::pair<uint32_t, float>; // port, value

// Fills ui_ring with control changes of `port` until not one more fits.
void fill(ZixRing* ring, uint32_t port) {
  while (ring_write_control(ring, port, -1.0f) == ZIX_STATUS_SUCCESS) {
  }
}

// The control changes in ui_ring that are not the filling ones.
std::vector<Sent> sent_controls(ZixRing* ring, uint32_t filler) {
  std::vector<Sent> sent;
  for (const RingMessage& m : read_ring_messages(ring)) {
    if (m.type == CONTROL_CHANGE && m.port_index() != filler) {
      sent.emplace_back(m.port_index(), m.value());
    }
  }
  return sent;
}

void write_float(HostRig& rig, uint32_t port, float value) {
  plugin_ui_write(&rig.host, port, sizeof(value), 0, &value);
}

class UiWritesTest : public testing::Test {
protected:
  void SetUp() override {
    test_frontend_reset();
    ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
    rig.discard_ui_messages();
    rig.host.process.run_state.store(RUNNING);
  }
  HostRig rig;
  static constexpr uint32_t filler = 9; // cutoff
  static constexpr uint32_t gain = 4;
  static constexpr uint32_t steps = 7;
};

TEST_F(UiWritesTest, ControlChangesWaitForRoomAndOnlyTheLatestPerPortIsSent) {
  ZixRing* ring = rig.host.process.ui_ring;
  fill(ring, filler);
  const uint64_t sent_before = rig.host.ui_writes.sent;
  for (const float value : {0.1f, 0.2f, 0.3f}) {
    write_float(rig, gain, value);
  }
  // The host's own controls take the same way.
  const float four = 4.0f;
  ASSERT_EQ(apply_control_value(&rig.host, rig.control("steps"), sizeof(four), rig.host.forge.Float,
                                &four),
            0);
  EXPECT_EQ(rig.host.ui_writes.coalesced, 4u);
  EXPECT_EQ(rig.host.ui_writes.sent, sent_before);
  EXPECT_TRUE(rig.logged(LOG_LEVEL_ERROR).empty());

  // An update with no room yet keeps them; the next with room sends them.
  rig.update();
  EXPECT_EQ(rig.host.ui_writes.sent, sent_before);
  EXPECT_EQ(sent_controls(ring, filler), (std::vector<Sent>{}));
  rig.update();
  EXPECT_EQ(sent_controls(ring, filler), (std::vector<Sent>{{gain, 0.3f}, {steps, 4.0f}}));
  EXPECT_EQ(rig.host.ui_writes.sent, sent_before + 2);

  // Nothing waits any more: the next change goes straight into the ring.
  write_float(rig, gain, 0.9f);
  EXPECT_EQ(sent_controls(ring, filler), (std::vector<Sent>{{gain, 0.9f}}));
  rig.update();
  EXPECT_EQ(sent_controls(ring, filler), (std::vector<Sent>{}));
}

TEST_F(UiWritesTest, WaitingValuesGoBeforeANewChangeOnceThereIsRoom) {
  ZixRing* ring = rig.host.process.ui_ring;
  fill(ring, filler);
  write_float(rig, gain, 0.5f);
  rig.discard_ui_messages(); // the audio thread caught up
  write_float(rig, steps, 2.0f);
  EXPECT_EQ(sent_controls(ring, filler), (std::vector<Sent>{{gain, 0.5f}, {steps, 2.0f}}));
}

TEST(UiWrites, RefusedEventsAreCountedAndToldOfOncePerUpdate) {
  test_frontend_reset();
  HostRig params;
  ASSERT_EQ(params.open_manual("urn:bexo:test:params"), 0);
  params.discard_ui_messages();
  params.lines.clear(); // what the open said
  const uint32_t control = params.host.process.control_input_index;
  fill(params.host.process.ui_ring, 2);
  struct {
    LV2_Atom atom;
    std::array<uint8_t, 8> body;
  } event{{8, params.map(LV2_ATOM__Chunk)}, {}};
  const auto lost = [&](int count) {
    for (int i = 0; i < count; ++i) {
      plugin_ui_write(&params.host, control, sizeof(event), params.host.urids.atom_eventTransfer,
                      &event);
    }
    params.update();
  };
  lost(3);
  lost(1);
  lost(0);
  EXPECT_EQ(
      params.logged(LOG_LEVEL_WARNING),
      (std::vector<std::string>{"Lost 3 events from the UI to the plugin: no room in the ring",
                                "Lost 1 event from the UI to the plugin: no room in the ring"}));
  EXPECT_TRUE(params.logged(LOG_LEVEL_ERROR).empty());
  EXPECT_EQ(params.host.ui_writes.refused, 4u);

  // An event that no wait would make room for is an error of its own.
  params.discard_ui_messages();
  const uint32_t capacity = zix_ring_capacity(params.host.process.ui_ring);
  std::vector<uint32_t> huge(capacity / sizeof(uint32_t), 0);
  huge[0] = static_cast<uint32_t>(huge.size() * sizeof(uint32_t) - sizeof(LV2_Atom));
  huge[1] = params.map(LV2_ATOM__Chunk);
  plugin_ui_write(&params.host, control, static_cast<uint32_t>(huge.size() * sizeof(uint32_t)),
                  params.host.urids.atom_eventTransfer, huge.data());
  EXPECT_TRUE(params.logged(LOG_LEVEL_ERROR, "is larger than the ring to the plugin"));
  EXPECT_TRUE(read_ring_messages(params.host.process.ui_ring).empty());
}

TEST_F(UiWritesTest, AValueARestoreWhilePausedSupersededIsNotSentAfterIt) {
  ZixRing* ring = rig.host.process.ui_ring;
  fill(ring, filler);
  write_float(rig, gain, 0.25f); // waits
  rig.host.process.run_state.store(PAUSED);
  scan_presets(&rig.host, nullptr, nullptr);
  ASSERT_EQ(restore_preset(&rig.host, uri_node(rig, "urn:bexo:test:controls#preset-loud").get()),
            0);
  EXPECT_EQ(rig.host.process.control_values[gain], 1.8f);
  rig.update();
  rig.update();
  EXPECT_EQ(sent_controls(ring, filler), (std::vector<Sent>{}));
  EXPECT_EQ(rig.host.process.control_values[gain], 1.8f);
}

} // namespace
