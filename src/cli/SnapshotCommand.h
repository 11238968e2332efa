#pragma once

#include <string>

namespace tallyloft {

struct SnapshotOptions {
  std::string replay;  // the recording; - reads standard input
  double at = 0;       // seconds into the recording
  std::string size;    // WIDTHxHEIGHT, default 1800x400
  unsigned seed = 1;
  std::string out = "snapshot.png";
  // Leave what the office does not cover transparent, instead of the panel's backing colour.
  bool transparent = false;
};

// `tallyloft snapshot`: replays a recording on virtual time, runs the office's frame loop in
// fixed 1/60 s steps over the minute before `at` (the model alone plays what came before) and
// renders the office headless to a PNG, over the office panel's backing colour as a user sees it
// (or transparent). Returns the exit
// status: 2 for bad input, 1 when rendering or writing fails. Needs a QGuiApplication.
int runSnapshot(const SnapshotOptions& options);

}  // namespace tallyloft
