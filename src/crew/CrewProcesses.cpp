// The CLIs' processes and the turns that end without a hook saying so: the process watch, the
// transcript's interrupt note, and Claude Code's sessions files.
#include <unistd.h>

#include "crew/CrewModel.h"
#include "crew/TranscriptInterrupt.h"

namespace tallyloft {

void CrewModel::endTurn(SessionNode& session, bool subagentsToo) {
  if (session.main.isBusy()) session.main.state = AgentState::idle;
  session.main.clearTool();
  if (!subagentsToo) return;
  for (AgentNode& agent : session.subagents) {
    if (agent.state == AgentState::done) continue;
    agent.state = AgentState::done;
    agent.clearTool();
    scheduleRemoval(session.id, agent.id);
  }
}

void CrewModel::linkProcess(SessionNode& session, std::int64_t pid,
                            const std::optional<std::string>& cwd) {
  if (hintedPid(session.id) == pid && session.process != ProcessStatus::unknown) return;
  unlinkProcess(session.id);
  hintedPids_[session.id] = pid;
  session.pid = pid;
  auto identity = cwd ? processes_->verify(pid, *cwd) : std::nullopt;
  if (!identity) {
    session.process = ProcessStatus::notLocal;
    return;
  }
  if (processes_->isSharedDaemon(*identity)) {
    // Codex runs the hooks of all its terminals in one daemon that outlives them: watch the
    // session's own front end instead, and take its terminal from its environment.
    identity = processes_->codexFrontEnd(*cwd);
    if (!identity) {
      session.process = ProcessStatus::shared;
      session.terminal = {};
      session.terminalFromProcess = true;
      return;
    }
    session.terminal = processes_->terminalOf(*identity);
    session.terminalFromProcess = true;
    session.pid = identity->pid;
  }
  session.process = ProcessStatus::alive;
  // Past the limit, further sessions keep their timeouts instead of a descriptor each.
  const int fd =
      processLinks_.size() < kMaxWatchedProcesses ? processes_->exitDescriptor(*identity) : -1;
  if (fd < 0) {
    // Gone between the check and now; or no pidfd to be had, where the timeouts stay.
    if (!processes_->alive(*identity)) {
      scheduler_.post(guarded([sid = session.id, pid](CrewModel& model) {
        // Only if the session still names that process: a newer one may have taken over.
        if (model.find(sid) != nullptr && model.hintedPid(sid) == pid) {
          model.processEnded(sid);
        }
      }));
    }
    return;
  }
  ProcessLink link{*identity, fd, 0};
  link.watch = scheduler_.watchReadable(
      fd, guarded([sid = session.id](CrewModel& model) { model.processEnded(sid); }));
  processLinks_[session.id] = link;
}

void CrewModel::unlinkProcess(const std::string& sessionId) {
  const auto it = processLinks_.find(sessionId);
  if (it == processLinks_.end()) return;
  scheduler_.unwatch(it->second.watch);
  ::close(it->second.fd);
  processLinks_.erase(it);
}

void CrewModel::processEnded(const std::string& sessionId) {
  unlinkProcess(sessionId);
  SessionNode* session = find(sessionId);
  if (session == nullptr || session->process != ProcessStatus::alive) return;
  session->process = ProcessStatus::gone;
  if (const auto check = interruptChecks_.find(sessionId); check != interruptChecks_.end()) {
    scheduler_.cancel(check->second);
    interruptChecks_.erase(check);
  }
  session->main.state = AgentState::done;
  session->main.clearTool();
  beginLeaving(sessionId);
  changed();
}

void CrewModel::armInterruptCheck(SessionNode& session) {
  if (const auto check = interruptChecks_.find(session.id); check != interruptChecks_.end()) {
    scheduler_.cancel(check->second);
    interruptChecks_.erase(check);
  }
  if (session.leaving || !session.main.isBusy() || !session.transcriptPath) return;
  interruptChecks_[session.id] =
      scheduler_.after(interruptCheckDelay,
                       guarded([sid = session.id, armedAt = session.lastActivity](
                                   CrewModel& model) { model.checkForInterrupt(sid, armedAt); }));
}

void CrewModel::checkForInterrupt(const std::string& sessionId, Timestamp armedAt) {
  interruptChecks_.erase(sessionId);
  const SessionNode* session = find(sessionId);
  if (session == nullptr || session->lastActivity != armedAt || session->leaving ||
      !session->main.isBusy() || !session->transcriptPath) {
    return;
  }
  // The read runs off the main thread; the result is applied only if nothing happened since.
  scheduler_.background([&scheduler = scheduler_, model = std::weak_ptr<CrewModel*>(self_),
                         sessionId, armedAt, path = *session->transcriptPath] {
    const auto interrupted = lastInterrupt(path);
    scheduler.post([model, sessionId, armedAt, interrupted] {
      auto alive = model.lock();
      if (!alive) return;
      CrewModel& self = **alive;
      SessionNode* current = self.find(sessionId);
      if (current == nullptr || current->lastActivity != armedAt || current->leaving ||
          !current->main.isBusy()) {
        return;
      }
      // Only an interrupt written after the session's latest event ends this turn.
      if (interrupted && *interrupted > armedAt) {
        self.endTurn(*current, false);
        self.changed();
        return;
      }
      self.interruptChecks_[sessionId] = self.scheduler_.after(
          interruptCheckDelay, self.guarded([sessionId, armedAt](CrewModel& again) {
            again.checkForInterrupt(sessionId, armedAt);
          }));
    });
  });
}

void CrewModel::claudeSessionChanged(const ClaudeSessionFile& file) {
  SessionNode* session = find(file.sessionId);
  if (session == nullptr || session->leaving) return;
  // The file names the process even when the hooks did not (an older install).
  if (session->process == ProcessStatus::unknown) {
    linkProcess(*session, file.pid, file.cwd ? file.cwd : session->cwd);
  }
  if (session->pid && *session->pid != file.pid) return;  // another process's file
  if (file.status == "idle") {
    // Only a change newer than the session's latest event tells about this turn.
    if (file.statusUpdatedAt && *file.statusUpdatedAt < session->lastActivity) return;
    if (!session->main.isBusy()) return;
    endTurn(*session, true);
    armInterruptCheck(*session);
    changed();
  } else if (file.status == "busy" && file.procStart && session->process == ProcessStatus::alive &&
             processLinks_.count(session->id) == 0 &&
             !processes_->alive(ProcessIdentity{file.pid, *file.procStart})) {
    // Only for a process of ours that no pidfd watches (the pidfd knows better), never for one
    // that is not local (a container sharing ~/.claude has pids of its own).
    processEnded(session->id);
  }
}

void CrewModel::claudeSessionRemoved(const ClaudeSessionFile& lastKnown) {
  SessionNode* session = find(lastKnown.sessionId);
  if (session == nullptr || session->leaving || !lastKnown.procStart) return;
  if (session->pid && *session->pid != lastKnown.pid) return;
  // A watched process tells of its end itself; one that is not local is not ours to judge.
  if (processLinks_.count(session->id) != 0 || session->process == ProcessStatus::notLocal ||
      session->process == ProcessStatus::gone) {
    return;
  }
  if (processes_->alive(ProcessIdentity{lastKnown.pid, *lastKnown.procStart})) return;
  session->process = ProcessStatus::alive;  // it was; now it has ended
  processEnded(session->id);
}

std::optional<std::int64_t> CrewModel::hintedPid(const std::string& sessionId) const {
  const auto it = hintedPids_.find(sessionId);
  if (it == hintedPids_.end()) return std::nullopt;
  return it->second;
}

}  // namespace tallyloft
