#include "cli/HooksCommand.h"

#include <cstdio>
#include <exception>

#include "hooks/HookInstaller.h"

namespace tallyloft {
namespace {

bool isPresent(HookEngine engine) {
  for (HookEngine present : HookInstaller::presentEngines()) {
    if (present == engine) return true;
  }
  return false;
}

}  // namespace

int runHooksStatus() {
  std::printf("%-12s %-8s %-14s %s\n", "CLI", "present", "hooks", "settings file");
  for (HookEngine engine : kAllEngines) {
    std::printf("%-12s %-8s %-14s %s\n", std::string(displayName(engine)).c_str(),
                isPresent(engine) ? "yes" : "no",
                HookInstaller::isInstalled(engine) ? "installed" : "not installed",
                fileURL(engine).c_str());
  }
  return 0;
}

int runHooksInstall(std::optional<HookEngine> engine) {
  try {
    if (engine) {
      const auto backup = HookInstaller::install(*engine);
      std::printf("Installed for %s in %s\nBackup: %s\n", std::string(displayName(*engine)).c_str(),
                  fileURL(*engine).c_str(), backup.c_str());
      return 0;
    }
    std::vector<std::filesystem::path> backups;
    const std::string message = HookInstaller::install(&backups);
    std::printf("%s\n", message.c_str());
    for (const auto& backup : backups) std::printf("Backup: %s\n", backup.c_str());
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s%s\n", engine ? "Failed: " : "Install failed: ", error.what());
    return 1;
  }
}

int runHooksRemove(std::optional<HookEngine> engine) {
  int status = 0;
  for (HookEngine each : kAllEngines) {
    if (engine && *engine != each) continue;
    const std::string name(displayName(each));
    try {
      if (const auto backup = HookInstaller::uninstall(each)) {
        std::printf("Removed from %s in %s\nBackup: %s\n", name.c_str(), fileURL(each).c_str(),
                    backup->c_str());
      } else {
        std::printf("Nothing to remove for %s\n", name.c_str());
      }
    } catch (const std::exception& error) {
      std::fprintf(stderr, "Failed: %s\n", error.what());
      status = 1;
    }
  }
  return status;
}

}  // namespace tallyloft
