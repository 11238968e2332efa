#include "cli/SceneGalleries.h"

#include "entities/DeskEntity.h"
#include "entities/VacuumBotEntity.h"
#include "graph/OfficeRig.h"
#include "graph/TextEntity.h"
#include "scene/RoomProps.h"
#include "scene/ShopSign.h"
#include "scene/TaskBoard.h"

namespace tallyloft {
namespace {

constexpr float kStep = 1.0f / 60;

void caption(Entity& parent, const std::string& text, glm::vec3 at) {
  parent.addChild(centredText(text, {0.035f, 500, false}, 0.0006f, {0.2f, 0.2f, 0.2f, 1}, at));
}

void buildDesks(Entity& sheet, float width, std::mt19937& random, double seconds,
                std::vector<std::unique_ptr<SceneObject>>& objects) {
  struct DeskState {
    const char* name;
    AgentState state;
    std::optional<ToolKind> tool;
    const char* status;
  };
  const DeskState occupied[] = {
      {"thinking", AgentState::thinking, std::nullopt, ""},
      {"working: run", AgentState::working, ToolKind::run, "npm test -- --watch=false"},
      {"working: edit", AgentState::working, ToolKind::edit, "src/hooks/HookServer.cpp"},
      {"working: phone", AgentState::working, ToolKind::phone, "github"},
      {"waiting", AgentState::waiting, std::nullopt, ""},
      {"idle", AgentState::idle, std::nullopt, ""},
      {"done", AgentState::done, std::nullopt, ""},
      {"error", AgentState::error, std::nullopt, ""}};
  const float pitch = width / 8.4f;
  const float s = pitch / 60;
  std::vector<DeskEntity*> desks;
  for (int i = 0; i < 8; ++i) {
    auto desk = std::make_unique<DeskEntity>(s, random);
    desk->attachTo(sheet);
    desk->snap({-width / 2 + pitch * (static_cast<float>(i) + 0.7f), 0.35f, 0}, 1);
    desk->occupied = true;
    desk->setScreen(occupied[i].status, occupied[i].state, occupied[i].tool);
    caption(sheet, occupied[i].name,
            {-width / 2 + pitch * (static_cast<float>(i) + 0.7f), 0.02f, 0});
    desks.push_back(desk.get());
    objects.push_back(std::move(desk));
  }
  const char* savers[] = {"saver: buddy", "saver: message", "saver: pong", "saver: logo"};
  for (int mode = 0; mode < 4; ++mode) {
    auto desk = std::make_unique<DeskEntity>(s, random);
    desk->attachTo(sheet);
    const float x = -width / 2 + pitch * (static_cast<float>(mode) * 2 + 1.2f);
    desk->snap({x, -0.55f, 0}, 1);
    desk->saverMode = mode;
    caption(sheet, savers[mode], {x, -0.88f, 0});
    desks.push_back(desk.get());
    objects.push_back(std::move(desk));
  }
  for (double t = 0; t < seconds; t += kStep) {
    for (DeskEntity* desk : desks) {
      if (!desk->occupied) desk->saverModeT = 0;  // hold each saver in its mode
      desk->tick(kStep);
    }
  }
}

void buildProps(Entity& sheet, float width, std::mt19937& random, double seconds,
                std::vector<std::unique_ptr<SceneObject>>& objects) {
  const float sc = 0.0032f;
  std::vector<ShopSign*> signs;
  std::vector<TaskBoard*> boards;
  std::vector<WallClock*> clocks;
  // Two rooms' decoration, 320 and 250 layout units wide: only the wider one has a poster.
  for (int i = 0; i < 2; ++i) {
    auto decor = std::make_unique<RoomDecor>();
    decor->attachTo(sheet);
    const float slotW = i == 0 ? 320 : 250;
    rebuildRoom(*decor, slotW, 200, sc);
    const float x = -width / 2 + 0.6f + static_cast<float>(i) * 1.25f;
    decor->root->setPosition({x, 0.55f, 0});
    decor->signWall->setPosition(glm::vec3(0, 0.1f, -0.1f));
    decor->coffee->setPosition({-0.35f, 0.2f, 0.05f});
    decor->couch->setPosition({0.2f, 0.22f, 0.05f});
    decor->divider->setPosition({0.6f, 0.25f, -0.05f});
    decor->decorL->setPosition({-0.55f, -0.35f, 0.05f});
    decor->decorR->setPosition({0.45f, -0.35f, 0.05f});
    caption(sheet, i == 0 ? "room 320 wide (poster)" : "room 250 wide", {x, 0.03f, 0});
    objects.push_back(std::move(decor));
  }
  // A door closed and one open.
  for (int i = 0; i < 2; ++i) {
    auto door = std::make_unique<DoorEntity>(0.006f);
    door->attachTo(sheet);
    door->setSize(0.3f, 0.44f);
    door->setSwing(i == 0 ? 0 : -1.4f);
    const float x = -width / 2 + 2.75f + static_cast<float>(i) * 0.4f;
    door->root->setPosition({x, 0.55f, 0});
    caption(sheet, i == 0 ? "door closed" : "door open", {x, 0.22f, 0});
    objects.push_back(std::move(door));
  }
  // Clocks at 13:45:30.
  for (int i = 0; i < 2; ++i) {
    auto clock = std::make_unique<WallClock>(0.012f, 13 * 3600 + 45 * 60 + 30);
    clock->attachTo(sheet);
    const float x = -width / 2 + 3.55f + static_cast<float>(i) * 0.28f;
    clock->root->setPosition({x, 0.6f, 0});
    clocks.push_back(clock.get());
    objects.push_back(std::move(clock));
  }
  caption(sheet, "clocks at 13:45:30", {-width / 2 + 3.69f, 0.4f, 0});
  // Signs with 1, 2 and 13 agents, and a long name.
  const std::pair<const char*, int> signSamples[] = {{"tallyloft", 1},
                                                     {"api-gateway", 2},
                                                     {"data-pipeline", 13},
                                                     {"a-very-long-project-name-indeed", 3}};
  const Color colors[] = {palette::blue, palette::orange, palette::purple, palette::green};
  for (int i = 0; i < 4; ++i) {
    auto sign = std::make_unique<ShopSign>(0.012f, signSamples[i].first);
    sign->attachTo(sheet);
    sign->setSessionColor(colors[i]);
    sign->setAgentCount(signSamples[i].second);
    sign->setPosition({-width / 2 + 0.5f + static_cast<float>(i) * 0.8f, -0.3f, 0});
    signs.push_back(sign.get());
    objects.push_back(std::move(sign));
  }
  // Boards: no task, a short one, and a 50-character one part-written and fully written.
  const std::string longTask =
      "Refactor the hook server so idle sockets time out";  // 50 characters
  const std::optional<std::string> tasks[] = {std::nullopt, "Fix the flaky test", longTask,
                                              longTask};
  for (int i = 0; i < 4; ++i) {
    auto board = std::make_unique<TaskBoard>(0.014f);
    board->attachTo(sheet);
    board->setTask(tasks[i]);
    board->root->setPosition({-width / 2 + 0.5f + static_cast<float>(i) * 0.8f, -0.78f, 0});
    boards.push_back(board.get());
    objects.push_back(std::move(board));
  }
  caption(sheet, "no task, short task, long task half written, fully written",
          {-width / 2 + 1.7f, -0.98f, 0});
  // Steam and dust.
  auto steam = std::make_unique<SteamColumn>(
      0.01f, std::vector<glm::vec3>{{width / 2 - 0.35f, -0.55f, 0}}, random);
  steam->attachTo(sheet);
  auto* steamPtr = steam.get();
  objects.push_back(std::move(steam));
  for (double t = 0; t < seconds; t += kStep) {
    for (ShopSign* sign : signs) sign->tick(kStep);
    for (std::size_t i = 0; i < boards.size(); ++i) {
      // The third board stops half way through its writing.
      if (i == 2 && boards[i]->revealT >= 0.5f) continue;
      boards[i]->tick(kStep);
    }
    steamPtr->tick(kStep);
  }
}

void buildVacuums(Entity& sheet, float width, double seconds,
                  std::vector<std::unique_ptr<SceneObject>>& objects) {
  const char* names[] = {"driving", "deploying", "running", "stowed"};
  const float pitch = width / 4.4f;
  for (int i = 0; i < 4; ++i) {
    auto bot = std::make_unique<VacuumBotEntity>(0.014f);
    bot->attachTo(sheet);
    const float x = -width / 2 + pitch * (static_cast<float>(i) + 0.8f);
    bot->root->setPosition({x, 0, 0});
    caption(sheet, names[i], {x, -0.45f, 0});
    if (i == 0) {
      bot->moveTo({x + 5, 0, 0});
      for (double t = 0; t < std::min(seconds, 0.2); t += kStep) bot->tick(kStep);
      bot->root->setPosition({x, 0, 0});
      bot->tick(0);
    } else {
      bot->moveTo({x, 0, 0}, x + 1);
      bot->startVacuum();
      const double run = i == 1 ? 0.25 : seconds;
      for (double t = 0; t < run; t += kStep) bot->tick(kStep);
      if (i == 3) {
        bot->stowVacuum();
        for (int frame = 0; frame < 40; ++frame) bot->tick(kStep);
      }
    }
    objects.push_back(std::move(bot));
  }
}

}  // namespace

bool buildSceneGallery(const std::string& name, Scene& scene, QSize size, std::mt19937& random,
                       double seconds, std::vector<std::unique_ptr<SceneObject>>& objects) {
  if (name != "desks" && name != "props" && name != "vacuum") return false;
  addOfficeCameraAndLights(scene);
  Entity& sheet = *scene.addAnchor();
  const float width = kWorldViewHeight * static_cast<float>(size.width()) /
                      static_cast<float>(std::max(size.height(), 1));
  if (name == "desks") buildDesks(sheet, width, random, seconds, objects);
  if (name == "props") buildProps(sheet, width, random, seconds, objects);
  if (name == "vacuum") buildVacuums(sheet, width, seconds, objects);
  return true;
}

}  // namespace tallyloft
