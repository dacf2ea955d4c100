#include "app/settings_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace r7 {
namespace {

using test::read_file;
using test::write_file;

struct SettingsFile : ::testing::Test {
  test::TempDir dir;
  std::filesystem::path ini = dir / "VARNEL FLASH R7.INI";
};

// Case and leading digits as the slots read them: comms_slots_test.
TEST_F(SettingsFile, NamesMatchWithoutRegardToBlanksAndLargeIntegersSaturate) {
  write_file(ini,
             "[comms controls]\r\n  DEVICE 0 PORT SETTING  = 9600,n,8,1\r\n"
             "[S]\nD=99999999999999999999999\n");
  EXPECT_EQ(read_profile_string(" Comms Controls ", "Device 0 Port Setting", "x", ini),
            "9600,n,8,1");
  EXPECT_GT(read_profile_int("S", "D", 7, ini), 32767);  // never wraps to a valid port
  EXPECT_EQ(read_profile_int("S", "F", 7, ini), 7);
}

TEST_F(SettingsFile, MissingFileGivesDefaultsAndStringsAreCutAt254Characters) {
  EXPECT_EQ(read_profile_string(kCommsSection, port_setting_key(0), "NO PORT DATA", ini),
            "NO PORT DATA");
  EXPECT_FALSE(std::filesystem::exists(ini));
  write_file(ini, "[S]\nK=" + std::string(300, 'x') + "\n");
  EXPECT_EQ(read_profile_string("S", "K", "", ini), std::string(254, 'x'));
  EXPECT_EQ(read_profile_string("S", "missing", std::string(260, 'd'), ini), std::string(254, 'd'));
}

TEST_F(SettingsFile, WriteCreatesOrKeepsOtherSectionsKeysAndComments) {
  EXPECT_NE(write_profile_string(kCommsSection, port_setting_key(1), "9600,N,8,1", ini), 0);
  EXPECT_EQ(read_profile_string(kCommsSection, port_setting_key(1), "", ini), "9600,N,8,1");
  EXPECT_FALSE(std::filesystem::exists(dir / "VARNEL FLASH R7.INI.new"));

  write_file(ini,
             "; site settings\n[PORT NAMES]\nPORT 2=/dev/ttyUSB0\n\n"
             "[COMMS CONTROLS]\n; the Modbus slot\nDEVICE 1 COMM PORT=2\n");
  ASSERT_NE(write_profile_string(kCommsSection, comm_port_key(1), "3", ini), 0);
  const std::string text = read_file(ini);
  EXPECT_NE(text.find("; site settings"), std::string::npos);
  EXPECT_NE(text.find("; the Modbus slot"), std::string::npos);
  EXPECT_EQ(read_profile_string(kPortNamesSection, "PORT 2", "", ini), "/dev/ttyUSB0");
  EXPECT_EQ(read_profile_int(kCommsSection, comm_port_key(1), 0, ini), 3);

  // A directory in the way of the temporary file makes the write fail.
  std::filesystem::create_directory(dir / "VARNEL FLASH R7.INI.new");
  write_file(dir / "VARNEL FLASH R7.INI.new" / "x", "");
  EXPECT_EQ(write_profile_string(kCommsSection, comm_port_key(1), "4", ini), 0);
  EXPECT_EQ(read_file(ini), text);
}

// A save edits the file in place: the line ends it has (CR LF) and every byte
// the edit does not touch stay; new lines take the file's line end.
TEST_F(SettingsFile, WritesKeepLineEndsAndEveryOtherByte) {
  const std::string original =
      "; site\r\n[COMMS CONTROLS]\r\nDEVICE 0 COMM PORT = 2 \r\n\r\n"
      "[PORT NAMES]\r\nPORT 2=/dev/ttyUSB0";
  write_file(ini, original);
  ASSERT_NE(write_profile_string(kCommsSection, comm_port_key(0), "3", ini), 0);
  ASSERT_NE(write_profile_string(kCommsSection, port_setting_key(0), "19200,N,8,1", ini), 0);
  ASSERT_NE(write_profile_string("Extra", "K", "v", ini), 0);
  EXPECT_EQ(read_file(ini),
            "; site\r\n[COMMS CONTROLS]\r\nDEVICE 0 COMM PORT =3\r\n"
            "DEVICE 0 PORT SETTING=19200,N,8,1\r\n\r\n"
            "[PORT NAMES]\r\nPORT 2=/dev/ttyUSB0\r\n[Extra]\r\nK=v\r\n");
  EXPECT_EQ(read_profile_int(kCommsSection, comm_port_key(0), 0, ini), 3);
  EXPECT_EQ(read_profile_string(kCommsSection, port_setting_key(0), "", ini), "19200,N,8,1");
  EXPECT_EQ(read_profile_string(kPortNamesSection, "PORT 2", "", ini), "/dev/ttyUSB0");
  EXPECT_EQ(with_settings_value("[S]\nK=1\n", "s", " k ", "2"), "[S]\nK=2\n");
}

}  // namespace
}  // namespace r7
