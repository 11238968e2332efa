#include "base/LoopScheduler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <future>
#include <string>
#include <thread>

namespace tallyloft {
namespace {

using namespace std::chrono_literals;

const Scheduler::TimePoint kStart{std::chrono::seconds(1'700'000'000)};

TEST(LoopSchedulerVirtual, FiresTimersInDueOrderAsTimeAdvances) {
  LoopScheduler loop(kStart);
  std::string log;
  loop.after(3s, [&] { log += "c"; });
  loop.after(1s, [&] { log += "a"; });
  loop.after(1s, [&] { log += "b"; });  // same due time: creation order
  loop.post([&] { log += "p"; });

  loop.advance(999ms);
  EXPECT_EQ(log, "p");
  loop.advance(1ms);
  EXPECT_EQ(log, "pab");
  loop.advance(10s);
  EXPECT_EQ(log, "pabc");
  EXPECT_EQ(loop.now(), kStart + 11s);
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(LoopSchedulerVirtual, TimerSeesItsOwnDueTimeAndCanScheduleMore) {
  LoopScheduler loop(kStart);
  std::vector<Scheduler::TimePoint> seen;
  loop.after(2s, [&] {
    seen.push_back(loop.now());
    loop.after(200ms, [&] { seen.push_back(loop.now()); });
  });
  loop.advance(5s);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], kStart + 2s);
  EXPECT_EQ(seen[1], kStart + 2200ms);
}

TEST(LoopSchedulerVirtual, RepeatingTimerAndCancel) {
  LoopScheduler loop(kStart);
  int ticks = 0;
  Scheduler::TimerId id = 0;
  id = loop.every(30s, [&] {
    if (++ticks == 3) loop.cancel(id);
  });
  loop.advance(29s);
  EXPECT_EQ(ticks, 0);
  loop.advance(31s);
  EXPECT_EQ(ticks, 2);
  loop.advance(300s);
  EXPECT_EQ(ticks, 3);  // cancelled from inside its own tick

  int once = 0;
  auto single = loop.after(1s, [&] { ++once; });
  loop.cancel(single);
  loop.cancel(single);  // twice is harmless
  loop.cancel(12345);   // unknown too
  loop.advance(2s);
  EXPECT_EQ(once, 0);
}

TEST(LoopSchedulerVirtual, BackgroundWorkRunsInlineAndPostsBack) {
  LoopScheduler loop(kStart);
  std::string log;
  loop.background([&] {
    log += "work;";
    loop.post([&] { log += "applied;"; });
  });
  EXPECT_EQ(log, "work;");
  loop.runPending();
  EXPECT_EQ(log, "work;applied;");
}

TEST(LoopSchedulerReal, RunsPostsFromOtherThreadsAndTimersUntilQuit) {
  LoopScheduler loop;
  std::vector<int> order;
  std::thread poster([&] { loop.post([&] { order.push_back(1); }); });
  loop.after(30ms, [&] {
    order.push_back(2);
    loop.background([&] {
      loop.post([&] {
        order.push_back(3);
        loop.quit();
      });
    });
  });
  loop.run();
  poster.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_GT(loop.now(), kStart);
}

// A steady stream of posts (a load of hook events) must not hold off a due timer (the reaper).
TEST(LoopSchedulerReal, DueTimersFireBetweenPostedTasks) {
  LoopScheduler loop;
  const auto giveUp = std::chrono::steady_clock::now() + 5s;
  bool fired = false;
  std::function<void()> flood = [&] {
    if (std::chrono::steady_clock::now() > giveUp) {
      loop.quit();
      return;
    }
    loop.post(flood);
  };
  loop.post(flood);
  loop.after(20ms, [&] {
    fired = true;
    loop.quit();
  });
  loop.run();
  EXPECT_TRUE(fired);
}

// One piece of background work that never returns (a read on a stalled mount) leaves the others
// running, and their results still come back on the loop's thread.
// A pipe whose reading side a test watches.
struct Pipe {
  Pipe() { EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0); }
  ~Pipe() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  void put(char byte) { EXPECT_EQ(::write(fds[1], &byte, 1), 1); }
  std::string take() {
    std::string bytes;
    char byte;
    while (::read(fds[0], &byte, 1) == 1) bytes += byte;
    return bytes;
  }
  int fds[2];
};

TEST(LoopSchedulerVirtual, RunsADescriptorsTaskWhileItIsReadable) {
  LoopScheduler loop(kStart);
  Pipe pipe;
  std::string seen;
  const auto watch = loop.watchReadable(pipe.fds[0], [&] { seen += pipe.take(); });
  loop.runPending();
  EXPECT_EQ(seen, "");
  pipe.put('a');
  pipe.put('b');
  loop.advance(1s);
  EXPECT_EQ(seen, "ab");
  loop.unwatch(watch);
  loop.unwatch(watch);  // twice: ignored
  pipe.put('c');
  loop.runPending();
  EXPECT_EQ(seen, "ab");
}

TEST(LoopSchedulerReal, RunsDescriptorTasksOnItsOwnThreadAndStopsThemOnUnwatch) {
  LoopScheduler loop;
  Pipe first;
  Pipe second;
  const auto loopThread = std::this_thread::get_id();
  std::string seen;
  Scheduler::WatchId firstWatch = 0;
  firstWatch = loop.watchReadable(first.fds[0], [&] {
    EXPECT_EQ(std::this_thread::get_id(), loopThread);
    seen += first.take();
    loop.unwatch(firstWatch);  // from inside its own task
    second.put('2');
  });
  loop.watchReadable(second.fds[0], [&] {
    seen += second.take();
    loop.quit();
  });
  std::thread writer([&] {
    std::this_thread::sleep_for(20ms);
    first.put('1');
  });
  loop.run();
  writer.join();
  EXPECT_EQ(seen, "12");
  // The first descriptor is no longer watched: what arrives stays unread.
  first.put('x');
  loop.after(50ms, [&] { loop.quit(); });
  loop.run();
  EXPECT_EQ(first.take(), "x");
}

TEST(LoopSchedulerReal, BackgroundWorkRunsSeveralAtOnce) {
  LoopScheduler loop;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  loop.background([released] { released.wait(); });
  const auto loopThread = std::this_thread::get_id();
  int applied = 0;
  bool onLoopThread = true;
  for (int i = 0; i < 3; ++i) {
    loop.background([&] {
      loop.post([&] {
        onLoopThread = onLoopThread && std::this_thread::get_id() == loopThread;
        if (++applied == 3) loop.quit();
      });
    });
  }
  const auto guard = loop.after(5s, [&] { loop.quit(); });
  loop.run();
  loop.cancel(guard);
  release.set_value();
  EXPECT_EQ(applied, 3);
  EXPECT_TRUE(onLoopThread);
}

}  // namespace
}  // namespace tallyloft
