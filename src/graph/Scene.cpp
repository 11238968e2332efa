#include "graph/Scene.h"

#include <vector>

namespace tallyloft {
namespace {

const PerspectiveCamera* findCamera(const Entity& entity) {
  if (!entity.isEnabled()) return nullptr;
  if (entity.kind() == Entity::Kind::camera) return static_cast<const PerspectiveCamera*>(&entity);
  for (const auto& child : entity.children()) {
    if (const PerspectiveCamera* camera = findCamera(*child)) return camera;
  }
  return nullptr;
}

}  // namespace

std::size_t Scene::subscribeUpdate(UpdateHandler handler) {
  handlers_.emplace(nextHandler_, std::move(handler));
  return nextHandler_++;
}

void Scene::unsubscribeUpdate(std::size_t id) {
  handlers_.erase(id);
}

void Scene::update(double deltaTime) {
  root_.advanceAnimations(static_cast<float>(deltaTime));
  // A handler may unsubscribe while we call them: walk a copy of the ids.
  handlerIds_.clear();
  for (const auto& [id, handler] : handlers_) handlerIds_.push_back(id);
  for (std::size_t id : handlerIds_) {
    if (auto it = handlers_.find(id); it != handlers_.end()) it->second(deltaTime);
  }
}

const PerspectiveCamera* Scene::camera() const {
  return findCamera(root_);
}

}  // namespace tallyloft
