#include "base/RuntimeFolder.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tallyloft {
namespace {

std::optional<sockaddr_un> addressOf(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.empty() || text.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return address;
}

}  // namespace

std::filesystem::path homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "/";
}

std::filesystem::path runtimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::filesystem::path(runtime) / "tallyloft";
  // Never a name in a shared folder such as /tmp: the hooks carry this path, and after a reboot
  // anyone could make that name first and listen there.
  return homeDirectory() / ".cache" / "tallyloft-runtime";
}

std::filesystem::path hookSocketPath() {
  return runtimeFolder() / "hook.sock";
}

std::filesystem::path statusSocketPath() {
  return runtimeFolder() / "tallyloft.sock";
}

std::optional<std::string> prepareRuntimeFolder(const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::create_directories(folder.parent_path(), ignored);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return "cannot make " + folder.string() + ": " + std::strerror(errno);
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return folder.string() + " is not a folder";
  }
  if (info.st_uid != ::getuid()) return folder.string() + " belongs to another user";
  if ((info.st_mode & 077) != 0) return folder.string() + " is open to other users";
  return std::nullopt;
}

bool fitsSocketAddress(const std::filesystem::path& path) {
  return addressOf(path).has_value();
}

int connectUnixSocket(const std::filesystem::path& path) {
  const auto address = addressOf(path);
  if (!address) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

bool peerIsThisUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
         peer.uid == ::getuid();
}

std::variant<int, std::string> listenUnixSocket(const std::filesystem::path& path, int backlog) {
  const auto address = addressOf(path);
  if (!address) {
    return "the socket path is too long (at most " +
           std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes): " + path.string();
  }
  if (auto problem = prepareRuntimeFolder(path.parent_path())) return *problem;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode) || info.st_uid != ::getuid()) {
      return path.string() + " exists and is not a socket of this user's";
    }
    // A socket that answers belongs to a running server; one that does not is left over.
    if (const int other = connectUnixSocket(path); other >= 0) {
      ::close(other);
      return "another Tallyloft answers at " + path.string();
    }
    ::unlink(path.c_str());
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::string("no socket: ") + std::strerror(errno);
  // Linux makes the socket's file with the mode of the unbound socket (less the umask), so the
  // file is 0600 from its first moment, without changing the process-wide umask under other
  // threads.
  const bool bound = ::fchmod(fd, 0600) == 0 &&
                     ::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
  if (!bound || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, backlog) != 0) {
    const std::string problem = std::strerror(errno);
    ::close(fd);
    return "cannot listen at " + path.string() + ": " + problem;
  }
  return fd;
}

}  // namespace tallyloft
