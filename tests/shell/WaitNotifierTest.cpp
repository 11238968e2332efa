#include "shell/WaitNotifier.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>

#include "base/LoopScheduler.h"

namespace tallyloft {
namespace {

// A stand-in for the desktop's notification service: it records what it is asked to show.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  Q_PROPERTY(bool Inhibited READ inhibited)

 public:
  bool inhibitedNow = false;
  bool inhibited() const { return inhibitedNow; }
  struct Shown {
    uint replaces;
    QString summary;
    QString body;
    QStringList actions;
    std::chrono::steady_clock::time_point at;
  };
  std::vector<Shown> shown;

 public slots:
  uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap&, int) {
    shown.push_back({replaces, summary, body, actions, std::chrono::steady_clock::now()});
    return replaces != 0 ? replaces : static_cast<uint>(shown.size()) + 40;
  }
};

// A session bus of the test's own, with or without the fake service on it.
class Notifications : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(daemon_.waitForStarted(3000)) << "needs dbus-daemon";
    ASSERT_TRUE(daemon_.waitForReadyRead(3000));
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    client_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, "client"));
    ASSERT_TRUE(client_->isConnected());
  }
  void TearDown() override {
    client_.reset();
    QDBusConnection::disconnectFromBus("client");
    QDBusConnection::disconnectFromBus("service");
    daemon_.kill();
    daemon_.waitForFinished();
  }
  void startService() {
    service_ =
        std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, "service"));
    ASSERT_TRUE(service_->registerService(WaitNotifier::kService));
    ASSERT_TRUE(service_->registerObject(
        "/org/freedesktop/Notifications", &fake_,
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
  }
  // The service switches do-not-disturb and says so, as Plasma's does.
  void setInhibited(bool on) {
    fake_.inhibitedNow = on;
    QDBusMessage changed = QDBusMessage::createSignal(
        "/org/freedesktop/Notifications", "org.freedesktop.DBus.Properties", "PropertiesChanged");
    changed << QString(WaitNotifier::kService) << QVariantMap{{"Inhibited", on}} << QStringList{};
    service_->send(changed);
  }
  // Runs the event loop until `done` or 2 s.
  bool until(const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::msleep(5);
    }
    return done();
  }
  void post(const std::string& json) { crew_.reduce(*HookEvent::decode(json, loop_.now())); }

  QProcess daemon_;
  QString address_;
  std::unique_ptr<QDBusConnection> client_;
  std::unique_ptr<QDBusConnection> service_;
  FakeNotifications fake_;
  LoopScheduler loop_{Scheduler::TimePoint{}};
  CrewModel crew_{loop_};
};

TEST_F(Notifications, NoServiceNoSwitch) {
  WaitNotifier notifier(crew_, *client_);
  EXPECT_FALSE(notifier.available());
}

TEST_F(Notifications, OnePerWaitSharedWithinTwoSecondsAndAClickShowsTheOffice) {
  startService();
  WaitNotifier notifier(crew_, *client_);
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  notifier.clock = [&] { return now; };
  ASSERT_TRUE(notifier.available());

  // Off by default: nothing is sent.
  post(R"({"hook_event_name":"SessionStart","session_id":"a","cwd":"/w/shop-api"})");
  post(R"({"hook_event_name":"PermissionRequest","session_id":"a","tool_name":"Bash"})");
  QCoreApplication::processEvents();
  EXPECT_TRUE(fake_.shown.empty());

  // On: a wait already under way is not news; a new one is, once.
  notifier.setEnabled(true);
  post(R"({"hook_event_name":"SessionStart","session_id":"b","cwd":"/w/web-app"})");
  post(
      R"({"hook_event_name":"PreToolUse","session_id":"b","tool_name":"Bash","tool_input":{"command":"rm -rf dist"}})");
  const auto posted = std::chrono::steady_clock::now();
  post(R"({"hook_event_name":"PermissionRequest","session_id":"b","tool_name":"Bash"})");
  ASSERT_TRUE(until([&] { return fake_.shown.size() == 1; }));
  EXPECT_EQ(fake_.shown[0].summary, "web-app needs permission");
  EXPECT_EQ(fake_.shown[0].body, "main agent · run: rm -rf dist");
  EXPECT_EQ(fake_.shown[0].replaces, 0u);
  EXPECT_TRUE(fake_.shown[0].actions.contains("default"));
  std::printf("notification %.1f ms after the wait\n",
              std::chrono::duration<double, std::milli>(fake_.shown[0].at - posted).count());
  post(
      R"({"hook_event_name":"Notification","session_id":"b","message":"Claude needs your permission"})");
  QCoreApplication::processEvents();
  EXPECT_EQ(fake_.shown.size(), 1u) << "the same wait";

  // A question in another room within 2 s: the same notification, updated.
  now += std::chrono::milliseconds(1500);
  post(
      R"({"hook_event_name":"SubagentStart","session_id":"b","agent_id":"r","agent_type":"Plan"})");
  post(
      R"({"hook_event_name":"PreToolUse","session_id":"b","agent_id":"r","agent_type":"Plan","tool_name":"AskUserQuestion"})");
  ASSERT_TRUE(until([&] { return fake_.shown.size() == 2; }));
  EXPECT_EQ(fake_.shown[1].replaces, 41u);
  EXPECT_EQ(fake_.shown[1].summary, "2 agents are waiting");
  EXPECT_EQ(fake_.shown[1].body,
            "main agent needs permission · run: rm -rf dist\nPlan has a question");

  // Later, a new wait of the same agent: a notification of its own.
  post(R"({"hook_event_name":"PostToolUse","session_id":"b","tool_name":"Bash"})");
  now += std::chrono::seconds(5);
  post(R"({"hook_event_name":"PermissionRequest","session_id":"b","tool_name":"Bash"})");
  ASSERT_TRUE(until([&] { return fake_.shown.size() == 3; }));
  EXPECT_EQ(fake_.shown[2].replaces, 0u);

  // Clicking it shows the office.
  int shown = 0;
  notifier.onActivated = [&] { ++shown; };
  QDBusMessage click = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                  WaitNotifier::kService, "ActionInvoked");
  click << 43u << QStringLiteral("default");
  service_->send(click);
  EXPECT_TRUE(until([&] { return shown == 1; }));
}

