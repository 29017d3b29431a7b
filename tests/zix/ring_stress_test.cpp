// One writer and one reader hammer a small ring with messages of varying
// length, so that the heads wrap and the ring fills constantly.  Every byte
// is checked, and a message must never be visible in part.

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <zix/ring.h>

namespace {

constexpr uint32_t message_count = 2'000'000;
constexpr uint32_t ring_size = 512;
constexpr uint32_t max_body = 200;

uint32_t body_length(uint32_t seq) {
  return ((seq * 2654435761U) >> 16U) % (max_body + 1U);
}

// Depends on every byte of the sequence number, so a lost, repeated or
// reordered message shows up in its body.
uint8_t body_byte(uint32_t seq, uint32_t i) {
  return static_cast<uint8_t>(seq * 0x9DU + (seq >> 8U) * 0x35U + (seq >> 16U) * 0x0BU +
                              (seq >> 24U) + i * 0x1FU);
}

struct Failure {
  std::atomic<bool> stop{false};
  std::string what;
};

void write_messages(ZixRing* ring, Failure& failure) {
  std::array<uint8_t, sizeof(uint32_t) + max_body> message{};
  for (uint32_t seq = 0; seq < message_count; ++seq) {
    const uint32_t length = body_length(seq);
    std::memcpy(message.data(), &length, sizeof(length));
    uint8_t* const body = message.data() + sizeof(length);
    for (uint32_t i = 0; i < length; ++i) {
      body[i] = body_byte(seq, i);
    }

    // Alternate between plain writes and header-then-body transactions, as
    // the host sends events both ways.
    for (;;) {
      if (failure.stop.load(std::memory_order_relaxed)) {
        return;
      }
      bool written = false;
      if (seq % 2U == 0U) {
        const uint32_t size = static_cast<uint32_t>(sizeof(length)) + length;
        written = zix_ring_write(ring, message.data(), size) == size;
      } else {
        ZixRingTransaction tx = zix_ring_begin_write(ring);
        written = !zix_ring_amend_write(ring, &tx, &length, sizeof(length)) &&
                  !zix_ring_amend_write(ring, &tx, body, length) &&
                  !zix_ring_commit_write(ring, &tx);
      }
      if (written) {
        break;
      }
      std::this_thread::yield(); // full: wait for the reader
    }
  }
}

void read_messages(ZixRing* ring, Failure& failure) {
  std::array<uint8_t, sizeof(uint32_t) + max_body> message{};
  for (uint32_t seq = 0; seq < message_count; ++seq) {
    uint32_t length = 0;
    while (zix_ring_peek(ring, &length, sizeof(length)) != sizeof(length)) {
      std::this_thread::yield();
    }

    const uint32_t size = static_cast<uint32_t>(sizeof(length)) + length;
    std::string error;
    if (length != body_length(seq)) {
      error = "length " + std::to_string(length);
    } else if (zix_ring_read_space(ring) < size) {
      error = "only part of it visible";
    } else if (zix_ring_read(ring, message.data(), size) != size) {
      error = "read refused";
    } else {
      for (uint32_t i = 0; i < length && error.empty(); ++i) {
        if (message[sizeof(length) + i] != body_byte(seq, i)) {
          error = "byte " + std::to_string(i);
        }
      }
    }

    if (!error.empty()) {
      failure.what = "message " + std::to_string(seq) + ": " + error;
      failure.stop.store(true, std::memory_order_relaxed);
      return;
    }
  }
}

TEST(RingStress, TwoThreadsPassMillionsOfMessagesIntact) {
  ZixRing* const ring = zix_ring_new(nullptr, ring_size);
  ASSERT_NE(ring, nullptr);

  Failure failure;
  std::thread writer{write_messages, ring, std::ref(failure)};
  read_messages(ring, failure);
  writer.join();

  EXPECT_EQ(failure.what, "");
  EXPECT_EQ(zix_ring_read_space(ring), 0U);
  zix_ring_free(ring);
}

} // namespace
