// The machine's floor for this protocol: one thread, epoll, read up to the end of the announced
// body, write the fixed reply, close. No JSON at all.
// Usage: floor_server PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

namespace {

constexpr char kReply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";

// True once `buffer` holds the header block and the body it announces.
bool requestComplete(const std::string& buffer) {
  const auto end = buffer.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  std::size_t length = 0;
  const auto at = buffer.find("Content-Length:");
  if (at != std::string::npos && at < end)
    length = std::strtoul(buffer.c_str() + at + 15, nullptr, 10);
  return buffer.size() >= end + 4 + length;
}

}  // namespace

int main(int argc, char** argv) {
  const int port = argc > 1 ? std::atoi(argv[1]) : 51791;
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  const int yes = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, SOMAXCONN) != 0) {
    std::perror("floor_server");
    return 1;
  }
  const int poller = ::epoll_create1(0);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = listener;
  ::epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event);
  std::unordered_map<int, std::string> buffers;
  epoll_event ready[256];
  char chunk[65536];
  std::fprintf(stderr, "floor listening on %d\n", port);
  for (;;) {
    const int count = ::epoll_wait(poller, ready, 256, -1);
    for (int i = 0; i < count; ++i) {
      const int fd = ready[i].data.fd;
      if (fd == listener) {
        for (;;) {
          const int client = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
          if (client < 0) break;
          epoll_event clientEvent{};
          clientEvent.events = EPOLLIN;
          clientEvent.data.fd = client;
          ::epoll_ctl(poller, EPOLL_CTL_ADD, client, &clientEvent);
          buffers[client];
        }
        continue;
      }
      std::string& buffer = buffers[fd];
      bool done = false;
      for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
          buffer.append(chunk, static_cast<std::size_t>(got));
          continue;
        }
        if (got == 0) done = true;
        break;
      }
      if (requestComplete(buffer)) {
        [[maybe_unused]] ssize_t sent = ::write(fd, kReply, sizeof kReply - 1);
        done = true;
      }
      if (done) {
        ::close(fd);
        buffers.erase(fd);
      }
    }
  }
}
