// The alpha-beta search through fixed-depth searches of the root driver:
// mates at their exact distance, draws by repetition, the fifty-move rule,
// material and stalemate, single-thread determinism with its pinned node
// count, and node-level rules tested on the search itself.
#include <gtest/gtest.h>

#include "board/movegen.h"
#include "engine/search_internal.h"
#include "engine_helpers.h"

namespace {

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override { engine = MakeEngine(&listener); }
  void TearDown() override { drawScore = 0; }

  // Searches the game position to a fixed depth; returns line 0's score.
  i32 SearchTo(i32 depth) {
    SetDepthLimit(*engine, depth);
    engine->Think(0);
    return engine->rootLines[0].score;
  }
  i32 SearchTo(const char* fen, i32 depth) {
    EXPECT_TRUE(engine->SetFen(fen)) << fen;
    return SearchTo(depth);
  }

  // Prepares thread 0's context for calling the search on the game position.
  SearchContext& ContextAt(const char* fen) {
    EXPECT_TRUE(engine->SetFen(fen)) << fen;
    SearchContext& c = engine->mainContext;
    c.board = engine->board;
    c.board.owner = c.thread;
    c.keyCount = 0;
    engine->rootSide = engine->board.sideToMove;
    engine->stopReason = 0;
    engine->limits.mode = ModeDepth;
    return c;
  }

  RecordingListener listener;
  std::unique_ptr<Engine> engine;
};

// Each position was checked to be a mate in exactly this many moves by an
// exhaustive search of all replies.
struct MateCase {
  const char* fen;
  i32 moves;
};
const MateCase MateCases[] = {
    {"6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", 1},
    {"2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - - 0 1", 2},
    {"5k2/6pp/p1qN4/1p1p4/3P4/2PKP2Q/PP3r2/3R4 b - - 0 1", 2},
    {"k4r2/1R4pb/1pQp1n1p/3P4/5p1P/3P2P1/r1q1R2K/8 w - - 0 1", 3},
    {"r3r2k/2R3pp/pp1q1p2/8/3P3R/7P/PP3PP1/3Q2K1 w - - 0 1", 4},
};

TEST_F(SearchTest, MatesAtTheirExactDistance) {
  for (const MateCase& m : MateCases) {
    const i32 plies = 2 * m.moves - 1;
    EXPECT_EQ(SearchTo(m.fen, plies + 1), MateScore - plies) << m.fen;
    ASSERT_GE(engine->rootLines[0].pvLength, 1);
    if (m.moves == 1) continue;
    // After the first move of the mate, the side to move is mated.
    ASSERT_TRUE(engine->SetFen(m.fen));
    UndoInfo undo;
    engine->board.MakeMove(engine->rootLines[0].pv[0], undo);
    char fen[128];
    engine->BoardToFen(engine->board, fen);
    EXPECT_EQ(SearchTo(fen, plies), plies - 1 - MateScore) << fen;
  }
}

TEST_F(SearchTest, RepetitionInTheGameRecord) {
  // Black, who started the search, is offered a draw worth 500 to it: going
  // back to g8 repeats the position of four plies ago.
  drawScore = -500;
  engine->NewGame();
  ASSERT_TRUE(engine->PlayMoveList("g1f3 g8f6 f3g1 f6g8 g1f3 g8f6 f3g1"));
  EXPECT_EQ(SearchTo(3), 500);
  EXPECT_EQ(CoordinateText(engine->bestMove), "f6g8");
  // The same position without its history holds no repetition.
  ASSERT_TRUE(engine->SetFen("rnbqkb1r/pppppppp/5n2/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 7 4"));
  EXPECT_LT(SearchTo(3), 100);
}

TEST_F(SearchTest, RepetitionInsideTheSearch) {
  // Down a queen and a rook, White draws by perpetual check: Qe8+ Kh7 Qh5+
  // Kg8 Qe8+ repeats.
  EXPECT_EQ(SearchTo("6k1/3Q2p1/8/8/8/7K/1r6/q7 w - - 0 1", ForTarget(8, 5)), 0);
  EXPECT_EQ(CoordinateText(engine->bestMove), "d7e8");
  drawScore = 30;  // the side that started the search pays for the draw
  engine->tt.Clear();
  EXPECT_EQ(SearchTo("6k1/3Q2p1/8/8/8/7K/1r6/q7 w - - 0 1", ForTarget(8, 5)), -30);
}

TEST_F(SearchTest, FiftyMoveRule) {
  // Every quiet move reaches the hundredth ply without a capture or a pawn
  // move: a queen up is only a draw.
  EXPECT_EQ(SearchTo("8/8/8/3k4/8/8/8/KQ6 w - - 99 120", 4), 0);
  // A checkmate on the hundredth ply is still a mate.
  EXPECT_EQ(SearchTo("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 99 120", 2), MateScore - 1);
  // The clock already at 100 at the root: every reply is a draw.
  EXPECT_EQ(SearchTo("8/8/8/3k4/8/8/8/KQ6 w - - 100 120", 3), 0);
}

TEST_F(SearchTest, InsufficientMaterialAndStalemate) {
  EXPECT_EQ(SearchTo("8/8/3k4/8/8/8/8/KB6 w - - 0 1", 6), 0);
  EXPECT_EQ(SearchTo("8/8/3k4/8/8/8/8/KN6 b - - 0 1", 6), 0);
  // Two knights are searched, not scored as a draw at once.
  SearchTo("8/8/3k4/8/8/8/8/KNN5 w - - 0 1", 4);
  EXPECT_GT(engine->mainContext.nodes, 100u);
  // King and rook win.
  EXPECT_GT(SearchTo("8/8/3k4/8/8/8/8/KR6 w - - 0 1", 6), 300);
  // Stalemating the lone king throws the win away: the queen keeps it.
  EXPECT_GT(SearchTo("k7/8/1K6/2Q5/8/8/8/8 w - - 0 1", 4), 500);
  EXPECT_NE(CoordinateText(engine->bestMove), "c5c7");
}

