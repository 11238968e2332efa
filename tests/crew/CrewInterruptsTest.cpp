// Interrupted turns and CLIs that die, as the current Claude Code, Gemini CLI and Codex CLI
// really behave: the captured hooks replayed through the model, with the CLI's process and
// Claude Code's sessions files standing in for the machine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "base/LoopScheduler.h"
#include "crew/CrewModel.h"
#include "support/ChildProcess.h"
#include "support/TempHome.h"

namespace tallyloft {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// Processes that pass the check when their pid is in `local`; each one's end is a pipe whose
// writing side `end` closes.
class FakeProcesses final : public LocalProcesses {
 public:
  struct State {
    std::map<std::int64_t, int> writers;   // pid → the pipe's writing side, -1 once ended
    bool pidfds = true;                    // false: a kernel that offers none
    std::int64_t daemon = 0;               // a shared daemon's pid
    std::optional<std::int64_t> frontEnd;  // the one front end in the folder
    TerminalHints frontEndTerminal;
  };
  explicit FakeProcesses(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::optional<ProcessIdentity> verify(std::int64_t pid, const std::string&) const override {
    if (state_->writers.count(pid) == 0) return std::nullopt;
    return ProcessIdentity{pid, 1};
  }
  bool alive(const ProcessIdentity& process) const override {
    const auto it = state_->writers.find(process.pid);
    return it != state_->writers.end() && it->second >= 0 && process.startTime == 1;
  }
  bool isSharedDaemon(const ProcessIdentity& process) const override {
    return process.pid == state_->daemon;
  }
  std::optional<ProcessIdentity> codexFrontEnd(const std::string&) const override {
    if (!state_->frontEnd) return std::nullopt;
    return ProcessIdentity{*state_->frontEnd, 1};
  }
  TerminalHints terminalOf(const ProcessIdentity&) const override {
    return state_->frontEndTerminal;
  }
  int exitDescriptor(const ProcessIdentity& process) const override {
    int ends[2];
    if (!state_->pidfds || !alive(process) || ::pipe2(ends, O_CLOEXEC) != 0) return -1;
    state_->writers[process.pid] = ends[1];
    return ends[0];
  }

 private:
  std::shared_ptr<State> state_;
};

class CrewInterruptsTest : public test::TempHome {
 protected:
  static constexpr std::int64_t kPid = 4242;

  CrewInterruptsTest() {
    processes->writers[kPid] = 0;  // alive; its pipe is made when it is watched
    crew.setProcesses(std::make_unique<FakeProcesses>(processes));
  }
  ~CrewInterruptsTest() override {
    for (auto& [pid, writer] : processes->writers) {
      if (writer > 0) ::close(writer);
    }
  }

  void end(std::int64_t pid) {
    int& writer = processes->writers[pid];
    if (writer > 0) ::close(writer);
    writer = -1;
    loop.runPending();
  }
  void send(Json body, std::optional<std::int64_t> pid = kPid) {
    auto event = HookEvent::decode(body.dump(), loop.now());
    ASSERT_TRUE(event) << body.dump();
    event->pid = pid;
    crew.reduce(*event);
    loop.runPending();
  }
  // Moves virtual time to `seconds` after the start of the replay.
  void at(double seconds) {
    const auto target = start + std::chrono::duration_cast<Scheduler::Duration>(
                                    std::chrono::duration<double>(seconds));
    if (target > loop.now()) loop.advance(target - loop.now());
  }
  const SessionNode* session(const std::string& id) const {
    for (const SessionNode& each : crew.sessions()) {
      if (each.id == id) return &each;
    }
    return nullptr;
  }

