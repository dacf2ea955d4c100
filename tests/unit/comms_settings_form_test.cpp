// The logic of the port settings dialog; binding, closing and focus are
// checked on the dialog itself (tests/gui).
#include "ui/comms_settings_form.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/settings_file.h"
#include "base/numbers.h"
#include "support/comms_fixture.h"

namespace r7 {
namespace {

using test::read_file;
using test::write_file;
using Lines = std::vector<std::string>;

constexpr CommsField kFields[] = {CommsField::Port, CommsField::Baud, CommsField::Parity,
                                  CommsField::DataBits, CommsField::StopBits};

// The form on a settings file of its own; nothing answers on the line (the
// dialog never opens a port).
struct FormRig : test::CommsRig {
  std::string value(const std::string& key) const {
    return read_profile_string(kCommsSection, key, "(missing)", settings);
  }
  void write_slots(const std::string& body) { ini("[COMMS CONTROLS]\r\n" + body); }
  // The slots in the settings file: "port/settings" of slots 0..2.
  std::string slots() const {
    std::string out;
    for (int i = 0; i < 3; ++i)
      out += (i == 0 ? "" : " ") + value(comm_port_key(i)) + "/" + value(port_setting_key(i));
    return out;
  }
  // The texts of frame `index`, "/"-separated.
  std::string frame(int index) const {
    std::string out;
    for (CommsField f : kFields)
      out += (out.empty() ? "" : "/") + form.text(index, f);
    return out;
  }

