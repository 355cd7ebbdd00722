// The command-line tools through the real binary: their reports, their exit
// status and what they say on standard error when something is wrong.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/build_info.h"
#include "e2e/e2e_support.h"
#include "test_support.h"

namespace {

const std::string StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
const std::string Kiwipete = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
const std::string Banner = std::string("Zorvel 2.0 (") + WordSizeLabel + ") by Vesquet";

// A tool run to its end: every line of its standard output and standard
// error and the exit status.
struct ToolRun {
  std::vector<std::string> lines;
  std::vector<std::string> errors;
  int status = -1;
  std::string log;  // the log file, when the configuration asked for one
};

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A tool reads nothing from its standard input: it is closed at once, so
// that a program that waited on it would end instead of hanging.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& ini = TestIni(1),
                int nativeMs = 20000) {
  TempDir errors;
  Session session(ini, args, errors.File("stderr.txt"));
  session.engine().CloseInput();
  ToolRun run;
  session.engine().ReadToEnd(ScaledTimeout(nativeMs));
  run.status = session.engine().WaitExit(ScaledTimeout(5000));
  run.lines = session.engine().Transcript();
  run.errors = SplitLines(errors.Read("stderr.txt"));
  if (session.dir().Exists("logfile.txt")) run.log = session.dir().Read("logfile.txt");
  return run;
}

bool IsTimeLine(const std::string& line, const std::string& prefix) {
  if (line.compare(0, prefix.size(), prefix) != 0 || line.size() != prefix.size() + 12) return false;
  for (size_t i = prefix.size(); i < line.size(); ++i) {
    const size_t k = i - prefix.size();
    const bool separator = k == 2 || k == 5 || k == 8;
    if (separator ? line[i] != (k == 8 ? '.' : ':') : !std::isdigit(static_cast<unsigned char>(line[i])))
      return false;
  }
  return true;
}

bool IsNumberLine(const std::string& line, const std::string& prefix, const std::string& suffix = "") {
  if (line.size() <= prefix.size() + suffix.size()) return false;
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  if (line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  for (size_t i = prefix.size(); i < line.size() - suffix.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(line[i])) && !(i == prefix.size() && line[i] == '-'))
      return false;
  return true;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A tool run by the shell in the directory, for what a pipe cannot show: a
// limit set before it starts ("ulimit -f 1; ") and a standard output that
// takes no byte ("/dev/full").
struct ShellRun {
  int status = -1;
  std::vector<std::string> errors;
};

ShellRun RunInShell(const TempDir& dir, const std::string& limits, const std::vector<std::string>& args,
                    const std::string& output = "/dev/null") {
  TempDir errors;
  std::string command = "cd '" + dir.path() + "' && " + limits + "exec " + ZORVEL_EMULATOR + " '" + ZORVEL_BINARY + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " </dev/null >'" + output + "' 2>'" + errors.File("stderr.txt") + "'";
  const int raw = std::system(command.c_str());
  ShellRun run;
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  run.errors = SplitLines(errors.Read("stderr.txt"));
  return run;
}

}  // namespace

// The usage lines of "-help": every tool in the form it accepts.
const std::vector<std::string> UsageLines = {
    "Zorvel -testsuite <hash> <threads> depth|time <value> <file.epd>",
    "Zorvel -perftsuite <file.epd> [<depth>]",
    "Zorvel -perft <depth>",
    "Zorvel -perft <depth> -fen \"<fen-string>\"",
    "Zorvel -perftd <depth>",
    "Zorvel -perftd <depth> -fen \"<fen-string>\"",
    "Zorvel -divide <depth>",
    "Zorvel -divide <depth> -fen \"<fen-string>\"",
    "Zorvel -buildbook <file.pgn> <file.bin> <max ply> <min count>",
    "Zorvel -benchmark [<hash> [<threads> [depth|time [<value> [<file.epd>]]]]]",
    "Zorvel -evalsuite <file.epd>",
    "Zorvel -checkfensuite <file.epd>",
    "Zorvel -testsee <file.epd>",
};

TEST(ToolHelp, BannerAndUsage) {
  const ToolRun run = RunTool({"-help"});
  ASSERT_GE(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[0], Banner);
  EXPECT_EQ(run.lines[1], std::string("Built on ") + BuildDate + " at " + BuildTime);
  EXPECT_EQ(run.lines[2],
            ZORVEL_EXPECT_HARDWARE_POPCOUNT ? "Using hardware popcount" : "Using software popcount");
  EXPECT_EQ(run.lines[3], "");
  EXPECT_EQ(std::vector<std::string>(run.lines.begin() + 4, run.lines.end()), UsageLines);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.errors.empty());
  // Any further arguments change nothing.
  EXPECT_EQ(RunTool({"-help", "more", "words"}).lines, run.lines);
}

TEST(ToolPerft, PerftFromTheStartAndFromAFen) {
  ToolRun run = RunTool({"-perft", "3"});
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[0], "Depth 3");
  EXPECT_EQ(run.lines[1], "Nodes = 8902");
  EXPECT_TRUE(IsTimeLine(run.lines[2], "Time = ")) << run.lines[2];
  EXPECT_TRUE(IsNumberLine(run.lines[3], "Speed = ")) << run.lines[3];
  EXPECT_EQ(run.status, 0);

  run = RunTool({"-perft", "3", "-fen", Kiwipete});
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[1], "Nodes = 97862");
  EXPECT_EQ(run.status, 0);
}

