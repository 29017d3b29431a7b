#include "zix/allocator.h"

#include <cstdlib>

namespace {

void* default_malloc(ZixAllocator*, const size_t size) {
  return std::malloc(size);
}

void* default_calloc(ZixAllocator*, const size_t nmemb, const size_t size) {
  return std::calloc(nmemb, size);
}

void* default_realloc(ZixAllocator*, void* const ptr, const size_t size) {
  return std::realloc(ptr, size);
}

void default_free(ZixAllocator*, void* const ptr) {
  std::free(ptr);
}

void* default_aligned_alloc(ZixAllocator*, size_t alignment, const size_t size) {
  // posix_memalign rejects alignments below a pointer's size, which callers
  // asking for the alignment of a small type would otherwise trip over; and
  // unlike aligned_alloc it does not require size to be a multiple.
  if (alignment < sizeof(void*)) {
    alignment = sizeof(void*);
  }
  void* ptr = nullptr;
  return posix_memalign(&ptr, alignment, size) ? nullptr : ptr;
}

void default_aligned_free(ZixAllocator*, void* const ptr) {
  std::free(ptr);
}

ZixAllocator default_allocator = {
    default_malloc, default_calloc,        default_realloc,
    default_free,   default_aligned_alloc, default_aligned_free,
};

ZixAllocator* resolve(ZixAllocator* const allocator) {
  return allocator ? allocator : &default_allocator;
}

} // namespace

extern "C" {

ZixAllocator* zix_default_allocator(void) {
  return &default_allocator;
}

void* zix_malloc(ZixAllocator* const allocator, const size_t size) {
  ZixAllocator* const a = resolve(allocator);
  return a->malloc(a, size);
}

void* zix_calloc(ZixAllocator* const allocator, const size_t nmemb, const size_t size) {
  ZixAllocator* const a = resolve(allocator);
  return a->calloc(a, nmemb, size);
}

void* zix_realloc(ZixAllocator* const allocator, void* const ptr, const size_t size) {
  ZixAllocator* const a = resolve(allocator);
  return a->realloc(a, ptr, size);
}

void zix_free(ZixAllocator* const allocator, void* const ptr) {
  ZixAllocator* const a = resolve(allocator);
  a->free(a, ptr);
}

void* zix_aligned_alloc(ZixAllocator* const allocator, const size_t alignment, const size_t size) {
  ZixAllocator* const a = resolve(allocator);
  return a->aligned_alloc(a, alignment, size);
}

void zix_aligned_free(ZixAllocator* const allocator, void* const ptr) {
  ZixAllocator* const a = resolve(allocator);
  a->aligned_free(a, ptr);
}

} // extern "C"
