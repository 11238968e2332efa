#include "render/Renderer.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <tuple>

#include "base/LoopScheduler.h"
#include "cli/GalleryCommand.h"
#include "entities/DeskEntity.h"
#include "graph/OfficeRig.h"
#include "render/MeshGeometry.h"
#include "render/OffscreenRenderer.h"
#include "scene/CrewRealityController.h"
#include "support/GoldenImage.h"

namespace tallyloft {
namespace {

// One headless GL context for all the tests here (llvmpipe where there is no GPU).
OffscreenRenderer& gl() {
  static std::unique_ptr<OffscreenRenderer> renderer = [] {
    std::string error;
    auto made = OffscreenRenderer::create(&error);
    if (!made) ADD_FAILURE() << "no headless OpenGL: " << error;
    return made;
  }();
  if (!renderer) std::abort();
  return *renderer;
}

// The box of pixels whose alpha passes `threshold`.
QRect paintedArea(const QImage& image, int threshold = 24) {
  QRect area;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const uchar*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (row[x * 4 + 3] > threshold) area |= QRect(x, y, 1, 1);
    }
  }
  return area;
}

TEST(MeshGeometry, RoundedBoxesHaveOutwardUnitNormals) {
  for (float radius : {0.0f, 0.1f, 0.5f}) {
    const MeshGeometry mesh = buildMeshGeometry(generateBox({1, 0.6f, 0.4f}, radius));
    ASSERT_FALSE(mesh.indices.empty());
    for (const Vertex& vertex : mesh.vertices) {
      EXPECT_NEAR(glm::length(vertex.normal), 1, 1e-4);
      EXPECT_GT(glm::dot(vertex.normal, vertex.position), 0);
      EXPECT_LE(std::abs(vertex.position.x), 0.5f + 1e-5f);
    }
    // Every triangle winds counter-clockwise seen from outside.
    for (std::size_t i = 0; i < mesh.indices.size(); i += 3) {
      const glm::vec3 a = mesh.vertices[mesh.indices[i]].position;
      const glm::vec3 b = mesh.vertices[mesh.indices[i + 1]].position;
      const glm::vec3 c = mesh.vertices[mesh.indices[i + 2]].position;
      const glm::vec3 face = glm::cross(b - a, c - a);
      if (glm::length(face) < 1e-9f) continue;  // collapsed on a rounded corner
      EXPECT_GE(glm::dot(face, a + b + c), 0);
    }
  }
  const MeshGeometry plane = buildMeshGeometry(generateHorizontalPlane(2, 1, 0.2f));
  for (const Vertex& vertex : plane.vertices) EXPECT_EQ(vertex.normal, glm::vec3(0, 1, 0));
}

// The renderer culls the back faces of closed shapes: each of their triangles must wind
// counter-clockwise seen from the side its normals point to.
TEST(MeshGeometry, ClosedShapesWindTowardsTheirNormals) {
  // Counts triangles wound the wrong way, with each vertex placed as the vertex shader places a
  // shared mesh's: position × xyz + normal × w.
  const auto wrongWound = [](const MeshGeometry& mesh, glm::vec4 shape = glm::vec4(1, 1, 1, 0)) {
    int wrong = 0;
    const auto place = [&](const Vertex& v) {
      return v.position * glm::vec3(shape) + v.normal * shape.w;
    };
    for (std::size_t i = 0; i < mesh.indices.size(); i += 3) {
      const Vertex& a = mesh.vertices[mesh.indices[i]];
      const Vertex& b = mesh.vertices[mesh.indices[i + 1]];
      const Vertex& c = mesh.vertices[mesh.indices[i + 2]];
      const glm::vec3 face = glm::cross(place(b) - place(a), place(c) - place(a));
      if (glm::length(face) < 1e-7f) continue;  // a sliver at a pole or a collapsed corner
      if (glm::dot(face, a.normal + b.normal + c.normal) <= 0) ++wrong;
    }
    return wrong;
  };
  for (int segments : {0, 1, 3, 12}) {
    EXPECT_EQ(wrongWound(roundedBoxTemplate(segments), {0.3f, 0.2f, 0.1f, 0.05f}), 0);
    if (segments > 0) {
      EXPECT_EQ(wrongWound(sphereTemplate(segments), {0.2f, 0.2f, 0.2f, 0}), 0) << segments;
    }
  }
  EXPECT_EQ(wrongWound(buildMeshGeometry(generateSphere(0.3f))), 0);
  EXPECT_EQ(wrongWound(buildMeshGeometry(generateCone(0.5f, 0.2f))), 0);
  EXPECT_EQ(wrongWound(buildMeshGeometry(generateBox({1, 2, 3}, 0.2f))), 0);
}

