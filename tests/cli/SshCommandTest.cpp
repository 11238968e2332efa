#include "cli/SshCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "hooks/HookCommand.h"
#include "support/ChildProcess.h"
#include "support/TestClient.h"

namespace tallyloft {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A folder of the test's own, removed at the end.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "tallyloft-ssh-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    fs::create_directory(path_ / "run");
    fs::permissions(path_ / "run", fs::perms::owner_all);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  std::string runtime() const { return "XDG_RUNTIME_DIR=" + (path_ / "run").string(); }

 private:
  fs::path path_;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  for (auto waited = 0ms; waited < limit; waited += 50ms) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

// The remote side's preparation, run by a shell as sshd would: the folder made private, a stale
// socket gone, the absolute path printed; a folder that is not the user's fails it.
TEST(Ssh, PreparesAPrivateFolderAndClearsAStaleSocket) {
  Scratch scratch;
  const fs::path home = scratch.path() / "home";
  fs::create_directories(home / ".tallyloft");
  fs::permissions(home / ".tallyloft", fs::perms::all);
  std::ofstream(home / ".tallyloft" / "hook.sock") << "stale";
  const test::ShellRun ran =
      test::runShell("HOME=" + home.string() + " sh -c " +
                     shellQuoted(sshPrepareCommand("~/.tallyloft/hook.sock")));
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.output, (home / ".tallyloft" / "hook.sock").string() + "\n");
  EXPECT_FALSE(fs::exists(home / ".tallyloft" / "hook.sock"));
  EXPECT_EQ(fs::status(home / ".tallyloft").permissions(), fs::perms::owner_all);

  const fs::path odd = scratch.path() / "it's here" / "hook.sock";
  EXPECT_EQ(test::runShell("sh -c " + shellQuoted(sshPrepareCommand(odd.string()))).output,
            odd.string() + "\n");
  if (::geteuid() == 0) {
    // Another user's folder (this one's, to the user nobody) cannot be made private.
    fs::permissions(scratch.path(), fs::perms::owner_all | fs::perms::others_exec);
    const fs::path theirs = scratch.path() / "theirs";
    fs::create_directory(theirs);
    const std::string command = sshPrepareCommand((theirs / "hook.sock").string());
    EXPECT_NE(test::runShell("setpriv --reuid=65534 --regid=65534 --clear-groups sh -c " +
                             shellQuoted(command))
                  .status,
              0);
    EXPECT_NE(fs::status(theirs).permissions(), fs::perms::owner_all);
  }
}

// With a stand-in for ssh on PATH: the arguments each connection gets, and a connection that
// drops is made again.
TEST(Ssh, ForwardsTheRemoteSocketAndConnectsAgainWhenTheConnectionDrops) {
  Scratch scratch;
  const fs::path bin = scratch.path() / "bin";
  fs::create_directory(bin);
  std::ofstream(bin / "ssh") << "#!/bin/sh\n"
                                "printf '%s|' \"$@\" >> \"$SSH_LOG\"; echo >> \"$SSH_LOG\"\n"
                                "case \"$*\" in *'umask 077'*) echo /home/remote/.tallyloft/"
                                "hook.sock; exit 0;; esac\n"
                                "exit 255\n";
  fs::permissions(bin / "ssh", fs::perms::owner_all);
  const fs::path log = scratch.path() / "ssh.log";
  const test::ShellRun ran = test::runShell("SSH_LOG=" + log.string() + " PATH=" + bin.string() +
                                            ":$PATH " + scratch.runtime() + " " + TALLYLOFT_BINARY +
                                            " ssh buildbox --attempts 2 -- -p 2222");
  EXPECT_EQ(ran.status, 1) << ran.output;
  const std::string local = (scratch.path() / "run" / "tallyloft" / "hook.sock").string();
  const std::string prepare =
      "-p|2222|buildbox|" + sshPrepareCommand("~/.tallyloft/hook.sock") + "|\n";
  const std::string forward =
      "-p|2222|-N|-o|ExitOnForwardFailure=yes|-o|ServerAliveInterval=15|-o|ServerAliveCountMax=3|"
      "-R|/home/remote/.tallyloft/hook.sock:" +
      local + "|buildbox|\n";
  EXPECT_EQ(readFile(log), prepare + forward + prepare + forward);
  EXPECT_NE(ran.output.find("tallyloft hooks install --socket /home/remote/.tallyloft/hook.sock"),
            std::string::npos)
      << ran.output;
  EXPECT_NE(ran.output.find("ssh: connecting again in 1 s"), std::string::npos);
}