  std::shared_ptr<FakeProcesses::State> processes = std::make_shared<FakeProcesses::State>();
  Scheduler::TimePoint start{std::chrono::seconds(1'800'000'000)};
  LoopScheduler loop{start};
  CrewModel crew{loop};
};

// One capture: its hooks, then what the CLI did, then 3 s: the office must have caught up.
TEST_F(CrewInterruptsTest, EveryCapturedInterruptKillAndClosedTerminalSettlesWithinThreeSeconds) {
  const std::filesystem::path folder = std::filesystem::path(TALLYLOFT_REALDATA_DIR) / "interrupts";
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no " << folder;
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const Json capture = Json::parse(read(entry.path()));
    const std::string scenario = capture.at("scenario");
    const std::string cli = capture.at("cli");
    SCOPED_TRACE(entry.path().filename().string());
    LoopScheduler replayLoop{start};
    CrewModel model{replayLoop};
    auto state = std::make_shared<FakeProcesses::State>();
    state->writers[kPid] = 0;
    model.setProcesses(std::make_unique<FakeProcesses>(state));
    const auto moveTo = [&](double seconds) {
      const auto target =
          start + 100s +
          std::chrono::duration_cast<Scheduler::Duration>(std::chrono::duration<double>(seconds));
      if (target > replayLoop.now()) replayLoop.advance(target - replayLoop.now());
    };
    // The sessions file as the capture saw it, stamped when it is applied.
    const auto sessionsFile = [&](const char* when) -> std::optional<ClaudeSessionFile> {
      if (!capture.contains("claude_sessions_dir")) return std::nullopt;
      for (const Json& snapshot : capture.at("claude_sessions_dir")) {
        if (snapshot.at("when") != when) continue;
        for (const auto& [name, text] : snapshot.at("files").items()) {
          auto file = ClaudeSessionFile::parse(text.get<std::string>());
          if (!file) continue;
          file->pid = kPid;
          file->procStart = 1;
          file->statusUpdatedAt = replayLoop.now();
          return file;
        }
      }
      return std::nullopt;
    };
    const bool interactive = scenario.rfind("D-", 0) != 0;
    const bool ends = scenario.rfind("A-", 0) != 0;  // killed, terminal closed, stopped
    std::string sessionId;
    double order = -1;
    bool busySeen = false;
    for (const Json& hook : capture.at("hooks")) {
      const double when = hook.at("after_action_s").is_number()
                              ? hook.at("after_action_s").get<double>()
                              : (order += 0.05);  // no times: in order, before the action
      if (interactive && when > 3) break;         // what the user did next
      moveTo(when);
      auto event = HookEvent::decode(hook.at("payload").dump(), replayLoop.now());
      ASSERT_TRUE(event);
      event->pid = kPid;
      sessionId = event->sessionId.value_or(sessionId);
      model.reduce(*event);
      replayLoop.runPending();
      if (!busySeen && (event->hookEventName == "UserPromptSubmit")) {
        busySeen = true;
        if (auto file = sessionsFile("while busy")) model.claudeSessionChanged(*file);
      }
    }
    ASSERT_FALSE(sessionId.empty());
    // The action at 0 s: the process ends at once when it was killed or its terminal closed.
    moveTo(0.0);
    if (ends) {
      ::close(state->writers[kPid]);
      state->writers[kPid] = -1;
      replayLoop.runPending();
    }
    moveTo(0.1);  // Claude Code rewrites its sessions file about 90 ms after the action
    if (auto file = sessionsFile("5 s after action")) model.claudeSessionChanged(*file);
    moveTo(3.0);
    const SessionNode* session = nullptr;
    for (const SessionNode& each : model.sessions()) {
      if (each.id == sessionId) session = &each;
    }
    ASSERT_NE(session, nullptr);
    if (ends) {
      EXPECT_TRUE(session->leaving) << cli << " " << scenario;
    } else {
      EXPECT_FALSE(session->leaving) << cli << " " << scenario;
      EXPECT_EQ(session->main.state, AgentState::idle) << cli << " " << scenario;
      EXPECT_FALSE(session->main.currentTool);
    }
    ++replayed;
    if (ends && state->writers[kPid] > 0) ::close(state->writers[kPid]);
  }
  EXPECT_EQ(replayed, 21);
}

TEST_F(CrewInterruptsTest, AProcessThatFailsTheCheckChangesNothing) {
  crew.startReaper();
  send({{"hook_event_name", "PreToolUse"},
        {"session_id", "remote"},
        {"cwd", "/srv"},
        {"tool_name", "Bash"}},
       777);  // not among the fake's processes: another machine, a container, another user
  const SessionNode* remote = session("remote");
  ASSERT_NE(remote, nullptr);
  EXPECT_EQ(remote->process, ProcessStatus::notLocal);
  EXPECT_EQ(remote->pid, 777);
  at(599);
  EXPECT_FALSE(session("remote")->leaving);
  at(631);  // the idle timeout and the next sweep still end it
  EXPECT_TRUE(session("remote")->leaving);
}

TEST_F(CrewInterruptsTest, TheWatchFollowsTheNewestProcessOfASession) {
  crew.startReaper();
  processes->writers[5000] = 0;
  send({{"hook_event_name", "SessionStart"}, {"session_id", "s"}, {"cwd", "/p"}});
  EXPECT_EQ(session("s")->process, ProcessStatus::alive);
  // Resumed in another process: the first one's end no longer ends the session.
  send({{"hook_event_name", "UserPromptSubmit"}, {"session_id", "s"}, {"cwd", "/p"}}, 5000);
  end(kPid);
  EXPECT_FALSE(session("s")->leaving);
  end(5000);
  EXPECT_TRUE(session("s")->leaving);
  EXPECT_EQ(session("s")->process, ProcessStatus::gone);
  EXPECT_EQ(session("s")->main.state, AgentState::done);
  // What the dying CLI posted on its way out does not bring the session back.
  send({{"hook_event_name", "Stop"}, {"session_id", "s"}}, 5000);
  EXPECT_TRUE(session("s")->leaving);
  at(15);
  EXPECT_EQ(session("s"), nullptr);
  // Nor does a late "SessionEnd" make a new one.
  send({{"hook_event_name", "SessionEnd"}, {"session_id", "s"}}, 5000);
  EXPECT_TRUE(crew.sessions().empty());
}

TEST_F(CrewInterruptsTest, ClaudeSessionsFileEndsTheTurnAndItsRunningSubagents) {
  send({{"hook_event_name", "PreToolUse"},
        {"session_id", "c"},
        {"cwd", "/p"},
        {"tool_name", "Task"}});
  send({{"hook_event_name", "PreToolUse"},
        {"session_id", "c"},
        {"agent_id", "a1"},
        {"agent_type", "Explore"},
        {"tool_name", "Grep"}});
  ClaudeSessionFile file{kPid, "c", "/p", 1, "idle", loop.now() - 1s};
  crew.claudeSessionChanged(file);  // older than the newest event: about an earlier turn
  EXPECT_EQ(session("c")->main.state, AgentState::working);
  file.statusUpdatedAt = loop.now() + 90ms;
  crew.claudeSessionChanged(file);
  EXPECT_EQ(session("c")->main.state, AgentState::idle);
  EXPECT_EQ(session("c")->subagents.at(0).state, AgentState::done);
  at(30);
  EXPECT_TRUE(session("c")->subagents.empty());
  // A file of another process, or of a session we do not know, changes nothing.
  send({{"hook_event_name", "UserPromptSubmit"}, {"session_id", "c"}});
  crew.claudeSessionChanged({kPid + 1, "c", "/p", 1, "idle", loop.now() + 1s});
  crew.claudeSessionChanged({kPid, "unknown", "/p", 1, "idle", loop.now() + 1s});
  EXPECT_EQ(session("c")->main.state, AgentState::thinking);
  EXPECT_EQ(crew.sessions().size(), 1u);
}

TEST_F(CrewInterruptsTest, ClaudeSessionsFileTellsOfADeadProcess) {
  // No pidfds here, and no hint in the hooks: the file alone knows the process.
  processes->pidfds = false;
  send({{"hook_event_name", "UserPromptSubmit"}, {"session_id", "c"}, {"cwd", "/p"}}, std::nullopt);
  crew.claudeSessionChanged({kPid, "c", "/p", 1, "busy", loop.now()});
  EXPECT_EQ(session("c")->process, ProcessStatus::alive);
  processes->writers[kPid] = -1;  // killed: the file is left "busy"
  crew.claudeSessionChanged({kPid, "c", "/p", 1, "busy", loop.now()});
  EXPECT_TRUE(session("c")->leaving);

  // With a pidfd, the pidfd decides; a file deleted while the process runs changes nothing.
  processes->pidfds = true;
  processes->writers[kPid + 1] = 0;
  send({{"hook_event_name", "UserPromptSubmit"}, {"session_id", "d"}, {"cwd", "/p"}}, std::nullopt);
  crew.claudeSessionChanged({kPid + 1, "d", "/p", 1, "busy", loop.now()});
  EXPECT_EQ(session("d")->process, ProcessStatus::alive);
  crew.claudeSessionRemoved({kPid + 1, "d", "/p", 1, "busy", std::nullopt});
  EXPECT_FALSE(session("d")->leaving);
  end(kPid + 1);
  EXPECT_TRUE(session("d")->leaving);

  // A process that is not ours to check (a container sharing ~/.claude) is never judged by it.
  send({{"hook_event_name", "UserPromptSubmit"}, {"session_id", "e"}, {"cwd", "/p"}}, 999);
  EXPECT_EQ(session("e")->process, ProcessStatus::notLocal);
  crew.claudeSessionChanged({999, "e", "/p", 1, "busy", loop.now()});
  crew.claudeSessionRemoved({999, "e", "/p", 1, "busy", std::nullopt});
  EXPECT_FALSE(session("e")->leaving);
}

TEST_F(CrewInterruptsTest, SilentTurnsAreCheckedAgainstTheTranscriptsInterruptMarker) {
  struct Case {
    const char* name;
    std::string line;  // {T} is replaced by the marker's time
    bool ends;
  };
  const Case cases[] = {
      {"Claude Code",
       R"({"type":"user","message":{"content":[{"type":"text","text":"[Request interrupted by user for tool use]"}]},"timestamp":"{T}"})",
       true},
      {"Codex",
       R"({"timestamp":"{T}","type":"event_msg","payload":{"type":"turn_aborted","reason":"interrupted"}})",
       true},
      {"Gemini CLI", R"({"id":"1","timestamp":"{T}","type":"info","content":"Request cancelled."})",
       true},
      {"no marker", R"({"timestamp":"{T}","type":"assistant"})", false},
      {"a tool's output quoting a marker",
       R"({"type":"user","toolUseResult":"grep: \"text\":\"[Request interrupted by user\" \"type\":\"turn_aborted\"","timestamp":"{T}"})",
       false},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string id = "t" + std::to_string(index++);
    const std::filesystem::path transcript = home() / (id + ".jsonl");
    write(transcript, "");
    send({{"hook_event_name", "PreToolUse"},
          {"session_id", id},
          {"tool_name", "Bash"},
          {"transcript_path", transcript.string()}},
         std::nullopt);
    const auto stamp = [&](Scheduler::TimePoint when) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
      const std::time_t seconds = ms / 1000;
      std::tm utc{};
      ::gmtime_r(&seconds, &utc);
      char text[96];
      std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                    utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                    static_cast<int>(ms % 1000));
      std::string line = c.line;
      line.replace(line.find("{T}"), 3, text);
      return line;
    };
    // A marker from before the newest event belongs to an earlier turn.
    write(transcript, stamp(loop.now() - 2s) + "\n");
    loop.advance(21s);
    EXPECT_EQ(session(id)->main.state, AgentState::working);
    write(transcript, stamp(loop.now() - 2s) + "\n" + R"({"$set":{"lastUpdated":"x"}})" + "\n");
    loop.advance(21s);
    EXPECT_EQ(session(id)->main.state, c.ends ? AgentState::idle : AgentState::working);
    // An idle agent has nothing pending: no timer runs for it.
    if (c.ends) {
      EXPECT_EQ(loop.pendingTimers(), 0u);
    }
    send({{"hook_event_name", "SessionEnd"}, {"session_id", id}}, std::nullopt);
    loop.advance(20s);
  }
}