TEST_F(Notifications, NothingInDoNotDisturbAndNoReplayAfterIt) {
  startService();
  fake_.inhibitedNow = true;  // on already when the app starts
  WaitNotifier notifier(crew_, *client_);
  notifier.setEnabled(true);
  ASSERT_TRUE(until([&] { return notifier.doNotDisturb(); }));
  // Time for anything that would be sent (a notification goes out in milliseconds).
  const auto settle = [] {
    for (int i = 0; i < 60; ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::msleep(5);
    }
  };
  post(R"({"hook_event_name":"SessionStart","session_id":"a","cwd":"/w/shop-api"})");
  post(R"({"hook_event_name":"PermissionRequest","session_id":"a","tool_name":"Bash"})");
  settle();
  EXPECT_TRUE(fake_.shown.empty());

  // Off again: the wait that came meanwhile is not replayed; the next one is shown.
  setInhibited(false);
  ASSERT_TRUE(until([&] { return !notifier.doNotDisturb(); }));
  post(R"({"hook_event_name":"Notification","session_id":"a","message":"still waiting"})");
  post(R"({"hook_event_name":"SessionStart","session_id":"b","cwd":"/w/web-app"})");
  post(R"({"hook_event_name":"PermissionRequest","session_id":"b","tool_name":"Bash"})");
  ASSERT_TRUE(until([&] { return !fake_.shown.empty(); }));
  EXPECT_EQ(fake_.shown.size(), 1u);
  EXPECT_EQ(fake_.shown[0].summary, "web-app needs permission");

  // On while the app runs.
  setInhibited(true);
  ASSERT_TRUE(until([&] { return notifier.doNotDisturb(); }));
  post(R"({"hook_event_name":"SessionStart","session_id":"c","cwd":"/w/docs"})");
  post(R"({"hook_event_name":"PermissionRequest","session_id":"c","tool_name":"Bash"})");
  notifier.tell("Claude Code hooks were removed by another program", "Install them again.");
  settle();
  EXPECT_EQ(fake_.shown.size(), 1u);
}

// GNOME keeps do-not-disturb in its settings ("show-banners" false): read through gsettings (a
// stand-in here) at the start and again when dconf says the folder changed.
TEST_F(Notifications, GnomesDoNotDisturbIsFollowedThroughItsSettings) {
  QTemporaryDir bin;
  const QString value = bin.filePath("show-banners");
  const auto setBanners = [&](const char* text) {
    QFile file(value);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  };
  setBanners("false\n");
  QFile script(bin.filePath("gsettings"));
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write(QStringLiteral("#!/bin/sh\n[ \"$*\" = 'get org.gnome.desktop.notifications "
                              "show-banners' ] && cat '%1'\n")
                   .arg(value)
                   .toUtf8());
  script.close();
  script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QByteArray oldPath = qgetenv("PATH");
  qputenv("PATH", bin.path().toUtf8() + ":" + oldPath);
  startService();
  WaitNotifier notifier(crew_, *client_);
  qputenv("PATH", oldPath);
  ASSERT_TRUE(until([&] { return notifier.doNotDisturb(); }));

  setBanners("true\n");
  QDBusMessage changed =
      QDBusMessage::createSignal("/ca/desrt/dconf/Writer/user", "ca.desrt.dconf.Writer", "Notify");
  changed << QStringLiteral("/org/gnome/desktop/notifications/") << QStringList{"show-banners"}
          << QString();
  qputenv("PATH", bin.path().toUtf8() + ":" + oldPath);
  service_->send(changed);
  EXPECT_TRUE(until([&] { return !notifier.doNotDisturb(); }));
  qputenv("PATH", oldPath);
}

