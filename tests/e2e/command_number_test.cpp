// Numbers in UCI and XBoard commands, read by the real engine: a value is a
// whole number of its range or the interface is told and nothing changes,
// and a limit takes effect as given, however large.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

// The values of one kind of log message, in order: the first group of the
// pattern in every line of the log that holds it.
std::vector<std::string> Logged(const std::string& log, const std::string& pattern) {
  std::vector<std::string> values;
  const std::regex message(pattern);
  for (std::sregex_iterator it(log.begin(), log.end(), message), end; it != end; ++it)
    values.push_back((*it)[1].str());
  return values;
}

}  // namespace

TEST(CommandNumbers, AreWholeNumbersOfTheirRangeOrTold) {
  // Each row: the lines sent to one protocol and the line that answers them
  // (any line with the prefix when no whole line is given).
  const struct {
    bool xboard;
    const char* lines;
    const char* prefix;
    const char* answer;
  } rows[] = {
      {false, "setoption name Hash value 16x", "info string",
       "info string Hash '16x' is not a whole number, the option is unchanged"},
      {false, "setoption name Hash value", "info string",
       "info string Hash '' is not a whole number, the option is unchanged"},
      {false, "setoption name Hash value 0", "info string", "info string Hash 0 is outside 1..2048, 1 is used"},
      {false, "setoption name Threads value 2 2", "info string",
       "info string Threads '2 2' is not a whole number, the option is unchanged"},
      {false, "setoption name Hash value +2\nisready", "readyok", "readyok"},
      // "infinite" twice holds for its own search alone, as once does.
      {false, "position startpos\ngo depth 1", "bestmove", ""},
      {false, "go infinite infinite\nstop", "bestmove", ""},
      {false, "go", "bestmove", ""},
      {true, "level 40 5 -1", "Error", "Error (bad time control): level 40 5 -1"},
      {true, "level +40 5 0", "Error", "Error (bad time control): level +40 5 0"},
      {true, "level 40 -0 0", "Error", "Error (bad time control): level 40 -0 0"},
      {true, "level 2147483648 5 0", "Error", "Error (bad time control): level 2147483648 5 0"},
      {true, "level 5x", "Error", "Error (bad time control): level 5x"},
      {true, "level 1x", "Error", "Error (bad time control): level 1x"},
      {true, "level 40 1x 0", "Error", "Error (bad time control): level 40 1x 0"},
      {true, "level 40 5:3x 0", "Error", "Error (bad time control): level 40 5:3x 0"},
      {true, "level 40 5 1x", "Error", "Error (bad time control): level 40 5 1x"},
      {true, "level 0000000000000000000000000000000000000000000000000000000000000000040 5 0", "Error",
       "Error (bad time control): level 0000000000000000000000000000000000000000000000000000000000000000040 5 0"},
      {true, "cores 3x", "Error", "Error (not a number of threads): cores 3x"},
      {true, "level 40 0:30 1.5\ncores 2\nping 1", "pong", "pong 1"},
      // A move time beyond 32 bits of milliseconds is the longest there is.
      {true, "new\nst 2147484\ngo\nping 2", "pong", "pong 2"},
      {true, "?", "move", ""},
  };
  Session uci(TestIni(1, "LogLevel=1\n"));
  Session xboard(TestIni(1, "LogLevel=1\n"));
  ASSERT_TRUE(uci.StartUci());
  ASSERT_TRUE(xboard.StartXBoard());
  xboard.Send("new");
  size_t errors = 0;
  for (const auto& row : rows) {
    Session& session = row.xboard ? xboard : uci;
    session.engine().SendRaw(std::string(row.lines) + "\n");
    const std::string line = session.WaitFor(row.prefix);
    if (*row.answer)
      EXPECT_EQ(line, row.answer) << row.lines;
    else
      EXPECT_FALSE(line.empty()) << row.lines;
    if (row.xboard && std::string(row.prefix) == "Error") ++errors;
  }
  EXPECT_EQ(xboard.engine().LinesStartingWith("Error").size(), errors);
  EXPECT_EQ(xboard.engine().LinesStartingWith("move").size(), 1u);
  EXPECT_EQ(uci.Quit(), 0);
  EXPECT_EQ(xboard.Quit(), 0);

  // What took effect: the table sizes of "uci" and of the values held to the
  // range or read, the threads, the time of the search under "st".
  const std::string uciLog = uci.dir().Read("logfile.txt");
  EXPECT_EQ(Logged(uciLog, "Init main hash table : (-?[0-9]+) Mb"), (std::vector<std::string>{"4", "1", "2"}));
  const std::string xboardLog = xboard.dir().Read("logfile.txt");
  EXPECT_EQ(Logged(xboardLog, "Using (-?[0-9]+) threads"), (std::vector<std::string>{"1", "2"}));
  const std::vector<std::string> times = Logged(xboardLog, "search : ([0-9]+) ms for the move");
  ASSERT_EQ(times.size(), 1u);
  EXPECT_GE(std::stoll(times[0]), 2000000);
}
