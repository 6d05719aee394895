// The door into a MessageLoop from any thread. Posts land in a FIFO under a
// critical section; the loop's thread takes the whole FIFO at once when its
// own work queue runs dry, so the lock is taken once per batch.
//
// Threading: AddToIncomingQueue (and the TaskRunner methods) from any thread;
// ReloadWorkQueue and WillDestroyCurrentMessageLoop only on the loop's thread.
// The object is shared (std::shared_ptr) by the loop and every task-runner
// handle, so a poster may outlive the loop: once the loop has gone the
// back-pointer is null and posts fail.
#ifndef BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_
#define BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_

#include <windows.h>

#include <cstdint>
#include <queue>

#include "base/message_loop/pending_task.h"
#include "base/message_loop/task_runner.h"
#include "base/synchronization/lock.h"

namespace base {

class MessageLoop;

using TaskQueue = std::queue<PendingTask>;

class IncomingTaskQueue : public TaskRunner {
 public:
  // |message_loop| is not owned; it clears itself through
  // WillDestroyCurrentMessageLoop before it goes away.
  explicit IncomingTaskQueue(MessageLoop* message_loop);
  IncomingTaskQueue(const IncomingTaskQueue&) = delete;
  IncomingTaskQueue& operator=(const IncomingTaskQueue&) = delete;
  ~IncomingTaskQueue() override;

  // Queues |task|, due after |delay_us| (0 or less: at once). False, with the
  // task destroyed unrun, once the loop is gone.
  bool AddToIncomingQueue(const Location& from_here, OnceClosure task,
                          int64_t delay_us, bool nestable);

  // TaskRunner:
  bool PostTask(const Location& from_here, OnceClosure task) override;
  bool PostDelayedTask(const Location& from_here, OnceClosure task,
                       int64_t delay_us) override;

  // Moves every queued task into the empty |work_queue|.
  void ReloadWorkQueue(TaskQueue* work_queue);

  // Cuts the link to the loop; later posts fail. Tasks still queued are
  // destroyed unrun (outside the lock, as their destructors may post).
  void WillDestroyCurrentMessageLoop();

 private:
  Lock lock_;
  TaskQueue incoming_queue_;     // Guarded by |lock_|.
  uint32_t next_sequence_num_ = 0;  // Guarded by |lock_|; wraps.
  MessageLoop* message_loop_;    // Guarded by |lock_|.
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_
