#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "shell/RenderView.h"

namespace tallyloft {

class CrewBarController;

// The office panel's window: the render view, the empty-state hint, and grab zones on both sides
// that resize it keeping 4.5 : 1.
class FloorBackingView : public QWidget {
 public:
  explicit FloorBackingView(CrewBarController& bar);
  RenderView* view = nullptr;
  QLabel* emptyLabel = nullptr;
  std::function<void(QPoint)> onContextMenu;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  CrewBarController& bar_;
  std::array<QWidget*, 2> grabs_{};
  bool correcting_ = false;
  QElapsedTimer corrections_;
  int correctionCount_ = 0;
  std::optional<QPointF> pressedAt_;  // where the left button went down on the office
};

}  // namespace tallyloft
