// Activation that fails is said, not run through silently: a worker thread
// or an audio backend that cannot be started fails host_activate with a
// message, nothing stays started, and the host still closes in order.

#include "frontend/test_frontend.hpp"
#include "harness/host_rig.hpp"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

namespace {

std::atomic<bool> refuse_threads{false};

} // namespace

// The system refusing a thread, as it does when the process is out of them.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                              void* arg) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  return refuse_threads.load() ? EAGAIN : real(thread, attr, start, arg);
}

namespace {

TEST(Activation, AWorkerThreadThatCannotStartFailsItWithAMessage) {
  test_frontend_reset();
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:atoms"), 0); // a plugin with a worker
  ASSERT_NE(rig.host.process.worker, nullptr);

  refuse_threads = true;
  const int status = rig.activate();
  refuse_threads = false;
  EXPECT_EQ(status, 1);
  const std::vector<std::string> errors = rig.logged(LOG_LEVEL_ERROR);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Failed to start the worker thread (", 0), 0u) << errors[0];
  // Nothing was started: the plugin is not active and nothing runs.
  EXPECT_FALSE(rig.host.active);
  EXPECT_EQ(rig.host.process.run_state.load(), PAUSED);

  // Once threads can be had again, the same host activates.
  EXPECT_EQ(rig.activate(), 0);
  EXPECT_EQ(rig.host.process.run_state.load(), RUNNING);
}

TEST(Activation, AnAudioBackendThatRefusesToStartLeavesNothingRunning) {
  test_frontend_reset();
  HostRig rig;
  // This plugin aborts when activated twice, or deactivated without an activate.
  ASSERT_EQ(rig.open_manual("urn:bexo:test:uis"), 0);
  const AudioBackend own = rig.host.audio;
  rig.host.audio.start = [](void*) { return 1; };
  EXPECT_EQ(rig.activate(), 1);
  EXPECT_EQ(rig.logged(LOG_LEVEL_ERROR),
            std::vector<std::string>{"Failed to activate the audio client"});
  EXPECT_FALSE(rig.host.active);
  EXPECT_EQ(rig.host.process.run_state.load(), PAUSED);

  // Activated again, the plugin is activated once more, after it was
  // deactivated.
  rig.host.audio = own;
  EXPECT_EQ(rig.activate(), 0);
  EXPECT_TRUE(rig.host.active);
}

TEST(Activation, WithoutAnAudioBackendNothingStarts) {
  test_frontend_reset();
  HostRig rig;
  ASSERT_EQ(rig.open_manual("urn:bexo:test:controls"), 0);
  rig.host.audio = {};
  EXPECT_EQ(rig.activate(), 1);
  EXPECT_EQ(rig.host.process.run_state.load(), PAUSED);
}

} // namespace
