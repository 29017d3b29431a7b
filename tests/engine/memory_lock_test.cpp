// A user without the right to lock memory still gets working rings: the
// host only learns that they are unlocked, to say so once.

#include "base/urid_mapper.hpp"
#include "engine/message.hpp"
#include "engine/process.hpp"
#include "engine/worker.hpp"
#include "harness/memory_lock.hpp"

#include <gtest/gtest.h>

namespace {

// Exit status of the child: 0 when everything held, else the failed step.
int rings_work_unlocked() {
  if (!forbid_memory_locking()) {
    return 10;
  }
  ZixSem lock;
  zix_sem_init(&lock, 1);
  bool worker_unlocked = false;
  Worker* worker = worker_create(&lock, true, &worker_unlocked);
  if (!worker || !worker_unlocked) {
    return 11;
  }
  if (zix_ring_write(worker->requests, "abcd", 4) != 4) {
    return 12;
  }
  worker_destroy(worker);

  UridMapper* mapper = urid_mapper_new();
  Urids urids{};
  map_urids(mapper, &urids);
  ProcessState state{};
  process_state_init(&state, &urids, mapper, false);
  state.control_values.resize(1);
  state.num_ports = 0; // no plugin ports: only the rings and the read buffer
  const HostSettings settings{48000.0f, 256, 256, 1024, 4096, 25.0f, 1.0f};
  if (process_prepare(&state, &urids, nullptr, &settings) != 0 || !state.memory_unlocked) {
    return 13;
  }
  state.num_ports = 1;
  if (ring_write_control(state.ui_ring, 0, 0.25f) != ZIX_STATUS_SUCCESS ||
      apply_ui_messages(&state, 256) != PROCESS_SUCCESS || state.control_values[0] != 0.25f) {
    return 14;
  }
  process_free(&state);
  urid_mapper_free(mapper);
  return 0;
}

TEST(MemoryLockDeathTest, RingsThatCannotBeLockedStillWorkAndAreReported) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer runtimes make every mlock succeed";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(rings_work_unlocked()), testing::ExitedWithCode(0), "");
}

} // namespace