TEST(ToolPerft, DivideAndDetailedPerft) {
  ToolRun run = RunTool({"-divide", "2"});
  ASSERT_EQ(run.lines.size(), 25u);
  for (int i = 0; i < 20; ++i)
    EXPECT_TRUE(run.lines[i].size() == 15 && run.lines[i].substr(10) == " : 20") << run.lines[i];
  EXPECT_EQ(run.lines[0], "    Nb1-a3 : 20");
  EXPECT_EQ(run.lines[16], "     e2-e4 : 20");
  EXPECT_EQ(run.lines[20], "");
  EXPECT_EQ(run.lines[21], "     total : 400");
  EXPECT_EQ(run.lines[22], "");
  EXPECT_TRUE(IsTimeLine(run.lines[23], "Time = "));
  EXPECT_TRUE(IsNumberLine(run.lines[24], "Speed = "));
  EXPECT_EQ(run.status, 0);

  run = RunTool({"-divide", "1", "-fen", "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3"});
  ASSERT_EQ(run.lines.size(), 5u);
  EXPECT_EQ(run.lines[1], "     total : 0");
  EXPECT_EQ(run.lines[4], "Speed = 0");

  // A Chess960 right that names the inner of two rooks castles with it.
  run = RunTool({"-divide", "1", "-fen", "3k4/8/8/8/8/8/8/3K2RR w G - 0 1"});
  ASSERT_EQ(run.lines.size(), 27u);
  EXPECT_EQ(run.lines[0], "       O-O : 1");
  EXPECT_EQ(run.lines[23], "     total : 22");

  run = RunTool({"-perftd", "2", "-fen", Kiwipete});
  const std::vector<std::string> counts = {
      "Depth 2",           "Nodes = 2039",   "Nodes captures = 351", "Nodes e.p = 1",
      "Nodes check = 3",   "Nodes mate = 0", "Nodes promotion = 0",  "Nodes castle = 91"};
  ASSERT_EQ(run.lines.size(), 10u);
  EXPECT_EQ(std::vector<std::string>(run.lines.begin(), run.lines.begin() + 8), counts);
  EXPECT_TRUE(IsTimeLine(run.lines[8], "Time = "));
  EXPECT_EQ(run.status, 0);
}

TEST(ToolPerft, Failures) {
  // Errors go to standard error, as for every tool.
  ToolRun run = RunTool({"-perft", "0"});
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.errors, std::vector<std::string>{"perft : invalid depth 0, the depth must be at least 1"});
  EXPECT_NE(run.status, 0);
  run = RunTool({"-perftd", "-1"});
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.errors, std::vector<std::string>{"perftd : invalid depth -1, the depth must be at least 1"});
  EXPECT_NE(run.status, 0);
  // No count goes deeper than a search: a deeper one would exhaust the stack.
  run = RunTool({"-perft", "5000"});
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.errors, std::vector<std::string>{"perft : invalid depth 5000, the depth must be at most 127"});
  EXPECT_EQ(run.status, 1);
  run = RunTool({"-divide", "100000", "-fen", Kiwipete});
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.errors, std::vector<std::string>{"divide : invalid depth 100000, the depth must be at most 127"});
  EXPECT_EQ(run.status, 1);
  // Divide takes any lower depth.
  run = RunTool({"-divide", "0"});
  ASSERT_EQ(run.lines.size(), 25u);
  EXPECT_EQ(run.lines[21], "     total : 20");
  EXPECT_EQ(run.status, 0);
}

TEST(ToolPerft, ProtocolCommands) {
  {
    Session session(TestIni(1));
    ASSERT_TRUE(session.StartUci());
    session.Send("perft 2");
    EXPECT_EQ(session.WaitFor("Depth"), "Depth 2");
    EXPECT_EQ(session.WaitFor("Nodes"), "Nodes = 400");
    EXPECT_TRUE(IsTimeLine(session.WaitFor("Time"), "Time = "));
    EXPECT_TRUE(IsNumberLine(session.WaitFor("Speed"), "Speed = "));
    session.Send("position fen " + Kiwipete);
    session.Send("perftd 1");
    EXPECT_EQ(session.WaitFor("Nodes castle"), "Nodes castle = 2");
    session.Send("divide 2");
    EXPECT_EQ(session.WaitFor("     total"), "     total : 2039");
    // A prefix without a blank is a command too; the number follows the first blank.
    session.Send("perftx 1");
    EXPECT_EQ(session.WaitFor("Nodes"), "Nodes = 48");
    // Refused depths are told in the protocol's form, and the engine goes on.
    session.Send("perft 0");
    EXPECT_EQ(session.WaitFor("info string perft"), "info string perft : invalid depth 0, the depth must be at least 1");
    session.Send("perft 100000");
    EXPECT_EQ(session.WaitFor("info string perft"),
              "info string perft : invalid depth 100000, the depth must be at most 127");
    session.Send("perft");  // no number: nothing
    ASSERT_TRUE(session.Sync());
    session.Send("go depth 1");
    EXPECT_FALSE(MoveOfLine(session.WaitFor("bestmove")).empty());
    EXPECT_EQ(session.Quit(), 0);
  }
  {
    Session session(TestIni(0));
    ASSERT_TRUE(session.StartXBoard());
    session.Send("perft 2");
    EXPECT_EQ(session.WaitFor("Nodes"), "Nodes = 400");
    session.Send("divide 1");
    EXPECT_EQ(session.WaitFor("     total"), "     total : 20");
    session.Send("perftd 0");
    EXPECT_EQ(session.WaitFor("perftd :"), "perftd : invalid depth 0, the depth must be at least 1");
    session.Send("divide 5000");
    EXPECT_EQ(session.WaitFor("divide :"), "divide : invalid depth 5000, the depth must be at most 127");
    session.Send("ping 3");
    EXPECT_EQ(session.WaitFor("pong"), "pong 3");
    EXPECT_EQ(session.Quit(), 0);
  }
}

