#include "zix/thread.h"

#include "errno_status.h"

extern "C" {

// The pthread calls return their error instead of setting errno.
ZixStatus zix_thread_create(ZixThread* const thread, const size_t stack_size,
                            const ZixThreadFunc function, void* const arg) {
  pthread_attr_t attr;
  int error = pthread_attr_init(&attr);
  if (error) {
    return zix_compat::errno_status(error);
  }

  if (stack_size) {
    error = pthread_attr_setstacksize(&attr, stack_size);
  }
  if (!error) {
    error = pthread_create(thread, &attr, function, arg);
  }

  pthread_attr_destroy(&attr);
  return zix_compat::errno_status(error);
}

ZixStatus zix_thread_join(const ZixThread thread) {
  return zix_compat::errno_status(pthread_join(thread, nullptr));
}

} // extern "C"
