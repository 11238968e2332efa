#include "shell/TerminalFocus.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <charconv>
#include <chrono>
#include <memory>

namespace tallyloft {
namespace {

std::optional<std::pair<int, QString>> runProgram(const QString& program,
                                                  const QStringList& arguments) {
  const QString path = QStandardPaths::findExecutable(program);
  if (path.isEmpty()) return std::nullopt;
  QProcess process;
  process.setProgram(path);
  process.setArguments(arguments);
  process.setStandardInputFile(QProcess::nullDevice());
  process.start();
  if (!process.waitForFinished(1000)) {
    process.kill();
    process.waitForFinished(100);
    return std::nullopt;
  }
  if (process.exitStatus() != QProcess::NormalExit) return std::nullopt;
  return std::make_pair(process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()));
}

QString q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

QString ownedTmuxSocket(const std::string& tmux) {
  const std::string socket = tmux.substr(0, tmux.find(','));
  struct stat info {};
  if (socket.empty() || socket.front() != '/' || ::lstat(socket.c_str(), &info) != 0 ||
      !S_ISSOCK(info.st_mode) || info.st_uid != ::getuid()) {
    return {};
  }
  return q(socket);
}

TerminalFocus::TerminalFocus(QObject* parent) : QObject(parent), run(runProgram) {}

QString TerminalFocus::unreachable(const SessionNode& session) {
  switch (session.process) {
    case ProcessStatus::alive:
      return {};
    case ProcessStatus::gone:
      return "Its CLI has exited";
    case ProcessStatus::notLocal:
      return "Its terminal is not on this machine";
    case ProcessStatus::shared:
      return "Its CLI's daemon serves several terminals: which one is not known";
    case ProcessStatus::unknown:
      break;
  }
  return "Terminal unknown: install its hooks again";
}

std::optional<X11Windows::Window> TerminalFocus::windowOf(const SessionNode& session) {
  if (!unreachable(session).isEmpty() || !windows.available() || !session.pid) return std::nullopt;
  if (session.terminal.windowId && !session.terminal.tmux) {
    const std::string& text = *session.terminal.windowId;
    X11Windows::Window id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error == std::errc() && end == text.data() + text.size() && id != 0) {
      if (auto held = windows.clientHolding(id)) return held;
    }
  }
  return windows.clientOfProcesses(X11Windows::processAndAncestors(*session.pid));
}

bool TerminalFocus::isActive(const SessionNode& session) {
  const auto active = windows.activeWindow();
  if (!active) return false;
  const auto window = windowOf(session);
  return window && *window == *active;
}

std::optional<X11Windows::Window> TerminalFocus::focusTmux(const SessionNode& session,
                                                           QString* why) {
  const QString socket = ownedTmuxSocket(*session.terminal.tmux);
  if (socket.isEmpty()) {
    *why = "Its tmux server is not one of yours";
    return std::nullopt;
  }
  const QString pane = q(*session.terminal.tmuxPane);
  const auto tmux = [&](QStringList arguments) {
    arguments.prepend(socket);
    arguments.prepend("-S");
    return run("tmux", arguments);
  };
  const auto paneSession = tmux({"display-message", "-p", "-t", pane, "#{session_name}"});
  if (!paneSession || paneSession->first != 0) {
    *why = "Its tmux pane is gone";
    return std::nullopt;
  }
  const QString sessionName = paneSession->second.trimmed();
  // The client that looks at the pane's session, the most recently used one first; else any
  // client, switched to it.
  const auto clients = tmux(
      {"list-clients", "-F", "#{client_activity} #{client_pid} #{client_tty} #{session_name}"});
  long long bestActivity = -1;
  QString bestTty;
  long long bestPid = 0;
  bool bestOnSession = false;
  for (const QString& line :
       clients ? clients->second.split('\n', Qt::SkipEmptyParts) : QStringList()) {
    const QStringList fields = line.split(' ');
    if (fields.size() < 4) continue;
    const bool onSession = fields.mid(3).join(' ') == sessionName;
    const long long activity = fields[0].toLongLong();
    if ((onSession && !bestOnSession) || (onSession == bestOnSession && activity > bestActivity)) {
      bestActivity = activity;
      bestPid = fields[1].toLongLong();
      bestTty = fields[2];
      bestOnSession = onSession;
    }
  }
  if (bestPid <= 0) {
    *why = "No terminal is attached to its tmux session";
    return std::nullopt;
  }
  if (!bestOnSession) tmux({"switch-client", "-c", bestTty, "-t", pane});
  tmux({"select-window", "-t", pane});
  tmux({"select-pane", "-t", pane});
  if (auto window = windows.clientOfProcesses(X11Windows::processAndAncestors(bestPid))) {
    return window;
  }
  *why = kCannot;
  return std::nullopt;
}

void TerminalFocus::focus(const SessionNode& session, Done done) {
  if (const QString why = unreachable(session); !why.isEmpty()) {
    done({false, why});
    return;
  }
  const TerminalHints& hints = session.terminal;
  std::optional<X11Windows::Window> window;
  if (hints.tmux && hints.tmuxPane) {
    QString why;
    window = focusTmux(session, &why);
    if (!window) {
      done({false, why});
      return;
    }
  } else {
    // The terminal's own remote control picks the tab; the window is activated below.
    if (hints.kittyWindowId)
      run("kitty", {"@", "focus-window", "--match", "id:" + q(*hints.kittyWindowId)});
    if (hints.weztermPane)
      run("wezterm", {"cli", "activate-pane", "--pane-id", q(*hints.weztermPane)});
    window = windowOf(session);
  }
  if (!window) {
    done({false, kCannot});
    return;
  }
  windows.activate(*window);
  confirm(*window, std::move(done));
}

void TerminalFocus::confirm(X11Windows::Window window, Done done) {
  // Poll the active window briefly: the window manager answers in a few milliseconds, or not.
  auto* timer = new QTimer(this);
  timer->setInterval(10);
  const auto started = std::chrono::steady_clock::now();
  connect(timer, &QTimer::timeout, this, [this, timer, window, started, done = std::move(done)] {
    const bool active = windows.activeWindow() == window;
    const bool late =
        std::chrono::steady_clock::now() - started > std::chrono::milliseconds(kConfirmMs);
    if (!active && !late) return;
    timer->stop();
    timer->deleteLater();
    done(active ? Result{true, {}} : Result{false, kCannot});
  });
  timer->start();
}

}  // namespace tallyloft
