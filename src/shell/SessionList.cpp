#include "shell/SessionList.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "entities/RobotEntity.h"

namespace tallyloft {
namespace {

int rank(const SessionNode& session) {
  const auto any = [&](AgentState state) {
    if (session.main.state == state) return true;
    return std::any_of(session.subagents.begin(), session.subagents.end(),
                       [state](const AgentNode& agent) { return agent.state == state; });
  };
  if (any(AgentState::waiting)) return 0;
  if (any(AgentState::working) || any(AgentState::thinking)) return 1;
  return 2;
}

QString q(const std::string& text) {
  return QString::fromStdString(text);
}

QString cliName(const SessionNode& session) {
  if (!session.cli) return {};
  if (*session.cli == "claude") return "Claude";
  if (*session.cli == "codex") return "Codex";
  if (*session.cli == "gemini") return "Gemini";
  return q(*session.cli);
}

// A row that reports a click: a press and a release over it.
class ClickableRow : public QWidget {
 public:
  std::function<void()> clicked;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        clicked) {
      clicked();
    }
  }
};

}  // namespace

SessionList::SessionList(QWidget* parent) : QWidget(parent) {
  column_ = new QVBoxLayout(this);
  column_->setContentsMargins(0, 0, 0, 0);
  column_->setSpacing(4);
  more_ = new QLabel;
  more_->setStyleSheet("color: palette(mid); font-size: 8pt;");
  column_->addWidget(more_);
  more_->hide();
}

std::vector<const SessionNode*> SessionList::ordered(const std::vector<SessionNode>& sessions) {
  std::vector<const SessionNode*> shown;
  for (const SessionNode& session : sessions) {
    if (!session.leaving) shown.push_back(&session);
  }
  std::stable_sort(shown.begin(), shown.end(),
                   [](const SessionNode* a, const SessionNode* b) { return rank(*a) < rank(*b); });
  return shown;
}

QString SessionList::ago(Timestamp then, Timestamp now) {
  const auto seconds =
      std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(now - then).count());
  if (seconds < 60) return QStringLiteral("%1 s ago").arg(seconds);
  if (seconds < 3600) return QStringLiteral("%1 min ago").arg(seconds / 60);
  return QStringLiteral("%1 h ago").arg(seconds / 3600);
}

SessionList::Row SessionList::makeRow() {
  // Two lines: the project with its state dot and the time since its last event; then the CLI,
  // the state word, the subagents and the context. A third line says what went wrong.
  Row row;
  auto* widget = new ClickableRow;
  widget->setCursor(Qt::PointingHandCursor);
  row.widget = widget;
  auto* lines = new QVBoxLayout(widget);
  lines->setContentsMargins(0, 0, 0, 0);
  lines->setSpacing(1);
  const auto small = [](QLabel* label) {
    label->setStyleSheet("color: palette(mid); font-size: 8pt;");
    return label;
  };
  auto* top = new QHBoxLayout;
  top->setSpacing(6);
  row.dot = new QLabel;
  row.dot->setFixedSize(8, 8);
  row.project = new QLabel;
  row.ago = small(new QLabel);
  top->addWidget(row.dot);
  top->addWidget(row.project, 1);
  top->addWidget(row.ago);
  lines->addLayout(top);
  auto* second = new QHBoxLayout;
  second->setSpacing(6);
  second->setContentsMargins(14, 0, 0, 0);
  row.cli = small(new QLabel);
  row.state = small(new QLabel);
  row.subagents = small(new QLabel);
  row.context = new QProgressBar;
  row.context->setRange(0, 100);
  row.context->setTextVisible(false);
  row.context->setFixedSize(36, 5);
  row.percent = small(new QLabel);
  second->addWidget(row.cli);
  second->addWidget(row.state);
  second->addWidget(row.subagents);
  second->addStretch(1);
  second->addWidget(row.context);
  second->addWidget(row.percent);
  lines->addLayout(second);
  row.note = new QLabel;
  row.note->setWordWrap(true);
  row.note->setContentsMargins(14, 0, 0, 0);
  row.note->setStyleSheet("color: #FF9500; font-size: 8pt;");
  lines->addWidget(row.note);
  column_->insertWidget(column_->count() - 1, widget);
  const std::size_t index = rows_.size();
  widget->clicked = [this, index] {
    if (index < rows_.size() && onClicked && !rows_[index].sessionId.empty()) {
      onClicked(rows_[index].sessionId);
    }
  };
  return row;
}

