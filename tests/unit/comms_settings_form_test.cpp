// The logic of the port settings dialog; binding, closing and focus are
// checked on the dialog itself (tests/gui).
#include "ui/comms_settings_form.h"

#include <gtest/gtest.h>

#include <string>

#include "app/port_names.h"
#include "app/settings_file.h"
#include "errors/error_log.h"
#include "errors/numbers.h"
#include "serial/comms.h"
#include "sim/fake_clock.h"
#include "support/recording_prompts.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"

namespace r7 {
namespace {

using test::read_file;
using test::write_file;
using Lines = std::vector<std::string>;

class CommsSettingsFormTest : public ::testing::Test {
 protected:
  std::filesystem::path ini() const { return dir / kSettingsFileName; }
  std::string value(const std::string& key) const {
    return read_profile_string(kCommsSection, key, "(missing)", ini());
  }
  void write_slots(const std::string& body) { write_file(ini(), "[COMMS CONTROLS]\r\n" + body); }
  // The texts of frame `index`, "/"-separated.
  std::string frame(int index) const {
    std::string out;
    for (CommsField f : {CommsField::Port, CommsField::Baud, CommsField::Parity,
                         CommsField::DataBits, CommsField::StopBits})
      out += (out.empty() ? "" : "/") + form.text(index, f);
    return out;
  }
  void fill(int index, const std::string& port, const std::string& baud, const std::string& parity,
            const std::string& data_bits, const std::string& stop_bits) {
    form.set_text(index, CommsField::Port, port);
    form.set_text(index, CommsField::Baud, baud);
    form.set_text(index, CommsField::Parity, parity);
    form.set_text(index, CommsField::DataBits, data_bits);
    form.set_text(index, CommsField::StopBits, stop_bits);
  }