TEST(ToolPerftSuite, ReferenceSuiteAndFailures) {
  const std::string suite = std::string(ZORVEL_TEST_DATA_DIR) + "/perft.epd";
  ToolRun run = RunTool({"-perftsuite", suite, SlowTarget() ? "1" : "3"}, TestIni(1), 60000);
  EXPECT_EQ(run.lines, std::vector<std::string>{"score = 27 / 27"});
  EXPECT_EQ(run.status, 0);
  // The depth defaults to 1.
  run = RunTool({"-perftsuite", suite});
  EXPECT_EQ(run.lines, std::vector<std::string>{"score = 27 / 27"});
  EXPECT_EQ(run.status, 0);

  TempDir data;
  data.Write("short.epd", StartFen + " ;D1 20 ;D2 400\n");
  run = RunTool({"-perftsuite", data.File("short.epd"), "2"});
  EXPECT_EQ(run.lines, std::vector<std::string>{"score = 1 / 1"});
  EXPECT_EQ(run.status, 0);
  run = RunTool({"-perftsuite", data.File("short.epd"), "3"});  // no field for depth 3
  EXPECT_EQ(run.lines, std::vector<std::string>{"score = 0 / 1"});
  EXPECT_NE(run.status, 0);
  data.Write("wrong.epd", StartFen + " ;D1 20\n" + StartFen + " ;D1 21\n");
  run = RunTool({"-perftsuite", data.File("wrong.epd")});
  EXPECT_EQ(run.lines, std::vector<std::string>{"score = 1 / 2"});
  EXPECT_NE(run.status, 0);
  // A line whose FEN does not read is named and fails: counted on the
  // position before it, the second line would pass.
  data.Write("garbage.epd", "garbage line here\nnot a fen ;D1 20\n");
  const std::string placement = "a character that is no piece letter, digit 1-8 or '/' in the placement";
  run = RunTool({"-perftsuite", data.File("garbage.epd")});
  EXPECT_EQ(run.lines, std::vector<std::string>{"score = 0 / 2"});
  EXPECT_EQ(run.errors, (std::vector<std::string>{
                            "perft suite : line 1 : bad FEN string 'garbage line here' (" + placement + ")",
                            "perft suite : line 2 : bad FEN string 'not a fen' (" + placement + ")"}));
  EXPECT_NE(run.status, 0);

  run = RunTool({"-perftsuite", suite, "0"});
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.errors, std::vector<std::string>{"perft suite : invalid depth 0, the depth must be at least 1"});
  EXPECT_NE(run.status, 0);
  run = RunTool({"-perftsuite", suite, "3000"});
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.errors, std::vector<std::string>{"perft suite : invalid depth 3000, the depth must be at most 127"});
  EXPECT_EQ(run.status, 1);
}

TEST(ToolTestSuite, ReportOfASmallSuite) {
  TempDir data;
  // Each line has one good answer that a shallow search finds: the only
  // legal move, the only move that does not lose to mate, or a mate in one.
  const std::string onlyKnightMove = "k7/8/8/8/q7/r6K/r7/6N1 w - - ";
  const std::string onlyCastling = "8/7k/8/8/8/r7/1r4PP/4K2R w K - ";
  const std::string scholarsMate = "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - ";
  const std::string foolsMate = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - ";
  const std::string lines =
      onlyKnightMove + "bm Nf3; id \"san\";\n" +
      onlyKnightMove + "bm Ng1-f3; id \"long\";\n" +
      onlyCastling + "bm 0-0; id \"castling\";\n" +
      scholarsMate + "bm Qxf7+; id \"check sign\";\n" +
      onlyKnightMove + "am Qh5; id \"avoided\";\n" +
      onlyKnightMove + "am Nf3; id \"not avoided\";\n" +
      "\n" +
      "no position here\n" +
      "x7/8/8 w - - bm e4; id \"bad fen\";\n" +
      foolsMate + "bm e4; id \"mated\";\n";
  data.Write("suite.epd", lines);
  const ToolRun run = RunTool({"-testsuite", "4", "1", "depth", "4", data.File("suite.epd")});
  EXPECT_EQ(run.status, 0);
  ASSERT_GE(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[0], "Zorvel version 2.0");
  EXPECT_EQ(run.lines[1], "");
  EXPECT_EQ(run.lines[2], "Test suite : " + data.File("suite.epd"));
  EXPECT_EQ(run.lines[3], "");

  std::vector<std::string> results;
  for (const std::string& line : run.lines)
    if (line.rfind("result => ", 0) == 0) results.push_back(line);
  const std::vector<std::string> expectedResults = {
      "result => 'Nf3' : ok",  "result => 'Nf3' : ok",  "result => 'O-O' : ok",
      "result => 'Qxf7' : ok", "result => 'Nf3' : ok", "result => 'Nf3' : bad"};
  EXPECT_EQ(results, expectedResults);

  auto has = [&](const std::string& text) {
    for (const std::string& line : run.lines)
      if (line == text) return true;
    return false;
  };
  EXPECT_TRUE(has(std::string(79, '-')));
  EXPECT_TRUE(has(onlyKnightMove + " bm Nf3; id san;"));
  EXPECT_TRUE(has(onlyCastling + " bm O-O; id castling;"));
  EXPECT_TRUE(has(onlyKnightMove + " am Nf3; id not avoided;"));
  EXPECT_TRUE(has("ERROR : bad FEN !"));

  // The report: eight tests (the empty line and the line without "bm" or
  // "am" are none), five solved.
  size_t at = 0;
  while (at < run.lines.size() && run.lines[at].rfind("Time : ", 0) != 0) ++at;
  ASSERT_EQ(run.lines.size(), at + 12);
  EXPECT_TRUE(IsTimeLine(run.lines[at], "Time : "));
  EXPECT_EQ(run.lines[at + 1], "");
  EXPECT_EQ(run.lines[at + 2].rfind("Total nodes = ", 0), 0u) << run.lines[at + 2];
  EXPECT_EQ(run.lines[at + 3], "");
  // Six searches to depth 4; the average is theirs.
  EXPECT_EQ(run.lines[at + 4], "Depth min = 4, max = 4, average = 4");
  EXPECT_EQ(run.lines[at + 5], "");
  EXPECT_EQ(run.lines[at + 6], "Score = 5 / 8");
  EXPECT_EQ(run.lines[at + 7], "");
  EXPECT_EQ(run.lines[at + 8], "Bad results : ");
  const std::vector<std::string> bad(run.lines.begin() + static_cast<long>(at) + 9, run.lines.end());
  const std::vector<std::string> expectedBad = {onlyKnightMove + "am Nf3; id \"not avoided\";",
                                                "x7/8/8 w - - bm e4; id \"bad fen\";",
                                                foolsMate + "bm e4; id \"mated\";"};
  EXPECT_EQ(bad, expectedBad);
}

