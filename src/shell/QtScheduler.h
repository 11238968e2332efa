#pragma once

#include <QObject>
#include <QThreadPool>
#include <map>

#include "base/Scheduler.h"

class QSocketNotifier;
class QTimer;

namespace tallyloft {

// The scheduler of the desktop app: tasks and timers on the Qt event loop of the thread that
// made it (the GUI thread), background work on a small pool, the wall clock as "now".
class QtScheduler final : public QObject, public Scheduler {
 public:
  // The longest quitting waits for background work.
  static constexpr int kQuitPatienceMs = 2000;

  explicit QtScheduler(QObject* parent = nullptr);
  ~QtScheduler() override;

  void post(Task task) override;
  TimerId after(Duration delay, Task task) override;
  TimerId every(Duration interval, Task task) override;
  void cancel(TimerId id) override;
  void background(Task work) override;
  TimePoint now() const override;
  WatchId watchReadable(int fd, Task task) override;
  void unwatch(WatchId id) override;

 private:
  TimerId start(Duration interval, bool repeat, Task task);

  std::map<TimerId, QTimer*> timers_;
  std::map<WatchId, QSocketNotifier*> watches_;
  WatchId nextWatchId_ = 1;
  TimerId nextId_ = 1;
  QThreadPool* pool_;  // owned; let go of, not waited for, when a read is stuck at quitting
};

}  // namespace tallyloft