TEST_F(CrewInterruptsTest, CodexsSharedDaemonIsSeenThroughToTheSessionsOwnFrontEnd) {
  // Codex runs every terminal's hooks in one daemon: the hooks' pid and environment are its.
  const std::int64_t daemon = 7000, frontEnd = 7001;
  processes->daemon = daemon;
  processes->writers[daemon] = 0;
  processes->writers[frontEnd] = 0;
  processes->frontEnd = frontEnd;
  processes->frontEndTerminal.tmuxPane = "%3";
  const auto post = [&](const char* name, const char* windowId) {
    auto event = HookEvent::decode(
        Json{{"hook_event_name", name}, {"session_id", "x"}, {"cwd", "/p"}}.dump(), loop.now());
    event->pid = daemon;
    event->terminal.windowId = windowId;  // another terminal's, inherited by the daemon
    crew.reduce(*event);
    loop.runPending();
  };
  post("UserPromptSubmit", "111");
  EXPECT_EQ(session("x")->pid, frontEnd);
  EXPECT_EQ(session("x")->process, ProcessStatus::alive);
  TerminalHints own;
  own.tmuxPane = "%3";
  EXPECT_EQ(session("x")->terminal, own);
  post("PreToolUse", "222");
  EXPECT_EQ(session("x")->terminal, own);
  // The terminal closes: its front end ends; the daemon finishing the turn changes nothing.
  end(frontEnd);
  EXPECT_TRUE(session("x")->leaving);
  post("Stop", "111");
  EXPECT_TRUE(session("x")->leaving);

  // Two front ends in one folder: which is this session's cannot be told.
  processes->frontEnd.reset();
  post("SessionStart", "111");  // a new session id would do the same; this one is gone
  auto event = HookEvent::decode(
      R"({"hook_event_name":"UserPromptSubmit","session_id":"y","cwd":"/p"})", loop.now());
  event->pid = daemon;
  event->terminal.windowId = "111";
  crew.reduce(*event);
  EXPECT_EQ(session("y")->process, ProcessStatus::shared);
  EXPECT_TRUE(session("y")->terminal.empty());
}

