#include "render/SceneProgram.h"

#include <QFile>
#include <glm/gtc/type_ptr.hpp>
#include <stdexcept>
#include <string>

namespace tallyloft::drawing {
namespace {

QByteArray readResource(const char* resource) {
  QFile file(resource);
  if (!file.open(QIODevice::ReadOnly))
    throw std::runtime_error(std::string("missing shader ") + resource);
  return file.readAll();
}

// A stage: its own source after the version, the form's switch and the shared lighting.
GLuint compile(GLenum type, const char* resource, bool plain) {
  const QByteArray head = plain ? "#version 330 core\n#define PLAIN\n" : "#version 330 core\n";
  const QByteArray shading = readResource(":/shaders/shading.glsl");
  const QByteArray source = readResource(resource);
  const char* texts[] = {head.constData(), shading.constData(), source.constData()};
  const GLuint shader = glCreateShader(type);
  glShaderSource(shader, 3, texts, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[2048];
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    glDeleteShader(shader);
    throw std::runtime_error(std::string(resource) + ": " + log);
  }
  return shader;
}

}  // namespace

SceneProgram::SceneProgram(bool plain) {
  const GLuint vertex = compile(GL_VERTEX_SHADER, ":/shaders/scene.vert", plain);
  GLuint fragment = 0;
  try {
    fragment = compile(GL_FRAGMENT_SHADER, ":/shaders/scene.frag", plain);
  } catch (...) {
    glDeleteShader(vertex);
    throw;
  }
  id_ = glCreateProgram();
  glAttachShader(id_, vertex);
  glAttachShader(id_, fragment);
  glLinkProgram(id_);
  // Detached, the shaders are freed with their compiled form; the linked program keeps its own.
  glDetachShader(id_, vertex);
  glDetachShader(id_, fragment);
  glDeleteShader(vertex);
  glDeleteShader(fragment);
  GLint ok = 0;
  glGetProgramiv(id_, GL_LINK_STATUS, &ok);
  if (!ok) {
    glDeleteProgram(id_);
    throw std::runtime_error("the scene shaders do not link");
  }
  viewProjection_ = glGetUniformLocation(id_, "uViewProjection");
  lit_ = glGetUniformLocation(id_, "uLit");
  textured_ = glGetUniformLocation(id_, "uTextured");
  texture_ = glGetUniformLocation(id_, "uTexture");
  cameraPosition_ = glGetUniformLocation(id_, "uCameraPosition");
  lightCount_ = glGetUniformLocation(id_, "uLightCount");
  lightToward_ = glGetUniformLocation(id_, "uLightToward");
  lightRadiance_ = glGetUniformLocation(id_, "uLightRadiance");
}

SceneProgram::~SceneProgram() {
  glDeleteProgram(id_);
}

void SceneProgram::use(const glm::mat4& viewProjection, const glm::vec3& eye,
                       const std::vector<glm::vec3>& lightToward,
                       const std::vector<glm::vec3>& lightRadiance) {
  glUseProgram(id_);
  glUniformMatrix4fv(viewProjection_, 1, GL_FALSE, glm::value_ptr(viewProjection));
  glUniform3fv(cameraPosition_, 1, glm::value_ptr(eye));
  glUniform1i(lightCount_, static_cast<GLint>(lightToward.size()));
  if (!lightToward.empty()) {
    glUniform3fv(lightToward_, static_cast<GLsizei>(lightToward.size()),
                 glm::value_ptr(lightToward.front()));
    glUniform3fv(lightRadiance_, static_cast<GLsizei>(lightRadiance.size()),
                 glm::value_ptr(lightRadiance.front()));
  }
  if (texture_ >= 0) glUniform1i(texture_, 0);
}

}  // namespace tallyloft::drawing
