#include "hooks/HookServer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

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

// A server on an ephemeral port whose callbacks land in thread-safe lists.
class RunningServer {
 public:
  explicit RunningServer(HookServer::Limits limits = {}, std::uint16_t port = 0)
      : server_(port, limits) {
    server_.onEvent = [this](HookEvent event) {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
      changed_.notify_all();
    };
    server_.onStatus = [this](bool running, std::string text) {
      std::lock_guard lock(mutex_);
      statuses_.emplace_back(running, std::move(text));
      changed_.notify_all();
    };
    server_.start();
    waitForStatus(1);
  }

  HookServer& server() { return server_; }
  std::uint16_t port() const { return server_.boundPort(); }

  std::vector<HookEvent> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::pair<bool, std::string>> waitForStatus(std::size_t count) {
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
  std::vector<std::pair<bool, std::string>> statuses_;
  HookServer server_;  // last: stopped before the lists go
};

TEST(HookServer, ReportsListeningAndIgnoresASecondStart) {
  RunningServer running;
  running.server().start();
  EXPECT_EQ(exchange(running.port(), postRequest(kEvent)), kResponse);
  const auto statuses = running.waitForStatus(1);
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_TRUE(statuses[0].first);
  EXPECT_EQ(statuses[0].second, "Listening on 127.0.0.1:" + std::to_string(running.port()));

  running.server().stop();
  const auto stopped = running.waitForStatus(2);
  ASSERT_EQ(stopped.size(), 2u);
  EXPECT_EQ(stopped[1], std::make_pair(false, std::string("Stopped")));
  EXPECT_FALSE(TestClient(running.port()).connected());
}

TEST(HookServer, ReportsFailureWhenThePortIsTaken) {
  RunningServer first;
  HookServer second(first.port());
  std::mutex mutex;
  std::condition_variable done;
  std::optional<std::pair<bool, std::string>> status;
  second.onStatus = [&](bool running, std::string text) {
    std::lock_guard lock(mutex);
    status.emplace(running, std::move(text));
    done.notify_all();
  };
  second.start();
  std::unique_lock lock(mutex);
  ASSERT_TRUE(done.wait_for(lock, 3s, [&] { return status.has_value(); }));
  EXPECT_FALSE(status->first);
  EXPECT_EQ(status->second, "Failed: Address already in use");
}

TEST(HookServer, AssemblesAPostSplitIntoManySegments) {
  RunningServer running;
  const std::string request = postRequest(kEvent);
  TestClient client(running.port());
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
    EXPECT_EQ(exchange(running.port(), c.request), kResponse);
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
    EXPECT_EQ(exchange(running.port(), postRequest(kEvent, c.headers)), kResponse);
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
  EXPECT_EQ(exchange(running.port(), postRequest(body)), kResponse);
  ASSERT_EQ(running.events().size(), 1u);
  EXPECT_EQ(running.events()[0].hookEventName, "Big");
}

TEST(HookServer, GivesUpSilentlyOnPeersThatNeverFinish) {
  RunningServer running;
  {  // closes its side before the header block is complete
    TestClient client(running.port());
    client.send("POST /event HTTP/1.1\r\nContent-Length: 10\r\n");
    client.shutdownSend();
    const auto received = client.receive();
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes, "");
  }
  {  // closes before the announced body has arrived
    TestClient client(running.port());
    client.send("POST /event HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"hook");
    client.shutdownSend();
    EXPECT_EQ(client.receive().bytes, "");
  }
  {  // exactly the per-connection limit without a terminator still waits; one more byte ends it
    TestClient client(running.port());
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
  TestClient silent(running.port());
  TestClient trickling(running.port());
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
  TestClient first(running.port());
  ASSERT_TRUE(first.send("POST / HTTP/1.1\r\nContent-Length: 614400\r\n\r\n"));
  ASSERT_TRUE(first.send(half.substr(0, 300 * 1024)));
  EXPECT_FALSE(first.receive(200ms).closed);

  TestClient second(running.port());
  second.send(std::string(800 * 1024,
                          's'));  // would pass the budget: this connection goes, without a reply
  const auto dropped = second.receive();
  EXPECT_TRUE(dropped.closed);
  EXPECT_EQ(dropped.bytes, "");

  ASSERT_TRUE(first.send(half.substr(300 * 1024)));
  EXPECT_EQ(first.receive().bytes, kResponse);
  EXPECT_TRUE(running.waitForConnections(0));
  // Once the connections have gone, their bytes count no more.
  EXPECT_EQ(exchange(running.port(), postRequest(kEvent)), kResponse);
  EXPECT_EQ(running.events().size(), 1u);
}

TEST(HookServer, CapsOpenConnections) {
  HookServer::Limits limits;
  limits.maxConnections = 4;
  RunningServer running(limits);
  std::vector<std::unique_ptr<TestClient>> idle;
  for (int i = 0; i < 4; ++i) idle.push_back(std::make_unique<TestClient>(running.port()));
  ASSERT_TRUE(running.waitForConnections(4));

  TestClient refused(running.port());
  const auto received = refused.receive();
  EXPECT_TRUE(received.closed);
  EXPECT_EQ(received.bytes, "");

  idle.pop_back();
  ASSERT_TRUE(running.waitForConnections(3));
  EXPECT_EQ(exchange(running.port(), postRequest(kEvent)), kResponse);
  EXPECT_EQ(running.events().size(), 1u);
}

TEST(HookServer, ServesHooksWhileHundredsOfIdleConnectionsAreOpen) {
  RunningServer running;
  std::vector<std::unique_ptr<TestClient>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.push_back(std::make_unique<TestClient>(running.port()));
    idle.back()->send("POST /event HTTP/1.1\r\n");
  }
  ASSERT_TRUE(running.waitForConnections(300));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(exchange(running.port(), postRequest(kEvent)), kResponse);
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
  TestClient client(running.port());
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
  const std::string lost = exchange(running.port(), request);
  test::stopFailingAllocations();
  EXPECT_EQ(lost, "");
  EXPECT_EQ(exchange(running.port(), postRequest(kEvent)), kResponse);
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
    TestClient client(running.port());
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
  EXPECT_EQ(exchange(running.port(), postRequest(kEvent)), kResponse);
}

}  // namespace
}  // namespace tallyloft
