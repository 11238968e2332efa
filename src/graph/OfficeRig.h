#pragma once

#include "graph/Scene.h"

namespace tallyloft {

// The office's view: a nearly orthographic camera (1.2° field of view at z 95.4895, showing 2.0
// world units of height) looking at the origin, and the key, fill and back lights.
inline constexpr float kWorldViewHeight = 2.0f;
inline constexpr float kCameraDistance = 95.4895f;

void addOfficeCameraAndLights(Scene& scene);

}  // namespace tallyloft
