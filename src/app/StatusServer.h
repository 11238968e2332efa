#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/Scheduler.h"
#include "crew/CrewModel.h"

namespace tallyloft {

// The user-only local socket through which `tallyloft status` asks the running app (or
// `tallyloft serve`) for the crew. Requests and answers are JSON, one per line:
//   {"get":"crew"}    one crew document (see crewStatusJson), then the connection stays open
//   {"watch":"crew"}  one document now and one after every change, at most ten a second
//   {"show":true, "token":"…"}  the desktop app shows its office panel, with the launch's
//                   activation token when it has one; answered {"shown":true}
// Anything else is answered with {"error": "…"}. A client that sends more than 4 KiB without a
// line break, or that stops reading while documents pile up, is disconnected.
//
// Runs on the scheduler's main thread, like the crew it reads: no thread of its own, and no
// work at all while no client is connected.
class StatusServer {
 public:
  static constexpr std::size_t kMaxRequestBytes = 4096;
  static constexpr std::chrono::milliseconds kWatchSpacing{100};

  StatusServer(Scheduler& scheduler, CrewModel& crew);
  StatusServer(const StatusServer&) = delete;
  StatusServer& operator=(const StatusServer&) = delete;
  ~StatusServer();

  // Listens on `path` (default: statusSocketPath()). Returns an error text when it cannot: another
  // instance answers there already, or the directory is not the user's alone.
  std::optional<std::string> listen(std::optional<std::filesystem::path> path = std::nullopt);
  bool listening() const { return listener_ >= 0; }

  // The desktop app's answer to a second launch; without it "show" is an unknown request.
  // The token is at most kMaxTokenBytes of printable ASCII, or empty.
  std::function<void(const std::string& token)> onShow;
  static constexpr std::size_t kMaxTokenBytes = 256;

 private:
  struct Client {
    int fd = -1;
    Scheduler::WatchId watch = 0;
    std::string received;
    bool watching = false;
  };
  void accept();
  void receive(int fd);
  void answer(Client& client, std::string_view line);
  // Sends one line; false (and the client must go) when it does not fit.
  bool send(Client& client, const std::string& line);
  void drop(int fd);
  void crewChanged();
  void sendToWatchers();

  Scheduler& scheduler_;
  CrewModel& crew_;
  std::filesystem::path path_;
  int listener_ = -1;
  Scheduler::WatchId listenWatch_ = 0;
  std::map<int, Client> clients_;
  std::size_t observer_ = 0;
  Scheduler::TimerId pendingSend_ = 0;
  Scheduler::TimerId pause_ = 0;  // while out of descriptors
};

// A client of the status socket: connects, sends `request` (one line), and calls `onLine` with
// each line that comes back until it returns false or the server closes. Returns false when
// nothing answers at `path`.
bool askStatusServer(const std::filesystem::path& path, const std::string& request,
                     const std::function<bool(const std::string& line)>& onLine);

}  // namespace tallyloft
