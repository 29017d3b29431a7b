#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include <zix/ring.h>

namespace {

struct RingDeleter {
  void operator()(ZixRing* ring) const { zix_ring_free(ring); }
};
using RingPtr = std::unique_ptr<ZixRing, RingDeleter>;

RingPtr make_ring(uint32_t size) {
  RingPtr ring{zix_ring_new(nullptr, size)};
  EXPECT_NE(ring, nullptr);
  return ring;
}

uint32_t write_string(ZixRing* ring, const std::string& s) {
  return zix_ring_write(ring, s.data(), static_cast<uint32_t>(s.size()));
}

std::string read_string(ZixRing* ring, uint32_t size) {
  std::string s(size, '\0');
  EXPECT_EQ(zix_ring_read(ring, s.data(), size), size);
  return s;
}

// Moves both heads to `offset`, so that the next bytes written straddle the
// end of the buffer.
void advance_heads(ZixRing* ring, uint32_t offset) {
  const std::string filler(offset, '.');
  ASSERT_EQ(write_string(ring, filler), offset);
  ASSERT_EQ(zix_ring_skip(ring, offset), offset);
}

struct CapacityCase {
  uint32_t requested;
  uint32_t capacity;
};

class RingCapacity : public testing::TestWithParam<CapacityCase> {};

TEST_P(RingCapacity, RoundsUpToPowerOfTwoLessOneByte) {
  const auto [requested, capacity] = GetParam();
  RingPtr ring = make_ring(requested);
  ASSERT_NE(ring, nullptr);

  EXPECT_EQ(zix_ring_capacity(ring.get()), capacity);
  EXPECT_EQ(zix_ring_write_space(ring.get()), capacity);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 0U);

  // The reported capacity must be what really fits, no more and no less.
  std::vector<uint8_t> data(capacity + 1U);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(i * 13U + 1U);
  }
  EXPECT_EQ(zix_ring_write(ring.get(), data.data(), capacity + 1U), 0U);
  if (capacity > 0U) {
    ASSERT_EQ(zix_ring_write(ring.get(), data.data(), capacity), capacity);
  }
  EXPECT_EQ(zix_ring_write_space(ring.get()), 0U);
  EXPECT_EQ(zix_ring_read_space(ring.get()), capacity);

  std::vector<uint8_t> out(capacity);
  EXPECT_EQ(zix_ring_read(ring.get(), out.data(), capacity), capacity);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RingCapacity,
                         testing::Values(CapacityCase{1, 0}, CapacityCase{2, 1}, CapacityCase{3, 3},
                                         CapacityCase{4, 3}, CapacityCase{5, 7},
                                         CapacityCase{1000, 1023}, CapacityCase{1024, 1023},
                                         CapacityCase{1025, 2047}, CapacityCase{65536, 65535}));

TEST(Ring, ReaderTakesAllOrNothing) {
  RingPtr ring = make_ring(16);
  ASSERT_EQ(write_string(ring.get(), "abcdefghij"), 10U);

  enum class Op { peek, read, skip };
  struct Step {
    Op op;
    uint32_t size;
    uint32_t returned;
    std::string bytes; // what a successful peek or read hands out
    uint32_t space_after;
  };
  const Step steps[] = {
      {Op::peek, 11, 0, "", 10},
      {Op::read, 11, 0, "", 10},
      {Op::skip, 11, 0, "", 10},
      {Op::peek, 3, 3, "abc", 10},
      {Op::peek, 10, 10, "abcdefghij", 10},
      {Op::read, 3, 3, "abc", 7},
      {Op::skip, 2, 2, "", 5},
      {Op::read, 6, 0, "", 5},
      {Op::peek, 5, 5, "fghij", 5},
      {Op::read, 5, 5, "fghij", 0},
      {Op::peek, 1, 0, "", 0},
      {Op::read, 1, 0, "", 0},
      {Op::skip, 1, 0, "", 0},
  };

  for (size_t i = 0; i < std::size(steps); ++i) {
    const Step& step = steps[i];
    SCOPED_TRACE(testing::Message() << "step " << i);

    // A failed call must not touch the destination either.
    std::string dst(16, '#');
    uint32_t returned = 0;
    switch (step.op) {
    case Op::peek:
      returned = zix_ring_peek(ring.get(), dst.data(), step.size);
      break;
    case Op::read:
      returned = zix_ring_read(ring.get(), dst.data(), step.size);
      break;
    case Op::skip:
      returned = zix_ring_skip(ring.get(), step.size);
      break;
    }

    EXPECT_EQ(returned, step.returned);
    EXPECT_EQ(dst, step.bytes + std::string(16 - step.bytes.size(), '#'));
    EXPECT_EQ(zix_ring_read_space(ring.get()), step.space_after);
    EXPECT_EQ(zix_ring_write_space(ring.get()), 15U - step.space_after);
  }
}

