#include "serial/timers.h"

#include <gtest/gtest.h>

#include <cmath>

#include "sim/fake_clock.h"

namespace r7 {
namespace {

struct TimersTest : ::testing::Test {
  sim::FakeClock clock{1000};
  Timers timers{clock};
};

TEST_F(TimersTest, NestedTimersTakeTheLowestFreeEntryAndTheTableGrowsButNeverShrinks) {
  EXPECT_EQ(timers.start_timer(100), 0);
  EXPECT_EQ(timers.start_timer(100), 1);
  EXPECT_EQ(timers.size(), 2U);
  timers.stop_timer(0);
  EXPECT_EQ(timers.start_timer(50), 0);  // the freed entry, not a third one
  EXPECT_EQ(timers.start_timer(50), 2);
  timers.stop_timer(0);
  timers.stop_timer(1);
  timers.stop_timer(2);
  EXPECT_EQ(timers.size(), 3U);
  EXPECT_EQ(timers.start_timer(10), 0);
}

TEST_F(TimersTest, ExpiryCountsTimeBetweenChecksAndFreesTheEntry) {
  const int t = timers.start_timer(100);
  clock.advance(60);
  EXPECT_FALSE(timers.timer_expired(t));
  EXPECT_DOUBLE_EQ(timers.remaining(t), 40.0);
  EXPECT_TRUE(timers.in_use(t));
  clock.advance(39);
  EXPECT_FALSE(timers.timer_expired(t));
  clock.advance(1);
  EXPECT_TRUE(timers.timer_expired(t));
  EXPECT_DOUBLE_EQ(timers.remaining(t), 0.0);
  EXPECT_FALSE(timers.in_use(t));
  // A freed entry keeps answering true until it is handed out anew.
  EXPECT_TRUE(timers.timer_expired(t));
  EXPECT_EQ(timers.start_timer(20), t);
  EXPECT_FALSE(timers.timer_expired(t));
}

TEST_F(TimersTest, ZeroOrNanTimeoutAndStoppedTimersExpireAtOnce) {
  const int t = timers.start_timer(0);
  EXPECT_TRUE(timers.timer_expired(t));
  EXPECT_TRUE(timers.timer_expired(timers.start_timer(std::nanf(""))));
  const int u = timers.start_timer(500);
  timers.stop_timer(u);
  EXPECT_TRUE(timers.timer_expired(u));
  EXPECT_FALSE(timers.in_use(u));
}

TEST_F(TimersTest, NumbersNeverHandedOutCountAsExpiredWithoutHarm) {
  EXPECT_TRUE(timers.timer_expired(7));
  EXPECT_TRUE(timers.timer_expired(-1));
  timers.stop_timer(7);
  timers.extend_timer(7, 10);
  EXPECT_EQ(timers.size(), 0U);
}

TEST_F(TimersTest, ClockWrapShortensTheRemainingTimeByTheRuleExactly) {
  clock.set_tick(4294967290U);
  const int t = timers.start_timer(100);
  clock.advance(16);  // 4294967290 -> 10 across the wrap
  ASSERT_EQ(clock.tick_ms(), 10U);
  EXPECT_FALSE(timers.timer_expired(t));
  // (4294967295 - 4294967290) + 10 = 15, one less than the ticks that passed.
  EXPECT_DOUBLE_EQ(timers.remaining(t), 85.0);
  clock.advance(84);
  EXPECT_FALSE(timers.timer_expired(t));
  clock.advance(1);
  EXPECT_TRUE(timers.timer_expired(t));
}

TEST_F(TimersTest, ExtendingGivesARunningTimerMoreTimeOnly) {
  const int t = timers.start_timer(10);
  timers.extend_timer(t, 5.5);
  clock.advance(15);
  EXPECT_FALSE(timers.timer_expired(t));
  EXPECT_DOUBLE_EQ(timers.remaining(t), 0.5);
  clock.advance(1);
  EXPECT_TRUE(timers.timer_expired(t));
  timers.extend_timer(t, 100);  // free entries are not revived
  EXPECT_TRUE(timers.timer_expired(t));
}

TEST_F(TimersTest, WaitMsSleepsInOneMillisecondSlicesUntilEnoughTimeHasPassed) {
  timers.wait_ms(5);
  EXPECT_EQ(clock.total_ms(), 5U);
  timers.wait_ms(0);
  EXPECT_EQ(clock.total_ms(), 5U);
  timers.wait_ms(2.5);  // whole ticks only: 3
  EXPECT_EQ(clock.total_ms(), 8U);
}

TEST_F(TimersTest, WaitMsAcrossTheWrapEndsAtMsMinusWhatWasLeftBeforeIt) {
  clock.set_tick(4294967290U);
  timers.wait_ms(20);
  // 4294967295 - 4294967290 = 5 is left before the wrap: the wait ends when
  // the count reaches 20 - 5 = 15.
  EXPECT_EQ(clock.tick_ms(), 15U);
  EXPECT_EQ(clock.total_ms(), 21U);
}

TEST(TicksBetween, CountsPlainlyOrAcrossTheWrap) {
  EXPECT_DOUBLE_EQ(ticks_between(100, 250), 150);
  EXPECT_DOUBLE_EQ(ticks_between(4294967295.0, 0), 0);
  EXPECT_DOUBLE_EQ(ticks_between(4294967000.0, 5), 300);
}

}  // namespace
}  // namespace r7
