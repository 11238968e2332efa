#include "app/AppModel.h"

namespace tallyloft {

AppModel::AppModel(Scheduler& scheduler, std::optional<std::uint16_t> port)
    : scheduler_(scheduler),
      crew_(scheduler),
      server_(port ? std::make_unique<HookServer>(*port) : nullptr),
      inbox_(std::make_shared<Inbox>()),
      self_(std::make_shared<AppModel*>(this)) {}

AppModel::~AppModel() {
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
  server_->onStatus = [&scheduler = scheduler_, model](bool running, std::string text) {
    scheduler.post([model, running, text = std::move(text)]() mutable {
      if (auto alive = model.lock()) (*alive)->store_.setServer(running, std::move(text));
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

void AppModel::receive(const HookEvent& event) {
  store_.countEvent();
  crew_.reduce(event);
  if (onReceive) onReceive(event);
}

void AppModel::toggleBar() {
  if (auto panel = bar.lock()) panel->toggle();
}

}  // namespace tallyloft
