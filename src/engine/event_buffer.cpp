#include "engine/event_buffer.hpp"

#include <algorithm>
#include <cstring>
#include <zix/allocator.h>

namespace {

constexpr uint32_t event_header_size = sizeof(LV2_Atom_Event);

constexpr uint32_t padded_event_size(uint32_t body_size) {
  return (event_header_size + body_size + 7U) & ~7U;
}

uint8_t* event_space(EventBuffer* buffer) {
  return reinterpret_cast<uint8_t*>(buffer + 1);
}

bool holds_sequence(const EventBuffer* buffer) {
  return buffer->sequence.atom.type == buffer->atom_Sequence;
}

} // namespace

static_assert(sizeof(EventBuffer) == 32, "the event space starts 32 bytes into the block");

EventBuffer* event_buffer_new(uint32_t capacity, LV2_URID atom_Chunk, LV2_URID atom_Sequence) {
  const size_t block_size = size_t{capacity} + 48U;
  auto* buffer = static_cast<EventBuffer*>(zix_aligned_alloc(nullptr, 16, block_size));
  if (!buffer) {
    return nullptr;
  }
  std::memset(buffer, 0, sizeof(EventBuffer));
  buffer->capacity = capacity;
  buffer->atom_Chunk = atom_Chunk;
  buffer->atom_Sequence = atom_Sequence;
  return buffer;
}

void event_buffer_free(EventBuffer* buffer) {
  zix_aligned_free(nullptr, buffer);
}

void event_buffer_reset(EventBuffer* buffer, bool input) {
  if (input) {
    buffer->sequence.atom.size = sizeof(LV2_Atom_Sequence_Body);
    buffer->sequence.atom.type = buffer->atom_Sequence;
  } else {
    buffer->sequence.atom.size = buffer->capacity;
    buffer->sequence.atom.type = buffer->atom_Chunk;
  }
}

void event_buffer_retime_to_start(EventBuffer* buffer) {
  if (event_buffer_size(buffer) == 0) {
    return; // as after every running cycle: only paused cycles leave events
  }
  for (EventBufferIterator i = event_buffer_first(buffer); event_iter_valid(i);
       i = event_iter_next(i)) {
    reinterpret_cast<LV2_Atom_Event*>(event_space(buffer) + i.offset)->time.frames = 0;
  }
}

uint32_t event_buffer_size(const EventBuffer* buffer) {
  // A plugin may write any sequence size; what lies past the capacity it
  // was given is not the buffer's, so the walk never reads there.
  const uint32_t atom_size = std::min(buffer->sequence.atom.size, buffer->capacity);
  const uint32_t header_size = sizeof(LV2_Atom_Sequence_Body);
  return holds_sequence(buffer) && atom_size > header_size ? atom_size - header_size : 0U;
}

uint32_t event_buffer_capacity(const EventBuffer* buffer) {
  return buffer->capacity;
}

LV2_Atom_Sequence* event_buffer_atom(EventBuffer* buffer) {
  return &buffer->sequence;
}

EventBufferIterator event_buffer_first(EventBuffer* buffer) {
  return {buffer, 0};
}

EventBufferIterator event_buffer_end(EventBuffer* buffer) {
  return {buffer, (event_buffer_size(buffer) + 7U) & ~7U};
}

namespace {

// Whether the event at `offset` lies whole, header and body, inside the
// sequence.  A plugin wrote both sizes, so an event that runs past the end
// is no event: handing it out would let a reader past the buffer.
bool event_fits(EventBuffer* buffer, uint32_t offset) {
  const uint32_t end = event_buffer_size(buffer);
  if (offset >= end || end - offset < event_header_size) {
    return false;
  }
  const auto* event = reinterpret_cast<const LV2_Atom_Event*>(event_space(buffer) + offset);
  return event->body.size <= end - offset - event_header_size;
}

} // namespace

bool event_iter_valid(EventBufferIterator iter) {
  return holds_sequence(iter.buffer) && event_fits(iter.buffer, iter.offset);
}

EventBufferIterator event_iter_next(EventBufferIterator iter) {
  const uint32_t end = event_buffer_size(iter.buffer);
  if (iter.offset < end) {
    const auto* event =
        reinterpret_cast<const LV2_Atom_Event*>(event_space(iter.buffer) + iter.offset);
    // The plugin wrote this size; an event that does not fit ends the walk
    // rather than wrapping the offset around.
    const uint64_t next = uint64_t{iter.offset} + padded_event_size(event->body.size);
    iter.offset =
        event_fits(iter.buffer, iter.offset) && next < end ? static_cast<uint32_t>(next) : end;
  }
  return iter;
}

bool event_iter_get(EventBufferIterator iter, uint32_t* frames, uint32_t* subframes, uint32_t* type,
                    uint32_t* size, const void** data) {
  *frames = *subframes = *type = *size = 0;
  *data = nullptr;
  if (!event_iter_valid(iter)) {
    return false;
  }
  const auto* event =
      reinterpret_cast<const LV2_Atom_Event*>(event_space(iter.buffer) + iter.offset);
  *frames = static_cast<uint32_t>(event->time.frames);
  *type = event->body.type;
  *size = event->body.size;
  *data = event + 1;
  return true;
}

namespace {

// Shared by both writers, and inlined into each: every MIDI event from the
// backend and the UI side goes through here.
inline void* reserve_event(EventBufferIterator* iter, uint32_t frames, uint32_t type,
                           uint32_t size) {
  EventBuffer* buffer = iter->buffer;
  // An output buffer holds a chunk whose size is the whole capacity, so the
  // space test below would wrap; it is refused outright instead.  Sums are
  // taken in 64 bits so that no size can wrap them.
  const uint64_t atom_size = buffer->sequence.atom.size;
  const uint64_t needed = uint64_t{event_header_size} + size;
  if (!holds_sequence(buffer) || atom_size + 8U + needed > buffer->capacity ||
      iter->offset + needed > uint64_t{buffer->capacity} + 16U) {
    return nullptr;
  }

  auto* event = reinterpret_cast<LV2_Atom_Event*>(event_space(buffer) + iter->offset);
  event->time.frames = int64_t{frames};
  event->body.size = size;
  event->body.type = type;

  const uint32_t padded = padded_event_size(size);
  buffer->sequence.atom.size += padded;
  iter->offset += padded;
  return event + 1;
}

} // namespace

void* event_iter_reserve(EventBufferIterator* iter, uint32_t frames, uint32_t type, uint32_t size) {
  return reserve_event(iter, frames, type, size);
}

bool event_iter_write(EventBufferIterator* iter, uint32_t frames, uint32_t /*subframes*/,
                      uint32_t type, uint32_t size, const void* data) {
  void* body = reserve_event(iter, frames, type, size);
  if (body && size > 0) { // an empty body may come without data
    std::memcpy(body, data, size);
  }
  return body != nullptr;
}
