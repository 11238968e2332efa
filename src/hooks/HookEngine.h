#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string_view>

#include "base/RuntimeFolder.h"

namespace tallyloft {

// A supported CLI, in this fixed order.
enum class HookEngine { claude, codex, gemini };

inline constexpr std::array<HookEngine, 3> kAllEngines = {HookEngine::claude, HookEngine::codex,
                                                          HookEngine::gemini};

// "Claude Code", "Codex", "Gemini CLI".
std::string_view displayName(HookEngine engine);
// "claude", "codex", "gemini": the engine's name on the command line.
std::string_view engineName(HookEngine engine);
std::optional<HookEngine> engineNamed(std::string_view name);
// The CLI's settings file: ~/.claude/settings.json, ~/.codex/hooks.json, ~/.gemini/settings.json.
std::filesystem::path fileURL(HookEngine engine);

}  // namespace tallyloft
