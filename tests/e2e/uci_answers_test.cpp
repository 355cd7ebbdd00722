// UCI answers and options as an interface relies on them: every "go" gets its
// "bestmove", the strength options are in force as announced, and a book file
// named after "OwnBook" is used.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Reads until the dialogue holds `count` "bestmove" lines; false when they
// did not come in time.
bool WaitForAnswers(Session& session, size_t count, int nativeMs) {
  EngineProcess& engine = session.engine();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledTimeout(nativeMs));
  std::string line;
  while (engine.LinesStartingWith("bestmove").size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || !engine.ReadLine(line, static_cast<int>(left))) return false;
  }
  return true;
}

std::string Tail(Session& session) {
  const auto& transcript = session.engine().Transcript();
  std::string text;
  for (size_t i = transcript.size() > 12 ? transcript.size() - 12 : 0; i < transcript.size(); ++i)
    text += transcript[i] + "\n";
  return text;
}

class UciAnswersThreaded : public ::testing::TestWithParam<int> {};

INSTANTIATE_TEST_SUITE_P(InputThread, UciAnswersThreaded, ::testing::Values(1, 0));

}  // namespace

// A new game that an interface starts while the engine thinks ends that
// search with its answer first, also after a "stop" and in a ponder search;
// a "stop" that comes later finds nothing left to answer.
TEST_P(UciAnswersThreaded, EveryGoIsAnsweredWhenANewGameInterrupts) {
  struct Dialogue {
    const char* go;
    const char* interrupt;
  };
  const Dialogue dialogues[] = {
      {"go movetime 5000", "stop\nucinewgame\nisready\n"},
      {"go movetime 5000", "stop\nucinewgame\nisready\n"},
      {"go movetime 5000", "stop\nucinewgame\nisready\n"},
      {"go wtime 10000 btime 10000 winc 100 binc 100", "ucinewgame\nisready\n"},
      {"go infinite", "ucinewgame\nisready\n"},
      {"go ponder wtime 10000 btime 10000", "ucinewgame\nisready\n"},
      // Ends at its depth and waits for "ponderhit" or "stop" to answer.
      {"go ponder depth 1", "ucinewgame\nisready\n"},
  };
  Session session(TestIni(GetParam()));
  ASSERT_TRUE(session.StartUci());
  session.Send("setoption name Ponder value true");
  GameTracker afterE4;
  ASSERT_TRUE(afterE4.Play("e2e4"));
  size_t searches = 0;
  for (const char* threads : {"1", "4"}) {
    session.Send(std::string("setoption name Threads value ") + threads);
    for (const Dialogue& d : dialogues) {
      session.Send("position startpos moves e2e4");
      ASSERT_TRUE(session.Sync());
      session.Send(d.go);
      ++searches;
      ASSERT_FALSE(session.WaitFor("info depth").empty()) << d.go;
      session.engine().SendRaw(d.interrupt);
      ASSERT_TRUE(WaitForAnswers(session, searches, 5000))
          << threads << " threads, " << d.go << ": no bestmove; the engine said:\n"
          << Tail(session);
      const std::string answer = MoveOfLine(session.engine().LinesStartingWith("bestmove").back());
      EXPECT_TRUE(afterE4.IsLegal(answer)) << d.go << ": " << answer;
      session.Send("stop");
      // The new game has begun once the search has answered.
      session.Send("printFEN");
      EXPECT_EQ(session.WaitFor("rnbqkbnr"), StartFen) << d.go;
    }
  }
  ASSERT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), searches) << Tail(session);
  EXPECT_EQ(session.Quit(), 0);
}

// Below Elo 2000 the evaluation mixes in noise, so "eval" tells whether the
// strength limit is in force; its speed cap shows in the "nps" of a search.
TEST(UciAnswers, StrengthOptionsAreInForceAsAnnounced) {
  std::string limited;
  std::string full;
  {
    // The configured limit is the announced default, in force at once.
    Session session(TestIni(1, "UseStrength=1\nStrengthELO=1000\n"));
    ASSERT_TRUE(session.StartUci());
    EXPECT_FALSE(
        session.engine().LinesStartingWith("option name UCI_LimitStrength type check default true").empty());
    session.Send("position startpos moves e2e4");
    session.Send("eval");
    limited = session.WaitFor("eval = ");
    session.Send("go nodes 30000");
    ASSERT_FALSE(session.WaitFor("bestmove").empty());
    // The last report of the search: Elo 1000 caps the speed at 150000
    // nodes per second.
    std::vector<std::string> words;
    for (const std::string& line : session.engine().LinesStartingWith("info depth"))
      if (line.find(" nps ") != std::string::npos) words = Words(line);
    size_t nps = 0;
    while (nps < words.size() && words[nps] != "nps") ++nps;
    ASSERT_LT(nps + 1, words.size());
    EXPECT_LE(std::atol(words[nps + 1].c_str()), 200000);
    session.Send("position startpos moves e2e4");
    session.Send("setoption name UCI_LimitStrength value false");
    session.Send("eval");
    full = session.WaitFor("eval = ");
    EXPECT_NE(limited, full);
    EXPECT_EQ(session.Quit(), 0);
  }
  {
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
}

// Interfaces send the options in the order they were announced: "OwnBook"
// before "Book File". A book switched on stays wanted until a file loads.
TEST(UciAnswers, ABookFileNamedAfterOwnBookIsUsed) {
  GameTracker start;
  // A move no search would choose, so that only the book can name it.
  const Move bookMove = start.MoveWord("g1h3");
  ASSERT_NE(bookMove, 0u);
  Session session(TestIni(1));  // the default book file is missing
  session.dir().Write("my.bin", BookFileBytes({{start.board.key, bookMove, 1, 2}}, 1));
  ASSERT_TRUE(session.StartUci());
  auto answer = [&session] {
    session.Send("position startpos");
    session.Send("go depth 1");
    return MoveOfLine(session.WaitFor("bestmove"));
  };
  session.Send("setoption name OwnBook value true");
  EXPECT_EQ(session.WaitFor("info string"), "info string book file not found");
  session.Send("setoption name Book File value my.bin");
  EXPECT_EQ(answer(), "g1h3");
  // A file that does not load still says so.
  session.Send("setoption name Book File value missing.bin");
  EXPECT_EQ(session.WaitFor("info string"), "info string book file not found");
  EXPECT_NE(answer(), "g1h3");
  session.Send("setoption name Book File value my.bin");
  EXPECT_EQ(answer(), "g1h3");
  // Switched off, a file named afterwards is not used.
  session.Send("setoption name OwnBook value false");
  session.Send("setoption name Book File value my.bin");
  EXPECT_NE(answer(), "g1h3");
  EXPECT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("info string").size(), 2u);
  EXPECT_EQ(session.Quit(), 0);
}
