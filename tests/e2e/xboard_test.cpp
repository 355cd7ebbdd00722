// XBoard dialogues with the real engine, with and without the input thread.
#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/build_info.h"
#include "e2e/e2e_support.h"

namespace {

class XBoardThreaded : public ::testing::TestWithParam<int> {
 protected:
  std::string Ini(const std::string& extra = "") const { return TestIni(GetParam(), extra); }

  // Waits for the engine's "move" line and plays it in the game.
  std::string EngineMove(Session& session, GameTracker& game, int nativeMs = 10000) {
    const std::string line = session.WaitFor("move ", nativeMs);
    EXPECT_FALSE(line.empty()) << "no move";
    const std::string move = MoveOfLine(line);
    EXPECT_TRUE(game.Play(move)) << "illegal move: " << line;
    return move;
  }

  // Sends "ping n" and waits for its "pong"; returns the lines read meanwhile.
  std::vector<std::string> Ping(Session& session, int n, int nativeMs = 10000) {
    const size_t before = session.engine().Transcript().size();
    session.Send("ping " + std::to_string(n));
    EXPECT_EQ(session.WaitFor("pong", nativeMs), "pong " + std::to_string(n));
    const auto& transcript = session.engine().Transcript();
    return std::vector<std::string>(transcript.begin() + static_cast<long>(before), transcript.end());
  }

  static bool HasMoveLine(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
      if (line.rfind("move ", 0) == 0) return true;
    return false;
  }

  // Reads up to the next thinking line and checks that its first move is
  // legal in the game: the line comes from an analysis of that position.
  void ExpectAnalysisOf(Session& session, const GameTracker& game) {
    static const std::regex thinking("^[0-9]+ -?[0-9]+ [0-9]+ [0-9]+ ([a-h][1-8][a-h][1-8][qrbn]?).*");
    const int timeout = ScaledTimeout(10000);
    std::string line;
    std::smatch match;
    while (session.engine().ReadLine(line, timeout))
      if (std::regex_match(line, match, thinking)) {
        EXPECT_TRUE(game.IsLegal(match[1].str())) << "analysis of another position: " << line;
        return;
      }
    ADD_FAILURE() << "no analysis";
  }

  // A new game on a short clock with pondering on: the interface plays its
  // first move, the engine answers and ponders on the hint it gives, which
  // is returned.
  std::string PonderAfter(Session& session, GameTracker& game, const std::string& first) {
    session.Send("new");
    session.Send("hard");
    session.Send("level 0 1 0");
    session.Send("time 300");
    session.Send("otim 300");
    session.Send(first);
    EXPECT_TRUE(game.Play(first));
    EngineMove(session, game);
    const std::string hint = session.WaitFor("Hint: ");
    EXPECT_FALSE(hint.empty()) << "no hint";
    return hint;
  }

  // The messages of the engine's log file, in order: "<< " for a line read,
  // ">> " for a line written.
  static std::vector<std::string> LogMessages(Session& session) {
    std::vector<std::string> messages;
    std::istringstream log(session.dir().Read("logfile.txt"));
    // A time stamp of 23 characters, the level name, blanks, the message.
    for (std::string entry; std::getline(log, entry);) {
      const size_t level = entry.find(' ', 24);
      if (level == std::string::npos) continue;
      const size_t at = entry.find_first_not_of(' ', level);
      if (at != std::string::npos) messages.push_back(entry.substr(at));
    }
    return messages;
  }

  // A reply of the game that differs from the move text given.
  static std::string OtherMove(const GameTracker& game, const std::string& not_this) {
    for (const std::string& move : game.LegalMoves())
      if (move != not_this) return move;
    return "";
  }
};

INSTANTIATE_TEST_SUITE_P(InputThread, XBoardThreaded, ::testing::Values(1, 0));

}  // namespace

