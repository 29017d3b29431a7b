/* Threads with a chosen stack size. */

#ifndef ZIX_THREAD_H
#define ZIX_THREAD_H

#include "zix/status.h"

#include <pthread.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The calling convention of a thread function; platforms other than POSIX
   need one. */
#define ZIX_THREAD_FUNC

/* What a thread function returns when it has nothing to report. */
#define ZIX_THREAD_RESULT NULL

typedef pthread_t ZixThread;
typedef void* ZixThreadResult;
typedef ZixThreadResult(ZIX_THREAD_FUNC* ZixThreadFunc)(void*);

/* A stack_size of 0 keeps the system's default. */
ZixStatus zix_thread_create(ZixThread* thread, size_t stack_size, ZixThreadFunc function,
                            void* arg);

ZixStatus zix_thread_join(ZixThread thread);

#ifdef __cplusplus
}
#endif

#endif /* ZIX_THREAD_H */