// A rounded box is one closed surface: its corner, edge and face patches meet without a crack
// (every edge is shared by two triangles, once each way), and every vertex lies on the rounding.
TEST(MeshGeometry, RoundedBoxesAreClosedAndRound) {
  for (int segments : {0, 1, 2, 5}) {
    const MeshGeometry mesh = roundedBoxTemplate(segments);
    const glm::vec4 shape(0.3f, 0.2f, 0.1f, segments > 0 ? 0.05f : 0);
    // Vertices welded by where they lie.
    const auto key = [&](std::uint32_t index) {
      const Vertex& v = mesh.vertices[index];
      const glm::vec3 at = v.position * glm::vec3(shape) + v.normal * shape.w;
      return std::make_tuple(std::lround(at.x * 1e5), std::lround(at.y * 1e5),
                             std::lround(at.z * 1e5));
    };
    std::map<std::pair<decltype(key(0)), decltype(key(0))>, int> edges;
    for (std::size_t i = 0; i < mesh.indices.size(); i += 3) {
      for (int side = 0; side < 3; ++side) {
        ++edges[{key(mesh.indices[i + side]), key(mesh.indices[i + (side + 1) % 3])}];
      }
    }
    for (const auto& [edge, count] : edges) {
      EXPECT_EQ(count, 1) << segments;
      EXPECT_EQ(edges.count({edge.second, edge.first}), 1u) << segments << ": an open edge";
    }
    for (const Vertex& vertex : mesh.vertices) {
      EXPECT_NEAR(glm::length(vertex.normal), 1, 1e-5);
      if (segments > 0) {
        EXPECT_EQ(glm::abs(vertex.position), glm::vec3(1)) << "on the inner box's corner";
      }
    }
  }
  // The fewest triangles that round a box's quarter in one chord.
  EXPECT_EQ(roundedBoxTemplate(1).indices.size(), 3u * (8 + 12 * 2 + 6 * 2));
}

std::unique_ptr<Scene> officeScene() {
  auto scene = std::make_unique<Scene>();
  addOfficeCameraAndLights(*scene);
  return scene;
}

TEST(Renderer, SharesMeshesAndDrawsEachBatchOnce) {
  const auto office = officeScene();
  Scene& scene = *office;
  Entity* anchor = scene.addAnchor();
  for (int i = 0; i < 10; ++i) {
    auto* box = anchor->addChild(
        ModelEntity::make(generateBox(0.1f, 0.02f), LitMaterial{palette::blue, 0.5f, false}));
    box->setPosition({-0.9f + 0.2f * static_cast<float>(i), 0, 0});
  }
  anchor->addChild(ModelEntity::make(generateSphere(0.1f), LitMaterial{palette::red, 0.5f, false}));
  Renderer::Stats stats;
  gl().render(scene, {200, 100}, &stats);
  EXPECT_EQ(stats.drawCalls, 2);
  EXPECT_EQ(stats.instances, 11);
  const std::size_t meshes = gl().renderer().cachedMeshCount();
  gl().render(scene, {200, 100}, &stats);
  EXPECT_EQ(gl().renderer().cachedMeshCount(), meshes);  // nothing generated twice

  gl().renderer().setInstancing(false);
  gl().render(scene, {200, 100}, &stats);
  gl().renderer().setInstancing(true);
  EXPECT_EQ(stats.drawCalls, 11);
}

