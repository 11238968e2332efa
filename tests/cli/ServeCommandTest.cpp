#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "hooks/HookServer.h"
#include "support/ChildProcess.h"
#include "support/TestClient.h"

namespace tallyloft {
namespace {

using namespace std::chrono_literals;

// `tallyloft serve` as a child process, its standard output and error in files of its own, with
// a home and a runtime folder of its own unless `runtime` names one.
class ServeProcess {
 public:
  explicit ServeProcess(std::optional<std::uint16_t> port = std::nullopt,
                        std::filesystem::path runtime = {})
      : folder_(makeFolder()),
        runtime_(runtime.empty() ? folder_ / "run" : std::move(runtime)),
        program_(arguments(port),
                 {"XDG_RUNTIME_DIR=" + runtime_.string(), "HOME=" + (folder_ / "home").string()},
                 folder_ / "out", folder_ / "err") {}
  ~ServeProcess() {
    program_.stop();
    std::filesystem::remove_all(folder_);
  }

  // What it has printed once `text` has appeared, or after 3 s.
  std::string waitFor(bool fromStderr, const std::string& text) {
    return fromStderr ? program_.waitForErrors(text) : program_.waitForOutput(text);
  }
  int terminate() { return program_.stop(); }
  int wait() { return program_.wait(); }
  std::filesystem::path socket() const { return runtime_ / "tallyloft" / "hook.sock"; }
  LocalAddress address() const { return LocalAddress::unixSocket(socket()); }
  std::filesystem::path home() const { return folder_ / "home"; }

 private:
  static std::filesystem::path makeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tallyloft-serve-XXXXXX");
    const std::filesystem::path folder = ::mkdtemp(pattern.data()) != nullptr
                                             ? std::filesystem::path(pattern)
                                             : std::filesystem::temp_directory_path();
    ::mkdir((folder / "run").c_str(), 0700);
    return folder;
  }
  static std::vector<std::string> arguments(std::optional<std::uint16_t> port) {
    std::vector<std::string> all = {TALLYLOFT_BINARY, "serve", "--print-events"};
    if (port) all.insert(all.end(), {"--port", std::to_string(*port)});
    return all;
  }

