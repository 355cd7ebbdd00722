// UCI dialogues with the real engine, with and without the input thread.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <string>
#include <vector>

#include "common/build_info.h"
#include "e2e/e2e_support.h"
#include "tools/book_builder.h"

namespace {

class UciThreaded : public ::testing::TestWithParam<int> {
 protected:
  std::string Ini(const std::string& extra = "") const { return TestIni(GetParam(), extra); }

  // Waits for the "bestmove" line and checks that its move is legal in the game.
  std::string BestMove(Session& session, const GameTracker& game, int nativeMs = 10000) {
    const std::string line = session.WaitFor("bestmove", nativeMs);
    EXPECT_FALSE(line.empty()) << "no bestmove; the engine said:\n" << Tail(session);
    const std::string move = MoveOfLine(line);
    EXPECT_TRUE(game.IsLegal(move)) << "illegal bestmove: " << line;
    return move;
  }

  // The last lines of the dialogue, for failure messages.
  static std::string Tail(Session& session) {
    const auto& transcript = session.engine().Transcript();
    std::string text;
    for (size_t i = transcript.size() > 12 ? transcript.size() - 12 : 0; i < transcript.size(); ++i)
      text += transcript[i] + "\n";
    return text;
  }

  // Reads for a while and returns the lines read.
  std::vector<std::string> ReadFor(Session& session, int nativeMs) {
    std::vector<std::string> lines;
    std::string line;
    const size_t before = session.engine().Transcript().size();
    session.engine().ReadToEnd(ScaledTimeout(nativeMs));
    const auto& transcript = session.engine().Transcript();
    for (size_t i = before; i < transcript.size(); ++i) lines.push_back(transcript[i]);
    return lines;
  }
};

INSTANTIATE_TEST_SUITE_P(InputThread, UciThreaded, ::testing::Values(1, 0));

}  // namespace

TEST_P(UciThreaded, IdentifiesItselfWithTheConfiguredDefaults) {
  Session session(Ini("StrengthELO=1500\nMaxThreads=2\nUseLMR=0\nDrawScore=7\n"
                      "BookFile=my book.bin\nPersonalityFile=p.txt\nUseStrength=1\n"));
  std::string banner;
  ASSERT_TRUE(session.engine().ReadLine(banner, ScaledTimeout(5000)));
  EXPECT_EQ(banner, std::string("Zorvel 2.0 (") + WordSizeLabel + ") by Vesquet");
  ASSERT_TRUE(session.StartUci());
  const std::vector<std::string> expected = {
      std::string("id name Zorvel 2.0 ") + WordSizeLabel,
      "id author Vesquet",
      "option name Hash type spin default 4 min 1 max 2048",
      "option name Ponder type check default false",
      "option name OwnBook type check default false",
      "option name Book File type string default my book.bin",
      "option name Clear Hash type button",
      "option name UsePersonality type check default false",
      "option name PersonalityFile type string default p.txt",
      "option name UCI_Chess960 type check default false",
      "option name MultiPV type spin default 1 min 1 max 32",
      "option name NullMovePruning type check default true",
      "option name LateMoveReduction type check default false",
      "option name Threads type spin default 2 min 1 max 64",
      "option name UCI_LimitStrength type check default true",
      "option name UCI_Elo type spin default 1500 min 1000 max 2700",
      "option name DrawScore type spin default 7 min -100 max 100",
      "uciok"};
  const auto& transcript = session.engine().Transcript();
  ASSERT_EQ(transcript.size(), expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(transcript[i + 1], expected[i]);
  EXPECT_TRUE(session.Sync());
  // "uci" may come again and repeats everything.
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(session.engine().LinesStartingWith("option name").size(), 30u);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(UciThreaded, SetsPositionsAndPlaysLegalMovesUnderEveryLimit) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());

  GameTracker game;
  ASSERT_TRUE(game.Play("e2e4") && game.Play("e7e5"));
  session.Send("position startpos moves e2e4 e7e5");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2");
  session.Send("go depth 3");
  BestMove(session, game);
  EXPECT_FALSE(session.engine().LinesStartingWith("info depth 3 seldepth").empty());

  // The engine plays its move into its own game: each search gets the position again.
  for (const char* go : {"go movetime 100", "go wtime 2000 btime 2000 winc 10 binc 10",
                         "go wtime 1500 btime 1500 movestogo 5", "go nodes 3000",
                         "go wtime 600 btime 600 movestogo 1"}) {
    session.Send("position startpos moves e2e4 e7e5");
    session.Send(go);
    BestMove(session, game);
  }

  // A FEN with moves: the moves are played from it.
  const std::string fen = "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3";
  GameTracker fromFen(fen);
  ASSERT_TRUE(fromFen.Play("f1b5") && fromFen.Play("a7a6"));
  session.Send("position fen " + fen + " moves f1b5 a7a6");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("r1bqkbnr"), "r1bqkbnr/1ppp1ppp/p1n5/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 0 4");
  session.Send("go depth 2");
  BestMove(session, fromFen);

  session.Send("position fen 8/8/8/8/8/2k5/8/K7 w - - 0 1");  // a bare ending
  session.Send("go depth 4");
  BestMove(session, GameTracker("8/8/8/8/8/2k5/8/K7 w - - 0 1"));
  // An empty move list is the start position alone.
  session.Send("position startpos moves");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  session.Send("position startpos");
  session.Send("printHashKey");
  EXPECT_EQ(session.WaitFor("").size(), 16u);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(UciThreaded, InfiniteSearchesEndOnStop) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  GameTracker game;
  session.Send("position startpos");
  session.Send("go infinite");
  EXPECT_FALSE(session.WaitFor("info depth").empty());
  EXPECT_TRUE(session.engine().LinesStartingWith("bestmove").empty());
  session.Send("stop");
  BestMove(session, game);

  // A stop that arrives before the search has started is not lost: the
  // search ends at once, with a move.
  for (int i = 0; i < 5; ++i) {
    session.engine().SendRaw("go infinite\nstop\n");
    BestMove(session, game);
  }
  EXPECT_TRUE(session.Sync());
  EXPECT_EQ(session.Quit(), 0);
}

