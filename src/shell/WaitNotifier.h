#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "crew/CrewModel.h"

namespace tallyloft {

// One waiting agent as a notification tells of it.
struct WaitEntry {
  std::string sessionId;
  std::string project;
  bool question = false;
  std::string agent;                // "main agent" or the subagent's type
  std::optional<std::string> tool;  // what it wants to run, where known
  std::optional<std::string> target;
};

// Desktop notifications when an agent starts waiting for permission or with a question, through
// the freedesktop notification service on the session bus. One notification per agent per wait;
// waits that start within 2 s of each other share one (the first is updated in place). Clicking
// it calls `onActivated`. Off until enabled; agents already waiting then are not announced.
// Main-thread only; the crew model must outlive it.
class WaitNotifier : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kService = "org.freedesktop.Notifications";

  WaitNotifier(CrewModel& crew, QDBusConnection bus = QDBusConnection::sessionBus());
  ~WaitNotifier() override;

  // Whether a notification service runs on the bus (followed as it comes and goes).
  bool available() const;
  // Whether the desktop asks for quiet (do-not-disturb), as far as its notification service
  // says.
  bool doNotDisturb() const { return inhibited_ || bannersOff_; }
  void setEnabled(bool enabled);
  bool enabled() const { return enabled_; }
  // "Play a sound when an agent waits": once per batch of new waits, under the same quiet rules
  // as notifications (not for a session whose terminal is active, not in do-not-disturb), with
  // or without notifications. `playSound(question)` plays it (the desktop's event sound; tests
  // put their own).
  void setSound(bool on);
  bool sound() const { return soundOn_; }
  std::function<void(bool question)> playSound;
  std::function<void()> onActivated;
  // When a notification service appears on the bus after start (a saved "on" takes effect).
  std::function<void()> onAvailable;
  // The agents whose last tool is remembered (for tests).
  std::size_t rememberedAgents() const { return lastTool_.size(); }
  // A second action, "Go to terminal", on a notification about one session whose terminal may
  // be reached; it calls this with the session.
  std::function<void(const std::string& sessionId)> onGoToTerminal;
  // Whether the session's terminal may be reached, and whether it is the active window now: a
  // wait there is not announced, the user is looking at it already.
  std::function<bool(const SessionNode&)> terminalReachable;
  std::function<bool(const SessionNode&)> terminalActive;
  // The clock the 2 s window is measured on.
  std::function<std::chrono::steady_clock::time_point()> clock = [] {
    return std::chrono::steady_clock::now();
  };

  // Looks for agents that started waiting (called on every model change).
  void check();
  // One notification of its own (not about a wait), when notifications are on and a service
  // runs; a click on it calls `onActivated` too.
  void tell(const QString& title, const QString& body);

  // What the current notification says (for tests and the menu).
  struct Note {
    QString title;
    QString body;
  };
  static Note compose(const std::vector<WaitEntry>& entries);
  // The session a "Go to terminal" action would go to: the one session of `entries` when it is
  // one and `reachable`.
  static std::optional<std::string> terminalSession(const std::vector<WaitEntry>& entries,
                                                    bool reachable);

 private slots:
  void actionInvoked(uint id, const QString& action);
  void propertiesChanged(const QString& interface, const QVariantMap& changed,
                         const QStringList& invalidated);
  void dconfChanged(const QString& prefix, const QStringList& keys, const QString& tag);

 private:
  void send();

  CrewModel& crew_;
  QDBusConnection bus_;
  QDBusServiceWatcher watcher_;
  bool available_ = false;
  std::size_t observer_ = 0;
  bool enabled_ = false;
  std::map<std::string, bool> waiting_;  // agents in a wait already seen
  std::map<std::string, std::pair<std::string, std::optional<std::string>>> lastTool_;
  std::vector<WaitEntry> group_;
  std::optional<std::string> groupTerminal_;  // the session of the "Go to terminal" action
  std::optional<std::chrono::steady_clock::time_point> groupStarted_;
  uint currentId_ = 0;
  std::vector<uint> toldIds_;     // notifications of tell()
  std::uint64_t generation_ = 0;  // counts the groups
  bool sending_ = false;
  // The notification service says do-not-disturb (its "Inhibited" property): nothing is shown,
  // and waits that come meanwhile are not shown afterwards either.
  bool inhibited_ = false;
  bool soundOn_ = false;
  // Takes the waits under way now as seen, when notifications or the sound are switched.
  void followWaits();
  void readInhibited();
  // GNOME's do-not-disturb: org.gnome.desktop.notifications show-banners false. Read through
  // `gsettings` at the start and whenever dconf says that folder changed; never polled.
  bool bannersOff_ = false;
  void readBanners();
  bool resend_ = false;
};

}  // namespace tallyloft
