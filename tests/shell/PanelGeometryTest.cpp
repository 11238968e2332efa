#include "shell/PanelGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

#include "shell/AppDelegate.h"

namespace tallyloft {
namespace {

TEST(PanelGeometry, OpensWhereItWasLeftWithinTheScreen) {
  const QRectF screen(0, 0, 1440, 900);
  // First launch: 864 × 192, centred.
  EXPECT_EQ(panel::savedFrame(std::nullopt, screen, {screen}), QRectF(288, 354, 864, 192));
  // A stored width of 2000 on a screen 800 high: 4.5 × 320 = 1440.
  const QRectF low(0, 0, 1600, 800);
  EXPECT_DOUBLE_EQ(panel::savedFrame(QString("{{10, 20}, {2000, 444}}"), low, {low}).width(), 1440);
  // 300 becomes the minimum 360; 60 is ignored and the default width is used.
  EXPECT_DOUBLE_EQ(panel::savedFrame(QString("{{100, 100}, {300, 66}}"), screen, {screen}).width(),
                   360);
  EXPECT_EQ(panel::savedFrame(QString("{{100, 100}, {60, 13}}"), screen, {screen}),
            QRectF(288, 354, 864, 192));
  // On a monitor that has gone: bottom-centred, 6 above the bottom of the visible area.
  EXPECT_EQ(panel::savedFrame(QString("{{3000, 100}, {900, 200}}"), screen, {screen}),
            QRectF(270, 900 - 6 - 200, 900, 200));
  // Kept where it was when enough of it shows.
  EXPECT_EQ(panel::savedFrame(QString("{{100,500},{720,160}}"), screen, {screen}),
            QRectF(100, 500, 720, 160));
}

TEST(PanelGeometry, StoredFramesAreCheckedBeforeUse) {
  EXPECT_EQ(panel::parseFrame("{{1, 2}, {300, 4}}"), QRectF(1, 2, 300, 4));
  EXPECT_EQ(panel::parseFrame(panel::formatFrame(QRectF(1.5, -2, 900, 200))),
            QRectF(1.5, -2, 900, 200));
  for (const char* bad :
       {"", "garbage", "{{nan, 0}, {900, 200}}", "{{0, 0}, {inf, 200}}", "{{0, 0}, {1e9, 200}}",
        "{{0, 0}, {900, -5}}", "{{0,0},{80,20}}", "{{0, 0}, {900}}"}) {
    EXPECT_EQ(panel::parseFrame(bad), std::nullopt) << bad;
  }
  // A tiny screen: the largest size is never below the smallest.
  const QSizeF largest = panel::maximumSize(QRectF(0, 0, 800, 150));
  EXPECT_GE(largest.width(), panel::kMinWidth);
  EXPECT_GE(largest.height(), panel::kMinHeight);
}

TEST(PanelGeometry, SideDragsKeepTheOtherSideAndTheShape) {
  const QRectF start(500, 300, 900, 200);
  const QRectF left = panel::dragSide(start, true, -100, 360, 1440);
  EXPECT_EQ(left, QRectF(400, 300, 1000, 1000 / 4.5));
  EXPECT_DOUBLE_EQ(left.right(), start.right());
  EXPECT_EQ(panel::dragSide(start, false, 1000, 360, 1440).width(), 1440);
  EXPECT_EQ(panel::dragSide(start, false, -1000, 360, 1440), QRectF(500, 300, 360, 80));
}

TEST(PanelGeometry, TheLoupeShowsWhatIsUnderTheCursor) {
  // The centre of a 900 × 200 office.
  const QRectF centre = panel::loupeSource({450, 100}, {900, 200});
  EXPECT_NEAR(centre.x(), 0.478, 5e-4);
  EXPECT_NEAR(centre.y(), 0.401, 5e-4);
  EXPECT_NEAR(centre.width(), 0.044, 5e-4);
  EXPECT_NEAR(centre.height(), 0.198, 5e-4);
  // A quarter from the top: the source is in the upper half of the picture.
  const QRectF high = panel::loupeSource({450, 50}, {900, 200});
  EXPECT_NEAR(high.y(), 0.25 - 0.099, 5e-4);
}

TEST(LaunchPlan, BarWhenHookedOnboardingUnlessDoneAndHooked) {
  EXPECT_FALSE(planLaunch(false, false).showBar);
  EXPECT_TRUE(planLaunch(false, false).showOnboarding);
  EXPECT_TRUE(planLaunch(true, false).showBar);
  EXPECT_TRUE(planLaunch(true, false).showOnboarding);
  EXPECT_TRUE(planLaunch(true, true).showBar);
  EXPECT_FALSE(planLaunch(true, true).showOnboarding);
  EXPECT_FALSE(planLaunch(false, true).showBar);
  EXPECT_TRUE(planLaunch(false, true).showOnboarding);
}

}  // namespace
}  // namespace tallyloft
