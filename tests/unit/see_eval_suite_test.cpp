// The static-exchange test and the evaluation suite over small files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/evaluate.h"
#include "file_helpers.h"
#include "tool_helpers.h"
#include "tools/eval_suite.h"
#include "tools/see_test.h"

TEST(SeeTest, CountsPositionsAndExchanges) {
  ToolManager tools;
  TempDir dir;
  const std::string file = dir.Write(
      "see.epd",
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - bm e4; id \"start\";\n"
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - am e4;\n"  // no bm: nothing
      "\n"
      "not a position bm x;\n"  // does not set: nothing
      // In check: the evasions only.
      "4k3/8/8/8/8/8/4r3/4K3 w - - bm Kxe2;\n");
  StdoutCapture out;
  EXPECT_EQ(RunSeeTest(tools.engine().tools, file.c_str()), 1);
  const std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Count positions = 2");
  // 20 in the start position; Kxe2, Kd1, Kf1 for the king in check (d2 and f2
  // are attacked by the rook).
  EXPECT_EQ(lines[1], "Count SEE = 23");
  EXPECT_TRUE(IsTimeLine(lines[2], "Time = "));
  EXPECT_TRUE(StartsWith(lines[3], "Speed : ") && lines[3].size() > 14 &&
              lines[3].compare(lines[3].size() - 6, 6, " SEE/s") == 0)
      << lines[3];
}

TEST(SeeTest, EveryBmOfALineIsAPositionEnd) {
  ToolManager tools;
  TempDir dir;
  // The second "bm" ends a longer prefix, which still reads as the same FEN
  // followed by an EPD operation.
  const std::string file =
      dir.Write("two.epd", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - bm e4; bm d4;\n");
  StdoutCapture out;
  RunSeeTest(tools.engine().tools, file.c_str());
  const std::vector<std::string> lines = out.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Count positions = 2");
  EXPECT_EQ(lines[1], "Count SEE = 40");
}

TEST(EvalSuite, PrintsEachPositionWithItsScore) {
  ToolManager tools;
  TempDir dir;
  const std::string fen = "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3";
  const std::string file =
      dir.Write("eval.epd", fen + "\nthis is no position\n\n" + fen + "\t\r\n");
  ASSERT_TRUE(tools.engine().SetFen(fen.c_str()));
  const i32 score = EvaluateLazy(tools.engine(), tools.engine().board, -MateScore, MateScore);
  ErrorLogCapture log;
  StdoutCapture out;
  // The line that is no position is named on standard error and fails the run.
  EXPECT_EQ(RunEvalSuite(tools.engine().tools, file.c_str()), 0);
  const std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], fen + "  ; eval " + std::to_string(score));
  EXPECT_EQ(lines[1], fen + "   ; eval " + std::to_string(score));
  EXPECT_EQ(lines[2], "");
  EXPECT_TRUE(IsTimeLine(lines[3], "Time : "));
  EXPECT_TRUE(StartsWith(lines[4], "Speed : ") && lines[4].size() > 15 &&
              lines[4].compare(lines[4].size() - 7, 7, " eval/s") == 0)
      << lines[4];
  const std::vector<std::string> messages = log.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Invalid FEN string : 'this is no position '");
}

TEST(SeeAndEvalSuites, MissingFile) {
  ToolManager tools;
  ErrorLogCapture log;
  StdoutCapture out;
  EXPECT_EQ(RunSeeTest(tools.engine().tools, "missing.epd"), 0);
  EXPECT_EQ(RunEvalSuite(tools.engine().tools, "missing.epd"), 0);
  EXPECT_EQ(out.Text(), "");
  const std::vector<std::string> messages = log.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "file not found : missing.epd");
}

TEST(SeeAndEvalSuites, OverlongLineIsOneErrorAndNoPosition) {
  ToolManager tools;
  TempDir dir;
  const std::string start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - ";
  // Read in pieces, both halves of this line would be positions.
  std::string longLine = start + "bm e4;";
  longLine += std::string(511 - longLine.size(), ' ') + start + "bm d4;\n";
  const std::string file = dir.Write("long.epd", longLine + start + "bm e4;\n");
  ErrorLogCapture log;
  {
    StdoutCapture out;
    RunSeeTest(tools.engine().tools, file.c_str());
    const std::vector<std::string> lines = out.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Count positions = 1");
    EXPECT_EQ(lines[1], "Count SEE = 20");
  }
  {
    StdoutCapture out;
    RunEvalSuite(tools.engine().tools, file.c_str());
    const std::vector<std::string> lines = out.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(StartsWith(lines[0], start + "bm e4;  ; eval ")) << lines[0];
  }
  const std::vector<std::string> messages = log.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].rfind(file + " : line 1 longer than 511 characters ignored : '", 0), 0u)
      << messages[0];
  EXPECT_EQ(messages[1], messages[0]);
}