TEST_P(XBoardThreaded, AnnouncesExactlyTwelveFeatures) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  Ping(session, 1);
  const std::vector<std::string> features = session.engine().LinesStartingWith("feature");
  const std::vector<std::string> expected = {
      std::string("feature myname=\"Zorvel 2.0 ") + WordSizeLabel + "\"",
      "feature setboard=1",
      "feature analyze=1",
      "feature ping=1",
      "feature draw=0",
      "feature sigint=0",
      "feature sigterm=0",
      "feature colors=0",
      "feature smp=1",
      "feature variants=\"normal,fischerandom\"",
      "feature option=\"Clear Hash -button\"",
      "feature done=1"};
  EXPECT_EQ(features, expected);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, PlaysAGameOnTheClock) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  GameTracker game;
  session.Send("new");
  session.Send("level 40 0:30 0");
  session.Send("post");
  for (int move = 0; move < 4; ++move) {
    session.Send("time 300");
    session.Send("otim 300");
    const std::string reply = game.LegalMoves().front();
    ASSERT_TRUE(game.Play(reply));
    session.Send(reply);
    EngineMove(session, game);
  }
  // Thinking lines: depth, score, centiseconds, nodes, moves.
  const std::regex thinking("^[0-9]+ -?[0-9]+ [0-9]+ [0-9]+ [a-h][1-8][a-h][1-8].*");
  bool posted = false;
  for (const std::string& line : session.engine().Transcript()) posted |= std::regex_match(line, thinking);
  EXPECT_TRUE(posted);
  session.Send("nopost");
  session.Send("time 300");
  session.Send("otim 300");
  const std::string reply = game.LegalMoves().front();
  ASSERT_TRUE(game.Play(reply));
  const size_t before = session.engine().Transcript().size();
  session.Send(reply);
  EngineMove(session, game);
  const auto& transcript = session.engine().Transcript();
  for (size_t i = before; i < transcript.size(); ++i)
    EXPECT_FALSE(std::regex_match(transcript[i], thinking)) << transcript[i];
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, ForceModeUndoAndSetboard) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  session.Send("new");
  session.Send("sd 3");
  session.Send("force");
  session.Send("e2e4");
  session.Send("e7e5");
  EXPECT_FALSE(HasMoveLine(Ping(session, 2)));
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2");
  session.Send("undo");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  session.Send("e7e5");
  session.Send("go");
  GameTracker game;
  ASSERT_TRUE(game.Play("e2e4") && game.Play("e7e5"));
  EngineMove(session, game);

  const std::string fen = "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1";
  session.Send("force");
  session.Send("setboard " + fen);
  session.Send("setboard not a position");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("4k3"), "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
  session.Send("go");
  GameTracker endgame(fen);
  EngineMove(session, endgame);
  // An illegal move is answered and changes nothing.
  session.Send("a1a5");
  EXPECT_EQ(session.WaitFor("Illegal move"), "Illegal move: a1a5");
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, AnalysisFollowsTheBoardAndGivesTheClockBack) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  session.Send("new");
  session.Send("level 0 1 0");
  session.Send("post");
  session.Send("analyze");
  GameTracker game;
  ExpectAnalysisOf(session, game);
  // Each change of the position ends the running analysis, and the analysis
  // goes on from the new position; "pong" comes once it has.
  session.Send("e2e4");
  ASSERT_TRUE(game.Play("e2e4"));
  Ping(session, 1);
  ExpectAnalysisOf(session, game);
  session.Send("usermove e7e5");
  GameTracker afterReply = game;
  ASSERT_TRUE(afterReply.Play("e7e5"));
  Ping(session, 2);
  ExpectAnalysisOf(session, afterReply);
  session.Send("undo");
  Ping(session, 3);
  ExpectAnalysisOf(session, game);
  const std::string fen = "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1";
  session.Send("setboard " + fen);
  GameTracker ending(fen);
  Ping(session, 4);
  ExpectAnalysisOf(session, ending);
  // "exit" ends the analysis without a move; the game then goes on under
  // the time control set before the analysis.
  session.Send("exit");
  Ping(session, 5);
  EXPECT_FALSE(HasMoveLine(session.engine().Transcript()));
  session.Send("time 3000");
  session.Send("otim 3000");
  session.Send("go");
  EngineMove(session, ending);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, AnswersPingDuringASearch) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  session.Send("new");
  session.Send("st 4");
  session.Send("go");
  // The pong comes before the move.
  EXPECT_FALSE(HasMoveLine(Ping(session, 7, 1500)));
  GameTracker game;
  EngineMove(session, game);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, PondersOnItsHintAndPlaysOn) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  GameTracker game;
  session.Send("new");
  session.Send("hard");
  session.Send("level 0 1 0");
  int hits = 0;
  int misses = 0;
  std::string lastHint;
  for (int move = 0; move < 6 && !game.LegalMoves().empty(); ++move) {
    session.Send("time 300");
    session.Send("otim 300");
    // Alternate between the guessed reply and another one.
    std::string reply;
    if (!lastHint.empty() && move % 2 == 1 && game.IsLegal(lastHint)) {
      reply = lastHint;
      ++hits;
    } else {
      reply = OtherMove(game, lastHint);
      if (!lastHint.empty()) ++misses;
    }
    ASSERT_FALSE(reply.empty());
    ASSERT_TRUE(game.Play(reply));
    session.Send(reply);
    EngineMove(session, game);
    if (game.LegalMoves().empty()) break;
    const std::string hint = session.WaitFor("Hint: ");
    ASSERT_FALSE(hint.empty());
    lastHint = hint.substr(6);
    EXPECT_TRUE(game.IsLegal(lastHint)) << hint;
  }
  EXPECT_GT(hits, 0);
  EXPECT_GT(misses, 0);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, ResultDuringPonderingSendsNoMove) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  GameTracker game;
  ASSERT_FALSE(PonderAfter(session, game, "e2e4").empty());
  session.Send("result 1-0 {White mates}");
  EXPECT_FALSE(HasMoveLine(Ping(session, 4)));
  // "new" starts a fresh game: the engine plays White's first move on "go".
  session.Send("new");
  session.Send("easy");
  session.Send("sd 2");
  session.Send("go");
  GameTracker fresh;
  EngineMove(session, fresh);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, RefusesAnOverlongMoveWhilePondering) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  GameTracker game;
  ASSERT_FALSE(PonderAfter(session, game, "d2d4").empty());
  const std::string reply = game.LegalMoves().front();
  session.Send(reply + "xxxxxxxxxxxxxxxxxxxx");
  EXPECT_FALSE(session.WaitFor("Illegal move").empty());
  EXPECT_FALSE(HasMoveLine(Ping(session, 5)));
  // A line longer than 65536 characters is refused whole, and the search
  // goes on: its start is no move.
  const std::string tooLong = "usermove " + reply + " " + std::string(100000, 'x');
  session.Send(tooLong);
  EXPECT_EQ(session.WaitFor("Error"), "Error (line too long): " + tooLong.substr(0, 40) + "...");
  EXPECT_FALSE(HasMoveLine(Ping(session, 6)));
  // The real move still gets its answer.
  ASSERT_TRUE(game.Play(reply));
  session.Send("time 300");
  session.Send("otim 300");
  session.Send(reply);
  EngineMove(session, game);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, NewDuringASearchResetsOnce) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  session.Send("new");
  session.Send("force");
  session.Send("e2e4");
  session.Send("analyze");
  EXPECT_FALSE(session.WaitFor("1 ").empty());
  session.Send("new");
  EXPECT_FALSE(HasMoveLine(Ping(session, 6)));
  session.Send("exit");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  session.Send("quit");
  EXPECT_EQ(session.engine().WaitExit(ScaledTimeout(10000)), 0);
}

