#pragma once

// The host side of the LV2 worker: a plugin schedules slow work from its
// run(); the work runs on a worker thread (or, for the synchronous worker
// used while state is restored, at once in the calling thread); responses
// return through a ring and reach the plugin on the audio thread.

#include "engine/realtime.hpp"

#include <atomic>
#include <cstdint>
#include <lv2/core/lv2.h>
#include <lv2/worker/worker.h>
#include <zix/ring.h>
#include <zix/sem.h>
#include <zix/thread.h>

enum WorkerState : uint32_t {
  WORKER_SYNCHRONOUS = 0, ///< No thread: requests are worked on at once.
  WORKER_STOPPED = 1,     ///< Threaded, thread not running.
  WORKER_RUNNING = 2,
  WORKER_STOPPING = 3, ///< The thread has been asked to end.
};

struct Worker {
  ZixRing* requests;  ///< Packets from the scheduling thread to the worker thread.
  ZixRing* responses; ///< Packets from work() to the audio thread.
  void* response_buf; ///< One response, copied out before it is delivered.
  ZixSem* lock;       ///< Shared by both workers; held around every work() call.
  ZixSem sem;         ///< One post per request, and one to stop the thread.
  std::atomic<uint32_t> state;
  ZixThread thread;
  LV2_Handle handle;
  const LV2_Worker_Interface* iface;
};

/// Size of each worker ring and of the response buffer.
constexpr uint32_t worker_ring_size = 4096;

/// Return a new worker sharing `lock` (threaded, or synchronous when
/// `threaded` is false), or null when memory ran out.  A ring
/// that cannot be locked in memory still works; `*unlocked` (when given) is
/// set then, so the caller can say so once.
Worker* worker_create(ZixSem* lock, bool threaded, bool* unlocked);

/// Attach the plugin's worker interface and instance handle.  Null is allowed.
void worker_bind(Worker* worker, const LV2_Worker_Interface* iface, LV2_Handle handle);

/// Start the thread of a stopped threaded worker, with no less than the
/// platform's default stack.  Returns 0 or the failed call's status.
int worker_start(Worker* worker);

/// Ask the thread to end and wait for it.  Null is allowed.
void worker_stop(Worker* worker);

/// Stop the worker if it runs, then free it.  Null is allowed.
void worker_destroy(Worker* worker);

/// The schedule_work function of the worker:schedule feature that the
/// plugin's run() calls: queues the request for a running threaded worker.
/// Returns LV2_WORKER_SUCCESS (also while the thread is stopping, when the
/// request is dropped), LV2_WORKER_ERR_NO_SPACE when the ring is full, and
/// LV2_WORKER_ERR_UNKNOWN for an empty request, a plugin without work(), a
/// stopped thread or a synchronous worker.
BEXO_REALTIME LV2_Worker_Status worker_request(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                               const void* data);

/// The schedule_work function of the schedule feature given to the plugin
/// while its state is restored: works on the request at once, in the
/// calling thread, under the shared lock, whichever worker the handle is,
/// and returns what work() returned (LV2_WORKER_ERR_UNKNOWN for an empty
/// request or a plugin without work()).  Not real-time: the feature exists
/// only during a restore, which runs on the main thread even when the audio
/// thread keeps running beside it.
LV2_Worker_Status worker_request_sync(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                      const void* data);

/// The respond function handed to the plugin's work(): LV2_WORKER_SUCCESS,
/// or LV2_WORKER_ERR_NO_SPACE when the response ring is full.
LV2_Worker_Status worker_reply(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data);

/// Hand every waiting response to the plugin's work_response().
BEXO_REALTIME void worker_deliver_replies(Worker* worker, LV2_Handle handle);

/// Tell the plugin that the run ended (its end_run(), when it has one).
BEXO_REALTIME void worker_cycle_end(Worker* worker);
