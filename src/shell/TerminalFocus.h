#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "crew/SessionNode.h"
#include "shell/X11Windows.h"

class QTimer;

namespace tallyloft {

// Brings a session's terminal forward: the tmux pane it runs in (that pane's window and the pane
// itself on that server, then the terminal of the tmux client attached to it), kitty's or
// WezTerm's own tab through their remote control, and the X11 or XWayland window, found by
// WINDOWID or as the first top-level window owned by the CLI's process or one of its
// ancestors. It then checks that the window really became active and says so when it did not:
// a native Wayland terminal cannot be activated by another program.
//
// The hints come from any local process, so it acts only for a session whose CLI process was
// verified as the user's own, uses a tmux socket only when the user owns it, passes every value
// as a separate argument (never through a shell), and activates only windows that exist on the
// app's display. Main-thread only.
class TerminalFocus : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kCannot = "Can't bring that terminal forward on this desktop";
  // How long the window manager may take to activate the window.
  static constexpr int kConfirmMs = 1000;

  struct Result {
    bool ok = false;
    QString message;  // why not, for the user; empty on success
  };
  using Done = std::function<void(Result)>;
  // Runs a program with arguments and returns its exit status and standard output, or nothing
  // when it cannot be run or takes longer than a second. Tests stand in for it.
  using Runner = std::function<std::optional<std::pair<int, QString>>(
      const QString& program, const QStringList& arguments)>;

  explicit TerminalFocus(QObject* parent = nullptr);

  // Why the session's terminal cannot be reached at all, before trying; empty when it may be.
  static QString unreachable(const SessionNode& session);
  // Tries, then calls `done` once on the main thread with what really happened.
  void focus(const SessionNode& session, Done done);
  // The top-level window of the session's terminal, when it can be found.
  std::optional<X11Windows::Window> windowOf(const SessionNode& session);
  // Whether that window is the active one now (the user is looking at it).
  bool isActive(const SessionNode& session);

  Runner run;
  X11Windows windows;

 private:
  // The tmux client's terminal for the session's pane, after selecting the pane; the reason when
  // there is none.
  std::optional<X11Windows::Window> focusTmux(const SessionNode& session, QString* why);
  void confirm(X11Windows::Window window, Done done);
};

// The tmux socket named by a TMUX value ("SOCKET,PID,SESSION") when it is a socket owned by this
// user; empty otherwise.
QString ownedTmuxSocket(const std::string& tmux);

}  // namespace tallyloft
