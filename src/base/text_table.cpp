#include "base/text_table.h"

#include <algorithm>

namespace r7 {

std::vector<std::string> text_table(const std::vector<std::vector<std::string>>& rows,
                                    std::size_t right_aligned_from) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t c = 0; c < row.size(); ++c)
      widths[c] = std::max(widths[c], row[c].size());
  }
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - row[c].size(), ' ');
      line += c >= right_aligned_from ? pad + row[c] : row[c] + pad;
      if (c + 1 < row.size()) line += "  ";
    }
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace r7
