#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <thread>

#include "base/LoopScheduler.h"
#include "base/RuntimeFolder.h"
#include "hooks/HookInstaller.h"
#include "shell/AppDelegate.h"
#include "shell/AutostartEntry.h"
#include "shell/CrewBarController.h"
#include "shell/LoupeController.h"
#include "shell/MenuContent.h"
#include "shell/OnboardingController.h"
#include "shell/PanelGeometry.h"
#include "shell/QtScheduler.h"
#include "shell/SessionList.h"
#include "shell/SingleInstance.h"
#include "shell/TerminalFocus.h"
#include "support/TempHome.h"

namespace tallyloft {
namespace {

class Shell : public test::TempHome {
 protected:
  void SetUp() override {
    TempHome::SetUp();
    ::setenv("XDG_CONFIG_HOME", (home() / ".config").c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((home() / ".config").string()));
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    TempHome::TearDown();
  }
};

TEST_F(Shell, ControlPanelSaysWhenAnotherProgramRemovedHooksAndInstallsThemOnClick) {
  LoopScheduler loop{std::chrono::system_clock::now()};
  AppModel model(loop, std::nullopt);
  write(home() / ".claude/settings.json", "{}\n");
  HookInstaller::install(HookEngine::claude);
  ASSERT_FALSE(model.watchLocalMachine(home() / "run" / "tallyloft.sock"));
  int warnings = 0;
  model.onHooksWarning = [&](HookEngine) { ++warnings; };
  MenuContent menu(model, {});
  EXPECT_TRUE(menu.removedRow(HookEngine::claude)->isHidden());

  write(home() / ".claude/settings.json.new", R"({"theme":"dark"})");
  std::filesystem::rename(home() / ".claude/settings.json.new", home() / ".claude/settings.json");
  loop.runPending();
  loop.advance(std::chrono::seconds(1));
  EXPECT_EQ(warnings, 1);
  menu.refresh();
  EXPECT_FALSE(menu.removedRow(HookEngine::claude)->isHidden());
  EXPECT_EQ(menu.removedText(HookEngine::claude)->text(),
            "Claude Code hooks were removed by another program");
  EXPECT_TRUE(menu.removedRow(HookEngine::codex)->isHidden());

  menu.removedInstall(HookEngine::claude)->click();
  EXPECT_TRUE(HookInstaller::isInstalled(HookEngine::claude));
  EXPECT_TRUE(menu.removedRow(HookEngine::claude)->isHidden());
  loop.runPending();
  loop.advance(std::chrono::seconds(1));
  EXPECT_EQ(warnings, 2);  // appeared, cleared; our own install raised none
  EXPECT_NE(read(home() / ".claude/settings.json").find("\"theme\": \"dark\""), std::string::npos);
}

TEST_F(Shell, SessionListPutsWaitingFirstAndSaysWhyATerminalCannotBeReached) {
  LoopScheduler loop{Scheduler::TimePoint{std::chrono::seconds(1'800'000'000)}};
  CrewModel crew(loop);
  const auto post = [&](const std::string& json) {
    crew.reduce(*HookEvent::decode(json, loop.now()));
  };
  post(
      R"({"hook_event_name":"Stop","session_id":"idle","cwd":"/w/resting","transcript_path":"/h/.claude/projects/x.jsonl"})");
  post(
      R"({"hook_event_name":"PreToolUse","session_id":"busy","cwd":"/w/api","tool_name":"Bash","tool_input":{"command":"make test"}})");
  post(
      R"({"hook_event_name":"SubagentStart","session_id":"busy","agent_id":"e","agent_type":"Explore"})");
  loop.advance(std::chrono::seconds(75));
  post(R"({"hook_event_name":"PermissionRequest","session_id":"asks","cwd":"/w/web"})");
  post(R"({"hook_event_name":"BeforeAgent","session_id":"leaves","cwd":"/w/old"})");
  post(R"({"hook_event_name":"SessionEnd","session_id":"leaves"})");
  loop.advance(std::chrono::seconds(12));

  SessionList list;
  std::vector<std::string> clicked;
  list.onClicked = [&](const std::string& id) { clicked.push_back(id); };
  list.setSessions(crew.sessions(), loop.now(), [](const SessionNode& session) {
    return session.id == "busy" ? QString() : TerminalFocus::unreachable(session);
  });
  ASSERT_EQ(list.rowCount(), 3);
  list.show();
  EXPECT_TRUE(list.rowWidget(0)->isVisible());
  EXPECT_GT(list.sizeHint().height(), 40);
  EXPECT_EQ(list.rowText(0),
            "web | waiting | 12 s ago | Terminal unknown: install its hooks again");
  EXPECT_EQ(list.rowText(1), "api | working | +1 subagent | 1 min ago");
  EXPECT_EQ(list.rowText(2),
            "resting | Claude | idle | 1 min ago | Terminal unknown: install its hooks again");
  EXPECT_EQ(list.rowToolTip(1), "/w/api\nrun: make test");
  EXPECT_TRUE(list.moreLine()->isHidden());
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(list.rowWidget(1), &event);
  }
  EXPECT_EQ(clicked, std::vector<std::string>{"busy"});
  list.setNote("busy", TerminalFocus::kCannot);
  EXPECT_EQ(list.rowText(1),
            "api | working | +1 subagent | 1 min ago | " + QString(TerminalFocus::kCannot));

  // Twenty sessions: eight rows and the rest counted.
  for (int i = 0; i < 17; ++i) {
    post(R"({"hook_event_name":"UserPromptSubmit","session_id":"more)" + std::to_string(i) +
         R"("})");
  }
  list.setSessions(crew.sessions(), loop.now(), {});
  EXPECT_EQ(list.rowCount(), SessionList::kMaxRows);
  EXPECT_FALSE(list.moreLine()->isHidden());
  EXPECT_EQ(list.moreLine()->text(), "and 12 more");
  EXPECT_EQ(SessionList::ago(loop.now() - std::chrono::hours(3), loop.now()), "3 h ago");
}

TEST_F(Shell, OneInstanceHandsOverWithItsTokenAndNoOtherUserCanBlockIt) {
  ::setenv("XDG_RUNTIME_DIR", (home() / "run").c_str(), 1);
  const std::filesystem::path socket = statusSocketPath();
  EXPECT_EQ(socket, home() / "run" / "tallyloft" / "tallyloft.sock");
  SingleInstance first;
  ASSERT_EQ(first.acquire(socket, ""), SingleInstance::Outcome::run);
  QtScheduler scheduler;
  CrewModel crew(scheduler);
  StatusServer server(scheduler, crew);
  std::vector<std::string> shown;
  server.onShow = [&](const std::string& token) { shown.push_back(token); };

  // A second launch while the first is still starting (its socket not up yet), then answered.
  std::optional<SingleInstance::Outcome> second;
  std::thread launch([&] { second = SingleInstance().acquire(socket, "startup-id_42"); });
  QThread::msleep(150);
  ASSERT_FALSE(server.listen(socket));
  for (int i = 0; i < 200 && !second; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(10);
  }
  launch.join();
  EXPECT_EQ(second, SingleInstance::Outcome::handedOver);
  EXPECT_EQ(shown, std::vector<std::string>{"startup-id_42"});
  // Nobody answers a launch that finds the lock held: it gives up with a reason.
  SingleInstance third;
  std::optional<SingleInstance::Outcome> stuck;
  std::thread again([&] {
    stuck = third.acquire(home() / "run" / "tallyloft" / "other.sock", "",
                          std::chrono::milliseconds(200));
  });
  again.join();
  EXPECT_EQ(stuck, SingleInstance::Outcome::stuck);

  // Without XDG_RUNTIME_DIR, a folder in the user's home: never a name in the shared /tmp, which
  // anyone could take first.
  ::unsetenv("XDG_RUNTIME_DIR");
  const std::filesystem::path fallback = statusSocketPath();
  EXPECT_EQ(fallback, home() / ".cache" / "tallyloft-runtime" / "tallyloft.sock");
  EXPECT_EQ(hookSocketPath(), home() / ".cache" / "tallyloft-runtime" / "hook.sock");
  EXPECT_EQ(SingleInstance().acquire(fallback, ""), SingleInstance::Outcome::run);
}

TEST_F(Shell, TheEmptyOfficeSaysItInTwoLinesAtMostAndNeverPointsAtAMissingTray) {
  QFont font;
  font.setPixelSize(13);
  font.setWeight(QFont::Medium);
  const QFontMetrics metrics(font);
  for (bool installed : {true, false}) {
    for (bool tray : {true, false}) {
      for (int width : {1200, 900, 600, 450, 300}) {
        const QString text = CrewBarController::emptyStateText(installed, tray, width, metrics);
        SCOPED_TRACE(text.toStdString() + " at " + std::to_string(width));
        const QRect bounds =
            metrics.boundingRect(QRect(0, 0, width, 10000), Qt::TextWordWrap, text);
        EXPECT_LE(bounds.height(),
                  metrics.boundingRect(QRect(0, 0, width, 10000), 0, "X\nX").height());
        EXPECT_TRUE(text.startsWith("Waiting for an agent…"));
        if (!tray) {
          EXPECT_FALSE(text.contains("tray"));
        }
      }
    }
  }
  EXPECT_EQ(CrewBarController::emptyStateText(false, true, 1200, metrics),
            "Waiting for an agent…  Open the Tallyloft tray icon and Install hooks to begin.");
  EXPECT_EQ(CrewBarController::emptyStateText(false, false, 1200, metrics),
            "Waiting for an agent…  Open the Tallyloft control panel and Install hooks to begin.");
}

TEST(Tray, AClickThenADoubleClickIsOneClick) {
  const int interval = 400;
  EXPECT_TRUE(trayTogglesPanel(QSystemTrayIcon::Trigger, -1, interval));
  EXPECT_TRUE(trayTogglesPanel(QSystemTrayIcon::MiddleClick, 5000, interval));
  // XEmbed trays: the click of a double click arrives first.
  EXPECT_FALSE(trayTogglesPanel(QSystemTrayIcon::DoubleClick, 150, interval));
  // GNOME's AppIndicator sends double clicks only.
  EXPECT_TRUE(trayTogglesPanel(QSystemTrayIcon::DoubleClick, -1, interval));
  EXPECT_TRUE(trayTogglesPanel(QSystemTrayIcon::DoubleClick, 2000, interval));
  EXPECT_FALSE(trayTogglesPanel(QSystemTrayIcon::Context, -1, interval));
}

TEST(QtSchedulerTest, RunsPostsInOrderTimersAndWatchesOnTheGuiThread) {
  QtScheduler scheduler;
  std::string log;
  const auto gui = std::this_thread::get_id();
  std::thread other([&] {
    for (char c : std::string("abc")) {
      scheduler.post([&log, c, gui] {
        EXPECT_EQ(std::this_thread::get_id(), gui);
        log += c;
      });
    }
  });
  other.join();
  int ticks = 0;
  Scheduler::TimerId every = 0;
  every = scheduler.every(std::chrono::milliseconds(5), [&] {
    if (++ticks == 3) scheduler.cancel(every);  // cancelled from inside its own task
  });
  bool cancelledFired = false;
  scheduler.cancel(scheduler.after(std::chrono::milliseconds(1), [&] { cancelledFired = true; }));
  bool later = false;
  scheduler.after(std::chrono::milliseconds(30), [&] { later = true; });
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string piped;
  Scheduler::WatchId watch = 0;
  watch = scheduler.watchReadable(fds[0], [&] {
    char byte;
    if (::read(fds[0], &byte, 1) == 1) piped += byte;
    if (piped == "xy") scheduler.unwatch(watch);
  });
  ASSERT_EQ(::write(fds[1], "xyz", 3), 3);
  for (int i = 0; i < 100 && !(later && ticks >= 3 && piped == "xy"); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  EXPECT_EQ(log, "abc");
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(cancelledFired);
  EXPECT_TRUE(later);
  EXPECT_EQ(piped, "xy");  // unwatched from inside: the third byte stays unread
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(Shell, ControlPanelShowsServerCountsAndHooks) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  AppModel model(loop, std::nullopt);
  write(home() / ".claude/settings.json", "{}\n");
  MenuContent menu(model, {});
  EXPECT_EQ(menu.serverLine()->text(), "Starting…");
  model.store().setServer(true, "Listening on /run/user/1000/tallyloft/hook.sock");
  menu.refresh();
  EXPECT_EQ(menu.serverLine()->text(), "Listening · local socket");
  EXPECT_TRUE(menu.olderHooksRow()->isHidden());
  model.store().setServer(true, "Listening on … and 127.0.0.1:51789", 51789);
  menu.refresh();
  EXPECT_EQ(menu.serverLine()->text(), "Listening · local socket · port 51789");
  model.store().setServer(false, "Failed: Address already in use");
  menu.refresh();
  EXPECT_EQ(menu.serverLine()->text(), "Failed: Address already in use");

  for (const char* body :
       {R"({"hook_event_name":"SessionStart","session_id":"s"})",
        R"({"hook_event_name":"SubagentStart","session_id":"s","agent_id":"a","agent_type":"x"})"})
    model.receive(*HookEvent::decode(body, loop.now()));
  menu.refresh();
  EXPECT_EQ(menu.countsLine()->text(), "1 sessions · 2 live agents · 2 events");

  // Claude Code is there but not hooked; the others are not found.
  EXPECT_FALSE(menu.warningRow()->isHidden());
  EXPECT_EQ(menu.engineButton(HookEngine::claude)->text(), "Install");
  EXPECT_TRUE(menu.engineButton(HookEngine::codex)->isHidden());
  EXPECT_EQ(menu.engineNote(HookEngine::codex)->text(), "not found");
  EXPECT_FALSE(menu.installDetectedButton()->isHidden());
  EXPECT_EQ(menu.windowButton()->text(), "Show window");
  // Without a notification service the switch cannot be turned on, and says why.
  EXPECT_FALSE(menu.notifySwitch()->isEnabled());
  EXPECT_FALSE(menu.notifyReason()->text().isEmpty());
  bool notifying = false;
  MenuContent::Actions withService;
  withService.notifyUnavailable = [] { return QString(); };
  withService.notifying = [&] { return notifying; };
  withService.setNotifying = [&](bool on) { notifying = on; };
  MenuContent served(model, withService);
  ASSERT_TRUE(served.notifySwitch()->isEnabled());
  served.notifySwitch()->setChecked(true);
  EXPECT_TRUE(notifying);

  menu.toggle(HookEngine::claude);
  EXPECT_EQ(menu.messageLine()->text(), "Claude Code: hooks installed ✓  Start a new session.");
  EXPECT_EQ(menu.engineButton(HookEngine::claude)->text(), "Remove");
  EXPECT_TRUE(menu.warningRow()->isHidden());
  EXPECT_TRUE(menu.installDetectedButton()->isHidden());
  menu.toggle(HookEngine::claude);
  EXPECT_EQ(menu.messageLine()->text(), "Claude Code: hooks removed. Restart its sessions.");

  // Codex gets the review sentence; a bulk install reports each CLI.
  write(home() / ".codex/hooks.json", "{}\n");
  menu.recomputeStatus();
  menu.installDetected();
  EXPECT_NE(menu.messageLine()->text().indexOf("Start a new session to begin."), -1);
  EXPECT_NE(menu.messageLine()->text().indexOf("review"), -1)
      << menu.messageLine()->text().toStdString();

  // A broken file fails with its reason, and what is on disk is shown again.
  write(home() / ".claude/settings.json", "[1, 2]\n");
  menu.recomputeStatus();
  menu.toggle(HookEngine::claude);
  EXPECT_TRUE(menu.messageLine()->text().startsWith("Failed: "))
      << menu.messageLine()->text().toStdString();
  EXPECT_EQ(menu.engineButton(HookEngine::claude)->text(), "Install");
}

TEST_F(Shell, TheControlPanelUpdatesOlderHooksAndSaysWhatThePortCosts) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  AppModel model(loop, HookListen{.socket = hookSocketPath()});  // not started: no socket made
  const std::string older = hookCommand({.port = HookServer::kPort});
  const nlohmann::json group = {{"matcher", "*"},
                                {"hooks", {{{"type", "command"}, {"command", older}}}}};
  write(home() / ".gemini/settings.json",
        nlohmann::json{{"hooks", {{"BeforeTool", {group}}}}}.dump());
  bool accepting = false;
  MenuContent::Actions actions;
  actions.acceptingPort = [&] { return accepting; };
  actions.setAcceptingPort = [&](bool on) { accepting = on; };
  MenuContent menu(model, actions);
  EXPECT_EQ(menu.engineNote(HookEngine::gemini)->text(), "reinstall");
  EXPECT_FALSE(menu.portSwitch()->isChecked());
  EXPECT_NE(menu.portNote()->text().indexOf("Other users on this machine could listen"), -1)
      << menu.portNote()->text().toStdString();

  menu.updateOlderHooks();
  EXPECT_FALSE(HookInstaller::hasOlderHooks(HookEngine::gemini));
  EXPECT_EQ(menu.engineNote(HookEngine::gemini)->text(), "");
  EXPECT_TRUE(menu.messageLine()->text().startsWith("Hooks updated ✓  Gemini CLI"))
      << menu.messageLine()->text().toStdString();
  menu.updateOlderHooks();
  EXPECT_EQ(menu.messageLine()->text(), "No hooks of an older Tallyloft are left.");
  // Hooks that post to another socket than this app's lose every event here: "reinstall".
  HookInstaller::install(HookEngine::gemini, {.socket = home() / "elsewhere.sock"});
  menu.recomputeStatus();
  EXPECT_EQ(menu.engineNote(HookEngine::gemini)->text(), "reinstall");
  menu.toggle(HookEngine::gemini);
  EXPECT_EQ(HookInstaller::sockets(HookEngine::gemini),
            std::vector<std::filesystem::path>{hookSocketPath()});
  EXPECT_EQ(menu.engineNote(HookEngine::gemini)->text(), "");

  menu.portSwitch()->click();
  EXPECT_TRUE(accepting);
  EXPECT_NE(menu.portNote()->text().indexOf("Other users on this machine could listen"), -1);
  model.store().setServer(true, "Listening on /s; port 51789: Failed: Address already in use");
  menu.refresh();
  EXPECT_EQ(menu.portNote()->text(), "Port 51789: Failed: Address already in use");
}

TEST_F(Shell, LaunchAtLoginWritesTheAutostartEntry) {
  EXPECT_EQ(autostart::entryPath(),
            QString::fromStdString((home() / ".config/autostart/tallyloft.desktop").string()));
  EXPECT_FALSE(autostart::isEnabled());
  ASSERT_EQ(autostart::enable("/opt/odd path/tally\"loft$1%"), std::nullopt);
  EXPECT_TRUE(autostart::isEnabled());
  const std::string entry = read(home() / ".config/autostart/tallyloft.desktop");
  EXPECT_NE(entry.find("Exec=\"/opt/odd path/tally\\\\\"loft\\\\$1%%\"\n"), std::string::npos)
      << entry;
  write(home() / ".config/autostart/tallyloft.desktop", "[Desktop Entry]\nHidden=true\n");
  EXPECT_FALSE(autostart::isEnabled());
  ASSERT_EQ(autostart::disable(), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(home() / ".config/autostart/tallyloft.desktop"));

  // A failing switch goes back to what is there, and says why, without looping.
  LoopScheduler loop{Scheduler::TimePoint{}};
  AppModel model(loop, std::nullopt);
  MenuContent menu(model, {});
  std::filesystem::remove_all(home() / ".config/autostart");
  write(home() / ".config/autostart", "a file where the folder should be");
  menu.launchAtLogin()->setChecked(true);
  EXPECT_FALSE(menu.launchAtLogin()->isChecked());
  EXPECT_TRUE(menu.messageLine()->text().startsWith("Login item failed: "));
}

TEST_F(Shell, OnboardingInstallsOrSaysWhyAndAlwaysRecordsItsClose) {
  Preferences preferences;
  OnboardingController onboarding(preferences);
  int shown = 0;
  onboarding.onInstalled = [&] { ++shown; };
  onboarding.show();
  OnboardingView& view = *onboarding.window();
  EXPECT_FALSE(view.installed());
  EXPECT_FALSE(view.installButton()->isHidden());

  // No CLI on this machine: the reason shows and the window stays.
  view.install();
  EXPECT_TRUE(view.isVisible());
  EXPECT_FALSE(view.installed());
  EXPECT_EQ(view.statusLine()->text(),
            "No supported CLI detected — install Claude Code, Codex, or Gemini first.");
  EXPECT_EQ(shown, 0);
  EXPECT_FALSE(preferences.didCompleteOnboarding());

  write(home() / ".claude/settings.json", "{}\n");
  view.install();
  EXPECT_TRUE(view.installed());
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(view.isVisible());
  EXPECT_TRUE(preferences.didCompleteOnboarding());

  // Shown again: the same window, as it was.
  const QPoint where = view.pos();
  onboarding.show();
  EXPECT_EQ(onboarding.window(), &view);
  EXPECT_EQ(view.pos(), where);
}

TEST_F(Shell, TheOfficePanelShowsHidesAndPausesTheOffice) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew(loop);
  Preferences preferences;
  preferences.setBarFloatingFrame("{{40, 60}, {450, 100}}");
  CrewBarController bar(crew, loop, preferences, false);
  EXPECT_FALSE(bar.isShown());
  EXPECT_TRUE(bar.reality().paused()) << "nothing is drawn before it is shown";
  bar.show();
  EXPECT_TRUE(bar.isShown());
  EXPECT_FALSE(bar.reality().paused());
  EXPECT_EQ(bar.panel()->width(), 450);
  EXPECT_EQ(bar.panel()->height(), 100);
  EXPECT_FALSE(bar.backing()->emptyLabel->isHidden()) << "no sessions: the hint shows";
  // No tray here: the way in is the control panel.
  EXPECT_EQ(bar.backing()->emptyLabel->text(),
            "Waiting for an agent…  Open the Tallyloft control panel and Install hooks to begin.");
  bar.toggle();
  EXPECT_FALSE(bar.isShown());
  EXPECT_TRUE(bar.reality().paused());
  bar.toggle();
  EXPECT_TRUE(bar.isShown());
  EXPECT_FALSE(bar.reality().paused());
}

TEST_F(Shell, TheOfficePanelKeepsItsShapeButGivesWayToAWindowManagerThatInsists) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew(loop);
  Preferences preferences;
  preferences.setBarFloatingFrame("{{40, 60}, {450, 100}}");
  CrewBarController bar(crew, loop, preferences, false);
  bar.show();
  QWidget* panel = bar.panel();
  panel->resize(900, 300);  // a window manager's resize of another shape
  EXPECT_EQ(panel->size(), QSize(900, 200));
  // Corrections answered again and again within a second: after three, its size stands.
  for (int i = 0; i < 5; ++i) panel->resize(900 + i, 250);
  EXPECT_EQ(panel->height(), 250);
}

