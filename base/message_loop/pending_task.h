// One posted task as it travels through a loop's queues.
#ifndef BASE_MESSAGE_LOOP_PENDING_TASK_H_
#define BASE_MESSAGE_LOOP_PENDING_TASK_H_

#include <cstdint>

#include "base/callback.h"
#include "base/location.h"

namespace base {

struct PendingTask {
  PendingTask(const Location& posted_from, OnceClosure task,
              int64_t delayed_run_time = 0, bool nestable = true);
  PendingTask(PendingTask&& other) noexcept;
  PendingTask& operator=(PendingTask&& other) noexcept;
  PendingTask(const PendingTask&) = delete;
  PendingTask& operator=(const PendingTask&) = delete;
  ~PendingTask();

  // Delayed-queue order for a max-heap: true when |this| runs after |other|.
  // The earlier due time runs first; on a tie the earlier post does, judged
  // by the sign of the 32-bit wrapped difference of the sequence numbers so
  // the order survives a wrap of the counter.
  bool operator<(const PendingTask& other) const;

  // Where the task was posted; used only for tracing.
  Location posted_from;

  // Monotonic microseconds (TimeTicks) at which the task becomes due; 0 for
  // a task due at once.
  int64_t delayed_run_time = 0;

  // Run exactly once, or destroyed unrun.
  OnceClosure task;

  // Order of posting, assigned under the incoming-queue lock.
  int32_t sequence_num = 0;

  // False only for tasks that must not run inside a nested run.
  bool nestable = true;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_PENDING_TASK_H_
