// The living office with 1, 4 and 8 sessions of 12 agents each, mid-work and mid-compaction: the
// CPU time of a frame (ticking everything, with and without a pending sync; no GL), the heap
// allocations of steady frames, and for the same scene the draw calls, entities, vertices drawn and
// the whole frame on this machine's OpenGL (llvmpipe without a GPU) at the panel's 900x200,
// antialiased as the app does on this driver, with everything drawn and with the still layer
// (walls, floors, furniture) kept from the frame before.
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "base/LoopScheduler.h"
#include "render/OffscreenRenderer.h"
#include "scene/CrewRealityController.h"

namespace tallyloft {
namespace {

using Clock = std::chrono::steady_clock;

struct Office {
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew{loop};
  CrewRealityController controller{crew, loop, {false, 3}};
  int serial = 0;

  void post(const std::string& json) {
    if (auto event = HookEvent::decode(json, loop.now())) crew.reduce(*event);
  }
  void step(int frames) {
    for (int i = 0; i < frames; ++i) {
      loop.advance(std::chrono::microseconds(16667));
      loop.runPending();
      controller.scene().update(1.0 / 60);
    }
  }
  // A tool call by one agent: the change that makes the next frame sync.
  void work(const std::string& sid, int agent) {
    static const char* const tools[] = {
        "Bash", "Edit", "Read", "Grep", "WebFetch", "mcp__github__search", "TodoWrite"};
    const std::string id = agent == 0 ? ""
                                      : R"(,"agent_id":")" + sid + "-" + std::to_string(agent) +
                                            R"(","agent_type":")" +
                                            (agent % 2 ? "Explore" : "test-runner") + "\"";
    post(R"({"hook_event_name":"PreToolUse","session_id":")" + sid + "\"" + id +
         R"(,"tool_name":")" + tools[serial++ % 7] + R"(","tool_input":{"command":"make -j2"}})");
  }
};

struct Row {
  double p50 = 0, p99 = 0, mean = 0;
};

Row summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  Row row;
  row.p50 = ms[ms.size() / 2];
  row.p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  for (double each : ms) row.mean += each / static_cast<double>(ms.size());
  return row;
}

long long countEntities(const Entity& entity) {
  if (!entity.isEnabled()) return 0;
  long long count = 1;
  for (const auto& child : entity.children()) count += countEntities(*child);
  return count;
}

void measure(int sessions, bool compacting, OffscreenRenderer& gl) {
  Office office;
  office.controller.setViewSize(900, 200);
  for (int s = 0; s < sessions; ++s) {
    const std::string sid = "s" + std::to_string(s);
    office.post(R"({"hook_event_name":"SessionStart","session_id":")" + sid +
                R"(","cwd":"/home/dev/project-)" + std::to_string(s) + R"("})");
    for (int a = 0; a < 12; ++a) office.work(sid, a);
  }
  // Paper on the floors: main-agent activity a little apart.
  for (int i = 0; i < 20; ++i) {
    for (int s = 0; s < sessions; ++s) office.work("s" + std::to_string(s), 0);
    office.step(30);
  }
  if (compacting) {
    for (int s = 0; s < sessions; ++s)
      office.post(R"({"hook_event_name":"PreCompact","session_id":"s)" + std::to_string(s) +
                  R"(","trigger":"auto"})");
    office.step(600);  // the cleaning robots are at work, sheets in flight
  } else {
    office.step(300);
  }

  const int frames = 600;
  std::vector<double> steady;
  std::vector<double> syncing;
  long long allocations = 0;
  for (int i = 0; i < frames; ++i) {
    const bool change = i % 10 == 0;
    if (change) office.work("s" + std::to_string(i % sessions), i % 12);
    office.loop.advance(std::chrono::microseconds(16667));
    office.loop.runPending();
    const long long before = allocationCount();
    const auto start = Clock::now();
    office.controller.scene().update(1.0 / 60);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    (change ? syncing : steady).push_back(ms);
    if (!change) allocations += allocationCount() - before;
  }
  const Row still = summarise(steady);
  const Row busy = summarise(syncing);

  // The GL frame with everything drawn, and with the still layer kept from the frame before (as
  // most frames find it: the office's sway turns it four times a second).
  Renderer::Stats stats;
  const auto glFrame = [&](bool stillLayer) {
    gl.renderer().setStillLayer(stillLayer);
    stats = gl.draw(office.controller.scene(), {900, 200});
    std::vector<double> drawn;
    for (int i = 0; i < 31; ++i) {
      const auto start = Clock::now();
      stats = gl.draw(office.controller.scene(), {900, 200});
      drawn.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return summarise(drawn).p50;
  };
  const double everything = glFrame(false);
  const double kept = glFrame(true);
  const long long entities = countEntities(office.controller.scene().root());
  const long long vertices = stats.vertices;
  // How often the still layer is drawn anew in a running office, over 2 s at 30 frames a second.
  int redrawn = 0;
  for (int i = 0; i < 60; ++i) {
    if (i % 10 == 0) office.work("s" + std::to_string(i % sessions), i % 12);
    office.loop.advance(std::chrono::microseconds(33333));
    office.loop.runPending();
    office.controller.scene().update(1.0 / 30);
    redrawn += gl.draw(office.controller.scene(), {900, 200}).stillLayerDrawn ? 1 : 0;
  }
  std::printf(
      "| %d x 12 %-11s | %8.3f | %8.3f | %8.3f | %8.3f | %10.2f | %5d | %8lld | %9lld | %8.1f | "
      "%10.1f | %8d %% |\n",
      sessions, compacting ? "compacting" : "working", still.p50, still.p99, busy.p50, busy.p99,
      static_cast<double>(allocations) / static_cast<double>(steady.size()), stats.drawCalls,
      entities, vertices, everything, kept, redrawn * 100 / 60);
}

}  // namespace
}  // namespace tallyloft

int main(int argc, char** argv) {
  using namespace tallyloft;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  std::string error;
  auto gl = OffscreenRenderer::create(&error);
  if (!gl) {
    std::fprintf(stderr, "no headless OpenGL: %s\n", error.c_str());
    return 1;
  }
  gl->setAntialiasing(antialiasingFor(gl->softwareRendering()));
  std::printf(
      "GL frames %s, as the app draws on this driver.\n\n",
      gl->softwareRendering() ? "supersampled 2x2 (software rendering)" : "multisampled 4x");
  std::printf(
      "| sessions           | frame ms | frame ms | +sync ms | +sync ms | allocs per | draw  | "
      "entities | vertices  | GL frame | GL, still  | layer    |\n"
      "|                    | p50      | p99      | p50      | p99      | steady frm | calls | "
      "         |           | ms (p50) | layer kept | redrawn  |\n"
      "|--------------------|----------|----------|----------|----------|------------|-------|-"
      "---------|-----------|----------|------------|----------|\n");
  for (int sessions : {1, 4, 8}) {
    for (bool compacting : {false, true}) measure(sessions, compacting, *gl);
  }
  return 0;
}