// A "stop" that comes with its "go" ends the search at once with a legal
// move, also where the first iteration alone takes very long (natively some
// 20 seconds in this position, several minutes under a sanitizer or an
// emulator). Queued behind a running search, the stop reaches the new search
// before it starts, whatever the timing; sent on its own it comes before the
// search starts or while it orders its moves.
TEST_P(UciThreaded, AStopRightAfterGoEndsTheSearchAtOnce) {
  const std::string fen = "rnbqkbnr/pppppppp/PRPPPPPP/RNBQKBNR/8/8/8/8 w KQkq - 0 1";
  const GameTracker game(fen);
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  for (const char* go : {"go depth 1", "go infinite", "go ponder"}) {
    session.Send("position startpos");
    session.Send("go infinite");
    ASSERT_FALSE(session.WaitFor("info depth").empty());
    session.engine().SendRaw("position fen " + fen + "\n" + go + "\nstop\n");
    ASSERT_FALSE(BestMove(session, GameTracker()).empty());
    ASSERT_FALSE(BestMove(session, game, 3000).empty()) << go << ", queued behind a search";
    session.engine().SendRaw("position fen " + fen + "\n" + go + "\nstop\n");
    ASSERT_FALSE(BestMove(session, game, 3000).empty()) << go;
  }
  EXPECT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), 9u);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(UciThreaded, PondersUntilPonderhitOrStop) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  session.Send("setoption name Ponder value true");
  GameTracker game;
  ASSERT_TRUE(game.Play("e2e4") && game.Play("e7e5"));
  session.Send("position startpos moves e2e4 e7e5");
  session.Send("go ponder wtime 2000 btime 2000");
  // A ponder search does not answer by itself.
  for (const std::string& line : ReadFor(session, 300)) EXPECT_NE(line.rfind("bestmove", 0), 0u) << line;
  session.Send("ponderhit");
  const std::string line = session.WaitFor("bestmove");
  const std::vector<std::string> words = Words(line);
  ASSERT_EQ(words.size(), 4u) << line;
  EXPECT_TRUE(game.IsLegal(words[1])) << line;
  EXPECT_EQ(words[2], "ponder");
  ASSERT_TRUE(game.Play(words[1]));
  EXPECT_TRUE(words[3] == "0000" || game.IsLegal(words[3])) << line;

  session.Send("position startpos moves e2e4 e7e5 " + words[1]);
  session.Send("go ponder wtime 2000 btime 2000");
  session.Send("stop");
  const std::string stopped = session.WaitFor("bestmove");
  EXPECT_EQ(Words(stopped).size(), 4u) << stopped;
  EXPECT_TRUE(game.IsLegal(MoveOfLine(stopped))) << stopped;

  // Pondering off again: a plain answer.
  session.Send("setoption name Ponder value false");
  session.Send("go depth 2");
  EXPECT_EQ(Words(session.WaitFor("bestmove")).size(), 2u);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(UciThreaded, StopAndPonderhitAnswerOnlyASearch) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  session.Send("setoption name Ponder value true");
  // A "stop" or "ponderhit" that crosses the answer of a finished search
  // gets none of its own: the next answer is the next "go"'s.
  session.Send("position startpos moves e2e4");
  session.Send("go depth 1");
  GameTracker afterE4;
  ASSERT_TRUE(afterE4.Play("e2e4"));
  BestMove(session, afterE4);
  session.Send("stop");
  session.Send("ponderhit");
  session.Send("position startpos moves e2e4");
  session.Send("go depth 1");
  BestMove(session, afterE4);
  // A "stop" behind a search that has not started yet ends the running
  // one too: both answer.
  session.Send("position startpos");
  session.Send("go infinite");
  EXPECT_FALSE(session.WaitFor("info depth").empty());
  session.Send("position startpos moves e2e4");
  session.Send("go infinite");
  session.Send("stop");
  BestMove(session, GameTracker());
  BestMove(session, afterE4);
  EXPECT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), 4u);
  EXPECT_EQ(session.Quit(), 0);
}

