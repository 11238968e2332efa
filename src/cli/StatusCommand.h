#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace tallyloft {

struct StatusOptions {
  bool json = false;    // one JSON document per answer instead of the table
  bool waybar = false;  // one line for a status bar's custom module instead
  bool watch = false;   // again after every change, until interrupted
};

// `tallyloft status`: asks the running app or `tallyloft serve` over the user's status socket
// for the crew and prints it, as a table or (`json`) the document itself. Returns 0, or 1 with a
// line on `err` saying how to start Tallyloft when nothing answers.
int runStatus(const StatusOptions& options, std::ostream& out, std::ostream& err);

// The table for one crew document: a line per session, then a line per agent; "No sessions."
// when there are none. Nothing for a document that is not a crew.
std::optional<std::string> statusTable(const std::string& document);

// One line of JSON for waybar's and polybar's custom modules: "text" ("🤖 3 ⏳ 1": live agents,
// then waiting ones when any), "tooltip" (a line per session), "class" ("waiting", "working" or
// "idle") and "percentage" (the fullest context in use). Nothing for a document that is not a
// crew.
std::optional<std::string> statusWaybar(const std::string& document);

}  // namespace tallyloft
