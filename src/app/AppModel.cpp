#include "app/AppModel.h"

#include "hooks/HookInstaller.h"
#include "hooks/HookSecret.h"

namespace tallyloft {

AppModel::AppModel(Scheduler& scheduler, std::optional<HookListen> listen)
    : scheduler_(scheduler),
      crew_(scheduler),
      server_(listen ? std::make_unique<HookServer>(std::move(*listen)) : nullptr),
      inbox_(std::make_shared<Inbox>()),
      self_(std::make_shared<AppModel*>(this)) {}

AppModel::~AppModel() {
  if (carriedObserver_ != 0) crew_.unobserve(carriedObserver_);
  // Stop the server's thread before anything it could still hand over goes away.
  server_.reset();
}

void AppModel::start() {
  if (started_) return;
  started_ = true;
  crew_.startReaper();
  if (!server_) return;
  // The callbacks run on the server's thread: they only post to the main thread, and the posted
  // work does nothing once the model is gone.
  std::weak_ptr<AppModel*> model = self_;
  // Events wait in an inbox. The first one after a quiet spell wakes the main thread at once;
  // while events keep coming the main thread takes what has gathered every kInboxPause instead,
  // so a burst costs a few hand-overs rather than one per event.
  server_->onEvent = [&scheduler = scheduler_, model, inbox = inbox_](HookEvent event) {
    bool wake = false;
    {
      const std::lock_guard<std::mutex> lock(inbox->mutex);
      wake = !inbox->draining;
      inbox->draining = true;
      inbox->events.push_back(std::move(event));
    }
    if (wake) scheduler.post([model, inbox] { drainInbox(model, inbox); });
  };
  server_->onStatus = [&scheduler = scheduler_, model](HookServer::Status status) {
    scheduler.post([model, status = std::move(status)]() mutable {
      if (auto alive = model.lock()) {
        (*alive)->store_.setServer(status.running, std::move(status.text), status.port);
      }
    });
  };
  server_->start();
}

std::optional<std::string> AppModel::watchLocalMachine(
    std::optional<std::filesystem::path> socket) {
  if (statusServer_) return std::nullopt;
  claudeSessions_ = std::make_unique<ClaudeSessionsWatch>(scheduler_, crew_,
                                                          ClaudeSessionsWatch::defaultDirectory());
  hooksWatch_ = std::make_unique<HooksWatch>(scheduler_, [this](HookEngine engine) {
    if (onHooksWarning) onHooksWarning(engine);
  });
  hooksWatch_->onSettingsRead = [this] {
    if (portOptIn_) applyPortChoice();
  };
  statusServer_ = std::make_unique<StatusServer>(scheduler_, crew_);
  return statusServer_->listen(std::move(socket));
}

void AppModel::drainInbox(const std::weak_ptr<AppModel*>& model,
                          const std::shared_ptr<Inbox>& inbox) {
  const auto alive = model.lock();
  if (!alive) return;
  std::vector<HookEvent> events;
  {
    const std::lock_guard<std::mutex> lock(inbox->mutex);
    events.swap(inbox->events);
    if (events.empty()) {
      inbox->draining = false;  // quiet again: the next event wakes us
      return;
    }
  }
  AppModel& self = **alive;
  for (const HookEvent& each : events) self.receive(each);
  self.scheduler_.after(kInboxPause, [model, inbox] { drainInbox(model, inbox); });
}

void AppModel::followPortChoice(bool optedIn) {
  portOptIn_ = optedIn;
  applyPortChoice();
}

void AppModel::applyPortChoice() {
  if (!server_) return;
  const bool older = HookInstaller::anyOlderHooks();
  if (olderHooksInFiles_ && !older) {
    for (const SessionNode& session : crew_.sessions()) carriedSessions_.insert(session.id);
    if (!carriedSessions_.empty() && carriedObserver_ == 0) {
      carriedObserver_ = crew_.observe([this] { sessionsChanged(); });
    }
  }
  olderHooksInFiles_ = older;
  updatePort();
}

void AppModel::sessionsChanged() {
  std::set<std::string> open;
  for (const SessionNode& session : crew_.sessions()) open.insert(session.id);
  std::erase_if(carriedSessions_, [&open](const std::string& id) { return open.count(id) == 0; });
  if (!carriedSessions_.empty()) return;
  // Not from inside the notification that runs this observer.
  scheduler_.post([model = std::weak_ptr<AppModel*>(self_)] {
    const auto alive = model.lock();
    if (!alive) return;
    AppModel& self = **alive;
    if (self.carriedObserver_ != 0 && self.carriedSessions_.empty()) {
      self.crew_.unobserve(self.carriedObserver_);
      self.carriedObserver_ = 0;
      self.updatePort();
    }
  });
}

void AppModel::updatePort() {
  const bool older = olderHooksInFiles_ || !carriedSessions_.empty();
  std::string problem;
  std::optional<std::uint16_t> port;
  std::string secret;
  if (older) {
    port = HookServer::kPort;
  } else if (*portOptIn_) {
    try {
      secret = HookSecret::load();
      port = HookServer::kPort;
    } catch (const std::exception& error) {
      problem = error.what();
    }
  }
  server_->setPort(port, std::move(secret));
  if (older == servingOlderHooks_ && problem == portProblem_) return;
  servingOlderHooks_ = older;
  portProblem_ = std::move(problem);
  if (onPortChoice) onPortChoice();
}

void AppModel::receive(const HookEvent& event) {
  store_.countEvent();
  crew_.reduce(event);
  if (onReceive) onReceive(event);
}

void AppModel::toggleBar() {
  if (auto panel = bar.lock()) panel->toggle();
}

}  // namespace tallyloft
