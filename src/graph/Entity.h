#pragma once

#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "graph/BoundingBox.h"
#include "graph/Material.h"
#include "graph/Mesh.h"

namespace tallyloft {

// A position, rotation and per-axis scale, applied scale first, then rotation, then translation.
struct Transform {
  glm::vec3 translation{0};
  glm::quat rotation{1, 0, 0, 0};
  glm::vec3 scale{1};

  glm::mat4 matrix() const;
  // The transform whose matrix is `matrix` (which must hold no shear).
  static Transform fromMatrix(const glm::mat4& matrix);
};

enum class TimingFunction { linear, easeOut, easeInOut };
// Progress 0..1 along a curve for elapsed fraction `t` (0..1).
float timingCurve(TimingFunction function, float t);

class ModelEntity;

// A node of the scene: a transform relative to its parent, and children it owns. Plain data:
// nothing here talks to the GPU. Main-thread only.
//
// "relativeTo" arguments name another entity whose space a value is given in; null means world
// space. Orientations and scales relative to another entity assume no shear along the way.
class Entity {
 public:
  enum class Kind { plain, model, camera, light };

  Entity() = default;
  Entity(const Entity&) = delete;
  Entity& operator=(const Entity&) = delete;
  virtual ~Entity();

  Kind kind() const { return kind_; }
  std::string name;

  // The tree. A child is owned by its parent; `removeFromParent` hands it back (or, discarded,
  // destroys it).
  template <typename T>
  T* addChild(std::unique_ptr<T> child) {
    T* raw = child.get();
    adopt(std::unique_ptr<Entity>(std::move(child)));
    return raw;
  }
  std::unique_ptr<Entity> removeFromParent();
  Entity* parent() const { return parent_; }
  const std::vector<std::unique_ptr<Entity>>& children() const { return children_; }

  // A disabled entity hides itself and its whole subtree.
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  // Enabled, and so are all its ancestors.
  bool isEnabledInHierarchy() const;

  // Still: this entity and its subtree change seldom (walls, floors, furniture). A renderer may
  // keep the opaque ones drawn in a cached layer, which it redraws whenever any of them changed.
  bool isStill() const { return still_; }
  void setStill(bool still) { still_ = still; }

  // Fades the whole subtree: multiplies with the ancestors' opacities. 1 by default.
  float opacity() const { return opacity_; }
  void setOpacity(float opacity) { opacity_ = glm::clamp(opacity, 0.0f, 1.0f); }
  float effectiveOpacity() const;

  // Transform relative to the parent.
  const Transform& transform() const { return transform_; }
  void setTransform(const Transform& transform) { transform_ = transform; }
  glm::vec3 position() const { return transform_.translation; }
  void setPosition(glm::vec3 position) { transform_.translation = position; }
  glm::quat orientation() const { return transform_.rotation; }
  void setOrientation(glm::quat orientation) { transform_.rotation = glm::normalize(orientation); }
  glm::vec3 scale() const { return transform_.scale; }
  void setScale(glm::vec3 scale) { transform_.scale = scale; }

  // The same in another entity's space.
  glm::vec3 position(const Entity* relativeTo) const;
  void setPosition(glm::vec3 position, const Entity* relativeTo);
  glm::quat orientation(const Entity* relativeTo) const;
  void setOrientation(glm::quat orientation, const Entity* relativeTo);
  glm::vec3 scale(const Entity* relativeTo) const;
  void setScale(glm::vec3 scale, const Entity* relativeTo);
  Transform transform(const Entity* relativeTo) const;
  void setTransform(const Transform& transform, const Entity* relativeTo);

  // From this entity's space to world space.
  glm::mat4 worldMatrix() const;

  // Places the entity at `from` and turns it so that its -Z axis points at `at`, its +Y towards
  // `up`; all three given in `relativeTo`'s space.
  void look(glm::vec3 at, glm::vec3 from, glm::vec3 up = {0, 1, 0},
            const Entity* relativeTo = nullptr);

  // Animates the transform to `target` (in `relativeTo`'s space) over `duration` seconds along
  // `timing`; the scene's update advances it. A new move replaces a running one; a duration of
  // zero or less jumps at once.
  void move(const Transform& target, const Entity* relativeTo, float duration,
            TimingFunction timing = TimingFunction::linear);
  bool isMoving() const { return animation_.has_value(); }
  void stopMoving() { animation_.reset(); }
  // Advances this entity's move and its descendants' by `seconds`.
  void advanceAnimations(float seconds);

  // The box around the meshes of this entity (and with `recursive` its descendants) in
  // `relativeTo`'s space; with `excludeInactive`, disabled subtrees do not count.
  BoundingBox visualBounds(bool recursive = true, const Entity* relativeTo = nullptr,
                           bool excludeInactive = true) const;

 protected:
  explicit Entity(Kind kind) : kind_(kind) {}

 private:
  struct Animation {
    Transform from;
    Transform to;
    float duration;
    float elapsed;
    TimingFunction timing;
  };
  void adopt(std::unique_ptr<Entity> child);
  void addBounds(BoundingBox& bounds, const glm::mat4& toTarget, bool recursive,
                 bool excludeInactive) const;

  Kind kind_ = Kind::plain;
  Entity* parent_ = nullptr;
  std::vector<std::unique_ptr<Entity>> children_;
  Transform transform_;
  bool enabled_ = true;
  bool still_ = false;
  float opacity_ = 1;
  std::optional<Animation> animation_;
};

// An entity with a mesh and its materials (one material covers the whole mesh).
class ModelEntity : public Entity {
 public:
  ModelEntity(MeshDescriptor mesh, std::vector<Material> materials)
      : Entity(Kind::model), mesh(std::move(mesh)), materials(std::move(materials)) {}
  static std::unique_ptr<ModelEntity> make(MeshDescriptor mesh, Material material) {
    return std::make_unique<ModelEntity>(std::move(mesh),
                                         std::vector<Material>{std::move(material)});
  }

  MeshDescriptor mesh;
  std::vector<Material> materials;  // replaced in place by the scene
};

// Hangs a new model of `mesh` and `material` on `parent` at `position`; returns it.
inline ModelEntity* addModel(Entity& parent, MeshDescriptor mesh, Material material,
                             glm::vec3 position) {
  auto* model = parent.addChild(ModelEntity::make(std::move(mesh), std::move(material)));
  model->setPosition(position);
  return model;
}

// The camera the scene is seen through; it looks down its -Z axis.
class PerspectiveCamera : public Entity {
 public:
  PerspectiveCamera() : Entity(Kind::camera) {}
  float fieldOfViewInDegrees = 60;  // vertical
  float near = 0.1f;
  float far = 1000;
};

// Light arriving along the light's -Z axis.
class DirectionalLight : public Entity {
 public:
  DirectionalLight() : Entity(Kind::light) {}
  float intensity = 1000;  // the key light of the office is 5600
  Color color = palette::white;
};

}  // namespace tallyloft
