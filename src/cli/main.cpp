#include <CLI/CLI.hpp>

#include "cli/ServeCommand.h"

int main(int argc, char** argv) {
  CLI::App app{"Tallyloft: a live office of your AI coding agents.", "tallyloft"};
  app.require_subcommand(1);

  tallyloft::ServeOptions serve;
  auto* serveCommand = app.add_subcommand(
      "serve", "Run the hook server headless and report what arrives (a hook debugger).");
  serveCommand->add_option("--port", serve.port, "TCP port on 127.0.0.1 (the app uses 51789)")
      ->check(CLI::Range(1, 65535));
  serveCommand->add_flag("--print-events", serve.printEvents,
                         "Print every decoded event as one JSON line on stdout");

  CLI11_PARSE(app, argc, argv);
  if (serveCommand->parsed()) return tallyloft::runServe(serve);
  return 0;
}
