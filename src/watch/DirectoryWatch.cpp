#include "watch/DirectoryWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace tallyloft {
namespace {

constexpr std::uint32_t kEntryEvents = IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM |
                                       IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kParentEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;

}  // namespace

DirectoryWatch::DirectoryWatch(Scheduler& scheduler, std::filesystem::path directory,
                               Handler onChange)
    : scheduler_(scheduler), directory_(std::move(directory)), onChange_(std::move(onChange)) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return;  // no inotify to be had: nothing is watched
  arm();
  watch_ = scheduler_.watchReadable(fd_, [this] { readEvents(); });
}

DirectoryWatch::~DirectoryWatch() {
  if (watch_ != 0) scheduler_.unwatch(watch_);
  if (fd_ >= 0) ::close(fd_);
}

void DirectoryWatch::arm() {
  if (directoryWatch_ >= 0) return;
  directoryWatch_ = ::inotify_add_watch(fd_, directory_.c_str(), kEntryEvents);
  if (directoryWatch_ >= 0) {
    if (parentWatch_ >= 0) ::inotify_rm_watch(fd_, parentWatch_);
    parentWatch_ = -1;
    return;
  }
  if (parentWatch_ < 0) {
    parentWatch_ = ::inotify_add_watch(fd_, directory_.parent_path().c_str(), kParentEvents);
  }
}

void DirectoryWatch::readEvents() {
  alignas(inotify_event) std::array<char, 8192> buffer{};
  const std::string ownName = directory_.filename();
  bool appeared = false;
  bool vanished = false;
  for (;;) {
    const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
    if (count <= 0) break;  // EAGAIN: all read
    for (ssize_t at = 0; at < count;) {
      inotify_event event{};
      std::memcpy(&event, buffer.data() + at, sizeof event);
      const char* namePointer = buffer.data() + at + sizeof(inotify_event);
      const std::string name = event.len > 0 ? std::string(namePointer) : std::string();
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      if (event.wd == parentWatch_ && name == ownName) {
        appeared = true;
      } else if (event.wd == directoryWatch_) {
        if ((event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) {
          vanished = true;
        } else if (!name.empty()) {
          onChange_(name, (event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0);
        }
      }
    }
  }
  if (vanished) {
    if (directoryWatch_ >= 0) ::inotify_rm_watch(fd_, directoryWatch_);
    directoryWatch_ = -1;
    arm();
    if (watching()) appeared = true;  // replaced at once
  }
  if (appeared) {
    arm();
    if (watching()) onChange_("", false);
  }
}

}  // namespace tallyloft