TEST(Ring, WriterPutsAllOrNothing) {
  RingPtr ring = make_ring(16);

  EXPECT_EQ(write_string(ring.get(), std::string(16, 'x')), 0U);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 0U);

  ASSERT_EQ(write_string(ring.get(), "0123456789"), 10U);
  EXPECT_EQ(write_string(ring.get(), "ABCDEF"), 0U); // 5 bytes free
  EXPECT_EQ(zix_ring_read_space(ring.get()), 10U);
  EXPECT_EQ(zix_ring_write_space(ring.get()), 5U);

  ASSERT_EQ(write_string(ring.get(), "ABCDE"), 5U);
  EXPECT_EQ(write_string(ring.get(), "!"), 0U);
  EXPECT_EQ(read_string(ring.get(), 15), "0123456789ABCDE");
}

TEST(Ring, WrapsAroundTheEndOfTheBuffer) {
  // Messages of 5 bytes in an 8-byte buffer start at every offset in turn,
  // so most of them are split across the end.
  RingPtr ring = make_ring(8);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    std::string message(5, '\0');
    for (size_t i = 0; i < message.size(); ++i) {
      message[i] = static_cast<char>('A' + (round * 5 + static_cast<int>(i)) % 26);
    }

    ASSERT_EQ(write_string(ring.get(), message), 5U);
    EXPECT_EQ(zix_ring_read_space(ring.get()), 5U);
    EXPECT_EQ(zix_ring_write_space(ring.get()), 2U);

    std::string peeked(5, '\0');
    ASSERT_EQ(zix_ring_peek(ring.get(), peeked.data(), 5), 5U);
    EXPECT_EQ(peeked, message);
    if (round % 2 == 0) {
      EXPECT_EQ(read_string(ring.get(), 2), message.substr(0, 2));
      EXPECT_EQ(zix_ring_skip(ring.get(), 1), 1U);
      EXPECT_EQ(read_string(ring.get(), 2), message.substr(3, 2));
    } else {
      EXPECT_EQ(zix_ring_skip(ring.get(), 5), 5U);
    }
    EXPECT_EQ(zix_ring_read_space(ring.get()), 0U);
  }
}

TEST(Ring, FailedTransactionShowsNothing) {
  RingPtr ring = make_ring(16);
  advance_heads(ring.get(), 12);

  ZixRingTransaction tx = zix_ring_begin_write(ring.get());
  ASSERT_EQ(zix_ring_amend_write(ring.get(), &tx, "0123456789", 10), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_ring_amend_write(ring.get(), &tx, "abcdef", 6), ZIX_STATUS_NO_MEM);

  EXPECT_EQ(zix_ring_read_space(ring.get()), 0U);
  char byte = '#';
  EXPECT_EQ(zix_ring_peek(ring.get(), &byte, 1), 0U);
  EXPECT_EQ(byte, '#');

  // The abandoned bytes must not leak into the next write.
  ASSERT_EQ(write_string(ring.get(), "xyz"), 3U);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 3U);
  EXPECT_EQ(read_string(ring.get(), 3), "xyz");
}

TEST(Ring, CommittedTransactionAppearsAtOnce) {
  RingPtr ring = make_ring(16);
  advance_heads(ring.get(), 12); // the body below wraps around the end

  ZixRingTransaction tx = zix_ring_begin_write(ring.get());
  ASSERT_EQ(zix_ring_amend_write(ring.get(), &tx, "head", 4), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 0U);
  ASSERT_EQ(zix_ring_amend_write(ring.get(), &tx, "body123", 7), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 0U);
  ASSERT_EQ(zix_ring_amend_write(ring.get(), &tx, "!", 1), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 0U);

  EXPECT_EQ(zix_ring_commit_write(ring.get(), &tx), ZIX_STATUS_SUCCESS);
  EXPECT_EQ(zix_ring_read_space(ring.get()), 12U);
  EXPECT_EQ(zix_ring_write_space(ring.get()), 3U);
  EXPECT_EQ(read_string(ring.get(), 12), "headbody123!");
}

TEST(Ring, ResetEmptiesTheRing) {
  RingPtr ring = make_ring(16);
  advance_heads(ring.get(), 5);
  ASSERT_EQ(write_string(ring.get(), "stale"), 5U);

  zix_ring_reset(ring.get());
  EXPECT_EQ(zix_ring_read_space(ring.get()), 0U);
  EXPECT_EQ(zix_ring_write_space(ring.get()), 15U);

  ASSERT_EQ(write_string(ring.get(), std::string(15, 'f')), 15U);
  EXPECT_EQ(read_string(ring.get(), 15), std::string(15, 'f'));
}

TEST(Ring, MlockLeavesTheRingWorking) {
  RingPtr ring = make_ring(4096);
  const ZixStatus status = zix_ring_mlock(ring.get());

  // Locking needs memlock rights the user may not have; a refusal must still
  // come back as one of the statuses mlock's errors map to.
  EXPECT_TRUE(status == ZIX_STATUS_SUCCESS || status == ZIX_STATUS_NO_MEM ||
              status == ZIX_STATUS_BAD_PERMS || status == ZIX_STATUS_UNAVAILABLE)
      << zix_strerror(status);

  ASSERT_EQ(write_string(ring.get(), "still works"), 11U);
  EXPECT_EQ(read_string(ring.get(), 11), "still works");
}

} // namespace
