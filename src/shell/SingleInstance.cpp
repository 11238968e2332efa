#include "shell/SingleInstance.h"

#include <QThread>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "app/StatusServer.h"
#include "base/RuntimeFolder.h"

namespace tallyloft {

std::string SingleInstance::activationToken() {
  for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return {};
}

SingleInstance::Outcome SingleInstance::acquire(const std::filesystem::path& socket,
                                                const std::string& token,
                                                std::chrono::milliseconds patience) {
  if (auto problem = prepareRuntimeFolder(socket.parent_path())) {
    problem_ = *problem;
    return Outcome::noFolder;
  }
  lock_ = std::make_unique<QLockFile>(
      QString::fromStdString((socket.parent_path() / "tallyloft.lock").string()));
  // Held until the holder ends; a holder that died leaves a lock that is taken over.
  lock_->setStaleLockTime(0);
  const std::string request = nlohmann::json{{"show", true}, {"token", token}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    if (lock_->tryLock(0)) return Outcome::run;
    bool shown = false;
    askStatusServer(socket, request, [&shown](const std::string& line) {
      shown = line.find(R"("shown":true)") != std::string::npos;
      return false;
    });
    if (shown) return Outcome::handedOver;
    // The holder is still starting (its socket not yet up): wait for it.
    if (std::chrono::steady_clock::now() >= deadline) break;
    QThread::msleep(50);
  }
  problem_ = "another Tallyloft holds " + (socket.parent_path() / "tallyloft.lock").string() +
             " but does not answer";
  return Outcome::stuck;
}

}  // namespace tallyloft
