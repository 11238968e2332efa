// Decodes arbitrary bytes as a hook event and exercises the derived target.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hooks/HookEvent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto event = tallyloft::HookEvent::decode(bytes)) {
    if (event->hookEventName.data() == nullptr) std::abort();
    if (auto target = event->target()) {
      if (target->empty()) std::abort();
    }
  }
  return 0;
}
