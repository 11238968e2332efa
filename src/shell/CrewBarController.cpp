#include "shell/CrewBarController.h"

#include "scene/OfficeLayout.h"

#include <QCursor>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "hooks/HookInstaller.h"
#include "shell/PanelGeometry.h"
#include "shell/X11Windows.h"

namespace tallyloft {
namespace {

constexpr double kIdleLoupe = 5;  // seconds without movement that end the magnifier
constexpr double kSnapInterval = 1.0 / 15;
constexpr int kHoverPollMs = 16;  // following the cursor over the office
constexpr int kIdlePollMs = 250;  // once the magnifier has gone idle

QRectF visibleArea() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) return screen->availableGeometry();
  if (!QGuiApplication::screens().isEmpty())
    return QGuiApplication::screens().first()->availableGeometry();
  return {100, 100, 1200, 700};
}

}  // namespace

CrewBarController::CrewBarController(CrewModel& crew, Scheduler& scheduler,
                                     Preferences& preferences, bool reduceMotion)
    : crew_(crew),
      preferences_(preferences),
      reality_(std::make_unique<CrewRealityController>(
          crew, scheduler, CrewRealityController::Options{reduceMotion, 1})) {
  clock_.start();
  now = [this] { return static_cast<double>(clock_.elapsed()) / 1000; };
  panel_ = std::make_unique<FloorBackingView>(*this);
  reality_->onFrozenChanged = [this](bool frozen) {
    if (!frozen) wokeAt_ = QDateTime::currentMSecsSinceEpoch();
    if (frozen && reportFrames_) std::fprintf(stderr, "tallyloft: office frozen\n");
    updateViewClock();
  };
  // Frames by need: fewer while little moves, and fewer when the GL driver draws on the CPU.
  QObject::connect(panel_->view, &RenderView::frameRendered, panel_.get(), [this] {
    panel_->view->setFrameInterval(
        frameInterval(reality_->activity(), panel_->view->softwareRendering()));
  });
  // Pictures for the magnifier are taken after a frame is drawn, never while drawing it.
  QObject::connect(
      panel_->view, &RenderView::frameRendered, panel_.get(), [this] { refreshLoupePixels(); },
      Qt::QueuedConnection);
  // For measuring: a line for every frame drawn (the first one says so), and when the office
  // wakes, the wall clock of the first frame after.
  if (reportFrames_) {
    QObject::connect(
        panel_->view, &RenderView::frameRendered, panel_.get(),
        [this] {
          static bool first = true;
          if (wokeAt_ != 0) {
            std::fprintf(stderr, "tallyloft: first frame after waking at %lld ms\n",
                         static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
            wokeAt_ = 0;
          }
          std::fprintf(stderr, first ? "tallyloft: first frame\n" : "tallyloft: frame\n");
          first = false;
        },
        Qt::QueuedConnection);
  }
  QObject::connect(panel_->view, &RenderView::rendererKnown, panel_.get(),
                   [this](bool) { applyRenderScale(); });
  // The hint is checked only while the panel is on screen.
  emptyTimer_.setInterval(600);
  QObject::connect(&emptyTimer_, &QTimer::timeout, [this] { refreshEmptyState(); });
  hoverTimer_.setInterval(kHoverPollMs);
  // The cursor is followed only while it is over the panel, and only its moves count (a cursor
  // resting over the office lets the magnifier go after 5 s).
  QObject::connect(&hoverTimer_, &QTimer::timeout, [this] {
    const QPoint at = QCursor::pos();
    if (at != lastCursor_ || !panel_->geometry().contains(at)) handleMouse(at);
  });
  idleHideTimer_.setSingleShot(true);
  QObject::connect(&idleHideTimer_, &QTimer::timeout, [this] {
    if (!hideWhenIdle_ || !crew_.sessions().empty() || !isShown()) return;
    panel_->hide();
    stopLoupe();
    setPaused(true);
    autoHidden_ = true;
    if (onShownChanged) onShownChanged(false);
  });
  crewObserver_ = crew_.observe([this] { crewChanged(); });
  // Screens settle over a moment (a dock unplugged takes several changes): one look after.
  screensTimer_.setSingleShot(true);
  screensTimer_.setInterval(200);
  QObject::connect(&screensTimer_, &QTimer::timeout, [this] { screensChanged(); });
  const auto screensMoved = [this] {
    // What the user left unsaved belongs to the arrangement that is going.
    saveFloatingFrame();
    screensTimer_.start();
  };
  QObject::connect(qGuiApp, &QGuiApplication::screenAdded, &screensTimer_, screensMoved);
  QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, &screensTimer_, screensMoved);
  QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, &screensTimer_, screensMoved);
  saveTimer_.setSingleShot(true);
  saveTimer_.setInterval(250);
  QObject::connect(&saveTimer_, &QTimer::timeout, [this] { saveFloatingFrame(); });
  setPaused(true);  // until shown
  refreshEmptyState();
}

