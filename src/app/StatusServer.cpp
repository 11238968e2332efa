#include "app/StatusServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/CrewStatus.h"
#include "base/RuntimeFolder.h"
#include "hooks/HookEngine.h"
#include "hooks/JsonReader.h"

namespace tallyloft {

StatusServer::StatusServer(Scheduler& scheduler, CrewModel& crew)
    : scheduler_(scheduler), crew_(crew) {}

StatusServer::~StatusServer() {
  if (observer_ != 0) crew_.unobserve(observer_);
  if (pause_ != 0) scheduler_.cancel(pause_);
  if (pendingSend_ != 0) scheduler_.cancel(pendingSend_);
  while (!clients_.empty()) drop(clients_.begin()->first);
  if (listener_ >= 0) {
    if (listenWatch_ != 0) scheduler_.unwatch(listenWatch_);
    ::close(listener_);
    ::unlink(path_.c_str());
  }
}

std::optional<std::string> StatusServer::listen(std::optional<std::filesystem::path> path) {
  if (listener_ >= 0) return std::nullopt;
  const std::filesystem::path where = path.value_or(statusSocketPath());
  auto listening = listenUnixSocket(where, 16);
  if (auto* problem = std::get_if<std::string>(&listening)) return std::move(*problem);
  listener_ = std::get<int>(listening);
  path_ = where;
  listenWatch_ = scheduler_.watchReadable(listener_, [this] { accept(); });
  return std::nullopt;
}

void StatusServer::accept() {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: the waiting peer would keep the listener readable and this task
        // running. Look away for a second.
        scheduler_.unwatch(listenWatch_);
        listenWatch_ = 0;
        pause_ = scheduler_.after(std::chrono::seconds(1), [this] {
          pause_ = 0;
          listenWatch_ = scheduler_.watchReadable(listener_, [this] { accept(); });
        });
      }
      return;
    }
    // Only this user's processes may ask, whatever the socket's mode says.
    if (!peerIsThisUser(fd)) {
      ::close(fd);
      continue;
    }
    Client& client = clients_[fd];
    client.fd = fd;
    client.watch = scheduler_.watchReadable(fd, [this, fd] { receive(fd); });
  }
}

void StatusServer::receive(int fd) {
  const auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  Client& client = it->second;
  char buffer[1024];
  const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
  if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    drop(fd);
    return;
  }
  if (count < 0) return;
  client.received.append(buffer, static_cast<std::size_t>(count));
  for (;;) {
    const std::size_t newline = client.received.find('\n');
    if (newline == std::string::npos) break;
    const std::string line = client.received.substr(0, newline);
    client.received.erase(0, newline + 1);
    answer(client, line);
    if (clients_.count(fd) == 0) return;  // dropped while answering
  }
  if (client.received.size() > kMaxRequestBytes) drop(fd);
}

void StatusServer::answer(Client& client, std::string_view line) {
  const auto request = parseJson(line);
  const JSONValue::Object* object = request ? request->asObject() : nullptr;
  const auto field = [object](std::string_view key) -> const std::string* {
    if (object == nullptr) return nullptr;
    const auto it = object->find(key);
    return it == object->end() ? nullptr : it->second.asString();
  };
  const std::string* get = field("get");
  const std::string* watch = field("watch");
  const bool show = object != nullptr && object->count("show") != 0 &&
                    object->at("show").asBool() != nullptr && *object->at("show").asBool();
  bool sent = true;
  if (show && onShow) {
    std::string token;
    if (const std::string* given = field("token");
        given != nullptr && given->size() <= kMaxTokenBytes &&
        std::all_of(given->begin(), given->end(), [](char c) { return c > ' ' && c < 127; })) {
      token = *given;
    }
    sent = send(client, R"({"shown":true})");
    onShow(token);
  } else if ((get != nullptr && *get == "crew") || (watch != nullptr && *watch == "crew")) {
    if (watch != nullptr) {
      client.watching = true;
      if (observer_ == 0) observer_ = crew_.observe([this] { crewChanged(); });
    }
    sent = send(client, crewStatusJson(crew_.sessions(), scheduler_.now()));
  } else {
    sent = send(client,
                R"({"error":"unknown request; ask {\"get\":\"crew\"} or {\"watch\":\"crew\"}"})");
  }
  if (!sent) drop(client.fd);
}

bool StatusServer::send(Client& client, const std::string& document) {
  std::string line = document;
  line += '\n';
  const ssize_t sent = ::send(client.fd, line.data(), line.size(), MSG_NOSIGNAL);
  return sent == static_cast<ssize_t>(line.size());
}

void StatusServer::drop(int fd) {
  const auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  scheduler_.unwatch(it->second.watch);
  ::close(fd);
  clients_.erase(it);
  const bool anyWatching = std::any_of(clients_.begin(), clients_.end(),
                                       [](const auto& each) { return each.second.watching; });
  if (!anyWatching && observer_ != 0) {
    crew_.unobserve(observer_);
    observer_ = 0;
  }
}

void StatusServer::crewChanged() {
  if (pendingSend_ != 0) return;
  pendingSend_ = scheduler_.after(kWatchSpacing, [this] {
    pendingSend_ = 0;
    sendToWatchers();
  });
}

void StatusServer::sendToWatchers() {
  const std::string document = crewStatusJson(crew_.sessions(), scheduler_.now());
  std::vector<int> gone;
  for (auto& [fd, client] : clients_) {
    if (client.watching && !send(client, document)) gone.push_back(fd);
  }
  for (int fd : gone) drop(fd);
}

bool askStatusServer(const std::filesystem::path& path, const std::string& request,
                     const std::function<bool(const std::string& line)>& onLine) {
  const int fd = connectUnixSocket(path);
  if (fd < 0) return false;
  const std::string line = request + "\n";
  if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    ::close(fd);
    return false;
  }
  std::string received;
  char buffer[8192];
  for (;;) {
    const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    received.append(buffer, static_cast<std::size_t>(count));
    std::size_t newline;
    while ((newline = received.find('\n')) != std::string::npos) {
      const std::string each = received.substr(0, newline);
      received.erase(0, newline + 1);
      if (!onLine(each)) {
        ::close(fd);
        return true;
      }
    }
  }
  ::close(fd);
  return true;
}

}  // namespace tallyloft
