#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hooks/HookCommand.h"
#include "hooks/HookEngine.h"

namespace tallyloft {

// Adds, detects and removes the app's hooks in the CLIs' settings files (see HookEngine). Keeps
// no state: everything it knows is in those files. Every write is preceded by a timestamped
// backup beside the file and is atomic; a file that is not a JSON object is never written.
// Operations block on file I/O and throw std::exception subclasses whose what() is a text for
// the user (HookInstallerError, SettingsFileError).
struct HookInstaller {
  // Commands containing any of these are the app's own (the second is a legacy name).
  static const std::vector<std::string>& markers();
  // Where installed hooks post unless told otherwise: this user's hook socket.
  static HookTarget defaultTarget();
  // The command every hook installed for `target` runs.
  static std::string command(const HookTarget& target = defaultTarget());
  // The CLI's event names that get a hook, in order.
  static const std::vector<std::string>& eventNames(HookEngine engine);
  // "*" for Claude Code and Gemini CLI, ".*" for Codex. Gemini compares the matcher of a
  // lifecycle event (SessionStart, SessionEnd, Notification) as an exact string in which only "*"
  // and "" mean everything, so ".*" would silence those events there.
  static std::string matcher(HookEngine engine);

  // What one install did: the CLI, and its backup when there was a file to back up.
  struct Installed {
    HookEngine engine;
    std::optional<std::filesystem::path> backup;
  };

  // Installs the hooks for one CLI, replacing the app's older entries and keeping the user's.
  // Returns the backup's location, or nothing when there was no settings file to back up.
  // A socket path too long for a socket address is refused before anything is written.
  static std::optional<std::filesystem::path> install(HookEngine engine,
                                                      const HookTarget& target = defaultTarget());
  // Installs for every present CLI and returns the message for the user; the first failure is
  // thrown (CLIs done before it stay installed). `installed`, when given, receives each install.
  static std::string install(std::vector<Installed>* installed = nullptr,
                             const HookTarget& target = defaultTarget());
  // The "hooks" object an install for `target` writes into this CLI's settings file, as JSON
  // text to paste where Tallyloft is not installed.
  static std::string entries(HookEngine engine, const HookTarget& target);
  // The sentence to add wherever an install for `engine` is reported, or "" when none is needed:
  // Codex runs hooks from hooks.json only once the user has reviewed them.
  static std::string_view installNotice(HookEngine engine);
  // Removes the app's groups under every event name. Returns the backup's location, or nothing
  // when the file does not exist or has no "hooks" object (then nothing is written).
  static std::optional<std::filesystem::path> uninstall(HookEngine engine);

  // The CLIs whose settings directory exists, in order.
  static std::vector<HookEngine> presentEngines();
  // Whether any CLI's settings file holds one of the app's hook commands.
  static bool isInstalled();
  // Whether this CLI's settings file does; an unreadable or malformed file counts as no.
  static bool isInstalled(HookEngine engine);
  // The event names under which this CLI's file holds the app's hooks, sorted; none when the
  // file is missing, unreadable or malformed.
  static std::vector<std::string> installedEvents(HookEngine engine);
  // Whether this CLI's file holds the app's hooks but not as an install would write them today:
  // an event of eventNames() without the app's group, one of the app's groups there with
  // another matcher (an older Gemini install with ".*"), or a command an older version wrote.
  // Installing again repairs it.
  static bool needsReinstall(HookEngine engine);
  // Whether this CLI's file holds hooks of an older version, which post to TCP port 51789
  // without a secret: the app serves that port until they are updated.
  static bool hasOlderHooks(HookEngine engine);
  // The sockets this CLI's hooks post to, sorted; none when they post elsewhere or are missing.
  static std::vector<std::filesystem::path> sockets(HookEngine engine);
  static bool anyOlderHooks();
};

}  // namespace tallyloft
