// The engine object: creation, initialisation, new game, shutdown, the game
// record (moves in, take-backs, FEN in and out), the search tables, the
// strength limit and the time and input poll.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "board/attacks.h"
#include "board_helpers.h"
#include "common/log.h"
#include "engine_helpers.h"
#include "protocol/console_listener.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Writes the global log to a file in a fresh directory for the test's
// duration; Text() closes the log and returns what it holds.
class CapturedLog {
 public:
  CapturedLog() {
    char cwd[4096];
    EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
    previous_ = cwd;
    char pattern[] = "/tmp/zorvel_engine_XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    EXPECT_EQ(chdir(directory_.c_str()), 0);
    EXPECT_TRUE(gLog.Open(0x7f, 0, 0));
  }
  ~CapturedLog() {
    gLog.Close();
    EXPECT_EQ(chdir(previous_.c_str()), 0);
    EXPECT_EQ(std::system(("rm -rf '" + directory_ + "'").c_str()), 0);
  }
  std::string Text() {
    gLog.Close();
    std::ifstream in(directory_ + "/logfile.txt");
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

 private:
  std::string previous_;
  std::string directory_;
};

TEST(EngineObject, StartsEmptyAndLinked) {
  auto engine = std::make_unique<Engine>();
  const Board& b = engine->board;
  EXPECT_EQ(b.sideToMove, 1);
  EXPECT_EQ(b.materialSignature, 0x12228ULL | (0x12228ULL << 32));
  EXPECT_EQ(b.castleRights, 15);
  EXPECT_EQ(b.kingSquare[0], 4);
  EXPECT_EQ(b.kingSquare[1], 60);
  EXPECT_EQ(b.occupied, 0u);
  EXPECT_EQ(b.key, 0u);
  EXPECT_EQ(b.owner, nullptr);
  EXPECT_EQ(engine->mainContext.pool, &engine->pool);
  EXPECT_EQ(engine->mainContext.personality, static_cast<const EvalSettings*>(engine.get()));
  EXPECT_EQ(engine->mainContext.tt, &engine->tt);
  EXPECT_EQ(engine->mainContext.engine, nullptr);
  EXPECT_EQ(engine->mainContext.keyCount, 0);
  EXPECT_TRUE(engine->pool.lock.initialised);
  EXPECT_EQ(engine->pool.threadCount, 1);
  EXPECT_TRUE(engine->pool.threads.empty());
  EXPECT_EQ(engine->listener, &engine->defaultListener);
  EXPECT_EQ(engine->elo, 2700);
  EXPECT_EQ(engine->rootSide, 1);
  EXPECT_EQ(engine->multiPv, 1);
  EXPECT_EQ(engine->bookSelectivity, 100);
  EXPECT_EQ(engine->bookEnabled, 1);
  EXPECT_EQ(engine->bookPlyLimit, 0);
  EXPECT_EQ(engine->limits.mode, ModeMoveTime);
  EXPECT_EQ(engine->limits.timeLimit, 20u);
  EXPECT_EQ(engine->limits.moveTime, 5000000);
  EXPECT_EQ(engine->limits.nodeLimit, 2000000u);
  EXPECT_EQ(engine->limits.hashMb, 32);
  EXPECT_FALSE(engine->tt.HasStorage());
  EXPECT_GE(engine->gameHistory.capacity(), 512u);
}

TEST(EngineObject, InitBuildsTablesThreadsAndTheStartPosition) {
  CapturedLog log;
  auto engine = MakeEngine();
  Engine& e = *engine;
  EXPECT_TRUE(e.tt.HasStorage());
  EXPECT_EQ(e.tt.entryCount, 65536u);
  EXPECT_EQ(e.limits.hashMb, 1);
  ASSERT_NE(e.pool.mainThread, nullptr);
  EXPECT_EQ(e.pool.engine, &e);
  EXPECT_EQ(e.mainContext.engine, &e);
  EXPECT_EQ(e.mainContext.thread, e.pool.mainThread);
  EXPECT_EQ(e.mainContext.killers, e.pool.mainThread->killers);
  EXPECT_EQ(e.mainContext.history, e.pool.mainThread->history);
  EXPECT_EQ(e.board.owner, e.pool.mainThread);
  EXPECT_EQ(e.mainContext.board.owner, e.pool.mainThread);
  EXPECT_EQ(e.mainContext.board.key, e.board.key);
  EXPECT_EQ(e.tools.engine, &e);
  EXPECT_EQ(e.tools.board, &e.board);
  EXPECT_EQ(GameFen(e), StartFen);

  EXPECT_EQ(LmrTable[2][2], 0);
  EXPECT_EQ(LmrTable[10][10], 2);
  EXPECT_EQ(LmrTable[63][63], 6);
  EXPECT_EQ(LmrTable[0][40], 0);
  EXPECT_EQ(LmrTable[40][0], 0);
  // The whole table, pinned: every target must build the same reductions.
  i64 sum = 0, weighted = 0;
  for (i32 d = 0; d < 64; ++d)
    for (i32 m = 0; m < 64; ++m) {
      sum += LmrTable[d][m];
      weighted += LmrTable[d][m] * (d * 64 + m);
    }
  EXPECT_EQ(sum, 13452);
  EXPECT_EQ(weighted, 31979935);
  const i32 counts[16] = {4, 6, 9, 15, 22, 31, 42, 54, 69, 85, 103, 123, 144, 168, 193, 220};
  for (i32 i = 0; i < 16; ++i) EXPECT_EQ(LateMovePruningCount[i], counts[i]);
  EXPECT_EQ(drawScore, 0);
  EXPECT_EQ(minSplitDepth, 16);

  EXPECT_NE(log.Text().find("Pawns hash table size : 2048 Kb by thread"), std::string::npos);
}

TEST(EngineObject, NewGameResetsTheGameAndLearnedTables) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  ASSERT_TRUE(e.PlayMoveList("e2e4 e7e5"));
  e.limits.mode = ModeClock;
  e.limits.depthLimit = 3;
  e.limits.searchesThisGame = 7;
  e.limits.increment[White] = 500;
  e.multiPv = 3;
  e.ponderEnabled = 1;
  e.pool.mainThread->history[1][2][3] = 77;
  e.pool.mainThread->killers[5][0] = 1234;
  e.tt.Store(e.board.key, 0, 10, 8, 0, BoundExact);
  e.tt.age = 9;
  e.NewGame();
  EXPECT_TRUE(e.gameHistory.empty());
  EXPECT_EQ(e.gameKeyCount, 0);
  EXPECT_EQ(GameFen(e), StartFen);
  EXPECT_EQ(e.limits.mode, ModeMoveTime);
  EXPECT_EQ(e.limits.depthLimit, 8);
  EXPECT_EQ(e.limits.searchesThisGame, 0);
  EXPECT_EQ(e.limits.baseTime, 300000);
  EXPECT_EQ(e.limits.timeLimit, 7500u);
  EXPECT_EQ(e.limits.increment[White], 0);
  EXPECT_EQ(e.limits.movesToGo, 40);
  EXPECT_FLOAT_EQ(e.limits.clock[Black], 300000.0f);
  EXPECT_FLOAT_EQ(e.limits.clock[White], 300000.0f);
  EXPECT_EQ(e.pool.mainThread->history[1][2][3], 0);
  EXPECT_EQ(e.pool.mainThread->killers[5][0], 0u);
  EXPECT_EQ(e.tt.age, 0u);
  Move move = 99;
  i32 score = 0;
  EXPECT_EQ(e.tt.Probe(e.board.key, 0, 0, -InfiniteScore, InfiniteScore, move, score), ProbeMiss);
  EXPECT_EQ(e.multiPv, 3);       // interface settings stay
  EXPECT_EQ(e.ponderEnabled, 1);
}

