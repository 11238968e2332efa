#include "graph/Entity.h"

#include <algorithm>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtx/matrix_decompose.hpp>

namespace tallyloft {

glm::mat4 Transform::matrix() const {
  glm::mat4 m = glm::mat4_cast(rotation);
  m[0] *= scale.x;
  m[1] *= scale.y;
  m[2] *= scale.z;
  m[3] = glm::vec4(translation, 1);
  return m;
}

Transform Transform::fromMatrix(const glm::mat4& matrix) {
  Transform transform;
  transform.translation = glm::vec3(matrix[3]);
  transform.scale = {glm::length(glm::vec3(matrix[0])), glm::length(glm::vec3(matrix[1])),
                     glm::length(glm::vec3(matrix[2]))};
  glm::mat3 rotation{glm::vec3(matrix[0]) / std::max(transform.scale.x, 1e-20f),
                     glm::vec3(matrix[1]) / std::max(transform.scale.y, 1e-20f),
                     glm::vec3(matrix[2]) / std::max(transform.scale.z, 1e-20f)};
  if (glm::determinant(rotation) < 0) {  // a mirror: keep it in the scale
    transform.scale.x = -transform.scale.x;
    rotation[0] = -rotation[0];
  }
  transform.rotation = glm::normalize(glm::quat_cast(rotation));
  return transform;
}

float timingCurve(TimingFunction function, float t) {
  t = glm::clamp(t, 0.0f, 1.0f);
  switch (function) {
    case TimingFunction::linear:
      return t;
    case TimingFunction::easeOut:
      return 1 - (1 - t) * (1 - t) * (1 - t);
    case TimingFunction::easeInOut:
      return t < 0.5f ? 4 * t * t * t : 1 - 4 * (1 - t) * (1 - t) * (1 - t);
  }
  return t;
}

Entity::~Entity() = default;

void Entity::adopt(std::unique_ptr<Entity> child) {
  // A child arrives as a unique_ptr, so no other parent can own it.
  if (!child) return;
  child->parent_ = this;
  children_.push_back(std::move(child));
}

std::unique_ptr<Entity> Entity::removeFromParent() {
  if (parent_ == nullptr) return nullptr;
  auto& siblings = parent_->children_;
  const auto it =
      std::find_if(siblings.begin(), siblings.end(),
                   [this](const std::unique_ptr<Entity>& child) { return child.get() == this; });
  std::unique_ptr<Entity> self = std::move(*it);
  siblings.erase(it);
  parent_ = nullptr;
  return self;
}

bool Entity::isEnabledInHierarchy() const {
  for (const Entity* entity = this; entity != nullptr; entity = entity->parent_) {
    if (!entity->enabled_) return false;
  }
  return true;
}

float Entity::effectiveOpacity() const {
  float opacity = 1;
  for (const Entity* entity = this; entity != nullptr; entity = entity->parent_)
    opacity *= entity->opacity_;
  return opacity;
}

glm::mat4 Entity::worldMatrix() const {
  glm::mat4 world = transform_.matrix();
  for (const Entity* entity = parent_; entity != nullptr; entity = entity->parent_) {
    world = entity->transform_.matrix() * world;
  }
  return world;
}

namespace {

glm::mat4 spaceOf(const Entity* entity) {
  return entity == nullptr ? glm::mat4(1) : entity->worldMatrix();
}

}  // namespace

Transform Entity::transform(const Entity* relativeTo) const {
  return Transform::fromMatrix(glm::inverse(spaceOf(relativeTo)) * worldMatrix());
}

void Entity::setTransform(const Transform& transform, const Entity* relativeTo) {
  const glm::mat4 world = spaceOf(relativeTo) * transform.matrix();
  transform_ = Transform::fromMatrix(glm::inverse(spaceOf(parent_)) * world);
}

glm::vec3 Entity::position(const Entity* relativeTo) const {
  return transform(relativeTo).translation;
}
glm::quat Entity::orientation(const Entity* relativeTo) const {
  return transform(relativeTo).rotation;
}
glm::vec3 Entity::scale(const Entity* relativeTo) const {
  return transform(relativeTo).scale;
}

void Entity::setPosition(glm::vec3 position, const Entity* relativeTo) {
  const glm::vec4 world = spaceOf(relativeTo) * glm::vec4(position, 1);
  transform_.translation = glm::vec3(glm::inverse(spaceOf(parent_)) * world);
}

void Entity::setOrientation(glm::quat orientation, const Entity* relativeTo) {
  Transform relative = transform(relativeTo);
  relative.rotation = glm::normalize(orientation);
  setTransform(relative, relativeTo);
}

void Entity::setScale(glm::vec3 scale, const Entity* relativeTo) {
  Transform relative = transform(relativeTo);
  relative.scale = scale;
  setTransform(relative, relativeTo);
}

void Entity::look(glm::vec3 at, glm::vec3 from, glm::vec3 up, const Entity* relativeTo) {
  const glm::mat4 space = spaceOf(relativeTo);
  const glm::vec3 worldFrom = glm::vec3(space * glm::vec4(from, 1));
  const glm::vec3 worldAt = glm::vec3(space * glm::vec4(at, 1));
  const glm::vec3 worldUp = glm::normalize(glm::vec3(space * glm::vec4(up, 0)));
  glm::vec3 direction = worldAt - worldFrom;
  if (glm::length(direction) < 1e-12f) return;
  direction = glm::normalize(direction);
  Transform world = transform(nullptr);
  world.translation = worldFrom;
  world.rotation = glm::quatLookAtRH(direction, worldUp);
  setTransform(world, nullptr);
}

void Entity::move(const Transform& target, const Entity* relativeTo, float duration,
                  TimingFunction timing) {
  const Transform local =
      Transform::fromMatrix(glm::inverse(spaceOf(parent_)) * spaceOf(relativeTo) * target.matrix());
  if (duration <= 0) {
    animation_.reset();
    transform_ = local;
    return;
  }
  animation_ = Animation{transform_, local, duration, 0, timing};
}

void Entity::advanceAnimations(float seconds) {
  if (animation_) {
    Animation& animation = *animation_;
    animation.elapsed += seconds;
    const float t = timingCurve(animation.timing, animation.elapsed / animation.duration);
    transform_.translation = glm::mix(animation.from.translation, animation.to.translation, t);
    transform_.rotation = glm::slerp(animation.from.rotation, animation.to.rotation, t);
    transform_.scale = glm::mix(animation.from.scale, animation.to.scale, t);
    if (animation.elapsed >= animation.duration) {
      transform_ = animation.to;
      animation_.reset();
    }
  }
  for (const auto& child : children_) child->advanceAnimations(seconds);
}

BoundingBox Entity::visualBounds(bool recursive, const Entity* relativeTo,
                                 bool excludeInactive) const {
  BoundingBox bounds;
  if (excludeInactive && !isEnabledInHierarchy()) return bounds;
  addBounds(bounds, glm::inverse(spaceOf(relativeTo)) * worldMatrix(), recursive, excludeInactive);
  return bounds;
}

void Entity::addBounds(BoundingBox& bounds, const glm::mat4& toTarget, bool recursive,
                       bool excludeInactive) const {
  if (kind_ == Kind::model) {
    bounds.add(meshBounds(static_cast<const ModelEntity*>(this)->mesh).transformed(toTarget));
  }
  if (!recursive) return;
  for (const auto& child : children_) {
    if (excludeInactive && !child->enabled_) continue;
    child->addBounds(bounds, toTarget * child->transform_.matrix(), recursive, excludeInactive);
  }
}

}  // namespace tallyloft
