// The desktop app end to end on a virtual X display: start it with a temporary HOME, post the
// built-in demo crew to its port, and take a picture of its office panel from the screen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TestClient.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Where the panel is put (content, screen coordinates) on a screen of kScreen: the left, low,
// clear of the control panel that opens in the middle when there is no tray.
constexpr int kPanelX = 16, kPanelY = 780, kPanelWidth = 864, kPanelHeight = 192;
constexpr const char* kScreen = "2400x1000x24";

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

using Child = tallyloft::test::Program;

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  for (auto waited = 0ms; waited < limit; waited += 50ms) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

TEST(DesktopApp, ShowsThePostedCrewInItsPanel) {
  if (!onPath("Xvfb")) GTEST_SKIP() << "needs Xvfb";
  const fs::path home =
      fs::temp_directory_path() / ("tallyloft-desktop-" + std::to_string(getpid()));
  fs::remove_all(home);
  fs::create_directories(home / ".claude");
  fs::create_directories(home / ".config/Tallyloft");
  fs::create_directories(home / "run");
  fs::permissions(home / "run", fs::perms::owner_all);
  std::ofstream(home / ".config/Tallyloft/Tallyloft.conf")
      << "[General]\ndidCompleteOnboarding=true\nbarFloatingFrame=\"{{" << kPanelX << ", "
      << kPanelY << "}, {" << kPanelWidth << ", " << kPanelHeight << "}}\"\n";

  // A display number nobody uses.
  int display = 90 + static_cast<int>(getpid() % 400);
  while (fs::exists("/tmp/.X11-unix/X" + std::to_string(display))) ++display;
  const std::string name = ":" + std::to_string(display);
  Child xvfb({"Xvfb", name, "-screen", "0", kScreen, "-nolisten", "tcp"}, {}, "/dev/null",
             home / "xvfb.log");
  ASSERT_TRUE(xvfb.started());
  ASSERT_TRUE(
      waitFor([&] { return fs::exists("/tmp/.X11-unix/X" + std::to_string(display)); }, 10s));

  const std::vector<std::string> environment = {"HOME=" + home.string(),
                                                "XDG_CONFIG_HOME=" + (home / ".config").string(),
                                                "XDG_RUNTIME_DIR=" + (home / "run").string(),
                                                "TMPDIR=" + home.string(),
                                                "DISPLAY=" + name,
                                                "QT_QPA_PLATFORM=xcb",
                                                "TALLYLOFT_REPORT_FRAMES=1"};
  Child install({TALLYLOFT_BINARY, "hooks", "install"}, environment, "/dev/null",
                home / "install.log");
  ASSERT_EQ(install.wait(), 0) << readFile(home / "install.log");

  const fs::path log = home / "app.log";
  Child app({TALLYLOFT_BINARY}, environment, "/dev/null", log);
  ASSERT_TRUE(app.started());
  ASSERT_TRUE(waitFor([&] { return readFile(log).find("first frame") != std::string::npos; }, 20s))
      << readFile(log);

  // The demo crew at ten times its pace (about five seconds), then a moment for the robots to
  // reach their desks.
  Child demo({TALLYLOFT_BINARY, "demo", "--speed", "10"}, environment, "/dev/null",
             home / "demo.log");
  ASSERT_EQ(demo.wait(), 0) << readFile(home / "demo.log");
  std::this_thread::sleep_for(3s);

  // Look at the screen as the user would.
  setenv("DISPLAY", name.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  int argc = 1;
  char program[] = "desktop_tests";
  char* argv[] = {program, nullptr};
  QGuiApplication gui(argc, argv);
  const QImage panel = gui.primaryScreen()
                           ->grabWindow(0, kPanelX, kPanelY, kPanelWidth, kPanelHeight)
                           .toImage()
                           .convertToFormat(QImage::Format_RGB32);
  const fs::path picture = fs::path(TALLYLOFT_BUILD_DIR) / "desktop-panel.png";
  panel.save(QString::fromStdString(picture.string()));
  EXPECT_EQ(app.stop(), 0) << readFile(log);
  xvfb.stop();
  fs::remove_all(home);

  // A live office, not an empty or black panel: rooms, desks and robots in many colours, and
  // most of the panel not the bare backdrop.
  ASSERT_EQ(panel.size(), QSize(kPanelWidth, kPanelHeight));
  QSet<QRgb> colours;
  const QRgb backdrop = panel.pixel(kPanelWidth / 2, 2);
  int differing = 0;
  for (int y = 0; y < panel.height(); ++y) {
    for (int x = 0; x < panel.width(); ++x) {
      const QRgb pixel = panel.pixel(x, y);
      colours.insert(pixel);
      if (pixel != backdrop) ++differing;
    }
  }
  EXPECT_GT(colours.size(), 500) << "see " << picture;
  EXPECT_GT(differing, panel.width() * panel.height() / 4) << "see " << picture;
}

// The panel's own window (its size tells it from the app's others): whether it is mapped, and
// where its left edge is on the screen.
struct PanelWindow {
  bool mapped = false;
  int x = 0;
};
std::optional<PanelWindow> panelWindow(const std::string& display) {
  const tallyloft::test::ShellRun tree =
      tallyloft::test::runShell("DISPLAY=" + display + " xwininfo -root -tree");
  std::istringstream lines(tree.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"Tallyloft\"") == std::string::npos ||
        line.find(" " + std::to_string(kPanelWidth) + "x" + std::to_string(kPanelHeight) + "+") ==
            std::string::npos) {
      continue;
    }
    std::istringstream words(line);
    std::string id;
    words >> id;
    const std::string info =
        tallyloft::test::runShell("DISPLAY=" + display + " xwininfo -id " + id).output;
    PanelWindow window;
    window.mapped = info.find("Map State: IsViewable") != std::string::npos;
    const auto at = info.find("Absolute upper-left X:");
    if (at != std::string::npos) window.x = std::atoi(info.c_str() + at + 22);
    return window;
  }
  return std::nullopt;
}