TEST_P(XBoardThreaded, QuitAndEndOfInputDuringASearch) {
  {
    Session session(Ini());
    ASSERT_TRUE(session.StartXBoard());
    session.Send("new");
    session.Send("analyze");
    EXPECT_FALSE(session.WaitFor("1 ").empty());
    EXPECT_EQ(session.Quit(), 0);
  }
  {
    Session session(Ini());
    ASSERT_TRUE(session.StartXBoard());
    session.Send("new");
    session.Send("analyze");
    session.engine().CloseInput();
    EXPECT_EQ(session.engine().WaitExit(ScaledTimeout(10000)), 0);
  }
}

TEST_P(XBoardThreaded, TimeIsTheEnginesClockAndOtimTheOpponents) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  session.Send("new");
  session.Send("level 0 10 0");
  // The engine plays White with half a second left against the opponent's
  // thousand: it must answer from its own clock, not from the other one.
  session.Send("time 50");
  session.Send("otim 100000");
  session.Send("go");
  GameTracker game;
  EngineMove(session, game, 2000);
  // And after the opponent's reply.
  session.Send("time 40");
  session.Send("otim 100000");
  const std::string reply = game.LegalMoves().front();
  ASSERT_TRUE(game.Play(reply));
  session.Send(reply);
  EngineMove(session, game, 2000);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, AMoveThatEndsTheGameIsNotAnswered) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  session.Send("new");
  session.Send("sd 2");
  // The opponent mates.
  session.Send("setboard rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq g3 0 2");
  session.Send("d8h4");
  EXPECT_FALSE(HasMoveLine(Ping(session, 8)));
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnb1kbnr"), "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");
  // The opponent stalemates.
  session.Send("setboard 7k/8/8/8/8/8/5Q2/K7 w - - 0 1");
  session.Send("f2f7");
  EXPECT_FALSE(HasMoveLine(Ping(session, 9)));
  // An ordinary move is still answered.
  session.Send("setboard 7k/8/8/8/8/8/5Q2/K7 w - - 0 1");
  session.Send("f2f6");
  GameTracker game("7k/8/8/8/8/8/5Q2/K7 w - - 0 1");
  ASSERT_TRUE(game.Play("f2f6"));
  EngineMove(session, game);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, RemoveTakesBackTheLastTwoHalfMoves) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  const std::string start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  GameTracker first;
  ASSERT_FALSE(PonderAfter(session, first, "e2e4").empty());
  // The engine ponders on its guess: "remove" ends that and takes back the
  // engine's reply and e2e4; the interface moves again, the engine answers.
  session.Send("remove");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), start);
  session.Send("time 300");
  session.Send("otim 300");
  session.Send("d2d4");
  GameTracker second;
  ASSERT_TRUE(second.Play("d2d4"));
  EngineMove(session, second);
  // With one half-move in the game, that one goes.
  session.Send("new");
  session.Send("force");
  session.Send("e2e4");
  session.Send("remove");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("rnbqkbnr"), start);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, PlaysChess960UnderVariantFischerandom) {
  Session session(Ini());
  ASSERT_TRUE(session.StartXBoard());
  session.Send("new");
  session.Send("variant fischerandom");
  // The interface castles as "O-O", with the digit zero, or as the king
  // taking its own rook; Shredder-FEN rights name the rooks.
  session.Send("setboard bqnrnbkr/pppp1ppp/4p3/8/8/4P1P1/PPPPBP1P/BQNRN1KR w HDhd - 0 3");
  session.Send("force");
  session.Send("O-O");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("bqnrnbkr"), "bqnrnbkr/pppp1ppp/4p3/8/8/4P1P1/PPPPBP1P/BQNRNRK1 b kq - 1 3");
  session.Send("setboard r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  session.Send("0-0-0");
  session.Send("e8h8");
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("r4rk1"), "r4rk1/8/8/8/8/8/8/2KR3R w - - 2 2");
  // The engine writes its own castling as the king taking the rook: the
  // only mate here is castling with the king on g1 and the rook on h1.
  const std::string fen = "4rkr1/4p1p1/8/8/8/8/PPP5/6KR w H - 0 1";
  session.Send("setboard " + fen);
  session.Send("sd 3");
  session.Send("go");
  EXPECT_EQ(session.WaitFor("move "), "move g1h1");
  session.Send("variant crazyhouse");
  EXPECT_EQ(session.WaitFor("Error"), "Error (unknown variant): crazyhouse");
  // "new" is standard chess again: castling is the king's two-square step.
  session.Send("new");
  session.Send("force");
  for (const char* move : {"e2e4", "e7e5", "g1f3", "b8c6", "f1c4", "g8f6", "e1g1"}) session.Send(move);
  session.Send("printFEN");
  EXPECT_EQ(session.WaitFor("r1bqkb1r"), "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQ1RK1 b kq - 5 4");
  EXPECT_FALSE(session.engine().LinesStartingWith("Illegal").size() > 0);
  EXPECT_EQ(session.Quit(), 0);
}

