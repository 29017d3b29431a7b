#include "realtime_guard.hpp"

#include <atomic>
#include <cstddef>
#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>
#include <time.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* ptr);
}

namespace {

thread_local bool in_section = false;
std::atomic<int> violations{0};
std::atomic<const char*> first_violation{nullptr};

void note(const char* what) {
  if (in_section) {
    const char* none = nullptr;
    first_violation.compare_exchange_strong(none, what);
    ++violations;
  }
}

using MutexFunc = int (*)(pthread_mutex_t*);
using SemFunc = int (*)(sem_t*);
using SemTimedFunc = int (*)(sem_t*, const struct timespec*);

MutexFunc real_mutex_lock = nullptr;
MutexFunc real_mutex_trylock = nullptr;
SemFunc real_sem_wait = nullptr;
SemTimedFunc real_sem_timedwait = nullptr;

// Looked up before main, so no lookup runs inside a section.  dlsym itself
// locks: until the lookup is done, in the single-threaded start of the
// program, a mutex is taken as granted.
__attribute__((constructor)) void find_real_functions() {
  real_mutex_lock = reinterpret_cast<MutexFunc>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
  real_mutex_trylock = reinterpret_cast<MutexFunc>(dlsym(RTLD_NEXT, "pthread_mutex_trylock"));
  real_sem_wait = reinterpret_cast<SemFunc>(dlsym(RTLD_NEXT, "sem_wait"));
  real_sem_timedwait = reinterpret_cast<SemTimedFunc>(dlsym(RTLD_NEXT, "sem_timedwait"));
}

} // namespace

RealtimeSection::RealtimeSection() {
  in_section = true;
}
RealtimeSection::~RealtimeSection() {
  in_section = false;
}

int realtime_violations() {
  return violations.load();
}

std::string first_realtime_violation() {
  const char* what = first_violation.load();
  return what ? what : "";
}

void reset_realtime_violations() {
  violations.store(0);
  first_violation.store(nullptr);
}

extern "C" {

void* malloc(size_t size) {
  note("malloc");
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  note("calloc");
  return __libc_calloc(count, size);
}

void* realloc(void* ptr, size_t size) {
  note("realloc");
  return __libc_realloc(ptr, size);
}

void free(void* ptr) {
  if (ptr) {
    note("free");
  }
  __libc_free(ptr);
}

void* memalign(size_t alignment, size_t size) {
  note("memalign");
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  note("aligned_alloc");
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
  note("posix_memalign");
  void* ptr = __libc_memalign(alignment, size);
  if (!ptr) {
    return 12; // ENOMEM
  }
  *result = ptr;
  return 0;
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
  note("pthread_mutex_lock");
  return real_mutex_lock ? real_mutex_lock(mutex) : 0;
}

int pthread_mutex_trylock(pthread_mutex_t* mutex) {
  note("pthread_mutex_trylock");
  return real_mutex_trylock ? real_mutex_trylock(mutex) : 0;
}

int sem_wait(sem_t* sem) {
  note("sem_wait");
  if (!real_sem_wait) {
    find_real_functions();
  }
  return real_sem_wait(sem);
}

int sem_timedwait(sem_t* sem, const struct timespec* deadline) {
  note("sem_timedwait");
  if (!real_sem_timedwait) {
    find_real_functions();
  }
  return real_sem_timedwait(sem, deadline);
}

} // extern "C"
