#include "app/program_dir.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace r7 {
namespace {

using test::read_file;
using test::write_file;

// An unpacked package: usr/bin beside usr/share/r7flash, and a home folder.
struct InstalledLayout : ::testing::Test {
  test::TempDir root;
  std::filesystem::path bin = root / "usr/bin";
  std::filesystem::path share = root / "usr/share/r7flash";
  std::filesystem::path data = root / "home/.local/share";
  std::filesystem::path user = data / "r7flash";

  InstalledLayout() {
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(share / "Download Sequences");
    write_file(share / "VARNEL FLASH R7.INI", "[COMMS CONTROLS]\n");
    write_file(share / "Download Sequences/6180.cds", "cds");
    std::filesystem::permissions(share / "VARNEL FLASH R7.INI", std::filesystem::perms::owner_read);
  }
};

TEST_F(InstalledLayout, FirstStartCopiesTheTemplateIntoTheUsersFolder) {
  const ProgramDir dir = ProgramDir::locate(bin, data);
  EXPECT_EQ(dir.origin(), ProgramDir::Origin::UserData);
  EXPECT_EQ(dir.path(), user);
  EXPECT_EQ(dir.template_dir(), share);
  EXPECT_EQ(read_file(user / "Download Sequences/6180.cds"), "cds");
  EXPECT_TRUE(std::filesystem::is_directory(dir.setups_dir()));
  // The copy of a read-only template file is the user's to change.
  EXPECT_NE(std::filesystem::status(dir.settings_file()).permissions() &
                std::filesystem::perms::owner_write,
            std::filesystem::perms::none);
  EXPECT_EQ(dir.description(),
            "Program directory: " + user.string() + " (the user's copy of " + share.string() + ")");
}

TEST_F(InstalledLayout, LaterStartsKeepTheUsersFilesAndAddNewTemplateFiles) {
  ProgramDir::locate(bin, data);
  write_file(user / "VARNEL FLASH R7.INI", "changed");
  std::filesystem::remove(user / "Download Sequences/6180.cds");
  write_file(share / "Download Sequences/6170.cds", "new");
  ProgramDir::locate(bin, data);
  EXPECT_EQ(read_file(user / "VARNEL FLASH R7.INI"), "changed");
  EXPECT_EQ(read_file(user / "Download Sequences/6170.cds"), "new");
  EXPECT_EQ(read_file(user / "Download Sequences/6180.cds"), "cds");
  EXPECT_FALSE(std::filesystem::exists(user / "VARNEL FLASH R7.INI.part"));
}

TEST_F(InstalledLayout, ASettingsFileBesideTheExecutableOrNoTemplateKeepsTheExecutablesFolder) {
  write_file(bin / "VARNEL FLASH R7.INI", "");
  EXPECT_EQ(ProgramDir::locate(bin, data).path(), bin);  // a portable folder
  std::filesystem::remove(bin / "VARNEL FLASH R7.INI");
  const std::filesystem::path tree = root / "build/bin";  // a build tree
  std::filesystem::create_directories(tree);
  EXPECT_EQ(ProgramDir::locate(tree, data).origin(), ProgramDir::Origin::Executable);
  EXPECT_EQ(ProgramDir::locate(bin, std::nullopt).path(), bin);  // no home folder known
  EXPECT_FALSE(std::filesystem::exists(user));
}

TEST_F(InstalledLayout, AFolderThatCannotBeMadeIsNamed) {
  write_file(root / "home", "a file where the home folder should be");
  const ProgramDir dir = ProgramDir::locate(bin, data);
  EXPECT_NE(dir.description().find("; not copied: " + user.string()), std::string::npos)
      << dir.description();
}

}  // namespace
}  // namespace r7
