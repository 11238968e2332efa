#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/Scheduler.h"

namespace tallyloft {

// A Scheduler with its own loop, for headless use (`serve`, `replay`) and for tests.
//
// On real time, `run()` runs posted tasks and timers on the calling thread until `quit()`; a
// timer that is due fires before the next posted task, so neither can starve the other.
// Background work runs on up to kBackgroundThreads threads owned by the scheduler, started as
// work arrives, several pieces at once and in no particular order of completion. `now()` is the
// wall clock; timers run on the monotonic clock.
//
// On virtual time, nothing happens by itself: `advance(d)` moves the clock forward and fires, in
// order of their due times, every timer that falls due (a timer due at the same moment as
// another fires after it when it was created later), running posted tasks before each timer and
// at the end. Background work runs inline, at once. `now()` starts at the time given to the
// constructor and only moves with `advance`.
//
// Watched descriptors: on real time a helper thread waits for them and posts their tasks; on
// virtual time `runPending()` (and so `advance`) checks them without waiting and runs the tasks
// of those that are readable.
class LoopScheduler final : public Scheduler {
 public:
  // The most background work that runs at once.
  static constexpr std::size_t kBackgroundThreads = 4;

  // A scheduler on real time.
  LoopScheduler();
  // A scheduler on virtual time that starts at `virtualStart`.
  explicit LoopScheduler(TimePoint virtualStart);
  LoopScheduler(const LoopScheduler&) = delete;
  LoopScheduler& operator=(const LoopScheduler&) = delete;
  ~LoopScheduler() override;

  void post(Task task) override;
  TimerId after(Duration delay, Task task) override;
  TimerId every(Duration interval, Task task) override;
  void cancel(TimerId id) override;
  void background(Task work) override;
  TimePoint now() const override;
  WatchId watchReadable(int fd, Task task) override;
  void unwatch(WatchId id) override;

  // Real time: runs until `quit()` has been called (from any thread, or from a task).
  void run();
  // Thread-safe. Makes `run()` return after the task that is running now.
  void quit();

  // Virtual time: runs everything posted so far (and what those tasks post).
  void runPending();
  // Virtual time: moves the clock forward by `delta`, firing what falls due on the way.
  void advance(Duration delta);
  bool isVirtual() const { return virtual_; }
  // The number of timers still pending.
  std::size_t pendingTimers() const { return timers_.size(); }

 private:
  using Steady = std::chrono::steady_clock;
  struct Timer {
    TimerId id;
    Duration interval;  // zero for a one-shot timer
    Task task;
  };
  // Due time on the scheduler's monotonic axis, then creation order.
  using TimerKey = std::pair<Duration, TimerId>;

  TimerId addTimer(Duration delay, Duration interval, Task task);
  Duration elapsed() const;
  bool runOnePosted();
  void fireTimer(std::map<TimerKey, Timer>::iterator it);
  void workerLoop();
  void stopWorker();
  // Watched descriptors.
  struct Watch {
    int fd;
    std::shared_ptr<Task> task;
    bool armed = true;  // false while its task is posted and has not run yet
  };
  void watcherLoop();
  void stopWatcher();
  void wakeWatcher();
  void runWatch(WatchId id);
  bool runReadyWatches();

  bool virtual_;
  TimePoint wallStart_;
  Steady::time_point steadyStart_;
  Duration virtualElapsed_{};

  // Guarded by mutex_: the posted queue and the quit flag. Timers belong to the loop thread.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> posted_;
  bool quit_ = false;

  std::map<TimerKey, Timer> timers_;
  std::map<TimerId, TimerKey> timerKeys_;
  TimerId nextTimerId_ = 1;

  std::mutex workerMutex_;
  std::condition_variable workerWake_;
  std::deque<Task> work_;
  std::size_t idleWorkers_ = 0;
  bool workerStop_ = false;
  std::vector<std::thread> workers_;

  std::mutex watchMutex_;
  std::map<WatchId, Watch> watches_;
  WatchId nextWatchId_ = 1;
  int watcherWake_ = -1;  // an eventfd that makes the watcher thread look again
  bool watcherStop_ = false;
  std::thread watcher_;
};

}  // namespace tallyloft
