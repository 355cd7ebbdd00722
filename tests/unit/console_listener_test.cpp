#include <gtest/gtest.h>

#include <string>

#include "protocol/console_listener.h"

namespace {

std::string Time(double microseconds) {
  char text[32];
  FormatConsoleTime(microseconds, text);
  return text;
}

std::string Score(i32 score) {
  char text[16];
  FormatConsoleScore(score, text);
  return text;
}

}  // namespace

TEST(ConsoleListenerTest, ScoresMatesAndPawns) {
  EXPECT_EQ(Score(31999), "+M1");
  EXPECT_EQ(Score(31997), "+M2");
  EXPECT_EQ(Score(-31998), "-M1");
  EXPECT_EQ(Score(-31996), "-M2");
  EXPECT_EQ(Score(150), "+1.50");
  EXPECT_EQ(Score(-5), "-0.05");
  EXPECT_EQ(Score(0), "+0.00");
  EXPECT_EQ(Score(31743), "+317.43");
}

TEST(ConsoleListenerTest, TimesAndSpeed) {
  EXPECT_EQ(Time(0.0), "00:00:00.000");
  EXPECT_EQ(Time(1234567.0), "00:00:01.234");
  EXPECT_EQ(Time(3723004000.0), "01:02:03.004");
  EXPECT_EQ(Time(-5.0), "00:00:00.000");
  // An elapsed time of 0 counts as 16 ms.
  EXPECT_EQ(ConsoleSpeed(16000, 0.0), 1000);
  EXPECT_EQ(ConsoleSpeed(2000000, 1000000.0), 2000);
  EXPECT_EQ(ConsoleSpeed(~0ull, 1.0), 2147483647);
}

TEST(ConsoleListenerTest, WholeLines) {
  const Move pv[3] = {EncodeMove(12, 28, Pawn, 0, 0, MoveFlagDoublePush),
                      EncodeMove(57, 42, Knight),
                      EncodeMove(4, 7, King, 0, 0, MoveFlagCastle)};
  char line[512];
  FormatConsoleLine(1, 5, 150, pv, 3, 12345, 9, 0, 2000000.0, line, sizeof line);
  EXPECT_STREQ(line, " 5/9   00:00:02.000 12345      6   +1.50 e2-e4 Nb8-c6 O-O ");
  FormatConsoleLine(1, 12, -20, pv, 1, 1, 3, 2, 0.0, line, sizeof line);
  EXPECT_STREQ(line, "12/3 + 00:00:00.000 1      0   -0.20 e2-e4 ");
  FormatConsoleLine(2, 5, 31999, pv, 0, 7, 9, 1, 1000.0, line, sizeof line);
  EXPECT_STREQ(line, "       00:00:00.001 7      7     +M1 ");
}