// The protocols' set-up allocates the table and then starts a new game: the
// fresh table is zero already and must not be written again (with a 2 GB
// table that took seconds). A table a search has written is cleared, once.
TEST(EngineObject, NewGameZeroesTheTableOnlyAfterItWasWritten) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  e.Init(4);
  e.NewGame();
  EXPECT_EQ(e.tt.zeroings, 0u);
  EXPECT_FALSE(e.tt.Written());

  SetDepthLimit(e, 3);
  e.Think(0);
  EXPECT_TRUE(e.tt.Written());
  e.NewGame();
  EXPECT_EQ(e.tt.zeroings, 1u);
  EXPECT_EQ(e.tt.age, 0u);
  Move move = 0;
  i32 score = 0;
  EXPECT_EQ(e.tt.Probe(e.board.key, 0, 0, -InfiniteScore, InfiniteScore, move, score), ProbeMiss);
  EXPECT_EQ(move, 0u);
  e.NewGame();
  e.tt.Clear();  // the interface's "Clear Hash" on a clean table
  EXPECT_EQ(e.tt.zeroings, 1u);

  // A new size is fresh storage again.
  SetDepthLimit(e, 3);
  e.Think(0);
  ASSERT_TRUE(e.tt.Written());
  e.Init(8);
  e.NewGame();
  EXPECT_EQ(e.tt.zeroings, 1u);
  EXPECT_EQ(e.tt.entryCount, 8u * 65536u);
}

