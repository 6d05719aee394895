#include "base/run_loop.h"

#include "base/logging.h"
#include "base/message_loop/message_loop.h"

namespace base {

RunLoop::RunLoop(MessagePumpDispatcher* dispatcher)
    : loop_(MessageLoop::current()), dispatcher_(dispatcher) {}

RunLoop::~RunLoop() {
  DCHECK(!running_);
}

void RunLoop::Run() {
  CHECK(loop_);
  run_called_ = true;
  if (quit_called_)
    return;

  previous_run_loop_ = loop_->current_run_loop_;
  run_depth_ = previous_run_loop_ ? previous_run_loop_->run_depth_ + 1 : 1;
  loop_->current_run_loop_ = this;
  running_ = true;

  loop_->RunHandler(dispatcher_);

  running_ = false;
  loop_->current_run_loop_ = previous_run_loop_;
  // An outer run that was told to quit while we ran must end as well; its
  // Quit could only set its flag then.
  if (previous_run_loop_ && previous_run_loop_->quit_called_)
    loop_->QuitPump();
}

void RunLoop::Quit() {
  quit_called_ = true;
  if (running_ && loop_->current_run_loop_ == this)
    loop_->QuitPump();
}

}  // namespace base
