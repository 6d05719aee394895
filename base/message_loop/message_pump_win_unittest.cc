#include "base/message_loop/message_pump_win.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/run_loop.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr UINT kMsgHaveWork = MessagePumpForUI::kMsgHaveWork;
constexpr wchar_t kPumpClassPrefix[] = L"Vulmo_MessagePumpWindow_";
constexpr int64_t kWatchdogUs = 30 * 1000 * 1000;  // A bound, not a timing check.
constexpr DWORD kForeignLoopLimitMs = 10000;

// The message-only window of the pump of this thread's loop.
HWND FindPumpWindowOfThisThread() {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr))) {
    wchar_t class_name[128] = {};
    ::GetClassNameW(window, class_name, 128);
    if (std::wstring(class_name).rfind(kPumpClassPrefix, 0) == 0 &&
        ::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
      return window;
    }
  }
  return nullptr;
}

// Counts the wake-up messages queued for |window| and puts them back, so the
// pump's own state stays as it was.
int CountWakeUps(HWND window) {
  std::vector<MSG> taken;
  MSG message;
  while (::PeekMessageW(&message, window, kMsgHaveWork, kMsgHaveWork,
                        PM_REMOVE)) {
    taken.push_back(message);
  }
  for (const MSG& m : taken)
    ::PostMessageW(m.hwnd, m.message, m.wParam, m.lParam);
  return static_cast<int>(taken.size());
}

// Ends |run_loop| (and an inner one, if given) after kWatchdogUs.
class Watchdog {
 public:
  explicit Watchdog(RunLoop* run_loop, RunLoop* inner = nullptr) {
    auto fired = fired_;
    MessageLoop::current()->PostDelayedTask(
        FROM_HERE,
        [fired, run_loop, inner] {
          *fired = true;
          if (inner)
            inner->Quit();
          run_loop->Quit();
        },
        kWatchdogUs);
  }
  bool fired() const { return *fired_; }

 private:
  std::shared_ptr<bool> fired_ = std::make_shared<bool>(false);
};

// A message-only test window whose application messages go to |handler|.
class TestWindow {
 public:
  using Handler = std::function<void(UINT message, WPARAM wparam)>;

