#include "shell/AppDelegate.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/RuntimeFolder.h"
#include "hooks/HookInstaller.h"
#include "shell/SingleInstance.h"

namespace tallyloft {
namespace {

// The tray's and the windows' icon: the mascot at the sizes trays and window managers ask for.
// The 512-pixel original is not kept: it would hold a megabyte per icon.
QIcon appIcon() {
  QIcon icon;
  const QImage original(":/assets/mascot.png");
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    icon.addPixmap(QPixmap::fromImage(
        original.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  }
  return icon;
}

constexpr int kTrayGrace = 4000;  // milliseconds
// Between the control panel and the screen's edges when there is no tray icon to sit by.
constexpr int kMargin = 16;

// Whether the desktop asks for less motion: GNOME's enable-animations, or KDE's animation speed.
bool systemReducesMotion() {
  QProcess gsettings;
  gsettings.start("gsettings", {"get", "org.gnome.desktop.interface", "enable-animations"});
  if (gsettings.waitForFinished(500) && gsettings.exitCode() == 0 &&
      gsettings.readAllStandardOutput().trimmed() == "false")
    return true;
  const QString kdeglobals =
      QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + "/kdeglobals";
  QFile file(kdeglobals);
  if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    while (!file.atEnd()) {
      const QByteArray line = file.readLine().trimmed();
      if (line.startsWith("AnimationDurationFactor=") &&
          line.mid(static_cast<qsizetype>(sizeof("AnimationDurationFactor=") - 1)).toDouble() == 0)
        return true;
    }
  }
  return false;
}

}  // namespace

bool trayTogglesPanel(QSystemTrayIcon::ActivationReason reason, qint64 msSinceClick,
                      int doubleClickInterval) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::MiddleClick:
      return true;
    case QSystemTrayIcon::DoubleClick:
      // XEmbed trays send a click and then a double click for one double click: the click
      // has acted already. Trays that send only double clicks (GNOME's AppIndicator) act here.
      return msSinceClick < 0 || msSinceClick > doubleClickInterval;
    default:
      return false;
  }
}

LaunchPlan planLaunch(bool hooksInstalled, bool didCompleteOnboarding) {
  return {hooksInstalled, !(didCompleteOnboarding && hooksInstalled)};
}

AppDelegate::AppDelegate(Options options)
    : options_(options),
      model_(std::make_unique<AppModel>(scheduler_, options.listen)),
      onboarding_(preferences_) {}

AppDelegate::~AppDelegate() {
  fullScreen_.reset();
  // What the models call goes first: nothing may reach the control panel once it has gone.
  if (crewObserver_ != 0) model_->crew().unobserve(crewObserver_);
  model_->store().onChange = nullptr;
  model_->onHooksWarning = nullptr;
  if (StatusServer* status = model_->statusServer()) status->onShow = nullptr;
  if (bar_) {
    bar_->onShownChanged = nullptr;
    bar_->onRoomClicked = nullptr;
  }
  tray_.reset();
  notifier_.reset();
  menu_.reset();
  bar_.reset();
}

