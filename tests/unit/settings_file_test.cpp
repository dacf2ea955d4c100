#include "app/settings_file.h"

#include <gtest/gtest.h>

#include "app/port_names.h"
#include "app/program_dir.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

TEST(SettingsFile, NamesMatchWithoutRegardToCaseOrSurroundingBlanks) {
  TempDir dir;
  const auto ini = dir / "VARNEL FLASH R7.INI";
  write_file(
      ini, "[comms controls]\r\ndevice 0 comm port=3\r\n  DEVICE 0 PORT SETTING  = 9600,n,8,1\r\n");
  EXPECT_EQ(read_profile_int(kCommsSection, comm_port_key(0), 0, ini), 3);
  EXPECT_EQ(read_profile_string(kCommsSection, port_setting_key(0), "NO PORT DATA", ini),
            "9600,n,8,1");
  EXPECT_EQ(read_profile_string(" Comms Controls ", "Device 0 Port Setting", "x", ini),
            "9600,n,8,1");
}

TEST(SettingsFile, IntegersAreReadFromTheirLeadingDigits) {
  TempDir dir;
  const auto ini = dir / "s.ini";
  write_file(ini, "[S]\nA=3abc\nB=abc\nC=\nD=99999999999999999999999\nE=-4\n");
  EXPECT_EQ(read_profile_int("S", "A", 7, ini), 3);
  EXPECT_EQ(read_profile_int("S", "B", 7, ini), 0);
  EXPECT_EQ(read_profile_int("S", "C", 7, ini), 0);
  EXPECT_GT(read_profile_int("S", "D", 7, ini), 32767);  // saturates, never wraps to a valid port
  EXPECT_EQ(read_profile_int("S", "E", 7, ini), -4);
  EXPECT_EQ(read_profile_int("S", "missing", 7, ini), 7);
}

TEST(SettingsFile, MissingFileGivesDefaultsAndReadingCreatesNothing) {
  TempDir dir;
  const auto ini = dir / "none.ini";
  EXPECT_EQ(read_profile_int(kCommsSection, comm_port_key(0), 0, ini), 0);
  EXPECT_EQ(read_profile_string(kCommsSection, port_setting_key(0), "NO PORT DATA", ini),
            "NO PORT DATA");
  EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST(SettingsFile, StringsAreCutAt254Characters) {
  TempDir dir;
  const auto ini = dir / "s.ini";
  write_file(ini, "[S]\nK=" + std::string(300, 'x') + "\n");
  EXPECT_EQ(read_profile_string("S", "K", "", ini), std::string(254, 'x'));
  EXPECT_EQ(read_profile_string("S", "missing", std::string(260, 'd'), ini), std::string(254, 'd'));
}

TEST(SettingsFile, WriteCreatesFileSectionAndKey) {
  TempDir dir;
  const auto ini = dir / "new.ini";
  EXPECT_NE(write_profile_string(kCommsSection, comm_port_key(1), "2", ini), 0);
  EXPECT_NE(write_profile_string(kCommsSection, port_setting_key(1), "9600,N,8,1", ini), 0);
  EXPECT_EQ(read_profile_int(kCommsSection, comm_port_key(1), 0, ini), 2);
  EXPECT_EQ(read_profile_string(kCommsSection, port_setting_key(1), "", ini), "9600,N,8,1");
  EXPECT_FALSE(std::filesystem::exists(dir / "new.ini.new"));
}

TEST(SettingsFile, WriteKeepsOtherSectionsKeysAndComments) {
  TempDir dir;
  const auto ini = dir / "s.ini";
  write_file(ini,
             "; site settings\n[PORT NAMES]\nPORT 2=/dev/ttyUSB0\n\n"
             "[COMMS CONTROLS]\n; the Modbus slot\nDEVICE 1 COMM PORT=2\n");
  ASSERT_NE(write_profile_string(kCommsSection, comm_port_key(1), "3", ini), 0);
  const std::string text = read_file(ini);
  EXPECT_NE(text.find("; site settings"), std::string::npos);
  EXPECT_NE(text.find("; the Modbus slot"), std::string::npos);
  EXPECT_EQ(read_profile_string(kPortNamesSection, "PORT 2", "", ini), "/dev/ttyUSB0");
  EXPECT_EQ(read_profile_int(kCommsSection, comm_port_key(1), 0, ini), 3);
}

TEST(SettingsFile, FailedWriteLeavesTheFileAsItWas) {
  TempDir dir;
  const auto ini = dir / "s.ini";
  write_file(ini, "[S]\nK=1\n");
  // A directory in the way of the temporary file makes the write fail.
  std::filesystem::create_directory(dir / "s.ini.new");
  write_file(dir / "s.ini.new" / "x", "");
  EXPECT_EQ(write_profile_string("S", "K", "2", ini), 0);
  EXPECT_EQ(read_file(ini), "[S]\nK=1\n");
}

TEST(PortNames, SettingsFileOverridesPlatformNamesAndOverrideAllWins) {
  TempDir dir;
  const auto ini = dir / "s.ini";
  write_file(ini, "[PORT NAMES]\nPORT 2=/dev/ttyUSB0\n");
  PortNames names(ini);
  EXPECT_EQ(names.device_name(2), "/dev/ttyUSB0");
  EXPECT_EQ(names.device_name(1), PortNames::default_device_name(1));
  PortNames forced(ini, std::string("/dev/pts/7"));
  EXPECT_EQ(forced.device_name(1), "/dev/pts/7");
}

TEST(ProgramDir, FixedNamesWithBackslashesBecomePlatformPaths) {
  ProgramDir dir("/opt/r7");
  EXPECT_EQ(dir.join("\\Dnld_R7.s19"), std::filesystem::path("/opt/r7/Dnld_R7.s19"));
  EXPECT_EQ(dir.join("\\Reg Downloads\\6180_Upload_Error.TXT"),
            std::filesystem::path("/opt/r7/Reg Downloads/6180_Upload_Error.TXT"));
  EXPECT_EQ(dir.settings_file(), std::filesystem::path("/opt/r7/VARNEL FLASH R7.INI"));
  EXPECT_EQ(ProgramDir::resolve("x", std::string("/tmp")).path(), std::filesystem::path("/tmp"));
}

}  // namespace
}  // namespace r7
