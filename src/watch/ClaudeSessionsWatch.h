#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "crew/ClaudeSessionFile.h"
#include "crew/CrewModel.h"
#include "watch/DirectoryWatch.h"

namespace tallyloft {

// Follows Claude Code's sessions directory (~/.claude/sessions) and tells the crew model what
// its files say: a turn the user interrupted, a process that died. Reads a file only when it
// changes. Main-thread only.
class ClaudeSessionsWatch {
 public:
  // The most bytes of one sessions file that are read.
  static constexpr std::size_t kMaxFileBytes = 64 * 1024;

  ClaudeSessionsWatch(Scheduler& scheduler, CrewModel& crew, std::filesystem::path directory);
  // ~/.claude/sessions.
  static std::filesystem::path defaultDirectory();

 private:
  void changed(const std::string& name);
  void look(const std::string& name);

  CrewModel& crew_;
  // What each file said when last read, by file name.
  std::map<std::string, ClaudeSessionFile> known_;
  DirectoryWatch watch_;  // last: its events use the members above
};

}  // namespace tallyloft