CrewBarController::~CrewBarController() {
  crew_.unobserve(crewObserver_);
  saveFloatingFrame();  // a move just before quitting still counts
  stopLoupe();
  panel_.reset();  // the view draws the scene: it goes before the scene's controller
}

QRectF CrewBarController::savedFloatingFrame() const {
  std::vector<QRectF> screens;
  for (const QScreen* screen : QGuiApplication::screens())
    screens.push_back(screen->availableGeometry());
  std::optional<QString> stored = preferences_.barFrameFor(screenLayoutKey());
  if (!stored) stored = preferences_.barFloatingFrame();
  return panel::savedFrame(stored, visibleArea(), screens);
}

void CrewBarController::applyMode() {
  const QSizeF largest = panel::maximumSize(visibleArea());
  panel_->setMaximumSize(static_cast<int>(largest.width()), static_cast<int>(largest.height()));
  const QRect frame = savedFloatingFrame().toRect();
  // The arrangement the frame belongs to, kept with it from the start, so that it comes back
  // with the arrangement even if it is never moved.
  layout_ = screenLayoutKey();
  if (!preferences_.barFrameFor(layout_)) {
    preferences_.setBarFrameFor(layout_, panel::formatFrame(QRectF(frame)));
  }
  panel_->setGeometry(frame);
  reality_->setViewSize(static_cast<float>(frame.width()), static_cast<float>(frame.height()));
}

void CrewBarController::show() {
  autoHidden_ = false;
  fullScreenHidden_ = false;
  applyMode();
  // On every workspace, as a floating panel should be; set again before each mapping, since
  // the window manager drops the states of a window it unmaps.
  const bool mapping = !panel_->isVisible();
  if (mapping) X11Windows().setOnEveryWorkspace(panel_->winId());
  if (panel_->isMinimized()) panel_->showNormal();
  panel_->show();
  if (mapping) X11Windows().requestOnEveryWorkspace(panel_->winId());
  panel_->raise();
  setPaused(false);
  refreshEmptyState();
}

void CrewBarController::setHideWhenIdle(bool on) {
  hideWhenIdle_ = on;
  if (!on) {
    idleHideTimer_.stop();
    if (autoHidden_) {
      autoHidden_ = false;
      show();
    }
    return;
  }
  crewChanged();
}

void CrewBarController::crewChanged() {
  if (!hideWhenIdle_) return;
  if (crew_.sessions().empty()) {
    if (isShown() && !idleHideTimer_.isActive()) idleHideTimer_.start(idleHideDelayMs);
    return;
  }
  idleHideTimer_.stop();
  if (autoHidden_) {
    autoHidden_ = false;
    // A session came while a full-screen window is up: the panel waits until that is over.
    if (coveredByFullScreen_) {
      fullScreenHidden_ = true;
    } else {
      show();
    }
  }
}

void CrewBarController::setCoveredByFullScreen(bool covered) {
  coveredByFullScreen_ = covered;
  if (covered && isShown()) {
    panel_->hide();
    stopLoupe();
    setPaused(true);
    fullScreenHidden_ = true;
  } else if (!covered && fullScreenHidden_) {
    fullScreenHidden_ = false;
    // Sessions may all have left meanwhile: then the idle hiding has its say.
    if (hideWhenIdle_ && crew_.sessions().empty()) {
      autoHidden_ = true;
    } else {
      show();
    }
  }
}

