// Going to a session's terminal on a real X display: Xvfb with openbox as the window manager,
// xterm as the terminal, tmux inside one of them. Skipped where any of these is missing.
#include "shell/TerminalFocus.h"

#include "base/LoopScheduler.h"
#include "shell/CrewBarController.h"
#include "shell/Preferences.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <fstream>

namespace tallyloft {
namespace {

namespace fs = std::filesystem;

QString skipReason;
QProcess* xvfb = nullptr;
QProcess* openbox = nullptr;

bool waitUntil(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(20);
  }
  return true;
}

// A terminal running `command` through sh; what the command writes to $OUT is read back.
class Terminal {
 public:
  Terminal(const QTemporaryDir& dir, const QString& name, const QString& command)
      : out_(dir.filePath(name + ".out")) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("OUT", out_);
    process_.setProcessEnvironment(environment);
    process_.start("xterm", {"-title", name, "-e", "sh", "-c", command});
  }
  ~Terminal() {
    process_.kill();
    process_.waitForFinished(2000);
  }
  // The words the command wrote, once it has.
  QStringList words() {
    QStringList seen;
    waitUntil(
        [&] {
          std::ifstream file(out_.toStdString());
          std::string line;
          if (!std::getline(file, line) || line.empty()) return false;
          seen = QString::fromStdString(line).split(' ', Qt::SkipEmptyParts);
          return true;
        },
        10000);
    return seen;
  }

 private:
  QString out_;
  QProcess process_;
};

SessionNode sessionOf(std::int64_t pid, TerminalHints hints = {}) {
  SessionNode session;
  session.id = "s" + std::to_string(pid);
  session.pid = pid;
  session.process = ProcessStatus::alive;
  session.terminal = std::move(hints);
  return session;
}

TerminalFocus::Result focusAndWait(TerminalFocus& focus, const SessionNode& session,
                                   qint64* elapsedMs = nullptr) {
  std::optional<TerminalFocus::Result> result;
  QElapsedTimer clock;
  clock.start();
  focus.focus(session, [&](TerminalFocus::Result r) { result = r; });
  waitUntil([&] { return result.has_value(); }, 3000);
  if (elapsedMs != nullptr) *elapsedMs = clock.elapsed();
  return result.value_or(TerminalFocus::Result{false, "no answer"});
}

class TerminalFocusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!skipReason.isEmpty()) GTEST_SKIP() << skipReason.toStdString();
    ASSERT_TRUE(dir.isValid());
  }
  QTemporaryDir dir;
};

TEST_F(TerminalFocusTest, BringsAnXtermForwardByItsWindowIdOrItsProcess) {
  Terminal first(dir, "first", "echo $$ $WINDOWID > \"$OUT\"; exec sleep 600");
  Terminal second(dir, "second", "echo $$ $WINDOWID > \"$OUT\"; exec sleep 600");
  const QStringList a = first.words();
  const QStringList b = second.words();
  ASSERT_EQ(a.size(), 2);
  ASSERT_EQ(b.size(), 2);
  TerminalFocus focus;
  ASSERT_TRUE(focus.windows.available());
  TerminalHints hintsA;
  hintsA.windowId = a[1].toStdString();
  const SessionNode byWindow = sessionOf(a[0].toLongLong(), hintsA);
  const SessionNode byProcess = sessionOf(b[0].toLongLong());  // no terminal variable at all
  ASSERT_TRUE(
      waitUntil([&] { return focus.windowOf(byWindow) && focus.windowOf(byProcess); }, 5000));
  EXPECT_NE(*focus.windowOf(byWindow), *focus.windowOf(byProcess));

  qint64 elapsed = 0;
  TerminalFocus::Result result = focusAndWait(focus, byProcess, &elapsed);
  EXPECT_TRUE(result.ok) << result.message.toStdString();
  EXPECT_TRUE(focus.isActive(byProcess));
  EXPECT_FALSE(focus.isActive(byWindow));
  result = focusAndWait(focus, byWindow, &elapsed);
  EXPECT_TRUE(result.ok) << result.message.toStdString();
  EXPECT_TRUE(focus.isActive(byWindow));
  EXPECT_EQ(focus.windows.activeWindow(), focus.windowOf(byWindow));
  std::printf("activated by WINDOWID in %lld ms\n", static_cast<long long>(elapsed));
}

