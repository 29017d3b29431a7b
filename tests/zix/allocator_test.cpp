#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <zix/allocator.h>
#include <zix/filesystem.h>
#include <zix/path.h>
#include <zix/ring.h>

namespace {

TEST(Allocator, NullMeansTheDefault) {
  ZixAllocator* const defaults = zix_default_allocator();
  ASSERT_NE(defaults, nullptr);
  EXPECT_EQ(zix_default_allocator(), defaults);

  for (ZixAllocator* const allocator : {static_cast<ZixAllocator*>(nullptr), defaults}) {
    SCOPED_TRACE(allocator ? "default" : "null");

    auto* const zeroed = static_cast<unsigned char*>(zix_calloc(allocator, 64, 4));
    ASSERT_NE(zeroed, nullptr);
    for (size_t i = 0; i < 256; ++i) {
      ASSERT_EQ(zeroed[i], 0U) << i;
    }
    zix_free(allocator, zeroed);

    auto* bytes = static_cast<char*>(zix_malloc(allocator, 6));
    ASSERT_NE(bytes, nullptr);
    std::memcpy(bytes, "grown", 6);
    bytes = static_cast<char*>(zix_realloc(allocator, bytes, 1 << 20));
    ASSERT_NE(bytes, nullptr);
    EXPECT_STREQ(bytes, "grown");
    zix_free(allocator, bytes);

    // Smaller than a pointer too: posix_memalign alone would refuse that.
    for (const size_t alignment : {size_t{1}, size_t{4}, size_t{64}, size_t{4096}}) {
      void* const ptr = zix_aligned_alloc(allocator, alignment, 100);
      ASSERT_NE(ptr, nullptr) << alignment;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(ptr) % alignment, 0U) << alignment;
      std::memset(ptr, 0xA5, 100);
      zix_aligned_free(allocator, ptr);
    }
  }
}

// Counts what passes through it and fails on request, embedding the
// ZixAllocator first so the callbacks can find their state.
struct CountingAllocator {
  ZixAllocator base;
  bool fail = false;
  int live = 0;
  int calls = 0;

  static CountingAllocator& self(ZixAllocator* a) {
    return *reinterpret_cast<CountingAllocator*>(a);
  }

  static void* take(ZixAllocator* a, void* ptr) {
    ++self(a).calls;
    if (ptr) {
      ++self(a).live;
    }
    return ptr;
  }
  static void give(ZixAllocator* a, void* ptr) {
    if (ptr) {
      --self(a).live;
    }
    std::free(ptr);
  }

  CountingAllocator()
      : base{
            [](ZixAllocator* a, size_t size) {
              return take(a, self(a).fail ? nullptr : std::malloc(size));
            },
            [](ZixAllocator* a, size_t n, size_t size) {
              return take(a, self(a).fail ? nullptr : std::calloc(n, size));
            },
            [](ZixAllocator* a, void* ptr, size_t size) -> void* {
              ++self(a).calls;
              return self(a).fail ? nullptr : std::realloc(ptr, size);
            },
            give,
            [](ZixAllocator* a, size_t alignment, size_t size) -> void* {
              void* ptr = nullptr;
              if (self(a).fail || posix_memalign(&ptr, alignment, size)) {
                ptr = nullptr;
              }
              return take(a, ptr);
            },
            give,
        } {}
};

TEST(Allocator, ZixAllocatesThroughTheCallersAllocator) {
  CountingAllocator counting;
  ZixAllocator* const allocator = &counting.base;

  ZixRing* const ring = zix_ring_new(allocator, 64);
  ASSERT_NE(ring, nullptr);
  EXPECT_GT(counting.live, 0);
  ASSERT_EQ(zix_ring_write(ring, "abc", 3), 3U);
  zix_ring_free(ring);
  EXPECT_EQ(counting.live, 0);

  char* const joined = zix_path_join(allocator, "a", "b");
  ASSERT_NE(joined, nullptr);
  EXPECT_STREQ(joined, "a/b");
  EXPECT_EQ(counting.live, 1);
  zix_free(allocator, joined);

  char* const tmp = zix_temp_directory_path(allocator);
  ASSERT_NE(tmp, nullptr);
  EXPECT_EQ(counting.live, 1);
  zix_free(allocator, tmp);
  EXPECT_EQ(counting.live, 0);
}

TEST(Allocator, FailedAllocationGivesNull) {
  CountingAllocator counting;
  counting.fail = true;
  ZixAllocator* const allocator = &counting.base;

  EXPECT_EQ(zix_ring_new(allocator, 64), nullptr);
  EXPECT_EQ(zix_path_join(allocator, "a", "b"), nullptr);
  EXPECT_EQ(zix_path_join(allocator, nullptr, "b"), nullptr);
  EXPECT_EQ(zix_temp_directory_path(allocator), nullptr);
  EXPECT_EQ(zix_create_temporary_directory(allocator, "/tmp/bexo-zix-never-XXXXXX"), nullptr);
  EXPECT_GT(counting.calls, 0);
  EXPECT_EQ(counting.live, 0);
}

} // namespace
