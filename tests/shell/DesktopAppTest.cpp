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

// The panel's own window (its size tells it from the app's others): whether it is mapped.
std::optional<bool> panelMapped(const std::string& display) {
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
    return info.find("Map State: IsViewable") != std::string::npos;
  }
  return std::nullopt;
}

// A full-screen window (a video, a presentation) hides the office panel on its screen; the panel
// comes back when it goes.
TEST(DesktopApp, GivesWayToAFullScreenWindow) {
  for (const char* program : {"Xvfb", "openbox", "xterm", "xwininfo"}) {
    if (!onPath(program)) GTEST_SKIP() << "needs " << program;
  }
  const fs::path home =
      fs::temp_directory_path() / ("tallyloft-fullscreen-" + std::to_string(getpid()));
  fs::remove_all(home);
  fs::create_directories(home / ".claude");
  fs::create_directories(home / ".config/Tallyloft");
  fs::create_directories(home / "run");
  fs::permissions(home / "run", fs::perms::owner_all);
  std::ofstream(home / ".config/Tallyloft/Tallyloft.conf")
      << "[General]\ndidCompleteOnboarding=true\nbarFloatingFrame=\"{{" << kPanelX << ", "
      << kPanelY << "}, {" << kPanelWidth << ", " << kPanelHeight << "}}\"\n";
  int display = 90 + static_cast<int>((getpid() + 7) % 400);
  while (fs::exists("/tmp/.X11-unix/X" + std::to_string(display))) ++display;
  const std::string name = ":" + std::to_string(display);
  Child xvfb({"Xvfb", name, "-screen", "0", kScreen, "-nolisten", "tcp"}, {}, "/dev/null",
             home / "xvfb.log");
  ASSERT_TRUE(
      waitFor([&] { return fs::exists("/tmp/.X11-unix/X" + std::to_string(display)); }, 10s));
  const std::vector<std::string> environment = {
      "HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
      "XDG_RUNTIME_DIR=" + (home / "run").string(), "DISPLAY=" + name, "QT_QPA_PLATFORM=xcb"};
  Child openbox({"openbox"}, environment, "/dev/null", home / "openbox.log");
  Child install({TALLYLOFT_BINARY, "hooks", "install"}, environment, "/dev/null", "/dev/null");
  ASSERT_EQ(install.wait(), 0);
  Child app({TALLYLOFT_BINARY}, environment, "/dev/null", home / "app.log");
  ASSERT_TRUE(waitFor([&] { return panelMapped(name) == true; }, 20s))
      << readFile(home / "app.log");

  {
    Child film({"xterm", "-fullscreen"}, environment, "/dev/null", "/dev/null");
    EXPECT_TRUE(waitFor([&] { return panelMapped(name) == false; }, 10s));
  }
  EXPECT_TRUE(waitFor([&] { return panelMapped(name) == true; }, 5s));
  EXPECT_EQ(app.stop(), 0) << readFile(home / "app.log");
  openbox.stop();
  xvfb.stop();
  fs::remove_all(home);
}

}  // namespace
