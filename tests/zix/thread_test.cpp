#include <cstddef>
#include <gtest/gtest.h>
#include <pthread.h>
#include <zix/thread.h>

namespace {

struct Observed {
  void* arg = nullptr;
  size_t stack_size = 0;
};

ZixThreadResult ZIX_THREAD_FUNC observe(void* arg) {
  auto* const observed = static_cast<Observed*>(arg);
  observed->arg = arg;

  pthread_attr_t attr;
  if (!pthread_getattr_np(pthread_self(), &attr)) {
    pthread_attr_getstacksize(&attr, &observed->stack_size);
    pthread_attr_destroy(&attr);
  }
  return ZIX_THREAD_RESULT;
}

struct StackCase {
  size_t stack_size;
  ZixStatus status;
};

class ThreadCreate : public testing::TestWithParam<StackCase> {};

TEST_P(ThreadCreate, RunsTheFunctionOnAStackOfTheGivenSize) {
  const auto [stack_size, status] = GetParam();
  Observed observed;
  ZixThread thread{};

  ASSERT_EQ(zix_thread_create(&thread, stack_size, observe, &observed), status);
  if (status != ZIX_STATUS_SUCCESS) {
    return; // no thread to join
  }
  ASSERT_EQ(zix_thread_join(thread), ZIX_STATUS_SUCCESS);

  // Joining orders the thread's writes before these reads.
  EXPECT_EQ(observed.arg, &observed);
  if (stack_size) {
    EXPECT_EQ(observed.stack_size, stack_size);
  } else {
    EXPECT_GE(observed.stack_size, static_cast<size_t>(PTHREAD_STACK_MIN));
  }
}

// 1.5 MiB is below both of glibc's usual defaults (8 MiB, or 2 MiB with an
// unlimited stack rlimit), so a size that is silently dropped shows.
INSTANTIATE_TEST_SUITE_P(StackSizes, ThreadCreate,
                         testing::Values(StackCase{0, ZIX_STATUS_SUCCESS},
                                         StackCase{size_t{1536} * 1024U, ZIX_STATUS_SUCCESS},
                                         StackCase{1, ZIX_STATUS_BAD_ARG}));

} // namespace