// The strength limit slows the search down but never keeps the answer past
// the clock: the engine's own reserve is the margin natively; emulated and
// sanitized builds get a scaled allowance on top.
TEST_P(UciThreaded, LimitedStrengthAnswersWithinTheClock) {
  struct Case {
    const char* elo;
    const char* go;
    int limitMs;  // the clock, or the move time with room for the answer
  };
  const Case cases[] = {
      {"1000", "go wtime 1160 btime 1160 winc 1000 binc 1000", 1160},
      {"1500", "go wtime 300 btime 300 winc 100 binc 100", 300},
      {"1200", "go wtime 2000 btime 2000 winc 500 binc 500", 2000},
      {"1800", "go wtime 2000 btime 2000", 2000},
      {"2300", "go wtime 700 btime 700", 700},
      {"2000", "go movetime 1000", 1150},
  };
  const int allowance = ScaledTimeout(25) - 25;
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  session.Send("setoption name UCI_LimitStrength value true");
  GameTracker game;
  for (const char* move : {"e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6"})
    ASSERT_TRUE(game.Play(move));
  // The last round runs the first case again on two threads.
  for (size_t round = 0; round <= std::size(cases); ++round) {
    const Case& c = cases[round % std::size(cases)];
    if (round == std::size(cases)) session.Send("setoption name Threads value 2");
    session.Send(std::string("setoption name UCI_Elo value ") + c.elo);
    session.Send("ucinewgame");
    session.Send("position startpos moves e2e4 e7e5 g1f3 b8c6 f1b5 a7a6");
    ASSERT_TRUE(session.Sync());
    const auto start = std::chrono::steady_clock::now();
    session.Send(c.go);
    BestMove(session, game);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_LT(elapsed.count(), c.limitMs + allowance)
        << "UCI_Elo " << c.elo << ", " << c.go << (round == std::size(cases) ? ", 2 threads" : "");
  }
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(UciThreaded, ReportsSeveralLinesWithMultiPv) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  // Option names are not case-sensitive.
  session.Send("setoption name multipv value 3");
  session.Send("position startpos");
  session.Send("go depth 4");
  BestMove(session, GameTracker());
  for (int line = 1; line <= 3; ++line)
    EXPECT_FALSE(session.engine().LinesStartingWith("info multipv " + std::to_string(line) + " depth 4").empty())
        << line;
  EXPECT_TRUE(session.engine().LinesStartingWith("info multipv 4").empty());
  EXPECT_EQ(session.Quit(), 0);
}

// A position that cannot be set up is told, and no "go" searches another
// one in its place (the previous position, or the moves before a bad one)
// until a "position" sets one up fully.
TEST_P(UciThreaded, RefusedPositionsAreToldAndNeverSearched) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  const struct {
    const char* line;
    const char* told;
  } refusals[] = {
      {"position startpos moves e2e4 e7e6 e4e6 d2d4", "Illegal move: e4e6"},
      {"position startpos moves e7e8q", "Illegal move: e7e8q"},
      {"position fen 4k3/8/8/8/8/8/8/4KK2 w - - 0 1",
       "Invalid FEN string : '4k3/8/8/8/8/8/8/4KK2 w - - 0 1' (more than one white king)"},
      {"position fen 8/8/8/8 w - - 0 1 moves e2e4", "Invalid FEN string : '8/8/8/8 w - - 0 1' (no white king)"},
      {"position fen 4k3/8/8/8/8/8/8/4K3 w - - 0 1 moves e1e2 e8e9",
       "Illegal move: e8e9"},
      {"position startpos e2e4", "Invalid position command : 'position startpos e2e4' (only moves may follow startpos)"}};
  for (const auto& refused : refusals) {
    // Each time after a position the engine took.
    session.Send("position startpos moves e2e4");
    session.Send(refused.line);
    EXPECT_EQ(session.WaitFor("info string"), std::string("info string ") + refused.told);
    session.Send("go depth 3");
    ASSERT_EQ(session.WaitFor("info string"), std::string("info string position refused: ") + refused.told);
    EXPECT_EQ(session.WaitFor("bestmove"), "bestmove 0000") << refused.line;
  }
  // The moves before a bad one are on the board, but never searched.
  session.Send("position startpos moves e2e4 e7e6 e4e6 d2d4");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/pppp1ppp/4p3/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2");
  session.Send("go depth 2");
  EXPECT_EQ(session.WaitFor("bestmove"), "bestmove 0000");
  // A position set up fully is searched again.
  session.Send("position startpos");
  session.Send("go depth 2");
  BestMove(session, GameTracker());
  ASSERT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), std::size(refusals) + 2);
  EXPECT_EQ(session.Quit(), 0);
}