TEST(EngineObject, ShutdownFreesAndInitRebuilds) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  e.ponderEnabled = 1;
  e.Shutdown();
  EXPECT_FALSE(e.tt.HasStorage());
  EXPECT_TRUE(e.pool.threads.empty());
  EXPECT_EQ(e.pool.mainThread, nullptr);
  EXPECT_EQ(e.tools.engine, nullptr);
  EXPECT_EQ(e.tools.board, nullptr);
  EXPECT_EQ(e.board.occupied, 0u);
  EXPECT_EQ(e.board.owner, nullptr);
  EXPECT_EQ(e.board.kingSquare[1], 60);
  EXPECT_EQ(e.ponderEnabled, 0);
  EXPECT_EQ(e.stopReason, 0);  // no search was running

  e.Init(2);
  EXPECT_TRUE(e.tt.HasStorage());
  EXPECT_EQ(e.tt.entryCount, 2u * 65536u);
  EXPECT_EQ(GameFen(e), StartFen);
  SetDepthLimit(e, 2);
  e.Think(0);
  EXPECT_NE(e.bestMove, 0u);
}

TEST(GameRecord, MoveListsWithExtraBlanksAndEmptyLists) {
  RecordingListener listener;
  auto engine = MakeEngine(&listener);
  Engine& e = *engine;
  EXPECT_TRUE(e.PlayMoveList(""));
  EXPECT_TRUE(e.gameHistory.empty());
  EXPECT_TRUE(e.PlayMoveList("e2e4 e7e5  g1f3"));
  EXPECT_EQ(e.gameHistory.size(), 3u);
  EXPECT_EQ(GameFen(e), "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2");
  EXPECT_EQ(listener.Count("text"), 0);
}

TEST(GameRecord, ListStopsAtTheFirstBadMove) {
  RecordingListener listener;
  auto engine = MakeEngine(&listener);
  Engine& e = *engine;
  EXPECT_FALSE(e.PlayMoveList("e2e4 e7e5 e1e3 g8f6"));
  EXPECT_EQ(e.gameHistory.size(), 2u);
  ASSERT_EQ(listener.Count("text"), 1);
  EXPECT_EQ(listener.Of("text")[0].text, "Illegal move: e1e3");
  // Malformed text in a list.
  e.NewGame();
  EXPECT_FALSE(e.PlayMoveList("e2e4 e7x5"));
  EXPECT_EQ(e.gameHistory.size(), 1u);
  EXPECT_EQ(listener.Of("text")[1].text, "Illegal move: e7x5");
  // A promotion letter at the very end of the text.
  ASSERT_TRUE(e.SetFen("8/4P3/8/8/8/8/k7/4K3 w - - 0 1"));
  EXPECT_TRUE(e.PlayMoveList("e7e8q"));
  EXPECT_EQ(e.board.squares[60], Queen);
  ASSERT_TRUE(e.SetFen("8/4P3/8/8/8/8/k7/4K3 w - - 0 1"));
  EXPECT_TRUE(e.PlayMoveList("e7e8n a2a3 e8d6"));
  EXPECT_EQ(e.board.squares[43], Knight);
}

TEST(GameRecord, Promotions) {
  RecordingListener listener;
  auto engine = MakeEngine(&listener);
  Engine& e = *engine;
  const char* fen = "8/4P3/8/8/8/8/k7/4K3 w - - 0 1";
  ASSERT_TRUE(e.SetFen(fen));
  EXPECT_TRUE(e.ParseAndMakeMove("e7e8q"));
  EXPECT_EQ(e.board.squares[60], Queen);
  EXPECT_EQ(PromotionPiece(e.gameHistory.back().move), Queen);

  ASSERT_TRUE(e.SetFen(fen));
  EXPECT_FALSE(e.ParseAndMakeMove("e7e8"));  // a pawn reaching the last rank must promote
  EXPECT_FALSE(e.ParseAndMakeMove("e7e8k"));
  EXPECT_TRUE(e.gameHistory.empty());
  EXPECT_EQ(listener.Of("text")[0].text, "Illegal move: e7e8");
  EXPECT_EQ(listener.Of("text")[1].text, "Illegal move: e7e8k");
  EXPECT_TRUE(e.ParseAndMakeMove("e7e8r"));
  EXPECT_EQ(e.board.squares[60], Rook);
}