TEST_F(Notifications, AServiceThatComesLaterIsTakenAndGoneAgentsAreForgotten) {
  WaitNotifier notifier(crew_, *client_);
  EXPECT_FALSE(notifier.available());
  int appeared = 0;
  notifier.onAvailable = [&] { ++appeared; };
  startService();
  EXPECT_TRUE(until([&] { return appeared == 1; }));
  EXPECT_TRUE(notifier.available());

  notifier.setEnabled(true);
  post(R"({"hook_event_name":"PreToolUse","session_id":"a","tool_name":"Bash"})");
  post(R"({"hook_event_name":"PreToolUse","session_id":"a","agent_id":"s","tool_name":"Read"})");
  EXPECT_EQ(notifier.rememberedAgents(), 2u);
  post(R"({"hook_event_name":"SessionEnd","session_id":"a"})");
  loop_.advance(std::chrono::seconds(20));  // the session is removed
  EXPECT_EQ(notifier.rememberedAgents(), 0u);
}

// The sound, with notifications off and no notification service: once per new wait, never for
// the session the user looks at, never in do-not-disturb, and not for waits already under way.
TEST_F(Notifications, ASoundForANewWaitUnderTheSameQuietRules) {
  WaitNotifier notifier(crew_, *client_);
  std::vector<bool> played;
  notifier.playSound = [&](bool question) { played.push_back(question); };
  post(R"({"hook_event_name":"PermissionRequest","session_id":"before","cwd":"/w/a"})");
  notifier.setSound(true);
  std::string looking = "a";
  notifier.terminalActive = [&](const SessionNode& session) { return session.id == looking; };
  post(R"({"hook_event_name":"PermissionRequest","session_id":"a","cwd":"/w/a"})");
  EXPECT_TRUE(played.empty()) << "a wait under way, then one the user looks at";
  post(R"({"hook_event_name":"PermissionRequest","session_id":"b","cwd":"/w/b"})");
  post(
      R"({"hook_event_name":"PreToolUse","session_id":"c","tool_name":"AskUserQuestion","tool_input":{}})");
  EXPECT_EQ(played, (std::vector<bool>{false, true}));
  EXPECT_TRUE(fake_.shown.empty()) << "notifications are off";
  notifier.setSound(false);
  post(R"({"hook_event_name":"PermissionRequest","session_id":"d","cwd":"/w/d"})");
  EXPECT_EQ(played.size(), 2u);
}

TEST_F(Notifications, QuietWhileItsTerminalIsActiveAndOffersTheTerminalOtherwise) {
  startService();
  WaitNotifier notifier(crew_, *client_);
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  notifier.clock = [&] { return now; };
  notifier.setEnabled(true);
  std::string looking = "a";  // the session whose terminal is the active window
  notifier.terminalActive = [&](const SessionNode& session) { return session.id == looking; };
  notifier.terminalReachable = [](const SessionNode& session) { return session.id != "c"; };
  std::vector<std::string> wentTo;
  notifier.onGoToTerminal = [&](const std::string& id) { wentTo.push_back(id); };

  post(R"({"hook_event_name":"PermissionRequest","session_id":"a","cwd":"/w/api"})");
  QCoreApplication::processEvents();
  EXPECT_TRUE(fake_.shown.empty()) << "the user is looking at it";
  looking.clear();
  post(R"({"hook_event_name":"Notification","session_id":"a","message":"needs permission"})");
  QCoreApplication::processEvents();
  EXPECT_TRUE(fake_.shown.empty()) << "the same wait, seen already";

  post(R"({"hook_event_name":"PermissionRequest","session_id":"b","cwd":"/w/web"})");
  ASSERT_TRUE(until([&] { return fake_.shown.size() == 1; }));
  EXPECT_EQ(fake_.shown[0].actions,
            (QStringList{"default", "Show office", "terminal", "Go to terminal"}));
  QDBusMessage click = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                  WaitNotifier::kService, "ActionInvoked");
  click << 41u << QStringLiteral("terminal");
  service_->send(click);
  EXPECT_TRUE(until([&] { return wentTo == std::vector<std::string>{"b"}; }));

  // Waits of two sessions together, or of one whose terminal cannot be reached: no such action.
  now += std::chrono::seconds(5);
  post(R"({"hook_event_name":"PermissionRequest","session_id":"c","cwd":"/w/far"})");
  ASSERT_TRUE(until([&] { return fake_.shown.size() == 2; }));
  EXPECT_EQ(fake_.shown[1].actions, (QStringList{"default", "Show office"}));
  const auto entry = [](const char* session) {
    WaitEntry each;
    each.sessionId = session;
    return each;
  };
  EXPECT_EQ(WaitNotifier::terminalSession({entry("b"), entry("d")}, true), std::nullopt);
  EXPECT_EQ(WaitNotifier::terminalSession({entry("b"), entry("b")}, true), "b");
  EXPECT_EQ(WaitNotifier::terminalSession({entry("b")}, false), std::nullopt);
}

}  // namespace
}  // namespace tallyloft

#include "WaitNotifierTest.moc"