void AppDelegate::launch() {
  model_->start();
  // Processes, Claude Code's sessions, settings files, and `tallyloft status`. Without the
  // status socket (another Tallyloft answers there) the app runs all the same.
  if (const auto problem = model_->watchLocalMachine(options_.statusSocket)) {
    std::fprintf(stderr, "tallyloft: no status socket: %s\n", problem->c_str());
  }
  // A second launch asks this one to show its panel, with its activation token.
  if (StatusServer* status = model_->statusServer()) {
    status->onShow = [this](const std::string& token) {
      if (!bar_) return;
      if (!token.empty()) X11Windows().setStartupId(bar_->panel()->winId(), token);
      bar_->show();
    };
  }
  bar_ = std::make_shared<CrewBarController>(model_->crew(), scheduler_, preferences_,
                                             options_.reduceMotion);
  model_->bar = bar_;
  MenuContent::Actions actions;
  actions.showGuide = [this] { onboarding_.show(); };
  actions.checkUpdates = [this] { checkForUpdates(); };
  actions.quit = [] { QCoreApplication::quit(); };
  actions.bar = [this] { return bar_.get(); };
  notifier_ = std::make_unique<WaitNotifier>(model_->crew());
  notifier_->onActivated = [this] {
    if (bar_) bar_->show();
  };
  notifier_->setEnabled(preferences_.notifyWhenWaiting() && notifier_->available());
  notifier_->onAvailable = [this] {
    if (preferences_.notifyWhenWaiting()) notifier_->setEnabled(true);
    if (menu_ && menu_->isVisible()) menu_->refresh();
  };
  notifier_->playSound = [this](bool question) {
    sound_.play(question ? "dialog-question" : "message-new-instant", "An agent is waiting");
  };
  notifier_->setSound(preferences_.playSoundWhenWaiting());
  actions.playingSound = [this] { return notifier_->sound(); };
  actions.setPlayingSound = [this](bool on) {
    notifier_->setSound(on);
    preferences_.setPlaySoundWhenWaiting(on);
  };
  actions.notifying = [this] { return notifier_->enabled(); };
  actions.setNotifying = [this](bool on) {
    notifier_->setEnabled(on);
    preferences_.setNotifyWhenWaiting(on);
  };
  actions.notifyUnavailable = [this] {
    return notifier_->available() ? QString() : QString("no notification service is running");
  };
  actions.goToTerminal = [this](const std::string& sessionId) { goToTerminal(sessionId); };
  bar_->setHideWhenIdle(preferences_.hideWhenIdle());
  actions.hidingOverFullScreen = [this] { return preferences_.hideOverFullScreen(); };
  actions.setHideOverFullScreen = [this](bool on) {
    preferences_.setHideOverFullScreen(on);
    followFullScreen(on);
  };
  followFullScreen(preferences_.hideOverFullScreen());
  actions.setHideWhenIdle = [this](bool on) {
    preferences_.setHideWhenIdle(on);
    bar_->setHideWhenIdle(on);
  };
  actions.acceptingPort = [this] { return preferences_.acceptHooksOnPort(); };
  actions.setAcceptingPort = [this](bool on) {
    preferences_.setAcceptHooksOnPort(on);
    model_->followPortChoice(on);
  };
  actions.fillScreenMenu = [this](QMenu* menu) { fillScreenMenu(menu); };
  actions.terminalUnreachable = [](const SessionNode& session) {
    return TerminalFocus::unreachable(session);
  };
  notifier_->onGoToTerminal = [this](const std::string& sessionId) { goToTerminal(sessionId); };
  notifier_->terminalReachable = [](const SessionNode& session) {
    return TerminalFocus::unreachable(session).isEmpty();
  };
  notifier_->terminalActive = [this](const SessionNode& session) {
    return terminal_.isActive(session);
  };
  bar_->onRoomClicked = [this](const std::string& sessionId) { goToTerminal(sessionId); };
  menu_ = std::make_unique<MenuContent>(*model_, actions);
  menu_->setWindowFlags(Qt::Window);
  // The control panel follows the models only while it is open; opening it re-reads all.
  model_->store().onChange = [this] {
    if (menu_->isVisible()) menu_->refresh();
  };
  crewObserver_ = model_->crew().observe([this] {
    if (menu_->isVisible()) menu_->refresh();
  });
  // "Show window" or "Hide window" as the panel is, whoever showed or hid it.
  bar_->onShownChanged = [this](bool) {
    if (menu_->isVisible()) menu_->refresh();
  };
  // Hooks another program removed: the control panel's row, and one notification when it
  // appears.
  model_->onHooksWarning = [this](HookEngine engine) {
    menu_->refresh();
    const std::string& warning = model_->hooksWatch()->warning(engine);
    if (!warning.empty()) {
      notifier_->tell(QString::fromStdString(warning),
                      "Install them again from the Tallyloft control panel.");
    }
  };
  // The TCP port: the user's choice, and hooks of an older version that still post there.
  model_->onPortChoice = [this] {
    if (menu_->isVisible()) menu_->refresh();
  };
  model_->followPortChoice(preferences_.acceptHooksOnPort());
  bar_->backing()->onContextMenu = [this](QPoint at) { showShortMenu(at); };
  buildTray();

  const LaunchPlan plan = planLaunch(HookInstaller::isInstalled(), false);
  if (plan.showBar) bar_->show();
  onboarding_.onInstalled = [this] {
    if (bar_) bar_->show();
  };
  const LaunchPlan again =
      planLaunch(HookInstaller::isInstalled(), preferences_.didCompleteOnboarding());
  if (again.showOnboarding) onboarding_.show();
  // With no tray there is no icon to click: the control panel is the way in. A tray can also
  // come up a little after the app at login, so it gets a few seconds first.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    QTimer::singleShot(kTrayGrace, this, [this] {
      if (!QSystemTrayIcon::isSystemTrayAvailable()) showControlPanel();
    });
  }
}

