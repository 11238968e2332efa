#include "hooks/HookServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "base/RuntimeFolder.h"
#include "hooks/HookServerImpl.h"

namespace tallyloft {
namespace {

static_assert(HookServer::kResponse.size() == 59);

// How long to wait before accepting again when the process is out of descriptors or memory.
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);

// Connections taken per readiness of the listener before other work gets a turn.
constexpr int kAcceptsPerTurn = 64;

bool isResourceShortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

bool isFatalAcceptError(int error) {
  return error == EBADF || error == EINVAL || error == ENOTSOCK || error == EOPNOTSUPP;
}

}  // namespace

void HookServer::Impl::report() {
  Status status;
  status.port = boundPort.load();
  const std::string port = "127.0.0.1:" + std::to_string(status.port);
  if (!socketProblem.empty()) {
    status.text = socketProblem;
  } else if (local && local->acceptor.is_open()) {
    status.running = true;
    status.text = "Listening on " + config.socket->string();
    if (status.port != 0) status.text += " and " + port;
  } else if (tcp && tcp->acceptor.is_open()) {
    status.running = true;
    status.text = "Listening on " + port;
  } else {
    status.text = portProblem.empty() ? "Stopped" : portProblem;
  }
  if (status.running && !portProblem.empty() && config.socket) {
    status.text += "; port " + std::to_string(*config.port) + ": " + portProblem;
  }
  if (owner.onStatus) owner.onStatus(std::move(status));
}

void HookServer::Impl::startOnQueue() {
  if (started) return;
  started = true;
  if (config.socket) {
    auto listening = listenUnixSocket(*config.socket, SOMAXCONN);
    if (auto* problem = std::get_if<std::string>(&listening)) {
      socketProblem = "Failed: " + *problem;
      report();
      return;
    }
    local = std::make_shared<Listener>(io, true, std::string());
    std::error_code error;
    local->acceptor.assign(Stream(AF_UNIX, SOCK_STREAM), std::get<int>(listening), error);
    if (error) {
      ::close(std::get<int>(listening));
      ::unlink(config.socket->c_str());
      socketProblem = "Could not start: " + error.message();
      report();
      return;
    }
    acceptNext(local);
  }
  if (config.port) {
    openPort();
  } else {
    report();
  }
}

void HookServer::Impl::openPort() {
  portProblem.clear();
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    portProblem = "Could not start: " + std::generic_category().message(errno);
    report();
    return;
  }
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(*config.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, SOMAXCONN) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    portProblem = "Failed: " + std::generic_category().message(errno);
    ::close(fd);
    report();
    return;
  }
  tcp = std::make_shared<Listener>(io, false, config.secret);
  std::error_code error;
  tcp->acceptor.assign(Stream(AF_INET, SOCK_STREAM), fd, error);
  if (error) {
    ::close(fd);
    portProblem = "Could not start: " + error.message();
    tcp.reset();
    report();
    return;
  }
  boundPort = ntohs(address.sin_port);
  report();
  acceptNext(tcp);
}

void HookServer::Impl::closePort() {
  if (!tcp) return;
  std::error_code ignored;
  tcp->acceptor.close(ignored);
  tcp->backoff.cancel();
  tcp.reset();
  boundPort = 0;
}

void HookServer::Impl::acceptNext(const std::shared_ptr<Listener>& listener) {
  listener->acceptor.async_wait(
      Acceptor::wait_read, [this, listener](const std::error_code& error) {
        if (error == asio::error::operation_aborted || !listener->acceptor.is_open()) return;
        if (error) {
          (listener->local ? socketProblem : portProblem) = "Failed: " + error.message();
          report();
          return;
        }
        acceptReady(listener);
      });
}

