#pragma once

#include <QLockFile>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace tallyloft {

// One Tallyloft per user: the first launch takes a lock file beside the status socket (in the
// user-only runtime folder), and every later one asks it over that socket to show its office
// panel, passing its activation token, and exits. Two launches at the same moment (autostart and
// a click) end with one app: the loser waits for the winner to answer. Another user cannot stand
// in the way, since the folder is the user's alone.
class SingleInstance {
 public:
  enum class Outcome {
    run,         // this launch holds the lock: run the app
    handedOver,  // the running app was asked to show its panel
    stuck,       // the lock is held, but nothing answered within the patience
    noFolder,    // the runtime folder cannot be made the user's alone
  };

  // The activation token of this launch: XDG_ACTIVATION_TOKEN, else DESKTOP_STARTUP_ID.
  static std::string activationToken();

  // Decides this launch's part. `socket` is the status socket (its folder holds the lock).
  Outcome acquire(const std::filesystem::path& socket, const std::string& token,
                  std::chrono::milliseconds patience = std::chrono::milliseconds(5000));
  // Why, after `noFolder` or `stuck`.
  const std::string& problem() const { return problem_; }

 private:
  std::unique_ptr<QLockFile> lock_;  // held while the app runs
  std::string problem_;
};

}  // namespace tallyloft