// The whole way with a real sshd on loopback: a hook on the "remote" side posts to the forwarded
// socket and the event reaches `tallyloft serve`, also after sshd went away and came back.
TEST(Ssh, CarriesHooksThroughARealSshdAcrossAReconnect) {
  if (::geteuid() != 0 || ::access("/usr/sbin/sshd", X_OK) != 0) {
    GTEST_SKIP() << "needs root and /usr/sbin/sshd (openssh-server)";
  }
  Scratch scratch;
  const fs::path& top = scratch.path();
  ASSERT_EQ(test::runShell("ssh-keygen -q -t ed25519 -N '' -f " + (top / "host").string() +
                           " && ssh-keygen -q -t ed25519 -N '' -f " + (top / "user").string())
                .status,
            0);
  fs::copy_file(top / "user.pub", top / "authorized_keys");
  fs::create_directories("/run/sshd");
  const std::uint16_t port = [] {
    test::LoopbackListener probe;
    return probe.port();
  }();
  std::ofstream(top / "sshd_config")
      << "ListenAddress 127.0.0.1\nPort " << port << "\nHostKey " << (top / "host").string()
      << "\nAuthorizedKeysFile " << (top / "authorized_keys").string()
      << "\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
         "PermitRootLogin prohibit-password\nAllowStreamLocalForwarding yes\nPidFile none\n";
  test::Program sshd({"/usr/sbin/sshd", "-D", "-e", "-f", (top / "sshd_config").string()}, {},
                     "/dev/null", top / "sshd.log");
  const std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + (top / "run").string(),
                                                "HOME=" + top.string()};
  test::Program serve({TALLYLOFT_BINARY, "serve", "--print-events"}, environment, top / "serve.out",
                      top / "serve.err");
  ASSERT_NE(serve.waitForErrors("Listening").find("Listening"), std::string::npos);
  const fs::path remote = top / "remote" / "hook.sock";
  test::Program forward(
      {TALLYLOFT_BINARY, "ssh", "127.0.0.1", "--remote-socket", remote.string(), "--", "-p",
       std::to_string(port), "-i", (top / "user").string(), "-o", "StrictHostKeyChecking=no", "-o",
       "UserKnownHostsFile=/dev/null", "-o", "BatchMode=yes", "-o", "LogLevel=ERROR"},
      environment, "/dev/null", top / "forward.log");
  const auto post = [&](const std::string& session) {
    const std::string hook = hookCommand({.socket = remote});
    test::runShell("echo '{\"hook_event_name\":\"Stop\",\"session_id\":\"" + session +
                   "\"}' | sh -c " + shellQuoted(hook));
    return !serve.waitForOutput(session, 3s).empty() &&
           serve.output().find(session) != std::string::npos;
  };
  ASSERT_TRUE(waitFor([&] { return fs::exists(remote); }))
      << readFile(top / "forward.log") << readFile(top / "sshd.log");
  EXPECT_TRUE(post("remote-1")) << serve.output();
  EXPECT_EQ(fs::status(remote.parent_path()).permissions(), fs::perms::owner_all);

  // The connection drops (the network went away): the forward comes back by itself, over the
  // socket the dropped session may have left behind.
  ASSERT_EQ(test::runShell("pkill -KILL -P " + std::to_string(forward.pid()) + " -x ssh").status,
            0);
  ASSERT_TRUE(waitFor(
      [&] { return readFile(top / "forward.log").find("ended") != std::string::npos; }, 10s));
  EXPECT_TRUE(waitFor([&] { return post("remote-2"); }, 15s))
      << readFile(top / "forward.log") << readFile(top / "sshd.log");
  // Stopped, it takes its connection with it.
  EXPECT_EQ(forward.stop(), 0);
  EXPECT_TRUE(waitFor([&] {
    return test::runShell("pgrep -f '[E]xitOnForwardFailure=yes.*" + remote.string() + "'")
               .status != 0;
  }));
}

}  // namespace
}  // namespace tallyloft
