// The setup window's register access against the simulated controller:
// attempts, refusals and their logging, the Retry/Cancel dialogue and the
// return to defaults.
#include <gtest/gtest.h>

#include "modbus/registers.h"
#include "support/modbus_frames.h"
#include "support/setup_fixture.h"

namespace r7 {
namespace {

using test::SetupFixture;

// The decoded text of an exception reply from address 1 to a write.
std::string refusal_text(int code) {
  return decode_modbus_reply(with_modbus_crc(test::bytes({1, 0x86, code}))).text;
}

class SetupHelpers : public SetupFixture {};

TEST_F(SetupHelpers, ReadsAndWritesTryThreeOrFiveTimesAndShowNothing) {
  RegisterAccess nobody(comms, prompts, session, 12);
  EXPECT_EQ(nobody.read_value(100).text(), "ERROR");
  EXPECT_EQ(log.requests.size(), 3U);
  EXPECT_EQ(nobody.write_value(100, 1), WriteResult::NoAnswer);
  EXPECT_EQ(log.requests.size(), 8U);
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_TRUE(view.errors.empty());

  // Damaged replies are tried again like missing ones.
  controller().faults().crc = 1.0;
  EXPECT_FALSE(access.read_value(100).answered());
  EXPECT_EQ(access.write_value(100, 1), WriteResult::NoAnswer);
  EXPECT_EQ(log.requests.size(), 16U);

  // Values that a failure code once stood for are values (110 holds any word).
  controller().faults().crc = 0.0;
  controller().set_register(110, -32002);
  EXPECT_EQ(access.read_value(110).text(), "-32002");
  EXPECT_FALSE(access.read_value(110).nothing_to_save());
  EXPECT_EQ(access.write_value(110, -30000), WriteResult::Acknowledged);
  EXPECT_EQ(controller().read_register(110), -30000);
  EXPECT_TRUE(view.errors.empty());
}

TEST_F(SetupHelpers, RefusedWritesAreListedAndFiledWithOneHeadingPerClearedList) {
  test::TempDir errors_dir;
  session.error_file().create(errors_dir / "errors.txt");
  controller().faults().refuse[4000] = 2;
  EXPECT_EQ(access.write_value(4000, 3), WriteResult::Refused);
  EXPECT_EQ(access.write_value(100, 7), WriteResult::Refused);  // out of range: exception 3
  EXPECT_EQ(access.write_value(100, 1), WriteResult::Acknowledged);
  EXPECT_EQ(session.refusals(), 2);
  const std::string refused = refusal_text(2);
  const std::string out_of_range = refusal_text(3);
  EXPECT_EQ(refused.substr(0, 13), "1 134 -32002 ");
  EXPECT_EQ(view.errors, (std::vector<std::string>{
                             refused + "     4000             3    Error",
                             out_of_range + "     100             7    Error",
                         }));

  session.clear_errors();
  EXPECT_TRUE(view.errors.empty());
  access.write_value(4000, 9);
  session.error_file().close();
  const std::string heading = "Response From Control\tReg No\tValue\t\r\n";
  EXPECT_EQ(test::read_file(errors_dir / "errors.txt"),
            heading + refused + "\t4000\t3\tError\r\n" + out_of_range + "\t100\t7\tError\r\n" +
                heading + refused + "\t4000\t9\tError\r\n");
  EXPECT_EQ(view.errors.size(), 1U);
}

TEST_F(SetupHelpers, QuestionsComeOnlyAfterNoAnswerAndRepeatUntilAnswerOrCancel) {
  EXPECT_FALSE(access.write_given_up(100, 1));
  EXPECT_TRUE(prompts.boxes.empty());

  controller().faults().drop = 1.0;
  prompts.answer(Answer::Retry);
  prompts.answer(Answer::Cancel);
  log.requests.clear();
  EXPECT_TRUE(access.ask_write_retry(100, 1));
  EXPECT_EQ(prompts.boxes.size(), 2U);
  EXPECT_EQ(log.requests.size(), 5U);  // one retried write of five attempts
  EXPECT_FALSE(access.ask_and_read_again(100).answered());

  // Silent for 3 s after the return to defaults: a later Retry reads 0.
  controller().faults().drop = 0.0;
  prompts.boxes.clear();
  controller().write_register(reg::kDefaultsCommand, 800);
  for (int i = 0; i < 8; ++i)
    prompts.answer(Answer::Retry);
  const ValueRead flag = access.read_value_or_ask(reg::kDefaultsFlag);
  ASSERT_TRUE(flag.has_value());
  EXPECT_EQ(flag.value, 0);
  EXPECT_EQ(prompts.boxes.at(0).text, "Comm Error!");
  EXPECT_EQ(prompts.boxes[0].buttons, Buttons::RetryCancel);
}

// A profile command whose reply was lost is not sent again when 4003 shows
// that it took effect; one that did not take effect is.
TEST_F(SetupHelpers, ProfileCommandsAreCheckedBeforeTheyAreSentAgain) {
  struct Case {
    int command;
    int select_profile;  // selected before the command (step 1)
    bool reply_lost;     // the controller did it, its reply got lost
    std::size_t profiles_after;
    std::size_t command_writes;
  };
  // At the defaults only profile 1 exists (end step only).
  const Case cases[] = {{reg::kProfileCreate, 2, true, 2, 1},
                        {reg::kProfileErase, 1, true, 0, 1},
                        {reg::kProfileCreate, 2, false, 2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    controller().restore_defaults();
    access.write_value(reg::kProfileSelect, c.select_profile);
    access.write_value(reg::kStepSelect, 1);
    log.requests.clear();
    controller().faults().drop = c.reply_lost ? 1.0 : 0.0;  // the next reply only
    log.on_request = [&](std::size_t) { controller().faults().drop = 0.0; };
    EXPECT_EQ(access.write_value(reg::kProfileCommand, c.command), WriteResult::Acknowledged);
    log.on_request = nullptr;
    EXPECT_EQ(controller().profiles().size(), c.profiles_after);
    EXPECT_EQ(std::count_if(log.requests.begin(), log.requests.end(),
                            [](const test::SentRequest& r) { return r.function == 6; }),
              static_cast<long>(c.command_writes));
    if (c.reply_lost) EXPECT_TRUE(log.requests[1].is_read(reg::kStepType));
  }
}

TEST_F(SetupHelpers, LinesWithoutRegistersAndRequestsThatCannotBeFramed) {
  EXPECT_EQ(reg_number_or_throw("4000 3"), 4000);
  EXPECT_THROW(reg_number_or_throw("Model: 6180"), RunError);
  EXPECT_THROW(reg_number_or_throw("70000 x"), RunError);
  EXPECT_THROW(access.read_value(70000), RunError);
  EXPECT_THROW(access.write_value(100, 40000), RunError);
  EXPECT_TRUE(log.requests.empty());
}

TEST_F(SetupHelpers, ReturnToDefaultsSucceedsOnlyWhenTheControllerDropsOffAndReadsZero) {
  ValueRead configured;
  configured.kind = ValueRead::Kind::Value;
  configured.value = 1;
  EXPECT_TRUE(access.return_to_defaults(configured));
  EXPECT_TRUE(log.requests[0].is_write(reg::kDefaultsCommand, 800));
  EXPECT_EQ(controller().read_register(reg::kDefaultsFlag), 0);

  log.requests.clear();
  controller().faults().refuse[reg::kDefaultsCommand] = 3;
  EXPECT_FALSE(access.return_to_defaults(configured));
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

TEST_F(SetupHelpersSlowDefaults, ReturnToDefaultsGivesUpAfterThirteenPolls) {
  EXPECT_FALSE(access.return_to_defaults(ValueRead{}));
  EXPECT_EQ(log.requests.size(), 1U + 3U + 13U * 3U);
  EXPECT_LT(clock().total_ms(), 60000U);
}

TEST_F(SetupHelpers, APlaceholderProfileIsItsTwentySixWritesWhateverHappens) {
  RestoreSetup restore(comms, prompts, session, sim.clock(), program_dir, 1);
  controller().faults().refuse[3503] = 2;
  EXPECT_TRUE(restore.make_placeholder_profile(7));
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
  EXPECT_FALSE(restore.make_placeholder_profile(8));
  // Five tries each, but the three unanswered profile commands (4002) are
  // sent once and then only looked for (three reads of 4003, four times).
  EXPECT_EQ(log.requests.size(), 3U + 20U * 5U + 3U * (1U + 4U * 3U));
}

}  // namespace
}  // namespace r7
