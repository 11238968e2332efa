#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "crew/HookEngine.h"

namespace tallyloft {

// Adds, detects and removes the app's hooks in the CLIs' settings files (see HookEngine). Keeps
// no state: everything it knows is in those files. Every write is preceded by a timestamped
// backup beside the file and is atomic; a file that is not a JSON object is never written.
// Operations block on file I/O and throw std::exception subclasses whose what() is a text for
// the user (HookInstallerError, SettingsFileError).
struct HookInstaller {
  // Commands containing any of these are the app's own (the second is a legacy name).
  static const std::vector<std::string>& markers();
  // The command every installed hook runs.
  static std::string command();
  // The CLI's event names that get a hook, in order.
  static const std::vector<std::string>& eventNames(HookEngine engine);
  // "*" for Claude Code, ".*" for the others.
  static std::string matcher(HookEngine engine);

  // Installs the hooks for one CLI, replacing the app's older entries and keeping the user's.
  // Returns the backup's location.
  static std::filesystem::path install(HookEngine engine);
  // Installs for every present CLI and returns the message for the user; the first failure is
  // thrown (CLIs done before it stay installed). `backups`, when given, receives each backup.
  static std::string install(std::vector<std::filesystem::path>* backups = nullptr);
  // Removes the app's groups under every event name. Returns the backup's location, or nothing
  // when the file does not exist or has no "hooks" object (then nothing is written).
  static std::optional<std::filesystem::path> uninstall(HookEngine engine);

  // The CLIs whose settings directory exists, in order.
  static std::vector<HookEngine> presentEngines();
  // Whether any CLI's settings file holds one of the app's hook commands.
  static bool isInstalled();
  // Whether this CLI's settings file does; an unreadable or malformed file counts as no.
  static bool isInstalled(HookEngine engine);
};

}  // namespace tallyloft
