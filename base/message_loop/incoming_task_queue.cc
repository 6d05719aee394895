#include "base/message_loop/incoming_task_queue.h"

#include <utility>

#include "base/debug/trace_event.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/time/time.h"

namespace base {

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
  AutoLock auto_lock(lock_);
  const int64_t delayed_run_time =
      delay_us > 0 ? TimeTicks::Now().ToInternalValue() + delay_us : 0;
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