// Takes the peers waiting on a listener. Peers are accepted by hand rather than through asio's
// sockets: most send their whole request before they are taken, and are answered and closed
// without ever being registered for readiness or given a timer.
void HookServer::Impl::acceptReady(const std::shared_ptr<Listener>& listener) {
  for (int taken = 0; taken < kAcceptsPerTurn; ++taken) {
    const int peer = ::accept4(listener->acceptor.native_handle(), nullptr, nullptr,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer >= 0) {
      // A peer that cannot be served (out of memory, a throwing callback) is lost alone: the
      // listener goes on with the next.
      try {
        take(peer, *listener);
      } catch (const std::exception&) {
      }
      continue;
    }
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) {
      acceptNext(listener);
      return;
    }
    if (isFatalAcceptError(error)) {
      (listener->local ? socketProblem : portProblem) =
          "Failed: " + std::generic_category().message(error);
      report();
      return;
    }
    if (isResourceShortage(error)) {
      listener->backoff.expires_after(kAcceptBackoff);
      // Peers may already be waiting, with no new readiness to come: take them, not wait.
      listener->backoff.async_wait([this, listener](const std::error_code& waitError) {
        if (!waitError && listener->acceptor.is_open()) acceptReady(listener);
      });
      return;
    }
    // Otherwise the peer went away before we took it, or a signal came in: go on.
  }
  asio::post(io, [this, listener] {
    if (listener->acceptor.is_open()) acceptReady(listener);
  });
}

