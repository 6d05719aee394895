#include "base/message_loop/message_pump_win.h"

#include <algorithm>

#include "base/debug/failure_histogram.h"
#include "base/debug/trace_event.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/time/time.h"

namespace base {
namespace {

constexpr wchar_t kWndClassPrefix[] = L"Vulmo_MessagePumpWindow_";

// Trace name of a timer message handled by the message window.
constexpr char kTimerEvent[] = "MessagePumpForUI::HandleTimerMessage";

// Buckets of the failure histogram; the numbers are fixed.
constexpr char kProblemHistogram[] = "Vulmo.MessageLoopProblem";
enum MessageLoopProblem {
  MESSAGE_POST_ERROR = 0,
  COMPLETION_POST_ERROR = 1,  // Of an I/O pump; none exists here.
  SET_TIMER_ERROR = 2,
  MESSAGE_LOOP_PROBLEM_MAX,
};

void RecordMessageLoopProblem(MessageLoopProblem problem) {
  UMA_HISTOGRAM_ENUMERATION(kProblemHistogram, problem,
                            MESSAGE_LOOP_PROBLEM_MAX);
}

}  // namespace

MessagePumpForUI::MessagePumpForUI()
    : MessagePumpForUI(&::MsgWaitForMultipleObjectsEx) {}

MessagePumpForUI::MessagePumpForUI(WaitFunction wait) : wait_(wait) {
  class_name_ = WindowClassNameFor(this);
  // The class belongs to the module holding this code (the program, or a DLL
  // it might one day live in), not to whoever started the process.
  CHECK(::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<const wchar_t*>(&WndProcThunk),
                             &instance_));
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &WndProcThunk;
  window_class.hInstance = instance_;
  window_class.lpszClassName = class_name_.c_str();
  CHECK(::RegisterClassExW(&window_class));
  message_hwnd_ = ::CreateWindowExW(0, class_name_.c_str(), nullptr, 0, 0, 0,
                                    0, 0, HWND_MESSAGE, nullptr, instance_,
                                    nullptr);
  CHECK(message_hwnd_);
  // The window procedure finds the pump here rather than trusting the
  // message parameters: any process may post to a message-only window.
  ::SetWindowLongPtrW(message_hwnd_, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(this));
}

MessagePumpForUI::~MessagePumpForUI() {
  ::SetWindowLongPtrW(message_hwnd_, GWLP_USERDATA, 0);
  ::DestroyWindow(message_hwnd_);
  ::UnregisterClassW(class_name_.c_str(), instance_);
}

// static
std::wstring MessagePumpForUI::WindowClassNameFor(const void* pump) {
  static constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";
  uintptr_t value = reinterpret_cast<uintptr_t>(pump);
  std::wstring digits(sizeof(value) * 2, L'0');
  for (size_t i = digits.size(); i > 0; --i, value >>= 4)
    digits[i - 1] = kHexDigits[value & 0xF];
  return kWndClassPrefix + digits;
}

void MessagePumpForUI::Run(Delegate* delegate) {
  RunWithDispatcher(delegate, nullptr);
}

void MessagePumpForUI::RunWithDispatcher(Delegate* delegate,
                                         MessagePumpDispatcher* dispatcher) {
  RunState state;
  state.delegate = delegate;
  state.dispatcher = dispatcher;
  state.should_quit = false;
  state.run_depth = state_ ? state_->run_depth + 1 : 1;

  RunState* previous_state = state_;
  state_ = &state;
  DoRunLoop();
  state_ = previous_state;
}

void MessagePumpForUI::Quit() {
  DCHECK(state_);
  if (state_)
    state_->should_quit = true;
}

void MessagePumpForUI::AddObserver(Observer* observer) {
  observers_.push_back(observer);
}

void MessagePumpForUI::RemoveObserver(Observer* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer),
                   observers_.end());
}