TEST_F(Shell, TheControlPanelsDotAndWindowItemFollowTheServerAndThePanel) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  AppModel model(loop, std::nullopt);
  Preferences preferences;
  preferences.setBarFloatingFrame("{{40, 60}, {450, 100}}");
  CrewBarController bar(model.crew(), loop, preferences, false);
  MenuContent::Actions actions;
  actions.bar = [&] { return &bar; };
  actions.setHideWhenIdle = [&](bool on) { bar.setHideWhenIdle(on); };
  MenuContent menu(model, actions);
  bar.onShownChanged = [&](bool) { menu.refresh(); };
  EXPECT_FALSE(menu.hideWhenIdleSwitch()->isChecked()) << "off by default";
  menu.hideWhenIdleSwitch()->click();
  EXPECT_TRUE(bar.hideWhenIdle());
  menu.hideWhenIdleSwitch()->click();
  EXPECT_FALSE(bar.hideWhenIdle());
  EXPECT_TRUE(menu.serverDot()->styleSheet().contains("#FF9500"));
  model.store().setServer(true, "Listening");
  menu.refresh();
  EXPECT_TRUE(menu.serverDot()->styleSheet().contains("#34C759"));

  // Shown or hidden by anyone (the tray, a second launch, a notification): the item follows.
  EXPECT_EQ(menu.windowButton()->text(), "Show window");
  bar.show();
  EXPECT_EQ(menu.windowButton()->text(), "Hide window");
  bar.panel()->hide();
  EXPECT_EQ(menu.windowButton()->text(), "Show window");
  bar.toggle();
  EXPECT_EQ(menu.windowButton()->text(), "Hide window");
}

