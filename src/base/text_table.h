// Rows of cells as lines of text: each column as wide as its widest cell,
// two blanks between columns, no blanks at the end of a line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace r7 {

// Columns from `right_aligned_from` on are aligned to the right (numbers).
std::vector<std::string> text_table(const std::vector<std::vector<std::string>>& rows,
                                    std::size_t right_aligned_from = std::string::npos);

}  // namespace r7
