// The quiescence search: its own move generators checked against the
// general ones, draw rules, mate scores, stand pat and quiet checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "board/attacks.h"
#include "board/movegen.h"
#include "engine/search_internal.h"
#include "engine_helpers.h"

namespace {

bool LeavesKingSafe(Board& b, Move m) {
  UndoInfo undo;
  b.MakeMove(m, undo);
  const bool safe = !b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove);
  b.UnmakeMove(m, undo);
  return safe;
}

bool GivesCheck(Board& b, Move m) {
  UndoInfo undo;
  b.MakeMove(m, undo);
  const bool check = b.IsAttacked(b.kingSquare[b.sideToMove], b.opponent);
  b.UnmakeMove(m, undo);
  return check;
}

bool IsUnderPromotion(Move m) { return PromotionPiece(m) != NoPiece && PromotionPiece(m) != Queen; }

std::multiset<Move> AsSet(const ScoredMove* list, i32 count) {
  std::multiset<Move> s;
  for (i32 i = 0; i < count; ++i) s.insert(list[i].move);
  return s;
}

// Positions reached by random games from every perft position.
std::vector<std::string> WalkPositions(Engine& e, i32 gamesPerStart, i32 plies) {
  std::vector<std::string> fens;
  std::ifstream in(TestDataPath("perft.epd"));
  std::string line;
  u32 seed = 12345;
  while (std::getline(in, line)) {
    const std::string fen = line.substr(0, line.find(';'));
    for (i32 g = 0; g < gamesPerStart; ++g) {
      if (!e.SetFen(fen.c_str())) break;
      for (i32 p = 0; p < plies; ++p) {
        fens.push_back(GameFen(e));
        ScoredMove list[MaxMoves];
        std::vector<Move> legal;
        const i32 n = GenerateMoves(e.board, list, e.board.InCheck());
        for (i32 i = 0; i < n; ++i)
          if (LeavesKingSafe(e.board, list[i].move)) legal.push_back(list[i].move);
        if (legal.empty()) break;
        seed = seed * 1103515245u + 12345u;
        const Move m = legal[(seed >> 8) % legal.size()];
        UndoInfo undo;
        e.board.MakeMove(m, undo);
      }
    }
  }
  return fens;
}

class QuiescenceTest : public ::testing::Test {
 protected:
  void SetUp() override { engine = MakeEngine(); }
  void TearDown() override { drawScore = 0; }

  // A quiescence search of the game position at `ply`, as thread 0 of a search.
  i32 Quiesce(const char* fen, i32 alpha, i32 beta, i32 depth = 0, i32 ply = 2) {
    EXPECT_TRUE(engine->SetFen(fen));
    SearchContext& c = engine->mainContext;
    c.board = engine->board;
    c.board.owner = c.thread;
    c.nodes = 0;
    engine->rootSide = engine->board.sideToMove;
    engine->stopReason = 0;
    engine->limits.mode = ModeDepth;
    const u8 inCheck = c.board.InCheck() ? 1 : 0;
    return c.QuiesceWithPoll(c.board, alpha, beta, depth, ply, 1, inCheck);
  }

  std::unique_ptr<Engine> engine;
};

