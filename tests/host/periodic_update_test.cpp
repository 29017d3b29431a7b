// The periodic update reports, from the main thread and only with the
// trace option, what the audio thread could only count: passes over
// ui_ring that failed.

#include "engine/message.hpp"
#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"

#include <gtest/gtest.h>

namespace {

// A message of no known type makes the cycle's pass over ui_ring fail.
void fail_passes(HostRig& rig, int count) {
  for (int i = 0; i < count; ++i) {
    const MessageHeader odd{42, 0};
    ASSERT_EQ(ring_write_message(rig.host.process.ui_ring, &odd, sizeof(odd), nullptr, 0),
              ZIX_STATUS_SUCCESS);
    rig.cycle();
  }
}

TEST(PeriodicUpdate, FailedPassesOfTheAudioThreadAreLoggedOnceAnUpdateWithTrace) {
  struct Case {
    bool trace;
    int failures;
    std::vector<std::string> errors;
  } const cases[] = {
      {false, 2, {}},
      {true, 1, {"Unknown message type received from UI ring"}},
      {true, 3, {"Unknown message type received from UI ring (in 3 cycles)"}},
      {true, 0, {}},
  };
  for (const Case& c : cases) {
    test_frontend_reset();
    HostRig rig;
    rig.host.options.trace = c.trace;
    ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
    ASSERT_EQ(rig.activate(), 0);
    fail_passes(rig, c.failures);
    rig.lines.clear();
    EXPECT_EQ(rig.update(), 1);
    EXPECT_EQ(rig.logged(LOG_LEVEL_ERROR), c.errors) << c.trace << " " << c.failures;
    rig.lines.clear();
    rig.update(); // each failure is reported once
    EXPECT_TRUE(rig.logged(LOG_LEVEL_ERROR).empty());
  }
}

} // namespace