void AppDelegate::goToTerminal(const std::string& sessionId) {
  const SessionNode* found = nullptr;
  for (const SessionNode& session : model_->crew().sessions()) {
    if (session.id == sessionId) found = &session;
  }
  if (found == nullptr) return;
  const QString project = QString::fromStdString(found->projectName());
  terminal_.focus(*found, [this, sessionId, project](TerminalFocus::Result result) {
    if (!menu_) return;
    menu_->noteSession(sessionId, result.ok ? QString() : result.message);
    if (!result.ok) menu_->showMessage(project + ": " + result.message + ".");
  });
}

void AppDelegate::buildTray() {
  trayMenu_ = std::make_unique<QMenu>();
  trayMenu_->addAction("Show or hide the office", [this] { model_->toggleBar(); });
  trayMenu_->addAction("Control panel…", [this] { showControlPanel(); });
  QMenu* screens = trayMenu_->addMenu("Move to screen");
  QObject::connect(screens, &QMenu::aboutToShow, screens,
                   [this, screens] { fillScreenMenu(screens); });
  trayMenu_->addSeparator();
  trayMenu_->addAction("Quit Tallyloft", [] { QCoreApplication::quit(); });
  // Made whether or not a tray is there yet: Qt shows it once one appears.
  tray_ = std::make_unique<QSystemTrayIcon>(QApplication::windowIcon());  // set at start
  tray_->setToolTip("Tallyloft");
  tray_->setContextMenu(trayMenu_.get());
  connect(tray_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            const qint64 sinceClick = lastTrayClick_.isValid() ? lastTrayClick_.elapsed() : -1;
            if (reason == QSystemTrayIcon::Trigger) lastTrayClick_.start();
            if (trayTogglesPanel(reason, sinceClick, QApplication::doubleClickInterval())) {
              if (menu_->isVisible()) {
                menu_->hide();
              } else {
                showControlPanel();
              }
            }
          });
  tray_->show();
}

void AppDelegate::fillScreenMenu(QMenu* menu) {
  menu->clear();
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect at = screen->geometry();
    const QString name =
        QStringLiteral("%1 (%2 × %3)").arg(screen->name()).arg(at.width()).arg(at.height());
    menu->addAction(name, this, [this, screen = QPointer<QScreen>(screen)] {
      if (!screen || !bar_) return;
      bar_->show();
      bar_->moveToScreen(screen);
    });
  }
}

void AppDelegate::showShortMenu(QPoint at) {
  trayMenu_->popup(at);
}

void AppDelegate::followFullScreen(bool on) {
  if (!on) {
    fullScreen_.reset();
    bar_->setCoveredByFullScreen(false);
    return;
  }
  if (fullScreen_) return;
  fullScreen_ = std::make_unique<FullScreenWatch>(
      [this] {
        const QScreen* screen = bar_->panel()->screen();
        return screen != nullptr ? screen->geometry() : QRect();
      },
      [this](bool covered) {
        bar_->setCoveredByFullScreen(covered);
        if (menu_ && menu_->isVisible()) menu_->refresh();
      });
}

