#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace tallyloft {

// The one seam between the core and an event loop.
//
// Every model object lives on the scheduler's main thread. `post` is the only call that may be
// made from another thread (the hook server's thread, a background task); everything else is
// called on the main thread, and every task and timer runs there. `background` runs `work` off
// the main thread; the work must only compute and hand its result back with `post`.
class Scheduler {
 public:
  using Task = std::function<void()>;
  using Duration = std::chrono::steady_clock::duration;
  using TimePoint = std::chrono::system_clock::time_point;
  // Identifies a timer for `cancel`; 0 is never a valid id.
  using TimerId = std::uint64_t;
  // Identifies a descriptor watch for `unwatch`; 0 is never a valid id.
  using WatchId = std::uint64_t;

  virtual ~Scheduler() = default;

  // Runs `task` on the main thread soon, after the tasks posted before it. Thread-safe.
  virtual void post(Task task) = 0;
  // Runs `task` once, `delay` from now.
  virtual TimerId after(Duration delay, Task task) = 0;
  // Runs `task` every `interval`, the first time `interval` from now, until cancelled.
  virtual TimerId every(Duration interval, Task task) = 0;
  // Stops a pending timer. Unknown or already fired one-shot ids are ignored.
  virtual void cancel(TimerId id) = 0;
  // Runs `work` on a background thread.
  virtual void background(Task work) = 0;
  // The wall-clock time as this scheduler sees it (virtual time in tests).
  virtual TimePoint now() const = 0;
  // Runs `task` on the main thread when `fd` becomes readable, and again after each run for as
  // long as it stays readable, until `unwatch`. The task reads what is waiting, or unwatches a
  // descriptor that stays readable for good (an exited process's pidfd). The caller keeps the
  // descriptor open while it is watched. Nothing polls: an idle descriptor costs nothing.
  virtual WatchId watchReadable(int fd, Task task) = 0;
  // Stops a watch; also from inside its own task. Unknown ids are ignored.
  virtual void unwatch(WatchId id) = 0;
};

}  // namespace tallyloft
