#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "board_helpers.h"
#include "test_support.h"

namespace {

i32 See(const std::string& fen, const std::string& move) {
  const Board b = BoardFromFen(fen);
  return b.StaticExchange(GeneratedMoveByText(b, move));
}

TEST(StaticExchange, SimpleCapturesAndQuietMoves) {
  // Undefended rook taken by a knight.
  EXPECT_EQ(See("4k3/8/8/3r4/8/2N5/8/4K3 w - - 0 1", "Nc3xd5"), 500);
  // Quiet moves: to a safe square, to an attacked one, to an attacked one
  // that a pawn defends (knight for pawn).
  EXPECT_EQ(See("4k3/8/8/3p4/8/2N5/8/4K3 w - - 0 1", "Nc3-b5"), 0);
  EXPECT_EQ(See("4k3/8/8/3p4/8/2N5/8/4K3 w - - 0 1", "Nc3-e4"), -325);
  EXPECT_EQ(See("4k3/8/8/3p4/8/2N2P2/8/4K3 w - - 0 1", "Nc3-e4"), -225);
  // Queen takes a pawn defended by a pawn; pawn takes a knight defended by a pawn.
  EXPECT_EQ(See("4k3/2p5/3p4/8/8/8/3Q4/4K3 w - - 0 1", "Qd2xd6"), -875);
  EXPECT_EQ(See("4k3/8/2p5/3n4/4P3/8/8/4K3 w - - 0 1", "e4xd5"), 225);
  // Black to move uses the White pieces as recapturers.
  EXPECT_EQ(See("4k3/8/2q5/8/4P3/5P2/8/4K3 b - - 0 1", "Qc6xe4"), -875);
}

TEST(StaticExchange, XRaysBehindCapturers) {
  // The rear rook of a doubled pair joins once the front one has moved.
  EXPECT_EQ(See("3rk3/8/8/3p4/8/8/3R4/3RK3 w - - 0 1", "Rd2xd5"), 100);
  // ... and once the front one has recaptured: knight for pawn in the end.
  EXPECT_EQ(See("3rk3/3r4/8/3p4/8/2N5/8/3RK3 w - - 0 1", "Nc3xd5"), -225);
  // A queen behind the capturing pawn on the diagonal.
  EXPECT_EQ(See("3rk3/8/8/3n4/4P3/8/6Q1/4K3 w - - 0 1", "e4xd5"), 325);
  // A bishop behind a recapturing pawn on the diagonal.
  EXPECT_EQ(See("4k1b1/8/4p3/3n4/8/2N5/8/3RK3 w - - 0 1", "Nc3xd5"), 0);
  // A pawn push opens the file behind it for its own rook.
  EXPECT_EQ(See("7r/1P6/8/8/8/2k5/8/1R2K3 w - - 0 1", "b7-b8=N"), 0);
}

TEST(StaticExchange, EnPassantClearsTheCapturedPawnSquare) {
  // White's rook sees d6 through d5 once the pawn there is taken.
  EXPECT_EQ(See("3rk3/8/8/3pP3/8/8/8/3RK3 w - d6 0 1", "e5xd6e.p"), 100);
  // So does Black's.
  EXPECT_EQ(See("4k3/8/8/3pP3/8/8/3r4/4K3 w - d6 0 1", "e5xd6e.p"), 0);
  // Black capturing en passant: the captured pawn stood above the target,
  // and Black's rook behind it wins the last exchange.
  EXPECT_EQ(See("3rk3/8/8/8/3Pp3/8/8/3RK3 b - d3 0 1", "e4xd3e.p"), 100);
}

TEST(StaticExchange, KingCaptures) {
  EXPECT_EQ(See("4k3/8/8/b7/8/8/3r4/4K3 w - - 0 1", "Ke1xd2"), 500 - 5000);
  EXPECT_EQ(See("4k3/8/8/8/8/8/3r4/4K3 w - - 0 1", "Ke1xd2"), 500);
  // A king may not recapture onto a square the rear rook defends.
  EXPECT_EQ(See("3rk3/3r4/8/8/8/8/3P4/4K3 b - - 0 1", "Rd7xd2"), 100);
}

TEST(StaticExchange, PromotionsCountAsPawnMoves) {
  EXPECT_EQ(See("7r/1P6/8/8/8/2k5/8/4K3 w - - 0 1", "b7-b8=N"), -100);
  EXPECT_EQ(See("7r/1P6/8/8/8/2k5/8/4K3 w - - 0 1", "b7-b8=Q"), -100);
  EXPECT_EQ(See("7k/1P6/8/8/8/8/8/4K3 w - - 0 1", "b7-b8=Q"), 0);
}

// Over the positions of a test suite: no move wins more than its victim or
// loses more than its moving piece.
TEST(StaticExchange, BoundsOverSuitePositions) {
  std::ifstream in(TestDataPath("wac.epd"));
  ASSERT_TRUE(in.good());
  std::string line;
  i32 positions = 0;
  while (std::getline(in, line)) {
    const Board b = BoardFromFen(line);
    ScoredMove list[MaxMoves];
    const i32 n = b.InCheck() ? GenerateEvasions(b, list) : GenerateMoves(b, list, false);
    for (i32 i = 0; i < n; ++i) {
      const Move m = list[i].move;
      if (IsCastling(m)) continue;
      const i32 see = b.StaticExchange(m);
      const i32 victim = SeeValue[CapturedPiece(m)];
      ASSERT_LE(see, victim) << line << " " << MoveText(m);
      ASSERT_GE(see, victim - SeeValue[MovingPiece(m)]) << line << " " << MoveText(m);
    }
    ++positions;
  }
  EXPECT_GT(positions, 250);
}

}  // namespace
