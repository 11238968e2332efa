#include "hooks/HookServer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "support/ChildProcess.h"
#include "support/FailingAllocations.h"
#include "support/TestClient.h"

namespace tallyloft {
namespace {

using namespace std::chrono_literals;
using test::exchange;
using test::postRequest;
using test::TestClient;

const std::string kResponse(HookServer::kResponse);
const std::string kEvent = R"({"hook_event_name":"PreToolUse","session_id":"s1",
  "tool_name":"Bash","tool_input":{"command":"make test"}})";

using Status = std::pair<bool, std::string>;

// A server on a socket in a folder of its own (or as `listen` says) whose callbacks land in
// thread-safe lists.
class RunningServer {
 public:
  explicit RunningServer(HookServer::Limits limits = {},
                         std::optional<HookListen> listen = std::nullopt)
      : server_(listen.value_or(HookListen{.socket = folder_.socket()}), limits) {
    server_.onEvent = [this](HookEvent event) {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
      changed_.notify_all();
    };
    server_.onStatus = [this](HookServer::Status status) {
      std::lock_guard lock(mutex_);
      statuses_.emplace_back(status.running, std::move(status.text));
      changed_.notify_all();
    };
    server_.start();
    waitForStatus(1);
  }

  HookServer& server() { return server_; }
  const test::SocketFolder& folder() const { return folder_; }
  // Where hooks reach it: its socket, or its port when it has no socket.
  LocalAddress address() const {
    if (!server_.socketPath().empty()) return LocalAddress::unixSocket(server_.socketPath());
    return LocalAddress::tcp(server_.boundPort());
  }
  LocalAddress tcp() const { return LocalAddress::tcp(server_.boundPort()); }

  std::vector<HookEvent> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<Status> waitForStatus(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 3s, [&] { return statuses_.size() >= count; });
    return statuses_;
  }
  // Waits until the server holds `count` open connections.
  bool waitForConnections(std::size_t count) {
    for (int i = 0; i < 300; ++i) {
      if (server_.openConnections() == count) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<HookEvent> events_;
  std::vector<Status> statuses_;
  test::SocketFolder folder_;
  HookServer server_;  // last: stopped before the lists go
};

// What a server that is not kept running reports first.
Status firstStatus(HookListen listen) {
  HookServer server(std::move(listen));
  std::mutex mutex;
  std::condition_variable done;
  std::optional<Status> status;
  server.onStatus = [&](HookServer::Status each) {
    std::lock_guard lock(mutex);
    if (!status) status.emplace(each.running, std::move(each.text));
    done.notify_all();
  };
  server.start();
  std::unique_lock lock(mutex);
  done.wait_for(lock, 3s, [&] { return status.has_value(); });
  return status.value_or(Status{false, "no status"});
}

TEST(HookServer, ReportsListeningAndIgnoresASecondStart) {
  RunningServer running;
  running.server().start();
  EXPECT_EQ(exchange(running.address(), postRequest(kEvent)), kResponse);
  const auto statuses = running.waitForStatus(1);
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0], Status(true, "Listening on " + running.folder().socket().string()));
  struct stat info {};
  ASSERT_EQ(::lstat(running.folder().socket().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  running.server().stop();
  const auto stopped = running.waitForStatus(2);
  ASSERT_EQ(stopped.size(), 2u);
  EXPECT_EQ(stopped[1], Status(false, "Stopped"));
  EXPECT_FALSE(TestClient(running.address()).connected());
  EXPECT_FALSE(std::filesystem::exists(running.folder().socket()));
}

TEST(HookServer, RefusesAFolderOrSocketItCannotTrust) {
  test::SocketFolder folder;
  const std::filesystem::path socket = folder.socket();
  // A live server answers there: the second one leaves it alone.
  {
    RunningServer first({}, HookListen{.socket = socket});
    EXPECT_EQ(firstStatus({.socket = socket}),
              Status(false, "Failed: another Tallyloft answers at " + socket.string()));
  }
  // What a crashed server left behind is replaced.
  {
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socket.c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    RunningServer replaced({}, HookListen{.socket = socket});
    EXPECT_EQ(exchange(replaced.address(), postRequest(kEvent)), kResponse);
  }
  // A link at the socket's name is not followed, nor removed.
  ASSERT_EQ(::symlink("/tmp/elsewhere", socket.c_str()), 0);
  EXPECT_FALSE(firstStatus({.socket = socket}).first);
  EXPECT_TRUE(std::filesystem::is_symlink(socket));
  std::filesystem::remove(socket);

  // The folder: open to others, a link to a private folder, too long a name.
  ::chmod(folder.path().c_str(), 0755);
  EXPECT_EQ(firstStatus({.socket = socket}),
            Status(false, "Failed: " + folder.path().string() + " is open to other users"));
  ::chmod(folder.path().c_str(), 0700);
  const std::filesystem::path link = folder.path().parent_path() / "link";
  std::filesystem::create_directory_symlink(folder.path(), link);
  EXPECT_EQ(firstStatus({.socket = link / "hook.sock"}),
            Status(false, "Failed: " + link.string() + " is not a folder"));
  const std::filesystem::path deep = folder.path() / std::string(120, 'd') / "hook.sock";
  EXPECT_EQ(
      firstStatus({.socket = deep}),
      Status(false, "Failed: the socket path is too long (at most 107 bytes): " + deep.string()));
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(folder.path().c_str(), 65534, 65534), 0);
    EXPECT_EQ(firstStatus({.socket = socket}),
              Status(false, "Failed: " + folder.path().string() + " belongs to another user"));
  }
}

