#include "ui/comms_settings_form.h"

#include <gtest/gtest.h>

#include <string>

#include "app/port_names.h"
#include "app/settings_file.h"
#include "errors/error_log.h"
#include "serial/comms.h"
#include "sim/fake_clock.h"
#include "support/recording_prompts.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

using test::read_file;
using test::RecordingPrompts;
using test::TempDir;
using test::write_file;

class CommsSettingsFormTest : public ::testing::Test {
 protected:
  std::filesystem::path ini() const { return dir / kSettingsFileName; }
  std::string value(const std::string& key) const {
    return read_profile_string(kCommsSection, key, "(missing)", ini());
  }
  void write_slots(const std::string& body) { write_file(ini(), "[COMMS CONTROLS]\r\n" + body); }
  void edit(int index, CommsField field, const std::string& text) {
    form.set_text(index, field, text);
  }

  TempDir dir;
  RecordingPrompts prompts;
  sim::FakeClock clock;
  ErrorLog errors{prompts, clock, dir / "Flash.ERR"};
  PortNames names{ini()};
  test::ScriptedLine line{clock};  // the dialog never opens a port
  test::ScriptedPortFactory factory{line};
  Comms comms{ini(), names, factory, clock, prompts, errors};
  CommsSettingsForm form{comms, prompts};
};

constexpr const char* kThreeSlots =
    "DEVICE 0 COMM PORT =2\r\nDEVICE 0 PORT SETTING =9600,N,8,1\r\n"
    "DEVICE 1 COMM PORT =2\r\nDEVICE 1 PORT SETTING =9600,n,8,1\r\n"
    "DEVICE 2 COMM PORT =2\r\nDEVICE 2 PORT SETTING =38400,n,8,1\r\n";

TEST(LeadingNumber, ReadsAsFarAsTheTextFormsANumber) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"9600abc", 9600}, {"", 0},     {"1.5", 1.5}, {"abc", 0},     {"  12", 12},
      {"-3", -3},        {"+7", 7},   {"1 2", 12},  {"5.", 5},      {".5", 0.5},
      {"1e3", 1000},     {"2D1", 20}, {"12E", 12},  {"12e+", 12},   {"-", 0},
      {".", 0},          {"0x10", 0}, {"8,1", 8},   {"\t9\n6", 96},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(leading_number(c.text), c.value) << '"' << c.text << '"';
  EXPECT_GT(leading_number("1e999"), 1e300);
  EXPECT_LT(leading_number("-1e999"), -1e300);
}

TEST_F(CommsSettingsFormTest, FirstRunWithoutSettingsFileWritesAllThreeSlotsOnOk) {
  form.Form_Activate();
  EXPECT_TRUE(prompts.boxes.empty());
  // Frame 0 from the default slot, frames 1 and 2 keep their initial texts.
  EXPECT_EQ(form.text(0, CommsField::Port), "2");
  EXPECT_EQ(form.text(0, CommsField::Baud), "9600");
  EXPECT_EQ(form.text(0, CommsField::Parity), "N");
  EXPECT_EQ(form.text(0, CommsField::DataBits), "8");
  EXPECT_EQ(form.text(0, CommsField::StopBits), "1");
  EXPECT_EQ(form.text(1, CommsField::Parity), "n");
  EXPECT_EQ(form.text(2, CommsField::Baud), "38400");
  EXPECT_EQ(form.common_port(), "2");
  EXPECT_EQ(form.frame_unfilled, (std::array<bool, 3>{false, true, true}));
  EXPECT_EQ(form.field_changed, (std::array<bool, 4>{false, true, true, true}));
  EXPECT_FALSE(std::filesystem::exists(ini()));  // nothing is written by looking

  EXPECT_TRUE(form.cmd_OK_Click());
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(value(comm_port_key(0)), "2");
  EXPECT_EQ(value(port_setting_key(0)), "9600,N,8,1");
  EXPECT_EQ(value(comm_port_key(1)), "2");
  EXPECT_EQ(value(port_setting_key(1)), "9600,n,8,1");
  EXPECT_EQ(value(comm_port_key(2)), "2");
  EXPECT_EQ(value(port_setting_key(2)), "38400,n,8,1");
  // The slots follow the file at once.
  EXPECT_EQ(comms.highest_slot(), 2);
  EXPECT_EQ(comms.port_settings(2), "38400,n,8,1");
}

