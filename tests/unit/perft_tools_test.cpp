#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "file_helpers.h"
#include "test_support.h"
#include "tool_helpers.h"
#include "tools/perft_tools.h"

namespace {

const char* const StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
const char* const Kiwipete = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";

}  // namespace

TEST(PerftTools, PerftLines) {
  ToolManager tools;
  StdoutCapture out;
  EXPECT_EQ(RunPerft(tools.manager, 1), 1);
  const std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Depth 1");
  EXPECT_EQ(lines[1], "Nodes = 20");
  EXPECT_TRUE(IsTimeLine(lines[2], "Time = ")) << lines[2];
  EXPECT_TRUE(IsNumberLine(lines[3], "Speed = ")) << lines[3];
}

TEST(PerftTools, DetailedCountersOfKiwipete) {
  ToolManager tools;
  ASSERT_TRUE(tools.engine().SetFen(Kiwipete));
  StdoutCapture out;
  EXPECT_EQ(RunPerftDetailed(tools.manager, 3), 1);
  const std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(lines.size(), 10u);
  const std::vector<std::string> expected = {
      "Depth 3",           "Nodes = 97862",     "Nodes captures = 17102", "Nodes e.p = 45",
      "Nodes check = 993", "Nodes mate = 1",    "Nodes promotion = 0",    "Nodes castle = 3162"};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]);
  EXPECT_TRUE(IsTimeLine(lines[8], "Time = "));
  EXPECT_TRUE(IsNumberLine(lines[9], "Speed = "));
  // Earlier counts do not leak into the next run.
  StdoutCapture again;
  RunPerftDetailed(tools.manager, 1);
  EXPECT_EQ(again.Lines()[1], "Nodes = 48");
}

TEST(PerftTools, DivideLines) {
  ToolManager tools;
  {
    StdoutCapture out;
    EXPECT_EQ(RunDivide(tools.manager, 2), 1);
    const std::vector<std::string> lines = out.Lines();
    ASSERT_EQ(lines.size(), 25u);
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(lines[i].size(), 15u) << lines[i];
      EXPECT_EQ(lines[i].substr(10), " : 20") << lines[i];
    }
    EXPECT_EQ(lines[0], "    Nb1-a3 : 20");
    EXPECT_EQ(lines[19], "     h2-h4 : 20");
    EXPECT_EQ(lines[20], "");
    EXPECT_EQ(lines[21], "     total : 400");
    EXPECT_EQ(lines[22], "");
    EXPECT_TRUE(IsTimeLine(lines[23], "Time = "));
    EXPECT_TRUE(IsNumberLine(lines[24], "Speed = "));
  }
  EXPECT_EQ(tools.engine().tools.divideEntries, nullptr);
  // Any depth: below 2 each move counts once.
  for (i32 depth : {1, 0, -3}) {
    StdoutCapture out;
    RunDivide(tools.manager, depth);
    EXPECT_EQ(out.Lines()[21], "     total : 20") << depth;
  }
}

TEST(PerftTools, DivideWithoutLegalMoves) {
  ToolManager tools;
  // Fool's mate: White is mated.
  ASSERT_TRUE(tools.engine().SetFen("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3"));
  StdoutCapture out;
  RunDivide(tools.manager, 3);
  const std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "     total : 0");
  EXPECT_EQ(lines[2], "");
  EXPECT_TRUE(IsTimeLine(lines[3], "Time = "));
  EXPECT_EQ(lines[4], "Speed = 0");
}