TEST_F(SearchTest, StalemateAndMateAtTheRoot) {
  listener.reports.clear();
  SearchTo("k7/2Q5/1K6/8/8/8/8/8 b - - 0 1", 4);
  EXPECT_EQ(engine->bestMove, 0u);
  ASSERT_EQ(listener.Count("done"), 1);
  EXPECT_EQ(listener.Of("done")[0].score, StopNormal);
  EXPECT_EQ(listener.Count("pv"), 0);
  EXPECT_TRUE(engine->gameHistory.empty());
  listener.reports.clear();
  SearchTo("R3k3/8/4K3/8/8/8/8/8 b - - 0 1", 4);
  EXPECT_EQ(engine->bestMove, 0u);
  EXPECT_EQ(listener.Count("done"), 1);
}

// A fixed-depth single-thread search is a signature of the search: the same
// node count and best move on every run and every target.
TEST_F(SearchTest, FixedDepthSearchIsDeterministic) {
  const char* fens[] = {
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R w KQ - 0 8",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
  };
  u64 total = 0;
  std::vector<Move> bests;
  for (i32 run = 0; run < 2; ++run) {
    u64 sum = 0;
    for (size_t i = 0; i < 3; ++i) {
      engine->NewGame();
      SearchTo(fens[i], 7);
      sum += engine->mainContext.nodes;
      if (run == 0) {
        bests.push_back(engine->bestMove);
      } else {
        EXPECT_EQ(engine->bestMove, bests[i]) << fens[i];
      }
    }
    if (run == 0) total = sum;
    EXPECT_EQ(sum, total);
  }
  EXPECT_EQ(total, 250106u);
}

TEST_F(SearchTest, MateDistanceBoundsTheWindow) {
  SearchContext& c = ContextAt("r1bqkbnr/pppppppp/2n5/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  // At ply 5 nothing better than mate in 5 plies is possible: a window
  // above it is empty and alpha comes back at once.
  EXPECT_EQ(c.Search(c.board, 31995, 32000, 8, 5, 1, 0, 0), 31995);
  EXPECT_EQ(c.nodes, 0u);
  // Below -31995 alpha is raised.
  EXPECT_EQ(c.Search(c.board, -32000, -31995, 8, 5, 1, 0, 0), -31995);
}

TEST_F(SearchTest, PlyLimitAndStop) {
  drawScore = 7;
  SearchContext& c = ContextAt("r1bqkbnr/pppppppp/2n5/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  engine->rootSide = Black;
  EXPECT_EQ(c.Search(c.board, -100, 100, 8, 127, 1, 0, 0), 7);
  EXPECT_EQ(c.nodes, 0u);
  engine->stopReason = StopNormal;
  EXPECT_EQ(c.Search(c.board, -100, 100, 8, 3, 1, 0, 0), 0);
  EXPECT_EQ(c.SearchPly1(c.board, -100, 100, 8, 1, 0), 0);
  engine->stopReason = 0;
}

TEST_F(SearchTest, RepetitionRuleOnTheNode) {
  SearchContext& c = ContextAt("4k3/8/8/8/8/8/8/R3K3 w - - 6 30");
  drawScore = 11;
  engine->rootSide = White;
  c.keys[0] = c.board.key;  // the position four plies back
  c.keys[1] = c.keys[2] = c.keys[3] = 5;
  c.keyCount = 4;
  EXPECT_EQ(c.Search(c.board, -1000, 1000, 8, 4, 1, 1, 0), -11);
  c.board.halfmoveClock = 3;
  EXPECT_GT(c.Search(c.board, -1000, 1000, 8, 4, 1, 1, 0), 300);
  c.keyCount = 0;
}

TEST_F(SearchTest, QuietCutoffsUpdateKillersAndCappedHistory) {
  SearchContext& c = ContextAt("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  const Move m = EncodeMove(0, 8, Rook);
  const Move other = EncodeMove(4, 12, King);
  c.killers[6][0] = other;
  UpdateQuietCutoff(c, c.board, m, 6, 4);
  EXPECT_EQ(c.killers[6][0], m);
  EXPECT_EQ(c.killers[6][1], other);
  EXPECT_EQ(c.history[White][Rook][8], 16);
  UpdateQuietCutoff(c, c.board, m, 6, 4);  // the first killer again: no shift
  EXPECT_EQ(c.killers[6][1], other);
  c.history[White][Rook][8] = 9990;
  UpdateQuietCutoff(c, c.board, m, 6, 4);
  EXPECT_EQ(c.history[White][Rook][8], 9990);
  c.history[White][Rook][8] = 9983;
  UpdateQuietCutoff(c, c.board, m, 6, 4);
  EXPECT_EQ(c.history[White][Rook][8], 9999);
}

TEST_F(SearchTest, PruningSwitchesKeepTheResult) {
  // A mate is a mate with or without null moves and reductions.
  const MateCase& m = MateCases[3];
  engine->limits.nullMovePruning = 0;
  engine->limits.lateMoveReductions = 0;
  EXPECT_EQ(SearchTo(m.fen, 6), MateScore - 5);
  const u64 plain = engine->mainContext.nodes;
  engine->limits.nullMovePruning = 1;
  engine->limits.lateMoveReductions = 1;
  EXPECT_EQ(SearchTo(m.fen, 6), MateScore - 5);
  EXPECT_NE(engine->mainContext.nodes, plain);
}

}  // namespace
