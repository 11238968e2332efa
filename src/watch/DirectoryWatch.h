#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "base/Scheduler.h"

namespace tallyloft {

// Tells, through inotify, when entries of one directory are written, created, moved in or out,
// or deleted. A directory that does not exist yet is waited for in its parent (one level up);
// one that is removed is waited for again. Nothing polls: between changes it costs nothing.
//
// Main-thread only; `onChange` runs on the scheduler's main thread with the entry's name and
// whether the entry went away (deleted or moved out), or with "" when the whole directory
// appeared (look at everything again). Several changes to one entry may come as several calls.
class DirectoryWatch {
 public:
  using Handler = std::function<void(const std::string& name, bool gone)>;

  DirectoryWatch(Scheduler& scheduler, std::filesystem::path directory, Handler onChange);
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;
  ~DirectoryWatch();

  const std::filesystem::path& directory() const { return directory_; }
  // Whether the directory itself is watched now (not only waited for).
  bool watching() const { return directoryWatch_ >= 0; }

 private:
  void arm();
  void readEvents();

  Scheduler& scheduler_;
  std::filesystem::path directory_;
  Handler onChange_;
  int fd_ = -1;
  int directoryWatch_ = -1;
  int parentWatch_ = -1;
  Scheduler::WatchId watch_ = 0;
};

}  // namespace tallyloft
