#include "base/message_loop/message_loop.h"

#include <algorithm>
#include <utility>

#include "base/debug/trace_event.h"
#include "base/logging.h"
#include "base/message_loop/incoming_task_queue.h"
#include "base/message_loop/message_pump_default.h"
#include "base/message_loop/message_pump_win.h"
#include "base/run_loop.h"
#include "base/threading/thread_local.h"
#include "base/time/time.h"

namespace base {
namespace {

// Trace name of running one task.
constexpr char kTaskRunEvent[] = "MessageLoop::RunTask";

// The calling thread's loop. Constant-initialised, so it is usable before
// any static constructor has run.
ThreadLocalPointer<MessageLoop> g_current_loop;

std::unique_ptr<MessagePump> CreatePump(MessageLoop::Type type) {
  if (type == MessageLoop::TYPE_UI)
    return std::make_unique<MessagePumpForUI>();
  return std::make_unique<MessagePumpDefault>();
}

}  // namespace

MessageLoop::MessageLoop(Type type) : type_(type), pump_(CreatePump(type)) {
  DCHECK(!current());
  g_current_loop.Set(this);
  // Created after the pump: a post may schedule the pump at once.
  incoming_task_queue_ = std::make_shared<IncomingTaskQueue>(this);
}

MessageLoop::~MessageLoop() {
  DCHECK(current() == this);
  // First cut the posters off, so that nothing can reach the pump while it
  // is destroyed and so that tasks posted from the destructors below fail.
  incoming_task_queue_->WillDestroyCurrentMessageLoop();
  while (!work_queue_.empty())
    work_queue_.pop();
  delayed_work_queue_.clear();
  while (!deferred_non_nestable_work_queue_.empty())
    deferred_non_nestable_work_queue_.pop();
  pump_.reset();
  g_current_loop.Set(nullptr);
}

// static
MessageLoop* MessageLoop::current() {
  return g_current_loop.Get();
}

bool MessageLoop::PostTask(const Location& from_here, OnceClosure task) {
  return incoming_task_queue_->AddToIncomingQueue(from_here, std::move(task),
                                                  0, true);
}

bool MessageLoop::PostDelayedTask(const Location& from_here, OnceClosure task,
                                  int64_t delay_us) {
  return incoming_task_queue_->AddToIncomingQueue(from_here, std::move(task),
                                                  delay_us, true);
}

std::shared_ptr<TaskRunner> MessageLoop::task_runner() const {
  return incoming_task_queue_;
}

void MessageLoop::RunHandler(MessagePumpDispatcher* dispatcher) {
  if (dispatcher && type_ == TYPE_UI) {
    static_cast<MessagePumpForUI*>(pump_.get())
        ->RunWithDispatcher(this, dispatcher);
    return;
  }
  pump_->Run(this);
}

void MessageLoop::QuitPump() {
  pump_->Quit();
}

void MessageLoop::ScheduleWork() {
  pump_->ScheduleWork();
}

void MessageLoop::ReloadWorkQueue() {
  // Only when our own queue is dry, so the lock is taken once per batch.
  if (work_queue_.empty())
    incoming_task_queue_->ReloadWorkQueue(&work_queue_);
}

int MessageLoop::run_depth() const {
  return current_run_loop_ ? current_run_loop_->run_depth_ : 0;
}

bool MessageLoop::DoWork() {
  if (!nestable_tasks_allowed_)
    return false;  // A task is running; we are inside it.
  for (;;) {
    ReloadWorkQueue();
    if (work_queue_.empty())
      break;
    do {
      PendingTask pending_task = std::move(work_queue_.front());
      work_queue_.pop();
      if (pending_task.delayed_run_time) {
        const int32_t sequence_num = pending_task.sequence_num;
        const int64_t run_time = pending_task.delayed_run_time;
        AddToDelayedWorkQueue(std::move(pending_task));
        // A new earliest task moves the pump's timer forward.
        if (delayed_work_queue_.front().sequence_num == sequence_num)
          pump_->ScheduleDelayedWork(run_time);
      } else if (DeferOrRunPendingTask(std::move(pending_task))) {
        return true;
      }
    } while (!work_queue_.empty());
  }
  return false;
}

bool MessageLoop::DoDelayedWork(int64_t* next_delayed_work_time) {
  if (!nestable_tasks_allowed_ || delayed_work_queue_.empty()) {
    recent_time_ = *next_delayed_work_time = 0;
    return false;
  }
  // The clock is read only when the cached time says nothing is due, so a
  // backlog of due tasks runs without a clock read per task.
  const int64_t next_run_time = delayed_work_queue_.front().delayed_run_time;
  if (next_run_time > recent_time_) {
    recent_time_ = TimeTicks::Now().ToInternalValue();
    if (next_run_time > recent_time_) {
      *next_delayed_work_time = next_run_time;
      return false;
    }
  }
  std::pop_heap(delayed_work_queue_.begin(), delayed_work_queue_.end());
  PendingTask pending_task = std::move(delayed_work_queue_.back());
  delayed_work_queue_.pop_back();
  *next_delayed_work_time = delayed_work_queue_.empty()
                                ? 0
                                : delayed_work_queue_.front().delayed_run_time;
  DeferOrRunPendingTask(std::move(pending_task));
  return true;
}

bool MessageLoop::DoIdleWork() {
  if (run_depth() == 1 && !deferred_non_nestable_work_queue_.empty()) {
    PendingTask pending_task =
        std::move(deferred_non_nestable_work_queue_.front());
    deferred_non_nestable_work_queue_.pop();
    RunTask(std::move(pending_task));
    return true;
  }
  if (current_run_loop_ && current_run_loop_->quit_when_idle_received_)
    pump_->Quit();
  return false;
}

bool MessageLoop::DeferOrRunPendingTask(PendingTask pending_task) {
  if (pending_task.nestable || run_depth() == 1) {
    RunTask(std::move(pending_task));
    return true;
  }
  // Held back until the outermost run is idle again.
  deferred_non_nestable_work_queue_.push(std::move(pending_task));
  return false;
}

void MessageLoop::RunTask(PendingTask pending_task) {
  DCHECK(nestable_tasks_allowed_);
  // A nested run started by this task must not run other tasks inside it.
  nestable_tasks_allowed_ = false;
  TRACE_EVENT2("toplevel", kTaskRunEvent, "src_file",
               pending_task.posted_from.file_name(), "src_func",
               pending_task.posted_from.function_name());
  TRACE_EVENT_FLOW_END0("disabled-by-default-toplevel.flow",
                        "MessageLoop::PostTask", pending_task.sequence_num);
  std::move(pending_task.task).Run();
  nestable_tasks_allowed_ = true;
}

void MessageLoop::AddToDelayedWorkQueue(PendingTask pending_task) {
  delayed_work_queue_.push_back(std::move(pending_task));
  std::push_heap(delayed_work_queue_.begin(), delayed_work_queue_.end());
}

}  // namespace base
