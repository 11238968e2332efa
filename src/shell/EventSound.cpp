#include "shell/EventSound.h"

#include <canberra.h>

namespace tallyloft {

EventSound::~EventSound() {
  if (context_ != nullptr) ca_context_destroy(context_);
}

void EventSound::play(const std::string& eventId, const std::string& description) {
  if (failed_) return;
  if (context_ == nullptr) {
    if (ca_context_create(&context_) != CA_SUCCESS) {
      context_ = nullptr;
      failed_ = true;
      return;
    }
    ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Tallyloft", CA_PROP_APPLICATION_ID,
                            "app.tallyloft.Tallyloft", CA_PROP_APPLICATION_ICON_NAME, "tallyloft",
                            nullptr);
  }
  // Asynchronous: the call returns at once, the sound server plays it.
  ca_context_play(context_, 0, CA_PROP_EVENT_ID, eventId.c_str(), CA_PROP_EVENT_DESCRIPTION,
                  description.c_str(), nullptr);
}

}  // namespace tallyloft