TEST(LocalProcesses, FindsCodexsFrontEndBesideItsDaemon) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("codex-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::vector<std::string> terminal = {"WINDOWID=4242", "TMUX_PANE=%9"};
  // Stand-ins named as Codex names them: `codex … app-server` and `codex`.
  const auto start = [&](const std::string& command) {
    return std::make_unique<test::Program>(std::vector<std::string>{"bash", "-c", command},
                                           terminal, "/dev/null", "/dev/null", folder);
  };
  const auto daemon = start("exec -a codex bash -c 'sleep 60; :' app-server");
  const auto front = start("exec -a /usr/local/bin/codex sleep 60");
  LocalProcesses processes;
  std::optional<ProcessIdentity> frontEnd;
  for (int i = 0; i < 200 && !frontEnd; ++i) {
    ::usleep(10000);
    frontEnd = processes.codexFrontEnd(folder.string());
  }
  ASSERT_TRUE(frontEnd);
  EXPECT_EQ(frontEnd->pid, front->pid());
  const auto daemonIdentity = processes.verify(daemon->pid(), folder.string());
  ASSERT_TRUE(daemonIdentity);
  EXPECT_TRUE(processes.isSharedDaemon(*daemonIdentity));
  EXPECT_FALSE(processes.isSharedDaemon(*frontEnd));
  const TerminalHints hints = processes.terminalOf(*frontEnd);
  EXPECT_EQ(hints.windowId, "4242");
  EXPECT_EQ(hints.tmuxPane, "%9");
  // A second front end in the same folder: no telling which.
  const auto other = start("exec -a codex sleep 60");
  bool ambiguous = false;
  for (int i = 0; i < 200 && !ambiguous; ++i) {
    ::usleep(10000);
    ambiguous = !processes.codexFrontEnd(folder.string());
  }
  EXPECT_TRUE(ambiguous);
  for (test::Program* program : {daemon.get(), front.get(), other.get()}) program->kill();
  std::filesystem::remove_all(folder);
}

