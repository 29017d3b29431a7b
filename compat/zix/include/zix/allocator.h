/* Pluggable memory allocation, so that callers can keep zix away from the
   system heap (for example on a real-time thread). */

#ifndef ZIX_ALLOCATOR_H
#define ZIX_ALLOCATOR_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZixAllocatorImpl ZixAllocator;

/* Every function gets the allocator itself, so an allocator with state can
   embed a ZixAllocator as its first member and find its state again. */
typedef void* (*ZixMallocFunc)(ZixAllocator* allocator, size_t size);
typedef void* (*ZixCallocFunc)(ZixAllocator* allocator, size_t nmemb, size_t size);
typedef void* (*ZixReallocFunc)(ZixAllocator* allocator, void* ptr, size_t size);
typedef void (*ZixFreeFunc)(ZixAllocator* allocator, void* ptr);
typedef void* (*ZixAlignedAllocFunc)(ZixAllocator* allocator, size_t alignment, size_t size);
typedef void (*ZixAlignedFreeFunc)(ZixAllocator* allocator, void* ptr);

struct ZixAllocatorImpl {
  ZixMallocFunc malloc;
  ZixCallocFunc calloc;
  ZixReallocFunc realloc;
  ZixFreeFunc free;
  ZixAlignedAllocFunc aligned_alloc;
  ZixAlignedFreeFunc aligned_free;
};

/* The process-wide allocator backed by the system heap. */
ZixAllocator* zix_default_allocator(void);

/* Each of these accepts a null allocator, meaning the default one. */
void* zix_malloc(ZixAllocator* allocator, size_t size);
void* zix_calloc(ZixAllocator* allocator, size_t nmemb, size_t size);
void* zix_realloc(ZixAllocator* allocator, void* ptr, size_t size);
void zix_free(ZixAllocator* allocator, void* ptr);

/* Memory from zix_aligned_alloc must go back through zix_aligned_free. */
void* zix_aligned_alloc(ZixAllocator* allocator, size_t alignment, size_t size);
void zix_aligned_free(ZixAllocator* allocator, void* ptr);

#ifdef __cplusplus
}
#endif

#endif /* ZIX_ALLOCATOR_H */
