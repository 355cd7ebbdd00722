// UCI answers and options as interfaces rely on them: every "go" gets its
// "bestmove", the strength options are in force as announced, and a book
// file named after "OwnBook" is used.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "e2e/e2e_support.h"

namespace {

// Reads until the dialogue holds `count` "bestmove" lines; false when they
// did not come in time.
bool WaitForAnswers(EngineProcess& engine, size_t count, int nativeMs) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(ScaledTimeout(nativeMs));
  std::string line;
  while (engine.LinesStartingWith("bestmove").size() < count) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0 || !engine.ReadLine(line, static_cast<int>(left))) return false;
  }
  return true;
}

class UciAnswersThreaded : public ::testing::TestWithParam<int> {};

INSTANTIATE_TEST_SUITE_P(InputThread, UciAnswersThreaded, ::testing::Values(1, 0));

}  // namespace

// A new game started while the engine thinks ends that search with its
// answer first, also after a "stop" and in a ponder search (running, or ended
// at its depth and waiting); a later "stop" finds nothing left to answer.
TEST_P(UciAnswersThreaded, EveryGoIsAnsweredWhenANewGameInterrupts) {
  const char* const dialogues[][2] = {
      {"go movetime 5000", "stop\nucinewgame\nisready\n"},
      {"go wtime 10000 btime 10000 winc 100 binc 100", "ucinewgame\nisready\n"},
      {"go infinite", "ucinewgame\nisready\n"},
      {"go ponder wtime 10000 btime 10000", "ucinewgame\nisready\n"},
      {"go ponder depth 1", "ucinewgame\nisready\n"}};
  Session session(TestIni(GetParam()));
  ASSERT_TRUE(session.StartUci());
  session.Send("setoption name Ponder value true");
  GameTracker afterE4;
  ASSERT_TRUE(afterE4.Play("e2e4"));
  size_t searches = 0;
  for (const char* threads : {"1", "4"}) {
    session.Send(std::string("setoption name Threads value ") + threads);
    for (const auto& d : dialogues) {
      session.Send("position startpos moves e2e4");
      ASSERT_TRUE(session.Sync());
      session.Send(d[0]);
      ASSERT_FALSE(session.WaitFor("info depth").empty()) << d[0];
      session.engine().SendRaw(d[1]);
      ++searches;
      ASSERT_TRUE(WaitForAnswers(session.engine(), searches, 5000))
          << threads << " threads, " << d[0];
      const std::string answer = session.engine().LinesStartingWith("bestmove").back();
      EXPECT_TRUE(afterE4.IsLegal(MoveOfLine(answer))) << answer;
      session.Send("stop");
      session.Send("printFEN");  // the new game has begun
      EXPECT_EQ(session.WaitFor("rnbqkbnr"),
                "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    }
  }
  ASSERT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), searches);
  EXPECT_EQ(session.Quit(), 0);
}

// Below Elo 2000 the evaluation mixes in noise: "eval" tells whether the
// strength limit is in force.
TEST(UciAnswers, StrengthOptionsAreInForceAsAnnounced) {
  std::string limited, full;
  {
    Session session(TestIni(1, "UseStrength=1\nStrengthELO=1000\n"));
    ASSERT_TRUE(session.StartUci());
    session.Send("position startpos moves e2e4");
    session.Send("eval");
    limited = session.WaitFor("eval = ");
    session.Send("setoption name UCI_LimitStrength value false");
    session.Send("eval");
    full = session.WaitFor("eval = ");
    EXPECT_NE(limited, full);
    EXPECT_EQ(session.Quit(), 0);
  }
  // "UCI_Elo" limits only while "UCI_LimitStrength" is true.
  Session session(TestIni(1));
  ASSERT_TRUE(session.StartUci());
  session.Send("position startpos moves e2e4");
  session.Send("setoption name UCI_Elo value 1000");
  session.Send("eval");
  EXPECT_EQ(session.WaitFor("eval = "), full);
  session.Send("setoption name UCI_LimitStrength value true");
  session.Send("eval");
  EXPECT_EQ(session.WaitFor("eval = "), limited);
  EXPECT_EQ(session.Quit(), 0);
}

// Interfaces send "OwnBook" before "Book File": the book stays wanted when
// the default file is missing.
TEST(UciAnswers, ABookFileNamedAfterOwnBookIsUsed) {
  GameTracker start;
  Session session(TestIni(1));  // the default book file is missing
  const Move bookMove = start.MoveWord("g1h3");
  session.dir().Write("my.bin", BookFileBytes({{start.board.key, bookMove, 1, 2}}, 1));
  ASSERT_TRUE(session.StartUci());
  session.Send("setoption name OwnBook value true");
  EXPECT_EQ(session.WaitFor("info string"), "info string book file not found");
  session.Send("setoption name Book File value my.bin");
  session.Send("position startpos");
  session.Send("go depth 1");
  EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "g1h3");  // no search plays it
  // A file that does not load still says so.
  session.Send("setoption name Book File value missing.bin");
  EXPECT_EQ(session.WaitFor("info string"), "info string book file not found");
  EXPECT_EQ(session.Quit(), 0);
}