TEST_F(CommsSettingsFormTest, FillingSplitsTheSettingsAndUndoesItsOwnChangeMarks) {
  write_slots(
      "DEVICE 0 COMM PORT =1\r\nDEVICE 0 PORT SETTING =1200,e,7,2\r\n"
      "DEVICE 1 COMM PORT =3\r\nDEVICE 1 PORT SETTING =19200,O,8,1\r\n"
      "DEVICE 2 COMM PORT =4\r\nDEVICE 2 PORT SETTING =38400,n,8,1\r\n");
  form.Form_Activate();
  EXPECT_EQ(form.text(0, CommsField::Port), "1");
  EXPECT_EQ(form.text(0, CommsField::Baud), "1200");
  EXPECT_EQ(form.text(0, CommsField::Parity), "e");
  EXPECT_EQ(form.text(0, CommsField::DataBits), "7");
  EXPECT_EQ(form.text(0, CommsField::StopBits), "2");
  EXPECT_EQ(form.text(1, CommsField::Baud), "19200");
  EXPECT_EQ(form.text(2, CommsField::Port), "4");
  EXPECT_EQ(form.common_port(), "3");
  EXPECT_EQ(form.frame_unfilled, (std::array<bool, 3>{false, false, false}));
  // The frames' marks are undone; the common port field changed from "2" to
  // "3" and stays marked, so closing rewrites all three slots on port 3.
  EXPECT_EQ(form.field_changed, (std::array<bool, 4>{false, false, false, true}));
  EXPECT_TRUE(form.Form_Unload());
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(value(comm_port_key(i)), "3") << i;
  EXPECT_EQ(value(port_setting_key(0)), "1200,e,7,2");
}

TEST_F(CommsSettingsFormTest, ClosingWithoutChangesWritesNothing) {
  write_slots(kThreeSlots);
  const std::string before = read_file(ini());
  form.Form_Activate();
  edit(0, CommsField::Baud, "4800");  // an unsaved frame edit is not written on closing
  EXPECT_TRUE(form.cmd_OK_Click());
  EXPECT_EQ(read_file(ini()), before);
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(CommsSettingsFormTest, InvalidBaudKeepsThatFrameOutOfTheFileOnClosing) {
  form.Form_Activate();
  edit(1, CommsField::Baud, "14400");
  EXPECT_TRUE(form.Form_Unload());
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{kBadBaudMessage});
  EXPECT_EQ(prompts.boxes[0].buttons, Buttons::Ok);
  EXPECT_EQ(value(comm_port_key(0)), "2");
  EXPECT_EQ(value(comm_port_key(1)), "(missing)");
  EXPECT_EQ(value(port_setting_key(1)), "(missing)");
  EXPECT_EQ(value(port_setting_key(2)), "38400,n,8,1");
}

TEST_F(CommsSettingsFormTest, CommonPortOutOfRangeKeepsTheDialogOpen) {
  write_slots(kThreeSlots);
  const std::string before = read_file(ini());
  form.Form_Activate();
  for (const char* bad : {"5", "0", "", "x", "2.5"}) {
    prompts.boxes.clear();
    form.set_common_port(bad);
    EXPECT_FALSE(form.cmd_OK_Click()) << bad;
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{kBadPortMessage}) << bad;
  }
  EXPECT_EQ(read_file(ini()), before);
  EXPECT_EQ(form.text(0, CommsField::Port), "2");  // not copied into the frames

  prompts.boxes.clear();
  form.set_common_port("4");
  EXPECT_TRUE(form.Form_Unload());
  EXPECT_TRUE(prompts.boxes.empty());
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(value(comm_port_key(i)), "4") << i;
}

TEST_F(CommsSettingsFormTest, SavingOneFrameWritesOnlyItsTwoKeys) {
  // "2abc" reads as port 2 but would be rewritten as "2" by a save of frame 0.
  write_slots(
      "DEVICE 0 COMM PORT =2abc\r\nDEVICE 0 PORT SETTING =9600,N,8,1\r\n"
      "DEVICE 1 COMM PORT =2abc\r\nDEVICE 1 PORT SETTING =9600,n,8,1\r\n"
      "DEVICE 2 COMM PORT =2\r\nDEVICE 2 PORT SETTING =38400,n,8,1\r\n");
  form.Form_Activate();
  edit(2, CommsField::Baud, "19200");
  EXPECT_TRUE(form.field_changed[2]);
  form.cmd_SaveChanges_Click(2);
  EXPECT_FALSE(form.field_changed[2]);
  EXPECT_EQ(value(port_setting_key(2)), "19200,n,8,1");
  EXPECT_EQ(value(comm_port_key(0)), "2abc");
  EXPECT_EQ(value(comm_port_key(1)), "2abc");
  EXPECT_EQ(comms.port_settings(2), "19200,n,8,1");  // init_comms followed the save
}

TEST_F(CommsSettingsFormTest, EveryFieldIsTestedAndEachRefusalShown) {
  form.Form_Activate();
  edit(2, CommsField::Port, "0");
  edit(2, CommsField::Baud, "");
  edit(2, CommsField::Parity, "NN");
  edit(2, CommsField::DataBits, "9");
  edit(2, CommsField::StopBits, "1.5");
  EXPECT_FALSE(form.settings_valid(2));
  EXPECT_EQ(prompts.texts(),
            (std::vector<std::string>{kBadPortMessage, kBadBaudMessage, kBadParityMessage,
                                      kBadDataBitsMessage, kBadStopBitsMessage}));
  EXPECT_EQ(std::string(kBadStopBitsMessage),
            " The Stop Bits specified is not valid, data will not be saved");
}

