#include "app/AppModel.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "app/Preferences.h"
#include "base/LoopScheduler.h"
#include "hooks/HookInstaller.h"
#include "hooks/HookSecret.h"
#include "support/TempHome.h"
#include "support/TestClient.h"

namespace tallyloft {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

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
  test::SocketFolder folder;
  AppModel app(loop, HookListen{.socket = folder.socket()});
  const LocalAddress address = LocalAddress::unixSocket(folder.socket());
  std::string status;
  app.store().onChange = [&] {
    status = app.store().serverStatus();
    if (app.store().eventCount() == 1 || !app.store().serverRunning()) loop.quit();
    if (app.store().serverRunning() && app.store().eventCount() == 0) {
      loop.background([address] {
        test::exchange(
            address,
            test::postRequest(
                R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":"Bash"})"));
      });
    }
  };
  const auto timeout = loop.after(5s, [&] { loop.quit(); });
  app.start();
  loop.run();
  loop.cancel(timeout);
  EXPECT_EQ(status, "Listening on " + folder.socket().string());
  EXPECT_EQ(app.store().eventCount(), 1);
  ASSERT_EQ(app.crew().sessions().size(), 1u);
  EXPECT_EQ(app.crew().sessions()[0].main.state, AgentState::working);
}

// Events that pile up while the main thread is busy, and one that comes after a quiet spell,
// are each taken once.
TEST(AppModel, TakesEveryEventOfABurstAndTheOneAfterAQuietSpell) {
  LoopScheduler loop;
  test::SocketFolder folder;
  AppModel app(loop, HookListen{.socket = folder.socket()});
  const LocalAddress address = LocalAddress::unixSocket(folder.socket());
  constexpr int kBurst = 200;
  const std::string body =
      R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":"Read"})";
  bool sent = false;
  bool sentLast = false;
  app.store().onChange = [&] {
    if (!app.store().serverRunning()) return loop.quit();
    if (!sent) {
      sent = true;
      for (int thread = 0; thread < 4; ++thread) {
        loop.background([address, body] {
          for (int i = 0; i < kBurst / 4; ++i) test::exchange(address, test::postRequest(body));
        });
      }
    }
    if (app.store().eventCount() == kBurst && !sentLast) {
      sentLast = true;
      loop.after(50ms, [&loop, &body, address] {
        loop.background([address, body] { test::exchange(address, test::postRequest(body)); });
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

// Hooks of the version before the socket post to port 51789: the app serves it, without a secret,
// until they are updated and the sessions that began before have ended; then only the socket, or
// the port under the secret when the user asks for it.
class AppModelPort : public test::TempHome {};

TEST_F(AppModelPort, ServesOlderHooksUntilTheyAndTheirSessionsAreGone) {
  Json hooks = Json::object();
  for (const std::string& name : HookInstaller::eventNames(HookEngine::claude)) {
    hooks[name] = Json::array(
        {{{"matcher", "*"},
          {"hooks", {{{"type", "command"}, {"command", hookCommand({.port = 51789})}}}}}});
  }
  write(fileURL(HookEngine::claude), Json{{"hooks", hooks}}.dump());
  LoopScheduler loop{Scheduler::TimePoint{}};
  test::SocketFolder folder;
  AppModel app(loop, HookListen{.socket = folder.socket()});
  int told = 0;
  app.onPortChoice = [&] { ++told; };
  app.start();
  ASSERT_FALSE(app.watchLocalMachine(folder.path() / "status.sock"));
  // The server's reports come from its thread: run what they post until `done`.
  const auto until = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 300 && !done(); ++i) {
      loop.runPending();
      std::this_thread::sleep_for(10ms);
    }
    return done();
  };
  const auto mentionsThePort = [&] {
    return app.store().serverStatus().find("51789") != std::string::npos;
  };
  app.followPortChoice(false);
  EXPECT_TRUE(app.servingOlderHooks());
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(until(mentionsThePort)) << app.store().serverStatus();
  // What an older hook posts is taken there, with no secret; unless 51789 is busy on this machine.
  const bool portFree = app.store().serverPort() == HookServer::kPort;
  if (portFree) {
    loop.background([] {
      test::exchange(
          LocalAddress::tcp(HookServer::kPort),
          test::postRequest(R"({"hook_event_name":"SessionStart","session_id":"before"})"));
    });
    EXPECT_TRUE(until([&] { return app.crew().sessions().size() == 1; }));
  } else {
    app.receive(*HookEvent::decode(R"({"hook_event_name":"SessionStart","session_id":"before"})"));
  }

  // Updated: the session that began before may still post the old way.
  HookInstaller::install(HookEngine::claude);
  EXPECT_TRUE(until([&] {
    loop.advance(100ms);
    return app.crew().sessions().size() == 1 && !HookInstaller::anyOlderHooks();
  }));
  loop.advance(HooksWatch::kSettle * 2);
  EXPECT_TRUE(app.servingOlderHooks());
  app.receive(*HookEvent::decode(R"({"hook_event_name":"SessionEnd","session_id":"before"})"));
  loop.advance(CrewModel::departureStep * (CrewModel::departureSteps + 5));
  EXPECT_TRUE(app.crew().sessions().empty());
  EXPECT_TRUE(until([&] { return !app.servingOlderHooks() && !mentionsThePort(); }))
      << app.store().serverStatus();
  EXPECT_EQ(app.store().serverStatus(), "Listening on " + folder.socket().string());
  EXPECT_EQ(told, 2);

  // The user's choice: the port under the secret, which is made on the way.
  app.followPortChoice(true);
  EXPECT_TRUE(until(mentionsThePort));
  EXPECT_FALSE(app.servingOlderHooks());
  EXPECT_TRUE(std::filesystem::exists(HookSecret::path()));
  if (app.store().serverPort() == HookServer::kPort) {
    EXPECT_EQ(test::exchange(LocalAddress::tcp(HookServer::kPort),
                             test::postRequest(R"({"hook_event_name":"Stop","session_id":"x"})")),
              std::string(HookServer::kUnauthorized));
  }
}

// Another program holds the port: the status says so, and the app goes on without a server.
TEST(AppModel, KeepsRunningWhenThePortIsTaken) {
  test::LoopbackListener other;
  LoopScheduler loop;
  AppModel app(loop, HookListen{.port = other.port()});
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