// An infinite search and a ponder search answer when the interface asks,
// also when they end by themselves. "printFEN" waits for the end of the
// search: when its line comes, the search has ended.
TEST_P(UciThreaded, InfiniteAndPonderSearchesAnswerWhenAsked) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  // At its depth limit in a mate in one, and at once without a legal move.
  const struct {
    const char* placement;
    const char* fen;
    const char* answer;
  } ended[] = {{"6k1/", "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", "bestmove a1a8"},
               {"7k/", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", "bestmove 0000"}};
  size_t answers = 0;
  for (const auto& search : ended) {
    session.Send(std::string("position fen ") + search.fen);
    session.Send("go infinite");
    session.Send("printFEN");
    EXPECT_FALSE(session.WaitFor(search.placement).empty());
    session.Send("ponderhit");  // not an answer to an infinite search
    ASSERT_TRUE(session.Sync());
    EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), answers) << search.fen;
    session.Send("stop");
    EXPECT_EQ(session.WaitFor("bestmove"), search.answer);
    ++answers;
  }

  // "go ponder" ponders with the Ponder option off: a search that reaches
  // its depth waits for "ponderhit", then answers as an ordinary one.
  GameTracker game;
  ASSERT_TRUE(game.Play("e2e4") && game.Play("e7e5"));
  session.Send("position startpos moves e2e4 e7e5");
  session.Send("go ponder depth 3");
  session.Send("printFEN");
  EXPECT_FALSE(session.WaitFor("rnbqkbnr").empty());
  ASSERT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), 2u);
  session.Send("ponderhit");
  EXPECT_EQ(Words(session.WaitFor("bestmove")).size(), 2u);
  // A running ponder search answers "ponderhit" within its clock, and "stop".
  for (const char* end : {"ponderhit", "stop"}) {
    session.Send("position startpos moves e2e4 e7e5");
    session.Send("go ponder wtime 3000 btime 3000");
    session.Send(end);
    BestMove(session, game);
  }
  ASSERT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), 5u);
  EXPECT_EQ(session.Quit(), 0);
}

// A bare "go" searches with the limits as they stand, and "infinite" holds
// only for the search of the "go" that says it.
TEST_P(UciThreaded, EveryGoIsASearchWithItsOwnInfiniteFlag) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  session.Send("position startpos");
  session.Send("go depth 2");
  BestMove(session, GameTracker());
  session.Send("position startpos");
  session.Send("go");
  BestMove(session, GameTracker());
  session.Send("position startpos");
  session.Send("go infinite");
  EXPECT_FALSE(session.WaitFor("info depth").empty());
  session.Send("stop");
  BestMove(session, GameTracker());
  // After an analysis a bare "go", or "go ponder" hit at once, searches on
  // the clock given before it, not without end.
  for (const char* go : {"go wtime 2000 btime 2000", "go infinite", "go", "go ponder"}) {
    session.Send("position startpos");
    session.Send(go);
    if (std::string(go) == "go infinite") {
      EXPECT_FALSE(session.WaitFor("info depth").empty());
      session.Send("stop");
    } else if (std::string(go) == "go ponder") {
      session.Send("ponderhit");
    }
    BestMove(session, GameTracker());
  }
  // A search that "quit" ends has no answer to give.
  session.Send("position startpos");
  session.Send("go movetime 60000");
  EXPECT_FALSE(session.WaitFor("info depth").empty());
  EXPECT_EQ(session.Quit(), 0);
  session.engine().ReadToEnd(ScaledTimeout(2000));
  EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), 7u);
}

