#include "hooks/HookCommand.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
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
CommandRun runHookCommand(const HookTarget& target) {
  const auto started = std::chrono::steady_clock::now();
  // The terminal a CLI might run in; the others of the six stay unset.
  ::setenv("WINDOWID", "4194311", 1);
  ::setenv("TMUX", "/tmp/tmux-1000/default,2811,0", 1);
  ::setenv("TMUX_PANE", "%7", 1);
  for (const char* unset : {"KITTY_WINDOW_ID", "WEZTERM_PANE", "TERM_PROGRAM"}) ::unsetenv(unset);
  FILE* shell = ::popen(hookCommand(target).c_str(), "w");
  if (shell == nullptr) return {};
  std::fwrite(kPayload.data(), 1, kPayload.size(), shell);
  const int status = ::pclose(shell);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                started)};
}

const std::string kTerminal =
    "\"X-Tallyloft-Term: ${WINDOWID:+WINDOWID=$WINDOWID;}${TMUX:+TMUX=$TMUX;}"
    "${TMUX_PANE:+TMUX_PANE=$TMUX_PANE;}${KITTY_WINDOW_ID:+KITTY_WINDOW_ID=$KITTY_WINDOW_ID;}"
    "${WEZTERM_PANE:+WEZTERM_PANE=$WEZTERM_PANE;}${TERM_PROGRAM:+TERM_PROGRAM=$TERM_PROGRAM;}\"";

TEST(HookCommand, NamesItsSocketOrPortAndNeverASecret) {
  const HookTarget socket{.socket = "/run/user/1000/tallyloft/hook.sock"};
  EXPECT_EQ(hookCommand(socket),
            ": 'tallyloft';input=$(cat);printf '%s' \"$input\" | /usr/bin/curl -s -m1 "
            "--unix-socket '/run/user/1000/tallyloft/hook.sock' -H 'Expect:' -H 'Content-Type: "
            "application/json' -H \"X-Tallyloft-Pid: $PPID\" -H " +
                kTerminal +
                " -X POST http://localhost/event --data-binary @- >/dev/null 2>&1;exit 0");
  const HookTarget port{.port = 51789, .secretFile = "/home/dev/.config/tallyloft/hook-secret"};
  EXPECT_EQ(hookCommand(port),
            ": 'tallyloft';input=$(cat);printf '%s' \"$input\" | /usr/bin/curl -s -m1 "
            "-H @'/home/dev/.config/tallyloft/hook-secret' -H 'Expect:' -H 'Content-Type: "
            "application/json' -H \"X-Tallyloft-Pid: $PPID\" -H " +
                kTerminal +
                " -X POST http://127.0.0.1:51789/event --data-binary @- >/dev/null 2>&1;exit 0");
  // Read back, quotes and blanks in paths included.
  const HookTarget odd{.socket = "/home/o'neil/my run/hook.sock"};
  for (const HookTarget& each : {socket, port, odd})
    EXPECT_EQ(hookTargetOf(hookCommand(each)), each);
  // What an older version wrote, a relative path, or a command edited by hand is no target.
  const std::string older = hookCommand({.port = 51789});
  EXPECT_NE(older.find("http://127.0.0.1:51789/event"), std::string::npos);
  EXPECT_EQ(hookTargetOf(older), std::nullopt);
  EXPECT_EQ(hookTargetOf(hookCommand({.socket = "run/hook.sock"})), std::nullopt);
  EXPECT_EQ(hookTargetOf(hookCommand(socket) + " "), std::nullopt);
  EXPECT_EQ(hookTargetOf(hookCommand({.port = 0, .secretFile = "/s"})), std::nullopt);
}

TEST(HookCommand, DeliversExactlyOneEventToTheServer) {
  test::SocketFolder folder;
  HookServer server(HookListen{.socket = folder.socket()});
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<HookEvent> events;
  bool listening = false;
  server.onStatus = [&](HookServer::Status status) {
    std::lock_guard lock(mutex);
    listening = status.running;
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
  const CommandRun run = runHookCommand({.socket = folder.socket()});
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
  test::SocketFolder folder;
  const CommandRun missing = runHookCommand({.socket = folder.socket()});
  EXPECT_EQ(missing.status, 0);
  EXPECT_LT(missing.elapsed, 1500ms);

  // A socket whose server never takes the connection.
  const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, folder.socket().c_str());
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(silent, 4), 0);
  const CommandRun hanging = runHookCommand({.socket = folder.socket()});
  ::close(silent);
  EXPECT_EQ(hanging.status, 0);
  EXPECT_LT(hanging.elapsed, 1500ms);
}

// Another user who waits for the app to be down, at the old port and at every name the hooks
// post to, hears nothing of the hooks: the socket's folder is not theirs to enter.
TEST(HookCommand, AnotherUserCannotStandInForTheAppWhileItIsDown) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  test::SocketFolder folder;
  const std::filesystem::path socket = folder.socket();
  ::chmod(folder.path().parent_path().c_str(), 0755);  // the runtime folder's parent is open
  int ready[2];
  int heard[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(heard), 0);
  const std::string inside = (folder.path() / "x").string();
  const pid_t squatter = ::fork();
  ASSERT_GE(squatter, 0);
  if (squatter == 0) {
    // Only system calls from here on: the child of a test process.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    const int local = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    std::strcpy(at.sun_path, socket.c_str());
    const bool boundSocket = ::bind(local, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    const bool madeFile = ::open(inside.c_str(), O_CREAT | O_WRONLY, 0666) >= 0;
    const int tcp = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(tcp, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in port{};
    port.sin_family = AF_INET;
    port.sin_port = htons(HookServer::kPort);
    port.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool boundPort =
        ::bind(tcp, reinterpret_cast<sockaddr*>(&port), sizeof port) == 0 && ::listen(tcp, 8) == 0;
    if (boundSocket) ::listen(local, 8);
    const char state[3] = {boundSocket ? 'S' : '-', madeFile ? 'F' : '-', boundPort ? 'P' : '-'};
    if (::write(ready[1], state, 3) != 3) ::_exit(3);
    // Whatever connects within a second and a half: its bytes are counted.
    long bytes = 0;
    for (int round = 0; round < 15; ++round) {
      pollfd waits[2] = {{local, POLLIN, 0}, {tcp, POLLIN, 0}};
      if (::poll(waits, 2, 100) <= 0) continue;
      for (const pollfd& each : waits) {
        if ((each.revents & POLLIN) == 0) continue;
        const int peer = ::accept(each.fd, nullptr, nullptr);
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) bytes += got;
        ::close(peer);
      }
    }
    ::write(heard[1], &bytes, sizeof bytes);
    ::_exit(0);
  }
  char state[3] = {};
  ASSERT_EQ(::read(ready[0], state, 3), 3);
  EXPECT_EQ(state[0], '-') << "another user bound the hook socket's name";
  EXPECT_EQ(state[1], '-') << "another user wrote into the runtime folder";
  // The hooks run while the app is down (a CLI's session goes on).
  for (int i = 0; i < 3; ++i) EXPECT_EQ(runHookCommand({.socket = socket}).status, 0);
  long bytes = -1;
  ASSERT_EQ(::read(heard[0], &bytes, sizeof bytes), static_cast<ssize_t>(sizeof bytes));
  ::waitpid(squatter, nullptr, 0);
  EXPECT_EQ(bytes, 0);
  if (state[2] != 'P')
    std::printf("(port %u was taken; the squatter listened only on names)\n", HookServer::kPort);
  for (int fd : {ready[0], ready[1], heard[0], heard[1]}) ::close(fd);
}

}  // namespace
}  // namespace tallyloft
