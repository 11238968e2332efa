#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "crew/SessionNode.h"

class QLabel;
class QProgressBar;
class QVBoxLayout;

namespace tallyloft {

// The control panel's list of sessions, a row each: waiting sessions first, then working ones,
// then the rest, each group in order of creation; at most kMaxRows rows, then "and N more". A
// row shows the CLI, the project, a dot in the main agent's state colour with its state word,
// the subagents, the context in use as a small bar with its %, and the time since the last
// event; its tooltip the folder and the current tool and target. A click asks for the session's
// terminal; a row whose terminal cannot be reached says why. Main-thread only.
class SessionList : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxRows = 8;

  explicit SessionList(QWidget* parent = nullptr);

  // The sessions in the order the list shows them (leaving ones are left out).
  static std::vector<const SessionNode*> ordered(const std::vector<SessionNode>& sessions);
  // "12 s ago", "4 min ago", "2 h ago".
  static QString ago(Timestamp then, Timestamp now);

  // Shows `sessions` as of `now`; `why` tells why a session's terminal cannot be reached
  // (empty when it may be). Returns whether the list's height may have changed.
  bool setSessions(const std::vector<SessionNode>& sessions, Timestamp now,
                   const std::function<QString(const SessionNode&)>& why);
  // What a click on a session found, shown on its row until the next click there.
  void setNote(const std::string& sessionId, const QString& note);

  std::function<void(const std::string& sessionId)> onClicked;

  // Visible for tests.
  int rowCount() const;
  QString rowText(int row) const;  // the row's labels, joined by " | "
  QString rowToolTip(int row) const;
  QWidget* rowWidget(int row) const;
  QLabel* moreLine() const { return more_; }

 private:
  struct Row {
    QWidget* widget = nullptr;
    QLabel* cli = nullptr;
    QLabel* project = nullptr;
    QLabel* dot = nullptr;
    QLabel* state = nullptr;
    QLabel* subagents = nullptr;
    QProgressBar* context = nullptr;
    QLabel* percent = nullptr;
    QLabel* ago = nullptr;
    QLabel* note = nullptr;
    std::string sessionId;
  };
  Row makeRow();

  QVBoxLayout* column_ = nullptr;
  std::vector<Row> rows_;
  QLabel* more_ = nullptr;
  std::map<std::string, QString> notes_;
};

}  // namespace tallyloft
