#pragma once

// An LV2 atom sequence buffer for one event port: a single 16-byte aligned
// block of capacity + 48 bytes that the plugin port is connected to.  Inputs
// are reset to an empty sequence and appended to; outputs are reset to a
// chunk announcing the free space, and walked after the plugin ran.

#include "engine/realtime.hpp"

#include <cstdint>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

struct EventBuffer {
  uint32_t capacity; ///< Bytes of event space.
  uint32_t atom_Chunk;
  uint32_t atom_Sequence;
  uint32_t alignment; ///< Keeps the sequence 8-byte aligned.
  LV2_Atom_Sequence sequence;
  // capacity + 16 bytes of event space follow.
};

struct EventBufferIterator {
  EventBuffer* buffer;
  uint32_t offset; ///< Byte offset into the event space.
};

/// Return a new buffer with `capacity` bytes of event space, in neither
/// state until it is reset; null when memory is exhausted.
EventBuffer* event_buffer_new(uint32_t capacity, LV2_URID atom_Chunk, LV2_URID atom_Sequence);

/// Free a buffer.  Null is allowed.
void event_buffer_free(EventBuffer* buffer);

/// Reset to an empty sequence (input) or to a chunk of `capacity` bytes
/// that the plugin may fill (output).
BEXO_REALTIME void event_buffer_reset(EventBuffer* buffer, bool input);

/// Move every event of an input sequence to frame 0.  Events that arrived
/// while the plugin was paused are due at the start of its next cycle, in
/// front of that cycle's own events.
BEXO_REALTIME void event_buffer_retime_to_start(EventBuffer* buffer);

/// Bytes of events in the sequence; 0 when the buffer holds no sequence.
BEXO_REALTIME uint32_t event_buffer_size(const EventBuffer* buffer);

BEXO_REALTIME uint32_t event_buffer_capacity(const EventBuffer* buffer);

/// The sequence atom that the plugin port is connected to.
BEXO_REALTIME LV2_Atom_Sequence* event_buffer_atom(EventBuffer* buffer);

BEXO_REALTIME EventBufferIterator event_buffer_first(EventBuffer* buffer);

/// The iterator one past the last event, where appended events go.
BEXO_REALTIME EventBufferIterator event_buffer_end(EventBuffer* buffer);

/// True when the iterator stands on an event.
BEXO_REALTIME bool event_iter_valid(EventBufferIterator iter);

/// The iterator on the following event; unchanged when not valid.
BEXO_REALTIME EventBufferIterator event_iter_next(EventBufferIterator iter);

/// Read the event under the iterator.  frames is the low 32 bits of its
/// time; data points into the buffer until it is reset or written.  False,
/// with every output zero, when the iterator stands on no event.
BEXO_REALTIME bool event_iter_get(EventBufferIterator iter, uint32_t* frames, uint32_t* subframes,
                                  uint32_t* type, uint32_t* size, const void** data);

/// Write an event where the iterator stands and advance it.  Refused (false,
/// nothing changed) when the buffer is not an input sequence or the event
/// does not fit.
BEXO_REALTIME bool event_iter_write(EventBufferIterator* iter, uint32_t frames, uint32_t subframes,
                                    uint32_t type, uint32_t size, const void* data);

/// Write the header of an event of `size` body bytes where the iterator
/// stands and advance it, as event_iter_write does; the body, left to the
/// caller to fill before the plugin runs, goes where the returned pointer
/// points.  Null (nothing changed) when event_iter_write would refuse.
BEXO_REALTIME void* event_iter_reserve(EventBufferIterator* iter, uint32_t frames, uint32_t type,
                                       uint32_t size);

/// Call `visit(frames, type, size, data)` for every event of the buffer, in
/// order, as the iterators walk it (an event that runs past the sequence
/// ends the walk); `data` points into the buffer.  The sequence's size is
/// read once, as this runs for every output in every cycle.  For a visit
/// that is real-time, the walk is too.
template <typename Visit>
BEXO_REALTIME void event_buffer_for_each(EventBuffer* buffer, Visit&& visit) {
  const uint32_t end = event_buffer_size(buffer);
  const auto* space = reinterpret_cast<const uint8_t*>(buffer + 1);
  for (uint32_t offset = 0; end - offset >= sizeof(LV2_Atom_Event);) {
    const auto* event = reinterpret_cast<const LV2_Atom_Event*>(space + offset);
    if (event->body.size > end - offset - sizeof(LV2_Atom_Event)) {
      return;
    }
    visit(static_cast<uint32_t>(event->time.frames), event->body.type, event->body.size,
          static_cast<const void*>(event + 1));
    const uint64_t next =
        uint64_t{offset} + ((sizeof(LV2_Atom_Event) + event->body.size + 7U) & ~7U);
    if (next >= end) {
      return;
    }
    offset = static_cast<uint32_t>(next);
  }
}