  std::filesystem::path folder_;
  std::filesystem::path runtime_;
  test::Program program_;
};

// A loopback port nothing listens on now.
std::uint16_t freePort() {
  test::LoopbackListener probe;
  return probe.port();
}

TEST(Serve, SaysWhereItListensAndTakesOnlyItsOwnUsersEvents) {
  const std::uint16_t port = freePort();
  ServeProcess serve(port);
  const std::string listening =
      "Listening on " + serve.socket().string() + " and 127.0.0.1:" + std::to_string(port) + "\n";
  const std::string errors = serve.waitFor(true, listening);
  EXPECT_EQ(errors.rfind(listening, 0), 0u) << errors;  // the first line

  test::exchange(serve.address(),
                 test::postRequest(R"({"hook_event_name":"Stop","session_id":"s9"})"));
  std::string printed = serve.waitFor(false, "\n");
  EXPECT_EQ(printed.rfind(R"({"hook_event_name":"Stop","session_id":"s9","receivedAt":")", 0), 0u)
      << printed;
  // Over the port only with the secret from the user's file.
  const std::string body = R"({"hook_event_name":"Stop","session_id":"tcp"})";
  EXPECT_EQ(test::exchange(LocalAddress::tcp(port), test::postRequest(body)),
            std::string(HookServer::kUnauthorized));
  std::ifstream file(serve.home() / ".config" / "tallyloft" / "hook-secret");
  std::string header;
  std::getline(file, header);
  EXPECT_EQ(
      std::filesystem::status(serve.home() / ".config" / "tallyloft" / "hook-secret").permissions(),
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(test::exchange(LocalAddress::tcp(port), test::postRequest(body, header + "\r\n")),
            std::string(HookServer::kResponse));
  printed = serve.waitFor(false, "tcp");
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 2) << printed;
  EXPECT_EQ(serve.terminate(), 0);
  EXPECT_FALSE(std::filesystem::exists(serve.socket()));
}

// The demo posts the whole built-in crew through the server, as the CLIs' hooks would.
TEST(Serve, TakesTheDemoCrewEventByEvent) {
  ServeProcess serve;
  const std::string demo =
      "XDG_RUNTIME_DIR=" + serve.socket().parent_path().parent_path().string() + " " +
      TALLYLOFT_BINARY + " demo --speed 1000 2>&1";
  ASSERT_NE(serve.waitFor(true, "Listening").find("Listening"), std::string::npos);
  char line[512] = {};
  FILE* played = ::popen(demo.c_str(), "r");
  std::string output;
  while (std::fgets(line, sizeof line, played) != nullptr) output += line;
  EXPECT_EQ(WEXITSTATUS(::pclose(played)), 0) << output;
  EXPECT_NE(output.find("102 of 102 events\n"), std::string::npos) << output;
  EXPECT_NE(serve.waitFor(true, " 102 events\n").find(" 102 events\n"), std::string::npos);
  // Each demo session says which CLI it is.
  const test::ShellRun status =
      test::runShell("XDG_RUNTIME_DIR=" + serve.socket().parent_path().parent_path().string() +
                     " " + TALLYLOFT_BINARY + " status --json");
  for (const char* cli : {"claude", "codex", "gemini"}) {
    EXPECT_NE(status.output.find("\"cli\":\"" + std::string(cli) + "\""), std::string::npos)
        << cli << ": " << status.output;
  }
  // Nobody listening any more: one line, status 1.
  serve.terminate();
  FILE* refused = ::popen(demo.c_str(), "r");
  ASSERT_NE(std::fgets(line, sizeof line, refused), nullptr);
  EXPECT_EQ(std::string(line), "demo: nothing listens on " + serve.socket().string() +
                                   "; start Tallyloft first (tallyloft, or ./dev run)\n");
  EXPECT_EQ(WEXITSTATUS(::pclose(refused)), 1);
}

// Runs `tallyloft ARGS` and returns its status and everything it printed.
std::pair<int, std::string> runTallyloft(const std::string& arguments) {
  const test::ShellRun ran = test::runShell(std::string(TALLYLOFT_BINARY) + " " + arguments);
  return {ran.status, ran.output};
}

TEST(Serve, AnswersStatusOverTheUsersSocket) {
  char folder[] = "/tmp/tallyloft-status-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string oldRuntime =
      std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
  ::setenv("XDG_RUNTIME_DIR", folder, 1);

  const auto nothing = runTallyloft("status");
  EXPECT_EQ(nothing.first, 1);
  EXPECT_EQ(nothing.second,
            "Tallyloft is not running. Start the app with `tallyloft`, or the headless engine "
            "with `tallyloft serve`.\n");

  {
    ServeProcess serve(std::nullopt, folder);
    ASSERT_NE(serve.waitFor(true, "Listening").find("Listening"), std::string::npos);
    for (
        const char* body :
        {R"({"hook_event_name":"SessionStart","session_id":"s1","cwd":"/work/shop-api","transcript_path":"/home/u/.codex/sessions/r.jsonl"})",
         R"({"hook_event_name":"PreToolUse","session_id":"s1","tool_name":"Bash","tool_input":{"command":"make test"}})",
         R"({"hook_event_name":"PermissionRequest","session_id":"s1","agent_id":"a7","agent_type":"Explore"})"}) {
      test::exchange(serve.address(), test::postRequest(body, "X-Tallyloft-Pid: 1\r\n"));
    }
    serve.waitFor(false, "PermissionRequest");
    const auto table = runTallyloft("status");
    EXPECT_EQ(table.first, 0);
    EXPECT_EQ(table.second.substr(0, table.second.find("context")),
              "codex   shop-api             working              ")
        << table.second;
    EXPECT_NE(table.second.find("pid 1 not-local"), std::string::npos) << table.second;
    EXPECT_NE(table.second.find("\n  main               working              run make test\n"
                                "  Explore            waiting (permission)\n"),
              std::string::npos)
        << table.second;

    const auto json = runTallyloft("status --json");
    EXPECT_EQ(json.first, 0);
    EXPECT_EQ(
        json.second.rfind(R"({"sessions":[{"id":"s1","cli":"codex","project":"shop-api",)", 0), 0u)
        << json.second;
    EXPECT_NE(json.second.find(R"("process":{"pid":1,"status":"not-local"})"), std::string::npos);
    EXPECT_NE(
        json.second.find(
            R"({"id":"a7","type":"Explore","main":false,"state":"waiting","waitReason":"permission","tool":null,"target":null})"),
        std::string::npos)
        << json.second;

    const auto bar = runTallyloft("status --waybar");
    EXPECT_EQ(bar.first, 0);
    EXPECT_EQ(bar.second,
              "{\"text\":\"🤖 2 ⏳ 1\",\"tooltip\":\"codex shop-api: working\","
              "\"class\":\"waiting\",\"percentage\":0}\n");

    // A second engine leaves both sockets to the first, and says so.
    ServeProcess second(std::nullopt, folder);
    EXPECT_NE(second.waitFor(true, "No status socket").find("another Tallyloft answers at"),
              std::string::npos);
    EXPECT_EQ(second.wait(), 1);
    EXPECT_NE(second.waitFor(true, "hook.sock")
                  .find("Failed: another Tallyloft answers at " + serve.socket().string()),
              std::string::npos);
    EXPECT_EQ(serve.terminate(), 0);
  }
  // Gone with its engine: nothing answers, and a new engine may take the socket's place.
  EXPECT_EQ(runTallyloft("status --json").first, 1);
  ::setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1);
  if (oldRuntime.empty()) ::unsetenv("XDG_RUNTIME_DIR");
  std::filesystem::remove_all(folder);
}

TEST(Serve, ExitsWithStatusOneWhenThePortIsTakenOrTheFolderIsNotPrivate) {
  test::LoopbackListener taken;
  ServeProcess serve(taken.port());
  EXPECT_EQ(serve.wait(), 1);
  EXPECT_NE(
      serve.waitFor(true, "Failed")
          .find("; port " + std::to_string(taken.port()) + ": Failed: Address already in use"),
      std::string::npos);

  char folder[] = "/tmp/tallyloft-open-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  ::mkdir((std::string(folder) + "/tallyloft").c_str(), 0755);
  ServeProcess open(std::nullopt, folder);
  EXPECT_EQ(open.wait(), 1);
  EXPECT_NE(open.waitFor(true, "Failed")
                .find("Failed: " + std::string(folder) + "/tallyloft is open to other users\n"),
            std::string::npos);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tallyloft
