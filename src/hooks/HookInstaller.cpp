#include "hooks/HookInstaller.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "base/RuntimeFolder.h"
#include "hooks/HookCommand.h"
#include "hooks/SettingsFile.h"

namespace tallyloft {
namespace {

using Json = nlohmann::json;

bool containsMarker(const std::string& command) {
  for (const std::string& marker : HookInstaller::markers()) {
    if (command.find(marker) != std::string::npos) return true;
  }
  return false;
}

// Calls `visit(command)` for each string "command" of the entries in a matcher group's "hooks",
// until one returns true. A "hooks" that is not a list of objects has no commands we know of.
template <typename Visit>
bool anyCommand(const Json& group, Visit visit) {
  if (!group.is_object()) return false;
  const auto hooks = group.find("hooks");
  if (hooks == group.end() || !hooks->is_array()) return false;
  for (const Json& entry : *hooks) {
    if (!entry.is_object()) return false;
  }
  for (const Json& entry : *hooks) {
    const auto command = entry.find("command");
    if (command != entry.end() && command->is_string() &&
        visit(command->get_ref<const std::string&>())) {
      return true;
    }
  }
  return false;
}

// A matcher group is the app's when any of its commands carries a marker, even beside the
// user's own commands.
bool groupContainsMarker(const Json& group) {
  return anyCommand(group, containsMarker);
}

// Whether a group holds a command of ours that an older version wrote: one that posts to the old
// port, or sends no process or terminal hints.
bool hasOlderCommand(const Json& group) {
  return anyCommand(group, [](const std::string& command) {
    return containsMarker(command) && !hookTargetOf(command);
  });
}

// Removes the app's groups from a list, keeping everything else in order. Returns how many.
std::size_t removeOurGroups(Json& list) {
  std::size_t removed = 0;
  Json kept = Json::array();
  for (Json& group : list) {
    if (groupContainsMarker(group)) {
      ++removed;
    } else {
      kept.push_back(std::move(group));
    }
  }
  list = std::move(kept);
  return removed;
}

// The "hooks" object of a settings file, or nothing when it cannot be read or has none.
std::optional<Json> loadHooks(const std::filesystem::path& path) {
  Json settings;
  try {
    settings = loadSettingsForWrite(path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const auto hooks = settings.find("hooks");
  if (hooks == settings.end() || !hooks->is_object()) return std::nullopt;
  return std::move(*hooks);
}

bool hasOurGroup(const Json& hooks) {
  for (const Json& list : hooks) {
    if (!list.is_array()) continue;
    for (const Json& group : list) {
      if (groupContainsMarker(group)) return true;
    }
  }
  return false;
}

}  // namespace

const std::vector<std::string>& HookInstaller::markers() {
  static const std::vector<std::string> kMarkers = {std::string(kHookMarker), "loftling"};
  return kMarkers;
}

HookTarget HookInstaller::defaultTarget() {
  return {.socket = hookSocketPath()};
}

std::string HookInstaller::command(const HookTarget& target) {
  return hookCommand(target);
}

const std::vector<std::string>& HookInstaller::eventNames(HookEngine engine) {
  static const std::vector<std::string> kClaude = {
      "SessionStart", "UserPromptSubmit",   "PreToolUse",
      "PostToolUse",  "PostToolUseFailure", "PermissionRequest",
      "Notification", "SubagentStart",      "SubagentStop",
      "Stop",         "SessionEnd",         "PreCompact",
      "PostCompact"};
  static const std::vector<std::string> kCodex = {
      "SessionStart",      "UserPromptSubmit", "PreToolUse",   "PostToolUse",
      "PermissionRequest", "SubagentStart",    "SubagentStop", "Stop",
      "SessionEnd",        "PreCompact",       "PostCompact",  "Interrupt"};
  static const std::vector<std::string> kGemini = {"SessionStart", "SessionEnd", "BeforeAgent",
                                                   "AfterAgent",   "BeforeTool", "AfterTool",
                                                   "Notification"};
  switch (engine) {
    case HookEngine::claude:
      return kClaude;
    case HookEngine::codex:
      return kCodex;
    case HookEngine::gemini:
      break;
  }
  return kGemini;
}

std::string HookInstaller::matcher(HookEngine engine) {
  return engine == HookEngine::codex ? ".*" : "*";
}

namespace {

void checkTarget(const HookTarget& target) {
  if (!target.socket.empty()) {
    if (!target.socket.is_absolute()) {
      throw HookInstallerError("The hook socket must be an absolute path: " +
                               target.socket.string());
    }
    if (!fitsSocketAddress(target.socket)) {
      throw HookInstallerError(
          "The hook socket's path is too long for a socket (at most 107 "
          "bytes): " +
          target.socket.string());
    }
  } else if (target.port == 0 || target.secretFile.empty()) {
    throw HookInstallerError("Hooks post to a socket, or to a port with a secret file");
  }
}

// Our group for one event: the matcher and the one command.
Json ourGroup(HookEngine engine, const HookTarget& target) {
  return {{"matcher", HookInstaller::matcher(engine)},
          {"hooks",
           Json::array({Json{{"type", "command"}, {"command", HookInstaller::command(target)}}})}};
}

}  // namespace

std::string HookInstaller::entries(HookEngine engine, const HookTarget& target) {
  checkTarget(target);
  Json hooks = Json::object();
  for (const std::string& name : eventNames(engine)) {
    hooks[name] = Json::array({ourGroup(engine, target)});
  }
  return Json{{"hooks", std::move(hooks)}}.dump(2);
}

std::optional<std::filesystem::path> HookInstaller::install(HookEngine engine,
                                                            const HookTarget& target) {
  checkTarget(target);
  const std::filesystem::path path = fileURL(engine);
  SettingsText read;
  Json settings = loadSettingsForWrite(path, &read);
  Json hooks = Json::object();
  if (auto found = settings.find("hooks"); found != settings.end() && found->is_object()) {
    hooks = std::move(*found);
  }
  const Json group = ourGroup(engine, target);
  for (const std::string& name : eventNames(engine)) {
    Json list = Json::array();
    if (auto found = hooks.find(name); found != hooks.end() && found->is_array()) {
      list = std::move(*found);
      removeOurGroups(list);
    }
    list.push_back(group);
    hooks[name] = std::move(list);
  }
  settings["hooks"] = std::move(hooks);
  const auto backup = writeBackup(path);
  writeSettings(settings, path, &read);
  return backup;
}

std::string HookInstaller::install(std::vector<Installed>* installed, const HookTarget& target) {
  const std::vector<HookEngine> engines = presentEngines();
  if (engines.empty()) {
    return "No supported CLI detected \u2014 install Claude Code, Codex, or Gemini first.";
  }
  std::string names;
  for (HookEngine engine : engines) {
    auto backup = install(engine, target);
    if (installed != nullptr) installed->push_back({engine, std::move(backup)});
    if (!names.empty()) names += " & ";
    names += displayName(engine);
  }
  return "Installed \u2713  " + names;
}

std::string_view HookInstaller::installNotice(HookEngine engine) {
  if (engine != HookEngine::codex) return {};
  return "Codex asks you to review the new hooks the next time it starts; until then it does not "
         "run them.";
}

std::optional<std::filesystem::path> HookInstaller::uninstall(HookEngine engine) {
  const std::filesystem::path path = fileURL(engine);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return std::nullopt;
  SettingsText read;
  Json settings = loadSettingsForWrite(path, &read);
  const auto hooks = settings.find("hooks");
  if (hooks == settings.end() || !hooks->is_object()) return std::nullopt;
  for (auto it = hooks->begin(); it != hooks->end();) {
    // Only a list we emptied ourselves goes; an empty list the user wrote stays.
    if (it->is_array() && removeOurGroups(*it) > 0 && it->empty()) {
      it = hooks->erase(it);
    } else {
      ++it;
    }
  }
  const auto backup = writeBackup(path);
  if (!backup) return std::nullopt;  // the file went away since we read it: nothing to remove
  writeSettings(settings, path, &read);
  return backup;
}

std::vector<HookEngine> HookInstaller::presentEngines() {
  std::vector<HookEngine> present;
  for (HookEngine engine : kAllEngines) {
    std::error_code error;
    const auto directory = fileURL(engine).parent_path();
    // Follows links: a dangling ~/.claude link is no Claude Code to install for.
    if (std::filesystem::exists(directory, error)) {
      present.push_back(engine);
    }
  }
  return present;
}

bool HookInstaller::isInstalled() {
  for (HookEngine engine : kAllEngines) {
    if (isInstalled(engine)) return true;
  }
  return false;
}

bool HookInstaller::isInstalled(HookEngine engine) {
  const auto hooks = loadHooks(fileURL(engine));
  return hooks && hasOurGroup(*hooks);
}

std::vector<std::string> HookInstaller::installedEvents(HookEngine engine) {
  std::vector<std::string> names;
  const auto hooks = loadHooks(fileURL(engine));
  if (!hooks) return names;
  for (const auto& [name, list] : hooks->items()) {
    if (!list.is_array()) continue;
    for (const Json& group : list) {
      if (groupContainsMarker(group)) {
        names.push_back(name);
        break;
      }
    }
  }
  return names;
}

bool HookInstaller::needsReinstall(HookEngine engine) {
  const auto hooks = loadHooks(fileURL(engine));
  if (!hooks || !hasOurGroup(*hooks)) return false;
  const Json wanted = matcher(engine);
  for (const std::string& name : eventNames(engine)) {
    const auto list = hooks->find(name);
    if (list == hooks->end() || !list->is_array()) return true;
    bool found = false;
    for (const Json& group : *list) {
      if (!groupContainsMarker(group)) continue;
      const auto matcher = group.find("matcher");
      if (matcher == group.end() || *matcher != wanted) return true;
      // A command from an older install (one that posts to the old port, or sends no process
      // or terminal hints).
      if (hasOlderCommand(group)) return true;
      found = true;
    }
    if (!found) return true;
  }
  return false;
}

bool HookInstaller::hasOlderHooks(HookEngine engine) {
  const auto hooks = loadHooks(fileURL(engine));
  if (!hooks) return false;
  for (const Json& list : *hooks) {
    if (!list.is_array()) continue;
    for (const Json& group : list) {
      if (hasOlderCommand(group)) return true;
    }
  }
  return false;
}

std::vector<std::filesystem::path> HookInstaller::sockets(HookEngine engine) {
  std::vector<std::filesystem::path> found;
  const auto hooks = loadHooks(fileURL(engine));
  if (!hooks) return found;
  for (const Json& list : *hooks) {
    if (!list.is_array()) continue;
    for (const Json& group : list) {
      anyCommand(group, [&found](const std::string& command) {
        if (const auto target = hookTargetOf(command); target && !target->socket.empty()) {
          found.push_back(target->socket);
        }
        return false;
      });
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

bool HookInstaller::anyOlderHooks() {
  for (HookEngine engine : kAllEngines) {
    if (hasOlderHooks(engine)) return true;
  }
  return false;
}

}  // namespace tallyloft
