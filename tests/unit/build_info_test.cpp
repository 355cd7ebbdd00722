#include <gtest/gtest.h>

#include <cstring>

#include "common/build_info.h"
#include "common/cpu_features.h"

TEST(BuildInfo, WordSizeLabelMatchesTheTarget) {
  EXPECT_STREQ(EngineVersion, "2.0");
  EXPECT_STREQ(WordSizeLabel, sizeof(void*) == 4 ? "32 bits" : "64 bits");
  EXPECT_EQ(std::strlen(BuildDate), 11u);  // "Mmm dd yyyy"
  EXPECT_EQ(std::strlen(BuildTime), 8u);   // "hh:mm:ss"
}

// A build that counts bits with the processor's instruction names it as
// missing on a processor without it; other builds need nothing.
TEST(BuildInfo, ProcessorFeatureCheck) {
  EXPECT_EQ(HardwarePopCount, ZORVEL_EXPECT_HARDWARE_POPCOUNT != 0);
  const char* missing = MissingCpuFeature([](const char*) { return false; });
  if (ZORVEL_EXPECT_HARDWARE_POPCOUNT)
    EXPECT_STREQ(missing, "popcnt");
  else
    EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(MissingCpuFeature([](const char* f) { return std::strcmp(f, "popcnt") == 0; }), nullptr);
  // The processor running this build has what it uses.
  EXPECT_EQ(MissingCpuFeature(CpuSupports), nullptr);
}
