// Runs the current thread's MessageLoop until Quit. Runs may nest; Quit ends
// only this run. Quit before Run makes Run return at once.
//
// Threading: used only on the loop's thread; another thread that wants a run
// to end posts a task that calls Quit.
#ifndef BASE_RUN_LOOP_H_
#define BASE_RUN_LOOP_H_

namespace base {

class MessageLoop;
class MessagePumpDispatcher;

class RunLoop {
 public:
  // Binds to MessageLoop::current(). |dispatcher| (not owned, may be null)
  // sees every window message of a UI loop before translate-and-dispatch.
  explicit RunLoop(MessagePumpDispatcher* dispatcher = nullptr);
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;
  ~RunLoop();

  void Run();
  void Quit();

  bool running() const { return running_; }

 private:
  friend class MessageLoop;

  MessageLoop* loop_;
  RunLoop* previous_run_loop_ = nullptr;
  MessagePumpDispatcher* dispatcher_;
  int run_depth_ = 0;
  bool run_called_ = false;
  bool quit_called_ = false;
  bool running_ = false;
  bool quit_when_idle_received_ = false;
};

}  // namespace base

#endif  // BASE_RUN_LOOP_H_