  test::TempDir dir;
  test::RecordingPrompts prompts;
  sim::FakeClock clock;
  ErrorLog errors{prompts, clock, dir / "Flash.ERR"};
  PortNames names{ini()};
  test::ScriptedLine line{clock};  // the dialog never opens a port
  test::ScriptedPortFactory factory{line};
  Comms comms{ini(), names, factory, clock, prompts, errors};
  CommsSettingsForm form{comms, prompts};
};

TEST(LeadingNumber, ReadsAsFarAsTheTextFormsANumber) {
  const std::pair<const char*, double> cases[] = {
      {"9600abc", 9600}, {"", 0},     {"1.5", 1.5}, {"abc", 0},     {"  12", 12},
      {"-3", -3},        {"+7", 7},   {"1 2", 12},  {"5.", 5},      {".5", 0.5},
      {"1e3", 1000},     {"2D1", 20}, {"12E", 12},  {"12e+", 12},   {"-", 0},
      {".", 0},          {"0x10", 0}, {"8,1", 8},   {"\t9\n6", 96},
  };
  for (const auto& [text, value] : cases)
    EXPECT_DOUBLE_EQ(leading_number(text), value) << '"' << text << '"';
  EXPECT_GT(leading_number("1e999"), 1e300);
  EXPECT_LT(leading_number("-1e999"), -1e300);
}

TEST_F(CommsSettingsFormTest, FillingSplitsTheSettingsAndUndoesItsOwnChangeMarks) {
  write_slots(
      "DEVICE 0 COMM PORT =1\r\nDEVICE 0 PORT SETTING =1200,e,7,2\r\n"
      "DEVICE 1 COMM PORT =3\r\nDEVICE 1 PORT SETTING =19200,O,8,1\r\n"
      "DEVICE 2 COMM PORT =4\r\nDEVICE 2 PORT SETTING =38400,n,8,1\r\n");
  form.Form_Activate();
  EXPECT_EQ(frame(0), "1/1200/e/7/2");
  EXPECT_EQ(frame(1), "3/19200/O/8/1");
  EXPECT_EQ(frame(2), "4/38400/n/8/1");
  EXPECT_EQ(form.common_port(), "3");
  EXPECT_EQ(form.frame_unfilled, (std::array<bool, 3>{false, false, false}));
  // The frames' marks are undone; the common port field changed from "2" to
  // "3" and stays marked, so closing rewrites all three slots on port 3.
  EXPECT_EQ(form.field_changed, (std::array<bool, 4>{false, false, false, true}));
  EXPECT_TRUE(form.Form_Unload());
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(value(comm_port_key(i)), "3") << i;
  EXPECT_EQ(value(port_setting_key(0)), "1200,e,7,2");
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(CommsSettingsFormTest, ClosingWithoutChangesWritesNothing) {
  write_slots(
      "DEVICE 0 COMM PORT =2\r\nDEVICE 0 PORT SETTING =9600,N,8,1\r\n"
      "DEVICE 1 COMM PORT =2\r\nDEVICE 1 PORT SETTING =9600,n,8,1\r\n"
      "DEVICE 2 COMM PORT =2\r\nDEVICE 2 PORT SETTING =38400,n,8,1\r\n");
  const std::string before = read_file(ini());
  form.Form_Activate();
  form.set_text(0, CommsField::Baud, "4800");  // an unsaved frame edit is not written on closing
  EXPECT_TRUE(form.cmd_OK_Click());
  EXPECT_EQ(read_file(ini()), before);
}

TEST_F(CommsSettingsFormTest, InvalidBaudKeepsThatFrameOutOfTheFileOnClosing) {
  form.Form_Activate();  // first run: frames 1 and 2 unfilled, all three written on closing
  form.set_text(1, CommsField::Baud, "14400");
  EXPECT_TRUE(form.Form_Unload());
  EXPECT_EQ(prompts.texts(), Lines{kBadBaudMessage});
  EXPECT_EQ(value(port_setting_key(0)), "9600,N,8,1");
  EXPECT_EQ(value(comm_port_key(1)), "(missing)");
  EXPECT_EQ(value(port_setting_key(1)), "(missing)");
  EXPECT_EQ(value(port_setting_key(2)), "38400,n,8,1");
  EXPECT_EQ(comms.highest_slot(), 0);  // the slots follow the file at once
}

TEST_F(CommsSettingsFormTest, EachFieldIsCheckedAndAcceptedValuesAreWrittenAsNumbers) {
  form.Form_Activate();
  const char* port = kBadPortMessage;
  const char* baud = kBadBaudMessage;
  const char* parity = kBadParityMessage;
  const char* data_bits = kBadDataBitsMessage;
  const char* stop_bits = kBadStopBitsMessage;
  struct Case {
    const char* fields[5];
    const char* written;  // the settings string when valid
    Lines messages;
  };
  const Case cases[] = {
      {{"1", "300", "N", "7", "1"}, "300,N,7,1", {}},
      {{"4", "38400", "n", "8", "2"}, "38400,n,8,2", {}},
      {{"3", "600", "E", "8", "1"}, "600,E,8,1", {}},
      {{"3", "1200", "o", "8", "1"}, "1200,o,8,1", {}},
      {{"2", "9600abc", "O", "8", "1"}, "9600,O,8,1", {}},  // stored as accepted
      {{"2 ", " 19200", "e", "8.0", "2"}, "19200,e,8,2", {}},
      {{"0", "", "NN", "9", "1.5"}, "", {port, baud, parity, data_bits, stop_bits}},
      {{"2", "14400", "X", "6", "1"}, "", {baud, parity, data_bits}},
      {{"2.5", "9600", "", "8", "1"}, "", {port, parity}},
      {{"5", "4800", "N", "8", "3"}, "", {port, stop_bits}},
  };
  for (const Case& c : cases) {
    prompts.boxes.clear();
    fill(0, c.fields[0], c.fields[1], c.fields[2], c.fields[3], c.fields[4]);
    std::filesystem::remove(ini());
    form.cmd_SaveChanges_Click(0);
    EXPECT_EQ(prompts.texts(), c.messages) << frame(0);
    if (c.messages.empty()) {
      EXPECT_EQ(value(port_setting_key(0)), c.written) << frame(0);
      EXPECT_EQ(value(comm_port_key(0)), c.fields[0][0] + std::string()) << frame(0);
    } else {
      EXPECT_FALSE(std::filesystem::exists(ini())) << frame(0);
    }
  }
}

TEST_F(CommsSettingsFormTest, CopyingSlotsLeavesUndefinedFramesAsTheyAreAndFrameOneStandsIn) {
  write_slots(
      "DEVICE 0 COMM PORT =1\r\nDEVICE 0 PORT SETTING =4800,E,7,1\r\n"
      "DEVICE 1 COMM PORT =3\r\nDEVICE 1 PORT SETTING =9600,N,8,1\r\n");
  comms.init_comms();
  form.copy_slots_to_fields();
  EXPECT_EQ(frame(0), "1/4800/E/7/1");
  EXPECT_EQ(frame(1), "3/9600/N/8/1");
  EXPECT_EQ(frame(2), "2/38400/n/8/1");  // no slot 2: initial texts
  EXPECT_EQ(form.common_port(), "3");
  EXPECT_TRUE(form.field_changed[kCommonPortField]);  // its text changed from "2"

  // Without the Modbus slot the common port comes from frame 1.
  write_slots("DEVICE 0 COMM PORT =4\r\nDEVICE 0 PORT SETTING =9600,N,8,1\r\n");
  form.set_text(1, CommsField::Port, "1");
  form.field_changed = {};
  form.Form_Activate();
  EXPECT_EQ(form.common_port(), "1");
  EXPECT_TRUE(form.field_changed[kCommonPortField]);
  EXPECT_TRUE(form.frame_unfilled[1]);
}

TEST(PortDevicesLine, NamesEveryPortNumberAndTheOtherPortsFound) {
  test::TempDir dir;
  const auto ini = dir / kSettingsFileName;
  write_file(ini, "[PORT NAMES]\r\nPORT 2=/dev/ttyUSB0\r\n");
  const PortNames names(ini);
  const std::vector<FoundPort> found{
      {"ttyACM0", "/dev/ttyACM0", "Modem"},
      {"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART"},
      {"ttyS9", "/dev/ttyS9", ""},
  };
  auto missing = [](int port) { return PortNames::default_device_name(port) + " (not found)"; };
  EXPECT_EQ(port_devices_line(names, found),
            "Port 1: " + missing(1) +
                "; Port 2: /dev/ttyUSB0 (FT232R USB UART); Port 3: " + missing(3) +
                "; Port 4: " + missing(4) + "; also found: /dev/ttyACM0 (Modem), /dev/ttyS9");
  EXPECT_EQ(port_devices_line(names, {}).find("also found"), std::string::npos);
}

}  // namespace
}  // namespace r7
