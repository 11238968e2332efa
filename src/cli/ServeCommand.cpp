#include "cli/ServeCommand.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "base/LoopScheduler.h"
#include "cli/EventJson.h"

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
  HookServer server(options.port);
  int status = 0;
  bool listened = false;

  server.onStatus = [&loop, &status, &listened](bool running, std::string text) {
    loop.post([&loop, &status, &listened, running, text = std::move(text)] {
      std::fprintf(stderr, "%s\n", text.c_str());
      if (running) {
        listened = true;
      } else if (!listened) {
        status = 1;
        loop.quit();
      }
    });
  };
  if (options.printEvents) {
    server.onEvent = [&loop](HookEvent event) {
      loop.post([event = std::move(event)] {
        std::printf("%s\n", eventJsonLine(event).c_str());
        std::fflush(stdout);
      });
    };
  }
  server.start();
  loop.run();
  return status;
}

}  // namespace tallyloft