  CommsSettingsForm form{comms, prompts, settings};
};

class CommsSettingsFormTest : public ::testing::Test, public FormRig {};

// Slot 0 on port 1, the Modbus slot on port 3, the bootloader slot on port 4.
constexpr const char* kSpreadSlots =
    "DEVICE 0 COMM PORT =1\r\nDEVICE 0 PORT SETTING =1200,e,7,2\r\n"
    "DEVICE 1 COMM PORT =3\r\nDEVICE 1 PORT SETTING =19200,O,8,1\r\n"
    "DEVICE 2 COMM PORT =4\r\nDEVICE 2 PORT SETTING =38400,n,8,1\r\n";

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

TEST_F(CommsSettingsFormTest, FillingShowsTheSlotsAndMarksNothing) {
  write_slots(kSpreadSlots);
  form.Form_Activate();
  EXPECT_EQ(frame(0), "1/1200/e/7/2");
  EXPECT_EQ(frame(1), "3/19200/O/8/1");
  EXPECT_EQ(frame(2), "4/38400/n/8/1");
  EXPECT_EQ(form.common_port(), "3");
  for (int i = 0; i <= kCommonPortField; ++i)
    EXPECT_FALSE(form.changed(i)) << i;
  for (int i = 0; i < kProtocolFrames; ++i)
    EXPECT_FALSE(form.slot_missing(i)) << i;

  // Without the Modbus slot (and the bootloader slot) those frames show their
  // initial texts on port 2, which the common port field shows too; the setup
  // window's copy does the same without rereading the file.
  write_slots("DEVICE 0 COMM PORT =4\r\nDEVICE 0 PORT SETTING =4800,E,7,1\r\n");
  comms.init_comms(read_protocol_slots(settings));
  form.set_common_port("1");
  form.copy_slots_to_fields();
  EXPECT_EQ(frame(0), "4/4800/E/7/1");
  EXPECT_EQ(frame(1), "2/9600/n/8/1");
  EXPECT_EQ(frame(2), "2/38400/n/8/1");
  EXPECT_EQ(form.common_port(), "2");
  EXPECT_FALSE(form.changed(kCommonPortField));
  EXPECT_EQ((std::array{form.slot_missing(0), form.slot_missing(1), form.slot_missing(2)}),
            (std::array{false, true, true}));
}

// OK writes what the user changed, and on a first run the slots the settings
// file lacks (a refused slot stays missing); an unsaved frame edit is asked
// about (the answers: tests/gui). Cancel, Escape and the common port: see tests/gui.
TEST(CommsSettingsClosing, WritesOnlyTheUsersChangesAndMissingSlots) {
  using Edit = std::function<void(CommsSettingsForm&)>;
  const Edit none = [](CommsSettingsForm&) {};
  const Edit baud = [](CommsSettingsForm& f) { f.set_text(2, CommsField::Baud, "9600"); };
  const Edit bad_baud = [](CommsSettingsForm& f) { f.set_text(1, CommsField::Baud, "14400"); };
  const char* no_bootloader_slot =
      "DEVICE 0 COMM PORT =1\r\nDEVICE 0 PORT SETTING =1200,e,7,2\r\n"
      "DEVICE 1 COMM PORT =3\r\nDEVICE 1 PORT SETTING =19200,O,8,1\r\n";
  struct Case {
    const char* name;
    const char* file;  // the slots at the start; nullptr: no settings file
    Edit edit;
    const char* slots;  // in the file afterwards; nullptr: the file is as it was
    Lines messages;
  };
  const Case cases[] = {
      {"unsaved frame edit, saved by the default answer",
       kSpreadSlots,
       baud,
       "1/1200,e,7,2 3/19200,O,8,1 4/9600,n,8,1",
       {"Save the changes to Xon Protocol?"}},
      {"first run", nullptr, none, "2/9600,N,8,1 2/9600,n,8,1 2/38400,n,8,1", {}},
      {"first run, bad baud",
       nullptr,
       bad_baud,
       "2/9600,N,8,1 (missing)/(missing) 2/38400,n,8,1",
       {kBadBaudMessage}},
      {"no bootloader slot",
       no_bootloader_slot,
       none,
       "1/1200,e,7,2 3/19200,O,8,1 3/38400,n,8,1",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormRig r;
    if (c.file != nullptr) r.write_slots(c.file);
    const std::string before = read_file(r.settings);
    r.form.Form_Activate();
    c.edit(r.form);
    EXPECT_TRUE(r.form.cmd_OK_Click());
    EXPECT_EQ(r.prompts.texts(), c.messages);
    if (c.slots == nullptr) {
      EXPECT_EQ(read_file(r.settings), before);
      continue;
    }
    EXPECT_EQ(r.slots(), c.slots);
    if (c.messages.size() == 1 && c.messages[0] == kBadBaudMessage) continue;  // still missing
    // A second OK writes nothing more ("2abc" reads as 2; a write would store "2").
    for (int i = 0; i < kProtocolFrames; ++i) {
      const std::string port = r.value(comm_port_key(i));
      if (port != "(missing)")
        write_profile_string(kCommsSection, comm_port_key(i), port + "abc", r.settings);
    }
    const std::string written = read_file(r.settings);
    EXPECT_TRUE(r.form.cmd_OK_Click());
    EXPECT_EQ(read_file(r.settings), written);
  }
}

// Save Changes in turn on frame 0: accepted fields are written as numbers; a
// refused field shows its message and gets the saved text back, and the file
// stays as it was. The other frames are never written.
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
    const char* shown;  // the frame afterwards when refused
  };
  const Case cases[] = {
      {{"1", "300", "N", "7", "1"}, "300,N,7,1", {}, nullptr},
      {{"4", "38400", "n", "8", "2"}, "38400,n,8,2", {}, nullptr},
      {{"3", "600", "E", "8", "1"}, "600,E,8,1", {}, nullptr},
      {{"3", "1200", "o", "8", "1"}, "1200,o,8,1", {}, nullptr},
      {{"2", "9600abc", "O", "8", "1"}, "9600,O,8,1", {}, nullptr},  // stored as accepted
      {{"2 ", " 19200", "e", "8.0", "2"}, "19200,e,8,2", {}, nullptr},
      // Saved from here on: port 2, "19200,e,8,2".
      {{"0", "", "NN", "9", "1.5"},
       "",
       {port, baud, parity, data_bits, stop_bits},
       "2/19200/e/8/2"},
      {{"2", "14400", "X", "6", "1"}, "", {baud, parity, data_bits}, "2/19200/e/8/1"},
      {{"2.5", "9600", "", "8", "1"}, "", {port, parity}, "2/9600/e/8/1"},
      {{"5", "4800", "N", "8", "3"}, "", {port, stop_bits}, "2/4800/N/8/2"},
  };
  for (const Case& c : cases) {
    const std::string typed = std::string(c.fields[0]) + "/" + c.fields[1] + "/" + c.fields[2] +
                              "/" + c.fields[3] + "/" + c.fields[4];
    SCOPED_TRACE(typed);
    prompts.boxes.clear();
    for (int f = 0; f < 5; ++f)
      form.set_text(0, kFields[f], c.fields[f]);
    const std::string before = read_file(settings);
    form.cmd_SaveChanges_Click(0);
    EXPECT_EQ(prompts.texts(), c.messages);
    EXPECT_EQ(form.changed(0), !c.messages.empty());
    if (c.messages.empty()) {
      EXPECT_EQ(value(port_setting_key(0)), c.written);
      EXPECT_EQ(value(comm_port_key(0)), c.fields[0][0] + std::string());
      EXPECT_EQ(frame(0), typed);
    } else {
      EXPECT_EQ(read_file(settings), before);
      EXPECT_EQ(frame(0), c.shown);
    }
  }
  // Only frame 0 was ever written, and the slots were read again after each save.
  EXPECT_EQ(slots(), "2/19200,e,8,2 (missing)/(missing) (missing)/(missing)");
  EXPECT_EQ(comms.port_settings(0), "19200,e,8,2");
}

// A device is "(not found)" only when no file has its name: a link to a
// pseudo-terminal that Qt does not list is there.
TEST(PortDevicesLine, NamesEveryPortNumberAndTheOtherPortsFound) {
  test::TempDir dir;
  const auto ini = dir / kSettingsFileName;
  write_file(dir / "pts-3", "");
  std::filesystem::create_symlink(dir / "pts-3", dir / "link");
  std::filesystem::create_symlink(dir / "gone", dir / "dangling");
  const std::string link = (dir / "link").string();
  const std::string absent = (dir / "ttyUSB7").string();
  const std::string dangling = (dir / "dangling").string();
  write_file(ini, "[PORT NAMES]\r\nPORT 1=" + link + "\r\nPORT 2=/dev/ttyUSB0\r\nPORT 3=" + absent +
                      "\r\nPORT 4=" + dangling + "\r\n");
  const PortNames names(ini);
  const std::vector<FoundPort> found{
      {"ttyACM0", "/dev/ttyACM0", "Modem"},
      {"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART"},
      {"ttyS9", "/dev/ttyS9", ""},
  };
  EXPECT_EQ(port_devices_line(names, found),
            "Port 1: " + link + "; Port 2: /dev/ttyUSB0 (FT232R USB UART); Port 3: " + absent +
                " (not found); Port 4: " + dangling +
                " (not found); also found: /dev/ttyACM0 (Modem), /dev/ttyS9");
  EXPECT_EQ(port_devices_line(names, {}).find("also found"), std::string::npos);
  // Serial device servers are not looked for among the devices.
  write_file(ini, "[PORT NAMES]\r\nPORT 1=rfc2217://cab-3:4001\r\nPORT 2=socket://cab-3\r\n");
  EXPECT_EQ(port_devices_line(PortNames(ini), {}).substr(0, 97),
            "Port 1: rfc2217://cab-3:4001 (serial device server); Port 2: socket://cab-3 (not a "
            "valid address)");
}

}  // namespace
}  // namespace r7
