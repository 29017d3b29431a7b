/* A lock-free byte ring for exactly one reading and one writing thread. */

#ifndef ZIX_RING_H
#define ZIX_RING_H

#include "zix/allocator.h"
#include "zix/status.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZixRingImpl ZixRing;

/* A write in progress: the reader head seen when it began and the position
   just past the bytes amended so far.  Nothing is visible until commit. */
typedef struct {
  uint32_t read_head;
  uint32_t write_head;
} ZixRingTransaction;

/* The size is rounded up to a power of two and one byte of it is never
   used, so that a full ring can be told from an empty one: writing n bytes
   at once needs a size of at least n + 1.  Null when allocation fails. */
ZixRing* zix_ring_new(ZixAllocator* allocator, uint32_t size);

/* Accepts null. */
void zix_ring_free(ZixRing* ring);

/* Locks the ring's memory into RAM, so that neither side can page-fault. */
ZixStatus zix_ring_mlock(ZixRing* ring);

/* Empties the ring; only while no thread reads or writes it. */
void zix_ring_reset(ZixRing* ring);

/* The most bytes the ring can hold at once. */
uint32_t zix_ring_capacity(const ZixRing* ring);

/* Reader side.  Each call transfers exactly size bytes and returns size, or
   transfers nothing and returns 0. */
uint32_t zix_ring_read_space(const ZixRing* ring);
uint32_t zix_ring_peek(ZixRing* ring, void* dst, uint32_t size);
uint32_t zix_ring_read(ZixRing* ring, void* dst, uint32_t size);
uint32_t zix_ring_skip(ZixRing* ring, uint32_t size);

/* Writer side, with the same all-or-nothing rule. */
uint32_t zix_ring_write_space(const ZixRing* ring);
uint32_t zix_ring_write(ZixRing* ring, const void* src, uint32_t size);

/* Writes that the reader must see whole although they are gathered in
   pieces: begin, amend any number of times, then commit.  After an amend
   fails with ZIX_STATUS_NO_MEM the transaction must be dropped, not
   committed. */
ZixRingTransaction zix_ring_begin_write(ZixRing* ring);
ZixStatus zix_ring_amend_write(ZixRing* ring, ZixRingTransaction* tx, const void* src,
                               uint32_t size);
ZixStatus zix_ring_commit_write(ZixRing* ring, const ZixRingTransaction* tx);

#ifdef __cplusplus
}
#endif

#endif /* ZIX_RING_H */
