#include "crew/CrewModel.h"

#include <algorithm>
#include <array>

#include "base/Text.h"
#include "crew/ContextTokens.h"

namespace tallyloft {
namespace {

// Events that count as activity when a session's transcript cannot be sampled.
bool isActivityEvent(std::string_view name) {
  static constexpr std::array<std::string_view, 8> kNames = {
      "UserPromptSubmit", "BeforeAgent", "PreToolUse", "BeforeTool",
      "PostToolUse",      "AfterTool",   "Stop",       "AfterAgent"};
  return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

// The prompt as a one-line task: trimmed, line feeds as two spaces, at most 60 characters.
std::optional<std::string> taskFromPrompt(const std::string& prompt) {
  const std::string_view trimmed = trimWhitespace(prompt);
  if (trimmed.empty()) return std::nullopt;
  std::string line;
  line.reserve(trimmed.size());
  for (char c : trimmed) {
    if (c == '\n') {
      line += "  ";
    } else {
      line += c;
    }
  }
  return std::string(prefixGraphemes(line, 60));
}

bool containsPermission(const std::optional<std::string>& message) {
  return message && asciiLower(*message).find("permission") != std::string::npos;
}

// Which CLI sent an event, when the event tells: by the names only Gemini CLI or Codex uses, or
// by where the transcript lives.
std::optional<std::string> cliOf(const HookEvent& event) {
  static constexpr std::array<std::string_view, 8> kGemini = {
      "BeforeAgent", "AfterAgent",          "BeforeTool", "AfterTool",
      "BeforeModel", "BeforeToolSelection", "AfterModel", "PreCompress"};
  const std::string& name = event.hookEventName;
  if (std::find(kGemini.begin(), kGemini.end(), name) != kGemini.end()) return "gemini";
  if (name == "Interrupt" || name == "PreModelRequest") return "codex";
  if (!event.transcriptPath) return std::nullopt;
  const std::string& path = *event.transcriptPath;
  for (const char* cli : {"claude", "codex", "gemini"}) {
    if (path.find(std::string("/.") + cli + "/") != std::string::npos) return cli;
  }
  return std::nullopt;
}

}  // namespace

CrewModel::CrewModel(Scheduler& scheduler)
    : scheduler_(scheduler),
      processes_(std::make_unique<LocalProcesses>()),
      self_(std::make_shared<CrewModel*>(this)) {}

CrewModel::~CrewModel() {
  if (_reaper != 0) scheduler_.cancel(_reaper);
  for (const auto& [sessionId, timer] : interruptChecks_) scheduler_.cancel(timer);
  while (!processLinks_.empty()) unlinkProcess(processLinks_.begin()->first);
}

void CrewModel::setProcesses(std::unique_ptr<LocalProcesses> processes) {
  processes_ = std::move(processes);
}

int CrewModel::activeSessionCount() const {
  return static_cast<int>(std::count_if(sessions_.begin(), sessions_.end(),
                                        [](const SessionNode& session) { return !session.ended; }));
}

std::size_t CrewModel::observe(Observer observer) {
  observers_.emplace(nextObserver_, std::move(observer));
  return nextObserver_++;
}

void CrewModel::unobserve(std::size_t id) {
  observers_.erase(id);
}

void CrewModel::changed() {
  if (observers_.empty()) return;
  // An observer may unobserve while we notify: walk a copy of the ids.
  std::vector<std::size_t> ids;
  ids.reserve(observers_.size());
  for (const auto& [id, observer] : observers_) ids.push_back(id);
  for (std::size_t id : ids) {
    if (auto it = observers_.find(id); it != observers_.end()) it->second();
  }
}

Scheduler::Task CrewModel::guarded(std::function<void(CrewModel&)> task) {
  return [model = std::weak_ptr<CrewModel*>(self_), task = std::move(task)] {
    if (auto alive = model.lock()) task(**alive);
  };
}

SessionNode* CrewModel::find(const std::string& sessionId) {
  for (SessionNode& session : sessions_) {
    if (session.id == sessionId) return &session;
  }
  return nullptr;
}

std::int64_t CrewModel::contextLimit(const std::optional<std::string>& model) {
  const std::string name = asciiLower(model.value_or(""));
  const auto has = [&name](std::string_view word) { return name.find(word) != std::string::npos; };
  if (has("1m") || has("gemini")) return 1'000'000;
  if (has("gpt") || has("codex") || has("o3") || has("o4")) return 400'000;
  return 200'000;
}

std::size_t CrewModel::ensureSession(const std::string& sessionId,
                                     const std::optional<std::string>& cwd,
                                     const std::optional<std::string>& model) {
  for (std::size_t i = 0; i < sessions_.size(); ++i) {
    if (sessions_[i].id == sessionId) return i;
  }
  const Timestamp now = scheduler_.now();
  SessionNode session;
  session.id = sessionId;
  session.cwd = cwd;
  session.model = model;
  session.startedAt = now;
  session.lastActivity = now;
  session.main = AgentNode::make("main:" + sessionId, "main", true, now);
  session.contextLimit = contextLimit(model);
  sessions_.push_back(std::move(session));
  return sessions_.size() - 1;
}

void CrewModel::mutate(std::size_t index, const std::optional<std::string>& agentId,
                       const std::optional<std::string>& agentType,
                       const std::function<void(AgentNode&)>& edit) {
  SessionNode& session = sessions_[index];
  const Timestamp now = scheduler_.now();
  if (!agentId) {
    edit(session.main);
    session.main.lastActivity = now;
    return;
  }
  for (AgentNode& agent : session.subagents) {
    if (agent.id == *agentId) {
      edit(agent);
      agent.lastActivity = now;
      return;
    }
  }
  AgentNode agent = AgentNode::make(*agentId, agentType.value_or("agent"), false, now);
  edit(agent);
  session.subagents.push_back(std::move(agent));
}

void CrewModel::reduce(const HookEvent& event) {
  if (!event.sessionId || event.sessionId->empty()) return;
  const std::string& sid = *event.sessionId;
  const std::string& name = event.hookEventName;
  const Timestamp at = event.receivedAt;
  // A late "SessionEnd" must not bring back a session that has already gone.
  if (name == "SessionEnd" && find(sid) == nullptr) return;
  // Nor may an event the CLI posted just before its process ended revive the session.
  if (const SessionNode* known = find(sid); known != nullptr &&
                                            known->process == ProcessStatus::gone && event.pid &&
                                            hintedPid(sid) == event.pid) {
    return;
  }
  const std::size_t index = ensureSession(sid, event.cwd, event.model);
  SessionNode& session = sessions_[index];
  session.lastActivity = at;
  if (!session.cli) session.cli = cliOf(event);
  if (event.transcriptPath && !event.transcriptPath->empty()) {
    session.transcriptPath = event.transcriptPath;
  }
  if (!event.terminal.empty() && !session.terminalFromProcess) session.terminal = event.terminal;

  // An event for a leaving session brings it back.
  if (session.leaving && name != "SessionEnd") {
    session.leaving = false;
    session.ended = false;
    if (session.main.state == AgentState::done) session.main.state = AgentState::idle;
  }

  // A compaction the CLI never reported finished ends with the next ordinary event.
  if (session.compacting && !session.compactDelivered && name != "PreCompact" &&
      name != "PostCompact") {
    const auto started = _compactStartedAt.find(sid);
    if (started == _compactStartedAt.end() || at - started->second > compactCutOff) {
      session.compacting = false;
      _preCompactTokens.erase(sid);
      _compactStartedAt.erase(sid);
    }
  }

  // Sample the context size, at most every 0.4 s per session.
  if (!event.agentId && !session.compacting) {
    const auto last = _lastCtxRead.find(sid);
    if (last == _lastCtxRead.end() || at - last->second > contextReadSpacing) {
      _lastCtxRead[sid] = at;
      if (event.transcriptPath && !event.transcriptPath->empty()) {
        refreshContext(sid, *event.transcriptPath);
      } else if (isActivityEvent(name)) {
        session.clutter = std::min(session.clutter + 1, session.paperCap());
      }
    }
  }

  const auto onAgent = [&](const std::function<void(AgentNode&)>& edit) {
    mutate(index, event.agentId, event.agentType, edit);
  };
  const auto onMain = [&](const std::function<void(AgentNode&)>& edit) {
    mutate(index, std::nullopt, std::nullopt, edit);
  };

  if (name == "SessionStart") {
    if (event.model) session.model = event.model;
    if (event.cwd) session.cwd = event.cwd;
    session.contextLimit = contextLimit(event.model ? event.model : session.model);
    session.ended = false;
    session.main.state = AgentState::thinking;
  } else if (name == "SessionEnd") {
    onMain([](AgentNode& agent) {
      agent.state = AgentState::done;
      agent.clearTool();
    });
    beginLeaving(sid);
  } else if (name == "UserPromptSubmit" || name == "BeforeAgent") {
    if (event.prompt) {
      if (auto task = taskFromPrompt(*event.prompt)) session.currentTask = std::move(task);
    }
    onMain([](AgentNode& agent) { agent.state = AgentState::thinking; });
  } else if (name == "PreToolUse" || name == "BeforeTool") {
    if (event.toolName == "AskUserQuestion") {
      onAgent([](AgentNode& agent) {
        agent.state = AgentState::waiting;
        agent.waitReason = WaitReason::question;
        agent.clearTool();
      });
    } else {
      const ToolKind kind = toolKind(event.toolName);
      std::optional<std::string> target =
          kind == ToolKind::phone ? mcpServer(event.toolName) : event.target();
      onAgent([&](AgentNode& agent) {
        agent.state = AgentState::working;
        agent.currentTool = kind;
        agent.currentTarget = std::move(target);
        ++agent.toolCount;
        agent.lastActivity = at;
      });
    }
  } else if (name == "PostToolUse" || name == "AfterTool") {
    onAgent([](AgentNode& agent) {
      if (agent.state != AgentState::done) agent.state = AgentState::thinking;
      agent.clearTool();
    });
    // Gemini CLI reports an interrupted tool this way, and nothing after it.
    if (name == "AfterTool" && event.toolResponseDisplay == kGeminiToolCancelled) {
      endTurn(session, false);
    }
  } else if (name == "PostToolUseFailure") {
    onAgent([](AgentNode& agent) {
      if (agent.state != AgentState::done) agent.state = AgentState::error;
      agent.clearTool();
    });
  } else if (name == "SubagentStart") {
    onAgent([](AgentNode& agent) { agent.state = AgentState::thinking; });
  } else if (name == "SubagentStop") {
    onAgent([](AgentNode& agent) {
      agent.state = AgentState::done;
      agent.clearTool();
    });
    scheduleRemoval(sid, event.agentId);
  } else if (name == "PermissionRequest") {
    onAgent([](AgentNode& agent) {
      agent.state = AgentState::waiting;
      agent.waitReason = WaitReason::permission;
      agent.clearTool();
    });
  } else if (name == "Notification") {
    const bool permission = containsPermission(event.message);
    onMain([permission](AgentNode& agent) {
      if (permission) {
        agent.state = AgentState::waiting;
        agent.waitReason = WaitReason::permission;
      } else if (agent.state != AgentState::waiting) {
        agent.state = AgentState::idle;
      }
    });
  } else if (name == "Stop" || name == "AfterAgent" || name == "Interrupt") {
    onMain([](AgentNode& agent) {
      if (agent.state != AgentState::done) agent.state = AgentState::idle;
      agent.clearTool();
    });
  } else if (name == "PreCompact") {
    session.compacting = true;
    session.compactDelivered = false;
    session.compactTrigger = event.trigger;
    _compactStartedAt[sid] = at;
    if (auto tokens = contextTokens(event.transcriptPath)) {
      _preCompactTokens[sid] = *tokens;
    } else {
      _preCompactTokens.erase(sid);
    }
  } else if (name == "PostCompact") {
    session.compactDelivered = true;
    session.clutter = 0;
  }
  if (event.pid) linkProcess(session, *event.pid, event.cwd ? event.cwd : session.cwd);
  armInterruptCheck(session);
  changed();
}

void CrewModel::refreshContext(const std::string& sessionId, const std::string& transcriptPath) {
  // One read per session at a time: a transcript on a stalled mount then holds one background
  // thread, not all of them. A request made meanwhile runs once the read in flight is back.
  if (auto [entry, first] = ctxReadsInFlight_.try_emplace(sessionId); !first) {
    entry->second = transcriptPath;
    return;
  }
  // The read runs off the main thread and must not touch the model; only its result comes back.
  scheduler_.background([&scheduler = scheduler_, model = std::weak_ptr<CrewModel*>(self_),
                         sessionId, transcriptPath] {
    auto reading = readContext(transcriptPath);
    scheduler.post([model, sessionId, reading = std::move(reading)] {
      if (auto alive = model.lock()) (*alive)->contextRead(sessionId, reading);
    });
  });
}

void CrewModel::contextRead(const std::string& sessionId,
                            const std::optional<ContextReading>& reading) {
  std::optional<std::string> next;
  if (auto entry = ctxReadsInFlight_.find(sessionId); entry != ctxReadsInFlight_.end()) {
    next = std::move(entry->second);
    ctxReadsInFlight_.erase(entry);
  }
  if (reading) applyContextReading(sessionId, *reading);
  if (next && find(sessionId) != nullptr) refreshContext(sessionId, *next);
}

void CrewModel::applyContextReading(const std::string& sessionId, const ContextReading& reading) {
  SessionNode* session = find(sessionId);
  if (session == nullptr) return;
  const std::int64_t tokens = reading.tokens;
  if (auto pre = _preCompactTokens.find(sessionId); pre != _preCompactTokens.end()) {
    // Until a read shows the compaction took effect, the old size stands.
    if (pre->second <= tokens) return;
    _preCompactTokens.erase(pre);
  }
  session->contextTokens = tokens;
  // The limit only grows: from the window or model the transcript names (Gemini's hooks name no
  // model), and from the bracket that holds the tokens.
  std::int64_t limit = std::max(session->contextLimit, contextBracket(tokens));
  if (reading.window) limit = std::max(limit, *reading.window);
  if (reading.model) limit = std::max(limit, contextLimit(reading.model));
  session->contextLimit = limit;
  const double fill =
      std::min(static_cast<double>(tokens) /
                   static_cast<double>(std::max<std::int64_t>(session->contextLimit, 1)),
               1.0);
  session->clutter = static_cast<std::int64_t>(fill * static_cast<double>(session->paperCap()));
  changed();
}

void CrewModel::startReaper() {
  if (_reaper != 0) return;
  _reaper = scheduler_.every(reaperInterval,
                             guarded([](CrewModel& model) { model.reapStaleSessions(); }));
}

void CrewModel::reapStaleSessions() {
  const Timestamp now = scheduler_.now();
  bool touched = false;
  const std::size_t count = sessions_.size();
  for (std::size_t i = 0; i < count && i < sessions_.size(); ++i) {
    SessionNode& session = sessions_[i];
    if (session.leaving) continue;
    if (session.compacting) {
      if (auto started = _compactStartedAt.find(session.id);
          started != _compactStartedAt.end() && now - started->second > compactTimeout) {
        session.compacting = false;
        session.compactDelivered = false;
        _compactStartedAt.erase(started);
        touched = true;
      }
    }
    const auto silentTooLong = [now](const AgentNode& agent) {
      const auto limit = agent.state == AgentState::waiting ? waitingTimeout : idleTimeout;
      return now - agent.lastActivity > limit;
    };
    touched |= std::erase_if(session.subagents, silentTooLong) > 0;
    const bool anyWaiting =
        session.main.state == AgentState::waiting ||
        std::any_of(session.subagents.begin(), session.subagents.end(),
                    [](const AgentNode& agent) { return agent.state == AgentState::waiting; });
    if (now - session.lastActivity > (anyWaiting ? waitingTimeout : idleTimeout)) {
      beginLeaving(std::string(session.id));
    }
  }
  if (touched) changed();
}

void CrewModel::beginLeaving(const std::string& sessionId) {
  SessionNode* session = find(sessionId);
  if (session == nullptr || session->leaving) return;
  session->leaving = true;
  session->ended = true;
  session->compacting = false;
  changed();
  scheduler_.after(departureStep,
                   guarded([sessionId](CrewModel& model) { model.departureCheck(sessionId, 0); }));
}

void CrewModel::departureCheck(const std::string& sessionId, int count) {
  const SessionNode* session = find(sessionId);
  if (session == nullptr || !session->leaving) return;  // gone, or revived by an event
  if (++count < departureSteps) {
    scheduler_.after(departureStep, guarded([sessionId, count](CrewModel& model) {
                       model.departureCheck(sessionId, count);
                     }));
    return;
  }
  std::erase_if(sessions_, [&](const SessionNode& each) { return each.id == sessionId; });
  forget(sessionId);
  changed();
}

void CrewModel::forget(const std::string& sessionId) {
  unlinkProcess(sessionId);
  hintedPids_.erase(sessionId);
  if (const auto check = interruptChecks_.find(sessionId); check != interruptChecks_.end()) {
    scheduler_.cancel(check->second);
    interruptChecks_.erase(check);
  }
  _lastCtxRead.erase(sessionId);
  _preCompactTokens.erase(sessionId);
  _compactStartedAt.erase(sessionId);
}

void CrewModel::scheduleRemoval(const std::string& sessionId,
                                const std::optional<std::string>& agentId) {
  if (!agentId) return;
  scheduler_.after(subagentRemovalDelay, guarded([sessionId, agentId = *agentId](CrewModel& model) {
                     SessionNode* session = model.find(sessionId);
                     if (session == nullptr) return;
                     const auto removed =
                         std::erase_if(session->subagents, [&](const AgentNode& agent) {
                           return agent.id == agentId && agent.state == AgentState::done;
                         });
                     if (removed > 0) model.changed();
                   }));
}

void CrewModel::finishCompaction(const std::string& sessionId) {
  SessionNode* session = find(sessionId);
  if (session == nullptr) return;
  session->compacting = false;
  session->compactDelivered = false;
  _compactStartedAt.erase(sessionId);
  changed();
}

}  // namespace tallyloft
