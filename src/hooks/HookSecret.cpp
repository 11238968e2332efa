#include "hooks/HookSecret.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/RuntimeFolder.h"

namespace tallyloft {
namespace {

constexpr std::size_t kSecretBytes = 32;

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::string freshSecret() {
  std::array<unsigned char, kSecretBytes> bytes{};
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail("no random bytes for the hook secret");
    filled += static_cast<std::size_t>(got);
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string secret;
  for (const unsigned char byte : bytes) {
    secret += kDigits[byte >> 4];
    secret += kDigits[byte & 15];
  }
  return secret;
}

// The secret in a file's text, or "" when the text is not one header line of ours.
std::string secretIn(const std::string& text) {
  const std::string prefix = HookSecret::headerLine("");
  const std::string_view line(text);
  if (line.substr(0, prefix.size() - 1) != std::string_view(prefix).substr(0, prefix.size() - 1)) {
    return {};
  }
  std::string secret(line.substr(prefix.size() - 1));
  while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r')) secret.pop_back();
  if (secret.size() != 2 * kSecretBytes ||
      secret.find_first_not_of("0123456789abcdef") != std::string::npos) {
    return {};
  }
  return secret;
}

}  // namespace

std::filesystem::path HookSecret::path() {
  return homeDirectory() / ".config" / "tallyloft" / "hook-secret";
}

std::string HookSecret::headerLine(const std::string& secret) {
  return "X-Tallyloft-Secret: " + secret + "\n";
}

std::string HookSecret::load() {
  const std::filesystem::path file = path();
  const std::filesystem::path folder = file.parent_path();
  std::error_code ignored;
  std::filesystem::create_directories(folder.parent_path(), ignored);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) fail("cannot make " + folder.string());
  // Made with its final mode, or opened without following a link.
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    const std::string line = headerLine(freshSecret());
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    if (!written) {
      ::unlink(file.c_str());
      fail("cannot write " + file.string());
    }
  } else if (errno != EEXIST) {
    fail("cannot make " + file.string());
  }
  fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) fail("cannot read " + file.string());
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid() ||
      (info.st_mode & 077) != 0) {
    ::close(fd);
    throw std::runtime_error(file.string() +
                             " is not this user's alone (it must be a file of mode 0600)");
  }
  std::string text(256, '\0');
  const ssize_t count = ::read(fd, text.data(), text.size());
  ::close(fd);
  text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  std::string secret = secretIn(text);
  if (secret.empty()) {
    throw std::runtime_error(file.string() +
                             " does not hold a hook secret; remove it and a new one is made");
  }
  return secret;
}

}  // namespace tallyloft
