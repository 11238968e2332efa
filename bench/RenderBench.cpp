// Frame cost of a synthetic office: four full rooms, 5,000 model entities (robots, desks, paper
// sheets, signs and text). Prints draw calls with and without instancing, the CPU time per frame
// for traversal, sorting and instance upload, and the whole frame time on this machine's
// OpenGL (llvmpipe without a GPU) at 1800x400.
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <glm/gtc/quaternion.hpp>
#include <random>
#include <vector>

#include "graph/OfficeRig.h"
#include "render/OffscreenRenderer.h"

namespace tallyloft {
namespace {

int addRoom(Entity& room, std::mt19937& random, int index) {
  int count = 0;
  const auto add = [&](Entity& parent, MeshDescriptor mesh, Material material, glm::vec3 at) {
    auto* model = parent.addChild(ModelEntity::make(std::move(mesh), std::move(material)));
    model->setPosition(at);
    ++count;
    return model;
  };
  const Color colors[] = {palette::blue, palette::green, palette::orange, palette::purple,
                          palette::teal};
  const LitMaterial metal{Color::hex(0xC7CCD4), 0.35f, true};
  // Twelve robots of 40 parts.
  for (int r = 0; r < 12; ++r) {
    Entity* robot = room.addChild(std::make_unique<Entity>());
    robot->setPosition({-0.45f + 0.08f * static_cast<float>(r), -0.3f, 0.02f});
    robot->setScale(glm::vec3(0.01f));
    const Color body = colors[r % 5];
    add(*robot, generateBox({3, 4, 2.4f}, 0.8f), LitMaterial{body, 0.5f, false}, {0, 2, 0});
    add(*robot, generateBox({3.4f, 2.6f, 2.6f}, 1.0f), metal, {0, 5.2f, 0});
    for (int part = 0; part < 38; ++part) {
      const float a = static_cast<float>(part) * 0.3f;
      add(*robot, part % 3 == 0 ? generateSphere(0.4f) : generateBox({0.5f, 1.2f, 0.5f}, 0.2f),
          part % 4 == 0 ? Material(metal) : Material(LitMaterial{body, 0.6f, false}),
          {std::sin(a) * 2, 1 + static_cast<float>(part % 7) * 0.8f, std::cos(a)});
    }
  }
  // Twelve desks of 30 parts, each with a screen line of text.
  for (int d = 0; d < 12; ++d) {
    Entity* desk = room.addChild(std::make_unique<Entity>());
    desk->setPosition({-0.45f + 0.08f * static_cast<float>(d), -0.1f, 0});
    desk->setScale(glm::vec3(0.01f));
    add(*desk, generateBox({7, 0.5f, 3}, 0.2f), LitMaterial{palette::brown, 0.8f, false},
        {0, 3, 0});
    add(*desk, generatePlane(4, 2.6f, 0.3f),
        UnlitMaterial{Color::hex(0x1C2738), nullptr, std::nullopt}, {0, 6, 0.2f});
    for (int part = 0; part < 27; ++part) {
      add(*desk, part % 2 ? generateBox({0.3f, 3, 0.3f}) : generateBox({1, 0.2f, 0.6f}, 0.05f),
          metal, {-3 + static_cast<float>(part) * 0.22f, 1.5f, (part % 3) * 0.5f});
    }
    auto* line =
        add(*desk,
            generateText("make -j2 # desk " + std::to_string(index * 12 + d), 0, {0.5f, 400, true}),
            UnlitMaterial{palette::green, nullptr, std::nullopt}, {-1.8f, 5.5f, 0.3f});
    (void)line;
  }
  // Paper sheets piled by the hundred.
  std::uniform_real_distribution<float> spread(-0.45f, 0.45f);
  while (count < 1'230) {
    auto* sheet =
        add(room, generateBox({0.05f, 0.002f, 0.035f}), LitMaterial{palette::white, 0.9f, false},
            {spread(random), -0.45f + spread(random) * 0.05f, 0.03f});
    sheet->setOrientation(glm::angleAxis(spread(random), glm::vec3(0, 1, 0)));
  }
  // Room decoration and the sign.
  add(room, generatePlane(1, 1), LitMaterial{Color::hex(0xF2EDE4), 0.9f, false}, {0, 0, -0.1f});
  add(room, generateText("Room " + std::to_string(index), 0, {0.06f, 600, false}),
      UnlitMaterial{palette::black, nullptr, std::nullopt}, {-0.2f, 0.35f, 0.05f});
  while (count < 1'250) {
    add(room, generateBox(0.02f, 0.005f), LitMaterial{palette::gray, 0.5f, false},
        {spread(random), 0.4f, 0});
  }
  return count;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace
}  // namespace tallyloft

int main(int argc, char** argv) {
  using namespace tallyloft;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  Scene scene;
  addOfficeCameraAndLights(scene);
  std::mt19937 random(7);
  int entities = 0;
  for (int room = 0; room < 4; ++room) {
    Entity* anchor = scene.addAnchor({-3.4f + 2.25f * static_cast<float>(room), 0, 0});
    anchor->setScale(glm::vec3(2));
    entities += addRoom(*anchor, random, room);
  }
  std::string error;
  auto gl = OffscreenRenderer::create(&error);
  if (!gl) {
    std::fprintf(stderr, "no headless OpenGL: %s\n", error.c_str());
    return 1;
  }
  const QSize size(1800, 400);
  std::vector<double> cpu;
  std::vector<double> frame;
  Renderer::Stats stats;
  for (int i = 0; i < 40; ++i) {
    scene.update(1.0 / 60);
    const auto start = std::chrono::steady_clock::now();
    stats = gl->draw(scene, size);
    frame.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (i >= 5) cpu.push_back(stats.cpuMilliseconds);  // the first frames build caches
  }
  frame.erase(frame.begin(), frame.begin() + 5);
  gl->renderer().setInstancing(false);
  const Renderer::Stats single = gl->draw(scene, size);
  std::printf("| %-44s | %10s |\n", "synthetic office (4 rooms)", "value");
  std::printf("|%s|%s|\n", std::string(46, '-').c_str(), std::string(12, '-').c_str());
  std::printf("| %-44s | %10d |\n", "model entities", entities);
  std::printf("| %-44s | %10d |\n", "draw calls per frame (instanced)", stats.drawCalls);
  std::printf("| %-44s | %10d |\n", "draw calls per frame (one per entity)", single.drawCalls);
  std::printf("| %-44s | %10.2f |\n", "CPU ms per frame: traversal, sort, upload (p50)",
              median(cpu));
  std::printf("| %-44s | %10.2f |\n", "CPU ms per frame (max of 35)",
              *std::max_element(cpu.begin(), cpu.end()));
  std::printf("| %-44s | %10.1f |\n", "whole frame ms at 1800x400, GL finished (p50)",
              median(frame));
  return 0;
}
