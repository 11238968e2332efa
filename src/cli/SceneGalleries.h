#pragma once

#include <QSize>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "graph/Scene.h"
#include "graph/SceneObject.h"

namespace tallyloft {

// Builds the `desks`, `props` or `vacuum` gallery into `scene` after `seconds` of fixed 1/60 s
// steps, returning the objects that own what was built (keep them while rendering). False for
// another name.
bool buildSceneGallery(const std::string& name, Scene& scene, QSize size, std::mt19937& random,
                       double seconds, std::vector<std::unique_ptr<SceneObject>>& objects);

}  // namespace tallyloft
