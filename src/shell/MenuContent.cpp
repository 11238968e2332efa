#include "shell/MenuContent.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>
#include <filesystem>
#include <string>

#include "hooks/HookInstaller.h"
#include "shell/AutostartEntry.h"
#include "shell/CrewBarController.h"

namespace tallyloft {
namespace {

QString text(std::string_view view) {
  return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

bool directoryExists(HookEngine engine) {
  std::error_code error;
  return std::filesystem::exists(fileURL(engine).parent_path(), error);
}

QFrame* divider() {
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

QLabel* caption(const QString& text, const char* color = nullptr, double points = 9) {
  auto* label = new QLabel(text);
  QFont font = label->font();
  font.setPointSizeF(points);
  label->setFont(font);
  if (color != nullptr) label->setStyleSheet(QStringLiteral("color: %1;").arg(color));
  return label;
}

}  // namespace

std::map<HookEngine, bool> MenuContent::currentStatus() {
  std::map<HookEngine, bool> status;
  for (HookEngine engine : kAllEngines) status[engine] = HookInstaller::isInstalled(engine);
  return status;
}

MenuContent::MenuContent(AppModel& model, Actions actions, QWidget* parent)
    : QWidget(parent), model_(model), actions_(std::move(actions)) {
  setWindowTitle("Tallyloft");
  setFixedWidth(280);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(12, 12, 12, 12);
  column->setSpacing(10);

  auto* serverRow = new QHBoxLayout;
  dot_ = new QLabel;
  dot_->setFixedSize(8, 8);
  server_ = caption({});
  serverRow->addWidget(dot_);
  serverRow->addWidget(server_, 1);
  column->addLayout(serverRow);
  counts_ = caption({}, "palette(mid)");
  column->addWidget(counts_);
  sessions_ = new SessionList;
  sessions_->onClicked = [this](const std::string& sessionId) {
    if (actions_.goToTerminal) actions_.goToTerminal(sessionId);
  };
  column->addWidget(sessions_);
  ticker_ = new QTimer(this);
  ticker_->setInterval(1000);
  connect(ticker_, &QTimer::timeout, this, [this] { refreshSessions(); });

  warning_ = new QWidget;
  auto* warningRow = new QHBoxLayout(warning_);
  warningRow->setContentsMargins(0, 0, 0, 0);
  auto* sign = caption("⚠", "#FF9500");
  sign->setAlignment(Qt::AlignTop);
  auto* warningText = caption("Hooks not installed — agents won't appear until you install.");
  warningText->setWordWrap(true);
  warningRow->addWidget(sign);
  warningRow->addWidget(warningText, 1);
  column->addWidget(warning_);
  for (HookEngine engine : kAllEngines) {
    Removed removed{new QWidget, caption({}), new QPushButton("Install")};
    auto* line = new QHBoxLayout(removed.row);
    line->setContentsMargins(0, 0, 0, 0);
    auto* mark = caption("⚠", "#FF9500");
    mark->setAlignment(Qt::AlignTop);
    removed.text->setWordWrap(true);
    line->addWidget(mark);
    line->addWidget(removed.text, 1);
    line->addWidget(removed.install);
    connect(removed.install, &QPushButton::clicked, this, [this, engine] {
      status_[engine] = false;  // whatever is left: install, never remove
      toggle(engine);
    });
    removed.row->setVisible(false);
    column->addWidget(removed.row);
    removed_[engine] = removed;
  }
  column->addWidget(divider());

  windowButton_ = new QPushButton("Show window");
  connect(windowButton_, &QPushButton::clicked, this, [this] {
    model_.toggleBar();
    refresh();
  });
  column->addWidget(windowButton_);
  screenButton_ = new QPushButton("Move to screen");
  auto* screens = new QMenu(screenButton_);
  connect(screens, &QMenu::aboutToShow, this, [this, screens] {
    if (actions_.fillScreenMenu) actions_.fillScreenMenu(screens);
  });
  screenButton_->setMenu(screens);
  column->addWidget(screenButton_);
  launch_ = new QCheckBox("Launch at login");
  launch_->setChecked(autostart::isEnabled());
  connect(launch_, &QCheckBox::toggled, this, &MenuContent::launchChanged);
  column->addWidget(launch_);
  hideWhenIdle_ = new QCheckBox("Hide the office while no agent works");
  connect(hideWhenIdle_, &QCheckBox::toggled, this, [this](bool on) {
    if (actions_.setHideWhenIdle) actions_.setHideWhenIdle(on);
  });
  column->addWidget(hideWhenIdle_);
  fullScreen_ = new QCheckBox("Hide the office over full-screen windows");
  connect(fullScreen_, &QCheckBox::toggled, this, [this](bool on) {
    if (actions_.setHideOverFullScreen) actions_.setHideOverFullScreen(on);
  });
  column->addWidget(fullScreen_);

  auto* heading = caption("HOOKS", "palette(mid)", 8);
  heading->setContentsMargins(0, 2, 0, 0);
  column->addWidget(heading);
  for (HookEngine engine : kAllEngines) {
    auto* row = new QHBoxLayout;
    Row parts{caption({}), caption(text(displayName(engine))), caption({}, "palette(mid)", 8),
              new QPushButton};
    parts.button->setFlat(false);
    connect(parts.button, &QPushButton::clicked, this, [this, engine] { toggle(engine); });
    row->addWidget(parts.mark);
    row->addWidget(parts.name);
    row->addWidget(parts.note);
    row->addStretch(1);
    row->addWidget(parts.button);
    column->addLayout(row);
    rows_[engine] = parts;
  }
  installDetected_ = new QPushButton("Install for detected");
  installDetected_->setDefault(true);
  connect(installDetected_, &QPushButton::clicked, this, &MenuContent::installDetected);
  column->addWidget(installDetected_);
  older_ = new QWidget;
  auto* olderLine = new QHBoxLayout(older_);
  olderLine->setContentsMargins(0, 0, 0, 0);
  auto* olderText =
      caption(QStringLiteral("Port %1 is open for hooks from an older Tallyloft. Update them to "
                             "close it.")
                  .arg(HookServer::kPort),
              {}, 8);
  olderText->setWordWrap(true);
  updateHooks_ = new QPushButton("Update hooks");
  connect(updateHooks_, &QPushButton::clicked, this, &MenuContent::updateOlderHooks);
  olderLine->addWidget(olderText, 1);
  olderLine->addWidget(updateHooks_);
  older_->setVisible(false);
  column->addWidget(older_);
  port_ = new QCheckBox(QStringLiteral("Accept hooks on TCP port %1").arg(HookServer::kPort));
  connect(port_, &QCheckBox::toggled, this, [this](bool on) {
    if (actions_.setAcceptingPort) actions_.setAcceptingPort(on);
    refresh();
  });
  port_->setToolTip(
      "For agents in containers or VMs: their hooks post to this port with the secret of "
      "~/.config/tallyloft/hook-secret (tallyloft hooks install --port 51789).");
  column->addWidget(port_);
  // Not wrapped but broken by hand: a wrapped label gets too little height in this window.
  portNote_ = caption({}, "palette(mid)", 8);
  column->addWidget(portNote_);
  notify_ = new QCheckBox("Notify when an agent waits");
  connect(notify_, &QCheckBox::toggled, this, [this](bool on) {
    if (actions_.setNotifying) actions_.setNotifying(on);
  });
  column->addWidget(notify_);
  notifyReason_ = caption({}, "palette(mid)", 8);
  notifyReason_->setWordWrap(true);
  column->addWidget(notifyReason_);
  sound_ = new QCheckBox("Play a sound when an agent waits");
  connect(sound_, &QCheckBox::toggled, this, [this](bool on) {
    if (actions_.setPlayingSound) actions_.setPlayingSound(on);
  });
  column->addWidget(sound_);
  auto* guide = new QPushButton("Setup guide");
  connect(guide, &QPushButton::clicked, this, [this] {
    if (actions_.showGuide) actions_.showGuide();
  });
  column->addWidget(guide);
  message_ = caption({}, "palette(mid)", 8);
  message_->setWordWrap(true);
  column->addWidget(message_);
  column->addWidget(divider());
  auto* updates = new QPushButton("Check for Updates…");
  connect(updates, &QPushButton::clicked, this, [this] {
    if (actions_.checkUpdates) actions_.checkUpdates();
  });
  column->addWidget(updates);
  auto* quit = new QPushButton("Quit Tallyloft");
  connect(quit, &QPushButton::clicked, this, [this] {
    if (actions_.quit) actions_.quit();
  });
  column->addWidget(quit);
  recomputeStatus();
}

void MenuContent::showEvent(QShowEvent* event) {
  recomputeStatus();
  ticker_->start();
  QWidget::showEvent(event);
}

void MenuContent::hideEvent(QHideEvent* event) {
  ticker_->stop();
  QWidget::hideEvent(event);
}

void MenuContent::recomputeStatus() {
  status_ = currentStatus();
  // Hooks that post to a socket other than this app's (installed where XDG_RUNTIME_DIR was
  // another) would lose every event: installing again points them here.
  const HookServer* server = model_.server();
  for (HookEngine engine : kAllEngines) {
    stale_[engine] = status_[engine] && HookInstaller::needsReinstall(engine);
    if (status_[engine] && server != nullptr && !server->socketPath().empty()) {
      for (const auto& socket : HookInstaller::sockets(engine)) {
        stale_[engine] = stale_[engine] || socket != server->socketPath();
      }
    }
  }
  refresh();
}

void MenuContent::refresh() {
  const EventStore& store = model_.store();
  const bool running = store.serverRunning();
  dot_->setStyleSheet(
      QStringLiteral("background: %1; border-radius: 4px;").arg(running ? "#34C759" : "#FF9500"));
  QString where = QStringLiteral("Listening · local socket");
  if (store.serverPort() != 0) where += QStringLiteral(" · port %1").arg(store.serverPort());
  server_->setText(running ? where : QString::fromStdString(store.serverStatus()));
  server_->setToolTip(QString::fromStdString(store.serverStatus()));
  const bool olderWas = older_->isVisible();
  older_->setVisible(model_.servingOlderHooks());
  {
    const QSignalBlocker quiet(port_);
    port_->setChecked(actions_.acceptingPort && actions_.acceptingPort());
  }
  port_->setVisible(static_cast<bool>(actions_.setAcceptingPort));
  QString portNote;
  const std::string& status = store.serverStatus();
  if (!model_.portProblem().empty()) {
    portNote = "Port not opened:\n" + QString::fromStdString(model_.portProblem());
  } else if (const auto failed = status.find("; port "); failed != std::string::npos) {
    portNote = "Port " + QString::fromStdString(status.substr(failed + 7));
  } else {
    portNote =
        "Other users on this machine could listen\non this port while Tallyloft is not "
        "running.";
  }
  // Lines that come, go or say more change the panel's height.
  const bool reshape = portNote_->text() != portNote || olderWas != older_->isVisible();
  portNote_->setText(portNote);
  portNote_->setVisible(port_->isVisible());
  if (reshape && isVisible()) adjustSize();
  int live = 0;
  for (const SessionNode& session : model_.crew().sessions()) live += session.liveAgentCount();
  counts_->setText(QStringLiteral("%1 sessions · %2 live agents · %3 events")
                       .arg(model_.crew().activeSessionCount())
                       .arg(live)
                       .arg(store.eventCount()));
  bool any = false;
  bool pending = false;
  for (HookEngine engine : kAllEngines) {
    const bool hooked = status_[engine];
    const bool present = directoryExists(engine);
    any = any || hooked;
    pending = pending || (present && !hooked);
    Row& row = rows_[engine];
    row.mark->setText(hooked ? "✔" : "○");
    row.mark->setStyleSheet(hooked ? "color: #34C759;" : "color: palette(mid);");
    const bool stale = hooked && stale_[engine];
    row.note->setText(!present ? "not found" : stale ? "reinstall" : QString());
    row.button->setVisible(hooked || present);
    row.button->setText(hooked && !stale ? "Remove" : "Install");
  }
  warning_->setVisible(!any);
  const HooksWatch* watch = model_.hooksWatch();
  for (HookEngine engine : kAllEngines) {
    const std::string removed = watch != nullptr ? watch->warning(engine) : std::string();
    removed_[engine].text->setText(QString::fromStdString(removed));
    removed_[engine].row->setVisible(!removed.empty());
  }
  installDetected_->setVisible(pending);
  const QString unavailable =
      actions_.notifyUnavailable ? actions_.notifyUnavailable() : QString("Not available here");
  notify_->setEnabled(unavailable.isEmpty());
  notify_->setToolTip(unavailable);
  notifyReason_->setText(unavailable.isEmpty() ? QString() : "Unavailable: " + unavailable + ".");
  notifyReason_->setVisible(!unavailable.isEmpty());
  {
    const QSignalBlocker quiet(notify_);
    notify_->setChecked(unavailable.isEmpty() && actions_.notifying && actions_.notifying());
  }
  {
    const QSignalBlocker quiet(sound_);
    sound_->setChecked(actions_.playingSound && actions_.playingSound());
  }
  // Offered where there is more than one screen to choose from.
  screenButton_->setVisible(actions_.fillScreenMenu && QGuiApplication::screens().size() > 1);
  const CrewBarController* bar = actions_.bar ? actions_.bar() : nullptr;
  windowButton_->setText(bar != nullptr && bar->shownByChoice() ? "Hide window" : "Show window");
  if (bar != nullptr) {
    const QSignalBlocker quiet(hideWhenIdle_);
    hideWhenIdle_->setChecked(bar->hideWhenIdle());
  }
  {
    const QSignalBlocker quiet(fullScreen_);
    fullScreen_->setChecked(!actions_.hidingOverFullScreen || actions_.hidingOverFullScreen());
  }
  message_->setVisible(!message_->text().isEmpty());
  refreshSessions();
}

void MenuContent::refreshSessions() {
  if (sessions_->setSessions(model_.crew().sessions(), model_.scheduler().now(),
                             actions_.terminalUnreachable) &&
      isVisible()) {
    adjustSize();  // rows came or went: the panel grows or shrinks with them
  }
}

void MenuContent::noteSession(const std::string& sessionId, const QString& note) {
  sessions_->setNote(sessionId, note);
  if (isVisible()) adjustSize();
}

void MenuContent::setMessage(const QString& text) {
  message_->setText(text);
  refresh();
}

void MenuContent::showBar() {
  if (CrewBarController* bar = actions_.bar ? actions_.bar() : nullptr) bar->show();
}

void MenuContent::toggle(HookEngine engine) {
  const QString name = text(displayName(engine));
  const bool remove = status_[engine] && !stale_[engine];
  try {
    if (remove) {
      HookInstaller::uninstall(engine);
      message_->setText(name + ": hooks removed. Restart its sessions.");
    } else {
      HookInstaller::install(engine);
      QString done = name + ": hooks installed ✓  Start a new session.";
      if (const auto notice = HookInstaller::installNotice(engine); !notice.empty())
        done += " " + text(notice);
      message_->setText(done);
      showBar();
    }
  } catch (const std::exception& error) {
    message_->setText("Failed: " + QString::fromUtf8(error.what()));
  }
  wrote(engine);
  // Recomputed after failures too: a partial change is shown as it is.
  recomputeStatus();
}

void MenuContent::wrote(HookEngine engine) {
  if (HooksWatch* watch = model_.hooksWatch()) watch->expectCurrent(engine);
}

void MenuContent::installDetected() {
  std::vector<HookInstaller::Installed> installed;
  try {
    QString done = QString::fromStdString(HookInstaller::install(&installed));
    if (installed.empty()) {
      // Nothing to install into: say so, no success.
      message_->setText(done);
    } else {
      done += "  Start a new session to begin.";
      for (const auto& each : installed) {
        if (const auto notice = HookInstaller::installNotice(each.engine); !notice.empty())
          done += " " + text(notice);
      }
      message_->setText(done);
      showBar();
    }
  } catch (const std::exception& error) {
    message_->setText("Install failed: " + QString::fromUtf8(error.what()));
  }
  for (HookEngine engine : kAllEngines) wrote(engine);
  recomputeStatus();
}

void MenuContent::updateOlderHooks() {
  QStringList done;
  try {
    for (HookEngine engine : kAllEngines) {
      if (!HookInstaller::hasOlderHooks(engine)) continue;
      HookInstaller::install(engine);
      wrote(engine);
      done << text(displayName(engine));
    }
    message_->setText(done.isEmpty()
                          ? QString("No hooks of an older Tallyloft are left.")
                          : "Hooks updated ✓  " + done.join(" & ") +
                                ": new sessions use the private socket; the port closes once the "
                                "sessions open now have ended.");
  } catch (const std::exception& error) {
    message_->setText("Update failed: " + QString::fromUtf8(error.what()));
  }
  recomputeStatus();
}

void MenuContent::launchChanged(bool on) {
  if (revertingLaunch_) return;
  const auto failure =
      on ? autostart::enable(QCoreApplication::applicationFilePath()) : autostart::disable();
  if (!failure) return;
  // Back to what is really there, without running this handler again.
  revertingLaunch_ = true;
  launch_->setChecked(autostart::isEnabled());
  revertingLaunch_ = false;
  setMessage("Login item failed: " + *failure);
}

}  // namespace tallyloft
