#include "soak/IdleHolder.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "soak/Traffic.h"

namespace tallyloft::soak {

void IdleHolder::start() {
  for (int i = 0; i < count_; ++i) fds_.push_back(connectTo(address_));
  thread_ = std::thread([this] { run(); });
}

void IdleHolder::stop() {
  stop_ = true;
  thread_.join();
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

void IdleHolder::run() {
  std::vector<pollfd> polls(fds_.size());
  while (!stop_) {
    int open = 0;
    for (std::size_t i = 0; i < fds_.size(); ++i) {
      if (fds_[i] < 0) {
        fds_[i] = connectTo(address_);
        if (fds_[i] < 0) ++refused_;
      }
      polls[i] = {fds_[i], POLLIN, 0};
      if (fds_[i] >= 0) ++open;
    }
    open_ = open;
    if (open < fewest_) fewest_ = open;
    if (::poll(polls.data(), polls.size(), 100) <= 0) continue;
    for (std::size_t i = 0; i < fds_.size(); ++i) {
      if (polls[i].fd < 0 || polls[i].revents == 0) continue;
      char byte[64];
      const ssize_t got = ::recv(fds_[i], byte, sizeof byte, MSG_DONTWAIT);
      if (got > 0) ++answered_;  // the server must never answer a connection that sent nothing
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      ::close(fds_[i]);
      fds_[i] = -1;
      ++reopened_;
    }
  }
}

}  // namespace tallyloft::soak
