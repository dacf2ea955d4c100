// Reading the protocol slots, binding them, and choosing and opening the port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/line_settings.h"
#include "serial/comms.h"
#include "support/comms_fixture.h"

namespace r7 {
namespace {

using test::CommsFixture;
using test::PortOp;
using ::testing::ElementsAre;
using Lines = std::vector<std::string>;

constexpr const char* kBadPort = "Port number is not valid in sub init_comms";
constexpr const char* kBadSettings = "Port settings are not valid in sub init_comms";
constexpr const char* kNotInitialized =
    "This device/protocol has not been initialized. Check VARNEL FLASH R7.INI";

// A section with slots 0, 1, ...: "port" or "port|settings" each.
std::string section(const Lines& slots) {
  std::string text = "[COMMS CONTROLS]\n";
  for (std::size_t n = 0; n < slots.size(); ++n) {
    const std::size_t bar = slots[n].find('|');
    const std::string device = "DEVICE " + std::to_string(n);
    text += device + " COMM PORT =" + slots[n].substr(0, bar) + "\n";
    if (bar != std::string::npos)
      text += device + " PORT SETTING =" + slots[n].substr(bar + 1) + "\n";
  }
  return text;
}

const std::string kThreeSlots = section({"1|9600,N,8,1", "2|9600,N,8,1", "2|38400,n,8,1"});

// "port settings char-gap" of every slot that init_comms made.
Lines slots(const Comms& comms) {
  Lines out;
  for (int i = 0; i <= comms.highest_slot(); ++i)
    out.push_back(std::to_string(comms.port_number(i)) + " " + comms.port_settings(i) + " " +
                  std::to_string(comms.char_gap_ms(i)));
  return out;
}

struct CommsSlots : CommsFixture {
  void SetUp() override {
    ini(kThreeSlots);
    comms.init_comms(read_protocol_slots(settings));
  }
};

TEST_F(CommsSlots, InitCommsReadsTheSlotsUpToTheFirstMissingPortKey) {
  struct Case {
    std::optional<std::string> ini;  // none: no settings file
    Lines messages;
    Lines slots;
  };
  const Case cases[] = {
      {std::nullopt, {}, {"2 9600,N,8,1 1"}},
      {"[OTHER]\nX=1\n", {}, {"2 9600,N,8,1 1"}},
      // Names without regard to case; slot 3's bad port is never read.
      {"[comms controls]\ndevice 0 comm port=2\nDEVICE 0 PORT SETTING =9600,N,8,1\n"
       "DEVICE 1 COMM PORT =2\nDEVICE 1 PORT SETTING =38400,n,8,1\n"
       "DEVICE 3 COMM PORT =7\nDEVICE 3 PORT SETTING =9600,N,8,1\n",
       {},
       {"2 9600,N,8,1 1", "2 38400,n,8,1 1"}},
      {section({"3"}), {kBadSettings}, {"3 9600,N,8,1 1"}},
      // 12 characters, baud 0, no number, and 9 characters (fine).
      {section({"1|115200,N,8,1", "1|0000,N,8,1", "1|FAST,N,8,1", "1|300,E,7,2"}),
       {kBadSettings, kBadSettings, kBadSettings},
       {"1 9600,N,8,1 1", "1 9600,N,8,1 1", "1 9600,N,8,1 1", "1 300,E,7,2 33"}},
      // An invalid port leaves its slot out and reading goes on.
      {section({"2|9600,N,8,1", "9|9600,N,8,1", "1|38400,n,8,1"}),
       {kBadPort},
       {"2 9600,N,8,1 1", "0  0", "1 38400,n,8,1 1"}},
      // "abc" reads as 0 and ends the list.
      {section({"99999999999", "-2", "3x|9600,N,8,1", "abc"}),
       {kBadPort, kBadPort},
       {"0  0", "0  0", "3 9600,N,8,1 1"}},
      // Nothing defined after the invalid entries: the default slot 0.
      {section({"5|9600,N,8,1"}), {kBadPort}, {"2 9600,N,8,1 1"}},
      // Keys of slot 4 and above are never looked at.
      {section({"1|1200,N,8,1", "2|1200,N,8,1", "3|1200,N,8,1", "4|1200,N,8,1", "9|1200,N,8,1"}),
       {},
       {"1 1200,N,8,1 8", "2 1200,N,8,1 8", "3 1200,N,8,1 8", "4 1200,N,8,1 8"}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(settings);
    if (c.ini) ini(*c.ini);
    prompts.boxes.clear();
    comms.init_comms(read_protocol_slots(settings));
    const std::string label = c.ini.value_or("(no file)");
    EXPECT_EQ(prompts.texts(), c.messages) << label;
    for (const MessageBox& box : prompts.boxes) {
      EXPECT_EQ(box.title, "Port Settings") << label;
      EXPECT_EQ(box.icon, Icon::Exclamation) << label;
      EXPECT_EQ(box.buttons, Buttons::Ok) << label;
    }
    EXPECT_EQ(slots(comms), c.slots) << label;
    if (!c.ini) {
      EXPECT_FALSE(std::filesystem::exists(settings));  // none created
    }
  }
  EXPECT_TRUE(line.events.empty());  // nothing is opened by reading
}

TEST(LineSettings, CharGapAndTheSettingsThatAreAccepted) {
  const std::pair<int, int> gaps[] = {{110, 91}, {600, 17}, {4800, 2}, {115200, 1}};
  for (const auto& [baud, gap] : gaps)
    EXPECT_EQ(char_gap_for_baud(baud), gap) << baud;

  const auto a = parse_line_settings("38400,n,8,1");
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(std::tuple(a->baud, a->parity, a->data_bits, a->stop_bits),
            std::tuple(38400, 'N', 8, 1));
  EXPECT_EQ(parse_line_settings("300,e,7,2").value().parity, 'E');
  for (const char* bad : {"", "9600", "9600,N,8", "9600,N,8,1,", "9600,X,8,1", "9600,N,9,1",
                          "9600,N,8,3", "9600,NN,8,1", "0,N,8,1", "-96,N,8,1", " 9600,N,8,1"}) {
    EXPECT_FALSE(parse_line_settings(bad).has_value()) << bad;
  }
  EXPECT_EQ(settings_baud("NO PORT DATA"), std::nullopt);
  EXPECT_EQ(settings_baud("9600"), 9600);
}

TEST_F(CommsSlots, APortHeldWithOtherSettingsIsClosedAndWithTheSameIsReused) {
  int slot = 1;
  EXPECT_EQ(comms.open_port(slot), 1);
  slot = 2;
  EXPECT_EQ(comms.open_port(slot), 2);
  EXPECT_THAT(line.events,
              ElementsAre("open /dev/ttyS1 9600,N,8,1", "clear /dev/ttyS1", "close /dev/ttyS1",
                          "open /dev/ttyS1 38400,n,8,1", "clear /dev/ttyS1"));
  EXPECT_FALSE(comms.port_open(1));
  EXPECT_TRUE(comms.port_open(2));

  comms.set_port_settings(1, "38400,n,8,1");
  line.answer_next_write({"ok", 3, 0, 0});
  EXPECT_EQ(comms.transmit(1, "b", 10).reply, "ok");  // on slot 2's port
  EXPECT_FALSE(comms.port_open(1));
  EXPECT_EQ(std::count(line.events.begin(), line.events.end(), "open /dev/ttyS1 38400,n,8,1"), 1);
  // Case counts: "38400,N,8,1" is other settings, so the port is handed over.
  comms.set_port_settings(1, "38400,N,8,1");
  EXPECT_EQ(comms.open_port(slot = 1), 1);
  EXPECT_FALSE(comms.port_open(2));
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(CommsSlots, SlotsOnDifferentNumbersThatNameOneDeviceShareIt) {
  // --port puts one device behind every number: slot 0 (port 1) and slot 2
  // (port 2) must not both try to hold it.
  PortNames one_device(settings, std::string("/dev/pts/7"));
  Comms shared(one_device, factory, clock, report);
  shared.init_comms(read_protocol_slots(settings));
  line.answer_next_write({"x", 2, 0, 0});
  EXPECT_EQ(shared.transmit(0, "a", 20).reply, "x");
  line.answer_next_write({"y", 2, 0, 0});
  EXPECT_EQ(shared.transmit(2, "b", 20).reply, "y");
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_FALSE(shared.port_open(0));
}

// A new device named behind the port number (a USB adapter plugged into
// another socket) is taken at the next exchange, not the one held open.
TEST_F(CommsSlots, APortHeldOpenFollowsTheDeviceItsNumberNowNames) {
  ini(kThreeSlots + "[PORT NAMES]\nPORT 2=/dev/ttyUSB0\n");
  comms.transmit(1, "a", 5);
  ini(kThreeSlots + "[PORT NAMES]\nPORT 2=/dev/ttyUSB1\n");
  comms.transmit(1, "b", 5);
  EXPECT_THAT(
      line.events,
      ElementsAre("open /dev/ttyUSB0 9600,N,8,1", "clear /dev/ttyUSB0", "clear /dev/ttyUSB0",
                  "write /dev/ttyUSB0 61", "close /dev/ttyUSB0", "open /dev/ttyUSB1 9600,N,8,1",
                  "clear /dev/ttyUSB1", "clear /dev/ttyUSB1", "write /dev/ttyUSB1 62"));
}

TEST_F(CommsSlots, AnUndefinedOrLeftOutSlotIsReportedAndTheExchangeRunsOnSlotZero) {
  ini(section({"1|9600,N,8,1", "9|9600,N,8,1"}));
  comms.init_comms(read_protocol_slots(settings));
  prompts.boxes.clear();
  for (int requested : {5, 1, 1, 5}) {  // said once a job for each slot
    int slot = requested;
    EXPECT_EQ(comms.open_port(slot), 0);
    EXPECT_EQ(slot, 0);
  }
  const std::string stand_in =
      " is not defined there; its exchanges use slot 0: port 1 "
      "(/dev/ttyS0), 9600,N,8,1.";
  EXPECT_THAT(prompts.texts(),
              ElementsAre(kNotInitialized + ("\rSlot 5" + stand_in),
                          kNotInitialized + ("\rSlot 1 (Modbus Protocol)" + stand_in)));
  line.answer_next_write({"r", 1, 0, 0});
  EXPECT_EQ(comms.transmit(-1, "q", 20).reply, "r");
  EXPECT_EQ(line.events.back(), "write /dev/ttyS0 71");

  // Without a slot 0 to fall back on the exchange is empty.
  ini(section({"8", "2|9600,N,8,1"}));
  prompts.boxes.clear();
  line.writes.clear();
  comms.init_comms(read_protocol_slots(settings));
  EXPECT_EQ(comms.transmit(0, "q", 20), (Exchange{"", ExchangeResult::PortUnavailable}));
  EXPECT_THAT(prompts.texts(),
              ElementsAre(kBadPort, kNotInitialized + std::string("\rSlot 0 (Full Protocol) is "
                                                                  "not defined there: nothing "
                                                                  "is sent.")));
  EXPECT_TRUE(line.writes.empty());
}

TEST_F(CommsSlots, InitCommsAgainClosesEveryOpenPort) {
  comms.transmit(0, "a", 5);
  comms.transmit(1, "a", 5);
  EXPECT_EQ(line.holders.size(), 2U);
  comms.init_comms(read_protocol_slots(settings));
  EXPECT_TRUE(line.holders.empty());
  EXPECT_EQ(line.live_ports.size(), 3U);  // the old objects are gone, three new ones
}

TEST_F(CommsSlots, AnUnavailablePortIsLoggedWarnedAboutAndGivesAnEmptyReply) {
  line.remove_device("/dev/ttyS1");
  EXPECT_EQ(comms.transmit(1, "q", 250), (Exchange{"", ExchangeResult::PortUnavailable}));
  ASSERT_EQ(prompts.boxes.size(), 1U);
  // Then the cause, as the system shows it (tests/integration).
  EXPECT_EQ(prompts.boxes[0].text.rfind("Cannot open comm port #2, it is not available", 0), 0U);
  EXPECT_EQ(prompts.boxes[0].title, "WARNING");
  EXPECT_EQ(error_log(), logged("open_port", 68));
  EXPECT_TRUE(line.writes.empty());
  EXPECT_EQ(clock.total_ms(), 0U);  // no waiting on a port that is not there
  // Said once a job: again only after the ports were closed.
  comms.transmit(1, "q", 250);
  EXPECT_EQ(prompts.boxes.size(), 1U);
  comms.close_all();
  comms.transmit(1, "q", 250);
  EXPECT_EQ(prompts.boxes.size(), 2U);
}

TEST_F(CommsSlots, OtherOpenErrorsShowTheirMessageAndAreTriedThreeTimesAtMost) {
  line.fail(PortOp::Open, 70);
  line.answer_next_write({"ok", 1, 0, 0});
  EXPECT_EQ(comms.transmit(1, "q", 50).reply, "ok");
  EXPECT_THAT(prompts.texts(), ElementsAre("PERMISSION TO FILE IS DENIED"));

  prompts.boxes.clear();
  line.fail(PortOp::Open, 70, 10);
  EXPECT_EQ(comms.transmit(2, "q", 50), (Exchange{"", ExchangeResult::PortUnavailable}));
  EXPECT_EQ(prompts.boxes.size(), 3U);
  const std::string line70 = logged("open_port", 70);
  EXPECT_EQ(error_log(), line70 + line70 + line70 + line70);
}

TEST_F(CommsSlots, DeviceErrorsWhileClearingOrChangingSettingsReopenThePort) {
  line.fail(PortOp::Clear, 57);
  int slot = 2;
  EXPECT_EQ(comms.open_port(slot), 2);
  EXPECT_THAT(line.events, ElementsAre("open /dev/ttyS1 38400,n,8,1", "close /dev/ttyS1",
                                       "open /dev/ttyS1 38400,n,8,1", "clear /dev/ttyS1"));
  EXPECT_EQ(error_log(), logged("open_port", 57));
  EXPECT_TRUE(prompts.boxes.empty());

  // New settings reach an open port at once, or it is opened afresh.
  comms.set_port_settings(2, "9600,N,8,1");
  EXPECT_EQ(line.events.back(), "settings /dev/ttyS1 9600,N,8,1");
  line.fail(PortOp::Settings, 57);
  comms.set_port_settings(2, "38400,n,8,1");
  EXPECT_FALSE(comms.port_open(2));
  comms.open_port(slot);
  EXPECT_EQ(line.events[line.events.size() - 2], "open /dev/ttyS1 38400,n,8,1");
}

}  // namespace
}  // namespace r7
