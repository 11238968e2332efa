#pragma once

#include <memory>

#include "graph/Entity.h"

namespace tallyloft {

// The root of a scene object's entity tree: owned by the object until `attachTo` hangs it into
// the scene; removed from the scene again when the object goes. So the parent (and the scene)
// must outlive the object: destroy scene objects before the scene they hang in.
class SceneObject {
 public:
  SceneObject() : ownedRoot_(std::make_unique<Entity>()), root(ownedRoot_.get()) {}
  SceneObject(const SceneObject&) = delete;
  SceneObject& operator=(const SceneObject&) = delete;
  virtual ~SceneObject() {
    if (!ownedRoot_) root->removeFromParent();  // discarded: the tree goes with it
  }
  void attachTo(Entity& parent) {
    if (ownedRoot_) parent.addChild(std::move(ownedRoot_));
  }

 private:
  std::unique_ptr<Entity> ownedRoot_;

 public:
  Entity* const root;
};

}  // namespace tallyloft
