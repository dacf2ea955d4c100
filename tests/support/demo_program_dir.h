// The demo program directory (sequence files, S-record files, settings file)
// written into a folder of a test.
#pragma once

#include <filesystem>
#include <string>

namespace r7::test {

// Writes every sample file and folder under `dir`, and a settings file with
// slots 0 to 2 on port 2 (9600,N,8,1 / 9600,n,8,1 / 38400,n,8,1).
void write_demo_program_dir(const std::filesystem::path& dir);

// The digest r7sim keeps of its flash (FNV-1a over address and byte of every
// byte written, in address order) of the S2 records of an S-record file, read
// here on its own.
std::string s2_image_digest(const std::filesystem::path& file);

}  // namespace r7::test