void HookServer::Impl::take(int peer, const Listener& listener) {
  // Closed when this returns or throws, unless a socket has taken it over.
  struct Owned {
    int fd;
    ~Owned() {
      if (fd >= 0) ::close(fd);
    }
  } owned{peer};
  // Another user's process may not even be heard: nothing it sent is read.
  if (listener.local && !peerIsThisUser(peer)) {
    ++refusedPeers;
    return;
  }
  // Hands the peer to an asio socket on the server's context.
  const auto adopt = [&]() -> std::optional<Socket> {
    Socket socket(io);
    std::error_code error;
    socket.assign(Stream(listener.local ? AF_UNIX : AF_INET, SOCK_STREAM), owned.fd, error);
    if (error) return std::nullopt;
    owned.fd = -1;
    return socket;
  };
  if (openConnections.load() >= limits.maxConnections) return;
  RequestAssembler& request = firstRequest;
  request.reset();
  const ssize_t count = ::recv(peer, receiveBuffer.data(), receiveBuffer.size(), 0);
  if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return;  // gone
  if (count > 0) {
    const auto size = static_cast<std::size_t>(count);
    if (totalBuffered + size > limits.maxTotalBuffered) return;
    const Parse::Kind kind = request.append(std::string_view(receiveBuffer.data(), size));
    if (kind != Parse::Kind::incomplete) {
      const std::string_view response = answer(request, kind, listener.secret);
      const ssize_t sent = ::send(peer, response.data(), response.size(), MSG_NOSIGNAL);
      if (sent == static_cast<ssize_t>(response.size()) ||
          (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        return;
      }
      // The reply did not fit at once: let a connection send the rest.
      if (auto socket = adopt()) {
        sendRestOfReply(*this, std::move(*socket), response,
                        sent > 0 ? static_cast<std::size_t>(sent) : 0);
      }
      return;
    }
  }
  // The rest of the request is still on its way.
  if (auto socket = adopt()) {
    serveConnection(*this, std::move(*socket), std::move(request), listener.secret);
  }
}

std::string_view HookServer::Impl::answer(const RequestAssembler& request, Parse::Kind kind,
                                          std::string_view secret) {
  if (!secret.empty()) {
    // Over TCP only the secret shows that the peer is one of this user's hooks.
    const auto given = kind == Parse::Kind::complete
                           ? headerValue(request.headerBlock(), "x-tallyloft-secret")
                           : std::nullopt;
    if (!given || !sameSecret(*given, secret)) {
      ++refusedRequests;
      return kUnauthorized;
    }
  }
  if (kind == Parse::Kind::complete) deliver(request);
  return kResponse;
}

void HookServer::Impl::deliver(const RequestAssembler& request) {
  const std::string_view body = request.body();
  if (body.empty()) return;
  // Browsers attach Origin to cross-site requests; the hook command never sends it.
  if (hasHeaderField(request.headerBlock(), "origin")) return;
  if (auto event = HookEvent::decode(body)) {
    // The hook command's hints about the CLI's process and terminal; anything malformed is
    // dropped here.
    const std::string_view headers = request.headerBlock();
    if (auto pid = headerValue(headers, "x-tallyloft-pid")) event->pid = parsePidHint(*pid);
    if (auto term = headerValue(headers, "x-tallyloft-term")) {
      event->terminal = TerminalHints::parse(*term);
    }
    if (owner.onEvent) owner.onEvent(std::move(*event));
  }
}

void HookServer::Impl::stopOnQueue() {
  const bool open = (local && local->acceptor.is_open()) || tcp;
  if (!open) return;
  std::error_code ignored;
  if (local && local->acceptor.is_open()) {
    local->acceptor.close(ignored);
    ::unlink(config.socket->c_str());
  }
  closePort();
  if (local) local->backoff.cancel();
  socketProblem = portProblem = {};
  report();
}

HookServer::HookServer(HookListen listen, Limits limits)
    : socket_(listen.socket.value_or(std::filesystem::path())),
      impl_(std::make_unique<Impl>(*this, std::move(listen), limits)) {}

HookServer::~HookServer() {
  impl_->work.reset();
  impl_->io.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
  // The socket's name goes with the server, so that nothing is left for a hook to find.
  if (impl_->local && impl_->local->acceptor.is_open()) ::unlink(socket_.c_str());
}

void HookServer::start() {
  if (!impl_->thread.joinable()) {
    impl_->work.emplace(impl_->io.get_executor());
    impl_->thread = std::thread([impl = impl_.get()] {
      // A handler that throws (out of memory, a throwing callback) loses its connection, which
      // its released handler closes; the server goes on.
      for (;;) {
        try {
          impl->io.run();
          return;
        } catch (const std::exception&) {
        }
      }
    });
  }
  asio::post(impl_->io, [impl = impl_.get()] { impl->startOnQueue(); });
}

void HookServer::stop() {
  asio::post(impl_->io, [impl = impl_.get()] { impl->stopOnQueue(); });
}

void HookServer::setPort(std::optional<std::uint16_t> port, std::string secret) {
  asio::post(impl_->io, [impl = impl_.get(), port, secret = std::move(secret)]() mutable {
    if (!impl->started) return;
    // The same port open already: only what it asks of requests changes, with no moment in
    // which the port is free for anyone else to take.
    if (port == impl->config.port && impl->tcp) {
      impl->config.secret = secret;
      impl->tcp->secret = std::move(secret);
      return;
    }
    if (!port && !impl->config.port) return;
    impl->closePort();
    impl->config.port = port;
    impl->config.secret = std::move(secret);
    impl->portProblem.clear();
    if (port) {
      impl->openPort();
    } else {
      impl->report();
    }
  });
}

std::uint16_t HookServer::boundPort() const {
  return impl_->boundPort.load();
}

std::size_t HookServer::openConnections() const {
  return impl_->openConnections.load();
}

std::size_t HookServer::bufferedBytes() const {
  return impl_->totalBuffered.load();
}

std::size_t HookServer::refusedPeers() const {
  return impl_->refusedPeers.load();
}

std::size_t HookServer::refusedRequests() const {
  return impl_->refusedRequests.load();
}

bool sameSecret(std::string_view given, std::string_view expected) {
  // Every byte of the expected secret is looked at, whatever the given one holds.
  unsigned difference = given.size() == expected.size() ? 0U : 1U;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char other = i < given.size() ? given[i] : '\0';
    difference |= static_cast<unsigned char>(other ^ expected[i]);
  }
  return difference == 0;
}

}  // namespace tallyloft