// Boxes and spheres of any size share one mesh per tessellation; tiny text is a plain bar; a box
// whose rounding would be under a pixel is drawn sharp.
TEST(Renderer, DrawsPartsOfEverySizeAndTinyTextTogether) {
  const auto office = officeScene();
  Scene& scene = *office;
  Entity* anchor = scene.addAnchor();
  for (int i = 0; i < 6; ++i) {
    const float size = 0.05f + 0.01f * static_cast<float>(i);
    addModel(*anchor, generateBox({size, size * 1.5f, size}, 0.02f),
             LitMaterial{palette::blue, 0.5f, false}, {-0.9f + 0.3f * static_cast<float>(i), 0, 0});
    addModel(*anchor, generateBox(size), LitMaterial{palette::green, 0.5f, false},
             {-0.9f + 0.3f * static_cast<float>(i), 0.3f, 0});
    addModel(*anchor, generateSphere(0.01f + 0.001f * static_cast<float>(i)),
             LitMaterial{palette::red, 0.5f, false},
             {-0.9f + 0.3f * static_cast<float>(i), -0.3f, 0});
    addModel(*anchor, generateText("line " + std::to_string(i), 0, {0.03f, 400, true}),
             unlit(palette::black), {-0.9f + 0.3f * static_cast<float>(i), 0.6f, 0});
  }
  Renderer::Stats stats;
  const QImage image = gl().render(scene, {400, 200}, &stats);
  EXPECT_EQ(stats.instances, 24);
  EXPECT_EQ(stats.drawCalls, 4);  // rounded boxes, sharp boxes, spheres, text bars
  auto* barely = addModel(*anchor, generateBox(0.05f, 0.004f),
                          LitMaterial{palette::green, 0.5f, false}, {0.6f, -0.6f, 0});
  gl().render(scene, {400, 200}, &stats);
  EXPECT_EQ(stats.drawCalls, 4) << "drawn with the sharp boxes";
  barely->removeFromParent();
  // Bars stand where the text would: a band of solid pixels near the lines' height.
  int dark = 0;
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < image.width(); ++x) dark += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
  }
  EXPECT_GT(dark, 6 * 10);
}

// Meshes that nothing draws any more are released: a resized room leaves no walls behind.
TEST(Renderer, ReleasesMeshesNothingDraws) {
  const auto office = officeScene();
  Scene& scene = *office;
  Entity* anchor = scene.addAnchor();
  auto* wall = addModel(*anchor, generatePlane(0.5f, 0.2f, 0.01f), unlit(palette::gray), {});
  gl().render(scene, {200, 100});
  const std::size_t before = gl().renderer().cachedMeshCount();
  for (int i = 1; i <= 40; ++i) {
    wall->mesh = generatePlane(0.5f + 0.01f * static_cast<float>(i), 0.2f, 0.01f);
    gl().render(scene, {200, 100});
  }
  EXPECT_GE(gl().renderer().cachedMeshCount(), before + 40);
  for (int frame = 0; frame < 500; ++frame) gl().render(scene, {200, 100});
  EXPECT_LE(gl().renderer().cachedMeshCount(), before);
}

