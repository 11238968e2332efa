#include "cli/ReplayCommand.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "cli/CrewJson.h"
#include "cli/Recording.h"

namespace tallyloft {

int replayEvents(std::istream& input, std::vector<double> at, std::ostream& output,
                 std::ostream& errors) {
  for (double moment : at) {
    if (!isRecordingTime(moment)) {
      errors << "--at " << moment << ": must be 0 to 1e+09 seconds\n";
      return 2;
    }
  }
  std::sort(at.begin(), at.end());
  auto events = readRecording(input, errors);
  if (!events) return 2;
  RecordingPlayer player(std::move(*events));
  if (at.empty()) at.push_back(player.lastEventTime());
  for (double moment : at) {
    player.playTo(moment);
    output << crewSnapshotJson(moment, player.app()) << '\n';
  }
  return 0;
}

}  // namespace tallyloft
