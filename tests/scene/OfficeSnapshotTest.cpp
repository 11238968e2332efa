#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Recording.h"
#include "render/OffscreenRenderer.h"
#include "scene/CrewRealityController.h"
#include "support/GoldenImage.h"

namespace tallyloft {
namespace {

// An example replay, 14 s in, at the panel's real size: three rooms of the three CLIs with
// subagents, a permission wait and a question.
TEST(OfficeSnapshot, ThreeClisMatchTheirGoldenImage) {
  std::ifstream file(std::filesystem::path(TALLYLOFT_SOURCE_DIR) / "examples/three-clis.jsonl");
  ASSERT_TRUE(file);
  std::ostringstream errors;
  auto events = readRecording(file, errors);
  ASSERT_TRUE(events) << errors.str();
  std::string error;
  auto renderer = OffscreenRenderer::create(&error);
  ASSERT_TRUE(renderer) << error;

  RecordingPlayer player(std::move(*events));
  CrewRealityController office(player.app().crew(), player.loop(), {false, 1});
  office.setViewSize(900, 200);
  for (int i = 1; i <= 14 * 60; ++i) {
    player.playTo(i / 60.0);
    office.scene().update(1.0 / 60);
  }
  EXPECT_EQ(office.robots().size(), 9u);
  expectMatchesGolden(renderer->render(office.scene(), {900, 200}),
                      "office-three-clis-900x200.png");
}

}  // namespace
}  // namespace tallyloft
