#include "shell/FloorBackingView.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QWindow>

#include "graph/Palette.h"
#include "shell/CrewBarController.h"
#include "shell/PanelGeometry.h"

namespace tallyloft {
namespace {

// A side zone of the panel: takes the mouse for the 4.5 : 1 resize.
class GrabZone : public QWidget {
 public:
  GrabZone(QWidget* parent, CrewBarController& bar, bool left)
      : QWidget(parent), bar_(bar), left_(left) {
    setCursor(Qt::SizeHorCursor);
    setAttribute(Qt::WA_NoSystemBackground);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton)
      bar_.beginSideDrag(left_, event->globalPosition().toPoint());
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    bar_.dragSide(event->globalPosition().toPoint());
  }
  void mouseReleaseEvent(QMouseEvent*) override { bar_.endSideDrag(); }

 private:
  CrewBarController& bar_;
  bool left_;
};

}  // namespace

FloorBackingView::FloorBackingView(CrewBarController& bar)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      bar_(bar) {
  setWindowTitle("Tallyloft");
  setAttribute(Qt::WA_ShowWithoutActivating);
  QPalette colours = palette();
  colours.setColor(
      QPalette::Window,
      QColor::fromRgbF(palette::panelBacking.r, palette::panelBacking.g, palette::panelBacking.b));
  setPalette(colours);
  setAutoFillBackground(true);
  setMinimumSize(static_cast<int>(panel::kMinWidth), static_cast<int>(panel::kMinHeight));
  view = new RenderView(bar.reality().scene(), this);
  view->setMouseTracking(true);
  view->installEventFilter(this);
  emptyLabel = new QLabel(this);
  emptyLabel->setAlignment(Qt::AlignCenter);
  emptyLabel->setWordWrap(true);
  emptyLabel->setStyleSheet("color: rgb(158, 158, 158); font-size: 13px; font-weight: 500;");
  emptyLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
  emptyLabel->hide();
  grabs_ = {new GrabZone(this, bar, true), new GrabZone(this, bar, false)};
}

void FloorBackingView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A window manager's resize keeps any shape: put the 4.5 : 1 back, once.
  // A tiling window manager that insists on its own size would answer every correction with
  // another resize: after a few corrections within a second, its size stands.
  const int wanted = static_cast<int>(std::lround(width() / panel::kAspect));
  if (!correcting_ && std::abs(height() - wanted) > 1 && !isMinimized()) {
    if (!corrections_.isValid() || corrections_.elapsed() > 1000) {
      corrections_.start();
      correctionCount_ = 0;
    }
    if (++correctionCount_ <= 3) {
      correcting_ = true;
      resize(width(), wanted);
      correcting_ = false;
    }
  }
  view->setGeometry(rect());
  emptyLabel->setGeometry(0, (height() - 38) / 2, width(), 38);
  const int grab = static_cast<int>(panel::kSideGrab);
  grabs_[0]->setGeometry(0, 0, grab, height());
  grabs_[1]->setGeometry(width() - grab, 0, grab, height());
  for (QWidget* zone : grabs_) zone->raise();
  bar_.panelGeometryChanged();
}

void FloorBackingView::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  bar_.panelGeometryChanged();
}

void FloorBackingView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) bar_.panelVisibilityChanged();
}

void FloorBackingView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (QWindow* window = windowHandle()) window->installEventFilter(this);
  bar_.panelVisibilityChanged();
}

void FloorBackingView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  bar_.panelVisibilityChanged();
}

void FloorBackingView::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  bar_.startHover();
}

void FloorBackingView::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  bar_.endHover();
}

void FloorBackingView::contextMenuEvent(QContextMenuEvent* event) {
  if (onContextMenu) onContextMenu(event->globalPos());
}

bool FloorBackingView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose) bar_.panelVisibilityChanged();
  if (watched == view &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPointF at = mouse->position();
    if (mouse->button() == Qt::LeftButton && event->type() == QEvent::MouseButtonPress) {
      pressedAt_ = at;
    } else if (mouse->button() == Qt::LeftButton && pressedAt_) {
      // A click, not a drag: the room under it.
      if ((at - *pressedAt_).manhattanLength() <= 4 && view->width() > 0) {
        bar_.officeClicked(at.x() / view->width());
      }
      pressedAt_.reset();
    }
  }
  if (watched == view && (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove))
    bar_.startHover();
  return QWidget::eventFilter(watched, event);
}

}  // namespace tallyloft
