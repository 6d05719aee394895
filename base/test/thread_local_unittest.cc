#include "base/threading/thread_local.h"

#include <windows.h>

#include "base/threading/simple_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace {

ThreadLocalPointer<int> g_slot;

class SlotThread : public SimpleThread {
 public:
  SlotThread() : SimpleThread("slot") {}
  ~SlotThread() override { Join(); }
  void Run() override {
    seen_at_start_ = g_slot.Get();
    g_slot.Set(&own_);
    ::Sleep(20);
    seen_at_end_ = g_slot.Get();
  }
  int own_ = 0;
  int* seen_at_start_ = reinterpret_cast<int*>(1);
  int* seen_at_end_ = nullptr;
};

TEST(ThreadLocalTest, EachThreadHasItsOwnValue) {
  EXPECT_EQ(nullptr, g_slot.Get());
  int main_value = 0;
  g_slot.Set(&main_value);
  SlotThread a, b;
  ASSERT_TRUE(a.Start());
  ASSERT_TRUE(b.Start());
  a.Join();
  b.Join();
  EXPECT_EQ(nullptr, a.seen_at_start_);
  EXPECT_EQ(nullptr, b.seen_at_start_);
  EXPECT_EQ(&a.own_, a.seen_at_end_);
  EXPECT_EQ(&b.own_, b.seen_at_end_);
  EXPECT_EQ(&main_value, g_slot.Get());
  g_slot.Set(nullptr);
  EXPECT_EQ(nullptr, g_slot.Get());
}

}  // namespace
}  // namespace base
