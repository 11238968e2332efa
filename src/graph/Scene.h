#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "graph/Entity.h"

namespace tallyloft {

// The scene the renderer draws: world anchors under one root, a clear background by default,
// and the per-frame update. Main-thread only.
class Scene {
 public:
  using UpdateHandler = std::function<void(double deltaTime)>;

  // An anchor fixed at `position` in world space; everything else hangs below anchors.
  template <typename T>
  T* addAnchor(std::unique_ptr<T> anchor) {
    return root_.addChild(std::move(anchor));
  }
  Entity* addAnchor(glm::vec3 position = glm::vec3(0)) {
    auto anchor = std::make_unique<Entity>();
    anchor->setPosition(position);
    return addAnchor(std::move(anchor));
  }
  const Entity& root() const { return root_; }
  Entity& root() { return root_; }

  // Called once per frame with the time step in seconds, after moves have advanced.
  std::size_t subscribeUpdate(UpdateHandler handler);
  void unsubscribeUpdate(std::size_t id);
  // One frame: advances every move by `deltaTime`, then calls the update handlers.
  void update(double deltaTime);

  // The first enabled camera in the tree, or null.
  const PerspectiveCamera* camera() const;

  Color background = Color{0, 0, 0, 0};

 private:
  Entity root_;
  std::map<std::size_t, UpdateHandler> handlers_;
  std::vector<std::size_t> handlerIds_;  // scratch for update, kept to avoid allocating
  std::size_t nextHandler_ = 1;
};

}  // namespace tallyloft
