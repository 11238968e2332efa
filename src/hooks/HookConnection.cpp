#include <cerrno>

#include "hooks/HookServerImpl.h"

namespace tallyloft {
namespace {

using Clock = std::chrono::steady_clock;

// One accepted peer: buffers its request, answers it and closes. Kept alive by the pending
// asynchronous operation that holds it.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // `request` holds what the peer has sent so far.
  Connection(HookServer::Impl& server, Socket socket, RequestAssembler request,
             std::string secret = {})
      : server_(server),
        socket_(std::move(socket)),
        idle_(socket_.get_executor()),
        request_(std::move(request)),
        secret_(std::move(secret)) {
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
        socket_.async_wait(Socket::wait_read,
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
      case Parse::Kind::complete:
        reply(server_.answer(request_, kind, secret_));
        return false;
    }
    return false;
  }

 public:
  // Sends `response` (one of the fixed replies) from byte `sent` on, then closes.
  void reply(std::string_view response, std::size_t sent = 0) {
    finished_ = true;
    idle_.cancel();
    asio::async_write(socket_, asio::buffer(response.data() + sent, response.size() - sent),
                      [self = shared_from_this()](const std::error_code&, std::size_t) {
                        self->socket_.shutdown(Socket::shutdown_send, self->ignored_);
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
  Socket socket_;
  asio::steady_timer idle_;
  RequestAssembler request_;
  std::string secret_;
  Clock::time_point lastByte_;
  bool finished_ = false;
  std::error_code ignored_;
};

}  // namespace

void serveConnection(HookServer::Impl& server, Socket socket, RequestAssembler request,
                     std::string secret) {
  std::make_shared<Connection>(server, std::move(socket), std::move(request), std::move(secret))
      ->start();
}

void sendRestOfReply(HookServer::Impl& server, Socket socket, std::string_view response,
                     std::size_t sent) {
  std::make_shared<Connection>(server, std::move(socket), RequestAssembler{})
      ->reply(response, sent);
}

}  // namespace tallyloft
