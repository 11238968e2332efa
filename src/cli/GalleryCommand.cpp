#include "cli/GalleryCommand.h"

#include <QImage>
#include <cstdio>
#include <glm/gtc/quaternion.hpp>
#include <random>

#include "cli/SceneGalleries.h"
#include "entities/RobotEntity.h"
#include "graph/OfficeRig.h"
#include "render/OffscreenRenderer.h"

namespace tallyloft {
namespace {

ModelEntity* place(Entity& anchor, MeshDescriptor mesh, Material material, glm::vec2 at,
                   bool tilted = true) {
  auto model = ModelEntity::make(std::move(mesh), std::move(material));
  model->setPosition({at, 0});
  if (tilted)
    model->setOrientation(glm::angleAxis(glm::radians(-28.0f), glm::vec3(0, 1, 0)) *
                          glm::angleAxis(glm::radians(22.0f), glm::vec3(1, 0, 0)));
  return anchor.addChild(std::move(model));
}

// A checkerboard of soft discs: cut out where the alpha is below one half.
QImage thresholdPattern() {
  QImage image(64, 64, QImage::Format_RGBA8888_Premultiplied);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const float dx = static_cast<float>(x % 16) - 7.5f;
      const float dy = static_cast<float>(y % 16) - 7.5f;
      const float alpha = std::clamp(1.2f - std::sqrt(dx * dx + dy * dy) / 8.0f, 0.0f, 1.0f);
      const int a = static_cast<int>(alpha * 255);
      image.setPixelColor(x, y, QColor::fromRgb(255 * a / 255, 204 * a / 255, 0, a));
    }
  }
  return image;
}

}  // namespace

void buildPrimitivesCard(Scene& scene, QSize size) {
  addOfficeCameraAndLights(scene);
  Entity& card = *scene.addAnchor();
  const float width = kWorldViewHeight * static_cast<float>(size.width()) /
                      static_cast<float>(std::max(size.height(), 1));
  const float left = -width / 2 + 0.35f;
  const float step = (width - 0.7f) / 8;
  const auto column = [&](int i) { return left + step * static_cast<float>(i); };

  // Row 1: every mesh kind, lit.
  const float row1 = 0.68f;
  place(card, generateBox(0.28f), LitMaterial{palette::blue, 0.5f, false}, {column(0), row1});
  place(card, generateBox({0.3f, 0.24f, 0.24f}, 0.07f), LitMaterial{palette::green, 0.4f, false},
        {column(1), row1});
  place(card, generatePlane(0.3f, 0.26f), LitMaterial{palette::orange, 0.6f, false},
        {column(2), row1}, false);
  place(card, generatePlane(0.3f, 0.26f, 0.08f), LitMaterial{palette::pink, 0.6f, false},
        {column(3), row1}, false);
  auto* floor = place(card, generateHorizontalPlane(0.32f, 0.26f, 0.05f),
                      LitMaterial{palette::teal, 0.6f, false}, {column(4), row1}, false);
  floor->setOrientation(glm::angleAxis(glm::radians(55.0f), glm::vec3(1, 0, 0)));
  place(card, generateSphere(0.15f), LitMaterial{palette::purple, 0.35f, false}, {column(5), row1});
  place(card, generateCone(0.3f, 0.14f), LitMaterial{palette::yellow, 0.5f, false},
        {column(6), row1});
  place(card, generateBox({0.34f, 0.2f, 0.1f}, 0.05f),
        UnlitMaterial{palette::indigo, nullptr, std::nullopt}, {column(7), row1});
  place(card, generateSphere(0.14f), UnlitMaterial{palette::cyan, nullptr, std::nullopt},
        {column(8), row1});

  // Row 2: rough and smooth, plastic and metal.
  const float row2 = 0.2f;
  const Color metal = Color::hex(0xC7CCD4);
  place(card, generateSphere(0.15f), LitMaterial{palette::red, 1.0f, false}, {column(0), row2});
  place(card, generateSphere(0.15f), LitMaterial{palette::red, 0.25f, false}, {column(1), row2});
  place(card, generateSphere(0.15f), LitMaterial{metal, 0.35f, true}, {column(2), row2});
  place(card, generateSphere(0.15f), LitMaterial{metal, 0.8f, true}, {column(3), row2});
  place(card, generateBox({0.28f, 0.28f, 0.28f}, 0.06f), LitMaterial{metal, 0.3f, true},
        {column(4), row2});
  place(card, generateBox({0.28f, 0.28f, 0.28f}, 0.06f), LitMaterial{palette::brown, 0.9f, false},
        {column(5), row2});
  place(card, generateSphere(0.15f), LitMaterial{Color::hex(0xE5B84B), 0.3f, true},
        {column(6), row2});
  place(card, generateCone(0.3f, 0.14f), LitMaterial{metal, 0.4f, true}, {column(7), row2});
  place(card, generateBox(0.26f, 0.02f), LitMaterial{palette::gray, 0.5f, false},
        {column(8), row2});

  // Row 3: opacity steps over a stripe, the cut-out pattern and the mascot.
  const float row3 = -0.26f;
  auto* stripe = place(card, generatePlane(step * 4.2f, 0.08f),
                       UnlitMaterial{palette::black, nullptr, std::nullopt},
                       {column(0) + step * 1.5f, row3}, false);
  stripe->setPosition({column(0) + step * 1.5f, row3, -0.2f});
  const float opacities[] = {1.0f, 0.75f, 0.5f, 0.25f};
  for (int i = 0; i < 4; ++i) {
    auto* box = place(card, generateBox(0.26f, 0.04f), LitMaterial{palette::blue, 0.5f, false},
                      {column(i), row3});
    box->setOpacity(opacities[i]);
  }
  place(card, generatePlane(0.34f, 0.34f),
        UnlitMaterial{palette::white, Texture::fromImage(thresholdPattern(), false), 0.5f},
        {column(4), row3}, false);
  place(card, generatePlane(0.34f, 0.34f, 0.03f),
        UnlitMaterial{palette::white, mascotTexture(), std::nullopt}, {column(5), row3}, false);
  auto* ghost =
      place(card, generatePlane(0.34f, 0.34f, 0.03f),
            UnlitMaterial{palette::white, mascotTexture(), std::nullopt}, {column(6), row3}, false);
  ghost->setOpacity(0.5f);
  place(card, generateBox({0.3f, 0.2f, 0.06f}, 0.03f),
        LitMaterial{palette::green.withAlpha(0.5f), 0.5f, false}, {column(7), row3});

  // Row 4: text.
  const float row4 = -0.78f;
  const auto text = [&](std::string string, FontSpec font, float x, Color color) {
    auto label = ModelEntity::make(generateText(std::move(string), 0, font),
                                   UnlitMaterial{color, nullptr, std::nullopt});
    const BoundingBox bounds = meshBounds(label->mesh);
    label->setPosition({x, row4 - bounds.center().y, 0});
    card.addChild(std::move(label));
  };
  text("Small", {0.06f, 400, false}, column(0) - 0.1f, palette::black);
  text("Medium", {0.1f, 400, false}, column(0) + step * 0.55f, palette::black);
  text("Semibold", {0.1f, 600, false}, column(2) - 0.05f, palette::indigo);
  text("Bold 14", {0.14f, 700, false}, column(3) + step * 0.35f, palette::red);
  text("fn main() { 0O1lI }", {0.08f, 400, true}, column(5) - 0.2f, Color::hex(0x1C2738));
  text("\u2615 \U0001F916 \U0001F44D\U0001F3FD \U0001F1E9\U0001F1EA 1\uFE0F\u20E3 42",
       {0.1f, 400, false}, column(7) - 0.3f, palette::black);
}

