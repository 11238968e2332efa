#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <vector>
#include "support/ChildProcess.h"

namespace tallyloft {
namespace {

struct Outcome {
  int status;
  std::string output;
};

// Runs the tallyloft binary through the shell with `environment` set before it.
Outcome run(const std::string& environment, const std::string& arguments) {
  const test::ShellRun ran = test::runShell(environment + " " + TALLYLOFT_BINARY + " " + arguments);
  return {ran.status, ran.output};
}

TEST(CommandLine, TheDesktopAppWithoutADisplayPointsToServe) {
  const Outcome result = run("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output,
            "tallyloft: no display (DISPLAY is not set); for a headless hook server run `tallyloft "
            "serve`\n");
}

// The same recording, moment and seed give the same file, byte for byte, from separate
// processes (their heaps laid out differently) and in any time zone.
TEST(CommandLine, ASnapshotIsTheSamePictureEveryTime) {
  const std::string out = "/tmp/tallyloft-same-" + std::to_string(::getpid());
  const std::string arguments = "snapshot --replay " + std::string(TALLYLOFT_SOURCE_DIR) +
                                "/examples/three-clis.jsonl --at 26 --seed 7 --size 1800x400";
  std::vector<std::string> files;
  const char* zones[] = {"TZ=UTC", "TZ=Asia/Kolkata", "TZ=America/Los_Angeles", "TZ=UTC"};
  for (int i = 0; i < 4; ++i) {
    const std::string file = out + "-" + std::to_string(i) + ".png";
    ASSERT_EQ(run(std::string("env ") + zones[i], arguments + " --out " + file).status, 0);
    std::ifstream in(file, std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(file.c_str());
  }
  ASSERT_FALSE(files[0].empty());
  for (int i = 1; i < 4; ++i) EXPECT_TRUE(files[i] == files[0]) << "run " << i << " differs";
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
  // As the panel shows it, over its backing colour (a PNG without alpha: colour type 2); with
  // --transparent, what the office does not cover is left clear (colour type 6, with alpha).
  const auto colourType = [&out] {
    std::ifstream png(out, std::ios::binary);
    std::string header(26, '\0');
    png.read(header.data(), 26);
    return static_cast<int>(header[25]);
  };
  EXPECT_EQ(colourType(), 2);
  EXPECT_EQ(run("env -u DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR=/tmp",
                std::string("snapshot --transparent --replay ") + TALLYLOFT_SOURCE_DIR +
                    "/examples/empty-office.jsonl --at 1 --size 180x40 --out " + out)
                .status,
            0);
  EXPECT_EQ(colourType(), 6);
  EXPECT_EQ(run("env -u DISPLAY", "snapshot --replay /nonexistent --out " + out).status, 2);
  EXPECT_EQ(run("env -u DISPLAY", std::string("snapshot --replay ") + TALLYLOFT_SOURCE_DIR +
                                      "/examples/quiet.jsonl --size 10x10 --out " + out)
                .status,
            2);
}

}  // namespace
}  // namespace tallyloft
