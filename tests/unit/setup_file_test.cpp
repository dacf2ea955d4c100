#include "setup/setup_file.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace r7
