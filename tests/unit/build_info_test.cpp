#include <gtest/gtest.h>

#include <cstring>

#include "common/build_info.h"

TEST(BuildInfo, WordSizeLabelMatchesTheTarget) {
  EXPECT_STREQ(EngineVersion, "2.0");
  EXPECT_STREQ(WordSizeLabel, sizeof(void*) == 4 ? "32 bits" : "64 bits");
  EXPECT_EQ(std::strlen(BuildDate), 11u);  // "Mmm dd yyyy"
  EXPECT_EQ(std::strlen(BuildTime), 8u);   // "hh:mm:ss"
}