TEST_F(TerminalFocusTest, SelectsTheTmuxPaneAndItsClientsTerminal) {
  if (QStandardPaths::findExecutable("tmux").isEmpty()) GTEST_SKIP() << "needs tmux";
  const QString socket = dir.filePath("tmux.sock");
  Terminal other(dir, "other", "echo $$ > \"$OUT\"; exec sleep 600");
  Terminal inTmux(dir, "tmux",
                  "exec tmux -f /dev/null -S " + socket +
                      " new-session 'echo $$ $TMUX $TMUX_PANE > \"$OUT\"; exec sleep 600'");
  const QStringList agent = inTmux.words();
  ASSERT_EQ(agent.size(), 3);
  ASSERT_EQ(other.words().size(), 1);
  const auto tmux = [&](const QStringList& arguments) {
    QProcess process;
    process.start("tmux", QStringList{"-S", socket} + arguments);
    process.waitForFinished(3000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
  };
  // Another window of that tmux session is the current one, and the other xterm is active.
  tmux({"new-window", "-d"});
  tmux({"select-window", "-t", ":1"});
  TerminalFocus focus;
  const SessionNode elsewhere = sessionOf(other.words()[0].toLongLong());
  ASSERT_TRUE(waitUntil([&] { return focus.windowOf(elsewhere).has_value(); }, 5000));
  ASSERT_TRUE(focusAndWait(focus, elsewhere).ok);

  TerminalHints hints;
  hints.tmux = agent[1].toStdString();
  hints.tmuxPane = agent[2].toStdString();
  hints.windowId = "12345";  // inherited from wherever tmux's server started: not to be trusted
  const SessionNode session = sessionOf(agent[0].toLongLong(), hints);
  qint64 elapsed = 0;
  const TerminalFocus::Result result = focusAndWait(focus, session, &elapsed);
  EXPECT_TRUE(result.ok) << result.message.toStdString();
  EXPECT_EQ(tmux({"display-message", "-p", "#{pane_id}"}), agent[2]);
  EXPECT_FALSE(focus.isActive(elsewhere));
  std::printf("activated through tmux in %lld ms\n", static_cast<long long>(elapsed));

  // Without a client attached there is no terminal to show, and the row says so.
  tmux({"detach-client", "-a"});
  tmux({"detach-client"});
  ASSERT_TRUE(waitUntil([&] { return tmux({"list-clients"}).isEmpty(); }, 3000));
  const TerminalFocus::Result detached = focusAndWait(focus, session);
  EXPECT_FALSE(detached.ok);
  EXPECT_EQ(detached.message, "No terminal is attached to its tmux session");
  tmux({"kill-server"});
}

TEST_F(TerminalFocusTest, SaysWhyWhenThereIsNothingToBringForward) {
  TerminalFocus focus;
  // A process of ours without a window anywhere above it.
  const pid_t child = ::fork();
  if (child == 0) {
    ::pause();
    ::_exit(0);
  }
  const TerminalFocus::Result none = focusAndWait(focus, sessionOf(child));
  EXPECT_FALSE(none.ok);
  EXPECT_EQ(none.message, TerminalFocus::kCannot);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);

  SessionNode remote = sessionOf(4242);
  remote.process = ProcessStatus::notLocal;
  EXPECT_EQ(focusAndWait(focus, remote).message, "Its terminal is not on this machine");
  remote.process = ProcessStatus::unknown;
  EXPECT_EQ(focusAndWait(focus, remote).message, "Terminal unknown: install its hooks again");
  remote.process = ProcessStatus::gone;
  EXPECT_EQ(TerminalFocus::unreachable(remote), "Its CLI has exited");

  // A tmux socket that is not a socket, or not the user's, is never used.
  const std::string file = dir.filePath("not-a-socket").toStdString();
  std::ofstream(file) << "x";
  EXPECT_EQ(ownedTmuxSocket(file + ",1,0"), "");
  const std::string path = dir.filePath("theirs.sock").toStdString();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(ownedTmuxSocket(path + ",1,0").toStdString(), path);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    EXPECT_EQ(ownedTmuxSocket(path + ",1,0"), "");
  }
  ::close(fd);
}