  explicit TestWindow(Handler handler) : handler_(std::move(handler)) {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &WndProc;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"VulmoPumpTestWindow";
    ::RegisterClassExW(&window_class);  // Already there for a second window.
    hwnd_ = ::CreateWindowExW(0, L"VulmoPumpTestWindow", L"", 0, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~TestWindow() { ::DestroyWindow(hwnd_); }

  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
    auto* self = reinterpret_cast<TestWindow*>(
        ::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && message >= WM_APP)
      self->handler_(message, wparam);
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }

  Handler handler_;
  HWND hwnd_ = nullptr;
};

// Dispatches the thread's messages the way a system modal loop does (no
// pump, no dispatcher) until |done| or the limit.
void RunForeignLoopUntil(const std::atomic<bool>& done) {
  const DWORD start = ::GetTickCount();
  while (!done && ::GetTickCount() - start < kForeignLoopLimitMs) {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

// A delegate that only counts, for driving the pump directly.
class CountingDelegate : public MessagePump::Delegate {
 public:
  bool DoWork() override {
    ++work_calls;
    return false;
  }
  bool DoDelayedWork(int64_t* next_delayed_work_time) override {
    *next_delayed_work_time = 0;
    return false;
  }
  bool DoIdleWork() override { return false; }

  int work_calls = 0;
};

// Counts like CountingDelegate and ends the run once it is idle.
class QuitWhenIdleDelegate : public CountingDelegate {
 public:
  explicit QuitWhenIdleDelegate(MessagePumpForUI* pump) : pump_(pump) {}
  bool DoIdleWork() override {
    pump_->Quit();
    return false;
  }

 private:
  MessagePumpForUI* const pump_;
};

TEST(MessagePumpForUITest, WindowClassNameCarriesThePumpAddress) {
  MessagePumpForUI pump;
  std::wostringstream expected;
  expected << kPumpClassPrefix << std::uppercase << std::hex
           << std::setfill(L'0') << std::setw(sizeof(void*) * 2)
           << reinterpret_cast<uintptr_t>(&pump);
  EXPECT_EQ(expected.str(), MessagePumpForUI::WindowClassNameFor(&pump));
  EXPECT_EQ(pump.message_hwnd(),
            ::FindWindowExW(HWND_MESSAGE, nullptr, expected.str().c_str(),
                            nullptr));
  // One class per pump: a second pump lives beside the first.
  MessagePumpForUI second;
  EXPECT_NE(pump.message_hwnd(), second.message_hwnd());
  EXPECT_NE(nullptr, second.message_hwnd());
}

std::atomic<int> g_failed_waits{0};

DWORD WINAPI FailingWait(DWORD, const HANDLE*, DWORD, DWORD, DWORD) {
  ++g_failed_waits;
  ::SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

// Idle for a while, then ends the run.
class QuitAfterDelegate : public CountingDelegate {
 public:
  QuitAfterDelegate(MessagePumpForUI* pump, DWORD run_ms)
      : pump_(pump), end_(::GetTickCount() + run_ms) {}
  bool DoIdleWork() override {
    if (static_cast<LONG>(::GetTickCount() - end_) >= 0)
      pump_->Quit();
    return false;
  }

 private:
  MessagePumpForUI* const pump_;
  const DWORD end_;
};

// A wait that keeps failing makes the pump sleep between its rounds, not
// go round again at once.
TEST(MessagePumpForUITest, FailingWaitBacksOffInsteadOfSpinning) {
  g_failed_waits = 0;
  MessagePumpForUI pump(&FailingWait);
  QuitAfterDelegate delegate(&pump, 500);
  pump.Run(&delegate);
  EXPECT_GE(g_failed_waits, 1);
  // 500 ms of back-off rounds are about five; a spinning pump makes
  // thousands. The bound is loose on purpose.
  EXPECT_LT(g_failed_waits, 60);
}

TEST(MessagePumpForUITest, BurstOfScheduleWorkQueuesOneWakeUp) {
  MessagePumpForUI pump;
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&pump] {
      for (int i = 0; i < 1000; ++i)
        pump.ScheduleWork();
    });
  }
  for (std::thread& worker : workers)
    worker.join();
  MSG message;
  int wake_ups = 0;
  while (::PeekMessageW(&message, pump.message_hwnd(), kMsgHaveWork,
                        kMsgHaveWork, PM_REMOVE)) {
    ++wake_ups;
    EXPECT_EQ(reinterpret_cast<WPARAM>(&pump), message.wParam);
  }
  EXPECT_EQ(1, wake_ups);
}

TEST(MessagePumpForUITest, WakeUpWithNoRunActiveOnlyClearsTheFlag) {
  MessagePumpForUI pump;
  pump.ScheduleWork();
  pump.ScheduleWork();  // Already queued: nothing more.
  ASSERT_EQ(1, CountWakeUps(pump.message_hwnd()));

  // A foreign loop outside any run dispatches the wake-up to the window.
  MSG message;
  while (::PeekMessageW(&message, pump.message_hwnd(), 0, 0, PM_REMOVE))
    ::DispatchMessageW(&message);
  ASSERT_EQ(0, CountWakeUps(pump.message_hwnd()));

  // The flag is clear again, so the next request is not lost.
  pump.ScheduleWork();
  EXPECT_EQ(1, CountWakeUps(pump.message_hwnd()));

  // And a run takes it: one DoWork per pass, then quits from idle.
  QuitWhenIdleDelegate quitting_delegate(&pump);
  pump.Run(&quitting_delegate);
  EXPECT_GE(quitting_delegate.work_calls, 1);
  EXPECT_EQ(0, CountWakeUps(pump.message_hwnd()));
}

TEST(MessagePumpForUITest, ObserversSurroundEachDispatchedMessage) {
  MessagePumpForUI pump;
  std::vector<std::string> events;
  struct RecordingObserver : MessagePumpForUI::Observer {
    std::vector<std::string>* events = nullptr;
    void WillProcessMessage(const MSG& message) override {
      if (message.message == WM_APP)
        events->push_back("will");
    }
    void DidProcessMessage(const MSG& message) override {
      if (message.message == WM_APP)
        events->push_back("did");
    }
  } observer;
  observer.events = &events;
  QuitWhenIdleDelegate delegate(&pump);
  TestWindow window([&](UINT message, WPARAM) {
    if (message == WM_APP)
      events.push_back("window");
  });

  pump.AddObserver(&observer);
  ::PostMessageW(window.hwnd(), WM_APP, 0, 0);
  pump.Run(&delegate);
  pump.RemoveObserver(&observer);
  ::PostMessageW(window.hwnd(), WM_APP, 0, 0);
  pump.Run(&delegate);
  EXPECT_EQ((std::vector<std::string>{"will", "window", "did", "window"}),
            events);
}

TEST(MessagePumpForUITest, BurstOfPostsFromWorkerRunsAllWithOneWakeUpAtMost) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  const HWND pump_window = FindPumpWindowOfThisThread();
  ASSERT_NE(nullptr, pump_window);

