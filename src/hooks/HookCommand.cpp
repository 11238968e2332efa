#include "hooks/HookCommand.h"

namespace tallyloft {

std::string hookCommand(std::uint16_t port) {
  return ": '" + std::string(kHookMarker) +
         "';input=$(cat);printf '%s' \"$input\" | /usr/bin/curl -s -m1 -H 'Expect:' -H "
         "'Content-Type: application/json' -X POST http://127.0.0.1:" +
         std::to_string(port) + "/event --data-binary @- >/dev/null 2>&1;exit 0";
}

}  // namespace tallyloft
