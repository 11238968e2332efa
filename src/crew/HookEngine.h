#pragma once

// HookEngine belongs to the hook installer and lives in hooks/HookEngine.h; this header remains
// only for the includes that still name it here. Include hooks/HookEngine.h instead.
#include "hooks/HookEngine.h"
