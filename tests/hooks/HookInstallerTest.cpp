#include "hooks/HookInstaller.h"

#include <nlohmann/json.hpp>

#include "hooks/SettingsFile.h"
#include "support/TempHome.h"

namespace tallyloft {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::TempHome;

Json ourGroup(HookEngine engine) {
  return {
      {"matcher", HookInstaller::matcher(engine)},
      {"hooks", Json::array({Json{{"type", "command"}, {"command", HookInstaller::command()}}})}};
}

Json userGroup(const std::string& matcher, const std::string& command) {
  return {{"matcher", matcher},
          {"hooks", Json::array({Json{{"type", "command"}, {"command", command}}})}};
}

class HookInstallerTest : public TempHome {
 protected:
  Json load(HookEngine engine) const { return Json::parse(read(fileURL(engine))); }
  void save(HookEngine engine, const Json& settings) const {
    write(fileURL(engine), settings.dump());
  }
};

TEST_F(HookInstallerTest, InstallsEveryEventOfEachCliIntoAFreshFile) {
  for (HookEngine engine : kAllEngines) {
    SCOPED_TRACE(std::string(engineName(engine)));
    HookInstaller::install(engine);
    const Json hooks = load(engine).at("hooks");
    ASSERT_EQ(hooks.size(), HookInstaller::eventNames(engine).size());
    for (const std::string& name : HookInstaller::eventNames(engine)) {
      EXPECT_EQ(hooks.at(name), Json::array({ourGroup(engine)}));
    }
    EXPECT_TRUE(HookInstaller::isInstalled(engine));
  }
  EXPECT_EQ(HookInstaller::eventNames(HookEngine::claude).size(), 13u);
  EXPECT_EQ(HookInstaller::eventNames(HookEngine::codex).size(), 12u);
  EXPECT_EQ(HookInstaller::eventNames(HookEngine::gemini).size(), 7u);
}

TEST_F(HookInstallerTest, KeepsTheUsersGroupsAndReplacesOnlyOurs) {
  const HookEngine claude = HookEngine::claude;
  save(claude, {{"permissions", {{"allow", {"Bash(ls)"}}}},
                {"hooks",
                 {{"PreToolUse", {userGroup("Bash", "my-guard.sh")}},
                  {"Stop", {userGroup("", "say done"), userGroup("*", "x loftling y")}},
                  {"Notification",
                   {{{"matcher", ""},
                     {"hooks",
                      {{{"type", "command"}, {"command", "notify-send hi"}},
                       {{"type", "command"}, {"command", HookInstaller::command()}}}}}}},
                  {"OldEvent", {userGroup("*", "tallyloft old")}},
                  {"Weird", "not a list"}}}});
  HookInstaller::install(claude);
  const std::string once = read(fileURL(claude));
  HookInstaller::install(claude);
  EXPECT_EQ(read(fileURL(claude)), once);  // sorted, pretty output: a re-install changes nothing

  const Json settings = load(claude);
  EXPECT_EQ(settings.at("permissions"), (Json{{"allow", {"Bash(ls)"}}}));
  const Json& hooks = settings.at("hooks");
  EXPECT_EQ(hooks.at("PreToolUse"),
            Json::array({userGroup("Bash", "my-guard.sh"), ourGroup(claude)}));
  EXPECT_EQ(hooks.at("Stop"), Json::array({userGroup("", "say done"), ourGroup(claude)}));
  EXPECT_EQ(hooks.at("Notification"), Json::array({ourGroup(claude)}));  // mixed group was ours
  EXPECT_EQ(hooks.at("OldEvent"), Json::array({userGroup("*", "tallyloft old")}));
  EXPECT_EQ(hooks.at("Weird"), "not a list");

  ASSERT_TRUE(HookInstaller::uninstall(claude));
  const Json removed = load(claude).at("hooks");
  EXPECT_EQ(removed, (Json{{"PreToolUse", {userGroup("Bash", "my-guard.sh")}},
                           {"Stop", {userGroup("", "say done")}},
                           {"Weird", "not a list"}}));
  EXPECT_FALSE(HookInstaller::isInstalled());
}

TEST_F(HookInstallerTest, ReplacesAHooksValueOfAnotherShape) {
  save(HookEngine::gemini, {{"hooks", "oops"}, {"theme", "Catppuccin Frappé"}});
  HookInstaller::install(HookEngine::gemini);
  const Json settings = load(HookEngine::gemini);
  EXPECT_EQ(settings.at("theme"), "Catppuccin Frappé");
  EXPECT_EQ(settings.at("hooks").size(), 7u);
}

TEST_F(HookInstallerTest, NeverWritesAFileItCannotRead) {
  for (const char* text : {"[]", "{\"hooks\": ", "null"}) {
    write(fileURL(HookEngine::claude), text);
    EXPECT_ANY_THROW(HookInstaller::install(HookEngine::claude)) << text;
    EXPECT_ANY_THROW(HookInstaller::uninstall(HookEngine::claude)) << text;
    EXPECT_EQ(read(fileURL(HookEngine::claude)), text);
    EXPECT_FALSE(HookInstaller::isInstalled());
  }
  // Nothing but the untouched file: no backup, no temporary file.
  EXPECT_EQ(std::distance(fs::directory_iterator(home() / ".claude"), fs::directory_iterator()), 1);
}

TEST_F(HookInstallerTest, BulkInstallCoversThePresentClis) {
  std::vector<HookInstaller::Installed> installed;
  EXPECT_EQ(HookInstaller::install(&installed),
            "No supported CLI detected \u2014 install Claude Code, Codex, or Gemini first.");
  EXPECT_TRUE(installed.empty());
  EXPECT_TRUE(fs::is_empty(home()));

  fs::create_directories(home() / ".codex");
  EXPECT_EQ(HookInstaller::presentEngines(), std::vector<HookEngine>{HookEngine::codex});
  fs::create_directories(home() / ".claude");
  EXPECT_EQ(HookInstaller::install(&installed), "Installed \u2713  Claude Code & Codex");
  ASSERT_EQ(installed.size(), 2u);
  EXPECT_EQ(installed[1].engine, HookEngine::codex);
  // New files: there was nothing to back up, so no backup is named.
  EXPECT_EQ(installed[0].backup, std::nullopt);
  EXPECT_EQ(installed[1].backup, std::nullopt);
  EXPECT_TRUE(HookInstaller::isInstalled(HookEngine::codex));
  EXPECT_FALSE(fs::exists(fileURL(HookEngine::gemini)));

  installed.clear();
  HookInstaller::install(&installed);
  ASSERT_EQ(installed.size(), 2u);
  ASSERT_TRUE(installed[1].backup);
  EXPECT_EQ(read(*installed[1].backup), read(fileURL(HookEngine::codex)));
}

TEST_F(HookInstallerTest, PresenceFollowsSymbolicLinks) {
  fs::create_symlink(home() / "nowhere", home() / ".claude");  // dangling
  fs::create_directories(home() / "dotfiles" / "gemini");
  fs::create_symlink(home() / "dotfiles" / "gemini", home() / ".gemini");
  EXPECT_EQ(HookInstaller::presentEngines(), std::vector<HookEngine>{HookEngine::gemini});
  EXPECT_EQ(HookInstaller::install(), "Installed \u2713  Gemini CLI");
  EXPECT_TRUE(fs::exists(home() / "dotfiles" / "gemini" / "settings.json"));
}

// A group whose "hooks" list holds anything but objects has a shape we do not write: it is the
// user's, whatever its commands say, and is never removed.
TEST_F(HookInstallerTest, AGroupWithNonObjectEntriesIsNeverOurs) {
  const Json odd = {{"matcher", "*"},
                    {"hooks", Json::array({Json{{"type", "command"}, {"command", "tallyloft x"}},
                                           "echo user", 42})}};
  save(HookEngine::claude, {{"hooks", {{"Stop", {odd}}, {"Custom", {odd}}}}});
  EXPECT_FALSE(HookInstaller::isInstalled());
  HookInstaller::install(HookEngine::claude);
  EXPECT_EQ(load(HookEngine::claude).at("hooks").at("Stop"),
            Json::array({odd, ourGroup(HookEngine::claude)}));
  HookInstaller::uninstall(HookEngine::claude);
  EXPECT_EQ(load(HookEngine::claude).at("hooks"), (Json{{"Stop", {odd}}, {"Custom", {odd}}}));
}

TEST_F(HookInstallerTest, AnOlderInstallIsReportedAsNeedingReinstall) {
  // Gemini compares lifecycle matchers as exact strings: ".*" never ran its SessionStart.
  EXPECT_EQ(HookInstaller::matcher(HookEngine::gemini), "*");
  EXPECT_EQ(HookInstaller::matcher(HookEngine::codex), ".*");
  Json gemini = Json::object();
  for (const std::string& name : HookInstaller::eventNames(HookEngine::gemini)) {
    gemini[name] = Json::array({userGroup(".*", HookInstaller::command())});
  }
  gemini["BeforeTool"].insert(gemini["BeforeTool"].begin(), userGroup(".*", "my-logger"));
  save(HookEngine::gemini, {{"hooks", gemini}});
  EXPECT_TRUE(HookInstaller::isInstalled(HookEngine::gemini));
  EXPECT_TRUE(HookInstaller::needsReinstall(HookEngine::gemini));

  // Codex before it registered SessionEnd, PreCompact and PostCompact.
  Json codex = Json::object();
  for (const char* name : {"SessionStart", "UserPromptSubmit", "PreToolUse", "PostToolUse",
                           "PermissionRequest", "SubagentStart", "SubagentStop", "Stop"}) {
    codex[name] = Json::array({ourGroup(HookEngine::codex)});
  }
  save(HookEngine::codex, {{"hooks", codex}});
  EXPECT_TRUE(HookInstaller::needsReinstall(HookEngine::codex));

  for (HookEngine engine : {HookEngine::gemini, HookEngine::codex}) {
    HookInstaller::install(engine);
    EXPECT_FALSE(HookInstaller::needsReinstall(engine));
  }
  EXPECT_EQ(load(HookEngine::gemini).at("hooks").at("BeforeTool"),
            Json::array({userGroup(".*", "my-logger"), ourGroup(HookEngine::gemini)}));
  // Not installed at all is not "needs reinstall".
  EXPECT_FALSE(HookInstaller::needsReinstall(HookEngine::claude));
  // Only Codex asks for a review of new hooks before it runs them.
  EXPECT_NE(HookInstaller::installNotice(HookEngine::codex), "");
  EXPECT_EQ(HookInstaller::installNotice(HookEngine::claude), "");
  EXPECT_EQ(HookInstaller::installNotice(HookEngine::gemini), "");
}

// Hooks of the version before the socket posted to TCP port 51789: they show "reinstall", keep the
// app's old port open, and one install moves them, keeping the file's other hooks, mode and link.
TEST_F(HookInstallerTest, MovesHooksOffTheOldPortToTheSocket) {
  const std::string older = hookCommand({.port = 51789});
  Json hooks = Json::object();
  for (const std::string& name : HookInstaller::eventNames(HookEngine::claude)) {
    hooks[name] = Json::array({userGroup("*", older)});
  }
  hooks["Stop"].push_back(userGroup("", "say done"));
  const fs::path real = home() / "dotfiles" / "claude.json";
  write(real, Json{{"hooks", hooks}}.dump());
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_directories(home() / ".claude");
  fs::create_symlink(real, fileURL(HookEngine::claude));
  EXPECT_TRUE(HookInstaller::needsReinstall(HookEngine::claude));
  EXPECT_TRUE(HookInstaller::hasOlderHooks(HookEngine::claude));
  EXPECT_TRUE(HookInstaller::anyOlderHooks());

  const auto backup = HookInstaller::install(HookEngine::claude);
  ASSERT_TRUE(backup.has_value());
  EXPECT_NE(read(*backup).find("127.0.0.1:51789"), std::string::npos);
  EXPECT_FALSE(HookInstaller::needsReinstall(HookEngine::claude));
  EXPECT_FALSE(HookInstaller::anyOlderHooks());
  EXPECT_TRUE(fs::is_symlink(fileURL(HookEngine::claude)));
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const Json moved = load(HookEngine::claude).at("hooks");
  EXPECT_EQ(moved.at("Stop"),
            Json::array({userGroup("", "say done"), ourGroup(HookEngine::claude)}));
  EXPECT_EQ(read(real).find("127.0.0.1"), std::string::npos);
  EXPECT_EQ(hookTargetOf(HookInstaller::command()), HookInstaller::defaultTarget());

  // Hooks that post to another socket (one `tallyloft ssh` forwards) are current, not older.
  const HookTarget forwarded{.socket = "/home/dev/.tallyloft/hook.sock"};
  HookInstaller::install(HookEngine::gemini, forwarded);
  EXPECT_FALSE(HookInstaller::needsReinstall(HookEngine::gemini));
  EXPECT_NE(
      read(fileURL(HookEngine::gemini)).find("--unix-socket '/home/dev/.tallyloft/hook.sock'"),
      std::string::npos);
  const Json printed = Json::parse(HookInstaller::entries(HookEngine::gemini, forwarded));
  EXPECT_EQ(printed.at("hooks"), load(HookEngine::gemini).at("hooks"));
  // A socket no address can hold, or a relative one, is refused before anything is written.
  const std::string before = read(fileURL(HookEngine::gemini));
  for (const fs::path& bad : {fs::path("/" + std::string(120, 's')), fs::path("run/hook.sock")}) {
    EXPECT_THROW(HookInstaller::install(HookEngine::gemini, {.socket = bad}), HookInstallerError);
  }
  EXPECT_EQ(read(fileURL(HookEngine::gemini)), before);
}

TEST_F(HookInstallerTest, RemovalAndDetectionEdgeCases) {
  EXPECT_EQ(HookInstaller::uninstall(HookEngine::codex), std::nullopt);  // no file
  save(HookEngine::codex, Json::object());
  EXPECT_EQ(HookInstaller::uninstall(HookEngine::codex), std::nullopt);  // no hooks object
  EXPECT_FALSE(HookInstaller::isInstalled());

  save(HookEngine::gemini,
       {{"hooks",
         {{"BeforeTool", {userGroup(".*", "curl loftling")}}, {"disabled", Json::array()}}}});
  EXPECT_TRUE(HookInstaller::isInstalled());
  const auto backup = HookInstaller::uninstall(HookEngine::gemini);
  ASSERT_TRUE(backup);
  EXPECT_TRUE(fs::exists(*backup));
  EXPECT_EQ(load(HookEngine::gemini), (Json{{"hooks", {{"disabled", Json::array()}}}}));
}

// Every real settings file: install changes nothing but "hooks" and keeps the user's groups in
// order; removal gives back the original, with "hooks" present.
TEST_F(HookInstallerTest, RealSettingsFilesSurviveInstallAndRemoval) {
  const fs::path folder = fs::path(TALLYLOFT_REALDATA_DIR) / "settings";
  if (!fs::is_directory(folder)) GTEST_SKIP() << "no " << folder;
  int files = 0;
  for (HookEngine engine : kAllEngines) {
    for (const auto& entry : fs::directory_iterator(folder / engineName(engine))) {
      SCOPED_TRACE(entry.path().string());
      const std::string original = read(entry.path());
      write(fileURL(engine), original);
      const Json before = Json::parse(original);

      HookInstaller::install(engine);
      const Json installed = load(engine);
      for (const auto& [key, value] : before.items()) {
        if (key != "hooks") {
          EXPECT_EQ(installed.at(key), value) << key;
        }
      }
      if (before.contains("hooks") && before["hooks"].is_object()) {
        for (const auto& [name, groups] : before["hooks"].items()) {
          const Json& now = installed["hooks"][name];
          if (!groups.is_array()) {
            EXPECT_EQ(now, groups);
            continue;
          }
          ASSERT_GE(now.size(), groups.size());
          for (std::size_t i = 0; i < groups.size(); ++i) EXPECT_EQ(now[i], groups[i]);
        }
      }

      HookInstaller::uninstall(engine);
      Json expected = before;
      if (!expected.contains("hooks") || !expected["hooks"].is_object())
        expected["hooks"] = Json::object();
      EXPECT_EQ(load(engine), expected);
      ++files;
    }
  }
  EXPECT_GE(files, 20);
}

}  // namespace
}  // namespace tallyloft