TEST(GameRecord, CastlingInStandardAndChess960Modes) {
  RecordingListener listener;
  auto engine = MakeEngine(&listener);
  Engine& e = *engine;
  const char* fen = "r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq - 0 1";
  ASSERT_TRUE(e.SetFen(fen));
  EXPECT_TRUE(e.ParseAndMakeMove("e1g1"));
  EXPECT_TRUE(IsCastling(e.gameHistory.back().move));
  EXPECT_EQ(e.board.squares[6], King);
  EXPECT_EQ(e.board.squares[5], Rook);
  EXPECT_EQ(e.gameKeyCount, 0);
  // Black castles short with the text O-O.
  EXPECT_TRUE(e.ParseAndMakeMove("O-O"));
  EXPECT_EQ(e.board.squares[62], King);
  EXPECT_EQ(e.board.squares[61], Rook);

  ASSERT_TRUE(e.SetFen(fen));
  EXPECT_TRUE(e.ParseAndMakeMove("O-O-O"));
  EXPECT_EQ(e.board.squares[2], King);
  EXPECT_EQ(e.board.squares[3], Rook);
  EXPECT_TRUE(e.ParseAndMakeMove("e8c8"));
  EXPECT_EQ(e.board.squares[58], King);

  // Chess960 writes castling as the king taking its own rook.
  ASSERT_TRUE(e.SetFen(fen));
  e.board.chess960 = 1;
  EXPECT_FALSE(e.ParseAndMakeMove("e1g1"));
  EXPECT_EQ(listener.Of("text").back().text, "Illegal move: e1g1");
  EXPECT_TRUE(e.ParseAndMakeMove("e1h1"));
  EXPECT_TRUE(IsCastling(e.gameHistory.back().move));
  EXPECT_EQ(e.board.squares[6], King);
  EXPECT_TRUE(e.ParseAndMakeMove("O-O-O"));
  EXPECT_EQ(e.board.squares[58], King);
  EXPECT_EQ(e.board.squares[59], Rook);

  // Malformed castling text.
  EXPECT_FALSE(e.ParseAndMakeMove("O-X"));
  EXPECT_EQ(listener.Of("text").back().text, "Illegal move: O-X");
}

TEST(GameRecord, RejectedMovesLeaveTheRecordAsItWas) {
  RecordingListener listener;
  auto engine = MakeEngine(&listener);
  Engine& e = *engine;
  // The knight on c3 guards e2.
  ASSERT_TRUE(e.SetFen("4k3/8/8/8/8/2n5/8/4K3 w - - 0 1"));
  ASSERT_TRUE(e.PlayMoveList("e1f1 e8d8 f1e1 d8e8"));
  const Board before = e.board;
  const i32 keysBefore = e.gameKeyCount;
  const size_t historyBefore = e.gameHistory.size();
  EXPECT_FALSE(e.ParseAndMakeMove("e1e2"));
  EXPECT_EQ(e.board.key, before.key);
  EXPECT_EQ(std::memcmp(e.board.squares, before.squares, 64), 0);
  EXPECT_EQ(e.gameKeyCount, keysBefore);
  EXPECT_EQ(e.gameHistory.size(), historyBefore);
  EXPECT_EQ(listener.Of("text").back().text, "Illegal move: e1e2");

  // A rejected promotion shows all five characters.
  ASSERT_TRUE(e.SetFen("r6k/P7/8/8/8/8/8/K7 w - - 0 1"));
  EXPECT_FALSE(e.ParseAndMakeMove("a7a8q"));
  EXPECT_EQ(listener.Of("text").back().text, "Illegal move: a7a8q");
  // Short or odd texts never show more than they hold.
  EXPECT_FALSE(e.ParseAndMakeMove("a7"));
  EXPECT_EQ(listener.Of("text").back().text, "Illegal move: a7");
  EXPECT_FALSE(e.ParseAndMakeMove(""));
  EXPECT_EQ(listener.Of("text").back().text, "Illegal move: ");
  EXPECT_FALSE(e.ParseAndMakeMove("z9z9"));
  EXPECT_FALSE(e.ParseAndMakeMove("b1b2"));  // no piece there
  EXPECT_FALSE(e.ParseAndMakeMove("h8h7"));  // the opponent's king
  EXPECT_TRUE(e.gameHistory.empty());
}

