// Files are opened for reading in one place: what is not a regular file is
// refused at once (a pipe without a writer never blocks), and so is a file over
// its size limit, for S-record files, setup text files and the settings file.
#include "base/input_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <iterator>

#include "app/settings_file.h"
#include "base/run_error.h"
#include "flash/srecord_check.h"
#include "setup/setup_text.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

TEST(InputFile, WhatIsNotARegularFileOrIsTooLargeIsRefusedWithoutBlocking) {
  test::TempDir dir;
  test::write_file(dir / "big.txt", std::string(100, 'x'));
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "sub");
  struct Case {
    std::filesystem::path file;
    int number;
    const char* says;
  };
  const Case cases[] = {
      {dir / "missing.txt", 53, "missing.txt: no such file"},
      {"", 53, "no file name given"},
      {dir / "sub", 75, "sub is not a regular file (it is a directory)"},
      {dir / "pipe", 75, "pipe is not a regular file (it is a pipe)"},
      {"/dev/null", 75, "(it is a character device)"},
      {dir / "big.txt", 7, "big.txt is 100 bytes, more than the 99"},
  };
  const std::pair<const char*, std::function<void(const std::filesystem::path&)>> readers[] = {
      {"open_input_file", [](const auto& f) { open_input_file(f, 99); }},
      {"read_text_lines", [](const auto& f) { read_text_lines(f, 99); }},
      {"check_srecord_file",
       [](const auto& f) {
         SRecordCheckLimits limits;
         limits.max_bytes = 99;
         check_srecord_file(f, limits);
       }},
  };
  for (const Case& c : cases) {
    for (const auto& [name, read] : readers) {
      SCOPED_TRACE(std::string(name) + " " + c.file.string());
      try {
        read(c.file);
        ADD_FAILURE() << "no error";
      } catch (const RunError& e) {
        EXPECT_EQ(e.number(), c.number);
        EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      }
    }
  }
  std::ifstream in = open_input_file(dir / "big.txt", 100);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string(100, 'x'));

  // A pipe or a directory as the settings file reads as an empty one and is
  // not written over.
  for (const char* name : {"pipe", "sub"}) {
    EXPECT_EQ(read_profile_string("S", "K", "default", dir / name), "default") << name;
    EXPECT_EQ(write_profile_string("S", "K", "v", dir / name), 0) << name;
  }
  EXPECT_EQ(std::filesystem::status(dir / "pipe").type(), std::filesystem::file_type::fifo);
}

}  // namespace
}  // namespace r7