  constexpr int kTasks = 4000;
  std::atomic<int> ran{0};
  int most_wake_ups_seen = 0;
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  std::thread worker([&] {
    for (int i = 0; i < kTasks; ++i) {
      loop.PostTask(FROM_HERE, [&, i] {
        if (i % 16 == 0) {
          const int wake_ups = CountWakeUps(pump_window);
          if (wake_ups > most_wake_ups_seen)
            most_wake_ups_seen = wake_ups;
        }
        if (++ran == kTasks)
          run_loop.Quit();
      });
    }
  });
  run_loop.Run();
  worker.join();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ(kTasks, ran.load());
  EXPECT_LE(most_wake_ups_seen, 1);
}

// Wake-ups left over in the queue (a run that ended, a post from outside)
// are duplicates: replacing one by the next must not chain without end.
TEST(MessagePumpForUITest, DuplicateWakeUpsInTheQueueDoNotChain) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  const HWND pump_window = FindPumpWindowOfThisThread();
  ASSERT_NE(nullptr, pump_window);
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(::PostMessageW(pump_window, kMsgHaveWork, 0, 0));
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  bool ran = false;
  loop.PostTask(FROM_HERE, [&] {
    ran = true;
    run_loop.Quit();
  });
  run_loop.Run();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_TRUE(ran);
}

TEST(MessagePumpForUITest, DelayedTaskRunsWhenDue) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  const struct {
    int64_t delay_us;
  } kCases[] = {{3000}, {50000}, {0}};
  std::vector<TimeDelta> waited(3);
  const TimeTicks start = TimeTicks::Now();
  std::atomic<int> remaining{3};
  for (int i = 0; i < 3; ++i) {
    loop.PostDelayedTask(
        FROM_HERE,
        [&, i] {
          waited[i] = TimeTicks::Now() - start;
          if (--remaining == 0)
            run_loop.Quit();
        },
        kCases[i].delay_us);
  }
  run_loop.Run();
  EXPECT_FALSE(watchdog.fired());
  for (int i = 0; i < 3; ++i)
    EXPECT_GE(waited[i].InMicroseconds(), kCases[i].delay_us) << i;
  // Bounded: well within the watchdog, and never before it was due.
  EXPECT_LT(waited[1].InMicroseconds(), kWatchdogUs / 2);
}

// While a foreign loop (as a system modal loop would) owns the thread inside
// a run, tasks still run: the wake-up message and the timer reach the pump's
// window procedure.
class ForeignLoopTest : public testing::Test {
 protected:
  void RunForeignLoopFromWindowMessage(std::function<void()> start_work) {
    TestWindow window([&](UINT message, WPARAM) {
      if (message != WM_APP)
        return;
      in_foreign_loop_ = true;
      start_work();
      RunForeignLoopUntil(done_);
      in_foreign_loop_ = false;
      // Only now may the run end.
      MessageLoop::current()->PostTask(FROM_HERE,
                                       [this] { run_loop_.Quit(); });
    });
    ::PostMessageW(window.hwnd(), WM_APP, 0, 0);
    Watchdog watchdog(&run_loop_);
    run_loop_.Run();
    EXPECT_FALSE(watchdog.fired());
  }

  // The task under test: records where it ran and ends the foreign loop.
  OnceClosure MarkDone() {
    return [this] {
      ran_in_foreign_loop_ = in_foreign_loop_.load();
      done_ = true;
    };
  }

  MessageLoop loop_{MessageLoop::TYPE_UI};
  RunLoop run_loop_;
  std::atomic<bool> in_foreign_loop_{false};
  std::atomic<bool> ran_in_foreign_loop_{false};
  std::atomic<bool> done_{false};
};