TEST(GameRecord, EnPassantFromText) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  ASSERT_TRUE(e.PlayMoveList("e2e4 a7a6 e4e5 d7d5"));
  EXPECT_EQ(GameFen(e), "rnbqkbnr/1pp1pppp/p7/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 3");
  EXPECT_TRUE(e.ParseAndMakeMove("e5d6"));
  EXPECT_TRUE(IsEnPassant(e.gameHistory.back().move));
  EXPECT_EQ(e.board.squares[35], NoPiece);
  EXPECT_EQ(GameFen(e), "rnbqkbnr/1pp1pppp/p2P4/8/8/8/PPPP1PPP/RNBQKBNR b KQkq - 0 3");
}

TEST(GameRecord, UndoRestoresPositionAndKeyStack) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  const u64 startKey = e.board.key;
  ASSERT_TRUE(e.ParseAndMakeMove("e2e4"));
  EXPECT_TRUE(e.UndoMove());
  EXPECT_EQ(e.board.key, startKey);
  EXPECT_TRUE(e.board.IsConsistent());
  EXPECT_FALSE(e.UndoMove());

  // The key stack after take-backs equals the one built by playing.
  ASSERT_TRUE(e.PlayMoveList("g1f3 g8f6 f3g1 f6g8 e2e4 b8c6 g1f3 c6b8 f3g1"));
  const i32 count = e.gameKeyCount;
  std::vector<u64> keys(e.gameKeys, e.gameKeys + count);
  ASSERT_TRUE(e.PlayMoveList("b8c6 g1f3 e7e5"));
  ASSERT_TRUE(e.UndoMove());
  ASSERT_TRUE(e.UndoMove());
  ASSERT_TRUE(e.UndoMove());
  ASSERT_EQ(e.gameKeyCount, count);
  EXPECT_TRUE(std::equal(keys.begin(), keys.end(), e.gameKeys));
  EXPECT_EQ(count, 4);  // the moves after e2e4
  EXPECT_TRUE(e.board.IsConsistent());
}

TEST(GameRecord, FenOutWithFullMoveNumbers) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  e.NewGame();
  EXPECT_EQ(GameFen(e), StartFen);
  ASSERT_TRUE(e.ParseAndMakeMove("g1f3"));
  EXPECT_EQ(GameFen(e), "rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq - 1 1");
  ASSERT_TRUE(e.ParseAndMakeMove("g8f6"));
  EXPECT_EQ(GameFen(e), "rnbqkb1r/pppppppp/5n2/8/8/5N2/PPPPPPPP/RNBQKB1R w KQkq - 2 2");

  // A position set with Black to move at move 40.
  ASSERT_TRUE(e.SetFen("4k3/8/8/8/8/8/8/R3K3 b Q - 12 40"));
  EXPECT_EQ(GameFen(e), "4k3/8/8/8/8/8/8/R3K3 b Q - 12 40");
  ASSERT_TRUE(e.ParseAndMakeMove("e8d7"));
  EXPECT_EQ(GameFen(e), "8/3k4/8/8/8/8/8/R3K3 w Q - 13 41");
  ASSERT_TRUE(e.ParseAndMakeMove("a1a7"));
  EXPECT_EQ(GameFen(e), "8/R2k4/8/8/8/8/8/4K3 b - - 14 41");
  // No full-move field counts from 1.
  ASSERT_TRUE(e.SetFen("4k3/8/8/8/8/8/8/4K3 w -"));
  EXPECT_EQ(GameFen(e), "4k3/8/8/8/8/8/8/4K3 w - - 0 1");
}