void AppDelegate::showControlPanel() {
  menu_->recomputeStatus();
  menu_->adjustSize();
  // Near the tray icon when there is one. Without one, at the top right of the work area: clear
  // of the first-run window in the middle and of the office panel at the bottom.
  const bool nearTray = tray_ && tray_->isSystemTrayAvailable() && !tray_->geometry().isEmpty();
  const QPoint near = nearTray ? tray_->geometry().center() : QCursor::pos();
  if (const QScreen* screen =
          nearTray ? QGuiApplication::screenAt(near) : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    QRect frame(near - QPoint(menu_->width() / 2, 0), menu_->size());
    if (!nearTray) frame.moveTopRight(area.topRight() - QPoint(kMargin, -kMargin));
    // Inside the screen where it fits; a panel larger than the screen starts at its corner.
    frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() - frame.width())));
    frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() - frame.height())));
    menu_->move(frame.topLeft());
  }
  menu_->show();
  menu_->raise();
  menu_->activateWindow();
}

void AppDelegate::checkForUpdates() {
  menu_->messageLine()->setText(
      "Updates come with your package manager (apt upgrade), or a new build of this checkout.");
  menu_->refresh();
}

namespace {

// SIGTERM (a logout, `kill`) and SIGINT end the app through its event loop, as "Quit Tallyloft"
// does: the panel's frame and the settings are written and the server stops. The handler only
// writes a byte to a socket that the loop watches.
int quitSignalSockets[2] = {-1, -1};

void onQuitSignal(int /*signal*/) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(quitSignalSockets[0], &byte, 1);
  errno = savedErrno;
}

void quitOnSignals(QApplication& app) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, quitSignalSockets) != 0)
    return;
  auto* notifier = new QSocketNotifier(quitSignalSockets[1], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(quitSignalSockets[1], &byte, 1);
    QCoreApplication::quit();
  });
  // Only the first signal asks politely: a second one, should the app be stuck, ends it.
  struct sigaction action {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int runDesktopApp(int& argc, char** argv, bool reduceMotion) {
  // Floating panels, stacking and the global cursor need X11 semantics: XWayland under Wayland.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "xcb");
  const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
  if (!platformChosen && qEnvironmentVariableIsEmpty("DISPLAY")) {
    std::fprintf(stderr,
                 "tallyloft: no display (DISPLAY is not set); for a headless hook server run "
                 "`tallyloft serve`\n");
    return 1;
  }
  // A DISPLAY that names no running X server would make Qt abort: ask it first.
  if (qEnvironmentVariable("QT_QPA_PLATFORM") == "xcb" && !X11Windows::canConnect()) {
    std::fprintf(stderr,
                 "tallyloft: no display (DISPLAY=%s cannot be opened); for a headless hook server "
                 "run `tallyloft serve`\n",
                 qgetenv("DISPLAY").constData());
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tallyloft");
  QGuiApplication::setDesktopFileName("tallyloft");
  QApplication::setOrganizationName("Tallyloft");
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(appIcon());
  quitOnSignals(app);
  SingleInstance instance;
  const std::filesystem::path socket = statusSocketPath();
  switch (instance.acquire(socket, SingleInstance::activationToken())) {
    case SingleInstance::Outcome::run:
      break;
    case SingleInstance::Outcome::handedOver:
      std::fprintf(stderr, "tallyloft: already running; showing its office panel\n");
      return 0;
    case SingleInstance::Outcome::stuck:
    case SingleInstance::Outcome::noFolder:
      std::fprintf(stderr, "tallyloft: cannot start: %s\n", instance.problem().c_str());
      return 1;
  }
  AppDelegate delegate(
      {reduceMotion || systemReducesMotion(), HookListen{.socket = hookSocketPath()}, socket});
  delegate.launch();
  return app.exec();
}

}  // namespace tallyloft
