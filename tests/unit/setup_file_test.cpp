#include "setup/setup_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "errors/run_error.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

namespace fs = std::filesystem;

TEST(SetupFileHeader, DateNameAndModelLine) {
  // The whole header is checked in the save's golden file.
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
  EXPECT_EQ(d.register_no, 3500.0F);
  EXPECT_EQ(d.value, -32002.0F);
  EXPECT_EQ(parse_data_line("25 0").kind, DataLine::Kind::Data);
  EXPECT_EQ(parse_data_line("").kind, DataLine::Kind::Empty);
  EXPECT_EQ(parse_data_line("   ").kind, DataLine::Kind::Empty);
  for (const char* bad : {"4000", "abc 3", " 4000 3", "4000 x", "4000 ", "4000:3", "70000 1",
                          "1 40000", "1 -32769", "1 -30000", "12a 5"}) {
    EXPECT_EQ(parse_data_line(bad).kind, DataLine::Kind::Invalid) << bad;
  }
}

TEST(SetupFileWriterTest, TheOldFileStaysByteForByteUntilTheNewOneIsCommitted) {
  test::TempDir dir;
  const fs::path target = dir / "12345.txt";
  const std::string old = "keep\r\nme\n\x01\xff";
  test::write_file(target, old);
  fs::path temp;
  {
    SetupFileWriter w(target);
    temp = w.temporary();
    w.write_line("new");
  }  // never committed
  EXPECT_EQ(test::read_file(target), old);
  EXPECT_FALSE(fs::exists(temp));
  {
    SetupFileWriter w(target);
    w.write_line("line 1");
    w.write_line("");
    EXPECT_EQ(test::read_file(target), old);
    EXPECT_EQ(w.temporary().parent_path(), target.parent_path());
    w.commit();
  }
  EXPECT_EQ(test::read_file(target), "line 1\r\n\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  EXPECT_THROW(SetupFileWriter(dir / "missing" / "x.txt"), RunError);  // 76: see the save
}

TEST(ErrorStreamTest, LinesWrittenBeforeTheFileExistsGoIntoTheNextFileCreated) {
  test::TempDir dir;
  const fs::path file = dir / "6180_Upload_Error.TXT";
  ErrorStream errors;
  EXPECT_TRUE(errors.write_line("heading"));
  EXPECT_TRUE(errors.write_line("refused 1300"));
  errors.create(file);
  errors.write_line("refused 4000");
  errors.close();
  EXPECT_EQ(test::read_file(file), "heading\r\nrefused 1300\r\nrefused 4000\r\n");

  errors.write_line("dropped with the list");
  errors.clear_pending();
  errors.create(file);  // replaces the older file
  errors.close();
  EXPECT_EQ(test::read_file(file), "");
  errors.remove();
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace r7
