#include "base/lazy_instance.h"

#include <windows.h>

#include <atomic>
#include <memory>

#include "base/at_exit.h"
#include "base/threading/simple_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::atomic<int> g_constructed{0};
std::atomic<int> g_destroyed{0};

// Slow to construct, so that concurrent first users really overlap.
class SlowObject {
 public:
  SlowObject() {
    ++g_constructed;
    ::Sleep(50);
    value_ = 42;
  }
  ~SlowObject() { ++g_destroyed; }
  int value() const { return value_; }

 private:
  int value_ = 0;
};

LazyInstance<SlowObject> g_slow_object;

class GetterThread : public SimpleThread {
 public:
  GetterThread(HANDLE go) : SimpleThread("getter"), go_(go) {}
  ~GetterThread() override { Join(); }
  void Run() override {
    ::WaitForSingleObject(go_, 10000);
    object_ = g_slow_object.Pointer();
    value_ = object_->value();
  }
  SlowObject* object_ = nullptr;
  int value_ = 0;

 private:
  HANDLE go_;
};

TEST(LazyInstanceTest, ConcurrentFirstUseCreatesOneObject) {
  g_constructed = 0;
  g_destroyed = 0;
  SlowObject* first = nullptr;
  {
    AtExitManager exit_manager;
    HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    constexpr int kThreads = 16;
    std::unique_ptr<GetterThread> threads[kThreads];
    for (auto& thread : threads) {
      thread = std::make_unique<GetterThread>(go);
      ASSERT_TRUE(thread->Start());
    }
    ::SetEvent(go);
    for (auto& thread : threads)
      thread->Join();
    ::CloseHandle(go);

    first = threads[0]->object_;
    ASSERT_NE(nullptr, first);
    for (auto& thread : threads) {
      EXPECT_EQ(first, thread->object_);
      // Nobody saw the object before its constructor finished.
      EXPECT_EQ(42, thread->value_);
    }
    EXPECT_EQ(1, g_constructed);
    EXPECT_EQ(first, g_slow_object.Pointer());
    EXPECT_EQ(0, g_destroyed);
  }
  // Destroyed by the at-exit manager, and created anew on the next use.
  EXPECT_EQ(1, g_destroyed);
  {
    AtExitManager exit_manager;
    EXPECT_EQ(42, g_slow_object.Get().value());
    EXPECT_EQ(2, g_constructed);
  }
  EXPECT_EQ(2, g_destroyed);
}

LazyInstance<SlowObject> g_unowned_object;

void GetAfterExit() {
  { AtExitManager exit_manager; g_unowned_object.Get(); }
  g_unowned_object.Get();
}

// After the manager has run nothing could destroy a new object: the get ends
// the process instead of leaking it quietly.
TEST(LazyInstanceDeathTest, GetAfterExitEndsTheProcess) {
  EXPECT_EXIT(GetAfterExit(), ::testing::ExitedWithCode(1),
              "LazyInstance used with no AtExitManager to destroy it");
}

}  // namespace
}  // namespace base