TEST_P(XBoardThreaded, HtmlLogIsUtf8) {
  Session session(Ini("LogLevel=64\nLogFormat=1\n"));
  ASSERT_TRUE(session.StartXBoard());
  session.Send("# caf\xC3\xA9 <b>");
  Ping(session, 1);
  EXPECT_EQ(session.Quit(), 0);
  const std::string page = session.dir().Read("logfile.html");
  const size_t head = page.find("</head>");
  ASSERT_NE(head, std::string::npos);
  EXPECT_NE(page.substr(0, head).find("<meta charset=\"utf-8\">"), std::string::npos) << page.substr(0, head);
  EXPECT_NE(page.find("&lt;&lt; # caf\xC3\xA9 &lt;b&gt;</td>"), std::string::npos);
}

TEST_P(XBoardThreaded, AMissedGuessEndsThePonderSearchsLines) {
  // The engine's log shows the order in which it read the opponent's move
  // and wrote its lines: after another move than its guess, the ponder
  // search on the guess says nothing more, and the next line is the first
  // of the search on the real move. In this position Black, a piece down,
  // holds the draw by the fifty-move rule with any quiet move: every
  // iteration of the ponder search finds that first, so wherever the miss
  // stops it, the iteration in progress has a line to tell.
  Session session(Ini("LogLevel=64\n"));
  ASSERT_TRUE(session.StartXBoard());
  const std::string fen = "r5k1/1p3ppp/p7/8/8/2N5/8/2BR2K1 b - - 97 60";
  const std::regex thinking("^([0-9]+) -?[0-9]+ [0-9]+ [0-9]+ .*");
  std::vector<std::string> misses;
  for (int game = 0; game < 3; ++game) {
    session.Send("new");
    session.Send("hard");
    session.Send("post");
    session.Send("level 0 1 0");
    session.Send("setboard " + fen);
    Ping(session, game);  // the game is set up
    session.Send("time 300");
    session.Send("otim 300");
    session.Send("go");
    GameTracker position(fen);
    EngineMove(session, position);
    const std::string hint = session.WaitFor("Hint: ");
    ASSERT_FALSE(hint.empty());
    // The ponder search is some plies deep.
    std::string line;
    std::smatch match;
    while (session.engine().ReadLine(line, ScaledTimeout(10000)))
      if (std::regex_match(line, match, thinking) && std::stoi(match[1].str()) >= 6) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string miss = OtherMove(position, hint.substr(6));
    ASSERT_TRUE(position.Play(miss));
    session.Send("time 300");
    session.Send("otim 300");
    session.Send(miss);
    misses.push_back(miss);
    EngineMove(session, position);
  }
  EXPECT_EQ(session.Quit(), 0);

  // The GUI lines of the log, "<< " read and ">> " written, in order.
  const std::vector<std::string> dialogue = LogMessages(session);
  size_t from = 0;
  for (const std::string& miss : misses) {
    while (from < dialogue.size() && dialogue[from] != "<< " + miss) ++from;
    ASSERT_LT(from, dialogue.size()) << miss;
    size_t next = from + 1;
    while (next < dialogue.size() && dialogue[next].rfind(">> ", 0) != 0) ++next;
    ASSERT_LT(next, dialogue.size()) << miss;
    // The first line after the move: depth 1 of the new search, or its move.
    const std::string first = dialogue[next].substr(3);
    EXPECT_TRUE(first.rfind("1 ", 0) == 0 || first.rfind("move ", 0) == 0)
        << "after " << miss << ": " << first;
  }
}