TEST_F(CommsSettingsFormTest, AcceptedValuesAndHowTheyAreWritten) {
  form.Form_Activate();
  struct Case {
    const char* port;
    const char* baud;
    const char* parity;
    const char* data_bits;
    const char* stop_bits;
    bool valid;
    const char* written;  // the settings string, when valid
  };
  const Case cases[] = {
      {"1", "300", "N", "7", "1", true, "300,N,7,1"},
      {"4", "38400", "n", "8", "2", true, "38400,n,8,2"},
      {"3", "600", "E", "8", "1", true, "600,E,8,1"},
      {"3", "1200", "o", "8", "1", true, "1200,o,8,1"},
      {"2", "9600abc", "O", "8", "1", true, "9600,O,8,1"},  // stored as accepted
      {"2 ", " 19200", "e", "8.0", "2", true, "19200,e,8,2"},
      {"2", "14400", "N", "8", "1", false, ""},
      {"2", "9600", "X", "8", "1", false, ""},
      {"2", "9600", "", "8", "1", false, ""},
      {"2", "9600", "N", "6", "1", false, ""},
      {"2", "9600", "N", "8", "1.5", false, ""},
      {"2.5", "9600", "N", "8", "1", false, ""},
      {"5", "9600", "N", "8", "1", false, ""},
  };
  for (const Case& c : cases) {
    prompts.boxes.clear();
    edit(0, CommsField::Port, c.port);
    edit(0, CommsField::Baud, c.baud);
    edit(0, CommsField::Parity, c.parity);
    edit(0, CommsField::DataBits, c.data_bits);
    edit(0, CommsField::StopBits, c.stop_bits);
    std::filesystem::remove(ini());
    form.cmd_SaveChanges_Click(0);
    const std::string label =
        std::string(c.port) + "/" + c.baud + "/" + c.parity + "/" + c.data_bits + "/" + c.stop_bits;
    EXPECT_EQ(prompts.boxes.empty(), c.valid) << label;
    if (c.valid) {
      EXPECT_EQ(value(port_setting_key(0)), c.written) << label;
      EXPECT_EQ(value(comm_port_key(0)), std::to_string(static_cast<int>(leading_number(c.port))))
          << label;
    } else {
      EXPECT_FALSE(std::filesystem::exists(ini())) << label;
    }
  }
}

TEST_F(CommsSettingsFormTest, CopyingSlotsLeavesUndefinedFramesAsTheyAre) {
  write_slots(
      "DEVICE 0 COMM PORT =1\r\nDEVICE 0 PORT SETTING =4800,E,7,1\r\n"
      "DEVICE 1 COMM PORT =3\r\nDEVICE 1 PORT SETTING =9600,N,8,1\r\n");
  comms.init_comms();
  form.copy_slots_to_fields();
  EXPECT_EQ(form.text(1, CommsField::Port), "3");
  EXPECT_EQ(form.text(1, CommsField::Baud), "9600");
  EXPECT_EQ(form.text(1, CommsField::Parity), "N");
  EXPECT_EQ(form.text(1, CommsField::DataBits), "8");
  EXPECT_EQ(form.text(1, CommsField::StopBits), "1");
  EXPECT_EQ(form.text(0, CommsField::Baud), "4800");
  EXPECT_EQ(form.text(2, CommsField::Baud), "38400");  // no slot 2: initial text
  EXPECT_EQ(form.common_port(), "3");
  EXPECT_TRUE(form.field_changed[kCommonPortField]);  // its text changed from "2"
}

TEST_F(CommsSettingsFormTest, CommonPortFallsBackToFrameOneWhenTheModbusSlotIsMissing) {
  write_slots("DEVICE 0 COMM PORT =4\r\nDEVICE 0 PORT SETTING =9600,N,8,1\r\n");
  form.set_text(1, CommsField::Port, "3");
  form.field_changed = {};
  form.Form_Activate();
  EXPECT_EQ(form.common_port(), "3");
  EXPECT_TRUE(form.field_changed[kCommonPortField]);
  EXPECT_TRUE(form.frame_unfilled[1]);
}

TEST(PortDevicesLine, NamesEveryPortNumberAndTheOtherPortsFound) {
  TempDir dir;
  const auto ini = dir / kSettingsFileName;
  write_file(ini, "[PORT NAMES]\r\nPORT 2=/dev/ttyUSB0\r\n");
  const PortNames names(ini);
  const std::vector<FoundPort> found{
      {"ttyACM0", "/dev/ttyACM0", "Modem"},
      {"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART"},
      {"ttyS9", "/dev/ttyS9", ""},
  };
  EXPECT_EQ(port_devices_line(names, found),
            "Port 1: " + PortNames::default_device_name(1) +
                " (not found); Port 2: /dev/ttyUSB0 (FT232R USB UART); Port 3: " +
                PortNames::default_device_name(3) +
                " (not found); Port 4: " + PortNames::default_device_name(4) +
                " (not found); also found: /dev/ttyACM0 (Modem), /dev/ttyS9");
  EXPECT_EQ(port_devices_line(names, {}).find("also found"), std::string::npos);
}

}  // namespace
}  // namespace r7
