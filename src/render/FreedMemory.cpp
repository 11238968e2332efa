#include "render/FreedMemory.h"

#include <malloc.h>

namespace tallyloft {

bool keepFreedMemoryForReuse() {
#ifdef __GLIBC__
  static const bool done = mallopt(M_TRIM_THRESHOLD, 32 << 20) == 1;
  return done;
#else
  return false;
#endif
}

void releaseFreedMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

}  // namespace tallyloft