namespace {

// The texts the engine hands to the interface.
struct TextListener : EngineListener {
  void SendText(const char* text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

}  // namespace

TEST(PerftTools, DepthOutsideOneToTheDeepestSearchIsRefused) {
  ToolManager tools;
  // Without legal moves a count ends at once at any depth: only the
  // refusal keeps the deep ones from running.
  ASSERT_TRUE(tools.engine().SetFen("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3"));
  TextListener listener;
  tools.engine().listener = &listener;
  StdoutCapture out;
  EXPECT_EQ(RunPerft(tools.manager, 0), 0);
  EXPECT_EQ(RunPerftDetailed(tools.manager, -2), 0);
  EXPECT_EQ(RunPerftDetailed(tools.manager, 128), 0);
  EXPECT_EQ(RunDivide(tools.manager, 5000), 0);
  EXPECT_EQ(RunPerft(tools.manager, 127), 1);
  EXPECT_EQ(out.Lines()[1], "Nodes = 0");
  tools.engine().listener = &tools.engine().defaultListener;
  EXPECT_EQ(listener.texts, (std::vector<std::string>{
                                "perft : invalid depth 0, the depth must be at least 1",
                                "perftd : invalid depth -2, the depth must be at least 1",
                                "perftd : invalid depth 128, the depth must be at most 127",
                                "divide : invalid depth 5000, the depth must be at most 127"}));
}

TEST(PerftTools, EngineWithoutBoardCountsNothing) {
  ProtocolManager manager;
  Engine engine;  // never initialised: no board to count on
  manager.engine = &engine;
  StdoutCapture out;
  EXPECT_EQ(RunPerft(manager, 2), 0);
  EXPECT_EQ(RunDivide(manager, 2), 0);
  EXPECT_EQ(out.Text(), "");
  manager.engine = nullptr;
}

TEST(PerftTools, Speed) {
  EXPECT_EQ(PerftSpeed(400, 1000.0), 400000);
  EXPECT_EQ(PerftSpeed(16, 0.0), 1000);  // no time: divided by 16000
  EXPECT_EQ(PerftSpeed(0, 0.0), 0);
  EXPECT_EQ(PerftSpeed(~0ULL, 1.0), 2147483647);
  EXPECT_EQ(PerftSpeed(~0ULL, -1.0), 0);  // never an out-of-range conversion
}

TEST(PerftSuite, FieldsOfTheSuiteDepth) {
  ToolManager tools;
  TempDir dir;
  const std::string line = std::string(StartFen) + " ;D1 20 ;D2 400\n";
  const std::string file = dir.Write("one.epd", line);
  for (i32 depth : {1, 2, 3}) {
    StdoutCapture out;
    PerftSuiteResult result;
    EXPECT_EQ(RunPerftSuite(tools.engine().tools, file.c_str(), depth, &result), 1);
    EXPECT_EQ(result.total, 1);
    EXPECT_EQ(result.passed, depth < 3 ? 1 : 0) << depth;
    EXPECT_EQ(out.Text(), depth < 3 ? "score = 1 / 1\n" : "score = 0 / 1\n");
  }
}

TEST(PerftSuite, LineForms) {
  ToolManager tools;
  TempDir dir;
  const std::string fen = StartFen;
  std::string text;
  text += fen + ";d1 20;D2 400\n";                     // lower-case d, ';' right after the count
  text += "\n";                                          // skipped, not counted
  text += fen + " ;D1 21 ;D1 20\n";                      // the first field of the depth decides
  std::string many = fen;                                // more fields than are kept
  for (int i = 0; i < 20; ++i) many += " ;D9 1";
  text += many + " ;D1 20\n";
  text += fen + " ;D1\t20\r\n";                          // control characters read as blanks
  text += fen + " ;D1 020\n";                            // the texts must be equal
  text += fen + " ;D 20 ;X1 20\n";                       // no depth digits, no D
  text += fen + " ;D2 400 ;D1 20";                       // last line without its newline
  const std::string file = dir.Write("forms.epd", text);
  StdoutCapture out;
  PerftSuiteResult result;
  RunPerftSuite(tools.engine().tools, file.c_str(), 1, &result);
  EXPECT_EQ(out.Text(), "score = 3 / 7\n");
  EXPECT_EQ(result.passed, 3);
  EXPECT_EQ(result.total, 7);
}

TEST(PerftSuite, OverlongLineFailsWhole) {
  ToolManager tools;
  TempDir dir;
  // 600 characters: too long for the line buffer. It counts and fails as one
  // line; its rest is not read as another line, and the next line is whole.
  std::string line = std::string(StartFen) + " ;D1 20";
  line += std::string(600 - line.size(), ' ');
  // 511 characters with the line end still fit.
  std::string fits = std::string(StartFen) + " ;D1 20";
  fits += std::string(510 - fits.size(), ' ');
  const std::string file =
      dir.Write("long.epd", line + "\n" + std::string(StartFen) + " ;D1 20\n" + fits + "\n");
  ErrorLogCapture log;
  StdoutCapture out;
  PerftSuiteResult result;
  RunPerftSuite(tools.engine().tools, file.c_str(), 1, &result);
  EXPECT_EQ(out.Text(), "score = 2 / 3\n");
  EXPECT_EQ(result.total, 3);
  EXPECT_EQ(result.passed, 2);
  const std::vector<std::string> messages = log.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(file + " : line 1 longer than 511 characters ignored : '", 0), 0u)
      << messages[0];
}

TEST(PerftSuite, MissingFileAndBadDepth) {
  ToolManager tools;
  {
    ErrorLogCapture log;
    StdoutCapture out;
    PerftSuiteResult result;
    EXPECT_EQ(RunPerftSuite(tools.engine().tools, "no-such-suite.epd", 1, &result), 0);
    EXPECT_EQ(result.opened, 0);
    EXPECT_EQ(out.Text(), "");
    const std::vector<std::string> messages = log.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "file not found : no-such-suite.epd");
  }
  StdoutCapture out;
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunPerftSuite(tools.engine().tools, TestDataPath("perft.epd").c_str(), 0, nullptr), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "perft suite : invalid depth 0, the depth must be at least 1\n");
  EXPECT_EQ(out.Text(), "");
}

