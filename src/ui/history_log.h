// The main window's log for a service report: both histories side by side,
// each line with the time it was added, the controller's identity and the
// outcome of the last download.
#pragma once

#include <string>
#include <vector>

namespace r7 {

struct HistoryEntry {
  std::string time;  // "14:05:09"
  std::string text;
};

struct HistoryLog {
  std::string heading;   // program, version and when it was saved
  std::string identity;  // the controller as the last Start identified it
  std::string outcome;   // of the last download
  std::vector<HistoryEntry> commands;
  std::vector<HistoryEntry> responses;
};

// The log as text lines: the heading lines, then "Time  Command  Time  Response"
// in aligned columns, a row for each line of the longer history.
std::vector<std::string> history_log_lines(const HistoryLog& log);

}  // namespace r7