TEST_P(UciThreaded, SpinOptionsAreHeldToTheirAnnouncedRanges) {
  // A value outside the announced range is held to it and told, and a
  // search with the value in force ends, also in a bare-kings position.
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  const GameTracker kings("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"DrawScore value 40000", "info string DrawScore 40000 is outside -100..100, 100 is used"},
      {"DrawScore value -2147483648",
       "info string DrawScore -2147483648 is outside -100..100, -100 is used"},
      {"drawscore value 2147483647",
       "info string DrawScore 2147483647 is outside -100..100, 100 is used"},
      {"MultiPV value 99", "info string MultiPV 99 is outside 1..32, 32 is used"},
      {"UCI_Elo value -5", "info string UCI_Elo -5 is outside 1000..2700, 1000 is used"},
      {"Threads value 65", "info string Threads 65 is outside 1..64, 64 is used"},
      {"Threads value abc", "info string Threads 'abc' is not a whole number, the option is unchanged"}};
  for (const auto& [option, told] : cases) {
    session.Send("setoption name " + option);
    EXPECT_EQ(session.WaitFor("info string"), told);
    session.Send("position fen 4k3/8/8/8/8/8/8/4K3 w - - 0 1");
    session.Send("go depth 3");
    BestMove(session, kings);
  }
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(UciThreaded, SurvivesOptionsWithBadValues) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  for (const char* line :
       {"setoption name Hash value lots", "setoption name Hash value -5", "setoption name MultiPV value 40",
        "setoption name MultiPV value -3", "setoption name Threads value 0",
        "setoption name UCI_Elo value 99999", "setoption name UCI_Elo value -1",
        "setoption name DrawScore value x", "setoption name NoSuchOption value 1",
        "setoption name Hash", "setoption name", "setoption", "setoption nam Hash value 8",
        "setoption name Clear Hash", "setoption name OwnBook value maybe",
        "setoption name PersonalityFile value no such file.txt",
        "setoption name UsePersonality value true", "setoption name Ponder value yes",
        "position", "position fen", "debug on", "debug", "something else entirely",
        "stop"}) {
    session.Send(line);
  }
  EXPECT_TRUE(session.Sync());
  EXPECT_TRUE(session.engine().LinesStartingWith("bestmove").empty());
  for (const char* go : {"go depth 3", "go nodes x", "go depth -3", "go movetime -5",
                         "go wtime abc btime abc", "go depth 2 unknown words"}) {
    session.Send("position startpos");
    session.Send(go);
    BestMove(session, GameTracker());
  }
  EXPECT_TRUE(session.Sync());
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(UciThreaded, QuitEndsARunningSearch) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  session.Send("position startpos");
  session.Send("go infinite");
  EXPECT_FALSE(session.WaitFor("info depth").empty());
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(UciThreaded, EndOfInputEndsTheProgram) {
  {
    // The running search ends as on "stop" and answers first.
    Session session(Ini());
    ASSERT_TRUE(session.StartUci());
    session.Send("go infinite");
    EXPECT_FALSE(session.WaitFor("info depth").empty());
    session.engine().CloseInput();
    BestMove(session, GameTracker());
    EXPECT_EQ(session.engine().WaitExit(ScaledTimeout(10000)), 0);
  }
  {
    Session session(Ini());
    ASSERT_TRUE(session.StartUci());
    session.engine().CloseInput();
    EXPECT_EQ(session.engine().WaitExit(ScaledTimeout(10000)), 0);
  }
}

TEST_P(UciThreaded, CommandsDuringASearchTakeEffectAfterIt) {
  Session session(Ini());
  ASSERT_TRUE(session.StartUci());
  for (int round = 0; round < 3; ++round) {
    session.Send("position startpos");
    session.engine().SendRaw(
        "go infinite\n"
        "setoption name Hash value 8\n"
        "setoption name MultiPV value 2\n"
        "position startpos moves e2e4\n"
        "stop\n"
        "go depth 3\n");
    BestMove(session, GameTracker());
    GameTracker afterE4;
    ASSERT_TRUE(afterE4.Play("e2e4"));
    BestMove(session, afterE4);
    EXPECT_FALSE(session.engine().LinesStartingWith("info multipv 2 depth 3").empty());
    session.Send("setoption name MultiPV value 1");
  }
  // "isready" is answered while the search runs.
  session.Send("go infinite");
  EXPECT_FALSE(session.WaitFor("info depth").empty());
  session.Send("setoption name Hash value 4");
  EXPECT_TRUE(session.Sync());
  EXPECT_TRUE(session.engine().LinesStartingWith("bestmove").size() == 6u);
  session.Send("stop");
  BestMove(session, GameTracker());
  EXPECT_EQ(session.Quit(), 0);
}

// Lines as long as the move list of a long game are read whole, up to 65536
// characters, and answers that quote them are never cut. A longer line is
// refused whole, also during a search, and counts as a refused position: no
// "go" searches the position before it. The log cuts a long line visibly.
TEST_P(UciThreaded, LongLinesAreReadWholeOrRefused) {
  Session session(Ini("LogLevel=64\n"));
  ASSERT_TRUE(session.StartUci());
  // 820 plies, White to move, after a position with Black to move.
  std::vector<std::string> moves = {"e2e4", "e7e5"};
  for (int i = 0; i < 204; ++i) moves.insert(moves.end(), {"g1f3", "b8c6", "f3g1", "c6b8"});
  moves.insert(moves.end(), {"d2d4", "d7d5"});
  GameTracker game;
  std::string line = "position startpos moves";
  for (const std::string& move : moves) {
    ASSERT_TRUE(game.Play(move)) << move;
    line += " " + move;
  }
  session.Send("position startpos moves e2e4");
  session.Send(line);
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/ppp2ppp/8/3pp3/3PP3/8/PPP2PPP/RNBQKBNR w KQkq d6 0 411");
  session.Send("go depth 3");
  BestMove(session, game);
  std::string refused = "position startpos";
  for (int i = 0; i < 900; ++i) refused += " e2e4";
  session.Send(refused);
  const std::string why = "Invalid position command : '" + refused + "' (only moves may follow startpos)";
  EXPECT_EQ(session.WaitFor("info string"), "info string " + why);
  session.Send("go depth 3");
  EXPECT_EQ(session.WaitFor("info string"), "info string position refused: " + why);
  EXPECT_EQ(session.WaitFor("bestmove"), "bestmove 0000");

  // 100000 characters; the part beyond 65536 would read as "quit".
  std::string tooLong = "position startpos moves";
  while (tooLong.size() < 100000) tooLong += " g1f3 g8f6 f3g1 f6g8";
  tooLong.resize(100000 - 4);
  tooLong += "quit";
  const std::string told =
      "Line too long (more than 65536 characters) : 'position startpos moves g1f3 g8f6 f3g1 f...'";
  GameTracker afterE4;
  ASSERT_TRUE(afterE4.Play("e2e4"));
  for (const bool during : {false, true}) {
    session.Send("position startpos moves e2e4");
    if (during) {
      session.Send("go infinite");
      ASSERT_FALSE(session.WaitFor("info depth").empty());
    }
    session.Send(tooLong);
    if (during) {
      // Refused in its turn, once the search has answered.
      session.Send("stop");
      BestMove(session, afterE4);
    }
    EXPECT_EQ(session.WaitFor("info string"), "info string " + told);
    session.Send("go depth 3");
    EXPECT_EQ(session.WaitFor("info string"), "info string position refused: " + told);
    EXPECT_EQ(session.WaitFor("bestmove"), "bestmove 0000");
  }
  // A line of exactly 65536 characters still counts.
  line = "position startpos moves d2d4";
  line.resize(65536, ' ');
  session.Send(line);
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3 0 1");
  session.Send("go depth 2");
  GameTracker afterD4;
  ASSERT_TRUE(afterD4.Play("d2d4"));
  BestMove(session, afterD4);
  EXPECT_TRUE(session.Sync());
  EXPECT_EQ(session.engine().LinesStartingWith("bestmove").size(), 6u);
  EXPECT_EQ(session.Quit(), 0);
  const std::string log = session.dir().Read("logfile.txt");
  // The game and the command without "moves" in, the two answers that quote
  // the command out, the line refused.
  for (const char* mark : {" [cut: 4123 characters in all]\n", " [cut: 4517 characters in all]\n",
                           " [cut: 4591 characters in all]\n", " [cut: 4609 characters in all]\n",
                           " [cut: a line of more than 65536 characters, refused]\n"})
    EXPECT_NE(log.find(mark), std::string::npos) << mark;
}

// ---------------------------------------------------------------------------
// Opening books written by the test.

namespace {

const char* const CastlingFen = "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq - 0 1";

std::string BookIni(const std::string& file, int selectivity) {
  return TestIni(1, "Book=1\nBookFile=" + file + "\nBookSelectivity=" + std::to_string(selectivity) + "\n");
}

}  // namespace

TEST(UciBook, PlaysTheBestScoredBookMove) {
  GameTracker start;
  const u64 key = start.board.key;
  // Moves no search would choose, so that only the book can name them.
  const Move best = start.MoveWord("g1h3");
  const Move other = start.MoveWord("a2a3");
  ASSERT_NE(best, 0u);
  ASSERT_NE(other, 0u);
  GameTracker after;
  ASSERT_TRUE(after.Play("g1h3"));
  const Move reply = after.MoveWord("h7h5");
  std::vector<BookRecord> records = {{key, best, 3, 6}, {key, other, 9, 2}};
  // The reply's key may sort before or after the start key.
  if (after.board.key < key)
    records.insert(records.begin(), BookRecord{after.board.key, reply, 1, 2});
  else
    records.push_back(BookRecord{after.board.key, reply, 1, 2});

  Session session(BookIni("test.bin", 100));
  session.dir().Write("test.bin", BookFileBytes(records, static_cast<u32>(records.size())));
  ASSERT_TRUE(session.StartUci());
  for (int i = 0; i < 5; ++i) {
    session.Send("position startpos");
    session.Send("go depth 1");
    EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "g1h3");
  }
  session.Send("position startpos moves g1h3");
  session.Send("go depth 1");
  EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "h7h5");
  // Off again: the search decides.
  session.Send("setoption name OwnBook value false");
  session.Send("position startpos");
  session.Send("go depth 1");
  EXPECT_NE(MoveOfLine(session.WaitFor("bestmove")), "g1h3");
  EXPECT_EQ(session.Quit(), 0);
}

