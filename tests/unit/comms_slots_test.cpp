// Reading the protocol slots, binding them, and choosing and opening the port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "serial/comms.h"
#include "serial/line_settings.h"
#include "support/comms_fixture.h"

namespace r7 {
namespace {

using test::CommsFixture;
using test::PortOp;
using ::testing::ElementsAre;

constexpr const char* kBadPort = "Port number is not valid in sub init_comms";
constexpr const char* kBadSettings = "Port settings are not valid in sub init_comms";
constexpr const char* kNotInitialized =
    "This device/protocol has not been initialized. Check RERU5RE.INI";

const std::string kThreeSlots =
    "[COMMS CONTROLS]\n"
    "DEVICE 0 COMM PORT =1\nDEVICE 0 PORT SETTING =9600,N,8,1\n"
    "DEVICE 1 COMM PORT =2\nDEVICE 1 PORT SETTING =9600,N,8,1\n"
    "DEVICE 2 COMM PORT =2\nDEVICE 2 PORT SETTING =38400,n,8,1\n";

TEST_F(CommsFixture, WithoutTheSectionSlotZeroAloneOnPortTwoAndNoMessage) {
  ini("[OTHER]\nX=1\n");
  comms.init_comms();
  EXPECT_EQ(comms.highest_slot(), 0);
  EXPECT_EQ(comms.port_number(0), 2);
  EXPECT_EQ(comms.port_settings(0), "9600,N,8,1");
  EXPECT_EQ(comms.char_gap_ms[0], 1);
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_TRUE(line.events.empty());  // nothing is opened by reading
}

TEST_F(CommsFixture, WithoutAnyFileTheSameDefaultAndNoFileIsCreated) {
  comms.init_comms();
  EXPECT_EQ(comms.highest_slot(), 0);
  EXPECT_EQ(comms.device_name(0), "/dev/ttyS1");
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_FALSE(std::filesystem::exists(settings));
}

TEST_F(CommsFixture, ReadingStopsAtTheFirstMissingPortKey) {
  ini("[comms controls]\n"
      "device 0 comm port=2\nDEVICE 0 PORT SETTING =9600,N,8,1\n"
      "DEVICE 1 COMM PORT =2\nDEVICE 1 PORT SETTING =38400,n,8,1\n"
      "DEVICE 3 COMM PORT =7\nDEVICE 3 PORT SETTING =9600,N,8,1\n");
  comms.init_comms();
  EXPECT_EQ(comms.highest_slot(), 1);
  EXPECT_EQ(comms.port_settings(1), "38400,n,8,1");
  EXPECT_TRUE(prompts.boxes.empty());  // slot 3's bad port number is never read
}

TEST_F(CommsFixture, MissingSettingsKeyIsReportedAndReplacedByTheDefault) {
  ini("[COMMS CONTROLS]\nDEVICE 0 COMM PORT =3\n");
  comms.init_comms();
  EXPECT_THAT(prompts.texts(), ElementsAre(kBadSettings));
  EXPECT_EQ(prompts.boxes[0].title, "");
  EXPECT_EQ(prompts.boxes[0].buttons, Buttons::Ok);
  EXPECT_EQ(comms.port_number(0), 3);
  EXPECT_EQ(comms.port_settings(0), "9600,N,8,1");
}

TEST_F(CommsFixture, SettingsOfTheWrongLengthOrWithoutABaudRateAreRefused) {
  ini("[COMMS CONTROLS]\n"
      "DEVICE 0 COMM PORT =1\nDEVICE 0 PORT SETTING =115200,N,8,1\n"  // 12 characters
      "DEVICE 1 COMM PORT =1\nDEVICE 1 PORT SETTING =0000,N,8,1\n"    // baud 0
      "DEVICE 2 COMM PORT =1\nDEVICE 2 PORT SETTING =FAST,N,8,1\n"    // not a number
      "DEVICE 3 COMM PORT =1\nDEVICE 3 PORT SETTING =300,E,7,2\n");   // 9 characters: fine
  comms.init_comms();
  EXPECT_THAT(prompts.texts(), ElementsAre(kBadSettings, kBadSettings, kBadSettings));
  EXPECT_EQ(comms.port_settings(0), "9600,N,8,1");
  EXPECT_EQ(comms.port_settings(1), "9600,N,8,1");
  EXPECT_EQ(comms.port_settings(2), "9600,N,8,1");
  EXPECT_EQ(comms.port_settings(3), "300,E,7,2");
  EXPECT_THAT(comms.char_gap_ms, ElementsAre(1, 1, 1, 33));
}

TEST_F(CommsFixture, AnInvalidPortNumberLeavesThatSlotOutAndReadingGoesOn) {
  ini("[COMMS CONTROLS]\n"
      "DEVICE 0 COMM PORT =2\nDEVICE 0 PORT SETTING =9600,N,8,1\n"
      "DEVICE 1 COMM PORT =9\nDEVICE 1 PORT SETTING =9600,N,8,1\n"
      "DEVICE 2 COMM PORT =1\nDEVICE 2 PORT SETTING =38400,n,8,1\n");
  comms.init_comms();
  EXPECT_THAT(prompts.texts(), ElementsAre(kBadPort));
  EXPECT_EQ(comms.highest_slot(), 2);
  EXPECT_EQ(comms.port_number(1), 0);
  EXPECT_EQ(comms.port_settings(1), "");
  EXPECT_EQ(comms.port_number(2), 1);
  // An exchange on the left-out slot falls back to slot 0.
  int slot = 1;
  EXPECT_EQ(comms.open_port(slot), 0);
  EXPECT_EQ(slot, 0);
  EXPECT_THAT(prompts.texts(), ElementsAre(kBadPort, kNotInitialized));
}

TEST_F(CommsFixture, OversizedNegativeAndLetterPortValues) {
  ini("[COMMS CONTROLS]\n"
      "DEVICE 0 COMM PORT =99999999999\nDEVICE 1 COMM PORT =-2\n"
      "DEVICE 2 COMM PORT =3x\nDEVICE 2 PORT SETTING =9600,N,8,1\n"
      "DEVICE 3 COMM PORT =abc\n");
  comms.init_comms();
  EXPECT_THAT(prompts.texts(), ElementsAre(kBadPort, kBadPort));
  EXPECT_EQ(comms.highest_slot(), 2);  // "abc" reads as 0 and ends the list
  EXPECT_EQ(comms.port_number(2), 3);
  EXPECT_EQ(comms.port_number(0), 0);
}

TEST_F(CommsFixture, NothingDefinedAfterInvalidEntriesGivesTheDefaultSlotZero) {
  ini("[COMMS CONTROLS]\nDEVICE 0 COMM PORT =5\nDEVICE 0 PORT SETTING =9600,N,8,1\n");
  comms.init_comms();
  EXPECT_THAT(prompts.texts(), ElementsAre(kBadPort));
  EXPECT_EQ(comms.highest_slot(), 0);
  EXPECT_EQ(comms.port_number(0), 2);
  EXPECT_EQ(comms.port_settings(0), "9600,N,8,1");
}

TEST_F(CommsFixture, KeysOfSlotFourAndAboveAreIgnored) {
  std::string text = "[COMMS CONTROLS]\n";
  for (int n = 0; n < 5; ++n) {
    text += "DEVICE " + std::to_string(n) + " COMM PORT =" + std::to_string(n == 4 ? 9 : 1 + n) +
            "\nDEVICE " + std::to_string(n) + " PORT SETTING =1200,N,8,1\n";
  }
  ini(text);
  comms.init_comms();
  EXPECT_EQ(comms.highest_slot(), 3);
  EXPECT_TRUE(prompts.boxes.empty());  // slot 4's invalid port was never looked at
  EXPECT_THAT(comms.char_gap_ms, ElementsAre(8, 8, 8, 8));
}

TEST(CharGap, TenThousandByTheBaudRateRoundedAndAtLeastOne) {
  const std::pair<int, int> table[] = {{300, 33}, {600, 17},  {1200, 8},  {2400, 4}, {4800, 2},
                                       {9600, 1}, {19200, 1}, {38400, 1}, {110, 91}, {115200, 1}};
  for (const auto& [baud, gap] : table)
    EXPECT_EQ(char_gap_for_baud(baud), gap) << baud;
}

TEST(LineSettingsParse, AcceptsThePlainFormsAndRefusesTheRest) {
  const auto a = parse_line_settings("38400,n,8,1");
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->baud, 38400);
  EXPECT_EQ(a->parity, 'N');
  EXPECT_EQ(a->data_bits, 8);
  EXPECT_EQ(a->stop_bits, 1);
  const auto b = parse_line_settings("300,e,7,2");
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->parity, 'E');
  for (const char* bad : {"", "9600", "9600,N,8", "9600,N,8,1,", "9600,X,8,1", "9600,N,9,1",
                          "9600,N,8,3", "9600,NN,8,1", "0,N,8,1", "-96,N,8,1", " 9600,N,8,1"}) {
    EXPECT_FALSE(parse_line_settings(bad).has_value()) << bad;
  }
  EXPECT_EQ(settings_baud("NO PORT DATA"), std::nullopt);
  EXPECT_EQ(settings_baud("9600"), 9600);
}

