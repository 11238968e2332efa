#include "cli/ServeCommand.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/AppModel.h"
#include "base/LoopScheduler.h"
#include "base/RuntimeFolder.h"
#include "cli/CrewJson.h"
#include "cli/EventJson.h"
#include "hooks/HookInstaller.h"
#include "hooks/HookSecret.h"

namespace tallyloft {
namespace {

// Turns SIGINT and SIGTERM into a quit on the loop. The signals are blocked in every thread and
// taken by one waiting thread, so no handler runs at an arbitrary point.
class SignalQuit {
 public:
  explicit SignalQuit(LoopScheduler& loop) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    waiter_ = std::thread([this, &loop] {
      int signal = 0;
      sigwait(&signals_, &signal);
      if (!done_) loop.quit();
    });
  }
  ~SignalQuit() {
    done_ = true;
    pthread_kill(waiter_.native_handle(), SIGTERM);
    waiter_.join();
  }

 private:
  sigset_t signals_{};
  std::atomic<bool> done_{false};
  std::thread waiter_;
};

}  // namespace

int runServe(const ServeOptions& options) {
  LoopScheduler loop;
  SignalQuit signalQuit(loop);  // before the server, so its thread inherits the blocked signals
  HookListen listen{.socket = hookSocketPath(), .port = options.port};
  if (options.port) {
    try {
      listen.secret = HookSecret::load();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "Failed: %s\n", error.what());
      return 1;
    }
  }
  AppModel app(loop, std::move(listen));
  int status = 0;
  bool listened = false;
  std::string lastStatus = app.store().serverStatus();
  std::string lastCounts;
  // At most ten lines a second: a burst of hooks prints where it ended, not every step of it.
  constexpr auto kCountsSpacing = std::chrono::milliseconds(100);
  Scheduler::TimerId countsTimer = 0;
  std::chrono::steady_clock::time_point lastPrint{};
  const auto emitCounts = [&] {
    std::string counts = countsLine(app);
    if (counts == lastCounts) return;
    lastCounts = std::move(counts);
    lastPrint = std::chrono::steady_clock::now();
    std::fprintf(stderr, "%s\n", lastCounts.c_str());
  };
  const auto printCounts = [&] {
    if (countsTimer != 0) return;  // a print is on its way
    const auto since = std::chrono::steady_clock::now() - lastPrint;
    if (since >= kCountsSpacing) {
      emitCounts();
      return;
    }
    countsTimer = loop.after(kCountsSpacing - since, [&] {
      countsTimer = 0;
      emitCounts();
    });
  };
  // Where it listens comes first, for scripts and tests; what else there is to say follows it.
  std::vector<std::string> notes;
  app.store().onChange = [&] {
    const EventStore& store = app.store();
    if (store.serverStatus() != lastStatus) {
      lastStatus = store.serverStatus();
      std::fprintf(stderr, "%s\n", lastStatus.c_str());
      for (const std::string& note : notes) std::fprintf(stderr, "%s\n", note.c_str());
      notes.clear();
      // A port that could not be opened beside the socket fails the start too.
      const bool portMissing = options.port && store.serverPort() == 0;
      if (store.serverRunning() && !portMissing) {
        listened = true;
      } else if (!listened) {
        status = 1;
        loop.quit();
      }
    }
    printCounts();
  };
  app.crew().observe(printCounts);
  if (options.printEvents) {
    app.onReceive = [](const HookEvent& event) {
      std::printf("%s\n", eventJsonLine(event).c_str());
      std::fflush(stdout);
    };
  }
  app.onHooksWarning = [&app](HookEngine engine) {
    const std::string& warning = app.hooksWatch()->warning(engine);
    if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
  };
  app.start();
  if (HookInstaller::anyOlderHooks()) {
    notes.push_back(
        "Hooks of an older Tallyloft post to 127.0.0.1:" + std::to_string(HookServer::kPort) +
        ", where nothing listens now; run `tallyloft hooks install` to move them to "
        "the socket.");
  }
  // `tallyloft status` asks here; without the socket the server still runs.
  if (auto problem = app.watchLocalMachine()) notes.push_back("No status socket: " + *problem);
  loop.run();
  return status;
}

}  // namespace tallyloft
