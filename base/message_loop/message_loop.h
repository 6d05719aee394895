// The per-thread loop that runs posted tasks, interleaved (for the UI type)
// with the thread's window messages.
//
// Threading: a MessageLoop belongs to the thread that created it; only that
// thread runs tasks. Any thread may post through PostTask/PostDelayedTask or
// through task_runner(), whose handle stays safe to use after the loop is
// gone (posts then fail).
#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_

#include <cstdint>
#include <memory>
#include <queue>
#include <vector>

#include "base/callback.h"
#include "base/location.h"
#include "base/message_loop/message_pump.h"
#include "base/message_loop/pending_task.h"
#include "base/message_loop/task_runner.h"

namespace base {

class IncomingTaskQueue;
class MessagePumpDispatcher;
class RunLoop;

class MessageLoop : private MessagePump::Delegate {
 public:
  // TYPE_UI pumps the thread's window messages; TYPE_DEFAULT (and TYPE_IO,
  // which has no I/O support here) only runs tasks.
  enum Type { TYPE_DEFAULT = 0, TYPE_UI = 1, TYPE_IO = 3 };

  // Becomes the calling thread's current loop.
  explicit MessageLoop(Type type = TYPE_DEFAULT);
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  // Destroys the tasks still queued, unrun; later posts fail.
  ~MessageLoop() override;

  // The calling thread's loop, or null.
  static MessageLoop* current();

  // Any thread. False (and the task destroyed unrun) only once the loop is
  // gone.
  bool PostTask(const Location& from_here, OnceClosure task);
  // |delay_us|: signed 64-bit microseconds; 0 or less behaves like PostTask.
  bool PostDelayedTask(const Location& from_here, OnceClosure task,
                       int64_t delay_us);

  // A handle for posting from other threads; safe to keep past the loop.
  std::shared_ptr<TaskRunner> task_runner() const;

  Type type() const { return type_; }

  // Set while the system runs a modal loop of its own on this thread; the UI
  // pump then lets only paint and timer messages overtake its wake-ups.
  void set_os_modal_loop(bool os_modal_loop) { os_modal_loop_ = os_modal_loop; }
  bool os_modal_loop() const { return os_modal_loop_; }

 private:
  friend class IncomingTaskQueue;
  friend class RunLoop;

  // MessagePump::Delegate:
  bool DoWork() override;
  bool DoDelayedWork(int64_t* next_delayed_work_time) override;
  bool DoIdleWork() override;

  // Runs the pump for the innermost RunLoop (RunLoop::Run).
  void RunHandler(MessagePumpDispatcher* dispatcher);
  // Ends the innermost pump run after its current step.
  void QuitPump();
  // Wakes the pump; any thread (IncomingTaskQueue, under its lock).
  void ScheduleWork();

  void ReloadWorkQueue();
  // Runs |pending_task| if it may run at the current depth, else defers it.
  // True if it ran.
  bool DeferOrRunPendingTask(PendingTask pending_task);
  void RunTask(PendingTask pending_task);
  void AddToDelayedWorkQueue(PendingTask pending_task);
  int run_depth() const;

  const Type type_;
  std::unique_ptr<MessagePump> pump_;
  std::shared_ptr<IncomingTaskQueue> incoming_task_queue_;

  // Loop thread only.
  std::queue<PendingTask> work_queue_;
  // A heap ordered by PendingTask::operator<; front() runs next.
  std::vector<PendingTask> delayed_work_queue_;
  std::queue<PendingTask> deferred_non_nestable_work_queue_;
  bool nestable_tasks_allowed_ = true;
  // Cached TimeTicks value, refreshed only when it says nothing is due.
  int64_t recent_time_ = 0;
  RunLoop* current_run_loop_ = nullptr;
  bool os_modal_loop_ = false;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
