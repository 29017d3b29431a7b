#include "engine/worker.hpp"
#include "harness/wait_for.hpp"

#include <gtest/gtest.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

// Stands in for a plugin: work() echoes each request back as a response,
// prefixed with "re:", and everything it sees is recorded.
struct Recorder {
  std::mutex mutex;
  std::vector<std::string> worked;
  std::vector<std::string> delivered;
  std::vector<size_t> stack_sizes;
  int end_runs = 0;

  size_t worked_count() {
    std::lock_guard<std::mutex> guard(mutex);
    return worked.size();
  }
};

LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function respond,
                       LV2_Worker_Respond_Handle respond_handle, uint32_t size, const void* data) {
  auto* recorder = static_cast<Recorder*>(handle);
  const std::string request(static_cast<const char*>(data), size);
  pthread_attr_t attr;
  size_t stack_size = 0;
  pthread_getattr_np(pthread_self(), &attr);
  pthread_attr_getstacksize(&attr, &stack_size);
  pthread_attr_destroy(&attr);
  {
    std::lock_guard<std::mutex> guard(recorder->mutex);
    recorder->worked.push_back(request);
    recorder->stack_sizes.push_back(stack_size);
  }
  const std::string response = "re:" + request;
  return respond(respond_handle, static_cast<uint32_t>(response.size()), response.data());
}

LV2_Worker_Status work_response(LV2_Handle handle, uint32_t size, const void* body) {
  auto* recorder = static_cast<Recorder*>(handle);
  recorder->delivered.emplace_back(static_cast<const char*>(body), size);
  return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status end_run(LV2_Handle handle) {
  ++static_cast<Recorder*>(handle)->end_runs;
  return LV2_WORKER_SUCCESS;
}

const LV2_Worker_Interface iface{work, work_response, end_run};

class WorkerTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(zix_sem_init(&lock, 1), ZIX_STATUS_SUCCESS); }
  void TearDown() override {
    worker_destroy(worker);
    zix_sem_destroy(&lock);
  }

  void make(bool threaded) {
    worker = worker_create(&lock, threaded, nullptr);
    ASSERT_NE(worker, nullptr);
    worker_bind(worker, &iface, &recorder);
  }

  LV2_Worker_Status request(const std::string& text) {
    return worker_request(worker, static_cast<uint32_t>(text.size()), text.data());
  }

  bool wait_for_work(size_t count) {
    return wait_for([&] { return recorder.worked_count() >= count; });
  }

  ZixSem lock;
  Worker* worker = nullptr;
  Recorder recorder;
};

