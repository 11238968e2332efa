#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "base/LoopScheduler.h"
#include "hooks/HookInstaller.h"
#include "support/TempHome.h"
#include "watch/ClaudeSessionsWatch.h"
#include "watch/HooksWatch.h"

namespace tallyloft {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

class WatchTest : public test::TempHome {
 protected:
  // Lets the watches see what the file system did, then the settle time pass.
  void settle() {
    loop.runPending();
    loop.advance(HooksWatch::kSettle + 10ms);
  }
  // Another program rewrites the file atomically, as editors and dotfile managers do.
  void rewrite(HookEngine engine, const Json& settings) {
    const std::filesystem::path path = fileURL(engine);
    write(path.string() + ".tmp", settings.dump(2));
    std::filesystem::rename(path.string() + ".tmp", path);
  }

  LoopScheduler loop{std::chrono::system_clock::now()};
};

TEST_F(WatchTest, HooksRemovedByAnotherProgramGiveAWarningUntilInstalledAgain) {
  std::filesystem::create_directories(home() / ".claude");
  std::filesystem::create_directories(home() / ".codex");
  write(fileURL(HookEngine::claude), R"({"model":"opus"})");
  HookInstaller::install(HookEngine::claude);
  HookInstaller::install(HookEngine::codex);
  std::vector<HookEngine> changes;
  HooksWatch watch(loop, [&](HookEngine engine) { changes.push_back(engine); });

  // Hooks kept while the user's part changes: nothing to say.
  Json claude = Json::parse(read(fileURL(HookEngine::claude)));
  claude["model"] = "sonnet";
  rewrite(HookEngine::claude, claude);
  settle();
  EXPECT_EQ(watch.warning(HookEngine::claude), "");

  // Some events lost, then all of them.
  claude["hooks"].erase("PreToolUse");
  rewrite(HookEngine::claude, claude);
  settle();
  EXPECT_EQ(watch.warning(HookEngine::claude),
            "Some Claude Code hooks were removed by another program");
  claude.erase("hooks");
  rewrite(HookEngine::claude, claude);
  settle();
  EXPECT_EQ(watch.warning(HookEngine::claude), "Claude Code hooks were removed by another program");
  EXPECT_EQ(changes, (std::vector<HookEngine>{HookEngine::claude, HookEngine::claude}));
  EXPECT_EQ(watch.warning(HookEngine::codex), "");

  // Our own install (it leaves a backup beside the file) clears it, with no click needed from
  // the watch's side.
  HookInstaller::install(HookEngine::claude);
  settle();
  EXPECT_EQ(watch.warning(HookEngine::claude), "");
  // Our own removal is no warning either, and neither is a file deleted that held none.
  HookInstaller::uninstall(HookEngine::codex);
  settle();
  EXPECT_EQ(watch.warning(HookEngine::codex), "");
  std::filesystem::remove(fileURL(HookEngine::codex));
  settle();
  EXPECT_EQ(watch.warning(HookEngine::codex), "");
  // The whole directory replaced: still watched.
  std::filesystem::remove_all(home() / ".claude");
  settle();
  EXPECT_EQ(watch.warning(HookEngine::claude), "Claude Code hooks were removed by another program");
  watch.expectCurrent(HookEngine::claude);
  EXPECT_EQ(watch.warning(HookEngine::claude), "");
  std::filesystem::create_directories(home() / ".claude");
  settle();
  HookInstaller::install(HookEngine::claude);
  settle();
  rewrite(HookEngine::claude, Json::object());
  settle();
  EXPECT_EQ(watch.warning(HookEngine::claude), "Claude Code hooks were removed by another program");
}

TEST_F(WatchTest, ClaudeSessionsFilesReachTheCrewOnceTheDirectoryAppears) {
  std::filesystem::create_directories(home() / ".claude");
  CrewModel crew(loop);
  ClaudeSessionsWatch watch(loop, crew, ClaudeSessionsWatch::defaultDirectory());
  char folder[4096];
  ASSERT_NE(::getcwd(folder, sizeof folder), nullptr);
  const Json start = {{"hook_event_name", "PreToolUse"},
                      {"session_id", "s"},
                      {"cwd", folder},
                      {"tool_name", "Bash"}};
  crew.reduce(*HookEvent::decode(start.dump(), loop.now()));
  // This test's own process stands in for the CLI: the file names it.
  const auto file = [&](const char* status, int afterMs) {
    const auto updated =
        std::chrono::duration_cast<std::chrono::milliseconds>(loop.now().time_since_epoch()) +
        std::chrono::milliseconds(afterMs);
    return Json{
        {"pid", ::getpid()}, {"sessionId", "s"},
        {"cwd", folder},     {"procStart", std::to_string(*LocalProcesses::startTime(::getpid()))},
        {"status", status},  {"statusUpdatedAt", updated.count()}}
        .dump();
  };
  const std::filesystem::path path =
      ClaudeSessionsWatch::defaultDirectory() / (std::to_string(::getpid()) + ".json");
  write(path, file("busy", 10));
  loop.runPending();
  EXPECT_EQ(crew.sessions().at(0).process, ProcessStatus::alive);
  EXPECT_EQ(crew.sessions().at(0).main.state, AgentState::working);
  write(path, "{\"pid\":");  // half written
  loop.runPending();
  write(path, file("idle", 90));
  loop.runPending();
  EXPECT_EQ(crew.sessions().at(0).main.state, AgentState::idle);
  // Deleted while the process lives (it cannot be gone: it is us): the session stays.
  std::filesystem::remove(path);
  loop.runPending();
  EXPECT_FALSE(crew.sessions().at(0).leaving);
}

}  // namespace
}  // namespace tallyloft