TEST(GameRecord, Chess960RightsNamingAnInnerRook) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  e.board.chess960 = 1;
  // The f-file rooks castle short with the g-file rooks beside them; "KQkq"
  // would name the outermost rooks, so FEN out names the file where that
  // differs, and reads back to the same rooks.
  ASSERT_TRUE(e.SetFen("1rk2rr1/ppppppp1/8/8/8/8/PPPPPPP1/1RK2RR1 w FBfb - 0 1"));
  EXPECT_EQ(e.board.castleRookSquare[CastleShort][White], 5);
  EXPECT_EQ(e.board.castleRookSquare[CastleShort][Black], 61);
  const std::string written = GameFen(e);
  EXPECT_EQ(written, "1rk2rr1/ppppppp1/8/8/8/8/PPPPPPP1/1RK2RR1 w FQfq - 0 1");
  const Board before = e.board;
  ASSERT_TRUE(e.SetFen(written.c_str()));
  EXPECT_TRUE(SameBoard(before, e.board));

  // Castling is the king taking the named rook; the h-file rook stays.
  const char* named = "3k4/8/8/8/8/8/8/3K2RR w G - 0 1";
  ASSERT_TRUE(e.SetFen(named));
  EXPECT_EQ(GameFen(e), named);
  ASSERT_TRUE(e.ParseAndMakeMove("d1g1"));
  EXPECT_TRUE(IsCastling(e.gameHistory.back().move));
  EXPECT_EQ(e.board.squares[6], King);
  EXPECT_EQ(e.board.squares[5], Rook);
  EXPECT_EQ(e.board.squares[7], Rook);
  EXPECT_TRUE(e.board.IsConsistent());
  // Once it is the outermost rook, "K" names it.
  ASSERT_TRUE(e.SetFen(named));
  ASSERT_TRUE(e.PlayMoveList("h1h2 d8c8"));
  EXPECT_EQ(GameFen(e), "2k5/8/8/8/8/8/7R/3K2R1 w K - 2 2");
  // A file without a rook of that side gives no right.
  ASSERT_TRUE(e.SetFen("3k4/8/8/8/8/8/8/3K2RR w F - 0 1"));
  EXPECT_EQ(e.board.castleRights, 0);
}

TEST(GameRecord, InvalidFenIsLoggedAndChangesNothing) {
  CapturedLog log;
  auto engine = MakeEngine();
  Engine& e = *engine;
  ASSERT_TRUE(e.PlayMoveList("e2e4 e7e5"));
  const std::string before = GameFen(e);
  EXPECT_FALSE(e.SetFen("rnbqkbnr/pppppppp/8/8 w KQkq"));
  EXPECT_FALSE(e.SetFen("not a fen"));
  EXPECT_FALSE(e.SetFen(nullptr));
  EXPECT_EQ(GameFen(e), before);
  EXPECT_EQ(e.gameHistory.size(), 2u);
  const std::string text = log.Text();
  EXPECT_NE(text.find("Invalid FEN string : 'rnbqkbnr/pppppppp/8/8 w KQkq'"), std::string::npos);
  EXPECT_NE(text.find("Invalid FEN string : 'not a fen'"), std::string::npos);
}

TEST(GameRecord, IllegalMovesAreLoggedEvenWithoutAListener) {
  CapturedLog log;
  auto engine = MakeEngine();
  EXPECT_FALSE(engine->ParseAndMakeMove("e2e5"));
  EXPECT_NE(log.Text().find("Illegal move: e2e5"), std::string::npos);
}

TEST(GameRecord, LongReversibleRunsKeepTheNewestKeys) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  // 300 knight moves without a capture or a pawn move: the keys before the
  // last 256 of them are forgotten, the newest kept.
  const char* cycle[4] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  std::vector<u64> keysBefore;
  for (i32 i = 0; i < 300; ++i) {
    keysBefore.push_back(e.board.key);
    ASSERT_TRUE(e.ParseAndMakeMove(cycle[i % 4]));
  }
  EXPECT_EQ(e.gameKeyCount, GameKeyStackSize);
  for (i32 k = 0; k < GameKeyStackSize; ++k)
    EXPECT_EQ(e.gameKeys[k], keysBefore[300 - GameKeyStackSize + k]);
  // The clock stops at 255 instead of wrapping.
  EXPECT_EQ(e.board.halfmoveClock, 255);
  EXPECT_EQ(GameFen(e), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 255 151");

  // Take-backs rebuild the same newest keys.
  ASSERT_TRUE(e.UndoMove());
  EXPECT_EQ(e.gameKeyCount, GameKeyStackSize);
  EXPECT_EQ(e.gameKeys[GameKeyStackSize - 1], keysBefore[298]);

  // A search on top of the long run stays within its key stack and sees the
  // repetitions: every move can repeat, so with a draw score the side to
  // move values the position as a draw.
  SetDepthLimit(e, ForTarget(6, 4));
  e.Think(0);
  EXPECT_LE(e.mainContext.keyCount, KeyStackSize);
  EXPECT_NE(e.bestMove, 0u);
}

