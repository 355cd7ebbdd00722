#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <string>

#include "common/timer.h"

namespace {

std::string Formatted(double microseconds) {
  char text[FormatTimeBufferSize];
  FormatTime(text, microseconds);
  return text;
}

timeval Stamp(long seconds, long micros) {
  timeval t{};
  t.tv_sec = seconds;
  t.tv_usec = micros;
  return t;
}

}  // namespace

TEST(FormatTime, HoursMinutesSecondsMilliseconds) {
  EXPECT_EQ(Formatted(3723004000.0), "01:02:03.004");
  EXPECT_EQ(Formatted(999.0), "00:00:00.000");
  EXPECT_EQ(Formatted(1999.9), "00:00:00.001");
  EXPECT_EQ(Formatted(360000000000.0), "100:00:00.000");  // hours beyond two digits
}

TEST(FormatTime, OutOfRangeDurationsSaturate) {
  EXPECT_EQ(Formatted(-5000.0), "00:00:00.000");
  EXPECT_EQ(Formatted(std::nan("")), "00:00:00.000");
  EXPECT_EQ(Formatted(4294967295000.0), "1193:02:47.295");
  EXPECT_EQ(Formatted(1e300), "1193:02:47.295");
}

TEST(Timer, DifferencesAcrossASecondBoundary) {
  EXPECT_EQ(MicrosecondsBetween(Stamp(10, 900000), Stamp(11, 100000)), 200000.0);
  EXPECT_EQ(MicrosecondsBetween(Stamp(11, 100000), Stamp(10, 900000)), -200000.0);
  EXPECT_EQ(MicrosecondsBetween(Stamp(5, 0), Stamp(5, 0)), 0.0);
  // The seconds difference is taken in 32 bits: a wrap of the counter still
  // gives the short interval.
  timeval before = Stamp(0, 500000);
  timeval after = Stamp(0, 500000);
  before.tv_sec = static_cast<decltype(before.tv_sec)>(INT32_MAX);
  // 2^31 seconds, which a 32-bit time_t holds as INT32_MIN.
  after.tv_sec = static_cast<decltype(after.tv_sec)>(static_cast<i64>(INT32_MAX) + 1);
  EXPECT_EQ(MicrosecondsBetween(before, after), 1000000.0);
}

TEST(Timer, MeasuresElapsedTime) {
  Timer timer;
  timer.Start();
  usleep(2000);
  double elapsed = timer.ElapsedMicroseconds();
  EXPECT_GE(elapsed, 2000.0);
  EXPECT_LT(elapsed, 60e6);
}
