#include "hooks/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "hooks/HookCommand.h"

namespace tallyloft {
namespace {

namespace fs = std::filesystem;

std::string failure(const std::string& what, const fs::path& path, int error) {
  return what + " " + path.string() + ": " + std::strerror(error);
}

// Follows symbolic links to the file they finally name (which may not exist yet).
fs::path resolveLinks(fs::path path) {
  std::error_code error;
  for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(path, error)); ++hop) {
    const fs::path target = fs::read_symlink(path, error);
    if (error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

std::string readWhole(const fs::path& path) {
  // Without blocking: a FIFO or a device where a settings file should be must not hang us.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) throw SettingsFileError(failure("Could not read", path, errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw SettingsFileError("Could not read " + path.string() + ": not a regular file");
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      const int error = errno;
      ::close(fd);
      throw SettingsFileError(failure("Could not read", path, error));
    }
    if (count == 0) break;
    text.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  return text;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

// The mode a new file gets: 0666 less the umask, read without changing it (other threads may be
// creating files meanwhile).
mode_t defaultFileMode() {
  mode_t mask = 022;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0)
      mask = static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 0666 & ~mask;
}

// Fills the new file `fd` at `path` with `bytes` and exactly `mode` (and the owner of `owner`
// when we may set it), then closes it. On failure the file is removed and the error thrown.
void fillNewFile(int fd, const fs::path& path, std::string_view bytes, mode_t mode,
                 const struct stat* owner, const char* what) {
  int error = 0;
  if (owner != nullptr && (owner->st_uid != ::geteuid() || owner->st_gid != ::getegid())) {
    [[maybe_unused]] int ignored = ::fchown(fd, owner->st_uid, owner->st_gid);
  }
  if (::fchmod(fd, mode) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(path.c_str());
    throw SettingsFileError(failure(what, path, error));
  }
}

std::string stripParserPrefix(std::string text) {
  // "[json.exception.parse_error.101] parse error at line 1, …" → "parse error at line 1, …"
  if (!text.empty() && text.front() == '[') {
    const auto end = text.find("] ");
    if (end != std::string::npos) text.erase(0, end + 2);
  }
  return text;
}

}  // namespace

HookInstallerError HookInstallerError::malformedSettings(const fs::path& path) {
  return HookInstallerError(path.string() +
                            " isn't valid JSON. Fix or remove it first \u2014 your file was left "
                            "untouched.");
}

nlohmann::json loadSettingsForWrite(const fs::path& path, SettingsText* read) {
  std::error_code error;
  if (read != nullptr) read->reset();
  if (!fs::exists(path, error)) return nlohmann::json::object();
  const std::string text = readWhole(path);
  if (read != nullptr) *read = text;
  if (text.empty()) return nlohmann::json::object();
  nlohmann::json settings;
  try {
    settings = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& parseError) {
    throw SettingsFileError(path.string() + ": " + stripParserPrefix(parseError.what()));
  }
  if (settings.is_array()) throw HookInstallerError::malformedSettings(path);
  if (!settings.is_object()) {
    throw SettingsFileError(path.string() + ": JSON text did not start with an array or object");
  }
  return settings;
}

void writeSettings(const nlohmann::json& settings, const fs::path& path,
                   const SettingsText* unchangedFrom) {
  const fs::path target = resolveLinks(path);
  std::error_code error;
  fs::create_directories(target.parent_path(), error);
  if (error)
    throw SettingsFileError(failure("Could not create", target.parent_path(), error.value()));

  // nlohmann keeps object keys sorted, so the output is stable from one write to the next.
  const std::string text =
      settings.dump(2, ' ', false, nlohmann::json::error_handler_t::strict) + "\n";

  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  const mode_t mode = exists ? (existing.st_mode & 07777) : defaultFileMode();

  std::string temporary = (target.parent_path() / ("." + target.filename().string() + "." +
                                                   std::string(kHookMarker) + "-tmp-XXXXXX"))
                              .string();
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) throw SettingsFileError(failure("Could not write", target, errno));
  fillNewFile(fd, temporary, text, mode, exists ? &existing : nullptr, "Could not write");
  if (unchangedFrom != nullptr) {
    // Checked as late as can be: right before the new file takes the old one's place.
    std::error_code missing;
    SettingsText now;
    try {
      if (fs::exists(target, missing)) now = readWhole(target);
    } catch (const SettingsFileError&) {
      now = std::string("\0unreadable", 11);
    }
    if (now != *unchangedFrom) {
      ::unlink(temporary.c_str());
      throw SettingsFileError(path.string() +
                              " was changed by another program while Tallyloft was updating it; "
                              "nothing was written. Try again.");
    }
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int renameError = errno;
    ::unlink(temporary.c_str());
    throw SettingsFileError(failure("Could not write", target, renameError));
  }
  if (const int directory =
          ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
}

std::string backupName(const fs::path& path, std::chrono::system_clock::time_point now) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H-%M-%SZ", &utc);
  return path.filename().string() + "." + std::string(kHookMarker) + "-bak-" + stamp;
}

std::optional<fs::path> writeBackup(const fs::path& path,
                                    std::chrono::system_clock::time_point now) {
  std::optional<fs::path> backup;
  struct stat source {};
  if (::stat(path.c_str(), &source) == 0) {
    backup = path.parent_path() / backupName(path, now);
    std::error_code ignored;
    fs::remove(*backup, ignored);
    const std::string content = readWhole(path);
    const int fd = ::open(backup->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw SettingsFileError(failure("Could not back up to", *backup, errno));
    fillNewFile(fd, *backup, content, source.st_mode & 07777, &source, "Could not back up to");
  }
  pruneBackups(path, 10);
  return backup;
}

void pruneBackups(const fs::path& path, std::size_t keeping) {
  const std::string prefix = path.filename().string() + "." + std::string(kHookMarker) + "-bak-";
  struct Backup {
    fs::path path;
    std::optional<fs::file_time_type> modified;
  };
  std::vector<Backup> backups;
  std::error_code error;
  for (fs::directory_iterator it(path.parent_path(), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    std::error_code timeError;
    const auto modified = it->last_write_time(timeError);
    backups.push_back({it->path(), timeError ? std::nullopt : std::optional(modified)});
  }
  std::stable_sort(backups.begin(), backups.end(), [](const Backup& a, const Backup& b) {
    if (!b.modified) return a.modified.has_value();
    return a.modified && *a.modified > *b.modified;
  });
  for (std::size_t i = keeping; i < backups.size(); ++i) {
    std::error_code ignored;
    fs::remove(backups[i].path, ignored);
  }
}

}  // namespace tallyloft
