#include "setup/setup_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <set>

#include "support/temp_dir.h"

namespace r7 {
namespace {

// The whole header, the writing of the file and the error files are checked
// through the save and the restore (setup_save_test, setup_restore_test).
TEST(SetupFileHeader, DateNameAndModelLine) {
  EXPECT_EQ(setup_date_text({2026, 12, 25, 9, 0, 7}), "12/25/2026 09:00:07");
  EXPECT_EQ(setup_file_model("   Model #:  6180"), 6180.0);  // from the third character on
  for (const char* bad : {"   Model #:  ERROR", "   Model #", "   Model #:"})
    EXPECT_EQ(setup_file_model(bad), std::nullopt) << bad;

  EXPECT_EQ(with_default_extension("/home/u/Reg Downloads/1"), "/home/u/Reg Downloads/1.txt");
  EXPECT_EQ(with_default_extension("/home/u/Reg Downloads/1.bak"), "/home/u/Reg Downloads/1.bak");
  EXPECT_EQ(with_default_extension("/home/u/setups.old/12345"), "/home/u/setups.old/12345");
}

TEST(SetupFileDataLines, RegisterBlankNumberOrNothing) {
  const DataLine d = parse_data_line("3500 -32002");
  EXPECT_EQ(d.kind, DataLine::Kind::Data);
  EXPECT_EQ(d.register_no, 3500);
  EXPECT_EQ(d.value, -32002);
  EXPECT_EQ(parse_data_line("110 -30000").value, -30000);  // a value like any other
  EXPECT_EQ(parse_data_line("110 2.5").value, 2);          // halves to the even number
  EXPECT_EQ(parse_data_line("25 0").kind, DataLine::Kind::Data);
  EXPECT_EQ(parse_data_line("").kind, DataLine::Kind::Empty);
  EXPECT_EQ(parse_data_line("   ").kind, DataLine::Kind::Empty);
  for (const char* bad : {"4000", "abc 3", " 4000 3", "4000 x", "4000 ", "4000:3", "70000 1",
                          "1 40000", "1 -32769", "12a 5"}) {
    EXPECT_EQ(parse_data_line(bad).kind, DataLine::Kind::Invalid) << bad;
  }
}

// Files that are not cut short are not called so: the first line that cannot
// be read is named with the reason, wide text by its encoding, and a quoted
// line shows its control characters and is cut at 200 characters.
TEST(SetupFileCheck, UnreadableFilesAreNamedForWhatTheyAre) {
  std::string saved;
  for (const auto& l : setup_header_lines({"6180", "21", "30517", "2", "1850", {2025, 3, 3}}))
    saved += l + "\r\n";
  saved += "100 1\r\n25 0\r\n";
  std::string wide;
  for (const char c : saved)
    wide += std::string{c, '\0'};
  std::string cr_blanks = saved;
  for (std::size_t at = 0; (at = cr_blanks.find("\r\n", at)) != std::string::npos; at += 3)
    cr_blanks.replace(at, 2, "\r \n");
  const std::pair<std::string, std::string> cases[] = {
      {saved.substr(0, saved.size() - 13) + "100\t1\r\n25\t0\r\n",
       "2 line(s) are not a register and a value; the first is line 8 (\"100<TAB>1\"): a tab "
       "stands between register and value, where a blank belongs."},
      {"\xFF\xFE" + wide, "is UTF-16 little-endian text"},
      {wide, "is UTF-16 little-endian (no byte-order mark) text"},
      {cr_blanks, "the first is line 8 (\"100 1<CR> \"): a carriage return stands inside"},
      {saved.substr(0, saved.size() - 6), "was cut short"},
  };
  for (const auto& [content, problem] : cases) {
    const SetupFileCheck check = check_setup_file(split_text_lines(content));
    EXPECT_FALSE(check.usable());
    EXPECT_THAT(setup_file_problem(check, "f.txt"), ::testing::HasSubstr(problem));
  }
  EXPECT_TRUE(check_setup_file(split_text_lines(saved)).usable());
  EXPECT_EQ(quoted_line(std::string(15'000'000, 'x')),
            std::string(200, 'x') + "... (15000000 characters)");
  EXPECT_EQ(quoted_line("\x1B[2J 1"), "<0x1B>[2J 1");
}

// A save killed half way leaves its temporary file behind. Later saves of the
// same name neither fail because of such files nor keep the stale ones: those
// of processes that have ended, and old ones with no process to ask.
TEST(SetupFileWriter, LeftoversOfKilledSavesNeitherBlockNorStay) {
  test::TempDir dir;
  const auto hour_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  const auto leave = [&](const std::string& name, bool old) {
    test::write_file(dir / name, "");
    if (old) std::filesystem::last_write_time(dir / name, hour_ago);
  };
  for (int n = 1; n <= 1000; ++n)
    leave("6180.txt.~" + std::to_string(n), false);  // an earlier version's, just killed
  leave("6180.txt.~1001", true);                     // ... and one long ago
  leave("6180.txt.~999999999-1", false);             // no such process
  leave("6180.txt.~1-1", false);                     // process 1 runs: a save under way
  leave("6180.txt.~notes", true);                    // no name a save makes
  leave("6170.txt.~1", true);                        // another file's
  {
    SetupFileWriter writer(dir / "6180.txt");
    EXPECT_EQ(writer.temporary().filename().string().rfind(
                  "6180.txt.~" + std::to_string(getpid()) + "-", 0),
              0U);
    writer.write_line("25 0");
    writer.commit();
  }
  EXPECT_EQ(test::read_file(dir / "6180.txt"), "25 0\r\n");
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left.size(), 1004U);
  for (const char* gone : {"6180.txt.~1001", "6180.txt.~999999999-1"})
    EXPECT_EQ(left.count(gone), 0U) << gone;
  for (const char* kept : {"6180.txt.~1000", "6180.txt.~1-1", "6180.txt.~notes", "6170.txt.~1"})
    EXPECT_EQ(left.count(kept), 1U) << kept;
}

}  // namespace
}  // namespace r7
