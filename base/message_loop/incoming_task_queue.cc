#include "base/message_loop/incoming_task_queue.h"

#include <cstdint>
#include <utility>

#include "base/debug/trace_event.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/time/time.h"

namespace base {
namespace {

// The due time of a task posted now with |delay_us|; 0 means at once. A delay
// so long that the sum would overflow is clamped to the end of time.
int64_t DelayedRunTime(int64_t delay_us) {
  if (delay_us <= 0)
    return 0;
  const int64_t now = TimeTicks::Now().ToInternalValue();
  return delay_us > INT64_MAX - now ? INT64_MAX : now + delay_us;
}

}  // namespace

IncomingTaskQueue::IncomingTaskQueue(MessageLoop* message_loop)
    : message_loop_(message_loop) {
}

IncomingTaskQueue::~IncomingTaskQueue() {
}

bool IncomingTaskQueue::PostTask(const Location& from_here, OnceClosure task) {
  return AddToIncomingQueue(from_here, std::move(task), 0, true);
}

bool IncomingTaskQueue::PostDelayedTask(const Location& from_here,
                                        OnceClosure task, int64_t delay_us) {
  return AddToIncomingQueue(from_here, std::move(task), delay_us, true);
}

bool IncomingTaskQueue::AddToIncomingQueue(const Location& from_here,
                                           OnceClosure task, int64_t delay_us,
                                           bool nestable) {
  // Refused here, where the poster is still known; run later, a null task
  // would crash the loop far from its origin.
  CHECK(task) << "Null task posted from " << from_here.function_name() << " ("
              << from_here.file_name() << ":" << from_here.line_number() << ")";
  AutoLock auto_lock(lock_);
  const int64_t delayed_run_time = DelayedRunTime(delay_us);
  if (!message_loop_) {
    // Destroyed outside the lock: the task's bound values may post from
    // their destructors.
    AutoUnlock auto_unlock(lock_);
    task.Reset();
    return false;
  }
  PendingTask pending_task(from_here, std::move(task), delayed_run_time,
                           nestable);
  pending_task.sequence_num = static_cast<int32_t>(next_sequence_num_++);
  TRACE_EVENT_FLOW_BEGIN0("disabled-by-default-toplevel.flow",
                          "MessageLoop::PostTask", pending_task.sequence_num);
  const bool was_empty = incoming_queue_.empty();
  incoming_queue_.push(std::move(pending_task));
  // Only the transition to non-empty needs a wake-up: while the queue holds
  // tasks the loop has already been told. The loop cannot go away while we
  // hold the lock, because it clears |message_loop_| under it.
  if (was_empty)
    message_loop_->ScheduleWork();
  return true;
}

void IncomingTaskQueue::ReloadWorkQueue(TaskQueue* work_queue) {
  DCHECK(work_queue->empty());
  AutoLock auto_lock(lock_);
  incoming_queue_.swap(*work_queue);
}

void IncomingTaskQueue::WillDestroyCurrentMessageLoop() {
  TaskQueue orphans;  // Destroyed after the lock is released.
  AutoLock auto_lock(lock_);
  message_loop_ = nullptr;
  incoming_queue_.swap(orphans);
}

}  // namespace base