TEST(UciBook, CastlingIsWrittenForTheVariant) {
  GameTracker game(CastlingFen);
  const Move castle = game.MoveWord("e1g1");
  ASSERT_NE(castle, 0u);
  ASSERT_TRUE(IsCastling(castle));
  Session session(BookIni("castle.bin", 100));
  session.dir().Write("castle.bin", BookFileBytes({{game.board.key, castle, 1, 2}}, 1));
  ASSERT_TRUE(session.StartUci());
  session.Send(std::string("position fen ") + CastlingFen);
  session.Send("go depth 1");
  EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "e1g1");
  session.Send("setoption name UCI_Chess960 value true");
  session.Send(std::string("position fen ") + CastlingFen);
  session.Send("go depth 1");
  EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "e1h1");
  // In Chess960 castling is given as the king taking its rook.
  session.Send(std::string("position fen ") + CastlingFen + " moves e1h1");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("r3k2r"), "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R4RK1 b kq - 1 1");
  EXPECT_EQ(session.Quit(), 0);
}

TEST(UciBook, RefusesTruncatedAndForeignFiles) {
  GameTracker start;
  const Move best = start.MoveWord("g1h3");
  Session session(TestIni(1));
  // Two records announced, one present.
  session.dir().Write("short.bin", BookFileBytes({{start.board.key, best, 1, 2}}, 2));
  session.dir().Write("huge.bin", BookFileBytes({{start.board.key, best, 1, 2}}, 0xFFFFFFFFu));
  session.dir().Write("foreign.bin", "PK\x03\x04 this is no book at all, but long enough");
  std::string wrongVersion = BookFileBytes({{start.board.key, best, 1, 2}}, 1);
  wrongVersion[6] = 3;
  session.dir().Write("version.bin", wrongVersion);
  session.dir().Write("header.bin", "BOO");
  // A book is checked whole: bytes past its records, or keys out of order
  // (the probe, a bisection, would miss positions), make no book.
  session.dir().Write("trailing.bin", BookFileBytes({{start.board.key, best, 1, 2}}, 1) + "more");
  const u64 otherKey = start.board.key ^ 0x8000000000000000ull;
  const u64 lowKey = std::min(start.board.key, otherKey);
  const u64 highKey = std::max(start.board.key, otherKey);
  session.dir().Write("unordered.bin", BookFileBytes({{highKey, best, 1, 2}, {lowKey, best, 1, 2}}, 2));
  ASSERT_TRUE(session.StartUci());
  ASSERT_EQ(mkdir(session.dir().File("folder").c_str(), 0700), 0);
  for (const std::string file : {"short.bin", "huge.bin", "foreign.bin", "version.bin", "header.bin",
                                 "trailing.bin", "unordered.bin", "folder", "missing.bin"}) {
    session.Send("setoption name Book File value " + file);
    session.Send("setoption name OwnBook value true");
    // Only a file that is not there is "not found"; one that is there but
    // does not read as a file is "cannot read".
    EXPECT_EQ(session.WaitFor("info string"), file == "missing.bin" ? "info string book file not found"
                                              : file == "folder"    ? "info string cannot read book file"
                                                                    : "info string not a valid book file")
        << file;
    session.Send("position startpos");
    session.Send("go depth 1");
    const std::string move = MoveOfLine(session.WaitFor("bestmove"));
    EXPECT_TRUE(start.IsLegal(move)) << file;
    EXPECT_NE(move, "g1h3") << file;
  }
  EXPECT_EQ(session.Quit(), 0);
}