TEST(HookServer, ClosesPeersOfAnotherUserBeforeReadingAByte) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  if (std::system("command -v setpriv >/dev/null && test -x /usr/bin/curl") != 0) {
    GTEST_SKIP() << "needs setpriv and curl";
  }
  RunningServer running;
  // Opened up as a careless setup would: only the peer check stands in the way.
  ::chmod(running.folder().path().parent_path().c_str(), 0755);
  ::chmod(running.folder().path().c_str(), 0755);
  ::chmod(running.folder().socket().c_str(), 0666);
  const std::string post =
      "/usr/bin/curl -s -m2 --unix-socket " + running.folder().socket().string() +
      " -w '%{http_code}' --data-binary '" + kEvent + "' http://localhost/event";
  const test::ShellRun other =
      test::runShell("setpriv --reuid=65534 --regid=65534 --clear-groups " + post);
  EXPECT_EQ(other.output, "000");  // no reply at all
  EXPECT_EQ(running.server().refusedPeers(), 1u);
  EXPECT_TRUE(running.events().empty());
  // This user's own post still goes through.
  EXPECT_EQ(test::runShell(post).output, "ok200");
  EXPECT_EQ(running.events().size(), 1u);
}

TEST(HookServer, TakesTcpRequestsOnlyWithTheSecret) {
  const std::string secret(64, 'a');
  RunningServer running({}, HookListen{.port = 0, .secret = secret});
  const std::string kUnauthorized(HookServer::kUnauthorized);
  EXPECT_EQ(exchange(running.tcp(), postRequest(kEvent)), kUnauthorized);
  EXPECT_EQ(exchange(running.tcp(),
                     postRequest(kEvent, "X-Tallyloft-Secret: " + std::string(64, 'b') + "\r\n")),
            kUnauthorized);
  EXPECT_EQ(exchange(running.tcp(),
                     postRequest(kEvent, "X-Tallyloft-Secret: " + secret.substr(1) + "\r\n")),
            kUnauthorized);
  // Malformed, or trickled in over several receives: still nothing without the secret.
  EXPECT_EQ(exchange(running.tcp(), "POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n"),
            kUnauthorized);
  {
    TestClient slow(running.tcp());
    const std::string request = postRequest(kEvent);
    slow.send(request.substr(0, 20));
    std::this_thread::sleep_for(50ms);
    slow.send(request.substr(20));
    EXPECT_EQ(slow.receive().bytes, kUnauthorized);
  }
  EXPECT_TRUE(running.events().empty());
  EXPECT_EQ(running.server().refusedRequests(), 5u);
  EXPECT_EQ(
      exchange(running.tcp(), postRequest(kEvent, "x-tallyloft-secret:  " + secret + " \r\n")),
      kResponse);
  EXPECT_EQ(running.events().size(), 1u);
  EXPECT_TRUE(sameSecret(secret, secret));
  EXPECT_FALSE(sameSecret("", secret));
  EXPECT_FALSE(sameSecret(secret + "a", secret));
}