TEST_F(WorkerTest, ThreadedWorkerServesRequestsInOrderOnAFullStack) {
  make(true);
  EXPECT_EQ(worker->state.load(), WORKER_STOPPED);
  EXPECT_EQ(request("early"), LV2_WORKER_ERR_UNKNOWN); // not started yet

  ASSERT_EQ(worker_start(worker), 0);
  EXPECT_EQ(request("one"), LV2_WORKER_SUCCESS);
  EXPECT_EQ(request("two"), LV2_WORKER_SUCCESS);
  ASSERT_TRUE(wait_for_work(2));

  worker_deliver_replies(worker, &recorder);
  worker_cycle_end(worker);
  EXPECT_EQ(recorder.worked, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(recorder.delivered, (std::vector<std::string>{"re:one", "re:two"}));
  EXPECT_EQ(recorder.end_runs, 1);

  pthread_attr_t attr;
  size_t default_size = 0;
  pthread_attr_init(&attr);
  pthread_attr_getstacksize(&attr, &default_size);
  pthread_attr_destroy(&attr);
  EXPECT_GE(recorder.stack_sizes.at(0), default_size);
  EXPECT_GT(recorder.stack_sizes.at(0), 4096u * 16);
}

TEST_F(WorkerTest, RefusesEmptyAndOversizedRequests) {
  make(true);
  ASSERT_EQ(worker_start(worker), 0);
  EXPECT_EQ(worker_request(worker, 0, "x"), LV2_WORKER_ERR_UNKNOWN);
  EXPECT_EQ(request(std::string(5000, 'x')), LV2_WORKER_ERR_NO_SPACE);
  EXPECT_EQ(zix_ring_read_space(worker->requests), 0u);
  EXPECT_EQ(request("after"), LV2_WORKER_SUCCESS);
  ASSERT_TRUE(wait_for_work(1));
  EXPECT_EQ(recorder.worked, (std::vector<std::string>{"after"}));
}

TEST_F(WorkerTest, RestartsAfterStop) {
  make(true);
  ASSERT_EQ(worker_start(worker), 0);
  ASSERT_EQ(request("first"), LV2_WORKER_SUCCESS);
  ASSERT_TRUE(wait_for_work(1));
  worker_stop(worker);
  EXPECT_EQ(worker->state.load(), WORKER_STOPPED);
  EXPECT_EQ(request("while stopped"), LV2_WORKER_ERR_UNKNOWN);

  ASSERT_EQ(worker_start(worker), 0);
  EXPECT_EQ(worker->state.load(), WORKER_RUNNING);
  ASSERT_EQ(request("second"), LV2_WORKER_SUCCESS);
  ASSERT_TRUE(wait_for_work(2));
  EXPECT_EQ(recorder.worked, (std::vector<std::string>{"first", "second"}));
}

// The schedule of a state restore works at once, on the main thread; the
// real-time schedule, which must not take the lock that work() runs
// under, refuses a synchronous worker.
TEST_F(WorkerTest, RestoreScheduleWorksBeforeReturningAndRunRefusesASynchronousWorker) {
  make(false);
  EXPECT_EQ(worker->state.load(), WORKER_SYNCHRONOUS);
  EXPECT_EQ(worker_start(worker), 0); // nothing to start
  EXPECT_EQ(request("from run"), LV2_WORKER_ERR_UNKNOWN);
  EXPECT_EQ(worker_request_sync(worker, 3, "now"), LV2_WORKER_SUCCESS);
  EXPECT_EQ(recorder.worked, (std::vector<std::string>{"now"}));
  EXPECT_TRUE(recorder.delivered.empty());
  worker_deliver_replies(worker, &recorder);
  EXPECT_EQ(recorder.delivered, (std::vector<std::string>{"re:now"}));
  EXPECT_EQ(worker_request_sync(worker, 0, "x"), LV2_WORKER_ERR_UNKNOWN);

  // A restore that hands the threaded worker's handle to this function
  // (as eg-sampler does) is still worked on at once, not queued, whether
  // the thread runs or not; the reply comes back through that worker.
  Worker* threaded = worker_create(&lock, true, nullptr);
  ASSERT_NE(threaded, nullptr);
  worker_bind(threaded, &iface, &recorder);
  EXPECT_EQ(worker_request_sync(threaded, 1, "a"), LV2_WORKER_SUCCESS);
  ASSERT_EQ(worker_start(threaded), 0);
  EXPECT_EQ(worker_request_sync(threaded, 1, "b"), LV2_WORKER_SUCCESS);
  EXPECT_EQ(recorder.worked, (std::vector<std::string>{"now", "a", "b"}));
  EXPECT_EQ(zix_ring_read_space(threaded->requests), 0u);
  worker_deliver_replies(threaded, &recorder);
  EXPECT_EQ(recorder.delivered, (std::vector<std::string>{"re:now", "re:a", "re:b"}));
  worker_destroy(threaded);
}

// A plugin that lists the worker extension but returns no interface.
TEST_F(WorkerTest, MissingInterfaceIsNeverCalled) {
  make(false);
  worker_bind(worker, nullptr, &recorder);
  EXPECT_EQ(request("x"), LV2_WORKER_ERR_UNKNOWN);
  EXPECT_EQ(worker_request_sync(worker, 1, "x"), LV2_WORKER_ERR_UNKNOWN);
  const char reply[] = "orphan";
  ASSERT_EQ(worker_reply(worker, sizeof(reply), reply), LV2_WORKER_SUCCESS);
  worker_deliver_replies(worker, &recorder);
  worker_cycle_end(worker);
  EXPECT_EQ(zix_ring_read_space(worker->responses), 0u);
  EXPECT_TRUE(recorder.worked.empty());
  EXPECT_TRUE(recorder.delivered.empty());
  EXPECT_EQ(recorder.end_runs, 0);

  worker_deliver_replies(nullptr, &recorder);
  worker_cycle_end(nullptr);
  worker_stop(nullptr);
  EXPECT_EQ(worker_request(nullptr, 1, "x"), LV2_WORKER_ERR_UNKNOWN);
  EXPECT_EQ(worker_request_sync(nullptr, 1, "x"), LV2_WORKER_ERR_UNKNOWN);
}

} // namespace
