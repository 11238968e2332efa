#include "base/LoopScheduler.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tallyloft {

LoopScheduler::LoopScheduler()
    : virtual_(false), wallStart_(std::chrono::system_clock::now()), steadyStart_(Steady::now()) {}

LoopScheduler::LoopScheduler(TimePoint virtualStart)
    : virtual_(true), wallStart_(virtualStart), steadyStart_(Steady::now()) {}

LoopScheduler::~LoopScheduler() {
  stopWatcher();
  stopWorker();
}

void LoopScheduler::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(task));
  }
  wake_.notify_one();
}

Scheduler::TimerId LoopScheduler::after(Duration delay, Task task) {
  return addTimer(delay, Duration::zero(), std::move(task));
}

Scheduler::TimerId LoopScheduler::every(Duration interval, Task task) {
  // A zero interval would fire forever within one advance; one tick is the shortest period.
  if (interval <= Duration::zero()) interval = Duration(1);
  return addTimer(interval, interval, std::move(task));
}

Scheduler::TimerId LoopScheduler::addTimer(Duration delay, Duration interval, Task task) {
  if (delay < Duration::zero()) delay = Duration::zero();
  const TimerId id = nextTimerId_++;
  const TimerKey key{elapsed() + delay, id};
  timers_.emplace(key, Timer{id, interval, std::move(task)});
  timerKeys_.emplace(id, key);
  return id;
}

void LoopScheduler::cancel(TimerId id) {
  auto it = timerKeys_.find(id);
  if (it == timerKeys_.end()) return;
  timers_.erase(it->second);
  timerKeys_.erase(it);
}

void LoopScheduler::background(Task work) {
  if (virtual_) {
    work();
    return;
  }
  Task noThread;
  {
    std::lock_guard lock(workerMutex_);
    work_.push_back(std::move(work));
    // Another thread only when every one is busy: a read stuck on a slow mount then holds one
    // thread while the others go on.
    if (work_.size() > idleWorkers_ && workers_.size() < kBackgroundThreads) {
      try {
        workers_.emplace_back([this] { workerLoop(); });
      } catch (const std::system_error&) {
        // No thread to be had: the threads already running take the work in turn, and without
        // any the work runs here.
        if (workers_.empty()) {
          noThread = std::move(work_.back());
          work_.pop_back();
        }
      }
    }
  }
  if (noThread) {
    noThread();
    return;
  }
  workerWake_.notify_one();
}

void LoopScheduler::workerLoop() {
  std::unique_lock lock(workerMutex_);
  for (;;) {
    ++idleWorkers_;
    workerWake_.wait(lock, [this] { return workerStop_ || !work_.empty(); });
    --idleWorkers_;
    if (workerStop_) return;
    Task next = std::move(work_.front());
    work_.pop_front();
    lock.unlock();
    try {
      next();
    } catch (...) {
      // A failed read computes nothing; the thread stays for the next one.
    }
    next = nullptr;  // destroyed outside the lock as well
    lock.lock();
  }
}

void LoopScheduler::stopWorker() {
  {
    std::lock_guard lock(workerMutex_);
    workerStop_ = true;
  }
  workerWake_.notify_all();
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

Scheduler::TimePoint LoopScheduler::now() const {
  // Real time reads the wall clock itself, the clock events are stamped with: the monotonic
  // clock that drives the timers stops while the machine sleeps.
  if (!virtual_) return std::chrono::system_clock::now();
  return wallStart_ +
         std::chrono::duration_cast<std::chrono::system_clock::duration>(virtualElapsed_);
}

Scheduler::Duration LoopScheduler::elapsed() const {
  return virtual_ ? virtualElapsed_ : Steady::now() - steadyStart_;
}

bool LoopScheduler::runOnePosted() {
  Task task;
  {
    std::lock_guard lock(mutex_);
    if (posted_.empty()) return false;
    task = std::move(posted_.front());
    posted_.pop_front();
  }
  task();
  return true;
}

void LoopScheduler::fireTimer(std::map<TimerKey, Timer>::iterator it) {
  Timer timer = std::move(it->second);
  const Duration due = it->first.first;
  timers_.erase(it);
  timerKeys_.erase(timer.id);
  if (timer.interval > Duration::zero()) {
    // Re-arm before running, so the task may cancel its own timer. Periods are counted from the
    // due time, not from when the loop got round to it, so a late tick does not drift.
    Duration next = due + timer.interval;
    if (next <= elapsed()) next = elapsed() + timer.interval;
    const TimerKey key{next, timer.id};
    Task copy = timer.task;
    timers_.emplace(key, Timer{timer.id, timer.interval, std::move(copy)});
    timerKeys_.emplace(timer.id, key);
  }
  timer.task();
}

void LoopScheduler::run() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (quit_) {
        quit_ = false;
        return;
      }
    }
    // Timers that are due fire between posted tasks, so that a steady stream of posts (a load
    // of hook events) cannot hold off the reaper and the departure steps.
    if (!timers_.empty() && timers_.begin()->first.first <= elapsed()) {
      fireTimer(timers_.begin());
      runOnePosted();
      continue;
    }
    if (runOnePosted()) continue;
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return quit_ || !posted_.empty(); };
    if (timers_.empty()) {
      wake_.wait(lock, ready);
    } else {
      wake_.wait_until(lock, steadyStart_ + timers_.begin()->first.first, ready);
    }
  }
}

