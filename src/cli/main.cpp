#include <CLI/CLI.hpp>

#include <QGuiApplication>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "cli/DemoCommand.h"
#include "cli/GalleryCommand.h"
#include "cli/GalleryWindow.h"
#include "cli/HooksCommand.h"
#include "cli/ReplayCommand.h"
#include "cli/ServeCommand.h"
#include "cli/SnapshotCommand.h"
#include "cli/SshCommand.h"
#include "cli/StatusCommand.h"
#include "hooks/HookInstaller.h"
#include "hooks/HookSecret.h"
#include "shell/AppDelegate.h"

int main(int argc, char** argv) {
  CLI::App app{"Tallyloft: a live office of your AI coding agents.", "tallyloft"};
  app.require_subcommand(0, 1);
  app.footer(
      "Without a command, starts the desktop app: the tray icon, its control panel and the "
      "floating office panel (needs a display; `tallyloft serve` runs headless).");
  bool reduceMotion = false;
  app.add_flag("--reduce-motion", reduceMotion,
               "Desktop app: no swaying and no dust, whatever the desktop's setting");

  tallyloft::ServeOptions serve;
  auto* serveCommand = app.add_subcommand(
      "serve", "Run the hook server headless and report what arrives (a hook debugger).");
  serveCommand
      ->add_option("--port", serve.port,
                   "Also listen on this TCP port of 127.0.0.1, for agents in containers or VMs; "
                   "requests must carry the secret of ~/.config/tallyloft/hook-secret")
      ->check(CLI::Range(1, 65535));
  serveCommand->add_flag("--print-events", serve.printEvents,
                         "Print every decoded event as one JSON line on stdout");

  std::string replayFile;
  std::vector<double> replayAt;
  auto* replay = app.add_subcommand(
      "replay",
      "Feed a recorded event file (JSON lines {\"t\": SECONDS, \"body\": ...}) through the model "
      "on virtual time and print JSON snapshots of it");
  replay->add_option("FILE", replayFile, "The recording; - reads standard input")->required();
  replay
      ->add_option("--at", replayAt,
                   "Print a snapshot at this many seconds (repeatable; default: after the last "
                   "event)")
      ->check(CLI::NonNegativeNumber);

  std::string galleryName;
  std::string galleryOut;
  std::string gallerySize;
  auto* gallery =
      app.add_subcommand("gallery", "Render a gallery of the office's parts headless to a PNG");
  gallery->add_option("NAME", galleryName, "What to show: primitives, robots, desks, props, vacuum")
      ->required()
      ->check(CLI::IsMember({"primitives", "robots", "desks", "props", "vacuum"}));
  unsigned gallerySeed = 1;
  double galleryTime = -1;
  gallery->add_option("--seed", gallerySeed, "Seed of the scene's random generator (default 1)");
  gallery
      ->add_option(
          "--time", galleryTime,
          "Seconds of fixed 1/60 s steps before the picture (default: robots 2.6, others 2)")
      ->check(CLI::Range(0.0, 600.0));
  bool galleryWindow = false;
  gallery->add_option("--out", galleryOut, "The PNG to write");
  gallery->add_flag("--window", galleryWindow,
                    "Show it live in a window instead (needs a display)");
  gallery->add_option("--size", gallerySize,
                      "Image size in pixels, WIDTHxHEIGHT (default 1800x400)");

  tallyloft::SnapshotOptions snapshot;
  auto* snapshotCommand = app.add_subcommand(
      "snapshot",
      "Replay a recording on virtual time, run the office up to a moment and render it headless "
      "to a PNG");
  snapshotCommand->add_option("--replay", snapshot.replay, "The recording; - reads standard input")
      ->required();
  snapshotCommand->add_option("--at", snapshot.at, "Seconds into the recording (default 0)")
      ->check(CLI::Range(0.0, 1e9));
  snapshotCommand->add_option("--size", snapshot.size,
                              "Image size in pixels, WIDTHxHEIGHT (default 1800x400)");
  snapshotCommand->add_option("--seed", snapshot.seed,
                              "Seed of the office's random generator (default 1)");
  snapshotCommand->add_option("--out", snapshot.out, "The PNG to write (default snapshot.png)");
  snapshotCommand->add_flag("--transparent", snapshot.transparent,
                            "Leave the floor's surroundings transparent instead of drawing them "
                            "in the office panel's backing colour");

  tallyloft::DemoOptions demo;
  auto* demoCommand = app.add_subcommand(
      "demo",
      "Post a recorded crew to the running app, in real time, through the same hook socket a CLI "
      "uses");
  demoCommand->add_option("FILE", demo.file,
                          "A recording (JSON lines as for replay); default: the built-in crew");
  demoCommand
      ->add_option("--port", demo.port,
                   "Post to this TCP port of 127.0.0.1, with the secret (default: the hook socket)")
      ->check(CLI::Range(1, 65535));
  demoCommand->add_option("--speed", demo.speed, "Play this many times faster (default 1)")
      ->check(CLI::Range(0.01, 1000.0));
  demoCommand->add_flag("--loop", demo.loop, "Play again and again, under new session ids");

  tallyloft::StatusOptions statusOptions;
  auto* statusCommand = app.add_subcommand(
      "status",
      "Print the live crew of the running app (or `tallyloft serve`): each session's CLI, "
      "project, state, context and process, and its agents");
  statusCommand->add_flag("--json", statusOptions.json,
                          "Print the crew as one JSON document (see the README)");
  auto* waybarFlag = statusCommand->add_flag(
      "--waybar", statusOptions.waybar,
      "Print one line of JSON for a waybar or polybar custom module (see the README)");
  statusCommand->get_option("--json")->excludes(waybarFlag);
  statusCommand->add_flag("--watch", statusOptions.watch,
                          "Print it again after every change, until interrupted");

  auto* hooks =
      app.add_subcommand("hooks", "Show, install or remove the hooks in the CLIs' settings");
  hooks->require_subcommand(1);
  std::string cliName;
  const auto addCliOption = [&cliName](CLI::App* command, const char* help) {
    command->add_option("--cli", cliName, help)
        ->check(CLI::IsMember({"claude", "codex", "gemini"}));
  };
  auto* status = hooks->add_subcommand(
      "status", "Per CLI: present on this machine, hooks installed, settings file");
  auto* install = hooks->add_subcommand(
      "install", "Install the hooks (a backup of each settings file is made first)");
  addCliOption(install, "Only this CLI (default: every CLI present)");
  std::string hookSocket;
  std::optional<std::uint16_t> hookPort;
  const auto addTargetOptions = [&](CLI::App* command) {
    auto* socketOption = command->add_option(
        "--socket", hookSocket,
        "Post to this Unix socket (default: this user's, in $XDG_RUNTIME_DIR/tallyloft); for a "
        "machine whose socket `tallyloft ssh` forwards");
    command
        ->add_option("--port", hookPort,
                     "Post to this TCP port of 127.0.0.1 instead, with the secret of "
                     "~/.config/tallyloft/hook-secret (for agents in containers or VMs)")
        ->check(CLI::Range(1, 65535))
        ->excludes(socketOption);
  };
  addTargetOptions(install);
  auto* print = hooks->add_subcommand(
      "print",
      "Print the hook entries for one CLI's settings file, to paste on a machine "
      "without Tallyloft");
  addCliOption(print, "The CLI");
  print->get_option("--cli")->required();
  addTargetOptions(print);
  auto* remove = hooks->add_subcommand("remove", "Remove our hooks (after a backup)");
  addCliOption(remove, "Only this CLI (default: every CLI)");

  tallyloft::SshOptions ssh;
  auto* sshCommand = app.add_subcommand(
      "ssh",
      "Forward a socket on HOST to this user's hook socket over SSH, and reconnect when the "
      "connection drops; hooks installed there with --socket reach the office here");
  sshCommand->add_option("HOST", ssh.host, "The remote machine, as ssh takes it")->required();
  sshCommand->add_option("--remote-socket", ssh.remoteSocket,
                         "The socket on HOST (default ~/.tallyloft/hook.sock)");
  sshCommand
      ->add_option("--attempts", ssh.attempts,
                   "Give up after this many connections (default: never)")
      ->check(CLI::NonNegativeNumber);
  sshCommand->add_option("SSH_ARGS", ssh.sshArguments,
                         "Arguments for ssh, after --: tallyloft ssh buildbox -- -p 2222");

  CLI11_PARSE(app, argc, argv);
  if (sshCommand->parsed()) return tallyloft::runSsh(ssh);
  // Where hooks installed or printed now post.
  const auto hookTarget = [&]() -> std::optional<tallyloft::HookTarget> {
    if (hookPort) {
      try {
        tallyloft::HookSecret::load();  // made now, so that the hooks find it
      } catch (const std::exception& error) {
        std::cerr << "Failed: " << error.what() << '\n';
        return std::nullopt;
      }
      return tallyloft::HookTarget{.port = *hookPort, .secretFile = tallyloft::HookSecret::path()};
    }
    if (hookSocket.empty()) return tallyloft::HookInstaller::defaultTarget();
    return tallyloft::HookTarget{.socket = std::filesystem::absolute(hookSocket)};
  };
  const auto engine = tallyloft::engineNamed(cliName);
  if (serveCommand->parsed()) return tallyloft::runServe(serve);
  if (gallery->parsed()) {
    // Headless: fonts and images need a GUI application, but no display.
    if (galleryWindow) return tallyloft::showGalleryWindow(argc, argv, galleryName, gallerySize);
    if (galleryOut.empty()) {
      std::cerr << "gallery: --out FILE.png is required (or --window)\n";
      return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication gui(argc, argv);
    return tallyloft::runGallery(galleryName, galleryOut, gallerySize, gallerySeed, galleryTime);
  }
  if (demoCommand->parsed()) return tallyloft::runDemo(demo);
  if (statusCommand->parsed()) return tallyloft::runStatus(statusOptions, std::cout, std::cerr);
  if (snapshotCommand->parsed()) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication gui(argc, argv);
    return tallyloft::runSnapshot(snapshot);
  }
  if (replay->parsed()) {
    if (replayFile == "-") return tallyloft::replayEvents(std::cin, replayAt, std::cout, std::cerr);
    std::ifstream file(replayFile);
    if (!file) {
      std::cerr << "Cannot open " << replayFile << '\n';
      return 2;
    }
    return tallyloft::replayEvents(file, replayAt, std::cout, std::cerr);
  }
  if (app.get_subcommands().empty()) return tallyloft::runDesktopApp(argc, argv, reduceMotion);
  if (status->parsed()) return tallyloft::runHooksStatus();
  if (install->parsed() || print->parsed()) {
    const auto target = hookTarget();
    if (!target) return 1;
    if (print->parsed()) return tallyloft::runHooksPrint(*engine, *target);
    return tallyloft::runHooksInstall(engine, *target);
  }
  if (remove->parsed()) return tallyloft::runHooksRemove(engine);
  return 0;
}
