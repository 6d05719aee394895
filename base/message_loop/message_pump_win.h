// The pump of a UI MessageLoop: interleaves the thread's window messages with
// the loop's immediate and delayed tasks, and sleeps in one system wait when
// there is nothing to do.
//
// Threading: ScheduleWork may be called from any thread (it touches only the
// interlocked work-pending flag and PostMessageW); everything else runs on
// the thread that created the pump.
//
// Wake-ups: another thread's post sends one private message to the pump's
// message-only window; an interlocked flag keeps at most one of them in the
// queue. Delayed tasks are driven by one system timer for the earliest due
// time. Both also work while a foreign loop (a system modal loop) dispatches
// the thread's messages, through the window procedure.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/message_loop/message_pump.h"

namespace base {

class MessagePumpDispatcher;

class MessagePumpForUI : public MessagePump {
 public:
  // Sees each message that goes to the dispatcher, before and after.
  class Observer {
   public:
    virtual void WillProcessMessage(const MSG& message) = 0;
    virtual void DidProcessMessage(const MSG& message) = 0;

   protected:
    virtual ~Observer() = default;
  };

  // Posted to the message window, with the pump's address as wParam, to wake
  // the pump.
  static constexpr UINT kMsgHaveWork = WM_USER + 1;
  // Passed to CallMsgFilterW for every message, so installed message hooks
  // see the pump's messages as they would a dialog's.
  static constexpr int kMessageFilterCode = 0x5001;
  // SetTimer is never asked for less.
  static constexpr int kMinTimerDelayMs = 10;

  // The system wait the pump sleeps in (MsgWaitForMultipleObjectsEx's
  // signature); tests pass their own.
  using WaitFunction = DWORD(WINAPI*)(DWORD count, const HANDLE* handles,
                                      DWORD milliseconds, DWORD wake_mask,
                                      DWORD flags);
  // After a failed wait the pump sleeps at most this long before it looks
  // for work again, so a wait that keeps failing cannot spin the thread.
  static constexpr DWORD kWaitFailedBackOffMs = 100;

  MessagePumpForUI();
  explicit MessagePumpForUI(WaitFunction wait);
  ~MessagePumpForUI() override;

  // MessagePump:
  void Run(Delegate* delegate) override;
  void Quit() override;
  void ScheduleWork() override;
  void ScheduleDelayedWork(int64_t delayed_work_time) override;

  // Like Run, with every message first handed to |dispatcher| (not owned;
  // outlives the run), whose result bits decide what happens to it.
  void RunWithDispatcher(Delegate* delegate, MessagePumpDispatcher* dispatcher);

  // |observer| is not owned and must stay until removed.
  void AddObserver(Observer* observer);
  void RemoveObserver(Observer* observer);

  // The hidden message-only window that receives wake-ups and the timer.
  HWND message_hwnd() const { return message_hwnd_; }

  // "Vulmo_MessagePumpWindow_" + |pump| printed like swprintf's %p (upper-case
  // hex, zero-padded to the pointer's width).
  static std::wstring WindowClassNameFor(const void* pump);

 private:
  struct RunState {
    Delegate* delegate;
    MessagePumpDispatcher* dispatcher;
    bool should_quit;
    int run_depth;
  };

  static LRESULT CALLBACK WndProcThunk(HWND hwnd, UINT message, WPARAM wparam,
                                       LPARAM lparam);
  void DoRunLoop();
  void WaitForWork();
  void HandleWorkMessage();
  void HandleTimerMessage();
  bool ProcessNextWindowsMessage();
  bool ProcessMessageHelper(const MSG& message);
  bool ProcessPumpReplacementMessage();
  // Milliseconds until the delayed work time, rounded up and not below 0;
  // -1 when there is none.
  int GetCurrentDelay() const;

  std::wstring class_name_;
  HINSTANCE instance_ = nullptr;
  HWND message_hwnd_ = nullptr;

  // 1 while a kMsgHaveWork is in the queue; changed only by interlocked
  // exchange.
  volatile LONG have_work_ = 0;

  // Monotonic microseconds of the earliest delayed task; 0 for none.
  int64_t delayed_work_time_ = 0;

  // The innermost active run; runs nest through the stack.
  RunState* state_ = nullptr;

  std::vector<Observer*> observers_;

  const WaitFunction wait_;
  bool wait_failure_logged_ = false;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_
