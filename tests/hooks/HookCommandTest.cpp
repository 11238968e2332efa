#include "hooks/HookCommand.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "hooks/HookServer.h"
#include "support/TestClient.h"

namespace tallyloft {
namespace {

using namespace std::chrono_literals;

const std::string kPayload = R"({"session_id":"abc","hook_event_name":"UserPromptSubmit",
  "cwd":"/tmp/it's \"quoted\"","prompt":"echo $HOME `id` $(rm -rf /) 日本語 \\n"})";

struct CommandRun {
  int status = -1;
  std::chrono::milliseconds elapsed{};
};

// Runs the hook command as a CLI does: through the shell, the payload on standard input.
CommandRun runHookCommand(std::uint16_t port) {
  const auto started = std::chrono::steady_clock::now();
  // The terminal a CLI might run in; the others of the six stay unset.
  ::setenv("WINDOWID", "4194311", 1);
  ::setenv("TMUX", "/tmp/tmux-1000/default,2811,0", 1);
  ::setenv("TMUX_PANE", "%7", 1);
  for (const char* unset : {"KITTY_WINDOW_ID", "WEZTERM_PANE", "TERM_PROGRAM"}) ::unsetenv(unset);
  FILE* shell = ::popen(hookCommand(port).c_str(), "w");
  if (shell == nullptr) return {};
  std::fwrite(kPayload.data(), 1, kPayload.size(), shell);
  const int status = ::pclose(shell);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                started)};
}

TEST(HookCommand, IsTheFixedCommandLine) {
  EXPECT_EQ(
      hookCommand(),
      ": 'tallyloft';input=$(cat);printf '%s' \"$input\" | /usr/bin/curl -s -m1 -H "
      "'Expect:' -H 'Content-Type: application/json' -H \"X-Tallyloft-Pid: $PPID\" -H "
      "\"X-Tallyloft-Term: ${WINDOWID:+WINDOWID=$WINDOWID;}${TMUX:+TMUX=$TMUX;}"
      "${TMUX_PANE:+TMUX_PANE=$TMUX_PANE;}${KITTY_WINDOW_ID:+KITTY_WINDOW_ID=$KITTY_WINDOW_ID;}"
      "${WEZTERM_PANE:+WEZTERM_PANE=$WEZTERM_PANE;}${TERM_PROGRAM:+TERM_PROGRAM=$TERM_PROGRAM;}"
      "\" -X POST http://127.0.0.1:51789/event --data-binary @- >/dev/null 2>&1;exit 0");
}

TEST(HookCommand, DeliversExactlyOneEventToTheServer) {
  HookServer server(0);
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<HookEvent> events;
  bool listening = false;
  server.onStatus = [&](bool running, std::string) {
    std::lock_guard lock(mutex);
    listening = running;
    changed.notify_all();
  };
  server.onEvent = [&](HookEvent event) {
    std::lock_guard lock(mutex);
    events.push_back(std::move(event));
    changed.notify_all();
  };
  server.start();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 3s, [&] { return listening; }));
  }
  const CommandRun run = runHookCommand(server.boundPort());
  EXPECT_EQ(run.status, 0);
  std::unique_lock lock(mutex);
  changed.wait_for(lock, 2s, [&] { return !events.empty(); });
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].hookEventName, "UserPromptSubmit");
  EXPECT_EQ(events[0].cwd, "/tmp/it's \"quoted\"");
  EXPECT_EQ(events[0].prompt, "echo $HOME `id` $(rm -rf /) 日本語 \\n");
  // The shell that popen starts runs the hook; its parent, the CLI's stand-in, is this test.
  EXPECT_EQ(events[0].pid, ::getpid());
  TerminalHints expected;
  expected.windowId = "4194311";
  expected.tmux = "/tmp/tmux-1000/default,2811,0";
  expected.tmuxPane = "%7";
  EXPECT_EQ(events[0].terminal, expected);
}

TEST(HookCommand, EndsQuicklyAndSucceedsWhenTheAppIsNotThere) {
  std::uint16_t closedPort = 0;
  {
    test::LoopbackListener reserve;
    closedPort = reserve.port();
  }
  const CommandRun refused = runHookCommand(closedPort);
  EXPECT_EQ(refused.status, 0);
  EXPECT_LT(refused.elapsed, 1500ms);

  test::LoopbackListener silent;
  const CommandRun hanging = runHookCommand(silent.port());
  EXPECT_EQ(hanging.status, 0);
  EXPECT_LT(hanging.elapsed, 1500ms);
}

}  // namespace
}  // namespace tallyloft