TEST(ToolTestSuite, EmptyFile) {
  TempDir data;
  data.Write("empty.epd", "");
  const ToolRun run = RunTool({"-testsuite", "4", "1", "depth", "2", data.File("empty.epd")});
  const std::vector<std::string> header = {"Zorvel version 2.0", "", "Test suite : " + data.File("empty.epd"), ""};
  EXPECT_EQ(run.lines, header);
  // Nothing was tested: the run fails.
  EXPECT_EQ(run.errors, std::vector<std::string>{"test suite : no position in file '" + data.File("empty.epd") + "'"});
  EXPECT_EQ(run.status, 1);
}

TEST(ToolBenchmark, NodeCountIsTheSearchSignature) {
  const ToolRun run = RunTool({"-benchmark", "16", "1", "depth", "5"}, TestIni(1), 60000);
  ASSERT_EQ(run.lines.size(), 3u + 24u + 3u);
  EXPECT_EQ(run.lines[0], "Hash table size : 16 Mb");
  EXPECT_EQ(run.lines[1], "Search depth : 5");
  EXPECT_EQ(run.lines[2], "Number of threads : 1");
  for (int i = 0; i < 24; ++i) EXPECT_EQ(run.lines[3 + i], "position " + std::to_string(i + 1) + " / 24");
  EXPECT_EQ(run.lines[27].rfind("Time : ", 0), 0u) << run.lines[27];
  // The same on every target: a changed count means a changed search.
  EXPECT_EQ(run.lines[28], "Nodes : 350176");
  EXPECT_TRUE(IsNumberLine(run.lines[29], "Average speed : ", " nodes/s")) << run.lines[29];
  EXPECT_EQ(run.status, 0);
}

TEST(ToolBenchmark, FilesClampsAndTimeMode) {
  TempDir data;
  data.Write("mated.epd", "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3\n");
  data.Write("nothing.epd", "\n# a comment\n\n");  // no position
  // A mated position needs no search, whatever the depth.
  ToolRun run = RunTool({"-benchmark", "0", "-5", "depth", "200", data.File("mated.epd")});
  ASSERT_EQ(run.lines.size(), 7u);
  EXPECT_EQ(run.lines[0], "Hash table size : 1 Mb");
  EXPECT_EQ(run.lines[1], "Search depth : 128");
  EXPECT_EQ(run.lines[2], "Number of threads : 1");
  EXPECT_EQ(run.lines[3], "position 1 / 1");
  EXPECT_EQ(run.lines[5], "Nodes : 0");
  EXPECT_EQ(run.status, 0);

  // A line too long for the 1023-character buffer is skipped whole, not read
  // as two positions.
  data.Write("long.epd", std::string(1100, ' ') + "x\n" +
                             "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3\n");
  run = RunTool({"-benchmark", "1", "1", "depth", "1", data.File("long.epd")});
  ASSERT_EQ(run.lines.size(), 7u);
  EXPECT_EQ(run.lines[3], "position 1 / 1");
  EXPECT_EQ(run.status, 0);

  run = RunTool({"-benchmark", "4", "1", "time", "0", data.File("nothing.epd")});
  ASSERT_EQ(run.lines.size(), 7u);
  EXPECT_EQ(run.lines[1], "Search time : 1 s");
  EXPECT_EQ(run.lines[3].rfind("Time : ", 0), 0u);
  EXPECT_EQ(run.lines[4], "Nodes : 0");
  EXPECT_EQ(run.lines[5], "Average speed : 0 nodes/s");
  EXPECT_EQ(run.lines[6], "Average depth = 0, min = 128, max = 1");
  EXPECT_EQ(run.errors, std::vector<std::string>{"benchmark : no position in file '" + data.File("nothing.epd") + "'"});
  EXPECT_EQ(run.status, 1);
}

TEST(ToolBenchmarkThreaded, TwoThreadsInTimeMode) {
  TempDir data;
  data.Write("one.epd", "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\n");
  const ToolRun run = RunTool({"-benchmark", "4", "2", "time", "1", data.File("one.epd")});
  ASSERT_EQ(run.lines.size(), 8u);
  EXPECT_EQ(run.lines[2], "Number of threads : 2");
  const std::string& depths = run.lines[7];
  EXPECT_EQ(depths.rfind("Average depth = ", 0), 0u) << depths;
  EXPECT_TRUE(Contains(depths, ", min = ") && Contains(depths, ", max = ")) << depths;
  EXPECT_EQ(run.status, 0);
}

TEST(ToolPositionSuites, FenCheckSeeTestAndEvalSuite) {
  TempDir data;
  data.Write("fens.epd", "4k3/8/8/8/8/8/8/4K3 w - - 0 1\nP3k3/8/8/8/8/8/8/4K3 w - - 0 1\n");
  ToolRun run = RunTool({"-checkfensuite", data.File("fens.epd")});
  const std::vector<std::string> fenReport = {
      "Check FEN suite : '" + data.File("fens.epd") + "'",
      "Invalid FEN String : 'P3k3/8/8/8/8/8/8/4K3 w - - 0 1 ' (a pawn on the first or last rank)",
      "Checked 1 / 2 valid FEN string"};
  EXPECT_EQ(run.lines, fenReport);
  EXPECT_EQ(run.status, 0);

  data.Write("see.epd", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - bm e4;\n");
  run = RunTool({"-testsee", data.File("see.epd")});
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[0], "Count positions = 1");
  EXPECT_EQ(run.lines[1], "Count SEE = 20");
  EXPECT_EQ(run.status, 0);

  data.Write("eval.epd", StartFen + "\n");
  run = RunTool({"-evalsuite", data.File("eval.epd")});
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[0].rfind(StartFen + "  ; eval ", 0), 0u) << run.lines[0];
  EXPECT_EQ(run.lines[1], "");
  EXPECT_EQ(run.status, 0);
}

TEST(ToolDispatch, UnknownSwitchIsLoggedAndLeadsToProtocolMode) {
  Session session(TestIni(1, "LogLevel=8\n"), {"-frobnicate", "now"});
  EXPECT_EQ(session.WaitFor("Zorvel"), Banner);
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(session.Quit(), 0);
  EXPECT_TRUE(Contains(session.dir().Read("logfile.txt"),
                       "WARNING    Unknown command line parameter '-frobnicate'"));
}

