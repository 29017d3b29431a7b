/* A counting semaphore that callers embed by value. */

#ifndef ZIX_SEM_H
#define ZIX_SEM_H

#include "zix/status.h"

#include <semaphore.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZixSemImpl ZixSem;

struct ZixSemImpl {
  sem_t sem;
};

ZixStatus zix_sem_init(ZixSem* sem, unsigned initial);
ZixStatus zix_sem_destroy(ZixSem* sem);

/* Safe to call from a real-time thread and from a signal handler. */
ZixStatus zix_sem_post(ZixSem* sem);

/* Blocks until the count can be decremented. */
ZixStatus zix_sem_wait(ZixSem* sem);

/* Never blocks: ZIX_STATUS_UNAVAILABLE when the count was zero. */
ZixStatus zix_sem_try_wait(ZixSem* sem);

/* Blocks for at most the given time: ZIX_STATUS_TIMEOUT when it passed. */
ZixStatus zix_sem_timed_wait(ZixSem* sem, uint32_t seconds, uint32_t nanoseconds);

#ifdef __cplusplus
}
#endif

#endif /* ZIX_SEM_H */
