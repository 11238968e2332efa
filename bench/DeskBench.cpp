// Cost of DeskEntity::tick for an occupied desk scrolling code and for an unoccupied desk playing
// pong, the heap allocations on that steady path, and how often materials are rebuilt.
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "AllocationCounter.h"
#include "entities/DeskEntity.h"

namespace {

struct Measure {
  double microseconds;
  long long allocations;
  double rebuildsPerSecond;
};

Measure run(tallyloft::DeskEntity& desk, int frames) {
  using tallyloft::DeskEntity;
  const float dt = 1.0f / 60;
  for (int frame = 0; frame < 120; ++frame) desk.tick(dt);  // warm-up
  const long long allocations = allocationCount();
  const long long rebuilds = DeskEntity::materialRebuilds;
  const auto start = std::chrono::steady_clock::now();
  for (int frame = 0; frame < frames; ++frame) desk.tick(dt);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {seconds / frames * 1e6, allocationCount() - allocations,
          static_cast<double>(DeskEntity::materialRebuilds - rebuilds) / (frames * dt)};
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tallyloft;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  std::mt19937 random(3);
  DeskEntity busy(0.01f, random);
  busy.occupied = true;
  busy.setScreen("npm test", AgentState::working, ToolKind::edit);
  DeskEntity pong(0.01f, random);
  pong.saverMode = 2;
  const int frames = 3600;  // one minute at 60 frames a second
  const Measure scrolling = run(busy, frames);
  pong.saverModeT = -1e9f;  // keep playing pong for the whole run
  const Measure playing = run(pong, frames);
  std::printf("| %-34s | %10s | %16s | %18s |\n", "desk tick, 3600 frames", "us/frame",
              "heap allocations", "material rebuilds/s");
  std::printf("|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(12, '-').c_str(),
              std::string(18, '-').c_str(), std::string(20, '-').c_str());
  std::printf("| %-34s | %10.2f | %16lld | %18.1f |\n", "occupied, scrolling code",
              scrolling.microseconds, scrolling.allocations, scrolling.rebuildsPerSecond);
  std::printf("| %-34s | %10.2f | %16lld | %18.1f |\n", "unoccupied, playing pong",
              playing.microseconds, playing.allocations, playing.rebuildsPerSecond);
  return 0;
}