// Whatever is wrong on the command line is said on standard error (a tool
// given arguments that do not fit prints its usage lines), and the program
// ends with status 1 instead of waiting for a protocol.
TEST(ToolDispatch, EveryToolSaysWhatIsWrongAndFails) {
  TempDir data;
  const std::string pgn = data.File("games.pgn");
  const std::string epd = data.File("one.epd");
  const std::string book = data.File("book.bin");
  data.Write("games.pgn", "[Event \"a\"]\n\n1. e4 e5 *\n");
  data.Write("one.epd", StartFen + " ;D1 20\n");
  const std::string endless = data.File("endless.pgn");
  data.Write("endless.pgn", "[Event \"a\"]\n" + std::string(2 << 20, '\0'));
  const std::string missing = "cannot open file 'nosuch.epd'";
  const std::string notFound = "ERROR      file not found : nosuch.epd";
  // Files without a position: an empty one, and a pipe without a writer.
  const std::string empty = data.File("empty.epd");
  data.Write("empty.epd", "");
  const std::string fifo = data.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto noPosition = [](const std::string& tool, const std::string& file) {
    return std::vector<std::string>{tool + " : no position in file '" + file + "'"};
  };
  // A good book, which no failed build may touch, and the PGN file under a
  // second name (a hard link).
  const std::string old = data.File("old.bin");
  const std::string oldBytes = BookFileBytes({{GameTracker().board.key, GameTracker().MoveWord("e2e4"), 1, 2}}, 1);
  data.Write("old.bin", oldBytes);
  const std::string samePgn = data.File("same.pgn");
  ASSERT_EQ(link(pgn.c_str(), samePgn.c_str()), 0);
  const std::string dangling = data.File("dangling.bin");
  ASSERT_EQ(symlink(data.File("gone.bin").c_str(), dangling.c_str()), 0);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> errors;
    std::string logLine;
    size_t reportLines = 0;  // the report of a run over a file without a position
  };
  const std::vector<Case> cases = {
      // A file that cannot be opened, for every tool that reads one.
      {{"-perftsuite", "nosuch.epd"}, {missing}, notFound},
      {{"-testsuite", "4", "1", "depth", "2", "nosuch.epd"}, {missing}, notFound},
      {{"-evalsuite", "nosuch.epd"}, {missing}, notFound},
      {{"-checkfensuite", "nosuch.epd"}, {missing}, notFound},
      {{"-testsee", "nosuch.epd"}, {missing}, notFound},
      {{"-benchmark", "16", "1", "depth", "2", "nosuch.epd"}, {missing}, notFound},
      {{"-buildbook", "nosuch.pgn", book, "4", "1"}, {"cannot open file 'nosuch.pgn'"},
       "ERROR      Chess PGN : File not found \"nosuch.pgn\""},
      // A file that opens but cannot be read, and a book that cannot be written.
      {{"-evalsuite", data.path()}, {"cannot read file '" + data.path() + "'"}, ""},
      {{"-evalsuite", "/dev/zero"}, {"cannot read file '/dev/zero' (a line that does not end)"}, ""},
      {{"-buildbook", data.path(), book, "4", "1"},
       {"cannot read file '" + data.path() + "' (not a regular file)"}, ""},
      // Input that never ends: a device, and a line that runs on (the
      // zeros of a disk image).
      {{"-buildbook", "/dev/zero", book, "4", "1"},
       {"cannot read file '/dev/zero' (not a regular file)"}, ""},
      {{"-buildbook", endless, book, "4", "1"},
       {"cannot read file '" + endless + "' (a line that does not end)"},
       "ERROR      Chess PGN : line 2 of \"" + endless + "\" does not end, reading stopped"},
      {{"-buildbook", pgn, data.File("no-dir/book.bin"), "4", "1"},
       {"cannot write file '" + data.File("no-dir/book.bin") + "' (No such file or directory)"}, ""},
      // A file without a position: the report of nothing, and a failure. An
      // empty file name is a file that does not open.
      {{"-perftsuite", empty}, noPosition("perft suite", empty), "", 1},
      {{"-testsuite", "4", "1", "depth", "2", empty}, noPosition("test suite", empty), "", 4},
      {{"-evalsuite", empty}, noPosition("eval suite", empty), "", 3},
      {{"-checkfensuite", fifo}, noPosition("check FEN suite", fifo), "", 2},
      {{"-testsee", empty}, noPosition("SEE test", empty), "", 4},
      {{"-benchmark", "16", "1", "depth", "2", empty}, noPosition("benchmark", empty), "", 6},
      {{"-benchmark", "16", "1", "depth", "2", ""}, {"cannot open file ''"}, "ERROR      file not found : \n"},
      // A book file that cannot take a book is refused before the games are
      // read: the PGN file itself, a pipe that would wait for a reader, a
      // directory, a symbolic link to no file. Games without a book entry,
      // or no game at all (the arguments swapped: a book read as the PGN
      // file), write nothing.
      {{"-buildbook", pgn, samePgn, "4", "1"},
       {"cannot write file '" + samePgn + "' (it is the PGN file '" + pgn + "')"}, ""},
      {{"-buildbook", pgn, fifo, "4", "1"}, {"cannot write file '" + fifo + "' (not a regular file)"}, ""},
      {{"-buildbook", pgn, dangling, "4", "1"}, {"cannot write file '" + dangling + "' (a symbolic link to no file)"}, ""},
      {{"-buildbook", pgn, data.path(), "4", "1"},
       {"cannot write file '" + data.path() + "' (not a regular file)"}, ""},
      {{"-buildbook", old, pgn, "4", "1"}, {"no book entry from " + old + " : no game in it, nothing written"}, ""},
      {{"-buildbook", pgn, old, "0", "1"},
       {"no book entry from " + pgn + " : 1 games read, no move within max ply 0 reaches min count 1, nothing written"}, ""},
      {{"-buildbook", pgn, old, "4", "2"},
       {"no book entry from " + pgn + " : 1 games read, no move within max ply 4 reaches min count 2, nothing written"}, ""},
      // Numbers that are none.
      {{"-perft", "3x"}, {"bad number '3x'"}, ""},
      {{"-perftsuite", epd, "one"}, {"bad number 'one'"}, ""},
      {{"-testsuite", "4", "1", "time", "", epd}, {"bad number ''"}, ""},
      {{"-buildbook", pgn, book, "ten", "1"}, {"bad number 'ten'"}, ""},
      {{"-buildbook", pgn, book, "-1", "1"}, {"build opening book : invalid maximum ply -1, it must be at least 0"}, ""},
      {{"-buildbook", pgn, book, "10", "-2"}, {"build opening book : invalid minimum count -2, it must be at least 0"}, ""},
      {{"-benchmark", "16M"}, {"bad number '16M'"}, ""},
      // Arguments that do not fit: the tool's own usage.
      {{"-testsuite"}, {UsageLines[0]}, ""},
      {{"-testsuite", "4", "1", "time", "1"}, {UsageLines[0]}, ""},
      {{"-perftsuite"}, {UsageLines[1]}, ""},
      {{"-perftsuite", epd, "1", "2"}, {UsageLines[1]}, ""},
      {{"-perft", "3", "-fen"}, {UsageLines[2], UsageLines[3]}, ""},
      {{"-perftd", "3", "-fun", StartFen}, {UsageLines[4], UsageLines[5]}, ""},
      {{"-divide"}, {UsageLines[6], UsageLines[7]}, ""},
      {{"-buildbook", pgn, book, "10"}, {UsageLines[8]}, ""},
      {{"-benchmark", "16", "1", "depth", "2", epd, "extra"}, {UsageLines[9]}, ""},
      {{"-evalsuite"}, {UsageLines[10]}, ""},
      {{"-checkfensuite", epd, "extra"}, {UsageLines[11]}, ""},
      {{"-testsee"}, {UsageLines[12]}, ""},
  };
  for (const Case& c : cases) {
    std::string command;
    for (const std::string& arg : c.args) command += arg + " ";
    const ToolRun run = RunTool(c.args, TestIni(1, "LogLevel=16\n"));
    EXPECT_EQ(run.errors, c.errors) << command;
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.lines.size(), c.reportLines) << command;
    EXPECT_TRUE(Contains(run.log, c.logLine)) << command;
  }
  EXPECT_FALSE(data.Exists("book.bin"));
  EXPECT_FALSE(data.Exists("gone.bin"));
  EXPECT_EQ(data.Read("old.bin"), oldBytes);
  EXPECT_EQ(data.Read("games.pgn"), "[Event \"a\"]\n\n1. e4 e5 *\n");

  // A book written half way (a file-size limit stops it) leaves the book
  // that was there as it was, and nothing beside it.
  std::string many;
  const char* const firstMoves[] = {"a3", "b4", "c3", "d4", "e3", "f4", "g3", "h4", "Na3", "Nf3"};
  for (const char* white : firstMoves)
    for (const char* black : {"a6", "b5", "c6", "d5", "e6", "f5", "g6", "h5", "Na6", "Nf6"})
      many += std::string("[Event \"x\"]\n\n1. ") + white + " " + black + " *\n\n";
  data.Write("many.pgn", many);  // 110 entries: 1772 bytes
  std::vector<std::string> files = data.List();
  ShellRun limited = RunInShell(data, "ulimit -f 1; ", {"-buildbook", data.File("many.pgn"), old, "10", "1"});
  EXPECT_EQ(limited.errors, std::vector<std::string>{"cannot write file '" + old + "' (File too large)"});
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(data.Read("old.bin"), oldBytes);
  std::vector<std::string> after = data.List();
  std::sort(files.begin(), files.end());
  std::sort(after.begin(), after.end());
  EXPECT_EQ(after, files);

  // A report that cannot be written is a failure of every tool.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-help"}, {"-perft", "3"}, {"-checkfensuite", epd},
        {"-buildbook", pgn, data.File("new.bin"), "4", "1"}}) {
    const ShellRun full = RunInShell(data, "", args, "/dev/full");
    EXPECT_EQ(full.errors, std::vector<std::string>{"cannot write standard output (No space left on device)"})
        << args[0];
    EXPECT_EQ(full.status, 1) << args[0];
  }

  // A bad FEN: the tool's own line and the FEN named on standard error.
  const ToolRun run = RunTool({"-perft", "3", "-fen", "8/8/8/8 x - - 0 1"}, TestIni(1, "LogLevel=16\n"));
  EXPECT_EQ(run.lines, std::vector<std::string>{"Bad FEN string !"});
  EXPECT_EQ(run.errors, std::vector<std::string>{"bad FEN string '8/8/8/8 x - - 0 1'"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.log, "ERROR      Invalid FEN string : '8/8/8/8 x - - 0 1'"));
}

