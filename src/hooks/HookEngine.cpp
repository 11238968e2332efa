#include "hooks/HookEngine.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

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

std::filesystem::path homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "/";
}

}  // namespace tallyloft
