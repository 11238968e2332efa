#include "hooks/HookServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <asio.hpp>
#include <atomic>
#include <cerrno>
#include <optional>
#include <thread>

#include "hooks/RequestParser.h"

namespace tallyloft {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

static_assert(HookServer::kResponse.size() == 59);

constexpr std::size_t kReceiveSize = 65'536;

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

struct HookServer::Impl {
  // Counters shared by the connections. Declared before the io_context so that connections
  // released while it is destroyed can still count themselves out.
  std::atomic<std::size_t> openConnections{0};
  std::atomic<std::size_t> totalBuffered{0};  // written on the server's thread only
  std::atomic<std::uint16_t> boundPort{0};

  HookServer& owner;
  Limits limits;
  std::array<char, kReceiveSize> receiveBuffer{};  // one receive at a time on this thread
  RequestAssembler firstRequest;                   // the first receive of each new peer
  asio::io_context io{1};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
  std::optional<tcp::acceptor> acceptor;
  asio::steady_timer acceptBackoff{io};
  std::thread thread;

  Impl(HookServer& server, Limits serverLimits) : owner(server), limits(serverLimits) {}

  void report(bool running, std::string text) {
    if (owner.onStatus) owner.onStatus(running, std::move(text));
  }

  void startOnQueue();
  void acceptNext();
  void acceptReady();
  void take(int peer);
  void deliver(const RequestAssembler& request);
  void stopOnQueue();
};

namespace {

// One accepted peer: buffers its request, answers it and closes. Kept alive by the pending
// asynchronous operation that holds it.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // `request` holds what the peer has sent so far.
  Connection(HookServer::Impl& server, tcp::socket socket, RequestAssembler request)
      : server_(server),
        socket_(std::move(socket)),
        idle_(socket_.get_executor()),
        request_(std::move(request)) {
    ++server_.openConnections;
    server_.totalBuffered += request_.bufferedBytes();
  }

  ~Connection() {
    server_.totalBuffered -= request_.bufferedBytes();
    --server_.openConnections;
  }

  void start() {
    socket_.non_blocking(true, ignored_);
    lastByte_ = Clock::now();
    armIdleTimer(server_.limits.idleTimeout);
    receive();
  }

 private:
  void armIdleTimer(Clock::duration wait) {
    idle_.expires_after(wait);
    idle_.async_wait([self = shared_from_this()](const std::error_code& error) {
      if (error || self->finished_) return;
      const auto quiet = Clock::now() - self->lastByte_;
      if (quiet >= self->server_.limits.idleTimeout) {
        self->close();
      } else {
        self->armIdleTimer(self->server_.limits.idleTimeout - quiet);
      }
    });
  }

  // Reads what the socket has, one receive at a time, and waits for more when it has nothing.
  void receive() {
    for (;;) {
      if (finished_) return;
      std::error_code error;
      const std::size_t count = socket_.read_some(asio::buffer(server_.receiveBuffer), error);
      if (error == asio::error::would_block) {
        socket_.async_wait(tcp::socket::wait_read,
                           [self = shared_from_this()](const std::error_code& waitError) {
                             if (waitError) {
                               self->close();
                             } else {
                               self->receive();
                             }
                           });
        return;
      }
      // A receive that cannot be taken (out of memory, a throwing callback) loses this
      // connection alone, at once rather than at its idle timeout.
      bool more = false;
      try {
        more = handle(std::string_view(server_.receiveBuffer.data(), count), error);
      } catch (...) {
        close();
        return;
      }
      if (!more) return;
    }
  }

  // Takes one receive. Returns whether to keep reading.
  bool handle(std::string_view bytes, const std::error_code& error) {
    if (!bytes.empty()) {
      if (server_.totalBuffered + bytes.size() > server_.limits.maxTotalBuffered) {
        close();
        return false;
      }
      lastByte_ = Clock::now();
    }
    // Counted once the bytes are in: an append that throws (out of memory) has added nothing,
    // and the connection's release gives back exactly what it holds.
    const std::size_t before = request_.bufferedBytes();
    const Parse::Kind kind = request_.append(bytes);
    server_.totalBuffered += request_.bufferedBytes() - before;
    switch (kind) {
      case Parse::Kind::incomplete:
        if (error || request_.bufferedBytes() > kMaxBufferedBytes) {
          close();
          return false;
        }
        return true;
      case Parse::Kind::malformed:
        reply();
        return false;
      case Parse::Kind::complete:
        server_.deliver(request_);
        reply();
        return false;
    }
    return false;
  }

 public:
  // Sends the reply from byte `sent` on, then closes.
  void reply(std::size_t sent = 0) {
    finished_ = true;
    idle_.cancel();
    asio::async_write(
        socket_,
        asio::buffer(HookServer::kResponse.data() + sent, HookServer::kResponse.size() - sent),
        [self = shared_from_this()](const std::error_code&, std::size_t) {
          self->socket_.shutdown(tcp::socket::shutdown_send, self->ignored_);
          self->socket_.close(self->ignored_);
        });
  }