// Small closed shapes and flat faces are lit once per vertex: they look as they do lit per pixel.
TEST(Renderer, SmallShapesLitPerVertexLookAsLitPerPixel) {
  const auto office = officeScene();
  Scene& scene = *office;
  Entity* anchor = scene.addAnchor();
  for (int i = 0; i < 8; ++i) {
    const float x = -0.85f + 0.24f * static_cast<float>(i);
    const Color color = i % 2 ? palette::blue : palette::orange;
    const bool metal = i % 3 == 0;
    addModel(*anchor, generateBox({0.08f, 0.1f, 0.06f}, 0.02f),
             LitMaterial{color, 0.2f + 0.1f * static_cast<float>(i), metal}, {x, 0.3f, 0});
    addModel(*anchor, generateSphere(0.04f), LitMaterial{color, 0.3f, metal}, {x, 0, 0});
    addModel(*anchor, generateBox(0.07f), LitMaterial{color, 0.6f, metal}, {x, -0.3f, 0})
        ->setOrientation(glm::angleAxis(0.6f, glm::normalize(glm::vec3(1, 1, 0))));
  }
  // Flat faces of any size: a wall seen from in front, a long bar seen from behind, a slab.
  addModel(*anchor, generatePlane(1.8f, 0.12f), LitMaterial{palette::gray, 0.5f, false},
           {0, -0.48f, -0.2f});
  addModel(*anchor, generatePlane(0.8f, 0.06f), LitMaterial{palette::teal, 0.3f, false},
           {-0.4f, 0.48f, 0})
      ->setOrientation(glm::angleAxis(glm::pi<float>(), glm::vec3(0, 1, 0)));
  addModel(*anchor, generateBox({0.9f, 0.08f, 0.3f}), LitMaterial{palette::brown, 0.4f, true},
           {0.45f, 0.48f, 0});
  const auto pixels = [&](float upTo) {
    gl().renderer().setVertexLightingUpTo(upTo);
    QImage image = gl().render(scene, {300, 150});
    gl().renderer().setVertexLightingUpTo(16);
    return image;
  };
  const QImage perPixel = pixels(0);
  const QImage perVertex = pixels(1000);
  ASSERT_EQ(perPixel.size(), perVertex.size());
  long long total = 0;
  int largest = 0;
  for (int y = 0; y < perPixel.height(); ++y) {
    for (int x = 0; x < perPixel.width(); ++x) {
      const QRgb a = perPixel.pixel(x, y);
      const QRgb b = perVertex.pixel(x, y);
      for (int d :
           {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b), qAlpha(a) - qAlpha(b)}) {
        total += std::abs(d);
        largest = std::max(largest, std::abs(d));
      }
    }
  }
  EXPECT_GT(largest, 0) << "the per-vertex path was taken";
  const QRect painted = paintedArea(perPixel);
  // Highlights on a few pixels shift a little; the colours as a whole do not.
  EXPECT_LT(static_cast<double>(total) / (painted.width() * painted.height() * 4), 1.0);
  EXPECT_EQ(paintedArea(perVertex), painted);
}

TEST(Renderer, OpacityMultipliesAndDisabledSubtreesVanish) {
  const auto office = officeScene();
  Scene& scene = *office;
  Entity* anchor = scene.addAnchor();
  auto* group = anchor->addChild(std::make_unique<Entity>());
  group->setOpacity(0.5f);
  auto* plane = group->addChild(
      ModelEntity::make(generatePlane(4, 4), UnlitMaterial{palette::white, nullptr, std::nullopt}));
  plane->setOpacity(0.5f);
  QImage image = gl().render(scene, {64, 64});
  EXPECT_NEAR(qAlpha(image.pixel(32, 32)), 64, 3);  // 0.25 of full

  group->setEnabled(false);
  image = gl().render(scene, {64, 64});
  EXPECT_EQ(qAlpha(image.pixel(32, 32)), 0);
  EXPECT_TRUE(paintedArea(image, 0).isEmpty());
}

TEST(Renderer, TextBoundsHoldThePixelsDrawn) {
  const auto office = officeScene();
  Scene& scene = *office;
  Entity* anchor = scene.addAnchor();
  auto* text =
      anchor->addChild(ModelEntity::make(generateText("Hxg Tally \u2615", 0, {0.3f, 700, false}),
                                         UnlitMaterial{palette::black, nullptr, std::nullopt}));
  text->setPosition({-0.8f, -0.1f, 0});
  const QSize size(400, 200);  // 2 world units high: 100 pixels per unit
  const QImage image = gl().render(scene, size);
  const QRect painted = paintedArea(image);
  ASSERT_FALSE(painted.isEmpty());
  const BoundingBox bounds = text->visualBounds(true, nullptr);
  const auto toPixelX = [&](float x) { return (x + 2.0f) * 100.0f; };
  const auto toPixelY = [&](float y) { return (1.0f - y) * 100.0f; };
  // Everything drawn lies within the bounds; the ink reaches close to their ends.
  EXPECT_GE(painted.left(), toPixelX(bounds.min.x) - 1);
  EXPECT_LE(painted.right(), toPixelX(bounds.max.x) + 1);
  EXPECT_GE(painted.top(), toPixelY(bounds.max.y) - 1);
  EXPECT_LE(painted.bottom(), toPixelY(bounds.min.y) + 1);
  EXPECT_LT(painted.left() - toPixelX(bounds.min.x), 6);
  EXPECT_LT(toPixelX(bounds.max.x) - painted.right(), 8);
}

