#pragma once

#include <QElapsedTimer>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/AppModel.h"
#include "shell/CrewBarController.h"
#include "shell/EventSound.h"
#include "shell/FullScreenWatch.h"
#include "shell/MenuContent.h"
#include "shell/OnboardingController.h"
#include "shell/Preferences.h"
#include "shell/QtScheduler.h"
#include "shell/TerminalFocus.h"
#include "shell/WaitNotifier.h"

namespace tallyloft {

// What shows at launch.
struct LaunchPlan {
  bool showBar;
  bool showOnboarding;
};
// The bar when hooks are installed; onboarding unless it was completed and hooks are installed.
LaunchPlan planLaunch(bool hooksInstalled, bool didCompleteOnboarding);

// The composition root of the desktop app: the application model with its hook server, the
// office panel, the tray icon and its control panel, the first-run window, and the updater.
// Main-thread only; lives until the process ends.
class AppDelegate : public QObject {
 public:
  struct Options {
    bool reduceMotion = false;
    // Where the hook server listens; none: no server. The TCP port follows the user's choice
    // and the installed hooks (see AppModel::followPortChoice).
    std::optional<HookListen> listen;
    // Where `tallyloft status` finds the app; the user's default when unset.
    std::optional<std::filesystem::path> statusSocket;
  };
  explicit AppDelegate(Options options);
  ~AppDelegate() override;

  // The launch sequence: start the model, create the bar, decide what shows.
  void launch();

  AppModel& model() { return *model_; }
  CrewBarController* bar() { return bar_.get(); }
  MenuContent& menu() { return *menu_; }
  TerminalFocus& terminalFocus() { return terminal_; }
  // Brings the session's terminal forward; what went wrong shows on its row in the control
  // panel and in the panel's message line.
  void goToTerminal(const std::string& sessionId);
  WaitNotifier& notifier() { return *notifier_; }
  OnboardingController& onboarding() { return onboarding_; }
  // Opens the control panel (near the tray icon, or as a small window without a tray).
  void showControlPanel();
  void checkForUpdates();

 private:
  void buildTray();
  void showShortMenu(QPoint at);

  Options options_;
  QtScheduler scheduler_;
  Preferences preferences_;
  std::unique_ptr<AppModel> model_;
  std::shared_ptr<CrewBarController> bar_;
  std::unique_ptr<MenuContent> menu_;
  OnboardingController onboarding_;
  EventSound sound_;
  std::unique_ptr<WaitNotifier> notifier_;
  // Hides the office panel over full-screen windows while the switch is on.
  std::unique_ptr<FullScreenWatch> fullScreen_;
  void followFullScreen(bool on);
  // "Move to screen": one item per screen, by name.
  void fillScreenMenu(QMenu* menu);
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QMenu> trayMenu_;
  TerminalFocus terminal_;
  std::size_t crewObserver_ = 0;
  QElapsedTimer lastTrayClick_;
};

// Whether a tray activation opens or closes the control panel: a click or a middle click does,
// and so does a double click, unless it follows a click within the double-click interval
// (`msSinceClick` -1: no click yet).
bool trayTogglesPanel(QSystemTrayIcon::ActivationReason reason, qint64 msSinceClick,
                      int doubleClickInterval);

// Runs the desktop app. Returns the exit status.
int runDesktopApp(int& argc, char** argv, bool reduceMotion);

}  // namespace tallyloft