TEST(GameRecord, HalfmoveClockSaturates) {
  InitAttackTables();
  auto engine = MakeEngine();
  Engine& e = *engine;
  ASSERT_TRUE(e.SetFen("4k3/8/8/8/8/8/8/R3K3 w - - 254 80"));
  ASSERT_TRUE(e.ParseAndMakeMove("a1a2"));
  EXPECT_EQ(e.board.halfmoveClock, 255);
  ASSERT_TRUE(e.ParseAndMakeMove("e8d8"));
  EXPECT_EQ(e.board.halfmoveClock, 255);
  ASSERT_TRUE(e.UndoMove());
  EXPECT_EQ(e.board.halfmoveClock, 255);
  ASSERT_TRUE(e.UndoMove());
  EXPECT_EQ(e.board.halfmoveClock, 254);
}

TEST(StrengthLimit, EloToNodesPerSecond) {
  auto engine = std::make_unique<Engine>();
  Engine& e = *engine;
  e.SetStrengthElo(500);
  EXPECT_EQ(e.elo, 1000);
  EXPECT_EQ(e.strengthLimited, 1);
  EXPECT_EQ(e.limits.npsLimit, 150000u);

  // Full strength lifts the Elo's cap; only an active personality's
  // "ReduceSpeed" still caps the speed then.
  e.SetStrengthElo(3000);
  EXPECT_EQ(e.elo, 2700);
  EXPECT_EQ(e.strengthLimited, 0);
  EXPECT_EQ(e.limits.npsLimit, 0u);
  EXPECT_EQ(e.StrengthNpsLimit(), 0u);
  e.personality.ReduceSpeed = 12345;
  e.personality.active = 1;
  e.SetStrengthElo(static_cast<u32>(-5));
  EXPECT_EQ(e.elo, 2700);
  EXPECT_EQ(e.strengthLimited, 0);
  EXPECT_EQ(e.limits.npsLimit, 12345u);
  e.personality.active = 0;

  e.SetStrengthElo(2000);
  EXPECT_EQ(e.limits.npsLimit, 150000u);
  EXPECT_EQ(e.strengthLimited, 1);
  e.SetStrengthElo(2699);
  EXPECT_EQ(e.limits.npsLimit, 5960000u);
  EXPECT_EQ(e.strengthLimited, 1);
  e.SetStrengthElo(2050);
  EXPECT_EQ(e.limits.npsLimit, 200000u);
  e.SetStrengthElo(2650);
  EXPECT_EQ(e.limits.npsLimit, 4000000u);
  e.SetStrengthElo(2600);
  EXPECT_EQ(e.limits.npsLimit, 2000000u);
  e.SetStrengthElo(1999);
  EXPECT_EQ(e.limits.npsLimit, 150000u);
  EXPECT_EQ(e.StrengthNpsLimit(), 150000u);
}

TEST(Poll, NodeLimitIsTestedAtEveryCall) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  e.limits.mode = ModeNodes;
  e.limits.nodeLimit = 500;
  e.mainContext.nodes = 499;
  EXPECT_TRUE(e.PollTimeAndInput());
  e.mainContext.nodes = 500;
  EXPECT_FALSE(e.PollTimeAndInput());
  EXPECT_EQ(e.stopReason, StopNormal);
  EXPECT_FALSE(e.PollTimeAndInput());  // stays stopped

  // Pondering tests no limit.
  e.stopReason = 0;
  e.pondering = 1;
  EXPECT_TRUE(e.PollTimeAndInput());
  e.limits.pollCounter = e.limits.pollPeriod - 1;
  e.useInputThread = 1;
  EXPECT_TRUE(e.PollTimeAndInput());
  EXPECT_EQ(e.limits.pollCounter, 0);
}

TEST(Poll, TimeIsTestedOncePerPeriod) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  e.useInputThread = 1;
  e.limits.mode = ModeMoveTime;
  e.limits.timeLimit = 0;  // already over
  e.limits.searchStart.Start();
  e.limits.pollCounter = 0;
  i32 calls = 1;
  while (e.PollTimeAndInput() && calls < 100000) ++calls;
  EXPECT_EQ(calls, e.limits.pollPeriod);
  EXPECT_EQ(e.stopReason, StopNormal);
  // Often enough for the slowest target (ARMv6, a few hundred thousand
  // nodes a second): every few milliseconds, well inside the 50 ms margin.
  EXPECT_LE(calls, 1000);

  // Fixed depth and infinite searches have no time limit.
  for (i32 mode : {ModeDepth, ModeInfinite}) {
    e.stopReason = 0;
    e.limits.mode = mode;
    e.limits.pollCounter = e.limits.pollPeriod - 1;
    EXPECT_TRUE(e.PollTimeAndInput());
  }
  // A generous limit is not reached.
  e.limits.mode = ModeClock;
  e.limits.timeLimit = 0xFFFFFFFFu;
  e.limits.pollCounter = e.limits.pollPeriod - 1;
  EXPECT_TRUE(e.PollTimeAndInput());
}

