#include <gtest/gtest.h>

#include "engine/engine.h"

namespace {

// The limits live in a static record: SearchLimits holds an atomic and is not copied.
const SearchLimits& Clock(float clockMs, i32 movesToGo, i32 incrementMs, i32 searches) {
  static SearchLimits limits;
  limits.mode = ModeClock;
  limits.clock[White] = clockMs;
  limits.clock[Black] = 1.0f;  // the other side's clock plays no part
  limits.movesToGo = movesToGo;
  limits.increment[White] = incrementMs;
  limits.searchesThisGame = searches;
  return limits;
}

}  // namespace

TEST(SearchTimeLimitTest, ClockAllocationKeepsItsFormulas) {
  // 40 moves to go, 60 s, first search: 60000 * 1000 / 40 * 2.0.
  EXPECT_EQ(SearchTimeLimit(Clock(60000.0f, 40, 0, 0), White), 3000000u);
  // No moves to go, 1 s increment: (1000 * 1000 + 60000 * 33.33) * 2.0.
  EXPECT_EQ(SearchTimeLimit(Clock(60000.0f, 0, 1000, 0), White), 6000000u);
  EXPECT_EQ(SearchTimeLimit(Clock(60000.0f, 0, 1000, 10), White), 3000000u);
  // Neither: 25 microseconds per millisecond on the clock.
  EXPECT_EQ(SearchTimeLimit(Clock(60000.0f, 0, 0, 10), White), 1500000u);
  // A count of moves to go below zero is taken for none.
  EXPECT_EQ(SearchTimeLimit(Clock(60000.0f, -2, 0, 10), White), 1500000u);
}

TEST(SearchTimeLimitTest, NeverMoreThanTheClockLessAMargin) {
  // "movestogo 1" at the start of a game would take the whole clock.
  EXPECT_EQ(SearchTimeLimit(Clock(60000.0f, 1, 0, 0), White), 54000000u);
  // So would two moves to go.
  EXPECT_EQ(SearchTimeLimit(Clock(10000.0f, 2, 0, 0), White), 9000000u);
  // A large increment with little time left.
  EXPECT_EQ(SearchTimeLimit(Clock(1000.0f, 0, 5000, 20), White), 900000u);
  // The margin is at least 50 ms.
  EXPECT_EQ(SearchTimeLimit(Clock(300.0f, 0, 5000, 20), White), 250000u);
  EXPECT_EQ(SearchTimeLimit(Clock(40.0f, 1, 0, 20), White), 0u);
  EXPECT_EQ(SearchTimeLimit(Clock(0.0f, 0, 0, 20), White), 0u);
  EXPECT_EQ(SearchTimeLimit(Clock(-500.0f, 0, 3000, 20), White), 0u);
}

TEST(SearchTimeLimitTest, OtherModes) {
  SearchLimits limits;
  limits.mode = ModeMoveTime;
  limits.moveTime = 2000000;
  limits.clock[White] = 10.0f;  // not looked at
  EXPECT_EQ(SearchTimeLimit(limits, White), 2000000u);
  limits.mode = ModeInfinite;
  EXPECT_EQ(SearchTimeLimit(limits, White), 0xFFFFFFFFu);
}
