#include "shell/WaitNotifier.h"

#include <algorithm>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantMap>

namespace tallyloft {
namespace {

constexpr auto kShareWithin = std::chrono::seconds(2);

QString q(const std::string& text) {
  return QString::fromStdString(text);
}

// "Bash", "Edit", … as people say them; MCP tools by their server.
std::optional<std::string> toolLabel(const AgentNode& agent) {
  if (!agent.currentTool) return std::nullopt;
  return std::string(toolKindName(*agent.currentTool));
}

}  // namespace

WaitNotifier::WaitNotifier(CrewModel& crew, QDBusConnection bus)
    : crew_(crew),
      bus_(bus),
      watcher_(
          kService, bus,
          QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration) {
  observer_ = crew_.observe([this] { check(); });
  bus_.connect(kService, "/org/freedesktop/Notifications", kService, "ActionInvoked", this,
               SLOT(actionInvoked(uint, QString)));
  // Do-not-disturb, where the service has it (KDE Plasma and others): read, then followed.
  bus_.connect(kService, "/org/freedesktop/Notifications", "org.freedesktop.DBus.Properties",
               "PropertiesChanged", this,
               SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
  // Asked once; the watcher follows the service coming and going.
  // Running, or started by the bus on demand (XFCE's notification daemon is).
  if (bus_.isConnected() && bus_.interface() != nullptr) {
    available_ = bus_.interface()->isServiceRegistered(kService).value() ||
                 bus_.interface()->activatableServiceNames().value().contains(kService);
  }
  if (available_) readInhibited();
  bus_.connect(QString(), "/ca/desrt/dconf/Writer/user", "ca.desrt.dconf.Writer", "Notify", this,
               SLOT(dconfChanged(QString, QStringList, QString)));
  readBanners();
  connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
    available_ = true;
    readInhibited();
    if (onAvailable) onAvailable();
  });
  connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
    // One started on demand may come back when asked.
    available_ = bus_.interface() != nullptr &&
                 bus_.interface()->activatableServiceNames().value().contains(kService);
  });
}

WaitNotifier::~WaitNotifier() {
  crew_.unobserve(observer_);
}

bool WaitNotifier::available() const {
  return available_;
}

void WaitNotifier::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  group_.clear();
  followWaits();
}

void WaitNotifier::setSound(bool on) {
  if (on == soundOn_) return;
  soundOn_ = on;
  followWaits();
}

void WaitNotifier::followWaits() {
  waiting_.clear();
  // Agents waiting already when switched on are not news.
  if (!enabled_ && !soundOn_) return;
  for (const SessionNode& session : crew_.sessions()) {
    if (session.main.state == AgentState::waiting) waiting_[session.main.id] = true;
    for (const AgentNode& sub : session.subagents)
      if (sub.state == AgentState::waiting) waiting_[sub.id] = true;
  }
}

void WaitNotifier::check() {
  if (!enabled_ && !soundOn_) return;
  std::vector<WaitEntry> fresh;
  std::map<std::string, bool> seen;
  for (const SessionNode& session : crew_.sessions()) {
    const auto look = [&](const AgentNode& agent) {
      if (agent.state == AgentState::working && agent.currentTool) {
        lastTool_[agent.id] = {*toolLabel(agent), agent.currentTarget};
      }
      if (agent.state != AgentState::waiting) return;
      seen[agent.id] = true;
      if (waiting_.count(agent.id) != 0) return;
      // The user is looking at its terminal already.
      if (terminalActive && terminalActive(session)) return;
      WaitEntry entry;
      entry.sessionId = session.id;
      entry.project = session.projectName();
      entry.question = agent.waitReason == WaitReason::question;
      entry.agent = agent.isMain ? "main agent" : (agent.type.empty() ? "subagent" : agent.type);
      if (const auto last = lastTool_.find(agent.id); last != lastTool_.end() && !entry.question) {
        entry.tool = last->second.first;
        entry.target = last->second.second;
      }
      fresh.push_back(std::move(entry));
    };
    look(session.main);
    for (const AgentNode& sub : session.subagents) look(sub);
  }
  waiting_ = std::move(seen);
  // What agents last ran is kept only for agents that are still there.
  std::erase_if(lastTool_, [this](const auto& entry) {
    for (const SessionNode& session : crew_.sessions()) {
      if (session.main.id == entry.first) return false;
      for (const AgentNode& sub : session.subagents) {
        if (sub.id == entry.first) return false;
      }
    }
    return true;
  });
  // In do-not-disturb the waits count as seen: none of them is shown when it ends.
  if (fresh.empty() || doNotDisturb()) return;
  if (soundOn_ && playSound) playSound(fresh.front().question);
  if (!enabled_) return;
  const auto now = clock();
  if (groupStarted_ && now - *groupStarted_ <= kShareWithin) {
    group_.insert(group_.end(), fresh.begin(), fresh.end());
  } else {
    group_ = std::move(fresh);
    groupStarted_ = now;
    currentId_ = 0;
    ++generation_;
  }
  send();
}

