#include "cli/HooksCommand.h"

#include <cstdio>
#include <exception>
#include <string_view>

#include "hooks/HookInstaller.h"

namespace tallyloft {
namespace {

bool isPresent(HookEngine engine) {
  for (HookEngine present : HookInstaller::presentEngines()) {
    if (present == engine) return true;
  }
  return false;
}

const char* installState(HookEngine engine) {
  if (!HookInstaller::isInstalled(engine)) return "not installed";
  return HookInstaller::needsReinstall(engine) ? "reinstall" : "installed";
}

void printNotice(HookEngine engine) {
  if (const auto notice = HookInstaller::installNotice(engine); !notice.empty()) {
    std::printf("%.*s\n", static_cast<int>(notice.size()), notice.data());
  }
}

}  // namespace

int runHooksStatus() {
  std::printf("%-12s %-8s %-14s %s\n", "CLI", "present", "hooks", "settings file");
  bool outdated = false;
  for (HookEngine engine : kAllEngines) {
    const char* state = installState(engine);
    outdated = outdated || std::string_view(state) == "reinstall";
    std::printf("%-12s %-8s %-14s %s\n", std::string(displayName(engine)).c_str(),
                isPresent(engine) ? "yes" : "no", state, fileURL(engine).c_str());
  }
  const std::filesystem::path here = hookSocketPath();
  for (HookEngine engine : kAllEngines) {
    for (const auto& socket : HookInstaller::sockets(engine)) {
      if (socket == here) continue;
      std::printf(
          "%s hooks post to %s, not to %s where Tallyloft listens on this machine: right on a "
          "machine whose socket `tallyloft ssh` forwards; elsewhere run `tallyloft hooks "
          "install`.\n",
          std::string(displayName(engine)).c_str(), socket.c_str(), here.c_str());
    }
  }
  if (outdated) {
    std::printf(
        "Hooks marked \"reinstall\" were written by an older version; run "
        "`tallyloft hooks install` to update them.\n");
  }
  return 0;
}

int runHooksInstall(std::optional<HookEngine> engine, const HookTarget& target) {
  try {
    if (engine) {
      const auto backup = HookInstaller::install(*engine, target);
      std::printf("Installed for %s in %s\n", std::string(displayName(*engine)).c_str(),
                  fileURL(*engine).c_str());
      if (backup) std::printf("Backup: %s\n", backup->c_str());
      printNotice(*engine);
      return 0;
    }
    std::vector<HookInstaller::Installed> installed;
    const std::string message = HookInstaller::install(&installed, target);
    std::printf("%s\n", message.c_str());
    for (const auto& each : installed) {
      if (each.backup) std::printf("Backup: %s\n", each.backup->c_str());
    }
    for (const auto& each : installed) printNotice(each.engine);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s%s\n", engine ? "Failed: " : "Install failed: ", error.what());
    return 1;
  }
}

int runHooksPrint(HookEngine engine, const HookTarget& target) {
  try {
    std::printf("%s\n", HookInstaller::entries(engine, target).c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Failed: %s\n", error.what());
    return 1;
  }
  std::fprintf(
      stderr, "Merge this \"hooks\" object into %s on the machine the CLI runs on.\n",
      (std::filesystem::path("~") / fileURL(engine).lexically_relative(homeDirectory())).c_str());
  if (target.port != 0) {
    std::fprintf(stderr,
                 "The hooks read the secret from %s: copy that file there too (mode 0600).\n",
                 target.secretFile.c_str());
  }
  return 0;
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