bool SessionList::setSessions(const std::vector<SessionNode>& sessions, Timestamp now,
                              const std::function<QString(const SessionNode&)>& why) {
  const std::vector<const SessionNode*> shown = ordered(sessions);
  const int count = std::min<int>(static_cast<int>(shown.size()), kMaxRows);
  std::vector<bool> before;
  for (const Row& row : rows_)
    before.push_back(!row.sessionId.empty() && !row.note->text().isEmpty());
  const int rowsBefore = rowCount();
  const bool moreBefore = !more_->isHidden();
  while (static_cast<int>(rows_.size()) < count) rows_.push_back(makeRow());
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    Row& row = rows_[static_cast<std::size_t>(i)];
    row.widget->setVisible(i < count);
    if (i >= count) {
      row.sessionId.clear();
      continue;
    }
    const SessionNode& session = *shown[static_cast<std::size_t>(i)];
    row.sessionId = session.id;
    row.cli->setText(cliName(session));
    row.cli->setVisible(session.cli.has_value());
    row.project->setText(q(session.projectName()));
    const Color color = RobotEntity::stateColor(session.main.state);
    row.dot->setStyleSheet(QStringLiteral("background: %1; border-radius: 4px;")
                               .arg(QColor::fromRgbF(color.r, color.g, color.b).name()));
    row.state->setText(q(std::string(stateName(session.main.state))));
    const int subagents = static_cast<int>(
        std::count_if(session.subagents.begin(), session.subagents.end(),
                      [](const AgentNode& agent) { return agent.state != AgentState::done; }));
    row.subagents->setText(subagents == 0   ? QString()
                           : subagents == 1 ? QStringLiteral("+1 subagent")
                                            : QStringLiteral("+%1 subagents").arg(subagents));
    row.subagents->setVisible(subagents > 0);
    const bool known = session.contextTokens.has_value() && session.contextLimit > 0;
    const int percent = known ? static_cast<int>(std::lround(std::min(
                                    100.0, 100.0 * static_cast<double>(*session.contextTokens) /
                                               static_cast<double>(session.contextLimit))))
                              : 0;
    row.context->setValue(percent);
    row.context->setVisible(known);
    row.percent->setText(known ? QStringLiteral("%1%").arg(percent) : QString());
    row.percent->setVisible(known);
    row.ago->setText(ago(session.lastActivity, now));
    QString tip = session.cwd ? q(*session.cwd) : QStringLiteral("(no folder)");
    if (session.main.currentTool) {
      tip += "\n" + q(std::string(toolKindName(*session.main.currentTool)));
      if (session.main.currentTarget) tip += ": " + q(*session.main.currentTarget);
    }
    row.widget->setToolTip(tip);
    QString note = why ? why(session) : QString();
    if (const auto saved = notes_.find(session.id); saved != notes_.end() && note.isEmpty()) {
      note = saved->second;
    }
    row.note->setText(note);
    row.note->setVisible(!note.isEmpty());
  }
  const int hidden = static_cast<int>(shown.size()) - count;
  more_->setText(QStringLiteral("and %1 more").arg(hidden));
  more_->setVisible(hidden > 0);
  setVisible(!shown.empty());
  // Notes of sessions that are gone go with them.
  for (auto it = notes_.begin(); it != notes_.end();) {
    const bool present = std::any_of(
        shown.begin(), shown.end(), [&](const SessionNode* each) { return each->id == it->first; });
    it = present ? std::next(it) : notes_.erase(it);
  }
  std::vector<bool> after;
  for (const Row& row : rows_)
    after.push_back(!row.sessionId.empty() && !row.note->text().isEmpty());
  return rowsBefore != rowCount() || moreBefore != !more_->isHidden() || before != after;
}

void SessionList::setNote(const std::string& sessionId, const QString& note) {
  if (note.isEmpty()) {
    notes_.erase(sessionId);
  } else {
    notes_[sessionId] = note;
  }
  for (Row& row : rows_) {
    if (row.sessionId != sessionId) continue;
    row.note->setText(note);
    row.note->setVisible(!note.isEmpty());
  }
}

int SessionList::rowCount() const {
  return static_cast<int>(std::count_if(rows_.begin(), rows_.end(),
                                        [](const Row& row) { return !row.sessionId.empty(); }));
}

QString SessionList::rowText(int row) const {
  const Row& r = rows_.at(static_cast<std::size_t>(row));
  QStringList parts = {r.project->text()};
  for (QLabel* label : {r.cli, r.state, r.subagents, r.percent, r.ago, r.note}) {
    if (!label->text().isEmpty()) parts << label->text();
  }
  return parts.join(" | ");
}

QString SessionList::rowToolTip(int row) const {
  return rows_.at(static_cast<std::size_t>(row)).widget->toolTip();
}

QWidget* SessionList::rowWidget(int row) const {
  return rows_.at(static_cast<std::size_t>(row)).widget;
}

}  // namespace tallyloft
