// The setup window's register access helpers against the simulated controller:
// attempts, refusals and their logging, the Retry/Cancel dialogue and the
// return to defaults.
#include <gtest/gtest.h>

#include "modbus/registers.h"
#include "support/setup_fixture.h"

namespace r7 {
namespace {

using test::SetupFixture;

// The decoded text of an exception reply from address 1 to a write.
std::string refusal_text(int code) {
  Modbus m;
  return m.decode_modbus_reply(
      0, with_modbus_crc({1, static_cast<char>(0x86), static_cast<char>(code)}));
}

class SetupHelpers : public SetupFixture {};

TEST_F(SetupHelpers, ReadsAndWritesTryThreeOrFiveTimesAndShowNothing) {
  view.address = "12";  // nobody there
  EXPECT_EQ(setup.ReadDataFromControl(100), "ERROR");
  EXPECT_EQ(log.requests.size(), 3U);
  EXPECT_FALSE(setup.WriteDataToControl(100, 1, setup.ErrorFile));
  EXPECT_EQ(log.requests.size(), 8U);
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_TRUE(view.errors.empty());

  // A damaged reply ends the attempts: an empty value, a write answered.
  view.address = "1";
  controller().faults().crc = 1.0;
  EXPECT_EQ(setup.ReadDataFromControl(100), "");
  EXPECT_TRUE(setup.WriteDataToControl(100, 1, setup.ErrorFile));
  EXPECT_EQ(log.requests.size(), 10U);
}

TEST_F(SetupHelpers, RefusedWritesAreListedAndFiledWithOneHeadingPerClearedList) {
  test::TempDir errors_dir;
  setup.ErrorFile.create(errors_dir / "errors.txt");
  controller().faults().refuse[4000] = 2;
  EXPECT_TRUE(setup.WriteDataToControl(4000, 3, setup.ErrorFile));
  EXPECT_TRUE(setup.WriteDataToControl(100, 7, setup.ErrorFile));  // out of range: exception 3
  EXPECT_TRUE(setup.WriteDataToControl(100, 1, setup.ErrorFile));  // accepted
  EXPECT_EQ(setup.ErrorListCount, 2.0F);
  const std::string refused = refusal_text(2);
  const std::string out_of_range = refusal_text(3);
  EXPECT_EQ(refused.substr(0, 13), "1 134 -32002 ");
  EXPECT_EQ(view.errors, (std::vector<std::string>{
                             refused + "     4000             3    Error",
                             out_of_range + "     100             7    Error",
                         }));

  setup.cmdClearList2_Click();
  EXPECT_TRUE(view.errors.empty());
  EXPECT_TRUE(setup.WriteDataToControl(4000, 9, setup.ErrorFile));
  setup.ErrorFile.close();
  const std::string heading = "Response From Control\tReg No\tValue\t\r\n";
  EXPECT_EQ(test::read_file(errors_dir / "errors.txt"),
            heading + refused + "\t4000\t3\tError\r\n" + out_of_range + "\t100\t7\tError\r\n" +
                heading + refused + "\t4000\t9\tError\r\n");
  EXPECT_EQ(view.errors.size(), 1U);
}

TEST_F(SetupHelpers, ChecksAskOnlyAfterAFailureAndRetryUntilAnswerOrCancel) {
  EXPECT_EQ(setup.CheckCommErrorRead(100, "5"), "5");
  EXPECT_FALSE(setup.CheckCommErrorWrite(100, 1, true));
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_TRUE(log.requests.empty());

  controller().faults().drop = 1.0;
  prompts.answer(Answer::Retry);
  prompts.answer(Answer::Cancel);
  EXPECT_TRUE(setup.CheckCommErrorWrite(100, 1, false));
  EXPECT_EQ(prompts.boxes.size(), 2U);
  EXPECT_EQ(log.requests.size(), 5U);  // one retried write of five attempts
  EXPECT_EQ(setup.CheckCommErrorRead(100, "ERROR"), "ERROR");

  // Silent for 3 s after the return to defaults: a later Retry reads 0.
  controller().faults().drop = 0.0;
  prompts.boxes.clear();
  controller().write_register(reg::kDefaultsCommand, 800);
  const std::string first = setup.ReadDataFromControl(reg::kDefaultsFlag);
  ASSERT_EQ(first, "ERROR");
  for (int i = 0; i < 8; ++i)
    prompts.answer(Answer::Retry);
  EXPECT_EQ(setup.CheckCommErrorRead(reg::kDefaultsFlag, first), "0");
  EXPECT_EQ(prompts.boxes.at(0).text, "Comm Error!");
  EXPECT_EQ(prompts.boxes[0].buttons, Buttons::RetryCancel);
}

TEST_F(SetupHelpers, RegisterNumbersOfLinesAndRequestsThatCannotBeFramed) {
  EXPECT_EQ(setup.GetRegNumber("4000 3"), 4000.0F);
  EXPECT_THROW(setup.GetRegNumber("Model: 6180"), RunError);
  EXPECT_THROW(setup.ReadDataFromControl(70000), RunError);
  EXPECT_THROW(setup.WriteDataToControl(100, 40000, setup.ErrorFile), RunError);
  EXPECT_THROW(setup.WriteDataToControl(100, -30000, setup.ErrorFile), RunError);
  view.address = "one";
  EXPECT_THROW(setup.ReadDataFromControl(100), RunError);
  EXPECT_TRUE(log.requests.empty());
}

TEST_F(SetupHelpers, DefaultControlSucceedsOnlyWhenTheControllerDropsOffAndReadsZero) {
  EXPECT_TRUE(setup.DefaultControl("1"));
  EXPECT_TRUE(log.requests[0].is_write(reg::kDefaultsCommand, 800));
  EXPECT_EQ(controller().read_register(reg::kDefaultsFlag), 0);

  log.requests.clear();
  controller().faults().refuse[reg::kDefaultsCommand] = 3;
  EXPECT_FALSE(setup.DefaultControl("1"));
  ASSERT_EQ(log.requests.size(), 2U);  // the command and one read
  EXPECT_TRUE(log.requests[1].is_read(reg::kDefaultsFlag));
}

class SetupHelpersSlowDefaults : public SetupFixture {
 protected:
  static sim::ControllerConfig slow() {
    auto c = sim::default_config(sim::kModel6180);
    c.timing.defaults_ms = 60000;
    return c;
  }
  SetupHelpersSlowDefaults() : SetupFixture(slow()) {}
};

TEST_F(SetupHelpersSlowDefaults, DefaultControlGivesUpAfterThirteenPolls) {
  EXPECT_FALSE(setup.DefaultControl("1"));
  EXPECT_EQ(log.requests.size(), 1U + 3U + 13U * 3U);
  EXPECT_LT(clock().total_ms(), 60000U);
}

TEST_F(SetupHelpers, CreateDeleteProfileSendsItsTwentySixWritesWhateverHappens) {
  controller().faults().refuse[3503] = 2;
  EXPECT_TRUE(setup.CreateDeleteProfile(7, setup.ErrorFile));
  std::vector<std::pair<int, int>> writes;
  for (const auto& w : log.writes())
    writes.emplace_back(w.register_no, w.value);
  EXPECT_EQ(writes, (std::vector<std::pair<int, int>>{
                        {4000, 7},  {4002, 1},  {4001, 1},  {4060, 2},  {4002, 2},    {4002, 4},
                        {3500, 68}, {3501, 69}, {3502, 76}, {3503, 69}, {3504, 84},   {3505, 69},
                        {3506, 32}, {3507, 32}, {3508, 32}, {3509, 32}, {4001, 1},    {4002, 2},
                        {4003, 0},  {4004, 0},  {4005, 1},  {4006, 1},  {4007, 2000}, {4009, 1},
                        {4010, 0},  {4011, 0}}));
  EXPECT_EQ(view.errors.size(), 1U);  // the refused name character

  // A controller that stops answering after write 3 still gets all 26.
  log.requests.clear();
  log.on_request = [&](std::size_t n) {
    if (n == 3) controller().faults().drop = 1.0;
  };
  EXPECT_FALSE(setup.CreateDeleteProfile(8, setup.ErrorFile));
  EXPECT_EQ(log.requests.size(), 3U + 23U * 5U);
}

}  // namespace
}  // namespace r7
