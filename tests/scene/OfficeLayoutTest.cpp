#include <gtest/gtest.h>

#include <cmath>

#include "scene/OfficeLayout.h"

namespace tallyloft {
namespace {

TEST(OfficeLayout, RowsSplitAndScale) {
  EXPECT_EQ(splitRows(10, 3, 216, 156), (std::vector<int>{4, 3, 3}));
  EXPECT_EQ(splitRows(0, 1, 100, 100), (std::vector<int>{1}));
  EXPECT_EQ(splitRows(7, 2, 100, 100), (std::vector<int>{4, 3}));

  // One desk in a wide room: one row, full scale.
  const RoomRows one = layoutRows(1, 0, 600);
  ASSERT_EQ(one.rows.size(), 1u);
  EXPECT_FLOAT_EQ(one.frontW, 432);
  EXPECT_FLOAT_EQ(one.rows[0].pitch, 432);
  EXPECT_FLOAT_EQ(one.base, 1.0f);

  // Ten desks in 300: three rows of 4, 3 and 3 win, and the scale is raised to its floor.
  const RoomRows ten = layoutRows(10, 300, 300);
  ASSERT_EQ(ten.rows.size(), 3u);
  EXPECT_EQ(ten.rows[0].count, 4);
  EXPECT_EQ(ten.rows[1].count, 3);
  EXPECT_EQ(ten.rows[2].count, 3);
  EXPECT_EQ(ten.rows[1].firstSlot, 4);
  EXPECT_FLOAT_EQ(ten.base, 0.45f);
  EXPECT_FLOAT_EQ(ten.rows[0].x0, 300 + 30 + (216 - 54 * 3) / 2.0f);
  EXPECT_EQ(ten.place(0), (std::pair<int, int>{0, 0}));
  EXPECT_EQ(ten.place(5), (std::pair<int, int>{1, 1}));
  EXPECT_EQ(ten.place(9), (std::pair<int, int>{2, 2}));

  // Two desks where one row and two rows score the same (0.62): one row stays.
  EXPECT_EQ(layoutRows(2, 0, 213.5f).rows.size(), 1u);
  EXPECT_EQ(layoutRows(2, 0, 100).rows.size(), 2u);
}

TEST(OfficeLayout, AClickFindsTheRoomUnderIt) {
  EXPECT_EQ(roomAt(0.5, 0), -1);
  EXPECT_EQ(roomAt(0.0, 1), 0);
  EXPECT_EQ(roomAt(1.0, 1), 0);
  // Three rooms in a 900-wide panel, and in a 1800-wide one: the same thirds.
  for (double width : {900.0, 1800.0}) {
    EXPECT_EQ(roomAt(10 / width, 3), 0);
    EXPECT_EQ(roomAt((width / 3 - 1) / width, 3), 0);
    EXPECT_EQ(roomAt((width / 3 + 1) / width, 3), 1);
    EXPECT_EQ(roomAt((width - 1) / width, 3), 2);
  }
  EXPECT_EQ(roomAt(-0.2, 4), 0);  // just outside the view: the nearest room
  EXPECT_EQ(roomAt(1.5, 4), 3);
  EXPECT_EQ(roomAt(std::nan(""), 4), -1);
}

TEST(OfficeLayout, JitterHueAndPiles) {
  for (const char* id : {"", "main:abc", "a-very-long-agent-id-0123456789"}) {
    for (std::uint64_t salt : {0u, 1u, 59u}) {
      const float j = jitter(id, salt);
      EXPECT_GE(j, -1.0f);
      EXPECT_LE(j, 1.0f);
      EXPECT_EQ(j, jitter(id, salt));
    }
  }
  EXPECT_NE(jitter("abc", 1), jitter("abc", 2));
  // Unsalted, the hash is 64-bit FNV-1a: its published values for "a" (0xaf63dc4c8601ec8c) and
  // "foobar" (0x85944171f73967e8) give these offsets and hues (196° and 168°).
  EXPECT_FLOAT_EQ(jitter("a", 0), 406 / 1000.0f - 1);
  EXPECT_FLOAT_EQ(jitter("foobar", 0), 1587 / 1000.0f - 1);
  const Color azure = sessionHue("a");
  EXPECT_NEAR(azure.r, 0.25f, 1e-5);
  EXPECT_NEAR(azure.g, 0.8f, 1e-5);
  EXPECT_NEAR(azure.b, 1, 1e-5);
  const Color teal = sessionHue("foobar");
  EXPECT_NEAR(teal.r, 0.25f, 1e-5);
  EXPECT_NEAR(teal.g, 1, 1e-5);
  EXPECT_NEAR(teal.b, 0.85f, 1e-5);
  // An empty id is amber: 43° at saturation 0.75 and full brightness.
  const Color amber = sessionHue("");
  EXPECT_FLOAT_EQ(amber.r, 1);
  EXPECT_NEAR(amber.g, 1 - 0.75f * (1 - 43.0f / 60), 1e-5);
  EXPECT_FLOAT_EQ(amber.b, 0.25f);

  EXPECT_EQ(paperPiles(5, 30), 2);
  EXPECT_EQ(paperPiles(0, 30), 0);
  EXPECT_EQ(paperPiles(40, 40), 18);
  EXPECT_EQ(paperPiles(1, 14), 1);
  EXPECT_EQ(paperPiles(14, 14), 12);
  EXPECT_EQ(paperPiles(100, 0), 12);
}

TEST(OfficeLayout, DeskTexts) {
  AgentNode agent = AgentNode::make("a", "Explore", false, {});
  const auto text = [&](AgentState state, std::optional<ToolKind> tool,
                        std::optional<std::string> target) {
    agent.state = state;
    agent.currentTool = tool;
    agent.currentTarget = std::move(target);
    return deskText(agent);
  };
  EXPECT_EQ(text(AgentState::thinking, std::nullopt, std::nullopt), "Thinking…");
  EXPECT_EQ(text(AgentState::working, ToolKind::edit, "/src/app/Main.cpp"), "Editing Main.cpp");
  EXPECT_EQ(text(AgentState::working, ToolKind::edit, "/src/app/"), "Editing /src/app/");
  EXPECT_EQ(text(AgentState::working, ToolKind::read, std::nullopt), "Reading a file");
  EXPECT_EQ(text(AgentState::working, ToolKind::search, "TODO"), "grep \"TODO\"");
  EXPECT_EQ(text(AgentState::working, ToolKind::search, std::nullopt), "Searching");
  EXPECT_EQ(text(AgentState::working, ToolKind::run, "npm test -- --watch"), "$ npm");
  EXPECT_EQ(text(AgentState::working, ToolKind::run, std::nullopt), "$ command");
  EXPECT_EQ(text(AgentState::working, ToolKind::phone, "github"), "☎ github");
  EXPECT_EQ(text(AgentState::working, ToolKind::phone, std::nullopt), "☎ vendor");
  EXPECT_EQ(text(AgentState::working, ToolKind::spawn, "x"), "Delegating");
  EXPECT_EQ(text(AgentState::working, std::nullopt, std::nullopt), "Working");
  agent.waitReason = WaitReason::question;
  EXPECT_EQ(text(AgentState::waiting, std::nullopt, std::nullopt), "Has a question");
  agent.waitReason = WaitReason::permission;
  EXPECT_EQ(text(AgentState::waiting, std::nullopt, std::nullopt), "Needs permission");
  EXPECT_EQ(text(AgentState::done, std::nullopt, std::nullopt), "Done ✓");
}

}  // namespace
}  // namespace tallyloft
