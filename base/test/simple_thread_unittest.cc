#include "base/threading/simple_thread.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "base/threading/thread_name_registry.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Records what the worker saw; optionally waits for a go signal so the test
// controls when Run() ends.
class RecordingThread : public SimpleThread {
 public:
  explicit RecordingThread(const std::string& prefix, size_t stack_size = 0)
      : SimpleThread(prefix, stack_size),
        go_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~RecordingThread() override {
    Join();
    ::CloseHandle(go_);
  }

  void Run() override {
    run_thread_id_ = ::GetCurrentThreadId();
    name_in_run_ = name();
    registered_name_ = ThreadNameRegistry::GetInstance()->GetName(run_thread_id_);
    if (wait_for_go_)
      ::WaitForSingleObject(go_, 10000);
    finished_ = true;
  }

  void Go() { ::SetEvent(go_); }

  bool wait_for_go_ = false;
  DWORD run_thread_id_ = 0;
  std::string name_in_run_;
  std::string registered_name_;
  std::atomic<bool> finished_{false};

 private:
  HANDLE go_;
};

TEST(SimpleThreadTest, NameIsPrefixSlashThreadId) {
  RecordingThread thread("net_installer_unpack");
  EXPECT_EQ("net_installer_unpack", thread.name());
  EXPECT_FALSE(thread.HasBeenStarted());
  ASSERT_TRUE(thread.Start());
  // Start() returns only once id and name are set.
  EXPECT_NE(0u, thread.tid());
  const std::string expected = "net_installer_unpack/" + std::to_string(thread.tid());
  EXPECT_EQ(expected, thread.name());
  EXPECT_EQ("net_installer_unpack", thread.name_prefix());
  thread.Join();
  EXPECT_EQ(thread.tid(), thread.run_thread_id_);
  EXPECT_NE(::GetCurrentThreadId(), thread.run_thread_id_);
  EXPECT_EQ(expected, thread.name_in_run_);
  EXPECT_EQ(expected, thread.registered_name_);
  // The name is forgotten once the thread has ended.
  EXPECT_EQ("", ThreadNameRegistry::GetInstance()->GetName(thread.tid()));
}

TEST(SimpleThreadTest, JoinWaitsForRunToEnd) {
  RecordingThread thread("worker");
  thread.wait_for_go_ = true;
  ASSERT_TRUE(thread.Start());
  EXPECT_TRUE(thread.HasBeenStarted());
  EXPECT_FALSE(thread.HasBeenJoined());
  ::Sleep(50);
  EXPECT_FALSE(thread.finished_);
  thread.Go();
  thread.Join();
  EXPECT_TRUE(thread.finished_);
  EXPECT_TRUE(thread.HasBeenJoined());
  EXPECT_TRUE(thread.HasBeenStarted());
}

TEST(SimpleThreadTest, JoinOfAnEndedThreadReturnsAtOnce) {
  RecordingThread thread("worker");
  ASSERT_TRUE(thread.Start());
  for (int i = 0; i < 1000 && !thread.finished_; ++i)
    ::Sleep(5);
  ASSERT_TRUE(thread.finished_);
  ::Sleep(20);  // Let the thread procedure return as well.
  const ULONGLONG start = ::GetTickCount64();
  thread.Join();
  thread.Join();  // A second join is harmless.
  EXPECT_LT(::GetTickCount64() - start, 1000u);
  EXPECT_TRUE(thread.HasBeenJoined());
}

TEST(SimpleThreadTest, StartTwiceIsRefused) {
  RecordingThread thread("worker");
  ASSERT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Start());
  thread.Join();
  EXPECT_FALSE(thread.Start());
}

TEST(SimpleThreadTest, JoinWithoutStartReturns) {
  RecordingThread thread("never");
  thread.Join();
  EXPECT_FALSE(thread.HasBeenJoined());
}

TEST(SimpleThreadTest, ExplicitStackSize) {
  RecordingThread thread("big_stack", 4 * 1024 * 1024);
  ASSERT_TRUE(thread.Start());
  thread.Join();
  EXPECT_TRUE(thread.finished_);
}

TEST(SimpleThreadTest, ImpossibleStackSizeFailsWithoutWaiting) {
  // A reservation larger than the address space cannot be made, so the
  // thread is never created; Start must report that instead of waiting for
  // a thread that will never signal.
  RecordingThread thread("huge_stack", static_cast<size_t>(-1) / 2);
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_FALSE(thread.Start());
  EXPECT_LT(::GetTickCount64() - start, 5000u);
  EXPECT_FALSE(thread.HasBeenStarted());
  thread.Join();  // Nothing to join.
  EXPECT_FALSE(thread.finished_);
}

TEST(SimpleThreadTest, ManyThreadsHaveDistinctNames) {
  constexpr int kThreads = 8;
  std::unique_ptr<RecordingThread> threads[kThreads];
  for (auto& thread : threads) {
    thread = std::make_unique<RecordingThread>("pool");
    ASSERT_TRUE(thread->Start());
  }
  for (int i = 0; i < kThreads; ++i) {
    threads[i]->Join();
    for (int j = 0; j < i; ++j)
      EXPECT_NE(threads[i]->name(), threads[j]->name());
  }
}

}  // namespace
}  // namespace base