void LoopScheduler::quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
}

void LoopScheduler::runPending() {
  do {
    while (runOnePosted()) {
    }
  } while (virtual_ && runReadyWatches());
}

Scheduler::WatchId LoopScheduler::watchReadable(int fd, Task task) {
  WatchId id = 0;
  {
    std::lock_guard lock(watchMutex_);
    id = nextWatchId_++;
    watches_.emplace(id, Watch{fd, std::make_shared<Task>(std::move(task))});
    if (!virtual_ && !watcher_.joinable()) {
      watcherWake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (watcherWake_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
      watcher_ = std::thread([this] { watcherLoop(); });
    }
  }
  wakeWatcher();
  return id;
}

void LoopScheduler::unwatch(WatchId id) {
  {
    std::lock_guard lock(watchMutex_);
    if (watches_.erase(id) == 0) return;
  }
  wakeWatcher();
}

void LoopScheduler::wakeWatcher() {
  if (watcherWake_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(watcherWake_, &one, sizeof one);
}

void LoopScheduler::runWatch(WatchId id) {
  std::shared_ptr<Task> task;
  {
    std::lock_guard lock(watchMutex_);
    const auto it = watches_.find(id);
    if (it == watches_.end()) return;
    task = it->second.task;
  }
  (*task)();
  {
    std::lock_guard lock(watchMutex_);
    const auto it = watches_.find(id);
    if (it == watches_.end()) return;
    it->second.armed = true;
  }
  wakeWatcher();
}

bool LoopScheduler::runReadyWatches() {
  std::vector<std::pair<WatchId, pollfd>> ready;
  {
    std::lock_guard lock(watchMutex_);
    if (watches_.empty()) return false;
    for (const auto& [id, watch] : watches_) ready.emplace_back(id, pollfd{watch.fd, POLLIN, 0});
  }
  std::vector<pollfd> fds;
  fds.reserve(ready.size());
  for (const auto& entry : ready) fds.push_back(entry.second);
  if (::poll(fds.data(), fds.size(), 0) <= 0) return false;
  bool ran = false;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    runWatch(ready[i].first);
    ran = true;
  }
  return ran;
}

void LoopScheduler::watcherLoop() {
  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  for (;;) {
    fds.assign(1, pollfd{watcherWake_, POLLIN, 0});
    ids.assign(1, 0);
    {
      std::lock_guard lock(watchMutex_);
      if (watcherStop_) return;
      for (const auto& [id, watch] : watches_) {
        if (!watch.armed) continue;
        fds.push_back(pollfd{watch.fd, POLLIN, 0});
        ids.push_back(id);
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      // Interrupted, or short of memory for a moment: look again shortly, never give up.
      if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    if (fds[0].revents != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const auto read = ::read(watcherWake_, &count, sizeof count);
    }
    std::lock_guard lock(watchMutex_);
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      const auto it = watches_.find(ids[i]);
      if (it == watches_.end() || !it->second.armed) continue;
      // Until its task has run, the descriptor would only report the same readiness again.
      it->second.armed = false;
      post([this, id = ids[i]] { runWatch(id); });
    }
  }
}

void LoopScheduler::stopWatcher() {
  {
    std::lock_guard lock(watchMutex_);
    watcherStop_ = true;
  }
  wakeWatcher();
  if (watcher_.joinable()) watcher_.join();
  if (watcherWake_ >= 0) ::close(watcherWake_);
}

void LoopScheduler::advance(Duration delta) {
  const Duration target = virtualElapsed_ + std::max(delta, Duration::zero());
  runPending();
  while (!timers_.empty() && timers_.begin()->first.first <= target) {
    virtualElapsed_ = std::max(virtualElapsed_, timers_.begin()->first.first);
    fireTimer(timers_.begin());
    runPending();
  }
  virtualElapsed_ = target;
  runPending();
}

}  // namespace tallyloft