 private:
  void close() {
    finished_ = true;
    idle_.cancel();
    socket_.close(ignored_);
  }

  HookServer::Impl& server_;
  tcp::socket socket_;
  asio::steady_timer idle_;
  RequestAssembler request_;
  Clock::time_point lastByte_;
  bool finished_ = false;
  std::error_code ignored_;
};

}  // namespace

void HookServer::Impl::startOnQueue() {
  if (acceptor) return;
  tcp::acceptor listener(io);
  std::error_code error;
  listener.open(tcp::v4(), error);
  if (error) {
    report(false, "Could not start: " + error.message());
    return;
  }
  acceptor.emplace(std::move(listener));
  acceptor->set_option(asio::socket_base::reuse_address(true), error);
  if (!error)
    acceptor->bind(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), owner.port_), error);
  if (!error) acceptor->listen(asio::socket_base::max_listen_connections, error);
  if (!error) acceptor->non_blocking(true, error);
  if (error) {
    report(false, "Failed: " + error.message());
    return;
  }
  boundPort = acceptor->local_endpoint(error).port();
  report(true, "Listening on 127.0.0.1:" + std::to_string(boundPort.load()));
  acceptNext();
}

void HookServer::Impl::acceptNext() {
  acceptor->async_wait(tcp::acceptor::wait_read, [this](const std::error_code& error) {
    if (error == asio::error::operation_aborted || !acceptor->is_open()) return;
    if (error) {
      report(false, "Failed: " + error.message());
      return;
    }
    acceptReady();
  });
}

// Takes the peers waiting on the listener. Peers are accepted by hand rather than through
// asio's sockets: most send their whole request before they are taken, and are answered and
// closed without ever being registered for readiness or given a timer.
void HookServer::Impl::acceptReady() {
  for (int taken = 0; taken < kAcceptsPerTurn; ++taken) {
    const int peer =
        ::accept4(acceptor->native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer >= 0) {
      // A peer that cannot be served (out of memory, a throwing callback) is lost alone: the
      // listener goes on with the next.
      try {
        take(peer);
      } catch (...) {
      }
      continue;
    }
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) {
      acceptNext();
      return;
    }
    if (isFatalAcceptError(error)) {
      report(false, "Failed: " + std::generic_category().message(error));
      return;
    }
    if (isResourceShortage(error)) {
      acceptBackoff.expires_after(kAcceptBackoff);
      // Peers may already be waiting, with no new readiness to come: take them, not wait.
      acceptBackoff.async_wait([this](const std::error_code& waitError) {
        if (!waitError && acceptor->is_open()) acceptReady();
      });
      return;
    }
    // Otherwise the peer went away before we took it, or a signal came in: go on.
  }
  asio::post(io, [this] {
    if (acceptor->is_open()) acceptReady();
  });
}

void HookServer::Impl::take(int peer) {
  // Closed when this returns or throws, unless a socket has taken it over.
  struct Owned {
    int fd;
    ~Owned() {
      if (fd >= 0) ::close(fd);
    }
  } owned{peer};
  // Hands the peer to an asio socket on the server's context.
  const auto adopt = [&]() -> std::optional<tcp::socket> {
    tcp::socket socket(io);
    std::error_code error;
    socket.assign(tcp::v4(), owned.fd, error);
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
      if (kind == Parse::Kind::complete) deliver(request);
      const ssize_t sent =
          ::send(peer, HookServer::kResponse.data(), HookServer::kResponse.size(), MSG_NOSIGNAL);
      if (sent == static_cast<ssize_t>(HookServer::kResponse.size()) ||
          (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        return;
      }
      // The reply did not fit at once: let a connection send the rest.
      if (auto socket = adopt()) {
        std::make_shared<Connection>(*this, std::move(*socket), RequestAssembler{})
            ->reply(sent > 0 ? static_cast<std::size_t>(sent) : 0);
      }
      return;
    }
  }
  // The rest of the request is still on its way.
  if (auto socket = adopt()) {
    std::make_shared<Connection>(*this, std::move(*socket), std::move(request))->start();
  }
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
  if (!acceptor || !acceptor->is_open()) return;
  std::error_code ignored;
  acceptor->close(ignored);
  acceptBackoff.cancel();
  boundPort = 0;
  report(false, "Stopped");
}

HookServer::HookServer(std::uint16_t port, Limits limits)
    : port_(port), impl_(std::make_unique<Impl>(*this, limits)) {}

HookServer::~HookServer() {
  impl_->work.reset();
  impl_->io.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
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
        } catch (...) {
        }
      }
    });
  }
  asio::post(impl_->io, [impl = impl_.get()] { impl->startOnQueue(); });
}

void HookServer::stop() {
  asio::post(impl_->io, [impl = impl_.get()] { impl->stopOnQueue(); });
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

}  // namespace tallyloft