namespace {

// Number of threads of a process.
int ThreadCount(int pid) {
  int count = 0;
  if (DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/task").c_str())) {
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

// The thread count once it reaches `expected`, or the last count seen after
// 20 seconds. A joined thread leaves /proc a moment after its join returns
// (longer under QEMU), so a count taken at once may still show it.
int ThreadCountReaching(int pid, int expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int count = ThreadCount(pid);
  while (count != expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    count = ThreadCount(pid);
  }
  return count;
}

}  // namespace

TEST_P(XBoardThreaded, CoresSetsTheSearchThreads) {
  Session session(Ini("MaxThreads=2\nLogLevel=81\n"));
  ASSERT_TRUE(session.StartXBoard());
  const int pid = session.engine().Pid();
  Ping(session, 1);
  // Counted before any thread has ended: the two of "MaxThreads".
  const int one = ThreadCount(pid) - 1;
  ASSERT_GT(one, 0);
  // Held to 1..64, also beyond the range of 32 bits; a word that is no
  // number changes nothing.
  const std::vector<std::pair<std::string, int>> steps = {
      {"cores 1", 1},     {"cores 4", 4}, {"cores 500", 64}, {"cores 4294967297", 64},
      {"cores many", 64}, {"cores 0", 1}, {"cores 3", 3}};
  int n = 2;
  for (const auto& step : steps) {
    session.Send(step.first);
    Ping(session, n++);
    EXPECT_EQ(ThreadCountReaching(pid, one + step.second - 1), one + step.second - 1)
        << step.first;
  }
  // The engine plays on the threads it was given.
  session.Send("new");
  session.Send("sd 6");
  session.Send("go");
  GameTracker game;
  EngineMove(session, game);
  EXPECT_EQ(session.Quit(), 0);
  const std::string log = session.dir().Read("logfile.txt");
  for (const char* line : {"Using 4 threads", "Using 64 threads", "Using 1 threads", "cores : 'many'"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_P(XBoardThreaded, EachSearchHasTheTimeControlInForce) {
  // What each search was given, as the engine logs it, one game each. "sd"
  // alone is the search's one limit; with a clock or a move time, before or
  // after it, it caps the timed search. "new" removes the cap but starts the
  // last "level" or "st" again. A move time keeps a margin and never exceeds
  // the clock sent with "time". A "level" that does not read is refused and
  // leaves the time control as it was. In the last game the interface has
  // set up 42 moves of each side in force mode under 40 moves a session:
  // the engine's move is the 38th of the second session.
  Session session(Ini("LogLevel=65\n"));
  ASSERT_TRUE(session.StartXBoard());
  std::vector<std::string> shuffle;
  for (int i = 0; i < 21; ++i) shuffle.insert(shuffle.end(), {"g1f3", "g8f6", "f3g1", "f6g8"});
  std::vector<std::vector<std::string>> setups = {{"sd 3"},
                                                  {"level 40 0:10 0", "sd 40", "time 1000"},
                                                  {"sd 30", "time 300", "otim 300"},
                                                  {"level 0 -1 0"},
                                                  {"st 1", "sd 40", "time 100", "otim 100"},
                                                  {"time 50"},
                                                  {"sd 30", "level 40 0:10 0", "time 1000"},
                                                  {"level 40 0:10 0", "force"}};
  setups.back().insert(setups.back().end(), shuffle.begin(), shuffle.end());
  setups.back().push_back("time 1000");
  for (const auto& setup : setups) {
    session.Send("new");
    for (const std::string& line : setup) session.Send(line);
    session.Send("go");
    GameTracker game;
    EngineMove(session, game);
  }
  EXPECT_EQ(session.engine().LinesStartingWith("Error").size(), 1u);
  EXPECT_EQ(session.engine().LinesStartingWith("Error (bad time control): level 0 -1 0").size(), 1u);
  // The cap holds under the clock: no thinking line goes deeper.
  const size_t before = session.engine().Transcript().size();
  session.Send("new");
  session.Send("level 40 0:10 0");
  session.Send("sd 2");
  session.Send("go");
  GameTracker game;
  EngineMove(session, game);
  const std::regex deeper("^([3-9]|[1-9][0-9]+) -?[0-9]+ .*");
  const auto& transcript = session.engine().Transcript();
  for (size_t i = before; i < transcript.size(); ++i)
    EXPECT_FALSE(std::regex_match(transcript[i], deeper)) << transcript[i];
  EXPECT_EQ(session.Quit(), 0);

  std::vector<std::string> given;
  for (const std::string& message : LogMessages(session))
    if (message.rfind("search : ", 0) == 0) given.push_back(message);
  const std::vector<std::string> expected = {
      "search : no time limit, depth 3",
      "search : 500 ms for the move (clock 10000 ms, 40 moves to go), depth 40",
      "search : 150 ms for the move (clock 3000 ms, 40 moves to go), depth 30",
      "search : 500 ms for the move (clock 10000 ms, 40 moves to go), depth 127",
      "search : 900 ms for the move, depth 40",
      "search : 450 ms for the move, depth 127",
      "search : 500 ms for the move (clock 10000 ms, 40 moves to go), depth 30",
      "search : 526 ms for the move (clock 10000 ms, 38 moves to go), depth 127",
      "search : 500 ms for the move (clock 10000 ms, 40 moves to go), depth 2"};
  EXPECT_EQ(given, expected);
}

TEST_P(XBoardThreaded, APonderHitTakesItsTimeFromTheClockJustSent) {
  // Five moves a session, the engine playing Black. Its first five moves
  // follow missed guesses, the fifth searched with one move to go; the next
  // four hit the ponder search. Every move must have been given its time
  // from the clock sent with the move before it, which falls move by move,
  // and from the moves left in the session.
  Session session(Ini("LogLevel=65\n"));
  ASSERT_TRUE(session.StartXBoard());
  GameTracker game;
  session.Send("new");
  session.Send("hard");
  session.Send("post");
  session.Send("level 5 0:20 0");
  const std::regex thinking("^[0-9]+ -?[0-9]+ [0-9]+ [0-9]+ .*");
  std::vector<std::string> expected;
  std::string hint;
  int hits = 0;
  for (int move = 0; move < 9 && !game.LegalMoves().empty(); ++move) {
    const int centiseconds = 160 - 10 * move;
    std::string reply;
    if (move >= 5 && game.IsLegal(hint)) {
      // The ponder search is under way.
      std::string line;
      while (session.engine().ReadLine(line, ScaledTimeout(10000)) && !std::regex_match(line, thinking)) {
      }
      reply = hint;
      ++hits;
    } else {
      reply = OtherMove(game, hint);
    }
    ASSERT_TRUE(game.Play(reply));
    session.Send("time " + std::to_string(centiseconds));
    session.Send("otim 2000");
    session.Send(reply);
    expected.push_back("(clock " + std::to_string(centiseconds * 10) + " ms, " +
                       std::to_string(5 - move % 5) + " moves to go)");
    EngineMove(session, game);
    if (game.LegalMoves().empty()) break;
    hint = session.WaitFor("Hint: ");
    ASSERT_FALSE(hint.empty());
    hint = hint.substr(6);
  }
  EXPECT_GE(hits, 2);
  EXPECT_EQ(session.Quit(), 0);

  // The time in force when each move was sent: the last one given before it.
  std::vector<std::string> given;
  std::string last;
  for (const std::string& message : LogMessages(session)) {
    if (message.rfind("search : ", 0) == 0 || message.rfind("ponder hit : ", 0) == 0) last = message;
    if (message.rfind(">> move ", 0) == 0) given.push_back(last);
  }
  ASSERT_EQ(given.size(), expected.size());
  for (size_t i = 0; i < given.size(); ++i)
    EXPECT_NE(given[i].find(expected[i]), std::string::npos) << "move " << i + 1 << ": " << given[i];
}

TEST_P(XBoardThreaded, APonderHitIsTimedAsTheMoveItPonders) {
  // The engine plays Black, first under a clock, then under "st 1". Each
  // ponder search is the game's second search and ponders its second move.
  // Under the clock, 39 to go, the hit gives that move its time from the
  // clock just sent, with the share of the game's second search (1.9 times
  // 19000 ms / 39). Under "st 1" the clock just sent (300 ms) holds less
  // than the time per move: the move has that clock less the margin.
  Session session(Ini("LogLevel=65\n"));
  ASSERT_TRUE(session.StartXBoard());
  const std::vector<std::vector<std::string>> games = {
      {"level 40 0:20 0", "time 2000", "otim 2000", "time 1900"},
      {"st 1", "time 1000", "otim 1000", "time 30"}};
  for (const std::vector<std::string>& control : games) {
    GameTracker game;
    for (const std::string& line : {std::string("new"), std::string("hard"), std::string("post"),
                                    control[0], control[1], control[2]})
      session.Send(line);
    ASSERT_TRUE(game.Play("e2e4"));
    session.Send("e2e4");
    EngineMove(session, game);
    std::string hint = session.WaitFor("Hint: ");
    ASSERT_FALSE(hint.empty());
    hint = hint.substr(6);
    ASSERT_TRUE(game.Play(hint));
    // The ponder search is under way.
    const std::regex thinking("^[0-9]+ -?[0-9]+ [0-9]+ [0-9]+ .*");
    std::string line;
    while (session.engine().ReadLine(line, ScaledTimeout(10000)) && !std::regex_match(line, thinking)) {
    }
    session.Send(control[3]);
    session.Send(control[2]);
    session.Send(hint);
    EngineMove(session, game);
  }
  EXPECT_EQ(session.Quit(), 0);
  std::vector<std::string> hits;
  for (const std::string& message : LogMessages(session))
    if (message.rfind("ponder hit : ", 0) == 0) hits.push_back(message);
  EXPECT_EQ(hits, (std::vector<std::string>{
                      "ponder hit : 925 ms for the move (clock 19000 ms, 39 moves to go)",
                      "ponder hit : 250 ms for the move (clock 300 ms)"}));
}
