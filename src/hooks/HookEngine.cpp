#include "hooks/HookEngine.h"

namespace tallyloft {

std::string_view displayName(HookEngine engine) {
  switch (engine) {
    case HookEngine::claude:
      return "Claude Code";
    case HookEngine::codex:
      return "Codex";
    case HookEngine::gemini:
      return "Gemini CLI";
  }
  return {};
}

std::string_view engineName(HookEngine engine) {
  switch (engine) {
    case HookEngine::claude:
      return "claude";
    case HookEngine::codex:
      return "codex";
    case HookEngine::gemini:
      return "gemini";
  }
  return {};
}

std::optional<HookEngine> engineNamed(std::string_view name) {
  for (HookEngine engine : kAllEngines) {
    if (engineName(engine) == name) return engine;
  }
  return std::nullopt;
}

std::filesystem::path fileURL(HookEngine engine) {
  switch (engine) {
    case HookEngine::claude:
      return homeDirectory() / ".claude" / "settings.json";
    case HookEngine::codex:
      return homeDirectory() / ".codex" / "hooks.json";
    case HookEngine::gemini:
      return homeDirectory() / ".gemini" / "settings.json";
  }
  return {};
}

}  // namespace tallyloft