std::optional<QSize> parseImageSize(const std::string& text) {
  if (text.empty()) return QSize(1800, 400);
  int width = 0;
  int height = 0;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &rest) != 2) return std::nullopt;
  if (width < 16 || height < 16 || width > 8192 || height > 8192) return std::nullopt;
  return QSize(width, height);
}

std::vector<std::unique_ptr<RobotEntity>> buildRobotSheet(Scene& scene, QSize size,
                                                          std::mt19937& random, double seconds) {
  addOfficeCameraAndLights(scene);
  Entity& sheet = *scene.addAnchor();
  const float width = kWorldViewHeight * static_cast<float>(size.width()) /
                      static_cast<float>(std::max(size.height(), 1));
  const char* types[] = {
      "main",        "Explore",         "Plan",         "code-reviewer", "builder",
      "test-runner", "general-purpose", "data-wrangler"};
  struct Column {
    AgentState state;
    std::optional<ToolKind> tool;
    WaitReason reason;
  };
  const Column columns[] = {{AgentState::thinking, std::nullopt, WaitReason::permission},
                            {AgentState::working, ToolKind::run, WaitReason::permission},
                            {AgentState::working, ToolKind::edit, WaitReason::permission},
                            {AgentState::working, ToolKind::phone, WaitReason::permission},
                            {AgentState::waiting, std::nullopt, WaitReason::permission},
                            {AgentState::waiting, std::nullopt, WaitReason::question},
                            {AgentState::idle, std::nullopt, WaitReason::permission},
                            {AgentState::done, std::nullopt, WaitReason::permission},
                            {AgentState::error, std::nullopt, WaitReason::permission}};
  const int rows = 9;  // eight types, then the extras
  const float pitchY = kWorldViewHeight / (static_cast<float>(rows) + 0.3f);
  const float pitchX = width / 9.6f;
  const float s = pitchY / 80;  // a robot with its banner fills a cell
  std::vector<std::unique_ptr<RobotEntity>> robots;
  std::vector<std::pair<RobotEntity*, AgentNode>> later;  // states applied once seated
  const auto cell = [&](int row, int column) {
    return glm::vec3(-width / 2 + pitchX * (static_cast<float>(column) + 0.8f),
                     kWorldViewHeight / 2 - pitchY * (static_cast<float>(row) + 0.75f), 0);
  };
  const auto make = [&](const AgentNode& agent, glm::vec3 at, bool decorative = false) {
    auto robot = std::make_unique<RobotEntity>(agent, s, decorative, random);
    robot->attachTo(sheet);
    robot->placeAt(at.x, at.y, at.z);
    robot->setTerritory(at.x - pitchX * 0.3f, at.x + pitchX * 0.3f, at.y - 0.001f, at.y + 0.001f);
    robots.push_back(std::move(robot));
    return robots.back().get();
  };
  for (int row = 0; row < 8; ++row) {
    for (int column = 0; column < 9; ++column) {
      AgentNode agent = AgentNode::make(row == 0 ? "main:s" : "a" + std::to_string(row), types[row],
                                        row == 0, {});
      RobotEntity* robot = make(agent, cell(row, column));
      robot->setBuildTarget(cell(row, column), std::nullopt);
      robot->setSeated(true, 0);
      agent.state = columns[column].state;
      agent.currentTool = columns[column].tool;
      agent.waitReason = columns[column].reason;
      later.emplace_back(robot, agent);
    }
  }
  // The extras: a lounger with its mug and a bubble, a sleeper and a receiver during a
  // compaction, a cheering robot and a decorative one.
  RobotEntity* lounger = make(AgentNode::make("lounge", "general-purpose", false, {}), cell(8, 0));
  lounger->setLounge(cell(8, 0), 0);
  RobotEntity* asleep = make(AgentNode::make("sleep", "main", true, {}), cell(8, 2));
  asleep->setBuildTarget(cell(8, 2), std::nullopt);
  asleep->setSeated(true, 0);
  RobotEntity* receiving = make(AgentNode::make("receive", "Plan", false, {}), cell(8, 3));
  receiving->setBuildTarget(cell(8, 3), std::nullopt);
  receiving->setSeated(true, 0);
  RobotEntity* cheering = make(AgentNode::make("cheer", "builder", false, {}), cell(8, 5));
  make(AgentNode::make("extra", "main", true, {}), cell(8, 7), true);

  // A fixed-step run: the robots sit down, then take their states.
  const float step = 1.0f / 60;
  int frame = 0;
  for (double t = 0; t < seconds; t += step, ++frame) {
    if (frame == 90) {
      for (auto& [robot, agent] : later) robot->update(agent);
      cheering->celebratePeer(cell(8, 4));
    }
    if (frame == 100) lounger->say("coffee?");
    if (frame >= 30) {
      asleep->poseAsleep();
      receiving->poseReceiving(0.6f);
    }
    for (auto& robot : robots) robot->tick(step);
    scene.update(step);
  }
  return robots;
}

