#pragma once

#include <string>

#include "app/AppModel.h"

namespace tallyloft {

// One line of JSON describing the whole model at `seconds`: the event count, the active session
// count and every session with its agents (main agent first). Every key is always present;
// absent values are null and enumerations their case names. No trailing newline.
std::string crewSnapshotJson(double seconds, AppModel& app);

// "2 sessions · 3 live agents · 17 events".
std::string countsLine(AppModel& app);

}  // namespace tallyloft
