#include "host/signals.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <zix/sem.h>

namespace {

class SignalsTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(zix_sem_init(&quit_sem, 0), ZIX_STATUS_SUCCESS);
    set_quit_semaphore(&quit_sem);
    ASSERT_EQ(install_signal_handler(), 0);
  }

  void TearDown() override {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    set_quit_semaphore(nullptr);
    zix_sem_destroy(&quit_sem);
  }

  bool posted_once() {
    const bool posted = zix_sem_try_wait(&quit_sem) == ZIX_STATUS_SUCCESS;
    return posted && zix_sem_try_wait(&quit_sem) == ZIX_STATUS_UNAVAILABLE;
  }

  ZixSem quit_sem;
};

TEST_F(SignalsTest, InterruptAndTerminationPostTheQuitSemaphore) {
  for (int sig : {SIGINT, SIGTERM}) {
    ASSERT_EQ(std::raise(sig), 0);
    EXPECT_TRUE(posted_once()) << "signal " << sig;
  }
}

TEST_F(SignalsTest, OtherSignalsAndAnUnsetPointerPostNothing) {
  signal_handler(SIGUSR1);
  signal_handler(SIGHUP);
  EXPECT_EQ(zix_sem_try_wait(&quit_sem), ZIX_STATUS_UNAVAILABLE);

  set_quit_semaphore(nullptr);
  ASSERT_EQ(std::raise(SIGINT), 0);
  EXPECT_EQ(zix_sem_try_wait(&quit_sem), ZIX_STATUS_UNAVAILABLE);
}

} // namespace
