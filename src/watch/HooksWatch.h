#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Scheduler.h"
#include "hooks/HookEngine.h"
#include "watch/DirectoryWatch.h"

namespace tallyloft {

// Notices when another program takes the app's hooks out of a CLI's settings file (a settings
// editor, a dotfile manager, another tool that rewrites the file). It watches each file's
// directory, since an atomic replace ends a watch on the file itself, and compares the events
// that hold our hooks with those it last saw. Losing some or all of them gives a warning, which
// stays until the hooks are back or the app's own install or removal writes the file (a write
// of ours leaves a backup beside the file, which tells it apart). It never writes anything.
//
// Main-thread only. `onChange` runs when a CLI's warning appears or clears.
class HooksWatch {
 public:
  using Handler = std::function<void(HookEngine engine)>;
  // How long the file must be quiet before it is read again.
  static constexpr std::chrono::milliseconds kSettle{300};

  HooksWatch(Scheduler& scheduler, Handler onChange);
  HooksWatch(const HooksWatch&) = delete;
  HooksWatch& operator=(const HooksWatch&) = delete;
  ~HooksWatch();

  // "Claude Code hooks were removed by another program", "Some Codex hooks were removed by
  // another program", or "" when nothing is missing.
  const std::string& warning(HookEngine engine) const;
  // Takes what the file holds now as expected and clears the warning: after the app itself has
  // installed or removed the hooks.
  void expectCurrent(HookEngine engine);
  // Called after each settings file has been read again, warning or not.
  std::function<void()> onSettingsRead;

 private:
  struct File {
    std::vector<std::string> expected;  // the events that held our hooks
    std::string warning;
    bool oursWrote = false;  // a backup of ours appeared since the last look
    Scheduler::TimerId settle = 0;
    std::unique_ptr<DirectoryWatch> watch;
  };
  void changed(HookEngine engine, const std::string& name, bool gone);
  void look(HookEngine engine);
  File& file(HookEngine engine) { return files_[static_cast<std::size_t>(engine)]; }

  Scheduler& scheduler_;
  Handler onChange_;
  std::array<File, 3> files_;
};

}  // namespace tallyloft