TEST(UciPersonality, ValuesOutOfRangeAreClampedAndTold) {
  Session session(TestIni(1, "UsePersonality=1\nPersonalityFile=wild.txt\nLogLevel=8\n"));
  // Taken as given, these weights would have the search below report mates
  // and repeat its first iteration without end.
  session.dir().Write("wild.txt", "QueenValue=32100\nKingSafetyOwn=-50\nBishopPair=9999\nPawnValue=150\n");
  ASSERT_TRUE(session.StartUci());
  ASSERT_TRUE(session.Sync());
  const std::vector<std::string> told = {
      "info string personality wild.txt : line 1 : QueenValue=32100 outside 500..1500, 1500 used",
      "info string personality wild.txt : line 3 : BishopPair=9999 outside -200..200, 200 used",
      "info string personality wild.txt : line 2 : KingSafetyOwn=-50 outside 0..200, 0 used"};
  EXPECT_EQ(session.engine().LinesStartingWith("info string"), told);
  // Scores of a plain material edge, never a mate.
  const std::string fen = "4k3/pppp4/8/8/8/8/PPPP4/3QK3 w - - 0 1";
  session.Send("position fen " + fen);
  session.Send("go depth 2");
  EXPECT_TRUE(GameTracker(fen).IsLegal(MoveOfLine(session.WaitFor("bestmove", 10000))));
  const std::vector<std::string> scores = session.engine().LinesStartingWith("info depth 2 ");
  ASSERT_FALSE(scores.empty());
  for (const std::string& line : scores) EXPECT_NE(line.find(" score cp "), std::string::npos) << line;
  EXPECT_EQ(session.Quit(), 0);
  const std::string log = session.dir().Read("logfile.txt");
  for (const std::string& line : told)
    EXPECT_NE(log.find("WARNING    " + line.substr(12) + "\n"), std::string::npos) << line;
}