TEST_F(TerminalFocusTest, FloatingPanelsStayOnEveryWorkspaceAndOffTheTaskbar) {
  // Flags as the office panel has them; the states are set before each mapping.
  QWidget panel(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
  panel.resize(450, 100);
  X11Windows windows;
  for (int round = 0; round < 2; ++round) {  // shown, hidden and shown again
    windows.setOnEveryWorkspace(panel.winId());
    panel.show();
    windows.requestOnEveryWorkspace(panel.winId());
    const auto window = static_cast<X11Windows::Window>(panel.winId());
    ASSERT_TRUE(waitUntil(
        [&]() -> bool {
          return windows.desktop(window) == std::optional<std::uint32_t>(0xFFFFFFFF);
        },
        3000));
    // Openbox keeps a window on every workspace through its desktop alone, and drops the
    // sticky state it does not list among those it supports.
    EXPECT_EQ(windows.desktop(window), 0xFFFFFFFFu);
    const std::vector<std::string> states = windows.states(window);
    for (const char* state :
         {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_SKIP_TASKBAR"}) {
      EXPECT_NE(std::find(states.begin(), states.end(), state), states.end()) << state;
    }
    panel.hide();
    QCoreApplication::processEvents();
  }
}

// The magnifier on a real X display, where the office has a picture (Mesa draws it).
TEST_F(TerminalFocusTest, TheMagnifierFollowsTheCursorBetweenTheSideZonesAndRestsWhenItDoes) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("config"));
  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew(loop);
  Preferences preferences;
  preferences.setBarFloatingFrame("{{40, 60}, {450, 100}}");
  CrewBarController bar(crew, loop, preferences, false);
  double now = 100;
  bar.now = [&] { return now; };
  bar.show();
  const QRect frame = bar.panel()->geometry();
  const QPoint middle = frame.center();
  // A picture to magnify, where OpenGL can be had.
  for (int i = 0; i < 100 && bar.backing()->view->snapshot().isNull(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  if (bar.backing()->view->snapshot().isNull()) {
    // Without a picture there is nothing to magnify, and the cursor stays.
    bar.handleMouse(middle);
    EXPECT_FALSE(bar.loupeShown());
    EXPECT_FALSE(bar.cursorHidden());
    return;
  }
  bar.handleMouse(middle);
  EXPECT_TRUE(bar.loupeShown());
  EXPECT_TRUE(bar.cursorHidden());
  // The side zones belong to the resize: no magnifier there, and the cursor comes back.
  for (int x : {frame.left() + 2, frame.right() - 2}) {
    bar.handleMouse(QPoint(x, middle.y()));
    EXPECT_FALSE(bar.loupeShown()) << x;
    EXPECT_FALSE(bar.cursorHidden()) << x;
  }
  bar.handleMouse(QPoint(frame.left() + 12, middle.y()));
  EXPECT_TRUE(bar.loupeShown());
  // At most 15 pictures a second, however often frames come.
  const int before = bar.loupePictures();
  for (int frame60 = 0; frame60 < 60; ++frame60) {
    now += 1.0 / 60;
    bar.refreshLoupePixels();
  }
  EXPECT_LE(bar.loupePictures() - before, 15);
  EXPECT_GE(bar.loupePictures() - before, 10);
  // A cursor that rests 5 s lets it go.
  now += 5.1;
  bar.refreshLoupePixels();
  EXPECT_FALSE(bar.loupeShown());
  EXPECT_FALSE(bar.cursorHidden());
  // Leaving the panel ends it too.
  now += 1;
  bar.handleMouse(middle + QPoint(1, 0));
  EXPECT_TRUE(bar.loupeShown());
  bar.handleMouse(frame.bottomRight() + QPoint(20, 20));
  EXPECT_FALSE(bar.loupeShown());
}

TEST_F(TerminalFocusTest, ReportsAnActivationThatDidNotTake) {
  Terminal terminal(dir, "lonely", "echo $$ > \"$OUT\"; exec sleep 600");
  const QStringList words = terminal.words();
  ASSERT_EQ(words.size(), 1);
  TerminalFocus focus;
  const SessionNode session = sessionOf(words[0].toLongLong());
  ASSERT_TRUE(waitUntil([&] { return focus.windowOf(session).has_value(); }, 5000));
  // The window manager goes away: nobody will activate anything now.
  openbox->terminate();
  openbox->waitForFinished(3000);
  const TerminalFocus::Result result = focusAndWait(focus, session);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, TerminalFocus::kCannot);
}

}  // namespace
}  // namespace tallyloft

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  using tallyloft::skipReason;
  for (const char* needed : {"Xvfb", "openbox", "xterm"}) {
    if (QStandardPaths::findExecutable(needed).isEmpty()) {
      skipReason = QString("needs ") + needed;
    }
  }
  int display = 100 + static_cast<int>(getpid() % 400);
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display))) ++display;
  const QString name = ":" + QString::number(display);
  if (skipReason.isEmpty()) {
    tallyloft::xvfb = new QProcess;
    tallyloft::xvfb->start("Xvfb", {name, "-screen", "0", "1600x900x24", "-nolisten", "tcp"});
    for (int i = 0;
         i < 200 && !std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display)); ++i) {
      QThread::msleep(25);
    }
    qputenv("DISPLAY", name.toUtf8());
  } else {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  if (skipReason.isEmpty()) qputenv("QT_QPA_PLATFORM", "xcb");
  // xterm and tmux must not see the developer's own terminal.
  for (const char* inherited : {"WINDOWID", "TMUX", "TMUX_PANE"}) qunsetenv(inherited);
  QApplication app(argc, argv);
  if (tallyloft::skipReason.isEmpty()) {
    tallyloft::openbox = new QProcess;
    tallyloft::openbox->start("openbox", {"--sm-disable"});
    // The window manager is up once it names itself on the root window.
    tallyloft::X11Windows windows;
    tallyloft::waitUntil(
        [&] {
          QProcess probe;
          probe.start("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
          probe.waitForFinished(2000);
          return probe.readAllStandardOutput().contains("window id");
        },
        10000);
  }
  const int status = RUN_ALL_TESTS();
  if (tallyloft::openbox != nullptr) {
    tallyloft::openbox->kill();
    tallyloft::openbox->waitForFinished(2000);
  }
  if (tallyloft::xvfb != nullptr) {
    tallyloft::xvfb->kill();
    tallyloft::xvfb->waitForFinished(2000);
  }
  return status;
}