void CrewBarController::toggle() {
  // The user's choice wins over the idle and full-screen hiding, either way.
  idleHideTimer_.stop();
  if (fullScreenHidden_) {
    fullScreenHidden_ = false;  // hidden already: now because the user asked
    if (onShownChanged) onShownChanged(false);
    return;
  }
  if (autoHidden_) {
    autoHidden_ = false;  // hidden already: now because the user asked
    if (onShownChanged) onShownChanged(false);
    return;
  }
  if (isShown()) {
    panel_->hide();
    stopLoupe();
    setPaused(true);
  } else {
    show();
  }
}

bool CrewBarController::isShown() const {
  return panel_->isVisible();
}

void CrewBarController::saveFloatingFrame() {
  saveTimer_.stop();
  if (!unsavedFrame_) return;
  const QString frame = panel::formatFrame(*unsavedFrame_);
  preferences_.setBarFloatingFrame(frame);
  preferences_.setBarFrameFor(layout_.isEmpty() ? screenLayoutKey() : layout_, frame);
  unsavedFrame_.reset();
}

QString CrewBarController::screenLayoutKey() {
  QStringList screens;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect at = screen->geometry();
    screens << QStringLiteral("%1 %2x%3+%4+%5")
                   .arg(screen->name())
                   .arg(at.width())
                   .arg(at.height())
                   .arg(at.x())
                   .arg(at.y());
  }
  screens.sort();
  return screens.join(';');
}

void CrewBarController::screensChanged() {
  if (!isShown()) return;
  applyMode();
}

void CrewBarController::moveToScreen(QScreen* screen) {
  if (screen == nullptr) return;
  const QRectF visible = screen->availableGeometry();
  const double width = std::clamp(static_cast<double>(panel_->width()), panel::kMinWidth,
                                  std::max(panel::kMinWidth, panel::maximumSize(visible).width()));
  const double height = width / panel::kAspect;
  const QRectF frame(visible.center().x() - width / 2, visible.bottom() - 6 - height, width,
                     height);
  panel_->setGeometry(frame.toRect());
  unsavedFrame_ = QRectF(panel_->geometry());
  saveFloatingFrame();
}

void CrewBarController::panelGeometryChanged() {
  if (!panel_->emptyLabel->isHidden()) refreshEmptyState();  // the text fits the new width
  reality_->setViewSize(static_cast<float>(panel_->width()), static_cast<float>(panel_->height()));
  // Written a moment later, once a drag has settled, or on the way out (quitting hides the
  // panel first, so the frame is taken now).
  // Not while screens are changing: the toolkit moves a window off a screen that went, and that
  // is no place the user chose.
  if (panel_->isVisible() && !panel_->isMinimized() && !screensTimer_.isActive()) {
    unsavedFrame_ = QRectF(panel_->geometry());
    saveTimer_.start();
  }
}

void CrewBarController::panelVisibilityChanged() {
  if (const bool shown = panel_->isVisible(); shown != lastShown_) {
    lastShown_ = shown;
    if (onShownChanged) onShownChanged(shown);
  }
  const QWindow* window = panel_->windowHandle();
  const bool seen =
      panel_->isVisible() && !panel_->isMinimized() && (window == nullptr || window->isExposed());
  setPaused(!seen);
}

void CrewBarController::setPaused(bool paused) {
  if (paused) stopLoupe();
  if (paused) {
    emptyTimer_.stop();
  } else if (!emptyTimer_.isActive()) {
    emptyTimer_.start();
  }
  reality_->setPaused(paused);
  updateViewClock();
}

void CrewBarController::updateViewClock() {
  panel_->view->setPaused(reality_->paused() || reality_->frozen());
}

void CrewBarController::startHover() {
  if (!hoverTimer_.isActive()) hoverTimer_.start();
}