TEST(ToolBuildBook, BookFromAPgnIsPlayedOverUci) {
  TempDir data;
  // Three games open 1. d4 d5 2. c4; one opens 1. e4 and is lost.
  const std::string pgn =
      "[Event \"a\"]\n[Result \"1-0\"]\n\n1. d4 d5 2. c4 e6 3. Nc3 1-0\n\n"
      "[Event \"b\"]\n[Result \"1/2-1/2\"]\n\n1. d4 d5 2. c4 c6 1/2-1/2\n\n"
      "[Event \"c\"]\n[Result \"1-0\"]\n\n1. d4 d5 2. c4 dxc4 1-0\n\n"
      "[Event \"d\"]\n[Result \"0-1\"]\n\n1. e4 e5 0-1\n";
  data.Write("games.pgn", pgn);
  ToolRun run = RunTool({"-buildbook", data.File("games.pgn"), data.File("book.bin"), "10", "2"});
  EXPECT_EQ(run.lines, std::vector<std::string>{"4 games read, 0 stopped early; 3 book entries written to " +
                                                data.File("book.bin")});
  EXPECT_EQ(run.status, 0);
  ASSERT_TRUE(data.Exists("book.bin"));
  const std::string book = data.Read("book.bin");
  ASSERT_GE(book.size(), 12u);
  EXPECT_EQ(book.substr(0, 4), "BOOK");
  // Moves of at least two games: d4, d5, c4.
  EXPECT_EQ(book.size(), 12u + 3u * 16u);

  const std::string ini = TestIni(1, "Book=1\nBookFile=" + data.File("book.bin") + "\n");
  Session session(ini);
  ASSERT_TRUE(session.StartUci());
  session.Send("position startpos");
  session.Send("go depth 3");
  EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "d2d4");
  session.Send("position startpos moves d2d4 d7d5");
  session.Send("go depth 3");
  EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "c2c4");
  EXPECT_EQ(session.Quit(), 0);

}

