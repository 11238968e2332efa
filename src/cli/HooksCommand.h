#pragma once

#include <optional>
#include <string>

#include "hooks/HookCommand.h"
#include "hooks/HookEngine.h"

namespace tallyloft {

// `tallyloft hooks status|install|remove [--cli NAME]`. Prints to stdout (failures to stderr)
// and returns the exit status: 0, or 1 when an install or removal failed.
int runHooksStatus();
int runHooksInstall(std::optional<HookEngine> engine, const HookTarget& target);
// Prints the "hooks" object an install for `target` would write, to paste by hand.
int runHooksPrint(HookEngine engine, const HookTarget& target);
int runHooksRemove(std::optional<HookEngine> engine);

}  // namespace tallyloft
