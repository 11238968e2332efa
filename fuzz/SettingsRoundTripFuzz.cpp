// Takes arbitrary bytes as a CLI's settings file and runs the installer's round trip on it for
// each CLI: load, install, remove, load. A file that is not a JSON object must make install
// throw and stay byte for byte as it was; any other file must come back with everything the user
// wrote: every key beside "hooks" as it was, and under "hooks" every group that is not the app's,
// in its order.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>

#include "hooks/HookInstaller.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using tallyloft::HookEngine;
using tallyloft::HookInstaller;

fs::path home;

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool isOurs(const Json& group) {
  if (!group.is_object() || !group.contains("hooks") || !group["hooks"].is_array()) return false;
  for (const Json& entry : group["hooks"]) {
    if (!entry.is_object()) return false;
  }
  for (const Json& entry : group["hooks"]) {
    const auto command = entry.find("command");
    if (command == entry.end() || !command->is_string()) continue;
    for (const std::string& marker : HookInstaller::markers()) {
      if (command->get_ref<const std::string&>().find(marker) != std::string::npos) return true;
    }
  }
  return false;
}

void check(bool condition) {
  if (!condition) std::abort();
}

void roundTrip(HookEngine engine, std::string_view bytes) {
  const fs::path path = tallyloft::fileURL(engine);
  fs::remove_all(path.parent_path());
  writeFile(path, bytes);

  Json before;
  bool object = bytes.empty();
  if (!object) {
    try {
      before = Json::parse(bytes);
      object = before.is_object();
    } catch (const Json::exception&) {
    }
  } else {
    before = Json::object();
  }
  if (!object) {
    bool threw = false;
    try {
      HookInstaller::install(engine);
    } catch (const std::exception&) {
      threw = true;
    }
    check(threw);
    check(readFile(path) == bytes);
    return;
  }

  HookInstaller::install(engine);
  check(HookInstaller::isInstalled(engine));
  check(!HookInstaller::needsReinstall(engine));
  HookInstaller::uninstall(engine);
  const Json after = Json::parse(readFile(path));
  check(after.is_object() && after.contains("hooks") && after["hooks"].is_object());

  for (const auto& [key, value] : before.items()) {
    if (key != "hooks") check(after.contains(key) && after[key] == value);
  }
  const Json& hooks = after["hooks"];
  if (!before.contains("hooks") || !before["hooks"].is_object()) return;
  for (const auto& [name, value] : before["hooks"].items()) {
    if (!value.is_array()) {
      // A value of another shape stays, unless install took its event name for its own list.
      bool ourEvent = false;
      for (const std::string& event : HookInstaller::eventNames(engine)) {
        ourEvent = ourEvent || event == name;
      }
      if (!ourEvent) check(hooks.contains(name) && hooks[name] == value);
      continue;
    }
    Json kept = Json::array();
    for (const Json& group : value) {
      if (!isOurs(group)) kept.push_back(group);
    }
    if (hooks.contains(name)) {
      check(hooks[name] == kept);
    } else {
      check(kept.empty());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path base =
      fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "tallyloft-fuzz-home-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  home = pattern;
  ::setenv("HOME", home.c_str(), 1);
  std::atexit([] { fs::remove_all(home); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 256 * 1024) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (HookEngine engine : tallyloft::kAllEngines) roundTrip(engine, bytes);
  return 0;
}
