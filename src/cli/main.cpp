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
#include "cli/StatusCommand.h"
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
  serveCommand->add_option("--port", serve.port, "TCP port on 127.0.0.1 (the app uses 51789)")
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

  tallyloft::DemoOptions demo;
  auto* demoCommand = app.add_subcommand(
      "demo",
      "Post a recorded crew to the running app over HTTP, in real time, through the same hook "
      "server a CLI uses");
  demoCommand->add_option("FILE", demo.file,
                          "A recording (JSON lines as for replay); default: the built-in crew");
  demoCommand->add_option("--port", demo.port, "The app's port on 127.0.0.1 (default 51789)")
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
  auto* remove = hooks->add_subcommand("remove", "Remove our hooks (after a backup)");
  addCliOption(remove, "Only this CLI (default: every CLI)");

  CLI11_PARSE(app, argc, argv);
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
  if (install->parsed()) return tallyloft::runHooksInstall(engine);
  if (remove->parsed()) return tallyloft::runHooksRemove(engine);
  return 0;
}