TEST(UciPersonality, AnUnreadableFileLeavesTheBuiltInWeights) {
  Session session(TestIni(1, "UsePersonality=1\nPersonalityFile=folder\nLogLevel=16\n"));
  ASSERT_EQ(mkdir(session.dir().File("folder").c_str(), 0700), 0);
  session.dir().Write("empty.txt", "");
  ASSERT_TRUE(session.StartUci());
  EXPECT_EQ(session.WaitFor("info string"), "info string personality file not readable : folder");
  // Two rooks on open files: their bonus differs between the built-in weights
  // and those of a personality.
  session.Send("position fen 4k3/8/8/8/8/8/8/R3K2R w - - 0 1");
  session.Send("eval");
  const std::string builtIn = session.WaitFor("eval = ");
  session.Send("setoption name PersonalityFile value missing.txt");
  EXPECT_EQ(session.WaitFor("info string"), "info string personality file not readable : missing.txt");
  session.Send("eval");
  EXPECT_EQ(session.WaitFor("eval = "), builtIn);
  session.Send("setoption name UsePersonality value false");
  session.Send("eval");
  EXPECT_EQ(session.WaitFor("eval = "), builtIn);
  session.Send("setoption name PersonalityFile value empty.txt");
  session.Send("setoption name UsePersonality value true");
  session.Send("eval");
  EXPECT_NE(session.WaitFor("eval = "), builtIn);
  EXPECT_EQ(session.Quit(), 0);
  EXPECT_EQ(session.engine().LinesStartingWith("info string").size(), 2u);
  EXPECT_NE(session.dir().Read("logfile.txt").find("ERROR      personality file not readable : folder\n"),
            std::string::npos);
}

TEST(UciBook, PlaysFromABookBuiltFromGames) {
  // Three games open 1. Nh3; the builder turns them into a book the engine
  // then follows with every selectivity.
  Session session(BookIni("games.bin", 1));
  const std::string pgn =
      "[Event \"a\"]\n[Result \"1-0\"]\n\n1. Nh3 h5 2. Ng1 Rh6 1-0\n\n"
      "[Event \"b\"]\n[Result \"1/2-1/2\"]\n\n1. Nh3 h5 2. Nf4 1/2-1/2\n\n"
      "[Event \"c\"]\n[Result \"0-1\"]\n\n1. Nh3 h5 0-1\n";
  session.dir().Write("games.pgn", pgn);
  ASSERT_EQ(RunBuildBook(session.dir().File("games.pgn").c_str(),
                         session.dir().File("games.bin").c_str(), 10, 1),
            1);
  ASSERT_TRUE(session.StartUci());
  for (int i = 0; i < 3; ++i) {
    session.Send("position startpos");
    session.Send("go depth 1");
    EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "g1h3");
    session.Send("position startpos moves g1h3");
    session.Send("go depth 1");
    EXPECT_EQ(MoveOfLine(session.WaitFor("bestmove")), "h7h5");
  }
  EXPECT_EQ(session.Quit(), 0);
}