TEST(HookServer, OpensMovesAndClosesThePortWhileRunning) {
  RunningServer running;
  EXPECT_EQ(running.server().boundPort(), 0);
  running.server().setPort(0, "");  // no secret: hooks of an older version
  auto statuses = running.waitForStatus(2);
  ASSERT_EQ(statuses.size(), 2u);
  const std::uint16_t port = running.server().boundPort();
  ASSERT_NE(port, 0);
  EXPECT_EQ(statuses[1], Status(true, "Listening on " + running.folder().socket().string() +
                                          " and 127.0.0.1:" + std::to_string(port)));
  EXPECT_EQ(exchange(LocalAddress::tcp(port), postRequest(kEvent)), kResponse);
  EXPECT_EQ(running.events().size(), 1u);
  // A port another listener holds: the socket goes on, and the status says so.
  test::LoopbackListener taken;
  running.server().setPort(taken.port(), "secret");
  statuses = running.waitForStatus(3);
  ASSERT_EQ(statuses.size(), 3u);
  EXPECT_EQ(statuses[2],
            Status(true, "Listening on " + running.folder().socket().string() + "; port " +
                             std::to_string(taken.port()) + ": Failed: Address already in use"));
  running.server().setPort(std::nullopt, "");
  statuses = running.waitForStatus(4);
  ASSERT_EQ(statuses.size(), 4u);
  EXPECT_EQ(statuses[3], Status(true, "Listening on " + running.folder().socket().string()));
  EXPECT_FALSE(TestClient(LocalAddress::tcp(port)).connected());
  EXPECT_EQ(exchange(running.address(), postRequest(kEvent)), kResponse);
}

TEST(HookServer, AssemblesAPostSplitIntoManySegments) {
  RunningServer running;
  const std::string request = postRequest(kEvent);
  TestClient client(running.address());
  for (std::size_t offset = 0; offset < request.size(); offset += 7) {
    ASSERT_TRUE(client.send(request.substr(offset, 7)));
    std::this_thread::sleep_for(1ms);
  }
  const auto received = client.receive();
  EXPECT_EQ(received.bytes, kResponse);
  EXPECT_TRUE(received.closed);
  const auto events = running.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].hookEventName, "PreToolUse");
  EXPECT_EQ(events[0].target(), "make test");
}

TEST(HookServer, AnswersEveryCompleteRequestButDeliversOnlyHookEvents) {
  RunningServer running;
  struct Case {
    const char* name;
    std::string request;
    bool delivers;
  };
  const Case cases[] = {
      {"GET with a hook body",
       "GET /x HTTP/1.1\r\nContent-Length: " + std::to_string(kEvent.size()) + "\r\n\r\n" + kEvent,
       true},
      {"odd path",
       "PUT /../../etc HTTP/1.0\r\ncontent-length:" + std::to_string(kEvent.size()) + "\r\n\r\n" +
           kEvent,
       true},
      {"longer than announced", postRequest(kEvent) + "garbage after the body", true},
      {"GET without body", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", false},
      {"invalid JSON", postRequest("{not json"), false},
      {"no event name", postRequest(R"({"session_id":"s"})"), false},
      {"mistyped key", postRequest(R"({"hook_event_name":"Stop","cwd":5})"), false},
      {"header not UTF-8", "POST / HTTP/1.1\r\nX: \xff\r\nContent-Length: 2\r\n\r\n{}", false},
      {"too large", "POST / HTTP/1.1\r\nContent-Length: 8388609\r\n\r\n", false},
      {"negative length", "POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n" + kEvent, false},
      {"browser origin", postRequest(kEvent, "Origin: https://evil.example\r\n"), false},
  };
  std::size_t expected = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(exchange(running.address(), c.request), kResponse);
    if (c.delivers) ++expected;
    EXPECT_EQ(running.events().size(), expected);
  }
}