// Hooks in and the first-run window done: the office; no hooks: the first-run window.
TEST_F(Shell, LaunchShowsTheOfficeWhenHooksAreInTheOnboardingOtherwise) {
  for (bool installed : {true, false}) {
    SCOPED_TRACE(installed ? "hooks installed" : "no hooks");
    std::filesystem::remove_all(home() / ".claude");
    write(home() / ".claude" / "settings.json", "{}\n");
    if (installed) HookInstaller::install(HookEngine::claude);
    Preferences().setDidCompleteOnboarding(installed);
    AppDelegate delegate({false, std::nullopt, home() / "run" / "tallyloft.sock"});
    delegate.launch();
    ASSERT_NE(delegate.bar(), nullptr);
    EXPECT_EQ(delegate.bar()->isShown(), installed);
    const OnboardingView* onboarding = delegate.onboarding().window();
    EXPECT_EQ(onboarding != nullptr && onboarding->isVisible(), !installed);
    // `tallyloft status` finds it.
    EXPECT_NE(delegate.model().statusServer(), nullptr);
    EXPECT_TRUE(delegate.model().statusServer()->listening());
  }
}

TEST_F(Shell, TheOfficePausesWhileMinimisedAndItsHintGoesOnceASessionIsThere) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew(loop);
  Preferences preferences;
  preferences.setBarFloatingFrame("{{40, 60}, {450, 100}}");
  CrewBarController bar(crew, loop, preferences, false);
  bar.show();
  EXPECT_FALSE(bar.reality().paused());
  bar.panel()->showMinimized();
  QCoreApplication::processEvents();
  EXPECT_TRUE(bar.reality().paused()) << "nothing to see: nothing drawn";
  bar.show();  // restores it
  QCoreApplication::processEvents();
  EXPECT_FALSE(bar.panel()->isMinimized());
  EXPECT_FALSE(bar.reality().paused());

  // With hooks installed the hint says to start a session; once one is there it goes.
  write(home() / ".claude" / "settings.json", "{}\n");
  HookInstaller::install(HookEngine::claude);
  bar.refreshEmptyState();
  EXPECT_FALSE(bar.backing()->emptyLabel->isHidden());
  EXPECT_TRUE(bar.backing()->emptyLabel->text().contains("Start a Claude Code or Codex session"));
  crew.reduce(
      *HookEvent::decode(R"({"hook_event_name":"SessionStart","session_id":"s"})", loop.now()));
  bar.refreshEmptyState();
  EXPECT_TRUE(bar.backing()->emptyLabel->isHidden());
}

