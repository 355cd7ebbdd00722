// Lines of the configuration file and of standard input are measured by what
// was read: a NUL byte inside an overlong line does not make it look short,
// so its tail is never taken for a line of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

class LineInput : public ::testing::TestWithParam<int> {};

INSTANTIATE_TEST_SUITE_P(InputThread, LineInput, ::testing::Values(1, 0));

}  // namespace

TEST_P(LineInput, ANulByteDoesNotSplitAnOverlongLine) {
  // A comment of 1023 characters before "MaxThreads=3": too long, dropped whole.
  const std::string comment = std::string("#") + '\0' + std::string(1021, 'x');
  Session session(TestIni(GetParam(), comment + "MaxThreads=3\n"));
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(session.engine().LinesStartingWith("option name Threads"),
            std::vector<std::string>{"option name Threads type spin default 1 min 1 max 64"});
  // 4095 characters before "isready": too long for the input buffer.
  session.engine().SendRaw(std::string("x") + '\0' + std::string(4093, 'y') + "isready\n");
  session.Send("position startpos moves e2e4");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  EXPECT_TRUE(session.engine().LinesStartingWith("readyok").empty());
  EXPECT_EQ(session.Quit(), 0);
}
