#include "engine/worker.hpp"

#include "engine/message.hpp"

#include <new>
#include <pthread.h>
#include <vector>

namespace {

// A plugin's work() loads files and calls into libraries, so its thread gets
// at least what any thread of the process would get.
size_t default_thread_stack_size() {
  pthread_attr_t attr;
  size_t size = 0;
  if (pthread_attr_init(&attr) == 0) {
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
  }
  return size;
}

// A packet is its size and then its bytes, in one ring transaction.
BEXO_REALTIME LV2_Worker_Status write_packet(ZixRing* ring, uint32_t size, const void* data) {
  return ring_write_message(ring, &size, sizeof(size), data, size) ? LV2_WORKER_ERR_NO_SPACE
                                                                   : LV2_WORKER_SUCCESS;
}

BEXO_REALTIME bool can_work(const Worker* worker) {
  return worker->iface && worker->iface->work;
}

// The worker a schedule call names, or null when there is nothing to work
// on: no worker, an empty request, or a plugin that offers no work().
BEXO_REALTIME Worker* worker_for_request(LV2_Worker_Schedule_Handle handle, uint32_t size) {
  auto* worker = static_cast<Worker*>(handle);
  return worker && size > 0 && can_work(worker) ? worker : nullptr;
}

LV2_Worker_Status call_work(Worker* worker, uint32_t size, const void* data) {
  zix_sem_wait(worker->lock);
  const LV2_Worker_Status status =
      worker->iface->work(worker->handle, worker_reply, worker, size, data);
  zix_sem_post(worker->lock);
  return status;
}

// Takes the next request out of the ring; false when it has to be dropped.
bool take_request(Worker* worker, std::vector<uint8_t>* buffer, uint32_t* size) {
  if (zix_ring_read(worker->requests, size, sizeof(*size)) != sizeof(*size)) {
    return false;
  }
  try {
    buffer->resize(*size);
  } catch (const std::bad_alloc&) {
    zix_ring_skip(worker->requests, *size);
    return false;
  }
  return zix_ring_read(worker->requests, buffer->data(), *size) == *size;
}

ZixThreadResult ZIX_THREAD_FUNC worker_thread(void* data) {
  auto* worker = static_cast<Worker*>(data);
  std::vector<uint8_t> request;
  for (;;) {
    zix_sem_wait(&worker->sem);
    if (worker->state.load() == WORKER_STOPPING) {
      break;
    }
    uint32_t size = 0;
    if (take_request(worker, &request, &size) && can_work(worker)) {
      call_work(worker, size, request.data());
    }
  }
  worker->state.store(WORKER_STOPPED);
  return ZIX_THREAD_RESULT;
}

} // namespace

Worker* worker_create(ZixSem* lock, bool threaded, bool* unlocked) {
  auto* worker = new (std::nothrow) Worker{};
  if (!worker) {
    return nullptr;
  }
  worker->requests = zix_ring_new(nullptr, worker_ring_size);
  worker->responses = zix_ring_new(nullptr, worker_ring_size);
  worker->response_buf = zix_calloc(nullptr, 1, worker_ring_size);
  if (!worker->requests || !worker->responses || !worker->response_buf) {
    zix_ring_free(worker->requests);
    zix_ring_free(worker->responses);
    zix_free(nullptr, worker->response_buf);
    delete worker;
    return nullptr;
  }
  worker->lock = lock;
  worker->state.store(threaded ? WORKER_STOPPED : WORKER_SYNCHRONOUS);
  const bool locked = !zix_ring_mlock(worker->requests) && !zix_ring_mlock(worker->responses);
  if (unlocked && !locked) {
    *unlocked = true;
  }
  return worker;
}

void worker_bind(Worker* worker, const LV2_Worker_Interface* iface, LV2_Handle handle) {
  if (worker) {
    worker->iface = iface;
    worker->handle = handle;
  }
}

int worker_start(Worker* worker) {
  if (worker->state.load() != WORKER_STOPPED) {
    return 0;
  }
  if (const ZixStatus st = zix_sem_init(&worker->sem, 0)) {
    return st;
  }
  // Requests left by a stopped thread have no wake-up posts any more; were
  // they kept, every later wake-up would take the wrong request.
  zix_ring_reset(worker->requests);
  worker->state.store(WORKER_RUNNING);
  if (const ZixStatus st =
          zix_thread_create(&worker->thread, default_thread_stack_size(), worker_thread, worker)) {
    worker->state.store(WORKER_STOPPED);
    zix_sem_destroy(&worker->sem);
    return st;
  }
  return 0;
}

void worker_stop(Worker* worker) {
  if (worker && worker->state.load() == WORKER_RUNNING) {
    worker->state.store(WORKER_STOPPING);
    zix_sem_post(&worker->sem);
    zix_thread_join(worker->thread);
    zix_sem_destroy(&worker->sem);
  }
}

void worker_destroy(Worker* worker) {
  if (!worker) {
    return;
  }
  worker_stop(worker);
  zix_ring_free(worker->requests);
  zix_ring_free(worker->responses);
  zix_free(nullptr, worker->response_buf);
  delete worker;
}

LV2_Worker_Status worker_request(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                 const void* data) {
  Worker* worker = worker_for_request(handle, size);
  if (!worker) {
    return LV2_WORKER_ERR_UNKNOWN;
  }
  switch (worker->state.load()) {
  case WORKER_RUNNING:
    if (const LV2_Worker_Status st = write_packet(worker->requests, size, data)) {
      return st;
    }
    zix_sem_post(&worker->sem);
    return LV2_WORKER_SUCCESS;
  case WORKER_STOPPING:
    return LV2_WORKER_SUCCESS;
  default:
    // Stopped, or a synchronous worker, whose work would take the lock
    // here: that is worker_request_sync's, off the audio thread.
    return LV2_WORKER_ERR_UNKNOWN;
  }
}

LV2_Worker_Status worker_request_sync(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                      const void* data) {
  Worker* worker = worker_for_request(handle, size);
  if (!worker) {
    return LV2_WORKER_ERR_UNKNOWN;
  }
  // Some plugins (eg-sampler) pair this function with the handle of their
  // threaded worker.  Queueing the request there would give its request
  // ring a second writer beside the audio thread; working at once under the
  // shared lock keeps one writer at a time on the response ring instead.
  return call_work(worker, size, data);
}

LV2_Worker_Status worker_reply(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
  auto* worker = static_cast<Worker*>(handle);
  return write_packet(worker->responses, size, data);
}

void worker_deliver_replies(Worker* worker, LV2_Handle handle) {
  if (!worker) {
    return;
  }
  uint32_t size = 0;
  while (zix_ring_read(worker->responses, &size, sizeof(size)) == sizeof(size)) {
    if (zix_ring_read(worker->responses, worker->response_buf, size) == size && worker->iface &&
        worker->iface->work_response) {
      worker->iface->work_response(handle, size, worker->response_buf);
    }
  }
}

void worker_cycle_end(Worker* worker) {
  if (worker && worker->iface && worker->iface->end_run) {
    worker->iface->end_run(worker->handle);
  }
}
