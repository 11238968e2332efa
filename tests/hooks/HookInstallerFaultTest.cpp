// The installer against a hostile machine: in each case a clear error, the user's file intact,
// no temporary file left behind, and the process still running.
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "hooks/HookInstaller.h"
#include "hooks/SettingsFile.h"
#include "support/ChildProcess.h"
#include "support/TempHome.h"

namespace tallyloft {
namespace {

namespace fs = std::filesystem;

const std::string kUserSettings = R"({"model":"opus","hooks":{"Stop":[{"matcher":"",)"
                                  R"("hooks":[{"type":"command","command":"say done"}]}]}})";

class HookInstallerFaultTest : public test::TempHome {
 protected:
  void SetUp() override {
    TempHome::SetUp();
    write(settings(), kUserSettings);
    ::chmod(settings().c_str(), 0644);
  }
  fs::path settings() const { return fileURL(HookEngine::claude); }
  std::vector<std::string> listing() const { return TempHome::listing(settings().parent_path()); }
  // Installs for Claude Code and tells whether that failed with a message holding `expected`.
  static bool installFailsWith(const std::string& expected) {
    try {
      HookInstaller::install(HookEngine::claude);
      return false;
    } catch (const std::exception& error) {
      return std::string(error.what()).find(expected) != std::string::npos;
    }
  }
};

TEST_F(HookInstallerFaultTest, ReadOnlySettingsDirectory) {
  ::chmod(settings().parent_path().c_str(), 0555);
  const bool failed = test::inChild([] { return installFailsWith("Permission denied"); },
                                    /*unprivileged=*/true);
  ::chmod(settings().parent_path().c_str(), 0755);
  EXPECT_TRUE(failed);
  EXPECT_EQ(read(settings()), kUserSettings);
  EXPECT_EQ(listing(), std::vector<std::string>{"settings.json"});
}

// A full disk, made by a file-size limit: writes past it fail with EFBIG (SIGXFSZ ignored).
TEST_F(HookInstallerFaultTest, DiskFull) {
  const auto withLimit = [](rlim_t bytes) {
    return [bytes] {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{bytes, bytes};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
      return installFailsWith("File too large");
    };
  };
  // Room for the backup, not for the larger new file: the backup stays, the file is as it was.
  ASSERT_TRUE(test::inChild(withLimit(kUserSettings.size() + 100)));
  EXPECT_EQ(read(settings()), kUserSettings);
  const auto names = listing();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], "settings.json");
  EXPECT_EQ(names[1].rfind("settings.json.tallyloft-bak-", 0), 0u) << names[1];
  EXPECT_EQ(read(settings().parent_path() / names[1]), kUserSettings);

  // Not even room for the backup: nothing is written, and no partial backup remains.
  fs::remove(settings().parent_path() / names[1]);
  ASSERT_TRUE(test::inChild(withLimit(10)));
  EXPECT_EQ(read(settings()), kUserSettings);
  EXPECT_EQ(listing(), std::vector<std::string>{"settings.json"});
}

// Without HOME (a login shell that cleared it, a service), the password database names home.
TEST_F(HookInstallerFaultTest, HomeUnset) {
  const passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  ::unsetenv("HOME");
  EXPECT_EQ(homeDirectory(), fs::path(entry->pw_dir));
  EXPECT_EQ(fileURL(HookEngine::codex), fs::path(entry->pw_dir) / ".codex" / "hooks.json");
  ::setenv("HOME", "", 1);
  EXPECT_EQ(homeDirectory(), fs::path(entry->pw_dir));
}

}  // namespace
}  // namespace tallyloft