TEST_F(QuiescenceTest, GeneratorsAgreeWithTheGeneralOnes) {
  const std::vector<std::string> fens = WalkPositions(*engine, ForTarget(6, 2), ForTarget(80, 40));
  ASSERT_GT(fens.size(), 300u);
  i32 checks = 0, evasions = 0, discovered = 0;
  for (const std::string& fen : fens) {
    ASSERT_TRUE(engine->SetFen(fen.c_str()));
    Board& b = engine->board;
    ScoredMove ours[MaxMoves], general[MaxMoves];
    if (b.InCheck()) {
      ++evasions;
      // Every legal evasion but the under-promotions.
      const i32 n = GenerateQuiesceEvasions(b, ours);
      std::multiset<Move> mine, expected;
      for (i32 i = 0; i < n; ++i) {
        if (MovingPiece(ours[i].move) == King) {
          EXPECT_TRUE(LeavesKingSafe(b, ours[i].move)) << fen;
        }
        if (LeavesKingSafe(b, ours[i].move)) mine.insert(ours[i].move);
      }
      const i32 g = GenerateEvasions(b, general);
      for (i32 i = 0; i < g; ++i)
        if (!IsUnderPromotion(general[i].move) && LeavesKingSafe(b, general[i].move))
          expected.insert(general[i].move);
      EXPECT_EQ(mine, expected) << fen;
      continue;
    }
    // Captures and queen promotions, exactly once each.
    const i32 n = GenerateQuiesceCaptures(b, ours);
    const i32 g = GenerateCaptures(b, general);
    std::multiset<Move> expected;
    for (i32 i = 0; i < g; ++i)
      if (!IsUnderPromotion(general[i].move)) expected.insert(general[i].move);
    EXPECT_EQ(AsSet(ours, n), expected) << fen;

    // Quiet checks: every legal non-castling quiet move that gives check,
    // once (illegal ones may be generated; the search drops them).
    const i32 q = GenerateQuietChecks(b, ours);
    const i32 quiets = GenerateQuiets(b, general);
    std::multiset<Move> checking, legalChecks;
    for (i32 i = 0; i < quiets; ++i) {
      const Move m = general[i].move;
      if (!IsCastling(m) && LeavesKingSafe(b, m) && GivesCheck(b, m)) checking.insert(m);
    }
    for (i32 i = 0; i < q; ++i) {
      EXPECT_TRUE(GivesCheck(b, ours[i].move)) << fen;
      if (LeavesKingSafe(b, ours[i].move)) legalChecks.insert(ours[i].move);
    }
    std::set<Move> distinct;
    for (i32 i = 0; i < q; ++i) distinct.insert(ours[i].move);
    EXPECT_EQ(distinct.size(), static_cast<size_t>(q)) << fen;
    EXPECT_EQ(legalChecks, checking) << fen;
    checks += q;
    for (i32 i = 0; i < q; ++i) {
      const Move m = ours[i].move;
      const i32 type = MovingPiece(m);
      // A move that checks only by uncovering a line.
      Board after = b;
      UndoInfo undo;
      after.MakeMove(m, undo);
      const i32 k = after.kingSquare[after.sideToMove];
      const u64 direct = type == Knight ? KnightAttacks[ToSquare(m)]
                         : type == Pawn ? PawnAttacks[b.sideToMove][ToSquare(m)]
                         : type == Bishop ? BishopAttacks(ToSquare(m), after.occupied)
                         : type == Rook ? RookAttacks(ToSquare(m), after.occupied)
                         : type == Queen ? QueenAttacks(ToSquare(m), after.occupied)
                                         : 0;
      if (!(direct & (1ULL << k))) ++discovered;
    }
  }
  EXPECT_GT(checks, 100);
  EXPECT_GT(evasions, 20);
  EXPECT_GT(discovered, 0);
}

TEST_F(QuiescenceTest, InsufficientMaterialIsADrawEvenInCheck) {
  engine->rootSide = White;
  drawScore = 20;
  // King and bishop against king, White to move (the root side).
  EXPECT_EQ(Quiesce("8/8/8/8/8/2k5/8/K1B5 w - - 0 1", -1000, 1000), -20);
  // Black in check by the bishop: still a draw at once.
  EXPECT_EQ(Quiesce("8/8/8/8/8/2k5/8/K3B3 b - - 0 1", -1000, 1000), -20);
  // King and rook against king is not.
  EXPECT_GT(Quiesce("8/8/8/8/8/2k5/8/K3R3 w - - 0 1", -1000, 1000), 300);
}

TEST_F(QuiescenceTest, DrawValueSign) {
  drawScore = 20;
  // Insufficient material with Black to move while White started the search.
  ASSERT_TRUE(engine->SetFen("8/8/8/8/8/2k5/8/K1B5 b - - 0 1"));
  SearchContext& c = engine->mainContext;
  c.board = engine->board;
  engine->rootSide = White;
  EXPECT_EQ(c.QuiesceWithPoll(c.board, -1000, 1000, 0, 3, 0, 0), 20);
  c.board.sideToMove = White;
  c.board.opponent = Black;
  EXPECT_EQ(c.QuiesceWithPoll(c.board, -1000, 1000, 0, 3, 0, 0), -20);
}

TEST_F(QuiescenceTest, FiftyMovesDrawUnlessMated) {
  // Not in check: a draw despite the extra queen.
  EXPECT_EQ(Quiesce("4k3/8/4K3/8/8/8/8/Q7 b - - 100 80", -1000, 1000), 0);
  // Checkmated with the clock at 100: the mate counts.
  EXPECT_EQ(Quiesce("Q3k3/8/4K3/8/8/8/8/8 b - - 100 80", -32001, 32001, 0, 5), 5 - MateScore);
  // In check with a reply: a draw.
  EXPECT_EQ(Quiesce("Q6k/8/4K3/8/8/8/8/8 b - - 100 80", -32001, 32001), 0);
}

