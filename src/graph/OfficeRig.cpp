#include "graph/OfficeRig.h"

namespace tallyloft {

void addOfficeCameraAndLights(Scene& scene) {
  Entity* cameraAnchor = scene.addAnchor();
  auto camera = std::make_unique<PerspectiveCamera>();
  camera->fieldOfViewInDegrees = 1.2f;
  // A tight depth range around the office keeps thin layers (faces, screens) apart in depth.
  camera->near = 85;
  camera->far = 106;
  camera->look({0, 0, 0}, {0, 0, kCameraDistance}, {0, 1, 0});
  camera->name = "camera";
  cameraAnchor->addChild(std::move(camera));

  struct LightSetup {
    const char* name;
    float intensity;
    Color color;
    glm::vec3 from;
  };
  const LightSetup lights[] = {{"key", 5600, {1.0f, 0.95f, 0.86f, 1}, {0.4f, 0.7f, 1.0f}},
                               {"fill", 1700, {0.9f, 0.94f, 1.0f, 1}, {-0.7f, 0.2f, 0.8f}},
                               {"back", 2000, {0.58f, 0.72f, 1.0f, 1}, {0, -0.2f, -1.0f}}};
  Entity* lightAnchor = scene.addAnchor();
  for (const LightSetup& setup : lights) {
    auto light = std::make_unique<DirectionalLight>();
    light->name = setup.name;
    light->intensity = setup.intensity;
    light->color = setup.color;
    light->look({0, 0, 0}, setup.from, {0, 1, 0});
    lightAnchor->addChild(std::move(light));
  }
}

}  // namespace tallyloft
