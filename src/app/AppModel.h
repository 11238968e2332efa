#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "app/EventStore.h"
#include "app/StatusServer.h"
#include "base/Scheduler.h"
#include "crew/CrewModel.h"
#include "hooks/HookServer.h"
#include "watch/ClaudeSessionsWatch.h"
#include "watch/HooksWatch.h"

namespace tallyloft {

// What the office panel offers the application model; the panel implements it.
class OfficeBar {
 public:
  virtual ~OfficeBar() = default;
  // Shows the panel when hidden, hides it when shown.
  virtual void toggle() = 0;
};

// The application's spine: owns the event store, the crew model and the hook server, and wires
// them together. Main-thread only. The server's callbacks hand every event and status report to
// the main thread through the scheduler; events keep their arrival order, and a burst of them
// wakes the main thread once.
class AppModel {
 public:
  // Where the hook server listens; without it there is no server (replaying a recording).
  AppModel(Scheduler& scheduler, std::optional<HookListen> listen);
  AppModel(const AppModel&) = delete;
  AppModel& operator=(const AppModel&) = delete;
  ~AppModel();

  EventStore& store() { return store_; }
  Scheduler& scheduler() { return scheduler_; }
  CrewModel& crew() { return crew_; }
  HookServer* server() { return server_.get(); }
  bool started() const { return started_; }

  // Starts the reaper, wires the server to the model and starts it. Only the first call acts.
  void start();
  // Follows what the machine tells beyond the hooks: Claude Code's sessions directory (turns
  // interrupted, CLIs that died), the CLIs' settings files (hooks another program removed; see
  // hooksWatch()), and answers `tallyloft status` on the local socket. For `serve` and the
  // desktop app, once. Returns why the status socket could not listen (everything else runs
  // all the same); `socket` replaces its default path (tests).
  std::optional<std::string> watchLocalMachine(
      std::optional<std::filesystem::path> socket = std::nullopt);
  // Once watchLocalMachine() has run.
  HooksWatch* hooksWatch() { return hooksWatch_.get(); }
  StatusServer* statusServer() { return statusServer_.get(); }
  // Called when a CLI's warning about removed hooks appears or clears.
  std::function<void(HookEngine)> onHooksWarning;

  // The desktop app's TCP port, 51789: open under the secret while the user has opted in (for
  // agents in containers and VMs), and open without one while hooks of an older version, which
  // post there, are still installed, so that no event is lost before they are updated; closed
  // otherwise. Re-read whenever a settings file changes. Call once the server has started.
  void followPortChoice(bool optedIn);
  // Whether the port is open now for hooks of an older version (or for sessions that began
  // before they were updated).
  bool servingOlderHooks() const { return servingOlderHooks_; }
  // Why the port could not be opened under the secret (its file), or "".
  const std::string& portProblem() const { return portProblem_; }
  // Called when servingOlderHooks() or portProblem() changes.
  std::function<void()> onPortChoice;

  // Counts one decoded event and folds it into the crew model (what each server event does).
  void receive(const HookEvent& event);

  // Called with each event `receive` takes, after it has been counted and reduced.
  std::function<void(const HookEvent&)> onReceive;

  // The office panel, once there is one; held weakly.
  std::weak_ptr<OfficeBar> bar;
  // Shows or hides the office panel; nothing while there is none.
  void toggleBar();

 private:
  Scheduler& scheduler_;
  EventStore store_;
  CrewModel crew_;
  std::unique_ptr<ClaudeSessionsWatch> claudeSessions_;
  std::unique_ptr<HooksWatch> hooksWatch_;
  std::unique_ptr<StatusServer> statusServer_;
  std::unique_ptr<HookServer> server_;  // after the models: stopped first
  // Events from the server's thread on their way to the main thread, in arrival order.
  struct Inbox {
    std::mutex mutex;
    std::vector<HookEvent> events;
    bool draining = false;  // a take is posted or timed; the server thread need not wake us
  };
  // How long the main thread waits before taking events again after a take that found some.
  static constexpr std::chrono::milliseconds kInboxPause{2};
  static void drainInbox(const std::weak_ptr<AppModel*>& model,
                         const std::shared_ptr<Inbox>& inbox);
  std::shared_ptr<Inbox> inbox_;
  void applyPortChoice();
  void sessionsChanged();
  void updatePort();
  bool started_ = false;
  std::optional<bool> portOptIn_;  // set once the app follows the choice
  bool servingOlderHooks_ = false;
  bool olderHooksInFiles_ = false;
  // The sessions open when the older hooks were updated: their CLIs may still run the hooks
  // they read at their start, so the port stays open for them until they have ended.
  std::set<std::string> carriedSessions_;
  std::size_t carriedObserver_ = 0;
  std::string portProblem_;
  std::shared_ptr<AppModel*> self_;
};

}  // namespace tallyloft