TEST(Poll, WaitingInputGoesToTheListener) {
  RecordingListener listener;
  auto engine = MakeEngine(&listener);
  Engine& e = *engine;
  e.limits.mode = ModeInfinite;
  const i32 savedStdin = dup(STDIN_FILENO);
  ASSERT_GE(savedStdin, 0);
  i32 fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(dup2(fds[0], STDIN_FILENO), STDIN_FILENO);

  // Nothing waiting.
  e.limits.pollCounter = e.limits.pollPeriod - 1;
  EXPECT_TRUE(e.PollTimeAndInput());
  EXPECT_EQ(listener.inputPolls, 0);

  ASSERT_EQ(write(fds[1], "stop\n", 5), 5);
  // Between periods standard input is not looked at.
  EXPECT_TRUE(e.PollTimeAndInput());
  EXPECT_EQ(listener.inputPolls, 0);
  // With an input thread it is never looked at.
  e.useInputThread = 1;
  e.limits.pollCounter = e.limits.pollPeriod - 1;
  EXPECT_TRUE(e.PollTimeAndInput());
  EXPECT_EQ(listener.inputPolls, 0);
  e.useInputThread = 0;
  e.limits.pollCounter = e.limits.pollPeriod - 1;
  EXPECT_TRUE(e.PollTimeAndInput());
  EXPECT_EQ(listener.inputPolls, 1);
  // After a line the next call looks again (this listener reads nothing, so
  // the line still waits), and once nothing waits the period holds again.
  EXPECT_TRUE(e.PollTimeAndInput());
  EXPECT_EQ(listener.inputPolls, 2);
  char line[8];
  ASSERT_EQ(read(fds[0], line, sizeof line), 5);
  EXPECT_TRUE(e.PollTimeAndInput());
  ASSERT_EQ(write(fds[1], "stop\n", 5), 5);
  EXPECT_TRUE(e.PollTimeAndInput());
  EXPECT_EQ(listener.inputPolls, 2);

  // A listener that takes nothing keeps the period though the line still
  // waits; so does the tools' listener with standard input at its end, which
  // is always ready: no tool looks at it at every node.
  listener.takesInput = false;
  e.limits.pollCounter = e.limits.pollPeriod - 1;
  EXPECT_TRUE(e.PollTimeAndInput());
  EXPECT_EQ(listener.inputPolls, 3);
  EXPECT_EQ(e.limits.pollCounter, 0);
  ConsoleListener tools;
  e.listener = &tools;
  close(fds[1]);
  ASSERT_EQ(read(fds[0], line, sizeof line), 5);
  e.limits.pollCounter = e.limits.pollPeriod - 1;
  EXPECT_TRUE(e.PollTimeAndInput());
  EXPECT_EQ(e.limits.pollCounter, 0);

  ASSERT_EQ(dup2(savedStdin, STDIN_FILENO), STDIN_FILENO);
  close(savedStdin);
  close(fds[0]);
}

TEST(Poll, NodesPerSecondCap) {
  auto engine = MakeEngine();
  Engine& e = *engine;
  SearchThread* t = e.pool.mainThread;
  // Without a cap the search never counts towards a sleep.
  e.limits.npsLimit = 0;
  t->npsCounter = 0;
  SetDepthLimit(e, 4);
  e.Think(0);
  EXPECT_EQ(t->npsCounter, 0);
  // With a cap the counter runs and is reset by each check.
  ASSERT_TRUE(e.SetFen(StartFen));
  e.limits.npsLimit = 1000000000ULL;
  e.Think(0);
  EXPECT_LE(t->npsCounter, 64);
  EXPECT_GT(e.mainContext.nodes, 64u);
  t->npsCounter = 70;
  t->LimitNodesPerSecond();
  EXPECT_EQ(t->npsCounter, 0);
}

}  // namespace
