#include "app/AppModel.h"

#include <gtest/gtest.h>

#include "app/Preferences.h"
#include "base/LoopScheduler.h"
#include "support/TestClient.h"

namespace tallyloft {
namespace {

using namespace std::chrono_literals;

TEST(AppModel, CountsEveryDecodedEventEvenOnesTheCrewIgnores) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  AppModel app(loop, std::nullopt);
  EXPECT_EQ(app.store().serverStatus(), "Starting\u2026");
  EXPECT_FALSE(app.store().serverRunning());
  app.start();
  app.start();
  EXPECT_TRUE(app.crew().reaperRunning());
  EXPECT_EQ(loop.pendingTimers(), 1u);  // one reaper, not two
  app.receive(*HookEvent::decode(R"({"hook_event_name":"Stop"})"));
  app.receive(*HookEvent::decode(R"({"hook_event_name":"Stop","session_id":"s"})"));
  EXPECT_EQ(app.store().eventCount(), 2);
  EXPECT_EQ(app.crew().sessions().size(), 1u);
  app.toggleBar();  // no panel yet: nothing happens
}

class FakeBar : public OfficeBar {
 public:
  void toggle() override { ++toggles; }
  int toggles = 0;
};

TEST(AppModel, ToggleReachesThePanelWhileItLives) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  AppModel app(loop, std::nullopt);
  auto bar = std::make_shared<FakeBar>();
  app.bar = bar;
  app.toggleBar();
  EXPECT_EQ(bar->toggles, 1);
  bar.reset();
  app.toggleBar();
}

TEST(AppModel, ReceivesPostsThroughItsServerOnTheMainLoop) {
  LoopScheduler loop;
  AppModel app(loop, 0);
  std::string status;
  app.store().onChange = [&] {
    status = app.store().serverStatus();
    if (app.store().eventCount() == 1 || !app.store().serverRunning()) loop.quit();
    if (app.store().serverRunning() && app.store().eventCount() == 0) {
      loop.background([&loop, port = app.server()->boundPort()] {
        test::exchange(
            port, test::postRequest(
                      R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":"Bash"})"));
      });
    }
  };
  const auto timeout = loop.after(5s, [&] { loop.quit(); });
  app.start();
  loop.run();
  loop.cancel(timeout);
  EXPECT_EQ(status, "Listening on 127.0.0.1:" + std::to_string(app.server()->boundPort()));
  EXPECT_EQ(app.store().eventCount(), 1);
  ASSERT_EQ(app.crew().sessions().size(), 1u);
  EXPECT_EQ(app.crew().sessions()[0].main.state, AgentState::working);
}

// Events that pile up while the main thread is busy, and one that comes after a quiet spell,
// are each taken once.
TEST(AppModel, TakesEveryEventOfABurstAndTheOneAfterAQuietSpell) {
  LoopScheduler loop;
  AppModel app(loop, 0);
  constexpr int kBurst = 200;
  const std::string body =
      R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":"Read"})";
  bool sent = false;
  bool sentLast = false;
  app.store().onChange = [&] {
    if (!app.store().serverRunning()) return loop.quit();
    if (!sent) {
      sent = true;
      const std::uint16_t port = app.server()->boundPort();
      for (int thread = 0; thread < 4; ++thread) {
        loop.background([port, body] {
          for (int i = 0; i < kBurst / 4; ++i) test::exchange(port, test::postRequest(body));
        });
      }
    }
    if (app.store().eventCount() == kBurst && !sentLast) {
      sentLast = true;
      loop.after(50ms, [&loop, &body, port = app.server()->boundPort()] {
        loop.background([port, body] { test::exchange(port, test::postRequest(body)); });
      });
    }
    if (app.store().eventCount() == kBurst + 1) loop.quit();
  };
  const auto timeout = loop.after(10s, [&] { loop.quit(); });
  app.start();
  loop.run();
  loop.cancel(timeout);
  EXPECT_EQ(app.store().eventCount(), kBurst + 1);
}

// Another program holds the port: the status says so, and the app goes on without a server.
TEST(AppModel, KeepsRunningWhenThePortIsTaken) {
  test::LoopbackListener other;
  LoopScheduler loop;
  AppModel app(loop, other.port());
  app.store().onChange = [&] {
    if (app.store().serverStatus() != "Starting\u2026") loop.quit();
  };
  const auto guard = loop.after(5s, [&] { loop.quit(); });
  app.start();
  loop.run();
  loop.cancel(guard);
  EXPECT_FALSE(app.store().serverRunning());
  EXPECT_EQ(app.store().serverStatus(), "Failed: Address already in use");
  app.receive(*HookEvent::decode(R"({"hook_event_name":"Stop","session_id":"s"})"));
  EXPECT_EQ(app.crew().sessions().size(), 1u);
}

TEST(Preferences, BarEdgeIsBottomUnlessTop) {
  EXPECT_EQ(barEdgeFrom("top"), BarEdge::top);
  EXPECT_EQ(barEdgeFrom("bottom"), BarEdge::bottom);
  EXPECT_EQ(barEdgeFrom("Top"), BarEdge::bottom);
  EXPECT_EQ(barEdgeFrom(std::nullopt), BarEdge::bottom);
}

}  // namespace
}  // namespace tallyloft
