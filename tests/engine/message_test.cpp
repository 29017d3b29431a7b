#include "engine/message.hpp"
#include "engine/process.hpp"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct RingDeleter {
  void operator()(ZixRing* ring) const { zix_ring_free(ring); }
};
using RingPtr = std::unique_ptr<ZixRing, RingDeleter>;

template <typename T>
T read_value(ZixRing* ring) {
  T value{};
  EXPECT_EQ(zix_ring_read(ring, &value, sizeof(value)), sizeof(value));
  return value;
}

TEST(Messages, ControlMessageTakesSixteenBytes) {
  RingPtr ring(zix_ring_new(nullptr, 64));
  ASSERT_EQ(ring_write_control(ring.get(), 3, 0.25f), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 16u);

  const auto header = read_value<MessageHeader>(ring.get());
  EXPECT_EQ(header.type, CONTROL_CHANGE);
  EXPECT_EQ(header.size, 8u);
  const auto body = read_value<ControlChange>(ring.get());
  EXPECT_EQ(body.port_index, 3u);
  EXPECT_EQ(body.value, 0.25f);
}

TEST(Messages, EventMessageCarriesTheWholeAtom) {
  RingPtr ring(zix_ring_new(nullptr, 64));
  const std::array<uint8_t, 3> note{0x90, 64, 127};
  ASSERT_EQ(ring_write_event(ring.get(), 7, 3, 15, note.data()), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 23u);

  std::array<uint8_t, 23> bytes{};
  ASSERT_EQ(zix_ring_read(ring.get(), bytes.data(), 23), 23u);
  std::array<uint32_t, 5> words{};
  std::memcpy(words.data(), bytes.data(), 20);
  EXPECT_EQ(words, (std::array<uint32_t, 5>{EVENT_TRANSFER, 15, 7, 3, 15}));
  EXPECT_EQ(std::memcmp(bytes.data() + 20, note.data(), 3), 0);
}

TEST(Messages, FullRingTakesNothingAndSaysNoSpace) {
  // Capacity 31: one control message fits, a second does not.
  RingPtr ring(zix_ring_new(nullptr, 32));
  ASSERT_EQ(ring_write_control(ring.get(), 0, 1.0f), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(ring_write_control(ring.get(), 0, 2.0f), ZIX_STATUS_NO_SPACE);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 16u);

  // The event's prefix fits, its body does not: the ring stays as it was.
  const std::array<uint8_t, 8> body{};
  EXPECT_EQ(ring_write_event(ring.get(), 1, 8, 15, body.data()), ZIX_STATUS_NO_SPACE);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 16u);
  ASSERT_EQ(ring_write_run_state(ring.get(), PAUSED), ZIX_STATUS_SUCCESS); // 12 of 15 bytes
  EXPECT_EQ(ring_write_update_request(ring.get()), ZIX_STATUS_NO_SPACE);
  EXPECT_EQ(ring_write_run_state(ring.get(), RUNNING), ZIX_STATUS_NO_SPACE);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 28u);
  EXPECT_EQ(read_value<MessageHeader>(ring.get()).type, CONTROL_CHANGE);
  EXPECT_EQ(read_value<ControlChange>(ring.get()).value, 1.0f);
}

TEST(Messages, BodilessAndSplitMessagesAreWrittenWhole) {
  RingPtr ring(zix_ring_new(nullptr, 64));
  ASSERT_EQ(ring_write_update_request(ring.get()), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 8u);

  const MessageHeader latency{LATENCY_CHANGE, 4};
  const float frames = 64.0f;
  ASSERT_EQ(ring_write_message(ring.get(), &latency, sizeof(latency), &frames, 4),
            ZIX_STATUS_SUCCESS);
  ASSERT_EQ(ring_write_run_state(ring.get(), PAUSED), ZIX_STATUS_SUCCESS);
  const auto request = read_value<MessageHeader>(ring.get());
  EXPECT_EQ(request.type, UPDATE_REQUEST);
  EXPECT_EQ(request.size, 0u);
  EXPECT_EQ(read_value<MessageHeader>(ring.get()).size, 4u);
  EXPECT_EQ(read_value<float>(ring.get()), 64.0f);
  const auto run_state = read_value<MessageHeader>(ring.get());
  EXPECT_EQ(run_state.type, RUN_STATE_CHANGE);
  EXPECT_EQ(run_state.size, 4u);
  EXPECT_EQ(read_value<uint32_t>(ring.get()), static_cast<uint32_t>(PAUSED));
  EXPECT_EQ(zix_ring_read_space(ring.get()), 0u);
}

TEST(Messages, EveryStatusHasItsText) {
  struct Case {
    int status;
    const char* text;
  };
  for (const Case& c :
       {Case{0, "Success"}, Case{1, "Send updates"}, Case{2, "Failed to read header from UI ring"},
        Case{3, "Failed to read control value from UI ring"},
        Case{4, "Failed to read event from UI ring"},
        Case{5, "Failed to read run state change from UI ring"},
        Case{6, "Unknown message type received from UI ring"}, Case{7, "Unknown error"},
        Case{-1, "Unknown error"}}) {
    EXPECT_STREQ(process_status_string(c.status), c.text);
  }
}

} // namespace