TEST_F(ForeignLoopTest, TaskFromWorkerRunsThroughWakeUpMessage) {
  std::thread worker;
  RunForeignLoopFromWindowMessage([&] {
    worker = std::thread([&] { loop_.PostTask(FROM_HERE, MarkDone()); });
  });
  worker.join();
  EXPECT_TRUE(done_);
  EXPECT_TRUE(ran_in_foreign_loop_);
}

TEST_F(ForeignLoopTest, DelayedTaskRunsThroughTimer) {
  RunForeignLoopFromWindowMessage(
      [&] { loop_.PostDelayedTask(FROM_HERE, MarkDone(), 30000); });
  EXPECT_TRUE(done_);
  EXPECT_TRUE(ran_in_foreign_loop_);
}

TEST(MessagePumpForUIQuitTest, WmQuitEndsNestedRunsAndStaysQueued) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  RunLoop outer;
  RunLoop inner;
  bool inner_returned = false;
  TestWindow window([&](UINT message, WPARAM) {
    if (message != WM_APP)
      return;
    // Not inside a task, so the inner run runs tasks.
    inner.Run();
    inner_returned = true;
  });
  ::PostMessageW(window.hwnd(), WM_APP, 0, 0);
  loop.PostTask(FROM_HERE, [] { ::PostQuitMessage(7); });
  Watchdog watchdog(&outer, &inner);
  outer.Run();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_TRUE(inner_returned);

  MSG message;
  ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(7u, message.wParam);
}

TEST(MessagePumpForUIQuitTest, QuitOfOuterRunDuringInnerRunEndsBoth) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  RunLoop outer;
  RunLoop inner;
  std::vector<std::string> order;
  TestWindow window([&](UINT message, WPARAM) {
    if (message != WM_APP)
      return;
    loop.PostTask(FROM_HERE, [&] {
      order.push_back("in inner");
      outer.Quit();  // Not the innermost: only marks it.
      inner.Quit();
    });
    inner.Run();
    order.push_back("inner returned");
    loop.PostTask(FROM_HERE, [&] { order.push_back("after"); });
  });
  ::PostMessageW(window.hwnd(), WM_APP, 0, 0);
  Watchdog watchdog(&outer, &inner);
  outer.Run();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ((std::vector<std::string>{"in inner", "inner returned"}), order);
}

TEST(MessagePumpForUIQuitTest, QuitOfInnerRunLeavesOuterRunning) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  RunLoop outer;
  RunLoop inner;
  std::vector<std::string> order;
  TestWindow window([&](UINT message, WPARAM) {
    if (message != WM_APP)
      return;
    loop.PostTask(FROM_HERE, [&] { inner.Quit(); });
    inner.Run();
    order.push_back("inner returned");
    loop.PostTask(FROM_HERE, [&] {
      order.push_back("outer still runs");
      outer.Quit();
    });
  });
  ::PostMessageW(window.hwnd(), WM_APP, 0, 0);
  Watchdog watchdog(&outer, &inner);
  outer.Run();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ((std::vector<std::string>{"inner returned", "outer still runs"}),
            order);
}

// Records what it is shown and answers from a table per message.
class ScriptedDispatcher : public MessagePumpDispatcher {
 public:
  uint32_t Dispatch(const MSG& message) override {
    if (message.message >= WM_APP)
      seen.push_back(message.message);
    if (message.message == kMsgHaveWork)
      ++wake_ups_seen;
    const auto it = answers.find(message.message);
    return it == answers.end() ? POST_DISPATCH_PERFORM_DEFAULT : it->second;
  }

  std::map<UINT, uint32_t> answers;
  std::vector<UINT> seen;
  int wake_ups_seen = 0;
};

