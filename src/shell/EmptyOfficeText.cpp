// What the empty office says, fitted to the panel's width and to whether hooks are installed.
#include <QFileInfo>
#include <QRect>
#include <QStringList>
#include <QSystemTrayIcon>
#include <algorithm>

#include "shell/CrewBarController.h"

#include "hooks/HookInstaller.h"

namespace tallyloft {
namespace {

const char* const kWaitingInstalled =
    "Waiting for an agent…  Start a Claude Code or Codex session to see your crew.\n"
    "Drag the side edges to zoom · hover the office to magnify.";
const char* const kWaitingNoHooks =
    "Waiting for an agent…  Open the Tallyloft tray icon and Install hooks to begin.";

}  // namespace

QString CrewBarController::emptyStateText(bool hooksInstalled, bool tray, int width,
                                          const QFontMetrics& metrics) {
  // The full text where it fits in two lines, shorter ones on narrower panels; never a text
  // that sends the user to a tray icon that is not there.
  QStringList candidates;
  if (hooksInstalled) {
    candidates = {kWaitingInstalled,
                  "Waiting for an agent…\nStart a Claude Code or Codex session to see your crew.",
                  "Waiting for an agent…\nStart a Claude Code or Codex session.",
                  "Waiting for an agent…"};
  } else {
    const QString where = tray ? "tray icon" : "control panel";
    candidates = {QString(kWaitingNoHooks).replace("tray icon", where),
                  "Waiting for an agent…\nInstall hooks from the Tallyloft " + where + ".",
                  "Waiting for an agent…\nInstall hooks to begin.", "Waiting for an agent…"};
  }
  const QRect area(0, 0, std::max(width, 1), 10000);
  const int twoLines = metrics.boundingRect(area, 0, "X\nX").height();
  for (const QString& text : candidates) {
    const QRect bounds = metrics.boundingRect(area, Qt::TextWordWrap, text);
    if (bounds.height() <= twoLines && bounds.width() <= width) return text;
  }
  return candidates.back();
}

bool CrewBarController::hooksInstalledCached() {
  // Parse the settings files only when one of them changed.
  std::array<std::pair<qint64, qint64>, 3> seen{};
  for (std::size_t i = 0; i < kAllEngines.size(); ++i) {
    const QFileInfo file(QString::fromStdString(fileURL(kAllEngines[i]).string()));
    seen[i] = {file.exists() ? file.lastModified().toMSecsSinceEpoch() : -1,
               file.exists() ? file.size() : -1};
  }
  if (!filesSeen_ || *filesSeen_ != seen) {
    filesSeen_ = seen;
    hooksInstalled_ = HookInstaller::isInstalled();
  }
  return hooksInstalled_;
}

void CrewBarController::refreshEmptyState() {
  if (panel_->isVisible() && crew_.sessions().empty()) {
    panel_->emptyLabel->setText(
        emptyStateText(hooksInstalledCached(), QSystemTrayIcon::isSystemTrayAvailable(),
                       panel_->emptyLabel->width(), panel_->emptyLabel->fontMetrics()));
    panel_->emptyLabel->show();
    panel_->emptyLabel->raise();
  } else {
    panel_->emptyLabel->hide();
  }
}

}  // namespace tallyloft