TEST(ToolTestSuite, OnlyBestAndAvoidLinesCountAndMovesMatchWhole) {
  TempDir data;
  // Black mates with Qd1+ (written with and without its check sign); White's
  // best is the pawn push d7, which neither is nor avoids the rook move Rd7;
  // the only legal move of the castling position is the short castle. The
  // operations are read outside quoted strings: the "am" of the name is
  // none. The knight on g3 takes the queen, and of the other two that could,
  // only its rank tells it from the one on g5.
  const std::string queenMate = "1k1r4/pp1b1R2/3q2pp/4p3/2B5/4Q3/PPP2B2/2K5 b - - ";
  const std::string pawnPush = "2r1r2k/R5pp/3P4/8/8/7P/5PPK/8 w - - ";
  const std::string onlyCastling = "8/7k/8/8/8/r7/1r4PP/4K2R w K - ";
  const std::string threeKnights = "7k/8/8/2N3N1/4q2p/6N1/8/K7 w - - ";
  data.Write("suite.epd",
             "# a comment line\n" +
             queenMate + "bm Qd1; id \"a\";\n" +
             queenMate + "bm Qd1+!; id \"b\";\n" +
             "4k3/8/8/8/8/8/8/4K3 w - - dm 1; id \"no test\";\n" +
             pawnPush + "bm Rd7; id \"c\";\n" +
             pawnPush + "am Rd7; id \"d\";\n" +
             onlyCastling + "bm O-O-O; id \"e\";\n" +
             onlyCastling + "am 0-0-0; id \"f\";\n" +
             onlyCastling + "id \"I am here\"; bm O-O-O;\n" +
             threeKnights + "bm N3xe4; id \"g\";\n");
  const ToolRun run = RunTool({"-testsuite", "4", "1", "depth", "6", data.File("suite.epd")});
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> results;
  for (const std::string& line : run.lines)
    if (line.rfind("result => ", 0) == 0) results.push_back(line);
  const std::vector<std::string> expectedResults = {
      "result => 'Qd1' : ok", "result => 'Qd1' : ok",  "result => 'd7' : bad",
      "result => 'd7' : ok",  "result => 'O-O' : bad", "result => 'O-O' : ok",
      "result => 'O-O' : bad", "result => 'N3xe4' : ok"};
  EXPECT_EQ(results, expectedResults);
  EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), onlyCastling + " bm O-O-O; id I am here;"),
            run.lines.end());

  size_t at = 0;
  while (at < run.lines.size() && run.lines[at] != "Bad results : ") ++at;
  ASSERT_GE(at, 4u);
  EXPECT_EQ(run.lines[at - 4], "Depth min = 6, max = 6, average = 6");
  EXPECT_EQ(run.lines[at - 2], "Score = 5 / 8");
  const std::vector<std::string> bad(run.lines.begin() + static_cast<long>(at) + 1, run.lines.end());
  const std::vector<std::string> expectedBad = {pawnPush + "bm Rd7; id \"c\";",
                                                onlyCastling + "bm O-O-O; id \"e\";",
                                                onlyCastling + "id \"I am here\"; bm O-O-O;"};
  EXPECT_EQ(bad, expectedBad);
}

TEST(ToolCheckFenSuite, ValidExactlyWhatTheEngineTakesWithTheReason) {
  TempDir data;
  struct Case {
    std::string fen;
    std::string reason;  // empty: valid
  };
  const std::vector<Case> cases = {
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", ""},
      {"4k3/8/8/8/8/8/8/4K3 w - - bm Kd2; id \"epd\";", ""},
      {"4k3/8/8/8/8/8/8/4K3 w - e3 0 1", "the en-passant square is not on rank 6 (White to move)"},
      {"4k3/8/8/8/8/8/8 w - - 0 1", "no white king"},
      // Fields that read are used, what follows them is passed over.
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 # from game 12", ""},
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 bm e5;", ""},
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 | D1 20", ""},
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 {comment}", ""},
      {"4k2R/8/8/8/8/8/8/4K3 w - - 0 1", "the side to move can take the king"},
  };
  std::string file;
  std::vector<std::string> expected = {"Check FEN suite : '" + data.File("fens.epd") + "'"};
  for (const Case& c : cases) {
    file += c.fen + "\n";
    if (!c.reason.empty())
      expected.push_back("Invalid FEN String : '" + c.fen + " ' (" + c.reason + ")");
  }
  expected.push_back("Checked 6 / 9 valid FEN string");
  data.Write("fens.epd", file);
  const ToolRun run = RunTool({"-checkfensuite", data.File("fens.epd")});
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(run.status, 0);

  // The engine's own FEN reading agrees line by line.
  for (const Case& c : cases) {
    const ToolRun perft = RunTool({"-perft", "1", "-fen", c.fen});
    EXPECT_EQ(perft.status, c.reason.empty() ? 0 : 1) << c.fen;
  }
}

