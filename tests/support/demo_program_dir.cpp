#include "support/demo_program_dir.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>

#include "samples/sample_files.h"
#include "support/temp_dir.h"

namespace r7::test {

void write_demo_program_dir(const std::filesystem::path& dir) {
  for (const std::string& folder : sim::sample_folders()) {
    std::filesystem::create_directories(dir / folder);
  }
  for (const sim::SampleFile& file : sim::sample_files()) {
    const auto path = dir / file.path;
    std::filesystem::create_directories(path.parent_path());
    write_file(path, file.content);
  }
  write_file(dir / "VARNEL FLASH R7.INI",
             "[COMMS CONTROLS]\r\n"
             "DEVICE 0 COMM PORT=2\r\nDEVICE 0 PORT SETTING=9600,N,8,1\r\n"
             "DEVICE 1 COMM PORT=2\r\nDEVICE 1 PORT SETTING=9600,n,8,1\r\n"
             "DEVICE 2 COMM PORT=2\r\nDEVICE 2 PORT SETTING=38400,n,8,1\r\n");
}

std::string s2_image_digest(const std::filesystem::path& file) {
  std::map<std::uint32_t, int> image;
  std::istringstream lines(read_file(file));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("S2", 0) != 0) continue;
    const auto byte = [&](std::size_t k) {
      return std::stoi(line.substr(2 + 2 * k, 2), nullptr, 16);
    };
    const std::uint32_t address = (byte(1) << 16) | (byte(2) << 8) | byte(3);
    for (int k = 4; k < byte(0); ++k)
      image[address + k - 4] = byte(k);
  }
  std::uint64_t h = 14695981039346656037ULL;
  for (const auto& [address, value] : image) {
    for (const std::uint32_t b :
         {address >> 16, address >> 8, address, static_cast<std::uint32_t>(value)})
      h = (h ^ (b & 0xFFU)) * 1099511628211ULL;
  }
  char text[24];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(h));
  return text;
}

}  // namespace r7::test
