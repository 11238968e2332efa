#pragma once

#include <sys/wait.h>
#include <unistd.h>

namespace tallyloft::test {

// Runs `work` in a forked child and returns what it returned (false when the child died).
// With `unprivileged`, the child first gives up root, so that file permissions hold for it.
// Only for single-threaded test processes: the child does file I/O and allocates.
template <typename Work>
bool inChild(Work work, bool unprivileged = false) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(2);
    }
    ::_exit(work() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tallyloft::test
