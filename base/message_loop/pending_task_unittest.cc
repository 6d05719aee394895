#include "base/message_loop/pending_task.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

PendingTask MakeTask(int64_t delayed_run_time, int32_t sequence_num) {
  PendingTask task(FROM_HERE, OnceClosure(), delayed_run_time);
  task.sequence_num = sequence_num;
  return task;
}

// True when a task with (time_a, seq_a) must run before one with
// (time_b, seq_b): in a max-heap the one that runs first is the greater.
bool RunsBefore(int64_t time_a, int32_t seq_a, int64_t time_b, int32_t seq_b) {
  return MakeTask(time_b, seq_b) < MakeTask(time_a, seq_a);
}

TEST(PendingTaskTest, OrderOfTwoTasks) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  const struct {
    int64_t time_a;
    int32_t seq_a;
    int64_t time_b;
    int32_t seq_b;
    bool a_first;
  } kCases[] = {
      {100, 5, 200, 1, true},     // Earlier due time wins over posting order.
      {200, 1, 100, 5, false},
      {100, 1, 100, 2, true},     // Same due time: posting order.
      {100, 2, 100, 1, false},
      {100, kMax, 100, kMin, true},   // Posted just before the counter wrapped.
      {100, kMin, 100, kMax, false},
      {100, -1, 100, 0, true},    // Unsigned wrap seen from the other side.
      {100, kMax - 3, 100, kMin + 3, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.time_a << "/" << c.seq_a << " vs "
                                    << c.time_b << "/" << c.seq_b);
    EXPECT_EQ(c.a_first, RunsBefore(c.time_a, c.seq_a, c.time_b, c.seq_b));
    // A task never runs before itself.
    EXPECT_FALSE(RunsBefore(c.time_a, c.seq_a, c.time_a, c.seq_a));
  }
}

TEST(PendingTaskTest, HeapPopsInDueThenPostingOrderAcrossWrap) {
  // Sequence numbers as the queue hands them out around the wrap.
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  std::vector<PendingTask> heap;
  const int32_t sequence[] = {kMax - 1, kMax, static_cast<int32_t>(0x80000000u),
                              static_cast<int32_t>(0x80000001u)};
  // Pushed in a scrambled order; all due at the same time except one.
  heap.push_back(MakeTask(50, sequence[2]));
  heap.push_back(MakeTask(50, sequence[0]));
  heap.push_back(MakeTask(10, sequence[3]));
  heap.push_back(MakeTask(50, sequence[1]));
  std::make_heap(heap.begin(), heap.end());

  std::vector<int32_t> popped;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end());
    popped.push_back(heap.back().sequence_num);
    heap.pop_back();
  }
  EXPECT_EQ((std::vector<int32_t>{sequence[3], sequence[0], sequence[1],
                                  sequence[2]}),
            popped);
}

}  // namespace
}  // namespace base
