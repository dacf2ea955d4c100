// The setup window's register access against the simulated controller:
// refusals and their logging, profile commands whose reply was lost, the
// return to defaults that never ends and placeholder profiles. Attempts and
// the Retry/Cancel dialogue: through the save and the restore.
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

TEST_F(SetupHelpers, RefusedWritesAreListedAndFiledWithOneHeadingPerClearedList) {
  test::TempDir errors_dir;
  session.create_error_file(errors_dir / "errors.txt");
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
  session.close_error_file();
  const std::string heading = "Response From Control\tReg No\tValue\t\r\n";
  EXPECT_EQ(test::read_file(errors_dir / "errors.txt"),
            heading + refused + "\t4000\t3\tError\r\n" + out_of_range + "\t100\t7\tError\r\n" +
                heading + refused + "\t4000\t9\tError\r\n");
  EXPECT_EQ(view.errors.size(), 1U);

  // Requests that cannot be framed are never sent.
  log.requests.clear();
  EXPECT_THROW(access.read_value(70000), RunError);
  EXPECT_THROW(access.write_value(100, 40000), RunError);
  EXPECT_TRUE(log.requests.empty());
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
    EXPECT_EQ(log.writes().size(), c.command_writes);
    if (c.reply_lost) EXPECT_TRUE(log.requests[1].is_read(reg::kStepType));
  }

  // The line stays dead through every try: the next call, with the line back,
  // looks for the erase before it would send it again.
  controller().restore_defaults();
  access.write_value(reg::kProfileSelect, 1);
  access.write_value(reg::kStepSelect, 1);
  log.requests.clear();
  controller().faults().drop = 1.0;
  EXPECT_EQ(access.write_value(reg::kProfileCommand, reg::kProfileErase), WriteResult::NoAnswer);
  controller().faults().drop = 0.0;
  EXPECT_EQ(access.write_value(reg::kProfileCommand, reg::kProfileErase),
            WriteResult::Acknowledged);
  EXPECT_EQ(log.writes().size(), 1U);
  EXPECT_TRUE(controller().profiles().empty());
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
  // Profile 7 selected first; named "DELETE", so that the user sees what to remove.
  const std::vector<test::SentRequest> writes = log.writes();
  ASSERT_EQ(writes.size(), 26U);
  EXPECT_EQ(writes[0].register_no, 4000);
  EXPECT_EQ(writes[0].value, 7);
  std::string name;
  for (const auto& w : writes)
    if (w.register_no >= 3500 && w.register_no < 3510) name += static_cast<char>(w.value);
  EXPECT_EQ(name, "DELETE    ");
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
