#include "shell/OnboardingController.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <exception>

#include "hooks/HookInstaller.h"

namespace tallyloft {
namespace {

QLabel* label(const QString& text, int points, const char* style = nullptr) {
  auto* made = new QLabel(text);
  made->setWordWrap(true);
  made->setAlignment(Qt::AlignCenter);
  QFont font = made->font();
  font.setPointSize(points);
  made->setFont(font);
  if (style != nullptr) made->setStyleSheet(style);
  return made;
}

}  // namespace

OnboardingView::OnboardingView(std::function<void()> onInstalled, std::function<void()> onDone)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      onInstalled_(std::move(onInstalled)),
      onDone_(std::move(onDone)),
      installed_(HookInstaller::isInstalled()) {
  setWindowTitle("Welcome to Tallyloft");
  setFixedSize(420, 520);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(28, 28, 28, 28);
  column->setSpacing(16);
  column->addWidget(label("🤖", 40));
  auto* title = label("Welcome to Tallyloft", 17);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  column->addWidget(title);
  column->addWidget(label(
      "Your Claude Code and Codex agents come to life as little robots in an office along the "
      "bottom of your screen — one desk per agent, live as they think, edit, and run.",
      11, "color: palette(mid);"));
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  column->addWidget(line);

  before_ = new QWidget;
  auto* beforeColumn = new QVBoxLayout(before_);
  beforeColumn->setSpacing(10);
  beforeColumn->addWidget(
      label("Tallyloft adds a few hooks to your Claude Code and Codex settings so it can see your "
            "sessions. Each file is backed up first.",
            9, "color: palette(mid);"));
  install_ = new QPushButton("Install hooks");
  install_->setMinimumHeight(34);
  QObject::connect(install_, &QPushButton::clicked, this, [this] { install(); });
  beforeColumn->addWidget(install_);
  column->addWidget(before_);

  after_ = new QWidget;
  auto* afterColumn = new QVBoxLayout(after_);
  afterColumn->setSpacing(10);
  afterColumn->addWidget(label("✔ Hooks installed", 12, "color: #34C759; font-weight: 600;"));
  auto* hint = label("Start a <b>new</b> Claude Code or Codex session to see your crew.", 9,
                     "color: palette(mid);");
  hint->setTextFormat(Qt::RichText);
  afterColumn->addWidget(hint);
  column->addWidget(after_);

  status_ = label({}, 8);
  column->addWidget(status_);
  column->addStretch(1);
  done_ = new QPushButton("Get started");
  done_->setDefault(true);
  done_->setAutoDefault(true);
  QObject::connect(done_, &QPushButton::clicked, this, [this] {
    if (onDone_) onDone_();
  });
  column->addWidget(done_);
  column->addWidget(
      label("Tallyloft is an independent project, not affiliated with, sponsored or "
            "endorsed by Anthropic. Claude and Claude Code are trademarks of "
            "Anthropic.",
            7, "color: palette(midlight);"));
  refresh();
}

void OnboardingView::refresh() {
  before_->setVisible(!installed_);
  after_->setVisible(installed_);
  done_->setVisible(installed_);
  status_->setVisible(!status_->text().isEmpty());
  status_->setStyleSheet(failed_ ? "color: #FF3B30;" : "color: palette(mid);");
}

void OnboardingView::install() {
  std::vector<HookInstaller::Installed> done;
  try {
    QString summary = QString::fromStdString(HookInstaller::install(&done));
    if (done.empty()) {
      // No CLI to install into: say so and stay, nothing was installed.
      failed_ = true;
      status_->setText(summary);
      refresh();
      return;
    }
    for (const auto& each : done) {
      const auto notice = HookInstaller::installNotice(each.engine);
      if (!notice.empty()) summary += " " + QString::fromUtf8(notice.data(), notice.size());
    }
    status_->setText(summary);
    installed_ = true;
    failed_ = false;
    refresh();
    if (onInstalled_) onInstalled_();
    if (onDone_) onDone_();
  } catch (const std::exception& error) {
    failed_ = true;
    status_->setText("Install failed: " + QString::fromUtf8(error.what()));
    refresh();
  }
}

void OnboardingView::closeEvent(QCloseEvent* event) {
  if (onClose) onClose();
  QWidget::closeEvent(event);
}

void OnboardingController::show() {
  if (!window_) {
    window_ = std::make_unique<OnboardingView>(
        [this] {
          if (onInstalled) onInstalled();
        },
        [this] {
          if (window_) window_->close();
        });
    window_->onClose = [this] { preferences_.setDidCompleteOnboarding(true); };
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      window_->adjustSize();
      QRect frame(QPoint(), window_->size());
      frame.moveCenter(screen->availableGeometry().center());
      window_->move(frame.topLeft());
    }
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace tallyloft