// A desk's scrolling lines come back every few seconds: their text stays cached meanwhile.
TEST(Renderer, KeepsScrollingTextCached) {
  const auto office = officeScene();
  Scene& scene = *office;
  std::mt19937 random(1);
  DeskEntity desk(0.02f, random);
  desk.attachTo(*scene.addAnchor());
  desk.occupied = true;
  desk.setScreen("", AgentState::thinking, std::nullopt);
  std::size_t cached = 0;
  // By then every pool line has shown, and meshes of earlier tests have been released.
  for (int frame = 0; frame < 840; ++frame) {
    desk.tick(1.0f / 60);
    gl().render(scene, {32, 32});
    if (frame == 599) cached = gl().renderer().cachedMeshCount();
  }
  EXPECT_EQ(gl().renderer().cachedMeshCount(), cached);
  desk.root->removeFromParent().release();  // the scene goes first here; the desk must not touch it
}

// The test card against its reference picture, with room for rasteriser differences.
TEST(Renderer, PrimitivesCardMatchesItsGoldenImage) {
  const QSize size(900, 200);
  Scene scene;
  buildPrimitivesCard(scene, size);
  expectMatchesGolden(gl().render(scene, size), "primitives-900x200.png");
}

// Read back at once or through pixel buffers one frame behind, a frame is the same picture (the
// one render() gives, in the panel's byte order).
TEST(FrameReadback, BothPathsGiveTheSamePicture) {
  const QSize size(300, 120);
  Scene first;
  buildPrimitivesCard(first, size);
  const QImage expected =
      gl().render(first, size).convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const auto second = officeScene();
  const QImage other =
      gl().render(*second, size).convertToFormat(QImage::Format_ARGB32_Premultiplied);
  ASSERT_NE(expected, other);

  FrameReadback now(FrameReadback::Mode::synchronous);
  EXPECT_EQ(gl().renderThrough(now, first, size, false), expected);

  FrameReadback behind(FrameReadback::Mode::pixelBuffers);
  EXPECT_EQ(gl().renderThrough(behind, first, size, false), expected) << "nothing before it";
  EXPECT_EQ(gl().renderThrough(behind, *second, size, false), expected) << "one frame behind";
  EXPECT_EQ(gl().renderThrough(behind, *second, size, true), other) << "the latest, asked for";
  EXPECT_EQ(gl().renderThrough(behind, first, size, false), other);
  // A new size: no frame before it.
  const QSize larger(320, 120);
  EXPECT_EQ(gl().renderThrough(behind, first, larger, false),
            gl().render(first, larger).convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

// The still layer (walls, floors, furniture) is drawn once and copied under later frames; it is
// drawn again when the size changes or a room appears, and the picture is the one drawn without it.
// An office on virtual time with reduced motion (no sway), its sessions at work.
struct QuietOffice {
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew{loop};
  CrewRealityController office{crew, loop, {true, 3}};

  QuietOffice() { office.setViewSize(900, 200); }
  Scene& scene() { return office.scene(); }
  void post(const std::string& json) { crew.reduce(*HookEvent::decode(json, loop.now())); }
  void frames(int count) {
    for (int i = 0; i < count; ++i) {
      loop.advance(std::chrono::milliseconds(17));
      loop.runPending();
      office.scene().update(1.0 / 60);
    }
  }
  void session(const std::string& sid, int subagents = 0) {
    post(R"({"hook_event_name":"SessionStart","session_id":")" + sid + R"(","cwd":"/p/)" + sid +
         R"("})");
    for (int agent = 0; agent <= subagents; ++agent) {
      const std::string id =
          agent == 0 ? "" : R"(,"agent_id":")" + sid + std::to_string(agent) + "\"";
      post(R"({"hook_event_name":"PreToolUse","session_id":")" + sid + "\"" + id +
           R"(,"tool_name":"Bash","tool_input":{"command":"make"}})");
    }
    frames(120);  // everyone in, the signs dropped
  }
};