WaitNotifier::Note WaitNotifier::compose(const std::vector<WaitEntry>& entries) {
  Note note;
  bool oneProject = true;
  bool oneReason = true;
  for (const WaitEntry& entry : entries) {
    oneProject = oneProject && entry.project == entries.front().project;
    oneReason = oneReason && entry.question == entries.front().question;
  }
  if (oneProject && oneReason) {
    note.title = q(entries.front().project) +
                 (entries.front().question ? " has a question" : " needs permission");
  } else {
    note.title = QStringLiteral("%1 agents are waiting").arg(entries.size());
  }
  QStringList lines;
  for (const WaitEntry& entry : entries) {
    QString line = oneProject ? q(entry.agent) : q(entry.project) + ": " + q(entry.agent);
    if (!oneReason) line += entry.question ? " has a question" : " needs permission";
    if (entry.tool) {
      line += " · " + q(*entry.tool);
      if (entry.target && !entry.target->empty()) line += ": " + q(*entry.target);
    }
    lines << line;
  }
  note.body = lines.join('\n');
  return note;
}

void WaitNotifier::send() {
  // One call at a time: the reply carries the id that later ones replace.
  if (sending_) {
    resend_ = true;
    return;
  }
  const Note note = compose(group_);
  bool reachable = false;
  if (!group_.empty() && terminalReachable) {
    for (const SessionNode& session : crew_.sessions()) {
      if (session.id == group_.front().sessionId) reachable = terminalReachable(session);
    }
  }
  groupTerminal_ = terminalSession(group_, reachable);
  QStringList actions{"default", "Show office"};
  if (groupTerminal_)
    actions << "terminal"
            << "Go to terminal";
  QDBusMessage call = QDBusMessage::createMethodCall(kService, "/org/freedesktop/Notifications",
                                                     kService, "Notify");
  QVariantMap hints;
  hints["desktop-entry"] = QStringLiteral("tallyloft");
  hints["urgency"] = QVariant::fromValue<uchar>(1);
  call << QStringLiteral("Tallyloft") << currentId_ << QStringLiteral("tallyloft") << note.title
       << note.body << actions << hints << -1;
  sending_ = true;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, generation = generation_](QDBusPendingCallWatcher* w) {
            const QDBusPendingReply<uint> reply = *w;
            // An answer for an earlier group must not make the next one replace it.
            if (reply.isValid() && generation == generation_) currentId_ = reply.value();
            w->deleteLater();
            sending_ = false;
            if (resend_) {
              resend_ = false;
              send();
            }
          });
}

void WaitNotifier::readInhibited() {
  QDBusMessage get = QDBusMessage::createMethodCall(kService, "/org/freedesktop/Notifications",
                                                    "org.freedesktop.DBus.Properties", "Get");
  get << QString::fromLatin1(kService) << QStringLiteral("Inhibited");
  auto* watch = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
  connect(watch, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    const QDBusPendingReply<QDBusVariant> reply = *call;
    // A service without the property has no do-not-disturb to tell.
    inhibited_ = reply.isValid() && reply.value().variant().toBool();
    call->deleteLater();
  });
}

void WaitNotifier::propertiesChanged(const QString& interface, const QVariantMap& changed,
                                     const QStringList&) {
  if (interface != QLatin1String(kService)) return;
  if (const auto it = changed.find("Inhibited"); it != changed.end()) inhibited_ = it->toBool();
}

void WaitNotifier::readBanners() {
  const QString gsettings = QStandardPaths::findExecutable("gsettings");
  if (gsettings.isEmpty()) return;  // no GNOME settings here
  auto* read = new QProcess(this);
  connect(read, &QProcess::finished, this, [this, read](int status, QProcess::ExitStatus how) {
    // Without the schema (not GNOME) gsettings fails: no do-not-disturb from it.
    bannersOff_ = how == QProcess::NormalExit && status == 0 &&
                  read->readAllStandardOutput().trimmed() == "false";
    read->deleteLater();
  });
  connect(read, &QProcess::errorOccurred, read, [read](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) read->deleteLater();
  });
  read->start(gsettings, {"get", "org.gnome.desktop.notifications", "show-banners"});
}

void WaitNotifier::dconfChanged(const QString& prefix, const QStringList& keys, const QString&) {
  static const QString kFolder = QStringLiteral("/org/gnome/desktop/notifications/");
  bool ours = prefix.startsWith(kFolder) || kFolder.startsWith(prefix);
  for (const QString& key : keys) ours = ours || (prefix + key).startsWith(kFolder);
  if (ours) readBanners();
}

void WaitNotifier::tell(const QString& title, const QString& body) {
  if (!enabled_ || !available_ || doNotDisturb()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, "/org/freedesktop/Notifications",
                                                     kService, "Notify");
  QVariantMap hints;
  hints["desktop-entry"] = QStringLiteral("tallyloft");
  call << QStringLiteral("Tallyloft") << uint(0) << QStringLiteral("tallyloft") << title << body
       << QStringList{"default", "Show"} << hints << -1;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<uint> reply = *w;
    if (reply.isValid()) toldIds_.push_back(reply.value());
    w->deleteLater();
  });
}

std::optional<std::string> WaitNotifier::terminalSession(const std::vector<WaitEntry>& entries,
                                                         bool reachable) {
  if (entries.empty() || !reachable) return std::nullopt;
  for (const WaitEntry& entry : entries) {
    if (entry.sessionId != entries.front().sessionId) return std::nullopt;
  }
  return entries.front().sessionId;
}

void WaitNotifier::actionInvoked(uint id, const QString& action) {
  if (id != 0 && id == currentId_ && action == "terminal" && groupTerminal_ && onGoToTerminal) {
    onGoToTerminal(*groupTerminal_);
    return;
  }
  if (id == 0 || action != "default" || !onActivated) return;
  if (id == currentId_ || std::find(toldIds_.begin(), toldIds_.end(), id) != toldIds_.end()) {
    onActivated();
  }
}

}  // namespace tallyloft
