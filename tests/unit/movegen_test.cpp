#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "board_helpers.h"
#include "test_support.h"

namespace {

using Texts = std::vector<std::string>;

class MoveGen : public ::testing::Test {
 protected:
  void SetUp() override { InitAttackTables(); }
};

TEST_F(MoveGen, StartPositionOrder) {
  const Board b = BoardFromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_TRUE(Generated(b, GenerateCaptures).empty());
  const Texts expected = {"Nb1-a3", "Nb1-c3", "Ng1-f3", "Ng1-h3", "a2-a3", "b2-b3", "c2-c3",
                          "d2-d3",  "e2-e3",  "f2-f3",  "g2-g3",  "h2-h3", "a2-a4", "b2-b4",
                          "c2-c4",  "d2-d4",  "e2-e4",  "f2-f4",  "g2-g4", "h2-h4"};
  EXPECT_EQ(MoveTexts(Generated(b, GenerateQuiets)), expected);
  for (const Move m : Generated(b, GenerateQuiets))
    EXPECT_EQ(IsDoublePush(m), RankOf(ToSquare(m)) == 3);
}

TEST_F(MoveGen, CaptureOrderAndPromotions) {
  // Pieces in type order, pawn captures by direction, en passant, then
  // capture-promotions and push-promotions (queen, rook, knight, bishop).
  const Board b = BoardFromFen("1n1nk3/2P5/8/3pP1p1/4n2P/7b/8/4K2R w K d6 0 1");
  const Texts expected = {"Rh1xh3",  "h4xg5",   "e5xd6e.p", "c7xb8=Q", "c7xb8=R",
                          "c7xb8=N", "c7xb8=B", "c7xd8=Q",  "c7xd8=R", "c7xd8=N",
                          "c7xd8=B", "c7-c8=Q", "c7-c8=R",  "c7-c8=N", "c7-c8=B"};
  EXPECT_EQ(MoveTexts(Generated(b, GenerateCaptures)), expected);
  for (const Move m : Generated(b, GenerateQuiets)) EXPECT_EQ(PromotionPiece(m), NoPiece);
}

TEST_F(MoveGen, SeventhRankPawnBetweenTwoVictims) {
  const Board b = BoardFromFen("1r1rk3/2P5/8/8/8/8/8/4K3 w - - 0 1");
  const Texts expected = {"c7xb8=Q", "c7xb8=R", "c7xb8=N", "c7xb8=B", "c7xd8=Q", "c7xd8=R",
                          "c7xd8=N", "c7xd8=B", "c7-c8=Q", "c7-c8=R", "c7-c8=N", "c7-c8=B"};
  EXPECT_EQ(MoveTexts(Generated(b, GenerateCaptures)), expected);
  for (const Move m : Generated(b, GenerateQuiets)) EXPECT_NE(MovingPiece(m), Pawn);
  // Black pawns: first towards the h-file, then towards the a-file.
  const Board black = BoardFromFen("4k3/8/8/8/8/8/6p1/4KN1N b - - 0 1");
  const Texts blackExpected = {"g2xh1=Q", "g2xh1=R", "g2xh1=N", "g2xh1=B", "g2xf1=Q",
                               "g2xf1=R", "g2xf1=N", "g2xf1=B", "g2-g1=Q", "g2-g1=R",
                               "g2-g1=N", "g2-g1=B"};
  EXPECT_EQ(MoveTexts(Generated(black, GenerateCaptures)), blackExpected);
}

TEST_F(MoveGen, EnPassantOnlyWhileThePushedPawnStands) {
  Board b = BoardFromFen("4k3/8/8/2PpP3/8/8/8/4K3 w - d6 0 1");
  EXPECT_EQ(MoveTexts(Generated(b, GenerateCaptures)), (Texts{"c5xd6e.p", "e5xd6e.p"}));
  // The file set, but no pawn beside the target: nothing.
  b = BoardFromFen("4k3/8/8/2P1P3/8/8/8/4K3 w - d6 0 1");
  EXPECT_TRUE(Generated(b, GenerateCaptures).empty());
  // Another piece on the pushed pawn's square: nothing either.
  b = BoardFromFen("4k3/8/8/2PnP3/8/8/8/4K3 w - d6 0 1");
  EXPECT_EQ(MoveTexts(Generated(b, GenerateCaptures)), Texts{});
  // In check only when the pushed pawn is the checker, or when the capture
  // lands between the king and a checking slider.
  b = BoardFromFen("8/8/8/2k5/3Pp3/8/8/4K3 b - d3 0 1");
  ASSERT_TRUE(b.InCheck());
  const Texts evasions = MoveTexts(Generated(b, GenerateEvasions));
  EXPECT_NE(std::find(evasions.begin(), evasions.end(), "e4xd3e.p"), evasions.end());
  b = BoardFromFen("8/8/8/8/k2Pp3/8/8/3QK3 b - d3 0 1");  // checked by the queen
  ASSERT_TRUE(b.InCheck());
  for (const Move m : Generated(b, GenerateEvasions)) EXPECT_FALSE(IsEnPassant(m));
  b = BoardFromFen("8/8/8/1k6/3Pp3/8/8/4KQ2 b - d3 0 1");  // the queen checks across d3
  ASSERT_TRUE(b.InCheck());
  const Texts blocks = MoveTexts(Generated(b, GenerateEvasions));
  EXPECT_NE(std::find(blocks.begin(), blocks.end(), "e4xd3e.p"), blocks.end());
}

TEST_F(MoveGen, DoubleCheckGivesKingMovesOnly) {
  const Board b = BoardFromFen("4k3/8/8/8/8/5n2/8/r3K2R w K - 0 1");  // knight f3 and rook a1
  ASSERT_TRUE(b.InCheck());
  const std::vector<Move> moves = Generated(b, GenerateEvasions);
  ASSERT_FALSE(moves.empty());
  for (const Move m : moves) EXPECT_EQ(MovingPiece(m), King) << MoveText(m);
  // f1 lies on the checking rook's line: not offered.
  EXPECT_EQ(MoveTexts(moves), (Texts{"Ke1-e2", "Ke1-f2"}));
}

TEST_F(MoveGen, SingleCheckEvasionOrder) {
  // King moves, then pieces to the line, then pawn moves onto it.
  const Board b = BoardFromFen("4k3/8/8/q7/8/8/1PP1N3/2B1K1R1 w - - 0 1");
  ASSERT_TRUE(b.InCheck());
  const Texts expected = {"Ke1-d1", "Ke1-f1", "Ke1-f2", "Ne2-c3", "Bc1-d2", "c2-c3", "b2-b4"};
  EXPECT_EQ(MoveTexts(Generated(b, GenerateEvasions)), expected);
}

TEST_F(MoveGen, CastlingConditions) {
  auto castles = [](const char* fen) {
    Texts out;
    for (const Move m : Generated(BoardFromFen(fen), GenerateQuiets))
      if (IsCastling(m)) out.push_back(MoveText(m));
    return out;
  };
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1"), (Texts{"O-O", "O-O-O"}));
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1"), (Texts{"O-O", "O-O-O"}));
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1"), Texts{"O-O-O"});
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/4r3/R3K2R w KQkq - 0 1"), Texts{});        // in check
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/5r2/R3K2R w KQkq - 0 1"), Texts{"O-O-O"});  // f1 attacked
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/1r6/R3K2R w KQkq - 0 1"), (Texts{"O-O", "O-O-O"}));
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/8/R2QK1NR w KQkq - 0 1"), Texts{});
  // Chess960: the move goes onto the rook's square.
  const Board b = BoardFromFen("1r3kr1/pppppppp/8/8/8/8/PPPPPPPP/1R3KR1 w GBgb - 0 1");
  std::vector<Move> castlings;
  for (const Move m : Generated(b, GenerateQuiets))
    if (IsCastling(m)) castlings.push_back(m);
  ASSERT_EQ(castlings.size(), 2u);
  EXPECT_EQ(ToSquare(castlings[0]), S("g1"));
  EXPECT_EQ(ToSquare(castlings[1]), S("b1"));
  EXPECT_EQ(FromSquare(castlings[0]), S("f1"));
}

// Over random games: captures then quiets is what GenerateMoves gives out
// of check, and in check the evasions keep exactly the legal moves of the
// full list, the king moves among them all legal.
TEST_F(MoveGen, GeneratorsAgreeOverRandomGames) {
  const char* fens[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "2nnrbkr/p1qppppp/8/1ppb4/6PP/3PP3/PPP2P2/BQNNRBKR w HEhe - 1 9",
  };
  std::mt19937 rng(7);
  i32 checks = 0;
  for (const char* fen : fens) {
    Board b = BoardFromFen(fen);
    for (i32 ply = 0, length = 0; ply < ForTarget(4000, 1500); ++ply) {
      ScoredMove list[MaxMoves];
      const std::vector<Move> captures = Generated(b, GenerateCaptures);
      const std::vector<Move> quiets = Generated(b, GenerateQuiets);
      const i32 n = GenerateMoves(b, list, false);
      ASSERT_EQ(static_cast<size_t>(n), captures.size() + quiets.size());
      for (i32 i = 0; i < n; ++i)
        ASSERT_EQ(list[i].move, i < static_cast<i32>(captures.size())
                                    ? captures[i]
                                    : quiets[i - captures.size()]);
      for (const Move m : captures)
        ASSERT_TRUE(CapturedPiece(m) != NoPiece || PromotionPiece(m) != NoPiece);
      for (const Move m : quiets)
        ASSERT_TRUE(CapturedPiece(m) == NoPiece && PromotionPiece(m) == NoPiece);

      const std::vector<Move> legal = LegalMoves(b);
      if (b.InCheck()) {
        ++checks;
        std::vector<Move> legalEvasions;
        for (const Move m : Generated(b, GenerateEvasions)) {
          if (MovingPiece(m) == King) {
            ASSERT_TRUE(IsLegalMove(b, m)) << MoveText(m);
          }
          if (IsLegalMove(b, m)) legalEvasions.push_back(m);
        }
        std::vector<Move> sortedLegal = legal;
        std::sort(sortedLegal.begin(), sortedLegal.end());
        std::sort(legalEvasions.begin(), legalEvasions.end());
        ASSERT_EQ(sortedLegal, legalEvasions);
        ASSERT_EQ(GenerateMoves(b, list, true), static_cast<i32>(Generated(b, GenerateEvasions).size()));
      }
      if (legal.empty() || ++length > 200) {
        b = BoardFromFen(fen);
        length = 0;
        continue;
      }
      UndoInfo undo;
      b.MakeMove(legal[rng() % legal.size()], undo);
    }
  }
  EXPECT_GT(checks, 10);
}

TEST_F(MoveGen, ListSizeCoversCrowdedPositions) {
  // The position with the most legal moves known (218) and a crowded one
  // with every promoted piece a game allows.
  Board b = BoardFromFen("R6R/3Q4/1Q4Q1/4Q3/2Q4Q/Q4Q2/pp1Q4/kBNN1KB1 w - - 0 1");
  EXPECT_EQ(LegalMoves(b).size(), 218u);
  EXPECT_LT(AllMoves(b).size(), static_cast<size_t>(MaxMoves));
  b = BoardFromFen("3Q4/1Q4Q1/4Q3/2Q4R/Q4Q2/3Q4/1Q4Rp/1K1BBNNk w - - 0 1");
  EXPECT_EQ(LegalMoves(b).size(), 218u);
}

}  // namespace