TEST(PerftSuite, WholeReferenceSuite) {
  ToolManager tools;
  const i32 depth = ForTarget(3, 2);
  StdoutCapture out;
  PerftSuiteResult result;
  RunPerftSuite(tools.engine().tools, TestDataPath("perft.epd").c_str(), depth, &result);
  EXPECT_EQ(out.Text(), "score = 27 / 27\n");
}

TEST(PerftSuite, CommandSetsUpTheEngineAndJudgesTheWholeFile) {
  ProtocolManager manager;
  manager.engine = new Engine();
  manager.settings.Hash = 1;
  TempDir dir;
  const std::string good = dir.Write("good.epd", std::string(StartFen) + " ;D1 20 ;D5 4865609\n");
  const std::string bad = dir.Write("bad.epd", std::string(StartFen) + " ;D1 20\n" + StartFen + " ;D1 19\n");
  {
    StdoutCapture out;
    // A negative depth counts to depth 5.
    EXPECT_EQ(PerftSuiteCommand(manager, good.c_str(), -1), 1);
    EXPECT_EQ(PerftSuiteCommand(manager, good.c_str(), 1), 1);
    EXPECT_EQ(PerftSuiteCommand(manager, bad.c_str(), 1), 0);
    EXPECT_EQ(out.Text(), "score = 1 / 1\nscore = 1 / 1\nscore = 1 / 2\n");
  }
  {
    StdoutCapture out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(PerftSuiteCommand(manager, good.c_str(), 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "perft suite : invalid depth 0, the depth must be at least 1\n");
    EXPECT_EQ(PerftSuiteCommand(manager, dir.File("missing.epd").c_str(), 1), 0);
    EXPECT_EQ(out.Text(), "");
  }
  // The engine is shut down after each run.
  EXPECT_EQ(manager.engine->tools.board, nullptr);
  delete manager.engine;
  manager.engine = nullptr;
}
