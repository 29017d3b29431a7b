#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <thread>
#include <zix/sem.h>
#include <zix/thread.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

class Sem : public testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(zix_sem_init(&sem_, 0), ZIX_STATUS_SUCCESS); }
  void TearDown() override { EXPECT_EQ(zix_sem_destroy(&sem_), ZIX_STATUS_SUCCESS); }

  ZixSem sem_{};
};

TEST(SemCount, TryWaitTakesExactlyWhatWasThere) {
  for (const unsigned initial : {0U, 1U, 3U}) {
    SCOPED_TRACE(testing::Message() << "initial " << initial);
    ZixSem sem{};
    ASSERT_EQ(zix_sem_init(&sem, initial), ZIX_STATUS_SUCCESS);

    for (unsigned i = 0; i < initial; ++i) {
      EXPECT_EQ(zix_sem_try_wait(&sem), ZIX_STATUS_SUCCESS);
    }
    EXPECT_EQ(zix_sem_try_wait(&sem), ZIX_STATUS_UNAVAILABLE);

    ASSERT_EQ(zix_sem_post(&sem), ZIX_STATUS_SUCCESS);
    EXPECT_EQ(zix_sem_try_wait(&sem), ZIX_STATUS_SUCCESS);
    EXPECT_EQ(zix_sem_try_wait(&sem), ZIX_STATUS_UNAVAILABLE);

    EXPECT_EQ(zix_sem_destroy(&sem), ZIX_STATUS_SUCCESS);
  }
}

TEST_F(Sem, TimedWaitTimesOutAfterTheGivenTime) {
  struct Timeout {
    uint32_t seconds;
    uint32_t nanoseconds;
  };
  // The second deadline almost always crosses into the next second, which
  // the deadline's nanoseconds must be carried over for.
  for (const Timeout t : {Timeout{0, 30'000'000}, Timeout{0, 999'000'000}}) {
    SCOPED_TRACE(testing::Message() << t.seconds << " s " << t.nanoseconds << " ns");
    const nanoseconds timeout = seconds{t.seconds} + nanoseconds{t.nanoseconds};

    const auto start = steady_clock::now();
    EXPECT_EQ(zix_sem_timed_wait(&sem_, t.seconds, t.nanoseconds), ZIX_STATUS_TIMEOUT);
    const auto elapsed = steady_clock::now() - start;

    // The deadline is on the realtime clock, measured here on another one.
    EXPECT_GE(elapsed, timeout - milliseconds{5});
    EXPECT_LT(elapsed, timeout + seconds{2});
  }
}

TEST_F(Sem, TimedWaitTakesAPost) {
  ASSERT_EQ(zix_sem_post(&sem_), ZIX_STATUS_SUCCESS);
  const auto start = steady_clock::now();
  EXPECT_EQ(zix_sem_timed_wait(&sem_, 5, 0), ZIX_STATUS_SUCCESS);
  EXPECT_LT(steady_clock::now() - start, seconds{1});
  EXPECT_EQ(zix_sem_try_wait(&sem_), ZIX_STATUS_UNAVAILABLE);
}

ZixThreadResult ZIX_THREAD_FUNC post_later(void* arg) {
  std::this_thread::sleep_for(milliseconds{50});
  zix_sem_post(static_cast<ZixSem*>(arg));
  return ZIX_THREAD_RESULT;
}

TEST_F(Sem, WaitBlocksUntilAnotherThreadPosts) {
  for (const bool timed : {false, true}) {
    SCOPED_TRACE(timed ? "timed wait" : "wait");
    const auto start = steady_clock::now();
    ZixThread thread{};
    ASSERT_EQ(zix_thread_create(&thread, 0, post_later, &sem_), ZIX_STATUS_SUCCESS);

    EXPECT_EQ(timed ? zix_sem_timed_wait(&sem_, 10, 0) : zix_sem_wait(&sem_), ZIX_STATUS_SUCCESS);
    const auto elapsed = steady_clock::now() - start;
    EXPECT_GE(elapsed, milliseconds{50});
    EXPECT_LT(elapsed, seconds{10});

    EXPECT_EQ(zix_thread_join(thread), ZIX_STATUS_SUCCESS);
    EXPECT_EQ(zix_sem_try_wait(&sem_), ZIX_STATUS_UNAVAILABLE);
  }
}

} // namespace