TEST_F(CommsFixture, DefineCommsControlChecksThePortFirstThenTheSlot) {
  ini(kThreeSlots);
  comms.init_comms();
  comms.define_comms_control(1, 5, "1200,N,8,1");
  comms.define_comms_control(3, 1, "1200,N,8,1");
  comms.define_comms_control(7, 0, "1200,N,8,1");
  EXPECT_THAT(prompts.texts(),
              ElementsAre("port_number% can only be (1 to 4) in sub define_comms_control",
                          "comms_control% can only be (0 to 2) in sub define_comms_control",
                          "port_number% can only be (1 to 4) in sub define_comms_control"));
  EXPECT_EQ(comms.port_number(1), 2);
  EXPECT_EQ(comms.port_settings(1), "9600,N,8,1");
  comms.define_comms_control(1, 4, "1200,N,8,1");
  EXPECT_EQ(comms.port_number(1), 4);
  EXPECT_EQ(comms.port_settings(1), "1200,N,8,1");
}

TEST_F(CommsFixture, OpeningASlotClosesTheSamePortHeldWithOtherSettings) {
  ini(kThreeSlots);
  comms.init_comms();
  int slot = 1;
  EXPECT_EQ(comms.open_port(slot), 1);
  slot = 2;
  EXPECT_EQ(comms.open_port(slot), 2);
  EXPECT_THAT(line.events,
              ElementsAre("open /dev/ttyS1 9600,N,8,1", "clear /dev/ttyS1", "close /dev/ttyS1",
                          "open /dev/ttyS1 38400,n,8,1", "clear /dev/ttyS1"));
  EXPECT_FALSE(comms.comms_ports[1].port->is_open());
  EXPECT_TRUE(comms.comms_ports[2].port->is_open());
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(CommsFixture, ASlotWithIdenticalSettingsOnTheSamePortIsReused) {
  ini("[COMMS CONTROLS]\n"
      "DEVICE 0 COMM PORT =1\nDEVICE 0 PORT SETTING =9600,N,8,1\n"
      "DEVICE 1 COMM PORT =2\nDEVICE 1 PORT SETTING =9600,N,8,1\n"
      "DEVICE 2 COMM PORT =2\nDEVICE 2 PORT SETTING =9600,N,8,1\n");
  comms.init_comms();
  comms.transmit(1, "a", 10);
  line.answer_next_write({"ok", 3, 0, 0});
  EXPECT_EQ(comms.transmit(2, "b", 10), "ok");
  EXPECT_TRUE(comms.comms_ports[1].port->is_open());
  EXPECT_FALSE(comms.comms_ports[2].port->is_open());
  EXPECT_EQ(std::count(line.events.begin(), line.events.end(), "open /dev/ttyS1 9600,N,8,1"), 1);
  // Case counts: "9600,n,8,1" is other settings, so the port is handed over.
  comms.set_port_settings(2, "9600,n,8,1");
  int slot = 2;
  EXPECT_EQ(comms.open_port(slot), 2);
  EXPECT_FALSE(comms.comms_ports[1].port->is_open());
}

TEST_F(CommsFixture, SlotsOnDifferentNumbersThatNameOneDeviceShareIt) {
  // --port puts one device behind every number: slot 0 (port 1) and slot 2
  // (port 2) must not both try to hold it.
  PortNames one_device(settings, std::string("/dev/pts/7"));
  Comms shared(settings, one_device, factory, clock, prompts, log);
  ini(kThreeSlots);
  shared.init_comms();
  line.answer_next_write({"x", 2, 0, 0});
  EXPECT_EQ(shared.transmit(0, "a", 20), "x");
  line.answer_next_write({"y", 2, 0, 0});
  EXPECT_EQ(shared.transmit(2, "b", 20), "y");
  EXPECT_EQ(shared.last_result(), ExchangeResult::Reply);
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_FALSE(shared.comms_ports[0].port->is_open());
}

TEST_F(CommsFixture, AnUndefinedSlotIsReportedAndTheExchangeRunsOnSlotZero) {
  ini(kThreeSlots);
  comms.init_comms();
  int slot = 5;
  EXPECT_EQ(comms.open_port(slot), 0);
  EXPECT_EQ(slot, 0);
  EXPECT_THAT(prompts.texts(), ElementsAre(kNotInitialized));
  line.answer_next_write({"r", 1, 0, 0});
  EXPECT_EQ(comms.transmit(-1, "q", 20), "r");
  EXPECT_EQ(line.events.back(), "write /dev/ttyS0 71");
}

TEST_F(CommsFixture, WithoutASlotZeroToFallBackOnTheExchangeIsEmpty) {
  ini("[COMMS CONTROLS]\nDEVICE 0 COMM PORT =8\n"
      "DEVICE 1 COMM PORT =2\nDEVICE 1 PORT SETTING =9600,N,8,1\n");
  comms.init_comms();
  EXPECT_EQ(comms.transmit(0, "q", 20), "");
  EXPECT_EQ(comms.last_result(), ExchangeResult::PortUnavailable);
  EXPECT_THAT(prompts.texts(), ElementsAre(kBadPort, kNotInitialized));
  EXPECT_TRUE(line.writes.empty());
}

TEST_F(CommsFixture, InitCommsAgainClosesEveryOpenPort) {
  ini(kThreeSlots);
  comms.init_comms();
  comms.transmit(0, "a", 5);
  comms.transmit(1, "a", 5);
  EXPECT_EQ(line.holders.size(), 2U);
  comms.init_comms();
  EXPECT_TRUE(line.holders.empty());
  EXPECT_EQ(line.live_ports.size(), 3U);  // the old objects are gone, three new ones
}

TEST_F(CommsFixture, AnUnavailablePortIsLoggedWarnedAboutAndGivesAnEmptyReply) {
  ini(kThreeSlots);
  comms.init_comms();
  line.remove_device("/dev/ttyS1");
  EXPECT_EQ(comms.transmit(1, "q", 250), "");
  EXPECT_EQ(comms.last_result(), ExchangeResult::PortUnavailable);
  ASSERT_EQ(prompts.boxes.size(), 1U);
  EXPECT_EQ(prompts.boxes[0].text, "Cannot open comm port #2, it is not available");
  EXPECT_EQ(prompts.boxes[0].title, "WARNING");
  EXPECT_EQ(prompts.boxes[0].buttons, Buttons::Ok);
  EXPECT_EQ(error_log(), "03-03-2025, 14:05:09, open_port, ERROR #,  68 \r\n");
  EXPECT_TRUE(line.writes.empty());
  EXPECT_EQ(clock.total_ms(), 0U);  // no waiting on a port that is not there
}

TEST_F(CommsFixture, OtherOpenErrorsShowTheirMessageAndAreTriedThreeTimesAtMost) {
  ini(kThreeSlots);
  comms.init_comms();
  line.fail(PortOp::Open, 70);
  line.answer_next_write({"ok", 1, 0, 0});
  EXPECT_EQ(comms.transmit(1, "q", 50), "ok");
  EXPECT_THAT(prompts.texts(), ElementsAre("PERMISSION TO FILE IS DENIED"));

  prompts.boxes.clear();
  line.fail(PortOp::Open, 70, 10);
  EXPECT_EQ(comms.transmit(2, "q", 50), "");
  EXPECT_EQ(comms.last_result(), ExchangeResult::PortUnavailable);
  EXPECT_EQ(prompts.boxes.size(), 3U);
  const std::string line70 = "03-03-2025, 14:05:09, open_port, ERROR #,  70 \r\n";
  EXPECT_EQ(error_log(), line70 + line70 + line70 + line70);
}

TEST_F(CommsFixture, DeviceErrorsWhileClearingReopenThePort) {
  ini(kThreeSlots);
  comms.init_comms();
  line.fail(PortOp::Clear, 57);
  int slot = 1;
  EXPECT_EQ(comms.open_port(slot), 1);
  EXPECT_THAT(line.events, ElementsAre("open /dev/ttyS1 9600,N,8,1", "close /dev/ttyS1",
                                       "open /dev/ttyS1 9600,N,8,1", "clear /dev/ttyS1"));
  EXPECT_EQ(error_log(), "03-03-2025, 14:05:09, open_port, ERROR #,  57 \r\n");
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(CommsFixture, NewSettingsReachAnOpenPortAtOnceOrItIsOpenedAfresh) {
  ini(kThreeSlots);
  comms.init_comms();
  int slot = 2;
  comms.open_port(slot);
  comms.set_port_settings(2, "38400,n,8,1");
  comms.set_port_settings(2, "9600,N,8,1");
  EXPECT_EQ(line.events.back(), "settings /dev/ttyS1 9600,N,8,1");
  line.fail(PortOp::Settings, 57);
  comms.set_port_settings(2, "38400,n,8,1");
  EXPECT_FALSE(comms.comms_ports[2].port->is_open());
  comms.open_port(slot);
  EXPECT_EQ(line.events[line.events.size() - 2], "open /dev/ttyS1 38400,n,8,1");
}

}  // namespace
}  // namespace r7
