#include "shell/QtScheduler.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>

namespace tallyloft {

QtScheduler::QtScheduler(QObject* parent) : QObject(parent), pool_(new QThreadPool) {
  // A few reads at once, so one stuck on a slow mount does not hold up the others.
  pool_->setMaxThreadCount(4);
}

QtScheduler::~QtScheduler() {
  // A read stuck on a slow mount must not hold up quitting, nor logging out: after 2 s the pool
  // is left to the process's end (its destructor would wait for the read without limit). The
  // result would go nowhere anyway.
  if (pool_->waitForDone(kQuitPatienceMs)) delete pool_;
}

void QtScheduler::post(Task task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

Scheduler::TimerId QtScheduler::start(Duration interval, bool repeat, Task task) {
  const TimerId id = nextId_++;
  auto* timer = new QTimer(this);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(interval).count();
  timer->setInterval(static_cast<int>(std::clamp<long long>(ms, 0, 1LL << 30)));
  timer->setSingleShot(!repeat);
  timer->setTimerType(ms < 2000 ? Qt::PreciseTimer : Qt::CoarseTimer);
  connect(timer, &QTimer::timeout, this, [this, id, repeat, task = std::move(task)] {
    if (!repeat) cancel(id);  // before the task: it may schedule again
    task();
  });
  timers_[id] = timer;
  timer->start();
  return id;
}

Scheduler::TimerId QtScheduler::after(Duration delay, Task task) {
  return start(delay, false, std::move(task));
}

Scheduler::TimerId QtScheduler::every(Duration interval, Task task) {
  return start(interval, true, std::move(task));
}

void QtScheduler::cancel(TimerId id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->stop();
  it->second->deleteLater();
  timers_.erase(it);
}

void QtScheduler::background(Task work) {
  pool_->start(std::move(work));
}

Scheduler::WatchId QtScheduler::watchReadable(int fd, Task task) {
  const WatchId id = nextWatchId_++;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this,
          [this, id, notifier, task = std::move(task)] {
            // Quiet while the task runs: it may read, unwatch, or enter a nested event loop.
            notifier->setEnabled(false);
            task();
            if (watches_.count(id) != 0) notifier->setEnabled(true);
          });
  watches_[id] = notifier;
  return id;
}

void QtScheduler::unwatch(WatchId id) {
  const auto it = watches_.find(id);
  if (it == watches_.end()) return;
  it->second->setEnabled(false);
  it->second->deleteLater();
  watches_.erase(it);
}

Scheduler::TimePoint QtScheduler::now() const {
  return std::chrono::system_clock::now();
}

}  // namespace tallyloft
