#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Scheduler.h"
#include "crew/ClaudeSessionFile.h"
#include "crew/ContextTokens.h"
#include "crew/LocalProcesses.h"
#include "crew/SessionNode.h"
#include "hooks/HookEvent.h"

namespace tallyloft {

// The live model of every CLI session and its agents, folded from hook events.
//
// Main-thread only: every call, and every timer and task it schedules, runs on the scheduler's
// main thread. Transcript reads run in the background and only their results come back. Timers
// and tasks refer to the model weakly: once it is destroyed they do nothing. Every change of
// `sessions()` notifies the observers, after the change.
class CrewModel {
 public:
  using Observer = std::function<void()>;

  static constexpr auto idleTimeout = std::chrono::seconds(600);
  static constexpr auto waitingTimeout = std::chrono::seconds(2700);
  static constexpr auto compactTimeout = std::chrono::seconds(180);
  static constexpr auto reaperInterval = std::chrono::seconds(30);
  static constexpr auto departureStep = std::chrono::milliseconds(200);
  static constexpr int departureSteps = 70;
  static constexpr auto subagentRemovalDelay = std::chrono::seconds(26);
  static constexpr auto contextReadSpacing = std::chrono::milliseconds(400);
  static constexpr auto compactCutOff = std::chrono::milliseconds(500);
  // The most CLI processes watched at once (a descriptor each); beyond, sessions keep timeouts.
  static constexpr std::size_t kMaxWatchedProcesses = 256;
  // Silence after which an active main agent's transcript is searched for an interrupt.
  static constexpr auto interruptCheckDelay = std::chrono::seconds(20);
  // What Gemini CLI reports as the tool's result when the user interrupts it.
  static constexpr std::string_view kGeminiToolCancelled = "Command cancelled by user.";

  explicit CrewModel(Scheduler& scheduler);
  CrewModel(const CrewModel&) = delete;
  CrewModel& operator=(const CrewModel&) = delete;
  ~CrewModel();

  // All sessions, in order of creation.
  const std::vector<SessionNode>& sessions() const { return sessions_; }
  // Sessions that have not ended (leaving ones have).
  int activeSessionCount() const;
  // Called after every change of sessions(). Returns an id for `unobserve`.
  std::size_t observe(Observer observer);
  void unobserve(std::size_t id);

  // Folds one hook event into the model. Events without a session id are ignored, and so is a
  // "SessionEnd" for a session the model does not hold (Gemini CLI sends it three times).
  //
  // The first event that names the CLI's process (its `pid` hint) has it checked: the user's
  // own process working in the event's folder is watched, and its end ends the session as a
  // "SessionEnd" would. A later event naming another process checks that one instead.
  void reduce(const HookEvent& event);

  // What a file of Claude Code's sessions directory says now: "idle" while the session's main
  // agent thinks or works ends the turn (an interrupt, which no hook reports), and a file left
  // "busy" by a process that is gone means the CLI died. Unknown sessions are ignored.
  void claudeSessionChanged(const ClaudeSessionFile& file);
  // A sessions file was deleted; `lastKnown` is what it said. When its process is gone, the
  // session ends (a normal exit also sends "SessionEnd").
  void claudeSessionRemoved(const ClaudeSessionFile& lastKnown);

  // The machine's processes as the model sees them; tests stand in for them.
  void setProcesses(std::unique_ptr<LocalProcesses> processes);

  // Starts the 30 s sweep unless it runs already.
  void startReaper();
  bool reaperRunning() const { return _reaper != 0; }
  // One sweep: ends stuck compactions, times out silent subagents and sessions.
  void reapStaleSessions();
  // Marks the session as leaving and removes it about 14 s later unless an event revives it.
  void beginLeaving(const std::string& sessionId);
  // Removes a stopped subagent 26 s from now if it is still done then.
  void scheduleRemoval(const std::string& sessionId, const std::optional<std::string>& agentId);
  // The scene has finished showing the session's compaction.
  void finishCompaction(const std::string& sessionId);

  // The context window guessed from a model name.
  static std::int64_t contextLimit(const std::optional<std::string>& model);

 private:
  std::size_t ensureSession(const std::string& sessionId, const std::optional<std::string>& cwd,
                            const std::optional<std::string>& model);
  // Applies `edit` to the main agent (no agent id) or to the subagent, created on first sight.
  void mutate(std::size_t index, const std::optional<std::string>& agentId,
              const std::optional<std::string>& agentType,
              const std::function<void(AgentNode&)>& edit);
  void refreshContext(const std::string& sessionId, const std::string& transcriptPath);
  // A background read is back (with nothing when the transcript showed no usage).
  void contextRead(const std::string& sessionId, const std::optional<ContextReading>& reading);
  void applyContextReading(const std::string& sessionId, const ContextReading& reading);
  void departureCheck(const std::string& sessionId, int count);
  // The turn ended without the CLI saying so: the main agent idles, running subagents finish.
  void endTurn(SessionNode& session, bool subagentsToo);
  // The CLI's process has gone: the session ends as on "SessionEnd".
  void processEnded(const std::string& sessionId);
  void linkProcess(SessionNode& session, std::int64_t pid, const std::optional<std::string>& cwd);
  void unlinkProcess(const std::string& sessionId);
  // The pid the session's hooks (or sessions file) named last, checked already.
  std::optional<std::int64_t> hintedPid(const std::string& sessionId) const;
  // (Re)arms or stops the transcript check for an interrupt after the session's latest event.
  void armInterruptCheck(SessionNode& session);
  void checkForInterrupt(const std::string& sessionId, Timestamp armedAt);
  void forget(const std::string& sessionId);
  SessionNode* find(const std::string& sessionId);
  void changed();
  // Runs `task` only while this model is alive.
  Scheduler::Task guarded(std::function<void(CrewModel&)> task);

  Scheduler& scheduler_;
  std::vector<SessionNode> sessions_;
  Scheduler::TimerId _reaper = 0;
  std::unordered_map<std::string, Timestamp> _lastCtxRead;
  std::unordered_map<std::string, std::int64_t> _preCompactTokens;
  std::unordered_map<std::string, Timestamp> _compactStartedAt;
  // Sessions with a transcript read in flight → the path of the read requested meanwhile.
  std::unordered_map<std::string, std::optional<std::string>> ctxReadsInFlight_;
  std::unique_ptr<LocalProcesses> processes_;
  // The watched CLI process of each local session.
  struct ProcessLink {
    ProcessIdentity identity;
    int fd = -1;
    Scheduler::WatchId watch = 0;
  };
  std::unordered_map<std::string, ProcessLink> processLinks_;
  std::unordered_map<std::string, std::int64_t> hintedPids_;
  // Sessions whose main agent is active → the pending transcript check.
  std::unordered_map<std::string, Scheduler::TimerId> interruptChecks_;
  std::map<std::size_t, Observer> observers_;
  std::size_t nextObserver_ = 1;
  std::shared_ptr<CrewModel*> self_;  // weak references to it tell whether the model lives
};

}  // namespace tallyloft
