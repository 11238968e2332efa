// Cost of RobotEntity::tick for 60 robots in a busy mix of states, and the heap allocations it
// makes on the steady path (after a warm-up that builds banners, pools sparks and so on).
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "AllocationCounter.h"
#include "entities/RobotEntity.h"

int main(int argc, char** argv) {
  using namespace tallyloft;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  std::mt19937 random(11);
  Entity scene;
  std::vector<std::unique_ptr<RobotEntity>> robots;
  const char* types[] = {"main", "Explore", "Plan", "code-reviewer", "builder", "test-runner"};
  const ToolKind tools[] = {ToolKind::run, ToolKind::edit, ToolKind::read, ToolKind::search,
                            ToolKind::web};
  for (int i = 0; i < 60; ++i) {
    AgentNode agent = AgentNode::make("a" + std::to_string(i), types[i % 6], i % 6 == 0, {});
    auto robot = std::make_unique<RobotEntity>(agent, 0.0085f, false, random);
    robot->attachTo(scene);
    const float x = -4 + 0.13f * static_cast<float>(i);
    robot->setTerritory(x - 0.4f, x + 0.4f, -0.3f, -0.2f);
    robot->placeAt(x, -0.25f, 0);
    switch (i % 5) {
      case 0:  // working at the desk with a tool: sparks
      case 1:
        robot->setBuildTarget(glm::vec3(x, -0.25f, 0), std::nullopt);
        robot->setSeated(true, 3.14159f);
        agent.state = AgentState::working;
        agent.currentTool = tools[i % 5];
        break;
      case 2:  // waiting at the desk: the banner
        robot->setBuildTarget(glm::vec3(x, -0.25f, 0), std::nullopt);
        robot->setSeated(true, 3.14159f);
        agent.state = AgentState::waiting;
        break;
      case 3:  // wandering while thinking
        agent.state = AgentState::thinking;
        break;
      case 4:  // lounging with coffee (and chatter)
        agent.state = AgentState::idle;
        robot->setLounge(glm::vec3(x, -0.28f, 0), 0);
        break;
    }
    robot->update(agent);
    robots.push_back(std::move(robot));
  }
  const float dt = 1.0f / 60;
  for (int frame = 0; frame < 600; ++frame) {  // ten seconds of warm-up
    for (auto& robot : robots) robot->tick(dt);
  }
  const int frames = 600;
  const long long before = allocationCount();
  const auto start = std::chrono::steady_clock::now();
  for (int frame = 0; frame < frames; ++frame) {
    for (auto& robot : robots) robot->tick(dt);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long long allocated = allocationCount() - before;
  const double perRobot = seconds / frames / 60 * 1e6;
  std::printf("| %-46s | %10s |\n", "60 robots, busy mix, 600 frames after warm-up", "value");
  std::printf("|%s|%s|\n", std::string(48, '-').c_str(), std::string(12, '-').c_str());
  std::printf("| %-46s | %10.2f |\n", "tick per robot per frame (us)", perRobot);
  std::printf("| %-46s | %10.3f |\n", "all 60 robots per frame (ms)", seconds / frames * 1e3);
  std::printf("| %-46s | %10lld |\n", "heap allocations in those 600 frames", allocated);
  std::printf("| %-46s | %10.2f |\n", "heap allocations per frame",
              static_cast<double>(allocated) / frames);

  // The same without the loungers: what is left allocates nothing (speech bubbles are the
  // loungers' chatter, made when they speak).
  std::erase_if(robots, [](const auto& robot) { return robot->isLounging(); });
  for (int frame = 0; frame < 60; ++frame) {
    for (auto& robot : robots) robot->tick(dt);
  }
  const long long quiet = allocationCount();
  for (int frame = 0; frame < frames; ++frame) {
    for (auto& robot : robots) robot->tick(dt);
  }
  std::printf("| %-46s | %10lld |\n", "the same without loungers' chatter (allocations)",
              allocationCount() - quiet);
  return 0;
}
