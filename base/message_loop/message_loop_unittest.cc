#include "base/message_loop/message_loop.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/run_loop.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Bound on every run in these tests; a run that needs it has failed.
constexpr int64_t kWatchdogUs = 30 * 1000 * 1000;  // A bound, not a timing check.

// Ends |run_loop| if it is still running after kWatchdogUs, and says so.
class Watchdog {
 public:
  explicit Watchdog(RunLoop* run_loop) {
    auto fired = fired_;
    MessageLoop::current()->PostDelayedTask(
        FROM_HERE,
        [fired, run_loop] {
          *fired = true;
          run_loop->Quit();
        },
        kWatchdogUs);
  }
  bool fired() const { return *fired_; }

 private:
  std::shared_ptr<bool> fired_ = std::make_shared<bool>(false);
};

// Sets a flag when destroyed; bound into tasks to see them destroyed.
class DestructionMarker {
 public:
  explicit DestructionMarker(std::atomic<bool>* destroyed)
      : destroyed_(destroyed) {}
  ~DestructionMarker() { *destroyed_ = true; }

 private:
  std::atomic<bool>* destroyed_;
};

// The task behaviour is the same whatever pump drives the loop.
class MessageLoopTest : public testing::TestWithParam<MessageLoop::Type> {
 protected:
  MessageLoop loop_{GetParam()};
  std::vector<std::string> order_;

  OnceClosure Record(const std::string& name) {
    return [this, name] { order_.push_back(name); };
  }
  OnceClosure RecordAndQuit(const std::string& name, RunLoop* run_loop) {
    return [this, name, run_loop] {
      order_.push_back(name);
      run_loop->Quit();
    };
  }
};

TEST_P(MessageLoopTest, CurrentIsTheThreadsLoop) {
  EXPECT_EQ(&loop_, MessageLoop::current());
  EXPECT_EQ(GetParam(), loop_.type());
  MessageLoop* seen_by_worker = &loop_;
  std::thread([&seen_by_worker] { seen_by_worker = MessageLoop::current(); })
      .join();
  EXPECT_EQ(nullptr, seen_by_worker);
}

TEST_P(MessageLoopTest, ImmediateTasksRunInPostingOrder) {
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  EXPECT_TRUE(loop_.PostTask(FROM_HERE, Record("a")));
  EXPECT_TRUE(loop_.PostDelayedTask(FROM_HERE, Record("b"), 0));
  EXPECT_TRUE(loop_.PostDelayedTask(FROM_HERE, Record("c"), -5));  // Now.
  EXPECT_TRUE(loop_.task_runner()->PostTask(FROM_HERE, Record("d")));
  EXPECT_TRUE(loop_.PostTask(FROM_HERE, RecordAndQuit("e", &run_loop)));
  run_loop.Run();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d", "e"}), order_);
}

TEST_P(MessageLoopTest, DelayedTasksRunByDueTimeThenPostingOrder) {
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  const TimeTicks start = TimeTicks::Now();
  // Same delay: posting order. Shorter delay posted later: runs first.
  // Immediate tasks before all of them.
  loop_.PostDelayedTask(FROM_HERE, Record("long1"), 120000);
  loop_.PostDelayedTask(FROM_HERE, Record("long2"), 120000);
  loop_.PostDelayedTask(FROM_HERE, Record("short"), 20000);
  loop_.PostTask(FROM_HERE, Record("now"));
  loop_.PostDelayedTask(FROM_HERE, RecordAndQuit("last", &run_loop), 200000);
  run_loop.Run();
  const TimeDelta elapsed = TimeTicks::Now() - start;
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ(
      (std::vector<std::string>{"now", "short", "long1", "long2", "last"}),
      order_);
  // A delayed task never runs before it is due.
  EXPECT_GE(elapsed.InMicroseconds(), 200000);
}

// now + delay would overflow: the task is due at the end of time, not at
// once (a wrapped sum would lie in the past).
TEST_P(MessageLoopTest, DelayTooLargeForTheClockNeverComesDue) {
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  loop_.PostDelayedTask(FROM_HERE, Record("forever"), INT64_MAX);
  loop_.PostDelayedTask(FROM_HERE, Record("almost forever"), INT64_MAX - 1);
  loop_.PostDelayedTask(FROM_HERE, RecordAndQuit("soon", &run_loop), 50000);
  run_loop.Run();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ((std::vector<std::string>{"soon"}), order_);
}

