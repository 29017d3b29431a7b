#include "zix/sem.h"

#include "errno_status.h"

#include <cerrno>
#include <ctime>

namespace {

constexpr long nanoseconds_per_second = 1000000000L;

} // namespace

extern "C" {

ZixStatus zix_sem_init(ZixSem* const sem, const unsigned initial) {
  return zix_compat::errno_status_if(sem_init(&sem->sem, 0, initial));
}

ZixStatus zix_sem_destroy(ZixSem* const sem) {
  return zix_compat::errno_status_if(sem_destroy(&sem->sem));
}

ZixStatus zix_sem_post(ZixSem* const sem) {
  return zix_compat::errno_status_if(sem_post(&sem->sem));
}

ZixStatus zix_sem_wait(ZixSem* const sem) {
  // A signal handled on this thread must not look like a wake-up.
  while (sem_wait(&sem->sem)) {
    if (errno != EINTR) {
      return zix_compat::errno_status(errno);
    }
  }
  return ZIX_STATUS_SUCCESS;
}

ZixStatus zix_sem_try_wait(ZixSem* const sem) {
  while (sem_trywait(&sem->sem)) {
    if (errno != EINTR) {
      return zix_compat::errno_status(errno); // EAGAIN: the count was zero
    }
  }
  return ZIX_STATUS_SUCCESS;
}

ZixStatus zix_sem_timed_wait(ZixSem* const sem, const uint32_t seconds,
                             const uint32_t nanoseconds) {
  // sem_timedwait only takes a deadline on the realtime clock.
  timespec deadline{};
  if (clock_gettime(CLOCK_REALTIME, &deadline)) {
    return zix_compat::errno_status(errno);
  }

  deadline.tv_sec += static_cast<time_t>(seconds) + nanoseconds / nanoseconds_per_second;
  deadline.tv_nsec += nanoseconds % nanoseconds_per_second;
  if (deadline.tv_nsec >= nanoseconds_per_second) {
    // sem_timedwait rejects a deadline whose nanoseconds overflow.
    ++deadline.tv_sec;
    deadline.tv_nsec -= nanoseconds_per_second;
  }

  // Retrying after a signal keeps the deadline, so the wait never grows.
  while (sem_timedwait(&sem->sem, &deadline)) {
    if (errno != EINTR) {
      return zix_compat::errno_status(errno);
    }
  }
  return ZIX_STATUS_SUCCESS;
}

} // extern "C"