TEST(ToolBuildBook, AnnotationsLineCommentsAndGluedMovesAreReadAndStoppedGamesTold) {
  TempDir data;
  // The comment before the first game's tags is no game, and the line that
  // starts with '%' is skipped whole: its brace opens no comment. Five
  // openings of their own: 4, 5, 4, 2 and 4 distinct moves (the last ends
  // with an en-passant capture marked "e.p."); the fourth game stops at a
  // move no knight can make. The fifth, whose FEN tag does not read, is not
  // replayed at all (from the board the fourth left, e4 and e5 would be two
  // more entries); its message names the tag's own line.
  const std::string pgn =
      "{Openings of a test}\n\n"
      "[Event \"a\"]\n\n1. e4!? e5?! 2. Nf3! Nc6 *\n\n"
      "%ignore { this line\n"
      "[Event \"b\"]\n\n1. d4 d5 ; a comment to the end of the line\n2. c4 e6 3. Nc3 *\n\n"
      "[Event \"c\"]\n\n1. c4{English} e5 2. Nc3(2. g3) Nf6 *\n\n"
      "[Event \"d\"]\n\n1. Nf3 d5\n2. Nf9 Nf6 *\n\n"
      "[Event \"e\"]\n[FEN \"8/8/8 w - - 0 1\"]\n[Site \"x\"]\n\n1. e4 e5 *\n\n"
      "[Event \"f\"]\n\n1. e4 d5 2. e5 f5 3. exf6 e.p. *\n";
  data.Write("games.pgn", pgn);
  const ToolRun run = RunTool({"-buildbook", data.File("games.pgn"), data.File("book.bin"), "20", "1"});
  const std::vector<std::string> expected = {
      data.File("games.pgn") + ", line 20 : game 4 stops at 'Nf9' (cannot be read as a move of the position)",
      data.File("games.pgn") + ", line 23 : game 5 is not replayed: its FEN tag '8/8/8 w - - 0 1' cannot be read",
      "6 games read, 2 stopped early; 19 book entries written to " + data.File("book.bin")};
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(run.status, 0);
  ASSERT_TRUE(data.Exists("book.bin"));
  EXPECT_EQ(data.Read("book.bin").size(), 12u + 19u * 16u);
}

// One hand-written file read by every line-based tool: a byte-order mark,
// CR LF and lone CR line ends, blank and comment lines (one too long for the
// tools' buffers), blanks before a position and tabs where blanks may stand.
// Two data lines, and only those count.
TEST(ToolFiles, ByteOrderMarkCrLfCommentsAndBlanks) {
  TempDir data;
  const std::string onlyKnightMove = "k7/8/8/8/q7/r6K/r7/6N1\tw - -\tbm Nf3;\tid \"knight\"; D1\t1;";
  const std::string withCastling = "8/7k/8/8/8/r7/1r4PP/4K2R w\tK - bm\tO-O; id \"castle\"; D1 9;";
  data.Write("hand.epd", "\xEF\xBB\xBF" + onlyKnightMove + "\r\n# written by hand\r\r" +
                             "; comment line with bm inside\r \t \r\n#" + std::string(600, 'x') +
                             "\r\n \t " + withCastling + " \t\r\n");
  const std::string file = data.File("hand.epd");
  auto blanked = [](std::string text) {
    std::replace(text.begin(), text.end(), '\t', ' ');
    return text;
  };

  ToolRun run = RunTool({"-checkfensuite", file});
  EXPECT_EQ(run.lines, (std::vector<std::string>{"Check FEN suite : '" + file + "'",
                                                 "Checked 2 / 2 valid FEN string"}));
  run = RunTool({"-perftsuite", file});
  EXPECT_EQ(run.lines, std::vector<std::string>{"score = 2 / 2"});
  EXPECT_EQ(run.status, 0);
  run = RunTool({"-testsuite", "4", "1", "depth", "2", file});
  EXPECT_TRUE(std::find(run.lines.begin(), run.lines.end(), "Score = 2 / 2") != run.lines.end());
  run = RunTool({"-evalsuite", file});
  ASSERT_EQ(run.lines.size(), 5u);
  EXPECT_EQ(run.lines[0].rfind(blanked(onlyKnightMove), 0), 0u) << run.lines[0];
  EXPECT_EQ(run.lines[1].rfind(blanked(withCastling), 0), 0u) << run.lines[1];
  run = RunTool({"-benchmark", "1", "1", "depth", "1", file});
  ASSERT_EQ(run.lines.size(), 8u);
  EXPECT_EQ(run.lines[4], "position 2 / 2");
  EXPECT_TRUE(run.errors.empty());
  EXPECT_EQ(run.status, 0);
  run = RunTool({"-testsee", file});
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[0], "Count positions = 2");
  EXPECT_EQ(run.lines[1], "Count SEE = 10");  // 1 + 9 legal moves, castling among them
  EXPECT_EQ(run.status, 0);

  // The project's own suite opens with a comment line.
  run = RunTool({"-perftsuite", std::string(ZORVEL_TEST_DATA_DIR) + "/perft960-named.epd"});
  EXPECT_EQ(run.lines, std::vector<std::string>{"score = 2 / 2"});
  EXPECT_EQ(run.status, 0);
}

// A line whose FEN does not read is named with its number, never replaced by
// another position or passed over in silence; lines that end in a lone CR
// are counted as lines that end in LF.
TEST(ToolFiles, BenchmarkAndEvalSuiteNameTheLinesTheyCannotRead) {
  const std::string takesKing = "line 3 : bad FEN string '4k3/8/8/8/8/8/8/4R1K1 w - -' (the side to move can take the king)";
  const std::string placement = "a character that is no piece letter, digit 1-8 or '/' in the placement";
  for (const std::string end : {"\n", "\r"}) {
    TempDir data;
    data.Write("bad.epd", "not a fen" + end + "8/8/8/8/8/8/8/8 w - -" + end +
                              "4k3/8/8/8/8/8/8/4R1K1 w - -" + end + StartFen + end);
    ToolRun run = RunTool({"-benchmark", "1", "1", "depth", "1", data.File("bad.epd")});
    ASSERT_EQ(run.lines.size(), 7u);
    EXPECT_EQ(run.lines[3], "position 1 / 1");
    EXPECT_EQ(run.errors, (std::vector<std::string>{
                              "benchmark : line 1 : bad FEN string 'not a fen' (" + placement + ")",
                              "benchmark : line 2 : bad FEN string '8/8/8/8/8/8/8/8 w - -' (no white king)",
                              "benchmark : " + takesKing}));
    EXPECT_EQ(run.status, 1);
    run = RunTool({"-evalsuite", data.File("bad.epd")});
    ASSERT_EQ(run.lines.size(), 4u);
    EXPECT_EQ(run.lines[0].rfind(StartFen + "  ; eval ", 0), 0u) << run.lines[0];
    EXPECT_EQ(run.errors, (std::vector<std::string>{
                              "eval suite : line 1 : bad FEN string 'not a fen' (" + placement + ")",
                              "eval suite : line 2 : bad FEN string '8/8/8/8/8/8/8/8 w - -' (no white king)",
                              "eval suite : " + takesKing}));
    EXPECT_EQ(run.status, 1);
  }
}