TEST(HookServer, PassesOnTheProcessAndTerminalHintsAndDropsBadOnes) {
  RunningServer running;
  struct Case {
    const char* name;
    std::string headers;
    std::optional<std::int64_t> pid;
    std::optional<std::string> windowId;
    std::optional<std::string> tmuxPane;
  };
  const std::string many = [] {
    std::string lines;
    for (int i = 1; i <= 200; ++i) lines += "X-Tallyloft-Pid: " + std::to_string(i) + "\r\n";
    return lines;
  }();
  const Case cases[] = {
      {"none", "", std::nullopt, std::nullopt, std::nullopt},
      {"both", "X-Tallyloft-Pid: 4242\r\nX-Tallyloft-Term: WINDOWID=77;TMUX_PANE=%3;\r\n", 4242,
       "77", "%3"},
      {"any letter case, blanks", "x-tallyloft-pid:   17  \r\n", 17, std::nullopt, std::nullopt},
      {"garbage pid", "X-Tallyloft-Pid: 12; rm -rf /\r\n", std::nullopt, std::nullopt,
       std::nullopt},
      {"zero and negative", "X-Tallyloft-Pid: -3\r\nX-Tallyloft-Pid: 0\r\n", std::nullopt,
       std::nullopt, std::nullopt},
      {"beyond any pid", "X-Tallyloft-Pid: 99999999999\r\n", std::nullopt, std::nullopt,
       std::nullopt},
      {"many, the last counts", many, 200, std::nullopt, std::nullopt},
      {"oversized term", "X-Tallyloft-Term: WINDOWID=5;" + std::string(2000, 'x') + "\r\n",
       std::nullopt, std::nullopt, std::nullopt},
      {"bad values dropped, good kept",
       "X-Tallyloft-Term: WINDOWID=0x1f;TMUX_PANE=%9;TERM_PROGRAM=$(id)\r\n", std::nullopt,
       std::nullopt, "%9"},
  };
  std::size_t count = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(exchange(running.address(), postRequest(kEvent, c.headers)), kResponse);
    const auto events = running.events();
    ASSERT_EQ(events.size(), ++count);
    EXPECT_EQ(events.back().pid, c.pid);
    EXPECT_EQ(events.back().terminal.windowId, c.windowId);
    EXPECT_EQ(events.back().terminal.tmuxPane, c.tmuxPane);
    EXPECT_FALSE(events.back().terminal.termProgram);
  }
}

TEST(HookServer, AcceptsTheLargestBody) {
  RunningServer running;
  std::string body = R"({"hook_event_name":"Big","pad":")";
  body.append(8'388'608 - body.size() - 2, 'x');
  body += "\"}";
  ASSERT_EQ(body.size(), 8'388'608u);
  EXPECT_EQ(exchange(running.address(), postRequest(body)), kResponse);
  ASSERT_EQ(running.events().size(), 1u);
  EXPECT_EQ(running.events()[0].hookEventName, "Big");
}

TEST(HookServer, GivesUpSilentlyOnPeersThatNeverFinish) {
  RunningServer running;
  {  // closes its side before the header block is complete
    TestClient client(running.address());
    client.send("POST /event HTTP/1.1\r\nContent-Length: 10\r\n");
    client.shutdownSend();
    const auto received = client.receive();
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes, "");
  }
  {  // closes before the announced body has arrived
    TestClient client(running.address());
    client.send("POST /event HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"hook");
    client.shutdownSend();
    EXPECT_EQ(client.receive().bytes, "");
  }
  {  // exactly the per-connection limit without a terminator still waits; one more byte ends it
    TestClient client(running.address());
    const std::string filler(8'388'608, 'a');
    ASSERT_TRUE(client.send(filler));
    const auto waiting = client.receive(300ms);
    EXPECT_FALSE(waiting.closed);
    client.send("a");
    const auto dropped = client.receive();
    EXPECT_TRUE(dropped.closed);
    EXPECT_EQ(dropped.bytes, "");
  }
  EXPECT_TRUE(running.waitForConnections(0));
  EXPECT_TRUE(running.events().empty());
}

TEST(HookServer, ClosesIdleConnectionsWithoutAReply) {
  HookServer::Limits limits;
  limits.idleTimeout = 300ms;
  RunningServer running(limits);
  TestClient silent(running.address());
  TestClient trickling(running.address());
  const std::string request = postRequest(kEvent);
  // The trickling peer sends a byte every 100 ms: never idle for 300 ms, so it is served.
  std::thread trickle([&] {
    for (std::size_t i = 0; i < 8; ++i) {
      trickling.send(request.substr(i, 1));
      std::this_thread::sleep_for(100ms);
    }
    trickling.send(request.substr(8));
  });
  const auto idle = silent.receive(2s);
  trickle.join();
  EXPECT_TRUE(idle.closed);
  EXPECT_EQ(idle.bytes, "");
  EXPECT_EQ(trickling.receive().bytes, kResponse);
  EXPECT_EQ(running.events().size(), 1u);
}