TEST_F(QuiescenceTest, MatedAtPlyFive) {
  EXPECT_EQ(Quiesce("R3k3/8/4K3/8/8/8/8/8 b - - 0 1", -32001, 32001, 0, 5), -31995);
  // Stalemate is not detected here: the stand-pat score comes back.
  const i32 stalemate = Quiesce("k7/2Q5/1K6/8/8/8/8/8 b - - 0 1", -32001, 32001);
  EXPECT_LT(stalemate, -500);
}

TEST_F(QuiescenceTest, RepetitionFourPliesBack) {
  ASSERT_TRUE(engine->SetFen("4k3/8/8/8/8/8/8/R3K3 w - - 4 30"));
  SearchContext& c = engine->mainContext;
  c.board = engine->board;
  c.board.owner = c.thread;
  engine->rootSide = White;
  drawScore = 50;
  const u64 key = c.board.key;
  c.keyCount = 4;
  c.keys[0] = key;  // four plies back
  c.keys[1] = c.keys[2] = c.keys[3] = 1;
  EXPECT_EQ(c.Quiesce(c.board, -1000, 1000, 0, 4, 0, 0), -50);
  c.board.halfmoveClock = 3;
  EXPECT_GT(c.Quiesce(c.board, -1000, 1000, 0, 4, 0, 0), 300);
  // Two plies back is not a repetition with the same side to move.
  c.board.halfmoveClock = 10;
  c.keys[0] = 1;
  c.keys[2] = key;
  EXPECT_GT(c.Quiesce(c.board, -1000, 1000, 0, 4, 0, 0), 300);
  c.keyCount = 0;
}

TEST_F(QuiescenceTest, StandPatAndLazyMaterial) {
  // No capture: the result is max(alpha, static score), or the static score
  // itself when it reaches beta.
  const char* quiet = "4k3/8/8/8/8/8/8/R3K3 w - - 0 1";
  const i32 eval = Quiesce(quiet, -32001, 32001, -1);
  EXPECT_GT(eval, 300);
  EXPECT_EQ(Quiesce(quiet, eval + 10, eval + 20, -1), eval + 10);
  EXPECT_EQ(Quiesce(quiet, eval - 20, eval - 10, -1), eval);
  EXPECT_EQ(engine->mainContext.nodes, 0u);
  // Far above beta the material balance answers.
  EXPECT_EQ(Quiesce(quiet, -32001, -400, -1), 500);
}

TEST_F(QuiescenceTest, QuietChecksOnlyAtTheFirstPly) {
  // Qg7 is mate but not a capture: found at depth 0, not at depth -1.
  const char* fen = "7k/8/5K2/8/8/8/8/6Q1 w - - 0 1";
  EXPECT_EQ(Quiesce(fen, -32001, 32001, 0, 2), MateScore - 3);
  EXPECT_GT(engine->mainContext.nodes, 0u);
  const i32 atMinusOne = Quiesce(fen, -32001, 32001, -1, 2);
  EXPECT_LT(atMinusOne, MateBound);
  EXPECT_EQ(engine->mainContext.nodes, 0u);
}

TEST_F(QuiescenceTest, LosingCapturesAreSkipped) {
  // Queen takes a defended pawn: the exchange test refuses it.
  const char* fen = "4k3/8/2p5/3p4/8/8/3Q4/4K3 w - - 0 1";
  const i32 score = Quiesce(fen, -32001, 32001, -1);
  EXPECT_EQ(engine->mainContext.nodes, 0u);
  EXPECT_GT(score, 500);
  // An undefended pawn is taken.
  Quiesce("4k3/8/8/3p4/8/8/3Q4/4K3 w - - 0 1", -32001, 32001, -1);
  EXPECT_GT(engine->mainContext.nodes, 0u);
}

TEST_F(QuiescenceTest, StopMakesEveryEntryReturnZero) {
  ASSERT_TRUE(engine->SetFen("4k3/8/8/3p4/8/8/3Q4/4K3 w - - 0 1"));
  SearchContext& c = engine->mainContext;
  c.board = engine->board;
  engine->stopReason = StopNormal;
  EXPECT_EQ(c.QuiesceWithPoll(c.board, -32001, 32001, 0, 2, 1, 0), 0);
  EXPECT_EQ(c.QuiescePly1(c.board, -32001, 32001, 0, 1, 0), 0);
  engine->stopReason = 0;
  // The ply limit scores a draw.
  drawScore = 0;
  EXPECT_EQ(c.QuiesceWithPoll(c.board, -32001, 32001, 0, 127, 1, 0), 0);
}

}  // namespace
