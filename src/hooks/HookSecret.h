#pragma once

#include <filesystem>
#include <string>

namespace tallyloft {

// The per-user secret that hooks posting over the optional TCP port send, so that only this
// user's hooks are heard there. It lives in ~/.config/tallyloft/hook-secret (mode 0600, in a
// folder of mode 0700) as the very header line the hook sends: curl reads it with -H @FILE, and
// no command line or settings file ever holds it.
struct HookSecret {
  static std::filesystem::path path();
  // The secret (64 hex digits), made from the kernel's random source on first use. Throws
  // std::runtime_error with a text for the user when it cannot be read or made, or when the
  // file is not this user's alone (a link, another owner, readable by others).
  static std::string load();
  // The header line the file holds for `secret`.
  static std::string headerLine(const std::string& secret);
};

}  // namespace tallyloft