TEST(MessagePumpDispatcherTest, ResultBitsDecideDispatchAndQuit) {
  const struct {
    uint32_t answer;
    bool dispatched;
    bool ends_run;
  } kCases[] = {
      {MessagePumpDispatcher::POST_DISPATCH_NONE, false, false},
      {MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT, true, false},
      {MessagePumpDispatcher::POST_DISPATCH_QUIT_LOOP, false, true},
      {MessagePumpDispatcher::POST_DISPATCH_QUIT_LOOP |
           MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT,
       true, true},
  };
  constexpr UINT kProbe = WM_APP + 1;
  constexpr UINT kEnd = WM_APP + 2;  // Ends the run when the probe did not.
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "answer " << c.answer);
    MessageLoop loop(MessageLoop::TYPE_UI);
    std::vector<UINT> reached_window;
    TestWindow window(
        [&](UINT message, WPARAM) { reached_window.push_back(message); });
    ScriptedDispatcher dispatcher;
    dispatcher.answers[kProbe] = c.answer;
    dispatcher.answers[kEnd] = MessagePumpDispatcher::POST_DISPATCH_QUIT_LOOP;
    ::PostMessageW(window.hwnd(), kProbe, 0, 0);
    ::PostMessageW(window.hwnd(), kEnd, 0, 0);
    // Tasks wake the pump too; their wake-ups must not reach the dispatcher.
    loop.PostTask(FROM_HERE, [] {});

    RunLoop run_loop(&dispatcher);
    Watchdog watchdog(&run_loop);
    run_loop.Run();
    EXPECT_FALSE(watchdog.fired());

    EXPECT_EQ(c.dispatched ? std::vector<UINT>{kProbe} : std::vector<UINT>{},
              reached_window);
    EXPECT_EQ(c.ends_run ? std::vector<UINT>{kProbe}
                         : (std::vector<UINT>{kProbe, kEnd}),
              dispatcher.seen);
    EXPECT_EQ(0, dispatcher.wake_ups_seen);
    // A run ended by the probe leaves the next message queued.
    MSG message;
    EXPECT_EQ(c.ends_run, ::PeekMessageW(&message, window.hwnd(), kEnd, kEnd,
                                         PM_REMOVE) != FALSE);
  }
}

TEST(MessagePumpDispatcherTest, RunWithoutDispatcherDispatchesEverything) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  RunLoop run_loop;
  std::vector<UINT> reached_window;
  TestWindow window([&](UINT message, WPARAM) {
    reached_window.push_back(message);
    if (message == WM_APP + 2)
      run_loop.Quit();
  });
  ::PostMessageW(window.hwnd(), WM_APP + 1, 0, 0);
  ::PostMessageW(window.hwnd(), WM_APP + 2, 0, 0);
  Watchdog watchdog(&run_loop);
  run_loop.Run();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ((std::vector<UINT>{WM_APP + 1, WM_APP + 2}), reached_window);
}

// A WH_MSGFILTER hook that swallows one message seen with the pump's code.
HHOOK g_filter_hook = nullptr;
std::atomic<int> g_filter_codes_seen{0};
LRESULT CALLBACK SwallowingFilter(int code, WPARAM wparam, LPARAM lparam) {
  const MSG* message = reinterpret_cast<const MSG*>(lparam);
  if (code == MessagePumpForUI::kMessageFilterCode) {
    ++g_filter_codes_seen;
    if (message->message == WM_APP + 5)
      return 1;
  }
  return ::CallNextHookEx(g_filter_hook, code, wparam, lparam);
}

TEST(MessagePumpDispatcherTest, MessageFilterHookConsumesMessage) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  g_filter_hook = ::SetWindowsHookExW(WH_MSGFILTER, &SwallowingFilter, nullptr,
                                      ::GetCurrentThreadId());
  ASSERT_NE(nullptr, g_filter_hook);
  std::vector<UINT> reached_window;
  TestWindow window(
      [&](UINT message, WPARAM) { reached_window.push_back(message); });
  ScriptedDispatcher dispatcher;
  dispatcher.answers[WM_APP + 6] = MessagePumpDispatcher::POST_DISPATCH_QUIT_LOOP |
                                   MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT;
  ::PostMessageW(window.hwnd(), WM_APP + 5, 0, 0);
  ::PostMessageW(window.hwnd(), WM_APP + 6, 0, 0);
  RunLoop run_loop(&dispatcher);
  Watchdog watchdog(&run_loop);
  run_loop.Run();
  ::UnhookWindowsHookEx(g_filter_hook);
  EXPECT_FALSE(watchdog.fired());
  if (g_filter_codes_seen == 0)
    GTEST_SKIP() << "CallMsgFilterW did not call the WH_MSGFILTER hook";
  EXPECT_EQ((std::vector<UINT>{WM_APP + 6}), dispatcher.seen);
  EXPECT_EQ((std::vector<UINT>{WM_APP + 6}), reached_window);
}

}  // namespace
}  // namespace base
