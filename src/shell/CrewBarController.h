#pragma once

#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "app/AppModel.h"
#include "scene/CrewRealityController.h"
#include "shell/FloorBackingView.h"
#include "shell/LoupeController.h"
#include "shell/Preferences.h"
#include "shell/RenderView.h"

namespace tallyloft {

// Owns the floating office panel and what it shows: the scene controller in a render view, the
// magnifier, the remembered frame. Shows, hides and pauses the office. Main-thread only.
class CrewBarController : public OfficeBar {
 public:
  CrewBarController(CrewModel& crew, Scheduler& scheduler, Preferences& preferences,
                    bool reduceMotion);
  ~CrewBarController() override;

  // Puts the panel on screen (where it was left) and wakes the office.
  void show();
  // Shows the panel when hidden; hides it (and pauses the office) when shown. This is the user's
  // choice: a panel hidden this way stays hidden when sessions come.
  void toggle() override;
  // "Hide the office while no agent works": the panel hides itself `idleHideDelay` after the
  // last session has left the model, and shows itself again when one appears. That hiding is
  // not the user's: the window item goes on saying what the user chose.
  void setHideWhenIdle(bool on);
  bool hideWhenIdle() const { return hideWhenIdle_; }
  // Hidden only because no session is open.
  bool autoHidden() const { return autoHidden_; }
  // Hidden only while a full-screen window is active on the panel's screen (a video, a
  // presentation): `setCoveredByFullScreen` hides it there and brings it back after, never
  // undoing the user's own hiding. The magnifier goes with it.
  void setCoveredByFullScreen(bool covered);
  bool hiddenForFullScreen() const { return fullScreenHidden_; }
  // Shown, or hidden only while no session is open or a full-screen window is active: what the
  // window item reports.
  bool shownByChoice() const { return isShown() || autoHidden_ || fullScreenHidden_; }
  int idleHideDelayMs = 10'000;
  void stopLoupe();
  bool isShown() const;
  QWidget* panel() { return panel_.get(); }
  // Puts the panel on `screen` (bottom centre of its visible area, its width kept where it fits)
  // and remembers it there.
  void moveToScreen(QScreen* screen);
  // The arrangement of screens now, by name and geometry: the key of the frames kept per
  // arrangement.
  static QString screenLayoutKey();
  FloorBackingView* backing() { return panel_.get(); }
  CrewRealityController& reality() { return *reality_; }
  LoupeController& loupe() { return loupe_; }

  // Called by the panel.
  void panelGeometryChanged();
  void panelVisibilityChanged();
  void startHover();
  // The cursor has left the panel.
  void endHover();
  void beginSideDrag(bool left, QPoint global);
  void dragSide(QPoint global);
  void endSideDrag();

  // A click (press and release without a drag) on the office at `fraction` of its width.
  void officeClicked(double fraction);
  // Called whenever the panel is shown or hidden, whoever did it.
  std::function<void(bool shown)> onShownChanged;
  // Called with the session whose room was clicked.
  std::function<void(const std::string& sessionId)> onRoomClicked;

  // The hover magnifier's steps, called by the hover poll and after each frame; public so that
  // tests can drive them with `now`, the seconds the controller's clock reads.
  void handleMouse(QPoint point);
  void refreshLoupePixels();
  std::function<double()> now;
  // Pictures taken for the magnifier so far.
  int loupePictures() const { return loupePictures_; }
  bool loupeShown() const { return hovering_; }
  bool cursorHidden() const { return cursorHidden_; }

  // What the empty office says, in at most two lines of `width` points.
  static QString emptyStateText(bool hooksInstalled, bool tray, int width,
                                const QFontMetrics& metrics);

  // The frame the panel opens at (content, Qt coordinates).
  QRectF savedFloatingFrame() const;
  // Screens came, went or changed: the panel takes the frame kept for the new arrangement, or
  // the primary screen's visible area when its own screen has gone.
  void screensChanged();
  QTimer screensTimer_;
  QString layout_;  // the arrangement of screens the panel's frame was placed for
  void refreshEmptyState();

 private:
  void applyMode();
  void saveFloatingFrame();
  void setPaused(bool paused);
  void updateViewClock();
  void setLoupeActive(bool on);
  void applyRenderScale();
  bool hooksInstalledCached();

  CrewModel& crew_;
  Preferences& preferences_;
  std::unique_ptr<CrewRealityController> reality_;
  std::unique_ptr<FloorBackingView> panel_;
  LoupeController loupe_;
  QTimer emptyTimer_;
  QTimer hoverTimer_;
  QTimer saveTimer_;
  std::optional<QRectF> unsavedFrame_;  // the panel's frame since its last save
  QElapsedTimer clock_;
  // For measuring (TALLYLOFT_REPORT_FRAMES): every frame, freezing, and the first frame after
  // waking are reported on standard error.
  const bool reportFrames_ = qEnvironmentVariableIsSet("TALLYLOFT_REPORT_FRAMES");
  qint64 wokeAt_ = 0;  // when the office last woke, for the frame report
  bool hovering_ = false;
  int loupePictures_ = 0;
  bool lastShown_ = false;
  bool hideWhenIdle_ = false;
  bool autoHidden_ = false;
  bool fullScreenHidden_ = false;
  bool coveredByFullScreen_ = false;
  QTimer idleHideTimer_;
  std::size_t crewObserver_ = 0;
  void crewChanged();
  bool loupeActive_ = false;
  bool cursorHidden_ = false;
  double lastSnapTime_ = -1;
  double lastMouseMove_ = 0;
  QPoint lastCursor_;
  struct Drag {
    bool left;
    int startX;
    QRectF startFrame;
  };
  std::optional<Drag> drag_;
  // The settings files as last seen, and whether they held our hooks then.
  std::optional<std::array<std::pair<qint64, qint64>, 3>> filesSeen_;
  bool hooksInstalled_ = false;
};

}  // namespace tallyloft
