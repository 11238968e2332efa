#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <string>

namespace tallyloft {
namespace {

struct Outcome {
  int status;
  std::string output;
};

// Runs the tallyloft binary through the shell with `environment` set before it.
Outcome run(const std::string& environment, const std::string& arguments) {
  const std::string command = environment + " " + TALLYLOFT_BINARY + " " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  std::array<char, 512> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(CommandLine, TheDesktopAppWithoutADisplayPointsToServe) {
  const Outcome result = run("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output,
            "tallyloft: no display (DISPLAY is not set); for a headless hook server run `tallyloft "
            "serve`\n");
}

TEST(CommandLine, AStaleDisplayIsNoDisplayNotACrash) {
  const Outcome result = run("env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:7301", "");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output,
            "tallyloft: no display (DISPLAY=:7301 cannot be opened); for a headless hook server "
            "run `tallyloft serve`\n");
}

TEST(CommandLine, SnapshotNeedsNoDisplayAndChecksItsInput) {
  const std::string out = ::testing::TempDir() + "tallyloft-snapshot.png";
  const Outcome made = run("env -u DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR=/tmp",
                           std::string("snapshot --replay ") + TALLYLOFT_SOURCE_DIR +
                               "/examples/empty-office.jsonl --at 1 --size 180x40 --out " + out);
  EXPECT_EQ(made.status, 0) << made.output;
  EXPECT_EQ(run("env -u DISPLAY", "snapshot --replay /nonexistent --out " + out).status, 2);
  EXPECT_EQ(run("env -u DISPLAY", std::string("snapshot --replay ") + TALLYLOFT_SOURCE_DIR +
                                      "/examples/quiet.jsonl --size 10x10 --out " + out)
                .status,
            2);
}

}  // namespace
}  // namespace tallyloft