TEST(HookServer, KeepsTheBufferBudgetAcrossConnections) {
  HookServer::Limits limits;
  limits.maxTotalBuffered = 1024 * 1024;
  RunningServer running(limits);
  const std::string half(600 * 1024, 'h');
  TestClient first(running.address());
  ASSERT_TRUE(first.send("POST / HTTP/1.1\r\nContent-Length: 614400\r\n\r\n"));
  ASSERT_TRUE(first.send(half.substr(0, 300 * 1024)));
  EXPECT_FALSE(first.receive(200ms).closed);

  TestClient second(running.address());
  second.send(std::string(800 * 1024,
                          's'));  // would pass the budget: this connection goes, without a reply
  const auto dropped = second.receive();
  EXPECT_TRUE(dropped.closed);
  EXPECT_EQ(dropped.bytes, "");

  ASSERT_TRUE(first.send(half.substr(300 * 1024)));
  EXPECT_EQ(first.receive().bytes, kResponse);
  EXPECT_TRUE(running.waitForConnections(0));
  // Once the connections have gone, their bytes count no more.
  EXPECT_EQ(exchange(running.address(), postRequest(kEvent)), kResponse);
  EXPECT_EQ(running.events().size(), 1u);
}

TEST(HookServer, CapsOpenConnections) {
  HookServer::Limits limits;
  limits.maxConnections = 4;
  RunningServer running(limits);
  std::vector<std::unique_ptr<TestClient>> idle;
  for (int i = 0; i < 4; ++i) idle.push_back(std::make_unique<TestClient>(running.address()));
  ASSERT_TRUE(running.waitForConnections(4));

  TestClient refused(running.address());
  const auto received = refused.receive();
  EXPECT_TRUE(received.closed);
  EXPECT_EQ(received.bytes, "");

  idle.pop_back();
  ASSERT_TRUE(running.waitForConnections(3));
  EXPECT_EQ(exchange(running.address(), postRequest(kEvent)), kResponse);
  EXPECT_EQ(running.events().size(), 1u);
}

TEST(HookServer, ServesHooksWhileHundredsOfIdleConnectionsAreOpen) {
  RunningServer running;
  std::vector<std::unique_ptr<TestClient>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.push_back(std::make_unique<TestClient>(running.address()));
    idle.back()->send("POST /event HTTP/1.1\r\n");
  }
  ASSERT_TRUE(running.waitForConnections(300));
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(exchange(running.address(), postRequest(kEvent)), kResponse);
  EXPECT_EQ(running.events().size(), 5u);
}

// Out of descriptors, the server waits and tries again; a peer that came meanwhile is then taken
// without any later peer to announce it.
TEST(HookServer, TakesThePeersThatWaitedWhileItWasOutOfDescriptors) {
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
  GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
#endif
  RunningServer running;
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  // Room for exactly one more descriptor: the client's, not the server's accepted one.
  const int lowestFree = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(lowestFree, 0);
  ::close(lowestFree);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree) + 1;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  TestClient client(running.address());
  const bool sent = client.send(postRequest(kEvent));
  std::this_thread::sleep_for(30ms);  // the server meets the limit and backs off
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(sent);
  EXPECT_EQ(client.receive(2s).bytes, kResponse);
  EXPECT_EQ(running.events().size(), 1u);
}

// A request taken whole on arrival that cannot be buffered (out of memory) loses its peer; the
// server still takes the peers after it.
TEST(HookServer, KeepsAcceptingAfterARequestItCouldNotBuffer) {
  RunningServer running;
  const std::string request = postRequest(std::string(40 * 1024, ' ') + kEvent);
  test::failAllocationsFrom(32 * 1024);
  const std::string lost = exchange(running.address(), request);
  test::stopFailingAllocations();
  EXPECT_EQ(lost, "");
  EXPECT_EQ(exchange(running.address(), postRequest(kEvent)), kResponse);
  EXPECT_EQ(running.events().size(), 1u);
  EXPECT_TRUE(running.waitForConnections(0));
}

// A receive that cannot be buffered (out of memory) loses its connection, and gives back every
// byte it counted: the shared budget stays whole for the requests after it.
TEST(HookServer, AFailedReceiveLeavesTheByteBudgetWhole) {
  HookServer::Limits limits;
  limits.idleTimeout = 200ms;
  RunningServer running(limits);
  const std::string body(2 * 1024 * 1024, 'x');
  {
    TestClient client(running.address());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send("POST /event HTTP/1.1\r\nContent-Length: 4194304\r\n\r\n"));
    ASSERT_TRUE(running.waitForConnections(1));
    test::failAllocationsFrom(1024 * 1024);
    client.send(body);
    const auto received = client.receive();
    test::stopFailingAllocations();
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes, "");
  }
  ASSERT_TRUE(running.waitForConnections(0));
  EXPECT_EQ(running.server().bufferedBytes(), 0u);
  EXPECT_EQ(exchange(running.address(), postRequest(kEvent)), kResponse);
}

}  // namespace
}  // namespace tallyloft