TEST(LocalProcesses, VerifiesALiveChildByItsFolderAndSeesItsEnd) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  test::Program sleeper({"sleep", "60"}, {}, "/dev/null", "/dev/null", folder);
  ASSERT_TRUE(sleeper.started());
  const pid_t child = sleeper.pid();
  LocalProcesses processes;
  std::optional<ProcessIdentity> identity;
  for (int i = 0; i < 200 && !identity; ++i) {
    identity = processes.verify(child, folder.string());
    if (!identity) ::usleep(5000);
  }
  ASSERT_TRUE(identity);
  EXPECT_FALSE(processes.verify(child, "/"));                       // works in another folder
  EXPECT_FALSE(processes.alive({child, identity->startTime + 1}));  // a reused pid is not ours
  LoopScheduler loop{Scheduler::TimePoint{}};
  const int fd = processes.exitDescriptor(*identity);
  ASSERT_GE(fd, 0);
  bool ended = false;
  Scheduler::WatchId watch = 0;
  watch = loop.watchReadable(fd, [&] {
    ended = true;
    loop.unwatch(watch);  // readable for good now
  });
  loop.runPending();
  EXPECT_FALSE(ended);
  sleeper.kill();
  loop.runPending();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(processes.alive(*identity));
  ::close(fd);
}

}  // namespace
}  // namespace tallyloft