TEST(Renderer, TheStillLayerIsKeptUntilSomethingInItChanges) {
  QuietOffice office;
  const auto expectSameAsWithout = [&](QSize size, const char* when) {
    Renderer::Stats stats;
    const QImage kept = gl().render(office.scene(), size, &stats);
    EXPECT_FALSE(stats.stillLayerDrawn) << when;
    gl().renderer().setStillLayer(false);
    const QImage drawn = gl().render(office.scene(), size);
    gl().renderer().setStillLayer(true);
    EXPECT_EQ(kept, drawn) << when;
  };
  office.session("a");
  Renderer::Stats stats;
  gl().render(office.scene(), {450, 100}, &stats);
  EXPECT_TRUE(stats.stillLayerDrawn);
  expectSameAsWithout({450, 100}, "one room");
  gl().render(office.scene(), {500, 100}, &stats);
  EXPECT_TRUE(stats.stillLayerDrawn) << "a new size";
  expectSameAsWithout({500, 100}, "resized");
  office.session("b");
  gl().render(office.scene(), {500, 100}, &stats);
  EXPECT_TRUE(stats.stillLayerDrawn) << "a room appeared";
  expectSameAsWithout({500, 100}, "two rooms");
  // Supersampled, the layer is kept the same way.
  gl().setAntialiasing(Antialiasing::supersample);
  gl().render(office.scene(), {500, 100}, &stats);
  EXPECT_TRUE(stats.stillLayerDrawn) << "drawn without samples";
  expectSameAsWithout({500, 100}, "supersampled");
  gl().setAntialiasing(Antialiasing::multisample);
}

// Without a GPU the app supersamples instead: the picture is the multisampled one, drawn with the
// detail of the output size, not of the twice as large one it is drawn at.
TEST(Renderer, SupersamplingGivesTheMultisampledPicture) {
  QuietOffice office;
  office.session("a", 5);
  office.session("b", 2);
  const QSize size(600, 134);
  Renderer::Stats multisampled;
  const QImage expected = gl().render(office.scene(), size, &multisampled);
  gl().setAntialiasing(Antialiasing::supersample);
  Renderer::Stats supersampled;
  const QImage image = gl().render(office.scene(), size, &supersampled);
  gl().setAntialiasing(Antialiasing::multisample);
  ASSERT_EQ(image.size(), size);
  EXPECT_EQ(supersampled.vertices, multisampled.vertices);
  EXPECT_EQ(supersampled.drawCalls, multisampled.drawCalls);
  long long total = 0;
  for (int y = 0; y < size.height(); ++y) {
    for (int x = 0; x < size.width(); ++x) {
      const QRgb a = expected.pixel(x, y);
      const QRgb b = image.pixel(x, y);
      total += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
               std::abs(qBlue(a) - qBlue(b)) + std::abs(qAlpha(a) - qAlpha(b));
    }
  }
  EXPECT_LT(static_cast<double>(total) / (size.width() * size.height() * 4), 2.0);
  const QRect painted = paintedArea(expected);
  EXPECT_LE((paintedArea(image).topLeft() - painted.topLeft()).manhattanLength(), 2);
  EXPECT_LE((paintedArea(image).bottomRight() - painted.bottomRight()).manhattanLength(), 2);
}

}  // namespace
}  // namespace tallyloft
