#include <gtest/gtest.h>

#include <set>

#include "board_helpers.h"

namespace {

class BoardSetup : public ::testing::Test {
 protected:
  void SetUp() override { InitAttackTables(); }
};

TEST_F(BoardSetup, StartPositionAgreesWithSetPosition) {
  Board a{};
  a.SetStartPosition();
  u64 expected = ZobristCastleKeys[15];
  for (i32 sq = 0; sq < 64; ++sq) {
    const i32 code = StartPosition[sq];
    if (code > 0) expected ^= ZobristPieceKeys[White][code][sq];
    if (code < 0) expected ^= ZobristPieceKeys[Black][-code][sq];
  }
  EXPECT_EQ(a.key, expected);
  EXPECT_EQ(a.material[White], 4075);
  EXPECT_EQ(a.material[Black], 4075);
  EXPECT_EQ(a.phase, 24);
  EXPECT_EQ(a.materialSignature, 0x0001222800012228ULL);
  EXPECT_TRUE(a.IsConsistent());

  Board b{};
  b.SetPosition(StartPosition, White, 15, 0, 0);
  EXPECT_TRUE(SameBoard(a, b));
}

TEST_F(BoardSetup, BuiltInTables) {
  EXPECT_EQ(startMaterial, 4075);
  EXPECT_EQ(PieceValue[Queen], 975);
  EXPECT_EQ(SeeValue[King], 5000);
  EXPECT_EQ(ZobristCastleKeys[0], 0u);
  EXPECT_EQ(ZobristCastleKeys[15], ZobristCastleKeys[1] ^ ZobristCastleKeys[2] ^
                                       ZobristCastleKeys[4] ^ ZobristCastleKeys[8]);
  EXPECT_EQ(ZobristCastleKeys[8], 0x686cfe3ea1889281ULL);
  EXPECT_EQ(ZobristEpKeys[4], 0x8c9a454af9e09984ULL);
  // The piece keys: zero rows for types 0 and 7, 768 distinct values.
  std::set<u64> keys;
  for (i32 c = 0; c < 2; ++c)
    for (i32 t = 0; t < 8; ++t)
      for (i32 sq = 0; sq < 64; ++sq) {
        if (t == 0 || t == 7)
          EXPECT_EQ(ZobristPieceKeys[c][t][sq], 0u);
        else
          keys.insert(ZobristPieceKeys[c][t][sq]);
      }
  EXPECT_EQ(keys.size(), 768u);
  EXPECT_EQ(keys.count(0), 0u);
  // Book files store keys made from these values: they never change.
  EXPECT_EQ(ZobristPieceKeys[Black][Pawn][0], 0x5099f9d7a9322a85ULL);
  Board b{};
  b.SetStartPosition();
  EXPECT_EQ(b.key, 0xdb6b5ccdc5444dedULL);
}

TEST_F(BoardSetup, SideToMoveChangesOnlyTheSideKey) {
  const Board w = BoardFromFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
  const Board b = BoardFromFen("4k3/8/8/8/8/8/4P3/4K3 b - - 0 1");
  EXPECT_EQ(w.key ^ b.key, ZobristSideKey);
  EXPECT_EQ(w.pawnKey, b.pawnKey);
  EXPECT_EQ(w.pawnKey, ZobristPieceKeys[White][Pawn][S("e2")]);
}

TEST_F(BoardSetup, CastlingRightsFollowThePlacement) {
  // King off its first rank: its rights go.
  EXPECT_EQ(BoardFromFen("r3k2r/8/8/8/8/8/4K3/R6R w KQkq - 0 1").castleRights, 12);
  // Short right without a rook right of the king.
  EXPECT_EQ(BoardFromFen("4k3/8/8/8/8/8/8/R3K3 w K - 0 1").castleRights, 0);
  // King on the h-file cannot castle short, on the a-file not long.
  EXPECT_EQ(BoardFromFen("4k3/8/8/8/8/8/8/6RK w K - 0 1").castleRights, 0);
  EXPECT_EQ(BoardFromFen("4k3/8/8/8/8/8/8/KR6 w Q - 0 1").castleRights, 0);
  // The start position's rights survive, and their rooks are the corners.
  const Board s = BoardFromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  EXPECT_EQ(s.castleRights, 15);
  EXPECT_EQ(s.castlePath[CastleLong][Black], Sq(S("b8")) | Sq(S("c8")) | Sq(S("d8")));
  EXPECT_EQ(s.castlePath[CastleShort][White], Sq(S("f1")) | Sq(S("g1")));
  // Without rights the king squares fall back to e1 and e8.
  const Board none = BoardFromFen("8/8/3k4/8/8/8/8/R1K4R w - - 0 1");
  EXPECT_EQ(none.castleKingSquare[White], S("e1"));
  EXPECT_EQ(none.castleKingSquare[Black], S("e8"));
  EXPECT_EQ(none.castlePath[CastleShort][White], 0u);
  EXPECT_EQ(none.castleRookSquare[CastleShort][White], 7);
}

TEST_F(BoardSetup, Chess960RookFinding) {
  Board b = BoardFromFen("1k6/8/8/8/8/8/8/RK5R w KQ - 0 1");
  EXPECT_EQ(b.castleRights, 3);
  EXPECT_EQ(b.castleRookSquare[CastleShort][White], 7);
  EXPECT_EQ(b.castleRookSquare[CastleLong][White], 0);
  EXPECT_EQ(b.castleKingSquare[White], 1);
  EXPECT_EQ(b.castlePath[CastleLong][White], Sq(S("c1")) | Sq(S("d1")));
  EXPECT_EQ(b.castlePath[CastleShort][White],
            Sq(S("c1")) | Sq(S("d1")) | Sq(S("e1")) | Sq(S("f1")) | Sq(S("g1")));
  // The rook nearest the corner is the castling rook.
  b = BoardFromFen("4k3/8/8/8/8/8/8/4KR1R w K - 0 1");
  EXPECT_EQ(b.castleRookSquare[CastleShort][White], S("h1"));
  b = BoardFromFen("rr2k3/8/8/8/8/8/8/4K3 b q - 0 1");
  EXPECT_EQ(b.castleRookSquare[CastleLong][Black], S("a8"));
  // King on g1 with the rook on h1: the path is only f1 for the rook.
  b = BoardFromFen("4k3/8/8/8/8/8/8/6KR w K - 0 1");
  EXPECT_EQ(b.castlePath[CastleShort][White], Sq(S("f1")));
  // Chess960 rook-file letters name the same rooks.
  b = BoardFromFen("bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9");
  EXPECT_EQ(b.castleRights, 15);
  EXPECT_EQ(b.castleKingSquare[White], S("g1"));
  EXPECT_EQ(b.castleRookSquare[CastleShort][White], S("h1"));
  EXPECT_EQ(b.castleRookSquare[CastleLong][Black], S("f8"));
  EXPECT_EQ(b.castlePath[CastleLong][Black], Sq(S("e8")) | Sq(S("d8")) | Sq(S("c8")));
  EXPECT_TRUE(b.IsConsistent());
}

TEST_F(BoardSetup, MaterialSignatureAndPhase) {
  Board b = BoardFromFen("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(b.materialSignature, 0u);
  EXPECT_EQ(b.phase, 0);
  b = BoardFromFen("4k3/8/8/8/8/8/8/3QK3 w - - 0 1");
  EXPECT_EQ(b.materialSignature, 0x1000000000000ULL);
  EXPECT_EQ(b.phaseBySide[White], 4);
  EXPECT_EQ(b.material[White], 975);
  b = BoardFromFen("4k1nr/7p/8/8/8/8/8/4K3 b - - 0 1");
  EXPECT_EQ(b.materialSignature, 0x1011ULL);
  EXPECT_EQ(b.phase, 3);
}

TEST_F(BoardSetup, BadSetterInputStaysInRange) {
  // Out-of-range codes leave squares empty; rights and file beyond their
  // ranges cannot index past the key tables.
  i8 codes[64] = {};
  codes[S("e1")] = 6;
  codes[S("e8")] = -6;
  codes[S("d4")] = 9;
  codes[S("d5")] = -7;
  Board b{};
  b.SetPosition(codes, White, 0xff, 200, 7);
  EXPECT_EQ(b.squares[S("d4")], 0);
  EXPECT_EQ(b.squares[S("d5")], 0);
  EXPECT_EQ(b.castleRights, 0);
  EXPECT_EQ(b.epFile, 0);
  EXPECT_EQ(b.halfmoveClock, 7);
  EXPECT_TRUE(b.IsConsistent());
}

TEST_F(BoardSetup, ConsistencyCheckCatchesDrift) {
  Board b{};
  b.SetStartPosition();
  ASSERT_TRUE(b.IsConsistent());
  Board c = b;
  c.key ^= 1;
  EXPECT_FALSE(c.IsConsistent());
  c = b;
  c.material[White] += 1;
  EXPECT_FALSE(c.IsConsistent());
  c = b;
  c.squares[S("e4")] = Pawn;
  EXPECT_FALSE(c.IsConsistent());
  c = b;
  c.pieces[White][Knight] |= Sq(S("e2"));
  EXPECT_FALSE(c.IsConsistent());
  c = b;
  c.castleRookSquare[CastleShort][White] = S("g1");
  EXPECT_FALSE(c.IsConsistent());
}

}  // namespace
