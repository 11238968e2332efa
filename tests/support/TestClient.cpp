#include "support/TestClient.h"

#include "base/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tallyloft::test {

TestClient::TestClient(const LocalAddress& address) : fd_(connectLocal(address)) {}

TestClient::~TestClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool TestClient::send(std::string_view bytes) {
  return sendAll(fd_, bytes);
}

void TestClient::shutdownSend() {
  ::shutdown(fd_, SHUT_WR);
}

TestClient::Received TestClient::receive(std::chrono::milliseconds timeout) {
  const tallyloft::Received got = receiveUntilClosed(fd_, timeout);
  return {got.bytes, got.closed || got.reset};
}

LoopbackListener::LoopbackListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(fd_, 16);
  socklen_t size = sizeof address;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
  ::close(fd_);
}

SocketFolder::SocketFolder() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "tallyloft-sockets-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) top_ = pattern;
  folder_ = top_ / "tallyloft";
  ::mkdir(folder_.c_str(), 0700);
}

SocketFolder::~SocketFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(top_, ignored);
}

std::string exchange(const LocalAddress& address, std::string_view request) {
  TestClient client(address);
  client.send(request);
  return client.receive().bytes;
}

std::string postRequest(std::string_view body, std::string_view extraHeaders) {
  return "POST /event HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
         std::string(extraHeaders) + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         std::string(body);
}

}  // namespace tallyloft::test