bool buildGallery(const std::string& name, Scene& scene, QSize size) {
  if (name == "primitives") {
    buildPrimitivesCard(scene, size);
    return true;
  }
  return false;
}

int runGallery(const std::string& name, const std::string& out, const std::string& sizeText,
               unsigned seed, double seconds) {
  // The robot sheet is a tall grid of every type in every state.
  const auto size = parseImageSize(!sizeText.empty()  ? sizeText
                                   : name == "robots" ? "1800x1600"
                                   : name == "props"  ? "1800x900"
                                   : name == "desks"  ? "1800x600"
                                                      : "");
  if (!size) {
    std::fprintf(stderr, "--size must be WIDTHxHEIGHT, each 16 to 8192 (got %s)\n",
                 sizeText.c_str());
    return 2;
  }
  Scene scene;
  std::mt19937 random(seed);
  std::vector<std::unique_ptr<RobotEntity>> robots;
  std::vector<std::unique_ptr<SceneObject>> objects;
  if (buildSceneGallery(name, scene, *size, random, seconds < 0 ? 2.0 : seconds, objects)) {
  } else if (name == "robots") {
    robots = buildRobotSheet(scene, *size, random, seconds < 0 ? 2.6 : seconds);
  } else if (!buildGallery(name, scene, *size)) {
    std::fprintf(stderr, "unknown gallery '%s' (known: primitives, robots, desks, props, vacuum)\n",
                 name.c_str());
    return 2;
  }
  std::string error;
  auto renderer = OffscreenRenderer::create(&error);
  if (!renderer) {
    std::fprintf(stderr, "Cannot render: %s\n", error.c_str());
    return 1;
  }
  const QImage image = renderer->render(scene, *size);
  if (!image.save(QString::fromStdString(out), "PNG")) {
    std::fprintf(stderr, "Cannot write %s\n", out.c_str());
    return 1;
  }
  std::printf("Wrote %s (%dx%d)\n", out.c_str(), size->width(), size->height());
  return 0;
}

}  // namespace tallyloft
