#include "engine/event_buffer.hpp"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr LV2_URID chunk = 1;
constexpr LV2_URID sequence = 6;
constexpr LV2_URID midi = 15;

struct BufferDeleter {
  void operator()(EventBuffer* buffer) const { event_buffer_free(buffer); }
};
using BufferPtr = std::unique_ptr<EventBuffer, BufferDeleter>;

BufferPtr make_buffer(uint32_t capacity, bool input) {
  BufferPtr buffer(event_buffer_new(capacity, chunk, sequence));
  EXPECT_NE(buffer, nullptr);
  event_buffer_reset(buffer.get(), input);
  return buffer;
}

TEST(EventBuffer, LayoutIsOneAlignedBlockWithTheSequenceInside) {
  BufferPtr buffer = make_buffer(1024, true);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.get()) % 16, 0u);
  EXPECT_EQ(event_buffer_capacity(buffer.get()), 1024u);
  LV2_Atom_Sequence* atom = event_buffer_atom(buffer.get());
  EXPECT_EQ(reinterpret_cast<uint8_t*>(atom) - reinterpret_cast<uint8_t*>(buffer.get()), 16);
  EXPECT_EQ(atom->atom.size, 8u);
  EXPECT_EQ(atom->atom.type, sequence);
  EXPECT_EQ(atom->body.unit, 0u);
  EXPECT_EQ(atom->body.pad, 0u);

  event_buffer_reset(buffer.get(), false);
  EXPECT_EQ(atom->atom.size, 1024u);
  EXPECT_EQ(atom->atom.type, chunk);
}

TEST(EventBuffer, EmptyBuffersHaveNoEvents) {
  for (const bool input : {true, false}) {
    BufferPtr buffer = make_buffer(256, input);
    EXPECT_EQ(event_buffer_size(buffer.get()), 0u);
    EXPECT_EQ(event_buffer_first(buffer.get()).offset, event_buffer_end(buffer.get()).offset);
    EXPECT_FALSE(event_iter_valid(event_buffer_first(buffer.get())));
    uint32_t frames = 9, subframes = 9, type = 9, size = 9;
    const void* data = &frames;
    EXPECT_FALSE(
        event_iter_get(event_buffer_first(buffer.get()), &frames, &subframes, &type, &size, &data));
    EXPECT_EQ(frames + subframes + type + size, 0u);
    EXPECT_EQ(data, nullptr);
  }
}

TEST(EventBuffer, EventsAreWrittenPaddedAndReadBackInOrder) {
  BufferPtr buffer = make_buffer(1024, true);
  const std::array<uint8_t, 3> note_on{0x90, 60, 100};
  const std::array<uint8_t, 3> note_off{0x80, 60, 0};

  EventBufferIterator iter = event_buffer_first(buffer.get());
  ASSERT_TRUE(event_iter_write(&iter, 5, 7, midi, 3, note_on.data()));
  ASSERT_TRUE(event_iter_write(&iter, 9, 0, midi, 3, note_off.data()));
  EXPECT_EQ(event_buffer_atom(buffer.get())->atom.size, 56u);
  EXPECT_EQ(iter.offset, 48u);
  EXPECT_EQ(event_buffer_end(buffer.get()).offset, 48u);

  EventBufferIterator end = event_buffer_end(buffer.get());
  ASSERT_TRUE(event_iter_write(&end, 9, 0, 99, 0, nullptr)); // an empty body takes 16 bytes
  EXPECT_EQ(event_buffer_size(buffer.get()), 64u);

  struct Expected {
    uint32_t frames, type, size;
    const uint8_t* data;
  };
  const Expected expected[] = {
      {5, midi, 3, note_on.data()}, {9, midi, 3, note_off.data()}, {9, 99, 0, nullptr}};
  EventBufferIterator it = event_buffer_first(buffer.get());
  for (const Expected& e : expected) {
    uint32_t frames = 0, subframes = 1, type = 0, size = 0;
    const void* data = nullptr;
    ASSERT_TRUE(event_iter_get(it, &frames, &subframes, &type, &size, &data));
    EXPECT_EQ(frames, e.frames);
    EXPECT_EQ(subframes, 0u);
    EXPECT_EQ(type, e.type);
    EXPECT_EQ(size, e.size);
    if (e.data) {
      EXPECT_EQ(std::memcmp(data, e.data, e.size), 0);
    }
    it = event_iter_next(it);
  }
  EXPECT_FALSE(event_iter_valid(it));
  EXPECT_EQ(event_iter_next(it).offset, it.offset);
}

TEST(EventBuffer, SpaceTestRefusesWithoutChangingAnything) {
  struct Case {
    uint32_t capacity;
    uint32_t body_size;
    bool fits;
  };
  for (const Case& c : {Case{64, 32, true}, Case{64, 33, false}, Case{64, 0, true},
                        Case{16, 0, false}, Case{1024, 0xFFFFFFF0u, false}}) {
    SCOPED_TRACE(testing::Message() << c.capacity << "/" << c.body_size);
    BufferPtr buffer = make_buffer(c.capacity, true);
    std::array<uint8_t, 64> body{};
    EventBufferIterator iter = event_buffer_first(buffer.get());
    EXPECT_EQ(event_iter_write(&iter, 0, 0, midi, c.body_size, body.data()), c.fits);
    if (!c.fits) {
      EXPECT_EQ(iter.offset, 0u);
      EXPECT_EQ(event_buffer_size(buffer.get()), 0u);
    }
  }
}

TEST(EventBuffer, OutputStateRefusesWrites) {
  BufferPtr buffer = make_buffer(1024, false);
  const uint8_t byte = 1;
  EventBufferIterator iter = event_buffer_end(buffer.get());
  EXPECT_FALSE(event_iter_write(&iter, 0, 0, midi, 1, &byte));
  EXPECT_EQ(event_buffer_atom(buffer.get())->atom.size, 1024u);
  EXPECT_EQ(event_buffer_atom(buffer.get())->atom.type, chunk);
}

// Only the low 32 bits of a time are reported; a plugin's nonsense body size
// ends a walk instead of wrapping the offset.
TEST(EventBuffer, ReadsWhatAPluginWroteDefensively) {
  BufferPtr buffer = make_buffer(256, true);
  const uint8_t byte = 1;
  EventBufferIterator iter = event_buffer_first(buffer.get());
  ASSERT_TRUE(event_iter_write(&iter, 0, 0, midi, 1, &byte));
  auto* event = reinterpret_cast<LV2_Atom_Event*>(event_buffer_atom(buffer.get()) + 1);
  event->time.frames = (int64_t{3} << 32) + 17;

  uint32_t frames = 0, subframes = 0, type = 0, size = 0;
  const void* data = nullptr;
  EventBufferIterator first = event_buffer_first(buffer.get());
  ASSERT_TRUE(event_iter_get(first, &frames, &subframes, &type, &size, &data));
  EXPECT_EQ(frames, 17u);

  event->body.size = 0xFFFFFFF0u;
  EventBufferIterator next = event_iter_next(first);
  EXPECT_FALSE(event_iter_valid(next));
  EXPECT_EQ(next.offset, event_buffer_size(buffer.get()));
}

} // namespace
