#include "support/setup_fixture.h"

#include "setup/setup_text.h"

namespace r7::test {

std::vector<std::string> file_lines(const std::string& content, std::size_t first) {
  std::vector<std::string> out;
  for (const TextLine& l : split_text_lines(content)) {
    if (static_cast<std::size_t>(l.number) >= first) out.push_back(l.text);
  }
  return out;
}

}  // namespace r7::test
