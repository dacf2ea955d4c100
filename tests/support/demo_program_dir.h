// The demo program directory (sequence files, S-record files, settings file)
// written into a folder of a test.
#pragma once

#include <filesystem>

namespace r7::test {

// Writes every sample file and folder under `dir`, and a settings file with
// slots 0 to 2 on port 2 (9600,N,8,1 / 9600,n,8,1 / 38400,n,8,1).
void write_demo_program_dir(const std::filesystem::path& dir);

}  // namespace r7::test
