#pragma once

// The scene's shader program, in two forms: one that lights, textures and cuts out per pixel, and
// a plain one for untextured surfaces that are unlit or lit per vertex, whose pixels only take
// their colour. A software rasterizer spends most of a frame in the fragment shader, and small
// parts are lit as well once per vertex.
#include <epoxy/gl.h>

#include <glm/glm.hpp>
#include <vector>

namespace tallyloft::drawing {

class SceneProgram {
 public:
  // Compiles and links; throws std::runtime_error with the driver's log when that fails.
  explicit SceneProgram(bool plain);
  SceneProgram(const SceneProgram&) = delete;
  SceneProgram& operator=(const SceneProgram&) = delete;
  ~SceneProgram();

  // Makes it current with the frame's camera and lights.
  void use(const glm::mat4& viewProjection, const glm::vec3& eye,
           const std::vector<glm::vec3>& lightToward, const std::vector<glm::vec3>& lightRadiance);
  GLuint id() const { return id_; }
  GLint litSwitch() const { return lit_; }
  GLint texturedSwitch() const { return textured_; }

 private:
  GLuint id_ = 0;
  GLint viewProjection_ = -1, lit_ = -1, textured_ = -1, texture_ = -1, cameraPosition_ = -1,
        lightCount_ = -1, lightToward_ = -1, lightRadiance_ = -1;
};

}  // namespace tallyloft::drawing