void MessagePumpForUI::ScheduleWork() {
  if (::InterlockedExchange(&have_work_, 1))
    return;  // A wake-up is already in the queue.
  if (::PostMessageW(message_hwnd_, kMsgHaveWork, reinterpret_cast<WPARAM>(this),
                     0)) {
    return;
  }
  // The queue is full. The tasks run when the next message or the timer
  // wakes the pump; let a later post try again.
  ::InterlockedExchange(&have_work_, 0);
  RecordMessageLoopProblem(MESSAGE_POST_ERROR);
}

void MessagePumpForUI::ScheduleDelayedWork(int64_t delayed_work_time) {
  delayed_work_time_ = delayed_work_time;
  // The timer is only the fallback for when the pump does not pass its
  // delayed step in time (a foreign loop owns the thread); the wait in
  // WaitForWork uses the exact delay.
  const int delay_ms = std::max(GetCurrentDelay(), kMinTimerDelayMs);
  if (!::SetTimer(message_hwnd_, reinterpret_cast<UINT_PTR>(this),
                  static_cast<UINT>(delay_ms), nullptr)) {
    RecordMessageLoopProblem(SET_TIMER_ERROR);
  }
}

// static
LRESULT CALLBACK MessagePumpForUI::WndProcThunk(HWND hwnd, UINT message,
                                                WPARAM wparam, LPARAM lparam) {
  auto* pump = reinterpret_cast<MessagePumpForUI*>(
      ::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // Both messages carry the pump's address (as wParam, or as the timer id);
  // anything else with these numbers was not sent by the pump.
  if (pump && wparam == reinterpret_cast<WPARAM>(pump)) {
    if (message == kMsgHaveWork)
      pump->HandleWorkMessage();
    else if (message == WM_TIMER)
      pump->HandleTimerMessage();
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

void MessagePumpForUI::DoRunLoop() {
  for (;;) {
    bool more_work_is_plausible = ProcessNextWindowsMessage();
    if (state_->should_quit)
      break;

    more_work_is_plausible |= state_->delegate->DoWork();
    if (state_->should_quit)
      break;

    more_work_is_plausible |=
        state_->delegate->DoDelayedWork(&delayed_work_time_);
    // Nothing is left delayed: a pending timer would only wake us for
    // nothing.
    if (more_work_is_plausible && delayed_work_time_ == 0)
      ::KillTimer(message_hwnd_, reinterpret_cast<UINT_PTR>(this));
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    more_work_is_plausible = state_->delegate->DoIdleWork();
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    WaitForWork();
  }
}

void MessagePumpForUI::WaitForWork() {
  const int delay = GetCurrentDelay();
  const DWORD result =
      wait_(0, nullptr, delay < 0 ? INFINITE : static_cast<DWORD>(delay),
            QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (result == WAIT_FAILED) {
    // A failing wait returns at once; going round again would spin the
    // thread. Say so once, then sleep instead of waiting, no longer than the
    // next delayed task allows.
    if (!wait_failure_logged_) {
      PLOG(ERROR) << "MsgWaitForMultipleObjectsEx failed";
      wait_failure_logged_ = true;
    }
    ::Sleep(delay < 0 ? kWaitFailedBackOffMs
                      : std::min(static_cast<DWORD>(delay), kWaitFailedBackOffMs));
    return;
  }
  if (result != WAIT_OBJECT_0)
    return;
  // Mouse input that PeekMessageW cannot find belongs to another thread's
  // window attached to our input queue; the wait would report it again at
  // once. Wait for a message of our own instead of spinning.
  const DWORD queue_status = ::GetQueueStatus(QS_MOUSE);
  MSG message;
  if ((HIWORD(queue_status) & QS_MOUSE) &&
      !::PeekMessageW(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST,
                      PM_NOREMOVE)) {
    ::WaitMessage();
  }
}

void MessagePumpForUI::HandleWorkMessage() {
  if (!state_) {
    // A foreign loop outside any Run dispatched our wake-up. Only let the
    // next post wake us again; the tasks wait for the next Run.
    ::InterlockedExchange(&have_work_, 0);
    return;
  }
  // A foreign loop (a system modal loop) inside our Run owns the thread:
  // keep the tasks flowing through it.
  ProcessPumpReplacementMessage();
  if (state_->delegate->DoWork())
    ScheduleWork();
}

void MessagePumpForUI::HandleTimerMessage() {
  TRACE_EVENT0("base", kTimerEvent);
  ::KillTimer(message_hwnd_, reinterpret_cast<UINT_PTR>(this));
  if (!state_)
    return;
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  if (delayed_work_time_ != 0)
    ScheduleDelayedWork(delayed_work_time_);
}

bool MessagePumpForUI::ProcessNextWindowsMessage() {
  // Sent messages are handled inside PeekMessageW and do not come back as a
  // message, but they still mean that something happened.
  const DWORD queue_status = ::GetQueueStatus(QS_SENDMESSAGE);
  const bool sent_messages_in_queue =
      (HIWORD(queue_status) & QS_SENDMESSAGE) != 0;
  MSG message;
  if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    return ProcessMessageHelper(message);
  return sent_messages_in_queue;
}

bool MessagePumpForUI::ProcessMessageHelper(const MSG& message) {
  TRACE_EVENT1("base", "MessagePumpForUI::ProcessMessageHelper", "message",
               message.message);
  if (message.message == WM_QUIT) {
    // Ends this run and leaves the quit for an outer loop to see as well.
    state_->should_quit = true;
    ::PostQuitMessage(static_cast<int>(message.wParam));
    return false;
  }

  if (message.message == kMsgHaveWork && message.hwnd == message_hwnd_)
    return ProcessPumpReplacementMessage();

  if (::CallMsgFilterW(const_cast<MSG*>(&message), kMessageFilterCode))
    return true;  // A message hook consumed it.

  for (size_t i = 0; i < observers_.size(); ++i)
    observers_[i]->WillProcessMessage(message);

  uint32_t action = MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT;
  if (state_->dispatcher)
    action = state_->dispatcher->Dispatch(message);
  if (action & MessagePumpDispatcher::POST_DISPATCH_QUIT_LOOP)
    state_->should_quit = true;
  if (action & MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }

  for (size_t i = 0; i < observers_.size(); ++i)
    observers_[i]->DidProcessMessage(message);
  return true;
}

bool MessagePumpForUI::ProcessPumpReplacementMessage() {
  // A wake-up taken from the queue is replaced by the next real message, so
  // that a stream of posts cannot starve input and paint messages.
  MSG message;
  bool have_message;
  const MessageLoop* loop = MessageLoop::current();
  if (loop && loop->os_modal_loop()) {
    // Inside a system modal loop only paint and timer messages may overtake.
    have_message =
        ::PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE) ||
        ::PeekMessageW(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE);
  } else {
    have_message = ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE;
  }

  // The wake-up is out of the queue: a later post must queue a new one.
  ::InterlockedExchange(&have_work_, 0);

  if (!have_message)
    return false;

  // A second wake-up (left by a run that ended, or posted from outside) is
  // only a duplicate: the caller does the work next. Handling it here would
  // replace it again, post another, and recurse without end.
  if (message.message == kMsgHaveWork && message.hwnd == message_hwnd_)
    return true;

  // Handling the message may run a nested loop in system code that never
  // returns to us in time; make sure a wake-up is queued for it first.
  ScheduleWork();
  return ProcessMessageHelper(message);
}

int MessagePumpForUI::GetCurrentDelay() const {
  if (delayed_work_time_ == 0)
    return -1;
  const int64_t delay_ms =
      TimeDelta::FromMicroseconds(delayed_work_time_ -
                                  TimeTicks::Now().ToInternalValue())
          .InMillisecondsRoundedUp();
  if (delay_ms < 0)
    return 0;
  // Beyond a few weeks the timer is re-armed on the way anyway.
  return delay_ms > INT32_MAX ? INT32_MAX : static_cast<int>(delay_ms);
}

}  // namespace base
