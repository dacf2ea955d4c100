#include "support/demo_program_dir.h"

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

}  // namespace r7::test
