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
  // 65537 characters before "isready": too long for a protocol line, refused.
  session.engine().SendRaw(std::string("x") + '\0' + std::string(65535, 'y') + "isready\n");
  EXPECT_EQ(session.WaitFor("info string"), "info string Line too long (more than 65536 characters) : 'x...'");
  session.Send("position startpos moves e2e4");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  EXPECT_TRUE(session.engine().LinesStartingWith("readyok").empty());
  EXPECT_EQ(session.Quit(), 0);
}

// An interface that ends its lines with CR LF, or pads them with blanks, is
// understood as one that ends them with LF.
TEST_P(LineInput, CrLfDialogues) {
  {
    Session session(TestIni(GetParam()));
    session.engine().SendRaw("uci\r\n");
    ASSERT_FALSE(session.WaitFor("uciok", 20000).empty());
    session.engine().SendRaw("isready\r\n");
    EXPECT_EQ(session.WaitFor("readyok"), "readyok");
    session.engine().SendRaw("  position startpos moves e2e4 \r\ngo depth 3\r\n");
    GameTracker game;
    ASSERT_TRUE(game.Play("e2e4"));
    EXPECT_TRUE(game.IsLegal(MoveOfLine(session.WaitFor("bestmove"))));
    EXPECT_TRUE(session.engine().LinesStartingWith("info string").empty());
    session.engine().SendRaw("quit\r\n");
    EXPECT_EQ(session.engine().WaitExit(ScaledTimeout(10000)), 0);
  }
  {
    Session session(TestIni(GetParam()));
    session.engine().SendRaw("xboard\r\nprotover 2\r\n");
    ASSERT_FALSE(session.WaitFor("feature done=1", 20000).empty());
    session.engine().SendRaw("new\r\nsd 3\r\nusermove e2e4\r\n");
    GameTracker game;
    ASSERT_TRUE(game.Play("e2e4"));
    EXPECT_TRUE(game.IsLegal(MoveOfLine(session.WaitFor("move "))));
    session.engine().SendRaw("ping 7\r\n");
    EXPECT_EQ(session.WaitFor("pong"), "pong 7");
    session.engine().SendRaw("quit\r\n");
    EXPECT_EQ(session.engine().WaitExit(ScaledTimeout(10000)), 0);
  }
}
