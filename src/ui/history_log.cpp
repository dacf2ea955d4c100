#include "ui/history_log.h"

#include <algorithm>

namespace r7 {

std::vector<std::string> history_log_lines(const HistoryLog& log) {
  std::vector<std::string> lines{log.heading, "Controller: " + log.identity,
                                 "Last download: " + log.outcome, ""};
  std::size_t width = std::string("Command").size();
  for (const HistoryEntry& e : log.commands)
    width = std::max(width, e.text.size());
  const auto pad = [](std::string s, std::size_t n) {
    s.resize(std::max(s.size(), n), ' ');
    return s;
  };
  constexpr std::size_t kTimeWidth = 8;
  lines.push_back(pad("Time", kTimeWidth) + "  " + pad("Command", width) + "  " +
                  pad("Time", kTimeWidth) + "  Response");
  const std::size_t rows = std::max(log.commands.size(), log.responses.size());
  for (std::size_t i = 0; i < rows; ++i) {
    const HistoryEntry none;
    const HistoryEntry& c = i < log.commands.size() ? log.commands[i] : none;
    const HistoryEntry& r = i < log.responses.size() ? log.responses[i] : none;
    std::string row = pad(c.time, kTimeWidth) + "  " + pad(c.text, width) + "  " +
                      pad(r.time, kTimeWidth) + "  " + r.text;
    row.erase(row.find_last_not_of(' ') + 1);
    lines.push_back(row);
  }
  return lines;
}

}  // namespace r7
