#include "watch/ClaudeSessionsWatch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "hooks/HookEngine.h"

namespace tallyloft {
namespace {

// A small regular file's text; nothing when it is missing, not regular or too large.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> text;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<std::size_t>(info.st_size) <= limit) {
    std::string buffer(limit + 1, '\0');
    std::size_t filled = 0;
    for (;;) {
      const ssize_t count = ::read(fd, buffer.data() + filled, buffer.size() - filled);
      if (count <= 0) break;
      filled += static_cast<std::size_t>(count);
      if (filled == buffer.size()) break;
    }
    if (filled <= limit) {
      buffer.resize(filled);
      text = std::move(buffer);
    }
  }
  ::close(fd);
  return text;
}

bool isSessionFileName(const std::string& name) {
  return name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0 && name[0] != '.';
}

}  // namespace

ClaudeSessionsWatch::ClaudeSessionsWatch(Scheduler& scheduler, CrewModel& crew,
                                         std::filesystem::path directory)
    : crew_(crew), watch_(scheduler, std::move(directory), [this](const std::string& name, bool) {
        changed(name);
      }) {
  changed("");
}

std::filesystem::path ClaudeSessionsWatch::defaultDirectory() {
  return homeDirectory() / ".claude" / "sessions";
}

void ClaudeSessionsWatch::changed(const std::string& name) {
  if (!name.empty()) {
    if (isSessionFileName(name)) look(name);
    return;
  }
  // The directory (re)appeared: every file is new to us.
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(watch_.directory(), error)) {
    const std::string each = entry.path().filename();
    if (isSessionFileName(each)) look(each);
  }
}

void ClaudeSessionsWatch::look(const std::string& name) {
  const auto text = readSmallFile(watch_.directory() / name, kMaxFileBytes);
  if (!text) {
    const auto known = known_.find(name);
    if (known == known_.end()) return;
    // Deleted (or no longer readable): the CLI has left, cleanly or not.
    const ClaudeSessionFile lastKnown = std::move(known->second);
    known_.erase(known);
    crew_.claudeSessionRemoved(lastKnown);
    return;
  }
  const auto file = ClaudeSessionFile::parse(*text);
  if (!file) return;  // half written: the write's end brings another change
  known_[name] = *file;
  crew_.claudeSessionChanged(*file);
}

}  // namespace tallyloft