void CrewBarController::endHover() {
  // Under XWayland the cursor's position stops changing once it is over a native Wayland
  // window: the leave event is what says it has gone.
  stopLoupe();
  hoverTimer_.stop();
  hoverTimer_.setInterval(kHoverPollMs);
}

void CrewBarController::setLoupeActive(bool on) {
  if (on == loupeActive_) return;
  loupeActive_ = on;
  reality_->setLoupeActive(on);
  applyRenderScale();
}

void CrewBarController::applyRenderScale() {
  // Twice the pixels normally and three times under the magnifier; a renderer without a GPU draws
  // one step less, which keeps it usable.
  const double scale = loupeActive_ ? 3 : 2;
  panel_->view->setRenderScale(panel_->view->softwareRendering() ? scale - 1 : scale);
}

void CrewBarController::officeClicked(double fraction) {
  const std::vector<SessionNode>& sessions = crew_.sessions();
  const int room = roomAt(fraction, sessions.size());
  if (room >= 0 && onRoomClicked) onRoomClicked(sessions[static_cast<std::size_t>(room)].id);
}

void CrewBarController::handleMouse(QPoint point) {
  const double now = this->now();
  if (point != lastCursor_) {
    lastCursor_ = point;
    lastMouseMove_ = now;
  }
  const QRect content = panel_->geometry();
  if (!panel_->isVisible() || !content.contains(point)) {
    stopLoupe();
    hoverTimer_.stop();
    return;
  }
  const int x = point.x() - content.left();
  // Back to following every move once the cursor moves again after the magnifier went idle.
  if (hoverTimer_.interval() != kHoverPollMs && now - lastMouseMove_ < kIdleLoupe) {
    hoverTimer_.setInterval(kHoverPollMs);
  }
  // Without a picture (no OpenGL 3.3) there is nothing to magnify.
  const bool picture = !panel_->view->snapshot().isNull();
  if (picture && now - lastMouseMove_ <= kIdleLoupe && x >= panel::kSideGrab &&
      x <= content.width() - panel::kSideGrab) {
    if (!cursorHidden_) {
      panel_->view->setCursor(Qt::BlankCursor);
      cursorHidden_ = true;
    }
    hovering_ = true;
    setLoupeActive(true);
    loupe_.focus(QPointF(point - content.topLeft()), point, QSizeF(content.size()));
  } else {
    if (hovering_) {
      hovering_ = false;
      loupe_.hide();
    }
    setLoupeActive(false);
    if (cursorHidden_) {
      panel_->view->unsetCursor();
      cursorHidden_ = false;
    }
  }
}

void CrewBarController::stopLoupe() {
  if (cursorHidden_) {
    cursorHidden_ = false;
    if (panel_) panel_->view->unsetCursor();
  }
  if (hovering_) {
    hovering_ = false;
    loupe_.hide();
  }
  if (panel_) setLoupeActive(false);
}

void CrewBarController::refreshLoupePixels() {
  if (!hovering_) return;
  const double now = this->now();
  if (now - lastMouseMove_ > kIdleLoupe) {
    stopLoupe();
    // The cursor rests: look for it a few times a second until it moves.
    hoverTimer_.setInterval(kIdlePollMs);
    return;
  }
  if (now - lastSnapTime_ < kSnapInterval) return;
  lastSnapTime_ = now;
  const QImage picture = panel_->view->snapshot();
  if (!picture.isNull()) {
    loupe_.setImage(picture);
    ++loupePictures_;
  }
}

void CrewBarController::beginSideDrag(bool left, QPoint global) {
  drag_ = Drag{left, global.x(), QRectF(panel_->geometry())};
}

void CrewBarController::dragSide(QPoint global) {
  if (!drag_) return;
  const QRectF frame = panel::dragSide(drag_->startFrame, drag_->left, global.x() - drag_->startX,
                                       panel_->minimumWidth(), panel_->maximumWidth());
  panel_->setGeometry(frame.toRect());
}

void CrewBarController::endSideDrag() {
  drag_.reset();
}

}  // namespace tallyloft
