#include "watch/HooksWatch.h"

#include <algorithm>

#include "hooks/HookCommand.h"
#include "hooks/HookInstaller.h"

namespace tallyloft {

HooksWatch::HooksWatch(Scheduler& scheduler, Handler onChange)
    : scheduler_(scheduler), onChange_(std::move(onChange)) {
  for (HookEngine engine : kAllEngines) {
    File& entry = file(engine);
    entry.expected = HookInstaller::installedEvents(engine);
    const std::filesystem::path path = fileURL(engine);
    entry.watch = std::make_unique<DirectoryWatch>(
        scheduler_, path.parent_path(),
        [this, engine](const std::string& name, bool gone) { changed(engine, name, gone); });
  }
}

HooksWatch::~HooksWatch() {
  for (File& entry : files_) {
    if (entry.settle != 0) scheduler_.cancel(entry.settle);
  }
}

const std::string& HooksWatch::warning(HookEngine engine) const {
  return files_[static_cast<std::size_t>(engine)].warning;
}

void HooksWatch::expectCurrent(HookEngine engine) {
  File& entry = file(engine);
  entry.expected = HookInstaller::installedEvents(engine);
  entry.oursWrote = false;
  if (!entry.warning.empty()) {
    entry.warning.clear();
    if (onChange_) onChange_(engine);
  }
  if (onSettingsRead) onSettingsRead();
}

void HooksWatch::changed(HookEngine engine, const std::string& name, bool gone) {
  const std::string settings = fileURL(engine).filename();
  const std::string backupPrefix = settings + "." + std::string(kHookMarker) + "-bak-";
  File& entry = file(engine);
  if (name.compare(0, backupPrefix.size(), backupPrefix) == 0) {
    // A new backup: our own write follows. (Old backups are pruned by us and by the user.)
    if (!gone) entry.oursWrote = true;
  } else if (name != settings && !name.empty()) {
    return;
  }
  if (entry.settle != 0) scheduler_.cancel(entry.settle);
  entry.settle = scheduler_.after(kSettle, [this, engine] {
    file(engine).settle = 0;
    look(engine);
  });
}

void HooksWatch::look(HookEngine engine) {
  File& entry = file(engine);
  const std::vector<std::string> current = HookInstaller::installedEvents(engine);
  const bool ours = entry.oursWrote;
  entry.oursWrote = false;
  std::size_t lost = 0;
  for (const std::string& name : entry.expected) {
    if (!std::binary_search(current.begin(), current.end(), name)) ++lost;
  }
  std::string warning;
  if (ours || lost == 0) {
    entry.expected = current;
  } else {
    const std::string who(displayName(engine));
    warning = lost == entry.expected.size()
                  ? who + " hooks were removed by another program"
                  : "Some " + who + " hooks were removed by another program";
  }
  if (warning != entry.warning) {
    entry.warning = std::move(warning);
    if (onChange_) onChange_(engine);
  }
  if (onSettingsRead) onSettingsRead();
}

}  // namespace tallyloft