TEST_P(MessageLoopTest, TaskPostedInsideTaskRunsOnALaterStep) {
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  loop_.PostTask(FROM_HERE, [this, &run_loop] {
    order_.push_back("outer begin");
    loop_.PostTask(FROM_HERE, RecordAndQuit("inner", &run_loop));
    // A foreign loop inside the task (as a modal dialog would run) hands the
    // UI pump its wake-up; even so the new task must wait.
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 100) {
      MSG message;
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageW(&message);
      ::Sleep(5);
    }
    order_.push_back("outer end");
  });
  run_loop.Run();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ((std::vector<std::string>{"outer begin", "outer end", "inner"}),
            order_);
}

TEST_P(MessageLoopTest, QuitFromTaskLeavesQueuedTasksForTheNextRun) {
  {
    RunLoop run_loop;
    Watchdog watchdog(&run_loop);
    loop_.PostTask(FROM_HERE, RecordAndQuit("quitter", &run_loop));
    loop_.PostTask(FROM_HERE, Record("queued"));
    run_loop.Run();
    EXPECT_FALSE(watchdog.fired());
    EXPECT_EQ((std::vector<std::string>{"quitter"}), order_);
  }
  // Still queued, not lost: the next run gets it first.
  RunLoop next_run;
  Watchdog watchdog(&next_run);
  loop_.PostTask(FROM_HERE, RecordAndQuit("next", &next_run));
  next_run.Run();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ((std::vector<std::string>{"quitter", "queued", "next"}), order_);
}

TEST_P(MessageLoopTest, QuitBeforeRunReturnsAtOnce) {
  loop_.PostTask(FROM_HERE, Record("queued"));
  {
    RunLoop run_loop;
    run_loop.Quit();
    run_loop.Run();  // Would run "queued" (and then hang) if it ran at all.
    EXPECT_FALSE(run_loop.running());
    EXPECT_TRUE(order_.empty());
  }
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  loop_.PostTask(FROM_HERE, RecordAndQuit("quit", &run_loop));
  run_loop.Run();
  EXPECT_EQ((std::vector<std::string>{"queued", "quit"}), order_);
}

TEST_P(MessageLoopTest, TasksFromWorkerThreadsRunOnTheLoopThread) {
  constexpr int kThreads = 3;
  constexpr int kTasksPerThread = 500;
  const DWORD loop_thread = ::GetCurrentThreadId();
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> wrong_thread{0};
  std::atomic<int> remaining{kThreads * kTasksPerThread};
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  std::shared_ptr<TaskRunner> runner = loop_.task_runner();

  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < kTasksPerThread; ++i) {
        OnceClosure task = [&, t, i] {
          if (::GetCurrentThreadId() != loop_thread)
            ++wrong_thread;
          seen[t].push_back(i);
          if (--remaining == 0)
            run_loop.Quit();
        };
        // Half through the loop, half through a kept handle.
        const bool posted = (i % 2) ? loop_.PostTask(FROM_HERE, std::move(task))
                                    : runner->PostTask(FROM_HERE, std::move(task));
        EXPECT_TRUE(posted);
      }
    });
  }
  run_loop.Run();
  for (std::thread& worker : workers)
    worker.join();

  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ(0, wrong_thread.load());
  std::vector<int> expected(kTasksPerThread);
  for (int i = 0; i < kTasksPerThread; ++i)
    expected[i] = i;
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(expected, seen[t]) << "worker " << t;  // Each exactly once, in order.
}

TEST_P(MessageLoopTest, DelayedTaskFromWorkerThreadWakesTheLoop) {
  const DWORD loop_thread = ::GetCurrentThreadId();
  DWORD ran_on = 0;
  RunLoop run_loop;
  Watchdog watchdog(&run_loop);
  std::thread worker([&] {
    ::Sleep(50);  // The loop is asleep by now.
    loop_.PostDelayedTask(
        FROM_HERE,
        [&] {
          ran_on = ::GetCurrentThreadId();
          run_loop.Quit();
        },
        30000);
  });
  run_loop.Run();
  worker.join();
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ(loop_thread, ran_on);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, MessageLoopTest,
                         testing::Values(MessageLoop::TYPE_DEFAULT,
                                         MessageLoop::TYPE_UI),
                         [](const testing::TestParamInfo<MessageLoop::Type>& info) {
                           return info.param == MessageLoop::TYPE_UI
                                      ? std::string("UI")
                                      : std::string("Default");
                         });

