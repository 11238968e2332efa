#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <stdexcept>
#include <string>

namespace tallyloft {

// Safe reading and writing of a CLI's settings file, and the backups taken before each write.
// These files belong to the user: every operation either completes or leaves the file as it was,
// and reports what went wrong as an exception whose what() is a text for the user.

// The settings file exists and is JSON, but its top level is not an object.
class HookInstallerError : public std::runtime_error {
 public:
  static HookInstallerError malformedSettings(const std::filesystem::path& path);

 private:
  using std::runtime_error::runtime_error;
};

// Reading, parsing, copying or writing failed; what() names the file and the cause.
class SettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a settings file held when it was read: nothing when there was no file.
using SettingsText = std::optional<std::string>;

// The file as a JSON object: an absent or empty file is an empty object. Throws
// SettingsFileError when it cannot be read or is not JSON (a bare scalar counts as not JSON), and
// HookInstallerError when its top level is a list. `read`, when given, receives what was read.
nlohmann::json loadSettingsForWrite(const std::filesystem::path& path,
                                    SettingsText* read = nullptr);

// Writes `settings` pretty-printed with sorted keys. The parent directory is created when
// missing. The write is atomic (a temporary file beside the target, renamed over it): on failure
// the old file is intact and no temporary file remains. A symbolic link is kept and its target
// replaced; the file keeps its permission bits (and owner, when we may set it). With
// `unchangedFrom`, nothing is written (SettingsFileError) when the file no longer holds what was
// read then: another program changed it meanwhile, and its change must not be lost.
void writeSettings(const nlohmann::json& settings, const std::filesystem::path& path,
                   const SettingsText* unchangedFrom = nullptr);

// "settings.json.tallyloft-bak-2026-12-05T19-07-13Z" for `path` at `now` (UTC).
std::string backupName(const std::filesystem::path& path,
                       std::chrono::system_clock::time_point now);

// Copies the file at `path` (when there is one) to its backup beside it, replacing a backup of
// the same name, with the same permission bits; then keeps only the 10 newest backups. Returns
// the backup's location, or nothing when there was no file to copy. Throws SettingsFileError
// when the copy fails.
std::optional<std::filesystem::path> writeBackup(
    const std::filesystem::path& path,
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// Deletes all but the `keeping` newest backups of `path` by modification time; a backup whose
// time cannot be read counts as oldest. Never throws.
void pruneBackups(const std::filesystem::path& path, std::size_t keeping);

}  // namespace tallyloft
