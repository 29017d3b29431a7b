#pragma once

// Reading the host's rings from a test: every message waiting, header and
// body, with accessors for the fields of each message type.

#include "engine/message.hpp"

#include <cstdint>
#include <cstring>
#include <lv2/atom/atom.h>
#include <vector>
#include <zix/ring.h>

struct RingMessage {
  uint32_t type;
  std::vector<uint8_t> body;

  /// Control and event messages.
  uint32_t port_index() const { return read_u32(0); }
  /// The control value, or the latency of a latency message.
  float value() const {
    float value = 0.0f;
    std::memcpy(&value, body.data() + (type == LATENCY_CHANGE ? 0 : 4), sizeof(value));
    return value;
  }
  /// The atom of an event message, header and body.
  const LV2_Atom* atom() const { return reinterpret_cast<const LV2_Atom*>(body.data() + 4); }
  uint32_t atom_size() const { return read_u32(4); }
  uint32_t atom_type() const { return read_u32(8); }
  const uint8_t* atom_body() const { return body.data() + 12; }

private:
  uint32_t read_u32(size_t offset) const {
    uint32_t value = 0;
    std::memcpy(&value, body.data() + offset, sizeof(value));
    return value;
  }
};

/// Every message now waiting in `ring`, in order.
inline std::vector<RingMessage> read_ring_messages(ZixRing* ring) {
  std::vector<RingMessage> messages;
  MessageHeader header{};
  while (zix_ring_read(ring, &header, sizeof(header)) == sizeof(header)) {
    RingMessage message{header.type, std::vector<uint8_t>(header.size)};
    zix_ring_read(ring, message.body.data(), header.size);
    messages.push_back(std::move(message));
  }
  return messages;
}
