#include "base/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "base/RuntimeFolder.h"

namespace tallyloft {

std::string LocalAddress::describe() const {
  return isUnix() ? socket.string() : "127.0.0.1:" + std::to_string(port);
}

std::optional<LocalAddress> LocalAddress::parse(std::string_view text) {
  if (text.find('/') != std::string_view::npos) return unixSocket(std::string(text));
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value == 0 || value > 65535) {
    return std::nullopt;
  }
  return tcp(static_cast<std::uint16_t>(value));
}

int connectLocal(const LocalAddress& where, LoopbackOptions options) {
  if (where.isUnix()) return connectUnixSocket(where.socket);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (options.noDelay) {
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(where.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

Received receiveUntilClosed(int fd, std::chrono::milliseconds timeout, std::size_t limit) {
  Received received;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[16384];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      received.timedOut = true;
      return received;
    }
    pollfd poller{fd, POLLIN, 0};
    const int ready = ::poll(&poller, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) {
      received.reset = true;
      return received;
    }
    if (ready <= 0) continue;
    const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count < 0) {
      received.reset = true;
      return received;
    }
    if (count == 0) {
      received.closed = true;
      return received;
    }
    received.bytes.append(buffer, static_cast<std::size_t>(count));
    if (received.bytes.size() > limit) return received;
  }
}

Exchange exchangeLocal(const LocalAddress& address, std::string_view request,
                       std::chrono::milliseconds timeout, LoopbackOptions options) {
  Exchange exchange;
  const int fd = connectLocal(address, options);
  if (fd < 0) return exchange;
  exchange.connected = true;
  if (sendAll(fd, request)) exchange.reply = receiveUntilClosed(fd, timeout);
  ::close(fd);
  return exchange;
}

}  // namespace tallyloft
