#include "zix/ring.h"

#include "errno_status.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <sys/mman.h>

// Each head is written by one side only and read by the other.  The reader
// publishes its head with release after it has copied bytes out, and the
// writer acquires it before overwriting them; the writer publishes its head
// with release after copying bytes in, and the reader acquires it before
// copying them out.  Heads stay masked into [0, size), and one byte is never
// used so that equal heads always mean empty.
struct ZixRingImpl {
  ZixRingImpl(ZixAllocator* const a, const uint32_t s, char* const b) noexcept
      : allocator{a}, size{s}, mask{s - 1U}, buf{b} {}

  ZixAllocator* const allocator;
  const uint32_t size;
  const uint32_t mask;
  char* const buf;

  // Apart, so that the two threads do not keep stealing one cache line from
  // each other on every call.
  alignas(64) std::atomic<uint32_t> write_head{0U};
  alignas(64) std::atomic<uint32_t> read_head{0U};
};

namespace {

uint32_t space_to_read(const uint32_t r, const uint32_t w, const uint32_t mask) {
  return (w - r) & mask;
}

uint32_t space_to_write(const uint32_t r, const uint32_t w, const uint32_t mask) {
  return (r - w - 1U) & mask;
}

void copy_out(const ZixRing* const ring, const uint32_t r, void* const dst, const uint32_t size) {
  const uint32_t first = std::min(size, ring->size - r);
  auto* const out = static_cast<char*>(dst);
  std::memcpy(out, ring->buf + r, first);
  if (size > first) { // only a message across the end wraps; the rest need no second call
    std::memcpy(out + first, ring->buf, size - first);
  }
}

void copy_in(ZixRing* const ring, const uint32_t w, const void* const src, const uint32_t size) {
  const uint32_t first = std::min(size, ring->size - w);
  const auto* const in = static_cast<const char*>(src);
  std::memcpy(ring->buf + w, in, first);
  if (size > first) {
    std::memcpy(ring->buf, in + first, size - first);
  }
}

} // namespace

extern "C" {

ZixRing* zix_ring_new(ZixAllocator* const allocator, const uint32_t size) {
  // Beyond 2^31 there is no 32-bit power of two to round up to.
  if (size > (UINT32_C(1) << 31U)) {
    return nullptr;
  }

  const uint32_t rounded = std::bit_ceil(std::max(size, UINT32_C(1)));
  void* const mem = zix_aligned_alloc(allocator, alignof(ZixRingImpl), sizeof(ZixRingImpl));
  if (!mem) {
    return nullptr;
  }

  auto* const buf = static_cast<char*>(zix_malloc(allocator, rounded));
  if (!buf) {
    zix_aligned_free(allocator, mem);
    return nullptr;
  }

  return new (mem) ZixRingImpl{allocator, rounded, buf};
}

void zix_ring_free(ZixRing* const ring) {
  if (!ring) {
    return;
  }

  ZixAllocator* const allocator = ring->allocator;
  zix_free(allocator, ring->buf);
  ring->~ZixRingImpl();
  zix_aligned_free(allocator, ring);
}

ZixStatus zix_ring_mlock(ZixRing* const ring) {
  // Nothing is unlocked on free: page locks do not nest, so unlocking the
  // ring's pages could unlock a neighbour that shares them.
  if (mlock(ring, sizeof(ZixRingImpl))) {
    return zix_compat::errno_status(errno);
  }
  return zix_compat::errno_status_if(mlock(ring->buf, ring->size));
}

void zix_ring_reset(ZixRing* const ring) {
  // Only called with neither side running, so whatever made that so also
  // orders these stores.
  ring->write_head.store(0U, std::memory_order_relaxed);
  ring->read_head.store(0U, std::memory_order_relaxed);
}

uint32_t zix_ring_capacity(const ZixRing* const ring) {
  return ring->size - 1U;
}

uint32_t zix_ring_read_space(const ZixRing* const ring) {
  return space_to_read(ring->read_head.load(std::memory_order_relaxed),
                       ring->write_head.load(std::memory_order_acquire), ring->mask);
}

uint32_t zix_ring_peek(ZixRing* const ring, void* const dst, const uint32_t size) {
  const uint32_t r = ring->read_head.load(std::memory_order_relaxed);
  const uint32_t w = ring->write_head.load(std::memory_order_acquire);
  if (!size || space_to_read(r, w, ring->mask) < size) {
    return 0U;
  }

  copy_out(ring, r, dst, size);
  return size;
}

uint32_t zix_ring_read(ZixRing* const ring, void* const dst, const uint32_t size) {
  const uint32_t r = ring->read_head.load(std::memory_order_relaxed);
  const uint32_t w = ring->write_head.load(std::memory_order_acquire);
  if (!size || space_to_read(r, w, ring->mask) < size) {
    return 0U;
  }

  copy_out(ring, r, dst, size);
  ring->read_head.store((r + size) & ring->mask, std::memory_order_release);
  return size;
}

uint32_t zix_ring_skip(ZixRing* const ring, const uint32_t size) {
  const uint32_t r = ring->read_head.load(std::memory_order_relaxed);
  const uint32_t w = ring->write_head.load(std::memory_order_acquire);
  if (!size || space_to_read(r, w, ring->mask) < size) {
    return 0U;
  }

  ring->read_head.store((r + size) & ring->mask, std::memory_order_release);
  return size;
}

uint32_t zix_ring_write_space(const ZixRing* const ring) {
  return space_to_write(ring->read_head.load(std::memory_order_acquire),
                        ring->write_head.load(std::memory_order_relaxed), ring->mask);
}

uint32_t zix_ring_write(ZixRing* const ring, const void* const src, const uint32_t size) {
  ZixRingTransaction tx = zix_ring_begin_write(ring);
  if (!size || zix_ring_amend_write(ring, &tx, src, size)) {
    return 0U;
  }

  zix_ring_commit_write(ring, &tx);
  return size;
}

ZixRingTransaction zix_ring_begin_write(ZixRing* const ring) {
  return {ring->read_head.load(std::memory_order_acquire),
          ring->write_head.load(std::memory_order_relaxed)};
}

ZixStatus zix_ring_amend_write(ZixRing* const ring, ZixRingTransaction* const tx,
                               const void* const src, const uint32_t size) {
  if (!size) {
    return ZIX_STATUS_SUCCESS; // src may then be null, which memcpy must never see
  }

  if (space_to_write(tx->read_head, tx->write_head, ring->mask) < size) {
    // The reader may have made room since the transaction began.
    tx->read_head = ring->read_head.load(std::memory_order_acquire);
    if (space_to_write(tx->read_head, tx->write_head, ring->mask) < size) {
      return ZIX_STATUS_NO_MEM;
    }
  }

  copy_in(ring, tx->write_head, src, size);
  tx->write_head = (tx->write_head + size) & ring->mask;
  return ZIX_STATUS_SUCCESS;
}

ZixStatus zix_ring_commit_write(ZixRing* const ring, const ZixRingTransaction* const tx) {
  ring->write_head.store(tx->write_head, std::memory_order_release);
  return ZIX_STATUS_SUCCESS;
}

} // extern "C"