TEST(MessageLoopLifetimeTest, PostAfterLoopIsGoneFailsAndDestroysTheTask) {
  std::shared_ptr<TaskRunner> runner;
  std::atomic<bool> queued_task_destroyed{false};
  std::atomic<bool> queued_task_ran{false};
  {
    MessageLoop loop(MessageLoop::TYPE_UI);
    runner = loop.task_runner();
    auto marker = std::make_shared<DestructionMarker>(&queued_task_destroyed);
    EXPECT_TRUE(runner->PostDelayedTask(
        FROM_HERE, [marker, &queued_task_ran] { queued_task_ran = true; },
        1000000));
    marker.reset();
    EXPECT_FALSE(queued_task_destroyed);
  }
  // Tasks still queued when the loop went were destroyed, not run.
  EXPECT_TRUE(queued_task_destroyed);
  EXPECT_FALSE(queued_task_ran);
  EXPECT_EQ(nullptr, MessageLoop::current());

  std::atomic<bool> late_task_destroyed{false};
  std::atomic<bool> late_task_ran{false};
  auto marker = std::make_shared<DestructionMarker>(&late_task_destroyed);
  EXPECT_FALSE(runner->PostTask(
      FROM_HERE, [marker, &late_task_ran] { late_task_ran = true; }));
  marker.reset();
  EXPECT_TRUE(late_task_destroyed);
  EXPECT_FALSE(late_task_ran);

  // The same from another thread, for a delayed post.
  std::atomic<bool> posted{true};
  std::thread([&] {
    posted = runner->PostDelayedTask(FROM_HERE, [] {}, 1000);
  }).join();
  EXPECT_FALSE(posted);
}

// A task destroyed with the loop may post from its destructor (an object it
// owns tells someone it is going). That must neither deadlock nor succeed.
TEST(MessageLoopLifetimeTest, PostFromTaskDestructorDuringLoopDestruction) {
  std::shared_ptr<TaskRunner> runner;
  std::atomic<int> attempts{0};
  std::atomic<int> successes{0};
  struct PostsOnDestruction {
    PostsOnDestruction(std::shared_ptr<TaskRunner> runner,
                       std::atomic<int>* attempts, std::atomic<int>* successes)
        : runner(std::move(runner)), attempts(attempts), successes(successes) {}
    std::shared_ptr<TaskRunner> runner;
    std::atomic<int>* attempts;
    std::atomic<int>* successes;
    ~PostsOnDestruction() {
      ++*attempts;
      if (runner->PostTask(FROM_HERE, [] {}))
        ++*successes;
    }
  };
  {
    MessageLoop loop(MessageLoop::TYPE_UI);
    runner = loop.task_runner();
    auto in_delayed_queue = std::make_shared<PostsOnDestruction>(
        runner, &attempts, &successes);
    auto in_incoming_queue = std::make_shared<PostsOnDestruction>(
        runner, &attempts, &successes);
    loop.PostDelayedTask(FROM_HERE, [in_delayed_queue] {}, 1000000);
    // Moves the delayed task out of the incoming queue.
    RunLoop run_loop;
    loop.PostTask(FROM_HERE, [&run_loop] { run_loop.Quit(); });
    run_loop.Run();
    std::thread([&] {
      runner->PostTask(FROM_HERE, [in_incoming_queue] {});
    }).join();
  }
  EXPECT_EQ(2, attempts.load());
  EXPECT_EQ(0, successes.load());
}

TEST(MessageLoopLifetimeTest, NewLoopAfterOldOneIsGone) {
  { MessageLoop first(MessageLoop::TYPE_UI); }
  MessageLoop second(MessageLoop::TYPE_UI);
  EXPECT_EQ(&second, MessageLoop::current());
  RunLoop run_loop;
  bool ran = false;
  second.PostTask(FROM_HERE, [&] {
    ran = true;
    run_loop.Quit();
  });
  Watchdog watchdog(&run_loop);
  run_loop.Run();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(watchdog.fired());
}

}  // namespace
}  // namespace base