TEST_F(Shell, TheOfficeGivesWayToFullScreenWindowsButNeverAgainstTheUsersChoice) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew(loop);
  Preferences preferences;
  preferences.setBarFloatingFrame("{{40, 60}, {450, 100}}");
  CrewBarController bar(crew, loop, preferences, false);
  const auto post = [&](const char* json) { crew.reduce(*HookEvent::decode(json, loop.now())); };
  bar.show();
  bar.setCoveredByFullScreen(true);
  EXPECT_FALSE(bar.isShown());
  EXPECT_TRUE(bar.hiddenForFullScreen());
  EXPECT_TRUE(bar.shownByChoice()) << "the window item still says what the user chose";
  bar.setCoveredByFullScreen(false);
  EXPECT_TRUE(bar.isShown());

  // Hidden by the user during the film: it stays hidden after it.
  bar.setCoveredByFullScreen(true);
  bar.toggle();
  EXPECT_FALSE(bar.shownByChoice());
  bar.setCoveredByFullScreen(false);
  EXPECT_FALSE(bar.isShown());

  // Hidden while idle, a session comes during the film: shown once the film is over.
  bar.toggle();
  bar.idleHideDelayMs = 0;
  bar.setHideWhenIdle(true);
  for (int i = 0; i < 20 && bar.isShown(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  ASSERT_TRUE(bar.autoHidden());
  bar.setCoveredByFullScreen(true);
  post(R"({"hook_event_name":"SessionStart","session_id":"film"})");
  EXPECT_FALSE(bar.isShown());
  bar.setCoveredByFullScreen(false);
  EXPECT_TRUE(bar.isShown());
}

TEST_F(Shell, TheOfficeHidesWhileNoAgentWorksButNeverAgainstTheUsersChoice) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew(loop);
  Preferences preferences;
  preferences.setBarFloatingFrame("{{40, 60}, {450, 100}}");
  CrewBarController bar(crew, loop, preferences, false);
  bar.idleHideDelayMs = 30;
  const auto settle = [] {
    for (int i = 0; i < 20; ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QThread::msleep(5);
    }
  };
  const auto post = [&](const char* json) { crew.reduce(*HookEvent::decode(json, loop.now())); };
  // The session ends and leaves the model; the office has a moment to react.
  const auto endAndRemove = [&](const std::string& sid) {
    crew.reduce(*HookEvent::decode(
        R"({"hook_event_name":"SessionEnd","session_id":")" + sid + R"("})", loop.now()));
    loop.advance(std::chrono::seconds(15));
    settle();
  };
  bar.show();
  post(R"({"hook_event_name":"SessionStart","session_id":"a"})");
  bar.setHideWhenIdle(true);
  settle();
  EXPECT_TRUE(bar.isShown()) << "a session is open";

  // The last session leaves the model: hidden a moment later, though not by the user.
  endAndRemove("a");
  ASSERT_TRUE(crew.sessions().empty());
  EXPECT_FALSE(bar.isShown());
  EXPECT_TRUE(bar.autoHidden());
  EXPECT_TRUE(bar.shownByChoice()) << "the window item still says what the user chose";
  post(R"({"hook_event_name":"SessionStart","session_id":"b"})");
  EXPECT_TRUE(bar.isShown()) << "a new session brings it back";
  EXPECT_FALSE(bar.autoHidden());

  // Hidden by the user: sessions coming and going leave it hidden.
  bar.toggle();
  EXPECT_FALSE(bar.shownByChoice());
  endAndRemove("b");
  post(R"({"hook_event_name":"SessionStart","session_id":"c"})");
  EXPECT_FALSE(bar.isShown());
  // Hidden while idle, then hidden by the user's click: also stays hidden.
  bar.toggle();
  EXPECT_TRUE(bar.isShown());
  endAndRemove("c");
  ASSERT_TRUE(bar.autoHidden());
  bar.toggle();
  EXPECT_FALSE(bar.autoHidden());
  EXPECT_FALSE(bar.shownByChoice());
  post(R"({"hook_event_name":"SessionStart","session_id":"d"})");
  EXPECT_FALSE(bar.isShown());
}

