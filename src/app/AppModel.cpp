#include "app/AppModel.h"

namespace tallyloft {

AppModel::AppModel(Scheduler& scheduler, std::optional<std::uint16_t> port)
    : scheduler_(scheduler),
      crew_(scheduler),
      server_(port ? std::make_unique<HookServer>(*port) : nullptr),
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
  server_->onEvent = [&scheduler = scheduler_, model](HookEvent event) {
    scheduler.post([model, event = std::move(event)] {
      if (auto alive = model.lock()) (*alive)->receive(event);
    });
  };
  server_->onStatus = [&scheduler = scheduler_, model](bool running, std::string text) {
    scheduler.post([model, running, text = std::move(text)]() mutable {
      if (auto alive = model.lock()) (*alive)->store_.setServer(running, std::move(text));
    });
  };
  server_->start();
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