// The app on a display of its own with openbox, hooks installed and the panel at `panelX`; ends
// them all when it goes. `prepare` runs against the display before the app starts.
class LiveDesktop {
 public:
  LiveDesktop(const std::string& tag, int panelX, const std::string& screen,
              const std::function<void(const std::string& display)>& prepare = {})
      : home_(fs::temp_directory_path() / ("tallyloft-" + tag + "-" + std::to_string(getpid()))) {
    fs::remove_all(home_);
    fs::create_directories(home_ / ".claude");
    fs::create_directories(home_ / ".config/Tallyloft");
    fs::create_directories(home_ / "run");
    fs::permissions(home_ / "run", fs::perms::owner_all);
    std::ofstream(home_ / ".config/Tallyloft/Tallyloft.conf")
        << "[General]\ndidCompleteOnboarding=true\nbarFloatingFrame=\"{{" << panelX << ", "
        << kPanelY - 200 << "}, {" << kPanelWidth << ", " << kPanelHeight << "}}\"\n";
    int number = 90 + static_cast<int>((getpid() + tag.size() * 13) % 400);
    while (fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
    display_ = ":" + std::to_string(number);
    xvfb_ =
        std::make_unique<Child>(std::vector<std::string>{"Xvfb", display_, "-noreset", "-screen",
                                                         "0", screen, "-nolisten", "tcp"},
                                std::vector<std::string>{}, "/dev/null", home_ / "xvfb.log");
    ready_ = waitFor([&] { return fs::exists("/tmp/.X11-unix/X" + std::to_string(number)); }, 10s);
    if (!ready_) return;
    if (prepare) prepare(display_);
    environment_ = {"HOME=" + home_.string(), "XDG_CONFIG_HOME=" + (home_ / ".config").string(),
                    "XDG_RUNTIME_DIR=" + (home_ / "run").string(), "DISPLAY=" + display_,
                    "QT_QPA_PLATFORM=xcb"};
    openbox_ = std::make_unique<Child>(std::vector<std::string>{"openbox"}, environment_,
                                       "/dev/null", home_ / "openbox.log");
    // The window manager manages the display before the app maps a window.
    ready_ = waitFor(
        [&] {
          return tallyloft::test::runShell("DISPLAY=" + display_ +
                                           " xprop -root _NET_SUPPORTING_WM_CHECK")
                     .output.find("window id") != std::string::npos;
        },
        10s);
    Child install({TALLYLOFT_BINARY, "hooks", "install"}, environment_, "/dev/null", "/dev/null");
    ready_ = install.wait() == 0;
    app_ = std::make_unique<Child>(std::vector<std::string>{TALLYLOFT_BINARY}, environment_,
                                   "/dev/null", home_ / "app.log");
    ready_ = ready_ && waitFor(
                           [&] {
                             const auto panel = panelWindow(display_);
                             return panel && panel->mapped;
                           },
                           20s);
  }
  ~LiveDesktop() {
    app_.reset();
    openbox_.reset();
    xvfb_.reset();
    fs::remove_all(home_);
  }
  bool ready() const { return ready_; }
  const std::string& display() const { return display_; }
  const std::vector<std::string>& environment() const { return environment_; }
  std::optional<PanelWindow> panel() const { return panelWindow(display_); }
  std::string log() const { return readFile(home_ / "app.log"); }
  int stop() { return app_->stop(); }

 private:
  fs::path home_;
  std::string display_;
  std::vector<std::string> environment_;
  std::unique_ptr<Child> xvfb_, openbox_, app_;
  bool ready_ = false;
};

// A full-screen window (a video, a presentation) hides the office panel on its screen; the panel
// comes back when it goes.
TEST(DesktopApp, GivesWayToAFullScreenWindow) {
  for (const char* program : {"Xvfb", "openbox", "xterm", "xwininfo"}) {
    if (!onPath(program)) GTEST_SKIP() << "needs " << program;
  }
  LiveDesktop desktop("fullscreen", kPanelX, kScreen);
  ASSERT_TRUE(desktop.ready()) << desktop.log();
  {
    Child film({"xterm", "-fullscreen"}, desktop.environment(), "/dev/null", "/dev/null");
    EXPECT_TRUE(waitFor([&] { return desktop.panel() && !desktop.panel()->mapped; }, 10s));
  }
  EXPECT_TRUE(waitFor([&] { return desktop.panel() && desktop.panel()->mapped; }, 5s));
  EXPECT_EQ(desktop.stop(), 0) << desktop.log();
}

// Two monitors (RandR monitors on one virtual screen): the right one unplugged, the panel on it
// moves to the primary (left) screen within a second; plugged back, the panel returns.
TEST(DesktopApp, FollowsItsScreenAwayAndBack) {
  for (const char* program : {"Xvfb", "openbox", "xwininfo", "xrandr"}) {
    if (!onPath(program)) GTEST_SKIP() << "needs " << program;
  }
  const auto xrandr = [](const std::string& display, const std::string& arguments) {
    return tallyloft::test::runShell("DISPLAY=" + display + " xrandr " + arguments);
  };
  const std::string right = "--setmonitor right 1200/320x900/240+1200+0 none";
  LiveDesktop desktop("screens", 1400, "2400x900x24", [&](const std::string& display) {
    xrandr(display, right);
    xrandr(display, "--setmonitor left 1200/320x900/240+0+0 none");
    xrandr(display, "--output screen --off");  // left and right stay, side by side
  });
  ASSERT_TRUE(desktop.ready()) << desktop.log();
  ASSERT_EQ(desktop.panel()->x, 1400);
  for (int round = 0; round < 2; ++round) {
    const auto unplugged = std::chrono::steady_clock::now();
    xrandr(desktop.display(), "--delmonitor right");
    EXPECT_TRUE(waitFor([&] { return desktop.panel()->x == (1200 - kPanelWidth) / 2; }, 3s))
        << desktop.panel()->x;
    std::printf(
        "on the primary screen %.0f ms after the unplug\n",
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - unplugged)
            .count());
    xrandr(desktop.display(), right);
    EXPECT_TRUE(waitFor([&] { return desktop.panel()->x == 1400; }, 3s)) << desktop.panel()->x;
  }
  EXPECT_EQ(desktop.stop(), 0) << desktop.log();
}

}  // namespace
