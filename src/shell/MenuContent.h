#pragma once

#include <QWidget>
#include <functional>
#include <map>

#include "app/AppModel.h"
#include "hooks/HookEngine.h"
#include "shell/SessionList.h"

class QCheckBox;
class QMenu;
class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace tallyloft {

class CrewBarController;

// The control panel: server status and counts, the hooks of each CLI with install and remove,
// "Install for detected", launch at login, the setup guide, updates and quitting. Opened from the
// tray icon (or as a small window where there is no tray). Main-thread only.
class MenuContent : public QWidget {
  Q_OBJECT

 public:
  struct Actions {
    std::function<void()> showGuide;
    std::function<void()> checkUpdates;
    std::function<void()> quit;
    std::function<CrewBarController*()> bar;  // the office panel, once there is one
    // Desktop notifications when an agent waits: whether they are on, switching them, and why
    // they cannot be had (empty when they can).
    std::function<bool()> notifying;
    std::function<void(bool)> setNotifying;
    std::function<QString()> notifyUnavailable;
    // "Play a sound when an agent waits": whether it is on, and switching it.
    // Fills a menu with one "move the office panel there" item per screen.
    std::function<void(QMenu*)> fillScreenMenu;
    std::function<bool()> playingSound;
    std::function<void(bool)> setPlayingSound;
    // Going to a session's terminal from its row, and why a session's terminal cannot be
    // reached (empty when it may be).
    std::function<void(const std::string& sessionId)> goToTerminal;
    std::function<QString(const SessionNode&)> terminalUnreachable;
    // The "Hide the office while no agent works" switch.
    std::function<void(bool)> setHideWhenIdle;
    // The "Hide the office over full-screen windows" switch: whether it is on, and switching it.
    std::function<bool()> hidingOverFullScreen;
    std::function<void(bool)> setHideOverFullScreen;
    // The switch for hooks over TCP port 51789: whether it is on, and switching it.
    std::function<bool()> acceptingPort;
    std::function<void(bool)> setAcceptingPort;
  };

  MenuContent(AppModel& model, Actions actions, QWidget* parent = nullptr);

  // Whether each CLI's settings file holds the app's hooks.
  static std::map<HookEngine, bool> currentStatus();
  // Re-reads the models (server, counts, panel visibility) into the lines.
  void refresh();
  // Re-reads the CLIs' files: run whenever the panel opens.
  void recomputeStatus();

  // Visible for tests.
  QLabel* serverLine() const { return server_; }
  QLabel* serverDot() const { return dot_; }
  QLabel* countsLine() const { return counts_; }
  QWidget* warningRow() const { return warning_; }
  SessionList* sessionList() const { return sessions_; }
  // The row that says another program removed a CLI's hooks, with its "Install" button.
  QWidget* removedRow(HookEngine engine) const { return removed_.at(engine).row; }
  QLabel* removedText(HookEngine engine) const { return removed_.at(engine).text; }
  QPushButton* removedInstall(HookEngine engine) const { return removed_.at(engine).install; }
  QPushButton* windowButton() const { return windowButton_; }
  QPushButton* screenButton() const { return screenButton_; }
  QCheckBox* launchAtLogin() const { return launch_; }
  QCheckBox* hideWhenIdleSwitch() const { return hideWhenIdle_; }
  QCheckBox* fullScreenSwitch() const { return fullScreen_; }
  QCheckBox* notifySwitch() const { return notify_; }
  QCheckBox* soundSwitch() const { return sound_; }
  QLabel* notifyReason() const { return notifyReason_; }
  QPushButton* engineButton(HookEngine engine) const { return rows_.at(engine).button; }
  QLabel* engineNote(HookEngine engine) const { return rows_.at(engine).note; }
  QLabel* engineMark(HookEngine engine) const { return rows_.at(engine).mark; }
  QPushButton* installDetectedButton() const { return installDetected_; }
  // The line that says the port stays open for hooks of an older version, with its button.
  QWidget* olderHooksRow() const { return older_; }
  QPushButton* updateHooksButton() const { return updateHooks_; }
  QCheckBox* portSwitch() const { return port_; }
  QLabel* portNote() const { return portNote_; }
  QLabel* messageLine() const { return message_; }

  void toggle(HookEngine engine);
  void installDetected();
  // Installs again for every CLI whose hooks an older version wrote.
  void updateOlderHooks();
  // Puts a line in the panel's message area.
  void showMessage(const QString& text) { setMessage(text); }
  // What going to a session's terminal found, on its row (empty: nothing to say).
  void noteSession(const std::string& sessionId, const QString& note);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct Row {
    QLabel* mark;
    QLabel* name;
    QLabel* note;
    QPushButton* button;
  };
  void setMessage(const QString& text);
  // Only the session list (its "12 s ago"), once a second while open.
  void refreshSessions();
  void launchChanged(bool on);
  void showBar();

  AppModel& model_;
  Actions actions_;
  std::map<HookEngine, bool> status_;
  std::map<HookEngine, bool> stale_;  // hooked, but not as an install writes them today
  QLabel* dot_ = nullptr;
  QLabel* server_ = nullptr;
  QLabel* counts_ = nullptr;
  SessionList* sessions_ = nullptr;
  QTimer* ticker_ = nullptr;  // the rows' "12 s ago" while the panel is open
  QWidget* warning_ = nullptr;
  QPushButton* windowButton_ = nullptr;
  QPushButton* screenButton_ = nullptr;
  QCheckBox* launch_ = nullptr;
  QCheckBox* hideWhenIdle_ = nullptr;
  QCheckBox* fullScreen_ = nullptr;
  QCheckBox* notify_ = nullptr;
  QCheckBox* sound_ = nullptr;
  QLabel* notifyReason_ = nullptr;
  std::map<HookEngine, Row> rows_;
  struct Removed {
    QWidget* row;
    QLabel* text;
    QPushButton* install;
  };
  std::map<HookEngine, Removed> removed_;
  // Tells the hooks watch that the app itself just wrote this CLI's file.
  void wrote(HookEngine engine);
  QPushButton* installDetected_ = nullptr;
  QWidget* older_ = nullptr;
  QPushButton* updateHooks_ = nullptr;
  QCheckBox* port_ = nullptr;
  QLabel* portNote_ = nullptr;
  QLabel* message_ = nullptr;
  bool revertingLaunch_ = false;
};

}  // namespace tallyloft