// Quitting hides every window before the panel goes: a move just before still counts.
TEST_F(Shell, TheOfficePanelKeepsAFrameMovedJustBeforeQuitting) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew(loop);
  Preferences preferences;
  preferences.setBarFloatingFrame("{{40, 60}, {450, 100}}");
  QRect moved;
  {
    CrewBarController bar(crew, loop, preferences, false);
    bar.show();
    bar.panel()->move(120, 70);
    moved = bar.panel()->geometry();
    bar.panel()->hide();
  }
  EXPECT_EQ(preferences.barFloatingFrame(), panel::formatFrame(QRectF(moved)));
}

// The frame is kept per arrangement of screens: it comes back with its arrangement, and a frame
// kept for another one (a screen since unplugged) does not count here.
TEST_F(Shell, TheOfficePanelKeepsAFramePerArrangementOfScreensAndMovesToAScreen) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew(loop);
  Preferences preferences;
  const QString here = CrewBarController::screenLayoutKey();
  EXPECT_TRUE(here.startsWith(QGuiApplication::primaryScreen()->name() + " "))
      << here.toStdString();
  preferences.setBarFloatingFrame("{{40, 60}, {450, 100}}");
  preferences.setBarFrameFor("HDMI-1 1920x1080+800+0;" + here, "{{1000, 900}, {540, 120}}");
  preferences.setBarFrameFor(here, "{{30, 50}, {405, 90}}");
  CrewBarController bar(crew, loop, preferences, false);
  bar.show();
  EXPECT_EQ(bar.panel()->geometry(), QRect(30, 50, 405, 90));

  // Moved to a screen: bottom centre of its visible area, the width kept, remembered for this
  // arrangement and as the frame of last resort.
  QScreen* screen = QGuiApplication::primaryScreen();
  bar.moveToScreen(screen);
  const QRect area = screen->availableGeometry();
  const QRect frame = bar.panel()->geometry();
  EXPECT_EQ(frame.width(), 405);
  EXPECT_NEAR(frame.center().x(), area.center().x(), 1);
  EXPECT_NEAR(frame.bottom(), area.bottom() - 6, 2);
  EXPECT_EQ(preferences.barFrameFor(here), panel::formatFrame(QRectF(frame)));
  EXPECT_EQ(preferences.barFloatingFrame(), panel::formatFrame(QRectF(frame)));
  EXPECT_EQ(preferences.barFrameFor("HDMI-1 1920x1080+800+0;" + here), "{{1000, 900}, {540, 120}}");
}

TEST(Loupe, FollowsTheCursorWithItsLensCentre) {
  LoupeController loupe;
  loupe.focus({450, 100}, {1000, 600}, {900, 200});
  EXPECT_EQ(loupe.pos(), QPoint(1000 - 143, 600 - 78));
  EXPECT_NEAR(loupe.source().x(), 0.478, 5e-4);
  const QRectF before = loupe.source();
  loupe.focus({10, 10}, {0, 0}, {1, 1});  // no usable content: unchanged
  EXPECT_EQ(loupe.source(), before);
}

}  // namespace
}  // namespace tallyloft
